/*
 * Rescan and Proceed on the virtual bus: the commands that reach the devices. Each test writes
 * the bus's INI file into a folder of its own, with a request trace that shows which device
 * each transfer touched.
 */
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include "aspi.h"
#include "bus_scan.h"
#include "form_fixture.h"
#include "main_form.h"
#include "message_box_watch.h"
#include "resource_ids.h"

namespace {

class BusTest : public MainFormTest {
protected:
    void SetUp() override
    {
        MainFormTest::SetUp();
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder = std::string(temp) + "kestrova-mainform-bus\\";
        CreateDirectoryA(folder.c_str(), nullptr);
        tracePath = folder + "trace.txt";
        }
    void TearDown() override
    {
        unbind();
        SetEnvironmentVariableA("VBUS_CONFIG", nullptr);
        MainFormTest::TearDown();
    }

    /* Points the library at a bus of these device sections and (re)binds it. */
    void bindBus(const std::string &devices, const char *name)
    {
        const std::string ini = folder + name;
        std::ofstream(ini) << "[bus]\ntrace = " << tracePath << "\n[adapter 0]\nidentifier = ALPHA\n"
                           << "[adapter 1]\nidentifier = BETA\n" << devices;
        unbind();
        SetEnvironmentVariableA("VBUS_CONFIG", ini.c_str());
        ASSERT_EQ(bindAspi(form), 1) << ini;
        ASSERT_EQ(appState.adapterCount, 2);
    }
    static void unbind()
    {
        if (appState.aspiLibrary)
            FreeLibrary(appState.aspiLibrary);
        appState.aspiLibrary = nullptr;
    }
    /* The requests traced since the last call (the library keeps the trace file open). */
    std::string newRequests()
    {
        std::string all = readFile(tracePath);
        std::string fresh = all.substr(std::min(traceSeen, all.size()));
        traceSeen = all.size();
        return fresh;
    }

    std::string folder;
    std::string tracePath;
    size_t traceSeen = 0;
};

const char kTwoDisks[] =
    "[device 0:0]\nproduct = SOURCE\nsectors = 2000\n"
    "[device 0:1]\nproduct = SECOND\nsectors = 5000\n"
    "[device 1:0]\nproduct = TARGET\nsectors = 1000\n";

}  // namespace

TEST_F(BusTest, RescanKeepsTheSelectionsAndReValidatesTheSize)
{
    MessageBoxWatch boxes;
    bindBus(kTwoDisks, "first.ini");
    scanBus(form);
    appState.sourceAdapter = 0;
    appState.sourceDevice = 1;
    appState.targetAdapter = 1;
    appState.targetDevice = 0;
    appState.transferSectors = 4000;
    refresh();
    ASSERT_EQ(appState.transferSectors, 4000);
    ASSERT_NE(item(IDC_MAIN_SOURCE_DEVICE, 1).find("SECOND"), std::string::npos) << item(IDC_MAIN_SOURCE_DEVICE, 1);

    /* The second disk now has 3000 sectors. */
    bindBus("[device 0:0]\nproduct = SOURCE\nsectors = 2000\n"
            "[device 0:1]\nproduct = SMALLER\nsectors = 3000\n"
            "[device 1:0]\nproduct = TARGET\nsectors = 1000\n", "second.ini");
    paints = 0;
    click(IDC_MAIN_RESCAN);
    EXPECT_GE(paints, 1);
    EXPECT_EQ(appState.sourceAdapter, 0);
    EXPECT_EQ(appState.sourceDevice, 1);
    EXPECT_EQ(appState.targetAdapter, 1);
    EXPECT_EQ(appState.targetDevice, 0);
    EXPECT_EQ(appState.mode, TransferMode::DiskToFile);
    EXPECT_EQ(appState.transferSectors, 3000);
    EXPECT_EQ(text(IDC_MAIN_SIZE), "3000");
    EXPECT_TRUE(checked(IDC_MAIN_SELECT_ALL));
    EXPECT_EQ(selection(IDC_MAIN_SOURCE_DEVICE), 1);
    EXPECT_NE(item(IDC_MAIN_SOURCE_DEVICE, 1).find("SMALLER"), std::string::npos) << item(IDC_MAIN_SOURCE_DEVICE, 1);
    EXPECT_NE(text(IDC_MAIN_SOURCE_INFO).find("3000 sect."), std::string::npos);

    /* Gone: the entry reads "none" with no sectors; Ctrl+S rescans the same way. */
    bindBus("[device 0:0]\nproduct = SOURCE\nsectors = 2000\n"
            "[device 1:0]\nproduct = TARGET\nsectors = 1000\n", "third.ini");
    command(IDM_SCAN_BUS, 1);
    EXPECT_EQ(appState.sourceDevice, 1);
    EXPECT_EQ(appState.transferSectors, 0);
    EXPECT_EQ(item(IDC_MAIN_SOURCE_DEVICE, 1), "1: none");
    EXPECT_TRUE(boxes.boxes().empty()) << describe(boxes.boxes().front());
}

/* Proceed starts the transfer of the mode, on the devices the selections pick. */
TEST_F(BusTest, ProceedStartsTheTransferOfTheMode)
{
    MessageBoxWatch boxes;
    bindBus(kTwoDisks, "proceed.ini");
    scanBus(form);
    const std::string image = folder + "copy.iso";
    DeleteFileA(image.c_str());
    std::snprintf(appState.imagePath, kPathBufferSize, "%s", image.c_str());
    appState.targetAdapter = 1;
    newRequests();

    /* Disk to file: the 2000 sectors of 0:0 into the image. */
    refresh();
    click(IDC_MAIN_SELECT_ALL);
    ASSERT_EQ(appState.transferSectors, 2000);
    click(IDC_MAIN_PROCEED);
    EXPECT_EQ(GetFocus(), form);
    EXPECT_EQ(readFile(image).size(), 2000u * 512);
    std::string requests = newRequests();
    EXPECT_NE(requests.find("EXEC ha=0 target=0 lun=0 flags=08 cdb=28"), std::string::npos) << requests;
    EXPECT_EQ(requests.find("cdb=2A"), std::string::npos) << "nothing was written to a device";

    /* File to disk: the image onto 1:0, which takes 1000 sectors (Ctrl+P). */
    click(IDC_MAIN_FILE_TO_DISK);
    ASSERT_EQ(appState.transferSectors, 1000);
    boxes.answer(IDOK);   /* "File is bigger than device." */
    command(IDM_PROCEED, 1);
    requests = newRequests();
    EXPECT_NE(requests.find("EXEC ha=1 target=0 lun=0 flags=10 cdb=2A"), std::string::npos) << requests;
    EXPECT_EQ(requests.find("cdb=28"), std::string::npos) << "no device was read";

    /* Disk to disk: 0:0 onto 1:0, bounded by the smaller target. */
    click(IDC_MAIN_DISK_TO_DISK);
    ASSERT_EQ(appState.transferSectors, 1000);
    click(IDC_MAIN_PROCEED);
    requests = newRequests();
    EXPECT_NE(requests.find("EXEC ha=0 target=0 lun=0 flags=08 cdb=28"), std::string::npos) << requests;
    EXPECT_NE(requests.find("EXEC ha=1 target=0 lun=0 flags=10 cdb=2A"), std::string::npos) << requests;
    EXPECT_EQ(GetFocus(), form);

    /* The only question: the 2000-sector image onto the 1000-sector disk. */
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "File is bigger than device.");
}
