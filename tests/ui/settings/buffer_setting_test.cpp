/*
 * The buffer size setting: what start-up makes of each stored value, and the buffer-size dialog
 * (its list, preselection, OK and Cancel, several dialogs at once), on the test prefix's registry.
 */
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "about_help.h"
#include "app_state.h"
#include "buffer_setting.h"
#include "message_box_watch.h"
#include "resource_ids.h"
#include "settings_support.h"
#include "ui_language.h"

namespace {

class BufferSettingTest : public testing::Test {
protected:
    void SetUp() override
    {
        deleteSettingKey();
        form = createStandInForm();
        appState.mainForm = form;
        appState.bufferBlocks = 0;
        appState.bufferDialog = nullptr;
    }
    void TearDown() override
    {
        DestroyWindow(form);   /* takes any dialog it owns along */
        appState.mainForm = nullptr;
        deleteSettingKey();
        EXPECT_TRUE(watch.boxes().empty()) << describe(watch.boxes().front());
    }

    static void press(HWND dialog, int id)
    {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }
    static int selection(HWND dialog)
    {
        return static_cast<int>(SendDlgItemMessageA(dialog, IDC_BUFFER_LIST, CB_GETCURSEL, 0, 0));
    }
    static void select(HWND dialog, int index)
    {
        SendDlgItemMessageA(dialog, IDC_BUFFER_LIST, CB_SETCURSEL, index, 0);
    }

