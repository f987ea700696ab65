/*
 * The templates as live windows: the behaviour that their styles give (digits-only size field,
 * automatic radio group, default buttons, missing close boxes, fixed-size main form, tab order),
 * and the accented texts as the program's ANSI calls read them.
 */
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <string>

#include "resource_ids.h"
#include "resource_reader.h"
#include "ui_language.h"

namespace {

INT_PTR CALLBACK quietDialog(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

/* A stand-in for the program's window class, which the main form's template names. */
void registerFormClass()
{
    static bool registered = false;
    if (registered)
        return;
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefDlgProcA;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "Kestrova";
    registered = RegisterClassExA(&windowClass) != 0;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
}

/* A window made from one template in one language, destroyed at the end of the scope. */
class TemplateWindow {
public:
    TemplateWindow(const char *name, LANGID language, HWND owner = nullptr)
    {
        registerFormClass();
        auto found = findResourceBytes(RT_DIALOG, name, language);
        if (found) {
            bytes_ = *found;
            window_ = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEA>(bytes_.data()),
                                                 owner, quietDialog, 0);
        }
    }
    ~TemplateWindow()
    {
        if (window_)
            DestroyWindow(window_);
    }
    TemplateWindow(const TemplateWindow &) = delete;
    TemplateWindow &operator=(const TemplateWindow &) = delete;

    HWND get() const { return window_; }
    HWND item(int id) const { return GetDlgItem(window_, id); }
    std::string text(int id) const
    {
        char buffer[128] = "";
        GetDlgItemTextA(window_, id, buffer, sizeof buffer);
        return buffer;
    }

private:
    std::vector<uint8_t> bytes_;
    HWND window_ = nullptr;
};

void pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

const LANGID kLanguages[] = {kLanguageEnglish, kLanguageFrench};

} // namespace

TEST(LiveTemplates, SizeFieldTakesDigitsOnly)
{
    TemplateWindow form(MAIN_FORM_NAME, kLanguageEnglish);
    ASSERT_TRUE(form.get());
    HWND size = form.item(IDC_MAIN_SIZE);
    for (char typed : std::string("12a-+ 3x.4")) {
        SendMessageA(size, WM_CHAR, static_cast<WPARAM>(typed), 0);
    }
    EXPECT_EQ(form.text(IDC_MAIN_SIZE), "1234");

    /* the path field takes anything */
    HWND path = form.item(IDC_MAIN_PATH);
    for (char typed : std::string("a-1.iso"))
        SendMessageA(path, WM_CHAR, static_cast<WPARAM>(typed), 0);
    EXPECT_EQ(form.text(IDC_MAIN_PATH), "a-1.iso");
}

TEST(LiveTemplates, ModeButtonsFormOneAutomaticGroup)
{
    TemplateWindow form(MAIN_FORM_NAME, kLanguageEnglish);
    ASSERT_TRUE(form.get());
    const int modes[] = {IDC_MAIN_DISK_TO_FILE, IDC_MAIN_FILE_TO_DISK, IDC_MAIN_DISK_TO_DISK};
    for (int clicked : modes) {
        SCOPED_TRACE(clicked);
        SendMessageA(form.item(clicked), BM_CLICK, 0, 0);
        pump();
        for (int mode : modes)
            EXPECT_EQ(IsDlgButtonChecked(form.get(), mode), mode == clicked ? BST_CHECKED : BST_UNCHECKED);
    }
    /* the check box is automatic too, and outside the group */
    SendMessageA(form.item(IDC_MAIN_SELECT_ALL), BM_CLICK, 0, 0);
    pump();
    EXPECT_EQ(IsDlgButtonChecked(form.get(), IDC_MAIN_SELECT_ALL), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(form.get(), IDC_MAIN_DISK_TO_DISK), BST_CHECKED);
}

