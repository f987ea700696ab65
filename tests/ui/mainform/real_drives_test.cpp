/*
 * Journeys with drives that answer as real ones do, on the virtual bus: a unit attention after
 * power-on, a cartridge swapped while the program runs, a drive spinning up, a stopped drive and
 * the option that starts it, a reset or a medium change met by a backup, and a device larger than
 * the program can count. Each starts as the program does (binding, scan, refresh) and goes on
 * through the form's own commands. A journey whose failure would end the process runs in a child.
 */
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include "archive_options.h"
#include "aspi.h"
#include "bus_scan.h"
#include "child_process.h"
#include "form_fixture.h"
#include "main_form.h"
#include "message_box_watch.h"
#include "resource_ids.h"
#include "settings_support.h"

namespace {

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

/* Bytes that differ from sector to sector, so that a shifted or repeated chunk shows. */
std::string diskBytes(int sectors, uint32_t seed)
{
    std::string bytes(size_t(sectors) * 512, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char &c : bytes) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    return bytes;
}

class RealDrives : public MainFormTest {
protected:
    void SetUp() override
    {
        MainFormTest::SetUp();
        appState.archive = ArchiveOptions();
        char temp[MAX_PATH], given[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        if (GetEnvironmentVariableA("KESTROVA_DRIVES_FOLDER", given, sizeof given))
            folder = given;   /* a child works in its parent's folder */
        else
            folder = std::string(temp) + "kestrova-real-drives-" + std::to_string(GetCurrentProcessId()) + "-" +
                     testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    void TearDown() override
    {
        if (appState.aspiLibrary)
            FreeLibrary(appState.aspiLibrary);
        appState.aspiLibrary = nullptr;
        SetEnvironmentVariableA("VBUS_CONFIG", nullptr);
        appState.archive = ArchiveOptions();
        MainFormTest::TearDown();
        if (std::getenv("KESTROVA_DRIVES_FOLDER"))
            return;   /* the parent looks at what the child left */
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(path("*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do
                DeleteFileA(path(found.cFileName).c_str());
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(folder.c_str());
    }

    std::string path(const std::string &name) const { return folder + "\\" + name; }

    void writeBus(const std::string &devices)
    {
        writeFile(path("vbus.ini"), "[bus]\ntrace = " + path("trace.txt") + "\n[adapter 0]\nidentifier = ALPHA\n" +
                                        devices);
    }

    /* What the form's creation does: the binding and the scan, then the first refresh. */
    void startOn(const std::string &devices)
    {
        writeBus(devices);
        SetEnvironmentVariableA("VBUS_CONFIG", path("vbus.ini").c_str());
        ASSERT_EQ(bindAspi(form), 1);
        scanBus(form);
        refresh();
    }

    /* The bus changes under the running program (a cartridge swapped): the library reads its
       configuration again at GetASPI32SupportInfo. */
    void changeBus(const std::string &devices)
    {
        writeBus(devices);
        using SupportInfo = DWORD(__cdecl *)(void);
        FARPROC entry = GetProcAddress(appState.aspiLibrary, "GetASPI32SupportInfo");
        ASSERT_NE(entry, nullptr);
        reinterpret_cast<SupportInfo>(reinterpret_cast<void *>(entry))();
    }

    void chooseSource(int device)
    {
        appState.sourceDevice = uint8_t(device);
        refresh();
    }

    /* The requests traced since the last call. */
    std::string newRequests()
    {
        std::string all = readFile(path("trace.txt"));
        std::string fresh = all.substr(std::min(traceSeen, all.size()));
        traceSeen = all.size();
        return fresh;
    }

    std::string folder;
    size_t traceSeen = 0;
};

const char kScsiFailure[] = "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)";

}  // namespace

TEST_F(RealDrives, ADiskJustSwitchedOnIsListedWithItsCapacityAndBacksUp)
{
    MessageBoxWatch boxes;
    const std::string disk = diskBytes(300, 1);
    writeFile(path("disk.img"), disk);
    startOn("[device 0:2]\nproduct = JUST SWITCHED ON\nimage = disk.img\nunit_attention = power_on\n");
    chooseSource(2);
    EXPECT_NE(text(IDC_MAIN_SOURCE_INFO).find("300 sect. (512 B/sect.)"), std::string::npos)
        << text(IDC_MAIN_SOURCE_INFO);

    click(IDC_MAIN_SELECT_ALL);
    ASSERT_EQ(appState.transferSectors, 300);
    std::snprintf(appState.imagePath, kPathBufferSize, "%s", path("backup.img").c_str());
    click(IDC_MAIN_PROCEED);
    EXPECT_TRUE(readFile(path("backup.img")) == disk) << "300 sectors of 512 bytes need no padding";
    EXPECT_TRUE(boxes.boxes().empty()) << describe(boxes.boxes().front());
}

TEST_F(RealDrives, ACartridgeSwappedWhileTheProgramRunsIsListedAfterOneRescan)
{
    writeFile(path("first.img"), diskBytes(1000, 2));
    writeFile(path("second.img"), diskBytes(3000, 3));
    const std::string drive = "[device 0:4]\nremovable = yes\nproduct = CARTRIDGE DRIVE\nreport_medium_change = yes\n";
    startOn(drive + "image = first.img\n");
    chooseSource(4);
    ASSERT_NE(text(IDC_MAIN_SOURCE_INFO).find("1000 sect."), std::string::npos) << text(IDC_MAIN_SOURCE_INFO);

    changeBus(drive + "image = second.img\n");
    newRequests();
    click(IDC_MAIN_RESCAN);
    EXPECT_NE(text(IDC_MAIN_SOURCE_INFO).find("3000 sect."), std::string::npos) << text(IDC_MAIN_SOURCE_INFO);
    std::string requests = newRequests();
    EXPECT_NE(requests.find("target=4 lun=0 flags=08 cdb=25 00 00 00 00 00 00 00 00 00 len=8 status=04"),
              std::string::npos) << "the drive reports the new cartridge:\n" << requests;
}

TEST_F(RealDrives, ADriveSpinningUpIsListedWithItsCapacity)
{
    startOn("[device 0:1]\ntype = optical\nproduct = SLOW MO DRIVE\nsectors = 500\nspin_up_ms = 2000\n");
    chooseSource(1);
    EXPECT_NE(text(IDC_MAIN_SOURCE_INFO).find("500 sect."), std::string::npos) << text(IDC_MAIN_SOURCE_INFO);
    EXPECT_NE(newRequests().find("cdb=00 00 00 00 00 00 len=0 status=01"), std::string::npos)
        << "TEST UNIT READY told when the drive was ready";
}

TEST_F(RealDrives, AStoppedDriveIsStartedOnlyWhenTheUserAllowsIt)
{
    MessageBoxWatch boxes;
    startOn("[device 0:6]\nproduct = REMOTE START\nsectors = 800\nstopped = yes\nspin_up_ms = 500\n");
    chooseSource(6);
    EXPECT_NE(text(IDC_MAIN_SOURCE_INFO).find("0 sect. (0 B/sect.)"), std::string::npos) << text(IDC_MAIN_SOURCE_INFO);
    EXPECT_EQ(newRequests().find("cdb=1B"), std::string::npos) << "START STOP UNIT sent with the option off";

    /* Options, "Archiving options...": tick "Start drives that are stopped", OK. */
    std::string box;
    WhenWindowAppears tick([] { return findThreadWindow("Archiving options"); }, [&](HWND dialog) {
        box = controlText(dialog, IDC_ARCHIVE_START_DRIVES);
        CheckDlgButton(dialog, IDC_ARCHIVE_START_DRIVES, BST_CHECKED);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    command(IDM_ARCHIVE_OPTIONS);
    ASSERT_TRUE(tick.ran());
    EXPECT_EQ(box, "Start drives that are stopped");
    EXPECT_TRUE(appState.archive.startStoppedDrives);

    click(IDC_MAIN_RESCAN);
    EXPECT_NE(text(IDC_MAIN_SOURCE_INFO).find("800 sect."), std::string::npos) << text(IDC_MAIN_SOURCE_INFO);
    EXPECT_NE(newRequests().find("cdb=1B 00 00 00 01 00 len=0 status=01"), std::string::npos)
        << "START STOP UNIT, Start 1, Immed 0";

    HKEY key;   /* OK stored every option: leave none behind */
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        for (const char *value : {kSkipUnreadableValue, kVerifyValue, kReportValue, kExactLengthValue,
                                  kStartStoppedDrivesValue})
            RegDeleteValueA(key, value);
        RegCloseKey(key);
    }
    EXPECT_TRUE(boxes.boxes().empty()) << describe(boxes.boxes().front());
}

TEST_F(RealDrives, CopyingAllOfADeviceLargerThanTheCountIsAskedFirst)
{
    startOn("[device 0:5]\nproduct = LARGE USB DISK\nsectors = 64\ncapacity_reply = FF FF FF FF 00 00 02 00\n");
    chooseSource(5);
    click(IDC_MAIN_SELECT_ALL);
    ASSERT_EQ(appState.transferSectors, 2147483647);
    /* A folder that does not exist: were the question left out, no terabyte would be written. */
    std::snprintf(appState.imagePath, kPathBufferSize, "%s", path("none\\large.img").c_str());
    newRequests();
    {
        MessageBoxWatch boxes;
        boxes.answer(IDNO);
        click(IDC_MAIN_PROCEED);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].caption, "WARNING");
        EXPECT_EQ(boxes.boxes()[0].text,
                  "The source device has more sectors than Kestrova can count. Only its first 2147483647 sectors "
                  "(1048576.0 MBytes) would be copied, not the whole device.\nCopy them anyway?");
        EXPECT_EQ(boxes.boxes()[0].buttons, UINT(MB_YESNO));
        EXPECT_EQ(newRequests().find("cdb=28"), std::string::npos);
    }
    /* A part of it is not "all of it": no question. */
    MessageBoxWatch boxes;
    std::snprintf(appState.imagePath, kPathBufferSize, "%s", path("large.img").c_str());
    setText(IDC_MAIN_SIZE, "64");
    click(IDC_MAIN_PROCEED);
    EXPECT_TRUE(boxes.boxes().empty()) << describe(boxes.boxes().front());
    EXPECT_EQ(readFile(path("large.img")).size(), 64u * 512);
}

/* The child side of the backups below: backs up the disk with the fault the parent names, two
   sectors per chunk, and writes what it saw. A failed request ends it before "returned". */
TEST_F(RealDrives, ChildBacksUpTheDisk)
{
    const char *fault = std::getenv("KESTROVA_DRIVES_FAULT");
    if (!fault)
        GTEST_SKIP() << "run as a child of the backup journeys";
    MessageBoxWatch boxes;
    boxes.onBox([&](const CapturedBox &box) { writeFile(path("seen.txt"), box.text); });
    const std::string drive = "[device 0:0]\nproduct = DISK\nreport_medium_change = yes\n";
    startOn(drive + "image = disk.img\n" + fault + "\n");
    if (const char *swapTo = std::getenv("KESTROVA_DRIVES_SWAP_TO"))
        changeBus(drive + "image = " + swapTo + "\n");
    appState.archive.skipUnreadable = std::getenv("KESTROVA_DRIVES_RESCUE") != nullptr;
    appState.bufferBlocks = 2;
    click(IDC_MAIN_SELECT_ALL);
    std::snprintf(appState.imagePath, kPathBufferSize, "%s", path("backup.img").c_str());
    click(IDC_MAIN_PROCEED);
    writeFile(path("seen.txt"), readFile(path("seen.txt")) + "returned");
}

TEST_F(RealDrives, AResetMetByTheFirstReadIsAskedAgainAMediumChangeEndsTheBackup)
{
    const std::string disk = diskBytes(20, 4);
    writeFile(path("other.img"), diskBytes(20, 5));
    struct Case {
        const char *what, *fault;
        bool rescue, swapped;
        bool completes;
        size_t kept;   /* bytes of the image when the backup stops */
    };
    const Case cases[] = {
        {"a reset before the first read", "fault = read after 0 sense 6/29 times 1", false, false, true, 20 * 512},
        {"a cartridge swapped before the first read", "fault = read after 0 sense 6/28 times 1", false, false, false,
         0},
        {"a cartridge swapped in the middle", "fault = read after 3 sense 6/28 times 1", false, false, false,
         3 * 2 * 512},
        /* The rescue asks the drive who it is before reading: that question hears the swap. */
        {"a cartridge swapped before a rescue", "unit_attention = none", true, true, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(path("disk.img"), disk);
        DeleteFileA(path("backup.img").c_str());
        writeFile(path("seen.txt"), "");
        SetEnvironmentVariableA("KESTROVA_DRIVES_FAULT", c.fault);
        SetEnvironmentVariableA("KESTROVA_DRIVES_FOLDER", folder.c_str());
        SetEnvironmentVariableA("KESTROVA_DRIVES_RESCUE", c.rescue ? "yes" : nullptr);
        SetEnvironmentVariableA("KESTROVA_DRIVES_SWAP_TO", c.swapped ? "other.img" : nullptr);
        ChildRun child = runTestsInChild("RealDrives.ChildBacksUpTheDisk");
        for (const char *name : {"KESTROVA_DRIVES_FAULT", "KESTROVA_DRIVES_FOLDER", "KESTROVA_DRIVES_RESCUE",
                                 "KESTROVA_DRIVES_SWAP_TO"})
            SetEnvironmentVariableA(name, nullptr);
        ASSERT_TRUE(child.started);
        EXPECT_TRUE(child.finished);
        EXPECT_EQ(child.exitCode, 0u);
        const std::string image = readFile(path("backup.img"));
        if (c.completes) {
            EXPECT_EQ(readFile(path("seen.txt")), "returned") << "no message, and the backup returned";
            EXPECT_TRUE(image == disk) << image.size() << " bytes";
        } else {
            EXPECT_EQ(readFile(path("seen.txt")), kScsiFailure) << "the failure ends the program";
            EXPECT_TRUE(image == disk.substr(0, c.kept)) << image.size() << " bytes, not " << c.kept;
        }
    }
}