    MessageBoxWatch watch;
    HWND form = nullptr;
};

struct StoredCase {
    const char *what;
    std::string bytes;        /* the stored data, as given (no NUL added) */
    DWORD type;
    int32_t bufferBlocks;     /* after start-up */
    const char *storedAfter;  /* the English value after start-up */
};

std::string withNul(const std::string &text) { return text + std::string(1, '\0'); }

const StoredCase kStoredCases[] = {
    {"32", withNul("32"), REG_SZ, 64, "32"},
    {"100 is used unchanged", withNul("100"), REG_SZ, 200, "100"},
    {"12abc reads as 12", withNul("12abc"), REG_SZ, 24, "12abc"},
    {"leading blank and sign", withNul(" +8"), REG_SZ, 16, " +8"},
    {"empty", withNul(""), REG_SZ, 32, "16"},
    {"0", withNul("0"), REG_SZ, 32, "16"},
    {"-5", withNul("-5"), REG_SZ, 32, "16"},
    {"letters", withNul("abc"), REG_SZ, 32, "16"},
    {"70 bytes", withNul("32" + std::string(67, 'x')), REG_SZ, 32, "16"},
    {"64 bytes, no NUL", "32" + std::string(62, 'x'), REG_SZ, 32, "16"},
    {"63 characters and the NUL", withNul("32" + std::string(61, 'x')), REG_SZ, 64,
     nullptr /* unchanged */},
    {"a REG_DWORD", std::string("\x05\0\0\0", 4), REG_DWORD, 32, "16"},
    {"too big for the buffer size", withNul("2000000000"), REG_SZ, 32, "16"},
};

TEST_F(BufferSettingTest, FirstStartStoresTheDefault)
{
    restoreBufferSize();
    EXPECT_EQ(appState.bufferBlocks, 32);
    EXPECT_EQ(storedSettingText(kEnglishValueName), "16");
}

TEST_F(BufferSettingTest, StartUpReadsEachStoredValue)
{
    for (const StoredCase &stored : kStoredCases) {
        SCOPED_TRACE(stored.what);
        deleteSettingKey();
        storeSettingBytes(kEnglishValueName, stored.type, stored.bytes.data(), static_cast<DWORD>(stored.bytes.size()));
        appState.bufferBlocks = 0;
        restoreBufferSize();
        EXPECT_EQ(appState.bufferBlocks, stored.bufferBlocks);
        if (stored.storedAfter)
            EXPECT_EQ(storedSettingText(kEnglishValueName), stored.storedAfter);
        else
            EXPECT_EQ(storedSettingText(kEnglishValueName), stored.bytes.substr(0, stored.bytes.size() - 1));
    }
}

TEST_F(BufferSettingTest, KeyWithoutTheValueStoresTheDefault)
{
    storeSettingText("Some other value", "64");
    restoreBufferSize();
    EXPECT_EQ(appState.bufferBlocks, 32);
    EXPECT_EQ(storedSettingText(kEnglishValueName), "16");
    EXPECT_EQ(storedSettingText("Some other value"), "64");
}

TEST_F(BufferSettingTest, EnglishAndFrenchValuesDoNotSeeEachOther)
{
    storeSettingText(kEnglishValueName, "32");
    {
        UiLanguageScope french(kLanguageFrench);
        restoreBufferSize();
    }
    EXPECT_EQ(appState.bufferBlocks, 32) << "the French interface must not read the English value";
    EXPECT_EQ(storedSettingText(kFrenchValueName), "16");
    EXPECT_EQ(storedSettingText(kEnglishValueName), "32");

    storeSettingText(kFrenchValueName, "8");
    restoreBufferSize();
    EXPECT_EQ(appState.bufferBlocks, 64);
    {
        UiLanguageScope french(kLanguageFrench);
        restoreBufferSize();
        EXPECT_EQ(appState.bufferBlocks, 16);
    }
}

TEST_F(BufferSettingTest, StoredKilobytesReadsOnlyUsableNumbers)
{
    struct Case { const char *text; int kilobytes; };
    const Case cases[] = {
        {"16", 16}, {"4", 4}, {"100", 100}, {"12abc", 12}, {"  32", 32}, {"+64", 64}, {"1", 1},
        {"", 0}, {"0", 0}, {"-5", 0}, {"abc", 0}, {" ", 0}, {"-", 0}, {"1073741823", 1073741823},
        {"1073741824", 0}, {"99999999999999999999", 0},
    };
    for (const Case &c : cases) {
        char text[64] = {};
        lstrcpynA(text, c.text, sizeof text);
        EXPECT_EQ(storedKilobytes(text, sizeof text), c.kilobytes) << '"' << c.text << '"';
    }
    char unterminated[64];
    std::fill(std::begin(unterminated), std::end(unterminated), '7');
    EXPECT_EQ(storedKilobytes(unterminated, sizeof unterminated), 0);
}

TEST_F(BufferSettingTest, PreselectionFollowsTheSizeInUse)
{
    struct Case { int32_t bufferBlocks; int index; };
    const Case cases[] = {
        {8, 0}, {16, 1}, {32, 2}, {64, 3}, {128, 4}, {9, 0}, {129, 4}, {200, 2}, {24, 2},
        {0, 2}, {1, 2}, {-8, 2}, {-1, 2}, {256, 2},
    };
    for (const Case &c : cases)
        EXPECT_EQ(bufferListIndex(c.bufferBlocks), c.index) << "bufferBlocks " << c.bufferBlocks;

    for (const Case &c : {Case{64, 3}, Case{200, 2}, Case{8, 0}}) {
        appState.bufferBlocks = c.bufferBlocks;
        openBufferDialog();
        HWND dialog = appState.bufferDialog;
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(selection(dialog), c.index) << "bufferBlocks " << c.bufferBlocks;
        press(dialog, IDC_CANCEL);
    }
}

TEST_F(BufferSettingTest, DialogListsTheFiveSizesAndIsShownOwnedByTheForm)
{
    appState.bufferBlocks = 32;
    openBufferDialog();
    HWND dialog = appState.bufferDialog;
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), form);
    const std::array<const char *, 5> texts = {" 4 Kbytes", " 8 Kbytes", "16 Kbytes", "32 Kbytes", "64 Kbytes"};
    ASSERT_EQ(SendDlgItemMessageA(dialog, IDC_BUFFER_LIST, CB_GETCOUNT, 0, 0), 5);
    for (int i = 0; i < 5; ++i) {
        char text[32] = "";
        SendDlgItemMessageA(dialog, IDC_BUFFER_LIST, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        EXPECT_STREQ(text, texts[i]);
    }
    EXPECT_EQ(selection(dialog), 2);
    press(dialog, IDC_CANCEL);
}

