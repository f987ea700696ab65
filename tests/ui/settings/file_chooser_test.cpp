/*
 * The image file chooser: the record initFileChooser prepares, and the platform's open-file
 * dialog driven from inside its own loop (title, filters, starting name, default extension, the
 * pair chosen last, Cancel, and a path too long for imagePath).
 */
#include <gtest/gtest.h>

#include <windows.h>
#include <cderr.h>
#include <dlgs.h>
#include <cstring>
#include <string>

#include "app_state.h"
#include "file_chooser.h"
#include "message_box_watch.h"
#include "settings_support.h"

namespace {

constexpr char kTitle[] = "Select a image file";

std::string temporaryFolder()
{
    char base[MAX_PATH] = "";
    GetTempPathA(sizeof base, base);
    std::string folder = std::string(base) + "kestrova-chooser-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void writeEmptyFile(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
}

/* The file name field: a combo box in newer dialogs, an edit field in older ones. */
HWND fileNameField(HWND dialog)
{
    HWND field = GetDlgItem(dialog, cmb13);
    return field ? field : GetDlgItem(dialog, edt1);
}

struct DialogSeen {
    bool shown = false;
    std::string title;
    std::string startName;
    int filterCount = 0;
    std::string filters[2];
    int filterSelected = -1;
    bool readOnlyBoxVisible = false;
};

class FileChooserTest : public testing::Test {
protected:
    void SetUp() override
    {
        form = createStandInForm();
        appState.mainForm = form;
        initFileChooser(form);
        std::memset(path, 0, sizeof path);
        std::strcpy(path, ".\\NewFile.iso");
    }
    void TearDown() override { DestroyWindow(form); }

    /* Opens the chooser; when it shows, looks at it, then types name (when given) and confirms
     * it, or cancels it. Returns the chooser's result. */
    BOOL choose(const char *name, int filterIndex = -1)
    {
        WhenWindowAppears driver([] { return findThreadWindow(kTitle); },
                                 [&](HWND dialog) {
                                     seen.shown = true;
                                     seen.title = windowText(dialog);
                                     seen.startName = windowText(fileNameField(dialog));
                                     HWND filters = GetDlgItem(dialog, cmb1);
                                     seen.filterCount = static_cast<int>(SendMessageA(filters, CB_GETCOUNT, 0, 0));
                                     for (int i = 0; i < 2 && i < seen.filterCount; ++i) {
                                         char text[128] = "";
                                         SendMessageA(filters, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
                                         seen.filters[i] = text;
                                     }
                                     seen.filterSelected = static_cast<int>(SendMessageA(filters, CB_GETCURSEL, 0, 0));
                                     HWND readOnly = GetDlgItem(dialog, chx1);
                                     seen.readOnlyBoxVisible = readOnly && IsWindowVisible(readOnly);
                                     if (filterIndex >= 0) {
                                         SendMessageA(filters, CB_SETCURSEL, filterIndex, 0);
                                         SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELENDOK),
                                                      reinterpret_cast<LPARAM>(filters));
                                     }
                                     if (name) {
                                         SetWindowTextA(fileNameField(dialog), name);
                                         PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                                     } else {
                                         PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                                     }
                                 });
        seen = DialogSeen();
        BOOL result = chooseImageFile(form, path, kTitle);
        EXPECT_TRUE(driver.ran()) << "the chooser did not show";
        return result;
    }

    MessageBoxWatch watch;
    HWND form = nullptr;
    char path[kPathBufferSize];
    DialogSeen seen;
};

TEST_F(FileChooserTest, InitSetsEveryFieldOfTheRequest)
{
    const OPENFILENAMEA &request = chooserRequest;
    EXPECT_EQ(request.lStructSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A));
#ifndef _WIN64
    EXPECT_EQ(request.lStructSize, 76u);
