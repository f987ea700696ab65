/* The refresh of the main form: every control rebuilt from the shared state. */
#include <array>
#include <cstring>
#include <vector>
#include "form_fixture.h"
#include "main_form.h"
#include "resource_ids.h"
#include "ui_language.h"

namespace {

struct InfoCase {
    const char *what;
    DeviceRecord device;
    const char *expected;
};

const InfoCase kInfoCases[] = {
    {"fixed disk of 1000000 sectors", {"", 1000000, 512, 0, 0},
     "Capacity: 488.3 MBytes\n1000000 sect. (512 B/sect.)\nHard Disk\n"},
    {"target id where nothing answered", {"", 0, 0, 31, 0},
     "Capacity:   0.0 MBytes\n0 sect. (0 B/sect.)\nUnknown\n"},
    {"the adapter's own entry", {"", 0, 0, 3, 0},
     "Capacity:   0.0 MBytes\n0 sect. (0 B/sect.)\nProcessor\n"},
    {"removable CD-ROM", {"", 333000, 2048, 5, 1},
     "Capacity: 650.4 MBytes\n333000 sect. (2048 B/sect.)\n(Removable) CDRom\n"},
    {"removable flag other than 1", {"", 8, 512, 0, 2},
     "Capacity:   0.0 MBytes\n8 sect. (512 B/sect.)\nHard Disk\n"},
    {"largest count", {"", 2147483647, 512, 0, 0},
     "Capacity: 1048576.0 MBytes\n2147483647 sect. (512 B/sect.)\nHard Disk\n"},
};

/* The type line for every device type: string 13 is skipped, 11 to 29 and 31 are unknown. */
const std::pair<int32_t, const char *> kTypeLines[] = {
    {0, "Hard Disk\n"}, {1, "Tape\n"}, {2, "Printer\n"}, {3, "Processor\n"}, {4, "Worm\n"},
    {5, "CDRom\n"}, {6, "Scanner\n"}, {7, "Optical\n"}, {8, "Media Changer\n"}, {9, "Comm device\n"},
    {10, "Rsvd Low\n"}, {11, "Unknown\n"}, {29, "Unknown\n"}, {30, "Rsvd Hi\n"}, {31, "Unknown\n"},
    {32, "Unknown\n"}, {-1, "Unknown\n"},
};

const char kTypeLinePrefix[] = "Capacity:   0.0 MBytes\n0 sect. (0 B/sect.)\n";

}  // namespace

TEST_F(MainFormTest, DeviceInfoTextHasCapacitySectorsAndType)
{
    for (const InfoCase &info : kInfoCases) {
        SCOPED_TRACE(info.what);
        deviceInfoText(info.device);
        EXPECT_STREQ(appState.scratchText, info.expected);
    }
    for (const auto &[type, line] : kTypeLines) {
        SCOPED_TRACE("device type " + std::to_string(type));
        DeviceRecord device = {"", 0, 0, type, 0};
        deviceInfoText(device);
        EXPECT_EQ(std::string(appState.scratchText), std::string(kTypeLinePrefix) + line);
    }
}

