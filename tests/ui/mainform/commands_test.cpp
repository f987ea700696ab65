/* The commands of the main form: lists, size field, check box, radio buttons, Proceed, Quit. */
#include <array>
#include <cstdio>
#include <ostream>
#include <cstring>
#include "form_fixture.h"
#include "main_form.h"
#include "message_box_watch.h"
#include "resource_ids.h"
#include "startup.h"

namespace {

struct SizeCase {
    const char *what;
    TransferMode mode;
    int32_t sourceSectors, targetSectors;
    int32_t before;          /* transferSectors before the text arrives */
    const char *typed;       /* the field's new text */
    int32_t after;           /* transferSectors afterwards */
    const char *shown;       /* the field's text afterwards */
    bool box;                /* "Sel. All Sectors" afterwards */
    const char *megabytes;   /* the label afterwards (512-byte sectors) */
};

const SizeCase kSizeCases[] = {
    {"within the source", TransferMode::DiskToFile, 2000, 1000, 0, "1500", 1500, "1500", false, "  0.7 MBytes"},
    {"whole source", TransferMode::DiskToFile, 2000, 1000, 0, "2000", 2000, "2000", true, "  1.0 MBytes"},
    {"beyond the source", TransferMode::DiskToFile, 2000, 1000, 0, "5000", 2000, "2000", true, "  1.0 MBytes"},
    {"FileToDisk measures the target", TransferMode::FileToDisk, 2000, 1000, 0, "1500", 1000, "1000",
     true, "  0.5 MBytes"},
    {"FileToDisk ignores the source", TransferMode::FileToDisk, 500, 1000, 0, "800", 800, "800",
     false, "  0.4 MBytes"},
    {"DiskToDisk bounded by the smaller target", TransferMode::DiskToDisk, 2000, 1000, 0, "1500", 1000, "1000",
     false, "  0.5 MBytes"},
    {"DiskToDisk beyond both", TransferMode::DiskToDisk, 2000, 1000, 0, "5000", 1000, "1000", false, "  0.5 MBytes"},
    {"DiskToDisk same counts", TransferMode::DiskToDisk, 1000, 1000, 0, "5000", 1000, "1000", true, "  0.5 MBytes"},
    {"DiskToDisk smaller source", TransferMode::DiskToDisk, 1000, 2000, 0, "1500", 1000, "1000",
     true, "  0.5 MBytes"},
    {"zero", TransferMode::DiskToFile, 2000, 1000, 700, "0", 0, "0", false, "  0.0 MBytes"},
    {"emptied field keeps the size", TransferMode::DiskToFile, 2000, 1000, 700, "", 700, "", false, "  0.3 MBytes"},
    {"emptied field, kept size too large", TransferMode::DiskToFile, 2000, 1000, 3000, "", 2000, "2000",
     true, "  1.0 MBytes"},
    {"leading blanks", TransferMode::DiskToFile, 2000, 1000, 0, "  42", 42, "  42", false, "  0.0 MBytes"},
    {"digits then other text", TransferMode::DiskToFile, 2000, 1000, 0, "12abc", 12, "12abc", false, "  0.0 MBytes"},
    {"no digits", TransferMode::DiskToFile, 2000, 1000, 33, "abc", 33, "abc", false, "  0.0 MBytes"},
    {"beyond 32 bits", TransferMode::DiskToFile, 125000000, 1000, 0, "9999999999", 125000000, "125000000",
     true, "61035.2 MBytes"},
    {"beyond 32 bits, largest device", TransferMode::DiskToFile, 2147483647, 1000, 0, "9999999999", 2147483647,
     "2147483647", true, "1048576.0 MBytes"},
    {"just beyond 32 bits", TransferMode::DiskToFile, 2147483647, 1000, 0, "2147483648", 2147483647, "2147483647",
     true, "1048576.0 MBytes"},
    {"pasted sign", TransferMode::DiskToFile, 2000, 1000, 10, "-5", 0, "0", false, "  0.0 MBytes"},
};

/* What the commands may change in the shared state. */
struct Choices {
    std::array<uint8_t, 4> selections;   /* source adapter, source device, target adapter, target device */
    TransferMode mode;
    int32_t transferSectors;
    std::string imagePath;
    bool operator==(const Choices &other) const
    {
        return selections == other.selections && mode == other.mode && transferSectors == other.transferSectors &&
               imagePath == other.imagePath;
    }
};

Choices choices()
{
    return {{appState.sourceAdapter, appState.sourceDevice, appState.targetAdapter, appState.targetDevice},
            appState.mode, appState.transferSectors, appState.imagePath};
}

void PrintTo(const Choices &c, std::ostream *out)
{
    *out << "selections " << int(c.selections[0]) << "/" << int(c.selections[1]) << " -> " << int(c.selections[2])
         << "/" << int(c.selections[3]) << ", mode " << static_cast<int>(c.mode) << ", size " << c.transferSectors
         << ", path " << c.imagePath;
}

}  // namespace