TEST_F(BufferSettingTest, OkStoresTheChosenSizeEveryTime)
{
    storeSettingText(kEnglishValueName, "32");
    restoreBufferSize();
    ASSERT_EQ(appState.bufferBlocks, 64);

    /* OK on the size already in use writes it again. */
    deleteSettingKey();
    openBufferDialog();
    HWND dialog = appState.bufferDialog;
    press(dialog, IDC_OK);
    EXPECT_FALSE(IsWindow(dialog) && IsWindowVisible(dialog));
    EXPECT_EQ(appState.bufferBlocks, 64);
    EXPECT_EQ(storedSettingText(kEnglishValueName), "32");

    const std::array<int, 5> kilobytes = {4, 8, 16, 32, 64};
    for (int index = 0; index < 5; ++index) {
        openBufferDialog();
        dialog = appState.bufferDialog;
        select(dialog, index);
        press(dialog, IDC_OK);
        EXPECT_EQ(appState.bufferBlocks, kilobytes[index] * 2);
        EXPECT_EQ(storedSettingText(kEnglishValueName), std::to_string(kilobytes[index]));
    }
}

/*
 * The key's parent made to live only in memory (a volatile key): the registry then refuses to
 * create the program's key under it, as it does for a user without write access.
 */
class UnwritableSettingKey {
public:
    UnwritableSettingKey()
    {
        deleteSettingKey();
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParent);
        DWORD disposition = 0;
        made_ = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParent, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &parent_, &disposition) == ERROR_SUCCESS &&
                disposition == REG_CREATED_NEW_KEY;
    }
    ~UnwritableSettingKey()
    {
        if (parent_)
            RegCloseKey(parent_);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParent);
    }
    UnwritableSettingKey(const UnwritableSettingKey &) = delete;
    UnwritableSettingKey &operator=(const UnwritableSettingKey &) = delete;
    bool made() const { return made_; }

private:
    static constexpr char kParent[] = "SOFTWARE\\Talvenor";
    HKEY parent_ = nullptr;
    bool made_ = false;
};

TEST_F(BufferSettingTest, KeyThatCannotBeCreatedShowsTheBoxAndTheSizeStillApplies)
{
    UnwritableSettingKey unwritable;
    ASSERT_TRUE(unwritable.made());
    HKEY probe = nullptr;
    ASSERT_NE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingKey, 0, nullptr, 0, KEY_WRITE, nullptr, &probe, nullptr),
              ERROR_SUCCESS);

    for (LANGID language : {LANGID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), kLanguageFrench}) {
        UiLanguageScope scope(language);
        const bool french = PRIMARYLANGID(language) == LANG_FRENCH;
        SCOPED_TRACE(french ? "French" : "English");
        const char *expected = french ? "Impossible d'ouvrit une clef de la registery"
                                      : "Failed to open app key in registry";

        /* Start-up: nothing stored, the default cannot be stored either; it is used all the same. */
        watch.clear();
        appState.bufferBlocks = 0;
        restoreBufferSize();
        EXPECT_EQ(appState.bufferBlocks, 32);
        ASSERT_EQ(watch.boxes().size(), 1u);
        EXPECT_EQ(watch.boxes()[0].text, expected);
        EXPECT_EQ(watch.boxes()[0].caption, "Error");
        EXPECT_EQ(watch.boxes()[0].icon, UINT(MB_ICONERROR));

        if (french)
            continue;
        /* A size confirmed in the dialog applies for the rest of the run, unsaved. */
        watch.clear();
        openBufferDialog();
        HWND dialog = appState.bufferDialog;
        select(dialog, 4);
        press(dialog, IDC_OK);
        EXPECT_EQ(appState.bufferBlocks, 128);
        ASSERT_EQ(watch.boxes().size(), 1u);
        EXPECT_EQ(watch.boxes()[0].text, expected);
        EXPECT_FALSE(storedSettingText(kEnglishValueName).has_value());
    }
    watch.clear();
}