TEST_F(MainFormTest, RefreshFillsListsSelectionsAndTexts)
{
    twoDisks(1000000, 4000);
    setDevice(0, 3, "3: REMOVABLE", 333000, 2048, 5, 1);
    setAdapter(1, "Adapter one", 5);
    appState.sourceDevice = 3;
    appState.targetDevice = 0;
    appState.transferSectors = 1500;
    std::strcpy(appState.imagePath, "Z:\\images\\sampler disk.iso");
    SetFocus(GetDlgItem(form, IDC_MAIN_SIZE));
    ASSERT_EQ(GetFocus(), GetDlgItem(form, IDC_MAIN_SIZE));

    refresh();

    for (int list : {IDC_MAIN_SOURCE_ADAPTER, IDC_MAIN_TARGET_ADAPTER}) {
        ASSERT_EQ(itemCount(list), 2);
        EXPECT_EQ(item(list, 0), "Adapter zero");
        EXPECT_EQ(item(list, 1), "Adapter one");
    }
    ASSERT_EQ(itemCount(IDC_MAIN_SOURCE_DEVICE), 8);
    EXPECT_EQ(item(IDC_MAIN_SOURCE_DEVICE, 0), "0: SOURCE DISK");
    EXPECT_EQ(item(IDC_MAIN_SOURCE_DEVICE, 3), "3: REMOVABLE");
    ASSERT_EQ(itemCount(IDC_MAIN_TARGET_DEVICE), 5);
    EXPECT_EQ(item(IDC_MAIN_TARGET_DEVICE, 0), "0: TARGET DISK");
    EXPECT_EQ(selection(IDC_MAIN_SOURCE_ADAPTER), 0);
    EXPECT_EQ(selection(IDC_MAIN_SOURCE_DEVICE), 3);
    EXPECT_EQ(selection(IDC_MAIN_TARGET_ADAPTER), 1);
    EXPECT_EQ(selection(IDC_MAIN_TARGET_DEVICE), 0);

    EXPECT_EQ(text(IDC_MAIN_SOURCE_INFO), "Capacity: 650.4 MBytes\n333000 sect. (2048 B/sect.)\n(Removable) CDRom\n");
    EXPECT_EQ(text(IDC_MAIN_TARGET_INFO), "Capacity:   2.0 MBytes\n4000 sect. (512 B/sect.)\nHard Disk\n");
    EXPECT_EQ(text(IDC_MAIN_SIZE), "1500");
    EXPECT_EQ(appState.transferSectors, 1500);
    EXPECT_FALSE(checked(IDC_MAIN_SELECT_ALL));
    EXPECT_EQ(text(IDC_MAIN_MEGABYTES), "  2.9 MBytes");   /* 1500 sectors of 2048 bytes */
    EXPECT_EQ(text(IDC_MAIN_PATH), "Z:\\images\\sampler disk.iso");
    EXPECT_STREQ(appState.imagePath, "Z:\\images\\sampler disk.iso");
    EXPECT_EQ(text(IDC_MAIN_TITLE), "Kestrova V1.31");
    EXPECT_TRUE(checked(IDC_MAIN_DISK_TO_FILE));
    EXPECT_EQ(GetFocus(), form) << "no control keeps the focus after a refresh";
}

TEST_F(MainFormTest, DeviceListsNeverGoBeyondSixteenEntries)
{
    twoDisks(100, 100);
    setAdapter(0, "Wide adapter", 40);
    for (int d = 0; d < kMaxDevices; ++d)
        setDevice(0, d, ("id " + std::to_string(d)).c_str(), 100);
    setAdapter(1, "Empty adapter", 0);
    refresh();
    ASSERT_EQ(itemCount(IDC_MAIN_SOURCE_DEVICE), 16);
    EXPECT_EQ(item(IDC_MAIN_SOURCE_DEVICE, 15), "id 15");
    EXPECT_EQ(itemCount(IDC_MAIN_TARGET_DEVICE), 0);
    EXPECT_EQ(selection(IDC_MAIN_TARGET_DEVICE), CB_ERR);
}

TEST_F(MainFormTest, SelectionBeyondItsListLeavesTheListUnselected)
{
    twoDisks(100, 100);
    appState.sourceDevice = 12;   /* adapter 0 has 8 entries */
    setDevice(0, 12, "", 777, 512, 7, 0);
    refresh();
    EXPECT_EQ(selection(IDC_MAIN_SOURCE_DEVICE), CB_ERR);
    /* The source device is still the table entry the selection names. */
    EXPECT_EQ(text(IDC_MAIN_SOURCE_INFO), "Capacity:   0.4 MBytes\n777 sect. (512 B/sect.)\nOptical\n");
}

TEST_F(MainFormTest, WithoutAdaptersTheListsAreEmptyAndTheInfoDescribesTheZeroEntry)
{
    appState.transferSectors = 25;
    refresh();
    for (int list : {IDC_MAIN_SOURCE_ADAPTER, IDC_MAIN_SOURCE_DEVICE, IDC_MAIN_TARGET_ADAPTER, IDC_MAIN_TARGET_DEVICE}) {
        EXPECT_EQ(itemCount(list), 0) << list;
        EXPECT_EQ(selection(list), CB_ERR) << list;
    }
    const std::string zeroEntry = "Capacity:   0.0 MBytes\n0 sect. (0 B/sect.)\nHard Disk\n";
    EXPECT_EQ(text(IDC_MAIN_SOURCE_INFO), zeroEntry);
    EXPECT_EQ(text(IDC_MAIN_TARGET_INFO), zeroEntry);
    EXPECT_EQ(appState.transferSectors, 0) << "no device offers a sector";
    EXPECT_EQ(text(IDC_MAIN_SIZE), "0");
    EXPECT_EQ(text(IDC_MAIN_MEGABYTES), "  0.0 MBytes");
    EXPECT_TRUE(checked(IDC_MAIN_SELECT_ALL)) << "0 is the whole of a device of 0 sectors";
}