TEST(LiveTemplates, MainFormIsAFixedSizeWindowOfItsOwnClass)
{
    TemplateWindow form(MAIN_FORM_NAME, kLanguageEnglish);
    ASSERT_TRUE(form.get());
    char className[32] = "";
    GetClassNameA(form.get(), className, sizeof className);
    EXPECT_EQ(lstrcmpiA(className, "Kestrova"), 0) << className;
    LONG style = GetWindowLongA(form.get(), GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & (WS_POPUP | WS_CHILD));
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(IsWindowVisible(form.get())) << "shown only by the program";
    EXPECT_TRUE(GetMenu(form.get()));
}

TEST(LiveTemplates, BoxesHaveNoCloseBoxAndTheirDefaultButton)
{
    TemplateWindow form(MAIN_FORM_NAME, kLanguageEnglish);
    ASSERT_TRUE(form.get());
    struct Case { const char *name; int defaultButton; };
    const Case cases[] = {{PROGRESS_BOX_NAME, IDC_ABORT}, {BUFFER_DIALOG_NAME, IDC_OK}, {ABOUT_BOX_NAME, IDC_OK}};
    for (LANGID language : kLanguages) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.name) + (language == kLanguageFrench ? " fr" : " en"));
            TemplateWindow box(c.name, language, form.get());
            ASSERT_TRUE(box.get());
            LONG style = GetWindowLongA(box.get(), GWL_STYLE);
            EXPECT_FALSE(style & WS_SYSMENU) << "no system menu, so no close box";
            EXPECT_TRUE(style & WS_CAPTION);
            EXPECT_EQ(GetWindow(box.get(), GW_OWNER), form.get());
            EXPECT_EQ(LOWORD(SendMessageA(box.get(), DM_GETDEFID, 0, 0)), c.defaultButton);
        }
    }
}

TEST(LiveTemplates, TabStopsOfTheKeyboardBoxes)
{
    TemplateWindow form(MAIN_FORM_NAME, kLanguageEnglish);
    TemplateWindow progress(PROGRESS_BOX_NAME, kLanguageEnglish, form.get());
    TemplateWindow about(ABOUT_BOX_NAME, kLanguageEnglish, form.get());
    ASSERT_TRUE(progress.get() && about.get());
    /* one tab stop each: its button */
    HWND abort = progress.item(IDC_ABORT);
    EXPECT_EQ(GetNextDlgTabItem(progress.get(), abort, FALSE), abort);
    HWND ok = about.item(IDC_OK);
    EXPECT_EQ(GetNextDlgTabItem(about.get(), ok, FALSE), ok);
}

TEST(LiveTemplates, DropDownListsKeepTheOrderOfTheirItems)
{
    TemplateWindow form(MAIN_FORM_NAME, kLanguageEnglish);
    TemplateWindow buffer(BUFFER_DIALOG_NAME, kLanguageEnglish, form.get());
    ASSERT_TRUE(buffer.get());
    HWND list = buffer.item(IDC_BUFFER_LIST);
    for (const char *item : {"64", "4", "32", "8"})
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    /* Sorted, they would read 32, 4, 64, 8. */
    std::vector<std::string> items;
    for (int index = 0; index < 4; ++index) {
        char text[8] = "";
        SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    EXPECT_EQ(items, (std::vector<std::string>{"64", "4", "32", "8"}));
    /* a drop-down list: no typing into it */
    EXPECT_EQ(GetWindowLongA(list, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
}

/* The ANSI calls hand the French texts over as single bytes of code page 1252. */
TEST(LiveTemplates, AccentedTextsReadAsCodePage1252)
{
    ASSERT_EQ(GetACP(), 1252u) << "the program's texts are code page 1252";
    TemplateWindow form(MAIN_FORM_NAME, kLanguageFrench);
    ASSERT_TRUE(form.get());
    EXPECT_EQ(form.text(IDC_MAIN_BROWSE), "S\xE9lectionner");
    TemplateWindow buffer(BUFFER_DIALOG_NAME, kLanguageFrench, form.get());
    char caption[64] = "";
    GetWindowTextA(buffer.get(), caption, sizeof caption);
    EXPECT_STREQ(caption, "Param\xE8trage du buffer");
}