TEST_F(BufferSettingTest, CancelChangesNothing)
{
    storeSettingText(kEnglishValueName, "100");
    restoreBufferSize();
    openBufferDialog();
    HWND dialog = appState.bufferDialog;
    EXPECT_EQ(selection(dialog), 2);
    select(dialog, 4);
    press(dialog, IDC_CANCEL);
    EXPECT_FALSE(IsWindow(dialog) && IsWindowVisible(dialog));
    EXPECT_EQ(appState.bufferBlocks, 200);
    EXPECT_EQ(storedSettingText(kEnglishValueName), "100");
}

/* A list left without a selection: OK closes the dialog and keeps the size and the stored value. */
TEST_F(BufferSettingTest, OkWithoutASelectionKeepsTheSize)
{
    storeSettingText(kEnglishValueName, "32");
    restoreBufferSize();
    openBufferDialog();
    HWND dialog = appState.bufferDialog;
    select(dialog, -1);
    ASSERT_EQ(selection(dialog), CB_ERR);
    press(dialog, IDC_OK);
    EXPECT_FALSE(IsWindow(dialog) && IsWindowVisible(dialog));
    EXPECT_EQ(appState.bufferBlocks, 64);
    EXPECT_EQ(storedSettingText(kEnglishValueName), "32");
}

TEST_F(BufferSettingTest, OtherNotificationsOfOkAndCancelDoNothing)
{
    appState.bufferBlocks = 32;
    openBufferDialog();
    HWND dialog = appState.bufferDialog;
    select(dialog, 4);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_SETFOCUS), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_SETFOCUS), 0);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(appState.bufferBlocks, 32);
    EXPECT_EQ(storedSettingText(kEnglishValueName), std::nullopt);
    press(dialog, IDC_CANCEL);
}

TEST_F(BufferSettingTest, TwoDialogsConfirmedInTurnTheLaterWins)
{
    appState.bufferBlocks = 32;
    openBufferDialog();
    HWND first = appState.bufferDialog;
    openBufferDialog();
    HWND second = appState.bufferDialog;
    ASSERT_NE(first, second);
    EXPECT_TRUE(IsWindowVisible(first));
    EXPECT_TRUE(IsWindowVisible(second));

    select(first, 1);
    select(second, 4);
    press(first, IDC_OK);
    EXPECT_EQ(appState.bufferBlocks, 16);
    EXPECT_EQ(storedSettingText(kEnglishValueName), "8");
    EXPECT_TRUE(IsWindowVisible(second));
    EXPECT_EQ(selection(second), 4) << "each dialog keeps its own list";

    press(second, IDC_OK);
    EXPECT_EQ(appState.bufferBlocks, 128);
    EXPECT_EQ(storedSettingText(kEnglishValueName), "64");
}

/* The About box after a change of size: a modal box, read from inside its own loop. */
TEST_F(BufferSettingTest, AboutBoxShowsTheSizeConfirmedInTheDialog)
{
    restoreBufferSize();
    openBufferDialog();
    HWND dialog = appState.bufferDialog;
    select(dialog, 4);
    press(dialog, IDC_OK);
    ASSERT_EQ(appState.bufferBlocks, 128);

    std::string bufferLine, versionLine;
    WhenWindowAppears about([] { return findThreadWindow("About Kestrova"); },
                            [&](HWND box) {
                                UpdateWindow(box);
                                bufferLine = controlText(box, IDC_ABOUT_BUFFER);
                                versionLine = controlText(box, IDC_ABOUT_VERSION);
                                PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
                            });
    showAboutBox(form);
    EXPECT_TRUE(about.ran());
    EXPECT_EQ(bufferLine, "Buffer: 64K");
    EXPECT_EQ(versionLine, "Kestrova V1.31");
}

}  // namespace