TEST_F(MainFormTest, RefreshRebuildsListsFromScratch)
{
    twoDisks(100, 100);
    refresh();
    appState.adapterCount = 1;
    setAdapter(0, "Renamed", 3);
    refresh();
    EXPECT_EQ(itemCount(IDC_MAIN_SOURCE_ADAPTER), 1);
    EXPECT_EQ(item(IDC_MAIN_SOURCE_ADAPTER, 0), "Renamed");
    EXPECT_EQ(itemCount(IDC_MAIN_SOURCE_DEVICE), 3);
}

/* The enabling table of the three modes; every other control stays enabled. */
TEST_F(MainFormTest, ModeSetsRadioButtonsAndEnablesItsGroups)
{
    struct ModeRow {
        TransferMode mode;
        int setButton;
        bool source, target, file;
    };
    const ModeRow rows[] = {
        {TransferMode::FileToDisk, IDC_MAIN_FILE_TO_DISK, false, true, true},
        {TransferMode::DiskToFile, IDC_MAIN_DISK_TO_FILE, true, false, true},
        {TransferMode::DiskToDisk, IDC_MAIN_DISK_TO_DISK, true, true, false},
    };
    const int radios[] = {IDC_MAIN_DISK_TO_FILE, IDC_MAIN_FILE_TO_DISK, IDC_MAIN_DISK_TO_DISK};
    const int alwaysEnabled[] = {IDC_MAIN_SIZE, IDC_MAIN_SELECT_ALL, IDC_MAIN_MEGABYTES, IDC_MAIN_TITLE,
                                 IDC_MAIN_DISK_TO_FILE, IDC_MAIN_FILE_TO_DISK, IDC_MAIN_DISK_TO_DISK,
                                 IDC_MAIN_PROCEED, IDC_MAIN_RESCAN, IDC_MAIN_ABOUT, IDC_MAIN_HELP, IDC_MAIN_QUIT};
    twoDisks(100, 100);
    for (const ModeRow &row : rows) {
        SCOPED_TRACE("mode " + std::to_string(static_cast<int>(row.mode)));
        /* Start from every radio button set, so that clearing shows. */
        for (int radio : radios)
            CheckDlgButton(form, radio, BST_CHECKED);
        appState.mode = row.mode;
        refresh();
        for (int radio : radios)
            EXPECT_EQ(checked(radio), radio == row.setButton) << radio;
        for (int id : {IDC_MAIN_SOURCE_DEVICE, IDC_MAIN_SOURCE_ADAPTER, IDC_MAIN_SOURCE_INFO})
            EXPECT_EQ(enabled(id), row.source) << id;
        for (int id : {IDC_MAIN_TARGET_DEVICE, IDC_MAIN_TARGET_ADAPTER, IDC_MAIN_TARGET_INFO})
            EXPECT_EQ(enabled(id), row.target) << id;
        for (int id : {IDC_MAIN_PATH, IDC_MAIN_BROWSE})
            EXPECT_EQ(enabled(id), row.file) << id;
        for (int id : alwaysEnabled)
            EXPECT_TRUE(enabled(id)) << id;
        /* The side the mode leaves out still shows its device. */
        EXPECT_NE(text(IDC_MAIN_SOURCE_INFO), "");
        EXPECT_NE(text(IDC_MAIN_TARGET_INFO), "");
    }
}

namespace {

/* Everything the form shows, for comparing one refresh with the next. */
std::vector<std::string> formSnapshot(HWND form)
{
    std::vector<std::string> shown;
    for (int id = 1005; id <= 1037; ++id) {
        HWND control = GetDlgItem(form, id);
        if (!control)
            continue;
        char text[512] = "";
        GetWindowTextA(control, text, sizeof text);
        std::string line = std::to_string(id) + " text=" + text +
                           " enabled=" + std::to_string(IsWindowEnabled(control) != FALSE) +
                           " check=" + std::to_string(SendMessageA(control, BM_GETCHECK, 0, 0));
        char className[16] = "";
        GetClassNameA(control, className, sizeof className);
        if (lstrcmpiA(className, "ComboBox") == 0) {
            line += " selection=" + std::to_string(SendMessageA(control, CB_GETCURSEL, 0, 0));
            LRESULT count = SendMessageA(control, CB_GETCOUNT, 0, 0);
            for (LRESULT i = 0; i < count; ++i) {
                char itemText[64] = "";
                SendMessageA(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(itemText));
                line += std::string(" [") + itemText + "]";
            }
        }
        shown.push_back(line);
    }
    shown.push_back("focus " + std::to_string(GetFocus() == form));
    shown.push_back("state " + std::to_string(appState.transferSectors) + " " + appState.imagePath + " " +
                    std::to_string(appState.sourceAdapter) + std::to_string(appState.sourceDevice) +
                    std::to_string(appState.targetAdapter) + std::to_string(appState.targetDevice));
    return shown;
}

}  // namespace

