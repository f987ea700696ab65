/* Browse and File Name: the file chooser, then a refresh whether a file was chosen or not. */
#include <cstring>
#include <string>
#include "file_chooser.h"
#include "form_fixture.h"
#include "main_form.h"
#include "resource_ids.h"

namespace {

/* Answers the file chooser when it comes up: types a name and confirms, or cancels. */
struct ChooserAnswer {
    const char *fileName = nullptr;   /* null: cancel */
    std::string title;                /* the chooser's caption, as seen */
    int shown = 0;
};
ChooserAnswer *chooserAnswer = nullptr;
HHOOK chooserHook = nullptr;

constexpr int kFileNameCombo = 0x47C;   /* cmb13 of the open-file dialog */
HWND chooserWindow = nullptr;

BOOL CALLBACK findNameEdit(HWND child, LPARAM found)
{
    char className[16] = "";
    GetClassNameA(child, className, sizeof className);
    if (GetDlgCtrlID(child) != kFileNameCombo || lstrcmpiA(className, "Edit") != 0)
        return TRUE;
    *reinterpret_cast<HWND *>(found) = child;
    return FALSE;
}

/* Typing waits until the chooser has filled in its own start name. */
void CALLBACK typeAndConfirm(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    if (!chooserAnswer || !IsWindow(chooserWindow))
        return;
    /* The name field is a combo box (cmb13) with an edit inside; type into the edit. */
    HWND nameEdit = nullptr;
    EnumChildWindows(chooserWindow, findNameEdit, reinterpret_cast<LPARAM>(&nameEdit));
    if (nameEdit)
        SetWindowTextA(nameEdit, chooserAnswer->fileName);
    PostMessageA(chooserWindow, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

LRESULT CALLBACK answerChooser(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && chooserAnswer) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[32] = "";
        GetClassNameA(window, className, sizeof className);
        if (lstrcmpA(className, "#32770") == 0 && !GetPropA(window, "KestrovaTestSeen")) {
            SetPropA(window, "KestrovaTestSeen", reinterpret_cast<HANDLE>(1));
            char title[128] = "";
            GetWindowTextA(window, title, sizeof title);
            chooserAnswer->title = title;
            ++chooserAnswer->shown;
            if (chooserAnswer->fileName) {
                chooserWindow = window;
                SetTimer(nullptr, 0, 100, typeAndConfirm);
            } else {
                PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class BrowseTest : public MainFormTest {
protected:
    void SetUp() override
    {
        MainFormTest::SetUp();
        initFileChooser(form);
        chooserAnswer = &answer;
        chooserHook = SetWindowsHookExA(WH_CBT, answerChooser, nullptr, GetCurrentThreadId());
    }
    void TearDown() override
    {
        UnhookWindowsHookEx(chooserHook);
        chooserAnswer = nullptr;
        MainFormTest::TearDown();
    }
    ChooserAnswer answer;
};

const std::pair<int, int> kChooseCommands[] = {{IDC_MAIN_BROWSE, BN_CLICKED}, {IDM_FILE_NAME, 1}, {IDM_FILE_NAME, 0}};

}  // namespace

TEST_F(BrowseTest, CancellingTheChooserStillRefreshes)
{
    for (const auto &[id, code] : kChooseCommands) {
        SCOPED_TRACE("command " + std::to_string(id) + " code " + std::to_string(code));
        twoDisks(2000, 1000);
        std::strcpy(appState.imagePath, "Z:\\kept.iso");
        refresh();
        /* Changed behind the form's back: only a refresh shows them. */
        appState.transferSectors = 1234;
        appState.mode = TransferMode::DiskToDisk;
        paints = 0;
        const int shownBefore = answer.shown;

        command(id, code);
        EXPECT_EQ(answer.shown, shownBefore + 1);
        EXPECT_EQ(answer.title, "Select a image file");
        EXPECT_GE(paints, 1);
        EXPECT_STREQ(appState.imagePath, "Z:\\kept.iso");
        EXPECT_EQ(text(IDC_MAIN_PATH), "Z:\\kept.iso");
        EXPECT_EQ(appState.transferSectors, 1000) << "the refresh re-validated the size";
        EXPECT_EQ(text(IDC_MAIN_SIZE), "1000");
        EXPECT_TRUE(checked(IDC_MAIN_DISK_TO_DISK));
        appState.mode = TransferMode::DiskToFile;
    }
}

TEST_F(BrowseTest, ChosenFileShowsInThePathField)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    const std::string chosen = std::string(folder) + "kestrova-chosen.iso";
    answer.fileName = chosen.c_str();
    refresh();
    click(IDC_MAIN_BROWSE);
    EXPECT_EQ(answer.shown, 1);
    EXPECT_EQ(std::string(appState.imagePath), chosen);
    EXPECT_EQ(text(IDC_MAIN_PATH), chosen);
}