TEST_F(MainFormTest, SizeFieldIsReValidatedOnEveryChange)
{
    for (const SizeCase &size : kSizeCases) {
        SCOPED_TRACE(size.what);
        twoDisks(size.sourceSectors, size.targetSectors);
        appState.mode = size.mode;
        appState.transferSectors = size.before;
        setText(IDC_MAIN_SIZE, size.typed);
        EXPECT_EQ(appState.transferSectors, size.after);
        EXPECT_EQ(text(IDC_MAIN_SIZE), size.shown);
        EXPECT_EQ(checked(IDC_MAIN_SELECT_ALL), size.box);
        EXPECT_EQ(paints, 0) << "a change of the size requests no refresh";
        EXPECT_EQ(text(IDC_MAIN_MEGABYTES), size.megabytes);
    }
}

TEST_F(MainFormTest, MegabyteLabelUsesTheReferenceDevicesSectorSize)
{
    twoDisks(4096, 100000);
    setDevice(0, 0, "0: CDROM", 4096, 2048, 5, 1);
    setText(IDC_MAIN_SIZE, "1024");
    EXPECT_EQ(text(IDC_MAIN_MEGABYTES), "  2.0 MBytes");
    appState.mode = TransferMode::FileToDisk;
    setText(IDC_MAIN_SIZE, "1024");
    EXPECT_EQ(text(IDC_MAIN_MEGABYTES), "  0.5 MBytes");
}

TEST_F(MainFormTest, SizeFieldTakesDigitsOnlyAndTenOfThem)
{
    twoDisks(2147483647, 1000);
    refresh();
    setText(IDC_MAIN_SIZE, "");
    type(IDC_MAIN_SIZE, "1a2-b3 ");
    EXPECT_EQ(text(IDC_MAIN_SIZE), "123");
    EXPECT_EQ(appState.transferSectors, 123);
    setText(IDC_MAIN_SIZE, "");
    type(IDC_MAIN_SIZE, "12345678901");
    EXPECT_EQ(text(IDC_MAIN_SIZE), "1234567890");
    EXPECT_EQ(appState.transferSectors, 1234567890);
}