TEST_F(MainFormTest, SecondRefreshInARowChangesNothing)
{
    const TransferMode modes[] = {TransferMode::FileToDisk, TransferMode::DiskToFile, TransferMode::DiskToDisk};
    for (TransferMode mode : modes) {
        SCOPED_TRACE("mode " + std::to_string(static_cast<int>(mode)));
        twoDisks(2000, 1000);
        appState.mode = mode;
        appState.transferSectors = 5000;   /* the first refresh lowers it */
        refresh();
        std::vector<std::string> first = formSnapshot(form);
        refresh();
        EXPECT_EQ(formSnapshot(form), first);
    }
}

TEST_F(MainFormTest, LargeDeviceKeepsItsFullCountThroughRefreshes)
{
    twoDisks(125000000, 100);
    click(IDC_MAIN_SELECT_ALL);
    EXPECT_EQ(appState.transferSectors, 125000000);
    refresh();
    refresh();
    EXPECT_EQ(appState.transferSectors, 125000000);
    EXPECT_EQ(text(IDC_MAIN_SIZE), "125000000");
    EXPECT_TRUE(checked(IDC_MAIN_SELECT_ALL));
    EXPECT_EQ(text(IDC_MAIN_MEGABYTES), "61035.2 MBytes");

    setDevice(0, 0, "0: HUGE", 2147483647);
    click(IDC_MAIN_SELECT_ALL);   /* clears */
    click(IDC_MAIN_SELECT_ALL);   /* sets */
    refresh();
    EXPECT_EQ(appState.transferSectors, 2147483647);
    EXPECT_EQ(text(IDC_MAIN_SIZE), "2147483647");
    EXPECT_TRUE(checked(IDC_MAIN_SELECT_ALL));
}

TEST_F(MainFormTest, NothingIsTouchedAfterTheBuffersAreReleased)
{
    twoDisks(100, 100);
    appState.transferSectors = 50;
    refresh();
    const std::vector<std::string> before = formSnapshot(form);
    char *scratch = appState.scratchText;
    char *path = appState.imagePath;
    appState.scratchText = nullptr;
    appState.imagePath = nullptr;
    setDevice(0, 0, "0: CHANGED", 10);

    refresh();
    command(IDC_MAIN_SELECT_ALL);
    command(IDC_MAIN_DISK_TO_DISK);
    setText(IDC_MAIN_SIZE, "60");
    setText(IDC_MAIN_SIZE, "50");

    appState.scratchText = scratch;
    appState.imagePath = path;
    EXPECT_EQ(appState.transferSectors, 50);
    EXPECT_EQ(appState.mode, TransferMode::DiskToFile);
    EXPECT_EQ(formSnapshot(form), before);
}

namespace {

/* Loads the strings of one language for the rest of a scope, then the user's again. */
class ThreadLanguage {
public:
    explicit ThreadLanguage(LANGID language)
    {
        SetThreadUILanguage(language);
        SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
    }
    ~ThreadLanguage() { applyUiLanguage(); }
    ThreadLanguage(const ThreadLanguage &) = delete;
    ThreadLanguage &operator=(const ThreadLanguage &) = delete;
};

}  // namespace

TEST_F(MainFormTest, DeviceInfoTextInFrench)
{
    ThreadLanguage french(kLanguageFrench);
    deviceInfoText(DeviceRecord{"", 333000, 2048, 5, 1});
    EXPECT_STREQ(appState.scratchText, "Capacit\xE9: 650.4 MBytes\n333000 sect. (2048 B/sect.)\n(Amovible) CDRom\n");
    deviceInfoText(DeviceRecord{"", 1000000, 512, 0, 0});
    EXPECT_STREQ(appState.scratchText, "Capacit\xE9: 488.3 MBytes\n1000000 sect. (512 B/sect.)\nDisque dur\n");
    deviceInfoText(DeviceRecord{"", 0, 0, 31, 0});
    EXPECT_STREQ(appState.scratchText, "Capacit\xE9:   0.0 MBytes\n0 sect. (0 B/sect.)\nInconnu\n");
}