#endif
    EXPECT_EQ(request.hwndOwner, form);
    EXPECT_EQ(request.hInstance, nullptr);
    ASSERT_NE(request.lpstrFilter, nullptr);
    const char expectedFilters[] = "ISO Files (*.ISO)\0*.iso\0Other files (*.*)\0*.*\0";
    EXPECT_EQ(std::memcmp(request.lpstrFilter, expectedFilters, sizeof expectedFilters), 0);
    EXPECT_EQ(request.lpstrCustomFilter, nullptr);
    EXPECT_EQ(request.nMaxCustFilter, 0u);
    EXPECT_EQ(request.nFilterIndex, 0u);
    EXPECT_EQ(request.lpstrFile, nullptr);
    EXPECT_EQ(request.nMaxFile, 260u);
    EXPECT_EQ(request.lpstrFileTitle, nullptr);
    EXPECT_EQ(request.nMaxFileTitle, 512u);
    EXPECT_EQ(request.lpstrInitialDir, nullptr);
    EXPECT_EQ(request.lpstrTitle, nullptr);
    EXPECT_EQ(request.Flags, 0u);
    EXPECT_STREQ(request.lpstrDefExt, "iso");
    EXPECT_EQ(request.lCustData, 0);
    EXPECT_EQ(request.lpfnHook, nullptr);
    EXPECT_EQ(request.lpTemplateName, nullptr);
}

TEST_F(FileChooserTest, CancelLeavesThePathAsItWas)
{
    EXPECT_FALSE(choose(nullptr));
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, kTitle);
    EXPECT_STREQ(path, ".\\NewFile.iso");
    EXPECT_EQ(chooserRequest.Flags, static_cast<DWORD>(OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY));
    EXPECT_EQ(chooserRequest.lpstrFile, path);
    EXPECT_EQ(chooserRequest.hwndOwner, form);
}

TEST_F(FileChooserTest, ShowsTheFiltersAndTheStartingNameWithoutAReadOnlyBox)
{
    choose(nullptr);
    /* The dialog shows the folder part apart: the name field holds the file's name. */
    EXPECT_TRUE(endsWith(seen.startName, "NewFile.iso")) << seen.startName;
    ASSERT_EQ(seen.filterCount, 2);
    EXPECT_EQ(seen.filters[0], "ISO Files (*.ISO)");
    EXPECT_EQ(seen.filters[1], "Other files (*.*)");
    EXPECT_EQ(seen.filterSelected, 0);
    EXPECT_FALSE(seen.readOnlyBoxVisible);
}

TEST_F(FileChooserTest, NameOfAFileThatDoesNotExistYetIsAccepted)
{
    std::string folder = temporaryFolder();
    std::string name = folder + "\\backup-" + std::to_string(GetTickCount()) + ".iso";
    EXPECT_TRUE(choose(name.c_str()));
    EXPECT_EQ(std::string(path), name);
    EXPECT_EQ(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES) << "the chooser creates no file";
}

TEST_F(FileChooserTest, TypedNameWithoutExtensionGetsIso)
{
    /* Wine's open dialog adds the default extension when the file with it exists (for a new
     * name it gives the name back as typed). */
    std::string folder = temporaryFolder();
    std::string name = folder + "\\sampler";
    writeEmptyFile(name + ".iso");
    EXPECT_TRUE(choose(name.c_str()));
    EXPECT_EQ(std::string(path), name + ".iso");
}

TEST_F(FileChooserTest, PairChosenLastIsWhereTheNextDialogStarts)
{
    std::string folder = temporaryFolder();
    std::string name = folder + "\\notes.txt";
    EXPECT_TRUE(choose(name.c_str(), 1));
    EXPECT_EQ(std::string(path), name);
    EXPECT_EQ(chooserRequest.nFilterIndex, 2u);

    choose(nullptr);
    EXPECT_EQ(seen.filterSelected, 1) << "the next dialog should open on \"Other files (*.*)\"";
    EXPECT_TRUE(endsWith(seen.startName, "notes.txt")) << seen.startName;
}

TEST_F(FileChooserTest, PathTooLongForTheBufferKeepsThePreviousOne)
{
    /* Wine's dialog cannot itself handle paths of 260 characters, so the buffer is announced
     * smaller here: the dialog then reports it too small, as it would for imagePath. */
    std::string folder = temporaryFolder();
    std::string name = folder + "\\long-name.iso";
    chooserRequest.nMaxFile = static_cast<DWORD>(name.size() - 4);
    EXPECT_FALSE(choose(name.c_str()));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
    EXPECT_STREQ(path, ".\\NewFile.iso");
}

}  // namespace