TEST_F(MainFormTest, SelectAllTakesTheReferenceDevicePerMode)
{
    struct Row {
        TransferMode mode;
        int32_t source, target;
        int32_t size;
        bool box;
    };
    const Row rows[] = {
        {TransferMode::DiskToFile, 2000, 1000, 2000, true},
        {TransferMode::FileToDisk, 2000, 1000, 1000, true},
        {TransferMode::DiskToDisk, 2000, 1000, 1000, false},   /* lowered to the target, box cleared */
        {TransferMode::DiskToDisk, 1000, 2000, 1000, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE("mode " + std::to_string(static_cast<int>(row.mode)) + " source " + std::to_string(row.source));
        twoDisks(row.source, row.target);
        appState.mode = row.mode;
        appState.transferSectors = 10;
        refresh();
        ASSERT_FALSE(checked(IDC_MAIN_SELECT_ALL));
        click(IDC_MAIN_SELECT_ALL);
        EXPECT_EQ(appState.transferSectors, row.size);
        EXPECT_EQ(text(IDC_MAIN_SIZE), std::to_string(row.size));
        EXPECT_EQ(checked(IDC_MAIN_SELECT_ALL), row.box);
        EXPECT_GE(paints, 2) << "the click refreshes the form";
    }
}

TEST_F(MainFormTest, ClearingSelectAllGivesZeroAndProceedThenStartsNothing)
{
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    std::strcat(path, "kestrova-mainform-proceed.iso");
    DeleteFileA(path);
    std::strcpy(appState.imagePath, path);
    twoDisks(2000, 1000);
    appState.transferSectors = 2000;
    refresh();
    ASSERT_TRUE(checked(IDC_MAIN_SELECT_ALL));

    click(IDC_MAIN_SELECT_ALL);
    EXPECT_EQ(appState.transferSectors, 0);
    EXPECT_EQ(text(IDC_MAIN_SIZE), "0");
    EXPECT_EQ(text(IDC_MAIN_MEGABYTES), "  0.0 MBytes");

    const TransferMode modes[] = {TransferMode::FileToDisk, TransferMode::DiskToFile, TransferMode::DiskToDisk};
    MessageBoxWatch boxes;
    for (TransferMode mode : modes) {
        appState.mode = mode;
        SetFocus(GetDlgItem(form, IDC_MAIN_PATH));
        ASSERT_EQ(GetFocus(), GetDlgItem(form, IDC_MAIN_PATH));
        paints = 0;
        click(IDC_MAIN_PROCEED);
        command(IDM_PROCEED, 1);
        EXPECT_EQ(GetFocus(), form) << "Proceed gives the focus back to the form";
        EXPECT_EQ(paints, 0) << "Proceed requests no refresh";
        /* A size below 0 cannot be typed; were it ever stored, it would move nothing either. */
        appState.transferSectors = -5;
        click(IDC_MAIN_PROCEED);
        appState.transferSectors = 0;
    }
    EXPECT_TRUE(boxes.boxes().empty()) << describe(boxes.boxes().front());
    EXPECT_EQ(appState.progressBox, nullptr);
    EXPECT_EQ(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES) << "no image file was made";
}

/* A confirmed choice changes the selection; a merely moved one changes nothing. */
TEST_F(MainFormTest, ListChoicesCountOnlyWhenConfirmed)
{
    struct ListRow {
        int list;
        int index;        /* in Choices::selections */
        int resetIndex;   /* the device of a changed adapter, or -1 */
    };
    const ListRow rows[] = {
        {IDC_MAIN_SOURCE_ADAPTER, 0, 1},
        {IDC_MAIN_SOURCE_DEVICE, 1, -1},
        {IDC_MAIN_TARGET_ADAPTER, 2, 3},
        {IDC_MAIN_TARGET_DEVICE, 3, -1},
    };
    for (const ListRow &row : rows) {
        SCOPED_TRACE("list " + std::to_string(row.list));
        twoDisks(100, 100);
        appState.sourceAdapter = 1;
        appState.sourceDevice = 3;
        appState.targetAdapter = 1;
        appState.targetDevice = 4;
        appState.mode = TransferMode::DiskToDisk;
        refresh();
        const Choices before = choices();
        const int moved = before.selections[row.index] == 1 ? 0 : 1;

        paints = 0;
        SendDlgItemMessageA(form, row.list, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        command(row.list, CBN_SELENDOK);
        EXPECT_EQ(choices(), before) << "a list without a selection keeps the stored one";

        SendDlgItemMessageA(form, row.list, CB_SETCURSEL, moved, 0);
        command(row.list, CBN_SELCHANGE);
        command(row.list, CBN_DROPDOWN);
        command(row.list, CBN_CLOSEUP);
        command(row.list, CBN_SELENDCANCEL);
        EXPECT_EQ(choices(), before) << "only a confirmed choice counts";
        EXPECT_EQ(paints, 0);

        command(row.list, CBN_SELENDOK);
        EXPECT_EQ(paints, 1) << "a confirmed choice refreshes";
        EXPECT_EQ(selection(row.list), moved);
        Choices expected = before;
        expected.selections[row.index] = static_cast<uint8_t>(moved);
        if (row.resetIndex >= 0)
            expected.selections[row.resetIndex] = 0;
        EXPECT_EQ(choices(), expected);
    }
}

TEST_F(MainFormTest, AdapterChangeShowsItsFirstDeviceAndReValidatesTheSize)
{
    twoDisks(2000, 1000);
    setDevice(0, 5, "5: OTHER", 3000);
    appState.sourceDevice = 5;
    appState.transferSectors = 2500;
    refresh();
    ASSERT_EQ(appState.transferSectors, 2500);

    /* Source adapter 1: its device 0 has 1000 sectors. */
    SendDlgItemMessageA(form, IDC_MAIN_SOURCE_ADAPTER, CB_SETCURSEL, 1, 0);
    command(IDC_MAIN_SOURCE_ADAPTER, CBN_SELENDOK);
    EXPECT_EQ(appState.sourceAdapter, 1);
    EXPECT_EQ(appState.sourceDevice, 0);
    EXPECT_EQ(selection(IDC_MAIN_SOURCE_DEVICE), 0);
    EXPECT_EQ(item(IDC_MAIN_SOURCE_DEVICE, 0), "0: TARGET DISK");
    EXPECT_EQ(appState.transferSectors, 1000);
    EXPECT_TRUE(checked(IDC_MAIN_SELECT_ALL));
    EXPECT_EQ(appState.targetAdapter, 1) << "the other side keeps its choice";
}

TEST_F(MainFormTest, RadioButtonsSetTheModeAndReValidate)
{
    twoDisks(2000, 1000);
    appState.transferSectors = 2000;
    refresh();
    click(IDC_MAIN_FILE_TO_DISK);
    EXPECT_EQ(appState.mode, TransferMode::FileToDisk);
    EXPECT_EQ(appState.transferSectors, 1000);
    EXPECT_TRUE(checked(IDC_MAIN_FILE_TO_DISK));
    EXPECT_FALSE(checked(IDC_MAIN_DISK_TO_FILE));
    EXPECT_FALSE(enabled(IDC_MAIN_SOURCE_ADAPTER));

    click(IDC_MAIN_DISK_TO_DISK);
    EXPECT_EQ(appState.mode, TransferMode::DiskToDisk);
    EXPECT_FALSE(checked(IDC_MAIN_SELECT_ALL)) << "1000 is not the whole source";
    EXPECT_FALSE(enabled(IDC_MAIN_PATH));

    click(IDC_MAIN_DISK_TO_FILE);
    EXPECT_EQ(appState.mode, TransferMode::DiskToFile);
    EXPECT_EQ(appState.transferSectors, 1000);
    EXPECT_TRUE(checked(IDC_MAIN_DISK_TO_FILE));
    EXPECT_FALSE(checked(IDC_MAIN_DISK_TO_DISK));
    EXPECT_FALSE(enabled(IDC_MAIN_TARGET_DEVICE));
}

TEST_F(MainFormTest, PathFieldCopiesIntoImagePathWithoutRefresh)
{
    refresh();
    paints = 0;
    setText(IDC_MAIN_PATH, "D:\\backup\\s1000.iso");
    EXPECT_STREQ(appState.imagePath, "D:\\backup\\s1000.iso");
    EXPECT_EQ(paints, 0);
    const std::string longest(kPathBufferSize + 20, 'x');
    setText(IDC_MAIN_PATH, longest.c_str());
    EXPECT_EQ(std::strlen(appState.imagePath), static_cast<size_t>(kPathBufferSize - 1));
}

/* The form's own procedure behind Quit: the real shutdown runs, and the form stays. */
TEST_F(MainFormTest, QuitRunsTheShutdownWithoutDestroyingTheForm)
{
    ASSERT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr);
    SetWindowLongPtrA(form, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MainFormProc));
    struct QuitRow {
        int id, code;
    };
    const QuitRow rows[] = {{IDC_MAIN_QUIT, BN_CLICKED}, {IDM_QUIT, 0}, {IDM_QUIT, 1}};
    for (const QuitRow &row : rows) {
        SCOPED_TRACE(testing::Message() << row.id << " code " << row.code);
        ASSERT_EQ(takeTextBuffers(), 1);
        appState.aspiLibrary = LoadLibraryA("wnaspi32.dll");
        ASSERT_NE(appState.aspiLibrary, nullptr);

        command(row.id, row.code);
        EXPECT_FALSE(textBuffersHeld()) << "the text buffers were not released";
        EXPECT_EQ(appState.aspiLibrary, nullptr);
        EXPECT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr) << "the ASPI library was not released";
        MSG quit = {};
        EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "no quit request";
        EXPECT_EQ(quit.wParam, 0u);
        EXPECT_TRUE(IsWindow(form));
    }
}

/* Ids that are not commands, and codes that are not dispatched, do nothing. */
TEST_F(MainFormTest, OtherIdsAndCodesDoNothing)
{
    twoDisks(2000, 1000);
    appState.transferSectors = 100;
    refresh();
    const Choices before = choices();
    paints = 0;
    for (int id : {IDC_MAIN_SOURCE_ADAPTER, IDC_MAIN_TARGET_DEVICE, IDC_MAIN_SIZE, IDC_MAIN_PATH, IDC_MAIN_MEGABYTES,
                   40004, 40010, 999})
        for (int code : {0, 1})
            command(id, code);
    for (int code : {2, 3, 4, 5, 8, 0x100, 0x200, 0x400, 0x501})
        command(IDC_MAIN_PROCEED, code);
    command(IDC_MAIN_QUIT, EN_CHANGE);
    command(IDC_MAIN_QUIT, CBN_SELENDOK);
    EXPECT_EQ(choices(), before);
    EXPECT_EQ(paints, 0);
    EXPECT_EQ(destroys, 0);
}
