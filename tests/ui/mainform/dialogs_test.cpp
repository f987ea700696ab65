/* About, Set Buffer Size and the archiving options from the form's buttons, menu entries and keys. */
#include <string>
#include "form_fixture.h"
#include "main_form.h"
#include "resource_ids.h"

namespace {

int aboutBoxesShown = 0;
HWND aboutOwner = nullptr;
int archiveDialogsShown = 0;

/* Closes each About box with OK as it comes up, and counts it. */
LRESULT CALLBACK closeAboutBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        if (GetDlgItem(window, IDC_ABOUT_VERSION) && !GetPropA(window, "KestrovaTestSeen")) {
            SetPropA(window, "KestrovaTestSeen", reinterpret_cast<HANDLE>(1));
            ++aboutBoxesShown;
            aboutOwner = GetWindow(window, GW_OWNER);
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
        }
        if (GetDlgItem(window, IDC_ARCHIVE_SKIP) && !GetPropA(window, "KestrovaTestSeen")) {
            SetPropA(window, "KestrovaTestSeen", reinterpret_cast<HANDLE>(1));
            ++archiveDialogsShown;
            aboutOwner = GetWindow(window, GW_OWNER);
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST_F(MainFormTest, AboutOpensTheModalAboutBoxOwnedByTheForm)
{
    HHOOK hook = SetWindowsHookExA(WH_CBT, closeAboutBox, nullptr, GetCurrentThreadId());
    aboutBoxesShown = 0;
    const std::pair<int, int> commands[] = {{IDC_MAIN_ABOUT, BN_CLICKED}, {IDM_ABOUT, 0}, {IDM_ABOUT, 1}};
    int expected = 0;
    for (const auto &[id, code] : commands) {
        aboutOwner = nullptr;
        paints = 0;
        command(id, code);
        EXPECT_EQ(aboutBoxesShown, ++expected) << id << " code " << code;
        EXPECT_EQ(aboutOwner, form);
    }
    UnhookWindowsHookEx(hook);
}

TEST_F(MainFormTest, SetBufferSizeOpensAModelessDialogEachTime)
{
    const std::pair<int, int> commands[] = {{IDM_BUFFER_SIZE, 0}, {IDM_BUFFER_SIZE, 1}};
    for (const auto &[id, code] : commands) {
        appState.bufferDialog = nullptr;
        paints = 0;
        command(id, code);
        HWND dialog = appState.bufferDialog;
        ASSERT_TRUE(IsWindow(dialog)) << "code " << code;
        EXPECT_NE(GetDlgItem(dialog, IDC_BUFFER_LIST), nullptr);
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), form);
        EXPECT_EQ(paints, 0) << "the dialog requests no refresh";
        DestroyWindow(dialog);
    }
}

TEST_F(MainFormTest, ArchivingOptionsMenuEntryOpensItsModalDialog)
{
    HHOOK hook = SetWindowsHookExA(WH_CBT, closeAboutBox, nullptr, GetCurrentThreadId());
    archiveDialogsShown = 0;
    aboutOwner = nullptr;
    command(IDM_ARCHIVE_OPTIONS, 0);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(archiveDialogsShown, 1);
    EXPECT_EQ(aboutOwner, form);
}
