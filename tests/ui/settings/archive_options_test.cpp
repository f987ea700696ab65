/*
 * The archiving options: what start-up reads from each stored value, and the dialog in both
 * languages (its texts, what OK stores, that Cancel stores nothing), on the test prefix's registry.
 */
#include <gtest/gtest.h>

#include <string>

#include "app_state.h"
#include "archive_options.h"
#include "message_box_watch.h"
#include "resource_ids.h"
#include "settings_support.h"
#include "ui_language.h"

namespace {

class ArchiveOptionsTest : public testing::Test {
protected:
    void SetUp() override
    {
        deleteSettingKey();
        form = createStandInForm();
        appState.mainForm = form;
        appState.archive = ArchiveOptions();
    }
    void TearDown() override
    {
        DestroyWindow(form);
        appState.mainForm = nullptr;
        appState.archive = ArchiveOptions();
        deleteSettingKey();
        EXPECT_TRUE(watch.boxes().empty()) << describe(watch.boxes().front());
    }

    static DWORD stored(const char *name)
    {
        DWORD value = 0xFFFF, type = 0, length = sizeof value;
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return 0xFFFF;
        LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &length);
        RegCloseKey(key);
        return result == ERROR_SUCCESS && type == REG_DWORD ? value : 0xFFFF;
    }

    MessageBoxWatch watch;
    HWND form = nullptr;
};

TEST_F(ArchiveOptionsTest, OnlyAStoredOneTurnsAnOptionOn)
{
    const DWORD one = 1, two = 2;
    storeSettingBytes(kSkipUnreadableValue, REG_DWORD, &one, sizeof one);
    storeSettingBytes(kVerifyValue, REG_DWORD, &two, sizeof two);
    storeSettingText(kReportValue, "1");   /* text, not a number */
    storeSettingBytes(kExactLengthValue, REG_BINARY, &one, 1);
    storeSettingBytes(kStartStoppedDrivesValue, REG_DWORD, &one, sizeof one);
    appState.archive.verify = appState.archive.report = appState.archive.exactLength = true;
    restoreArchiveOptions();
    EXPECT_TRUE(appState.archive.skipUnreadable);
    EXPECT_FALSE(appState.archive.verify);
    EXPECT_FALSE(appState.archive.report);
    EXPECT_FALSE(appState.archive.exactLength);
    EXPECT_TRUE(appState.archive.startStoppedDrives);

    deleteSettingKey();
    appState.archive.skipUnreadable = true;
    restoreArchiveOptions();
    EXPECT_FALSE(appState.archive.skipUnreadable) << "no key at all: every option off";
}

TEST_F(ArchiveOptionsTest, DialogStoresWhatIsTickedOnOkAndNothingOnCancel)
{
    struct Texts { LANGID language; const char *caption, *skip, *exact, *start, *guard, *cancel; };
    const Texts languages[] = {
        {kLanguageEnglish, "Archiving options", "Skip unreadable sectors (list them in a map)",
         "Exact-length images (no zero padding)", "Start drives that are stopped",
         "Ask before overwriting a recognised disk", "Cancel"},
        {kLanguageFrench, "Options d'archivage", "Ignorer les secteurs illisibles (liste dans une carte)",
         "Images de longueur exacte (sans remplissage)", "D\xE9marrer les lecteurs arr\xEAt\xE9s",
         "Demander avant d'\xE9" "craser un disque reconnu", "Annuler"},
    };
    for (const Texts &t : languages) {
        SCOPED_TRACE(t.caption);
        deleteSettingKey();
        appState.archive = ArchiveOptions();
        UiLanguageScope language(t.language);
        std::string skip, exact, start, guard, cancel;
        /* Found by its caption in the language of the run. */
        WhenWindowAppears tick([&] { return findThreadWindow(t.caption); }, [&](HWND dialog) {
            skip = controlText(dialog, IDC_ARCHIVE_SKIP);
            exact = controlText(dialog, IDC_ARCHIVE_EXACT);
            start = controlText(dialog, IDC_ARCHIVE_START_DRIVES);
            guard = controlText(dialog, IDC_ARCHIVE_GUARD);
            cancel = controlText(dialog, IDC_CANCEL);
            CheckDlgButton(dialog, IDC_ARCHIVE_SKIP, BST_CHECKED);
            CheckDlgButton(dialog, IDC_ARCHIVE_REPORT, BST_CHECKED);
            CheckDlgButton(dialog, IDC_ARCHIVE_START_DRIVES, BST_CHECKED);
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        });
        runArchiveOptionsDialog(form);
        ASSERT_TRUE(tick.ran());
        EXPECT_EQ(skip, t.skip);
        EXPECT_EQ(exact, t.exact);
        EXPECT_EQ(start, t.start);
        EXPECT_EQ(guard, t.guard);
        EXPECT_EQ(cancel, t.cancel);
        EXPECT_TRUE(appState.archive.skipUnreadable && appState.archive.report && appState.archive.startStoppedDrives);
        EXPECT_FALSE(appState.archive.verify || appState.archive.exactLength);
        EXPECT_EQ(stored(kSkipUnreadableValue), 1u);
        EXPECT_EQ(stored(kVerifyValue), 0u);
        EXPECT_EQ(stored(kReportValue), 1u);
        EXPECT_EQ(stored(kExactLengthValue), 0u);
        EXPECT_EQ(stored(kStartStoppedDrivesValue), 1u);
        EXPECT_EQ(stored(kGuardRestoreValue), 0u);
        EXPECT_FALSE(appState.archive.guardRestore) << "off unless ticked";
    }

    /* Opened again it shows what is on; Cancel after a change keeps it all. */
    bool shownTicked = false;
    WhenWindowAppears cancel([] { return findThreadWindow("Archiving options"); }, [&](HWND dialog) {
        shownTicked = IsDlgButtonChecked(dialog, IDC_ARCHIVE_SKIP) == BST_CHECKED &&
                      IsDlgButtonChecked(dialog, IDC_ARCHIVE_VERIFY) == BST_UNCHECKED;
        CheckDlgButton(dialog, IDC_ARCHIVE_VERIFY, BST_CHECKED);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    runArchiveOptionsDialog(form);
    ASSERT_TRUE(cancel.ran());
    EXPECT_TRUE(shownTicked);
    EXPECT_FALSE(appState.archive.verify);
    EXPECT_EQ(stored(kVerifyValue), 0u);
}

}  // namespace
