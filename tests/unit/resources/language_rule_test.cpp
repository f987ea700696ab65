/*
 * The language rule at work. Wine takes the user's language from LC_ALL when the process starts
 * (a child started with another LC_ALL in its environment still inherits the parent's language),
 * so the rule is tested by running this program under several locales: CMakeLists.txt adds one
 * test entry per locale, with the user language that Wine must report in
 * KESTROVA_EXPECTED_USER_LANGUAGE. Without it the checks run against whatever the user's
 * language is.
 */
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "resource_ids.h"
#include "ui_language.h"

namespace {

/* What the program's resources say in the language of this thread. */
struct Seen {
    std::string string;
    std::string menu;
    std::string dialog;
    std::string proceedKeys;
    bool icon = false;
    std::string aboutCaption;
};

Seen whatTheResourcesSay()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    Seen seen;
    char text[64] = "";
    LoadStringA(instance, IDS_REGISTRY_VALUE, text, sizeof text);
    seen.string = text;

    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDM_MAIN_MENU));
    text[0] = 0;
    GetMenuStringA(menu, 0, text, sizeof text, MF_BYPOSITION);
    seen.menu = text;
    DestroyMenu(menu);

    HWND dialog = CreateDialogParamA(instance, BUFFER_DIALOG_NAME, nullptr, nullptr, 0);
    text[0] = 0;
    GetWindowTextA(dialog, text, sizeof text);
    seen.dialog = text;
    DestroyWindow(dialog);

    HACCEL keys = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDA_MAIN_ACCELERATORS));
    ACCEL table[16];
    int count = CopyAcceleratorTableA(keys, table, 16);
    for (int i = 0; i < count; ++i)
        if (table[i].cmd == IDM_PROCEED)
            seen.proceedKeys += static_cast<char>(table[i].key);
    DestroyAcceleratorTable(keys);

    /* The icon exists in English only; the class and the About box find it in either language. */
    seen.icon = LoadIconA(instance, "Kestrova") != nullptr;
    HWND about = CreateDialogParamA(instance, ABOUT_BOX_NAME, nullptr, nullptr, 0);
    text[0] = 0;
    GetWindowTextA(about, text, sizeof text);
    seen.aboutCaption = text;
    HWND picture = GetWindow(about, GW_CHILD);
    while (picture && (GetWindowLongA(picture, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        picture = GetWindow(picture, GW_HWNDNEXT);
    seen.icon = seen.icon && picture && SendMessageA(picture, STM_GETICON, 0, 0) != 0;
    DestroyWindow(about);
    return seen;
}

void expectLanguage(const Seen &seen, bool french)
{
    EXPECT_EQ(seen.string, french ? "Buffer d'entr\xE9" "es sortie" : "IO buffer size");
    EXPECT_EQ(seen.menu, french ? "Fichier" : "File");
    EXPECT_EQ(seen.dialog, french ? "Param\xE8trage du buffer" : "Buffer settings");
    EXPECT_EQ(seen.proceedKeys, french ? "E" : "P");
    EXPECT_EQ(seen.aboutCaption, french ? "A propos de Kestrova" : "About Kestrova");
    EXPECT_TRUE(seen.icon);
}

} // namespace

TEST(LanguageRule, ResourcesComeInTheUsersLanguageOrEnglish)
{
    LANGID user = GetUserDefaultUILanguage();
    const char *expectedUser = getenv("KESTROVA_EXPECTED_USER_LANGUAGE");
    if (expectedUser) {
        EXPECT_EQ(user, static_cast<LANGID>(strtoul(expectedUser, nullptr, 16)))
            << "Wine took another user language from LC_ALL";
    }
    bool french = PRIMARYLANGID(user) == LANG_FRENCH;
    /* test_main applied the rule at start, as the program does */
    EXPECT_EQ(GetThreadLocale(), MAKELCID(french ? kLanguageFrench : kLanguageEnglish, SORT_DEFAULT));
    expectLanguage(whatTheResourcesSay(), french);
}

/* The rule does not depend on what the thread held before: it selects the language itself. */
TEST(LanguageRule, AppliedOverAnyEarlierThreadLanguage)
{
    bool french = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_FRENCH;
    for (LANGID before : {kLanguageEnglish, kLanguageFrench, static_cast<LANGID>(0x0407),
                          static_cast<LANGID>(0x0411)}) {
        SCOPED_TRACE(before);
        SetThreadLocale(MAKELCID(before, SORT_DEFAULT));
        EXPECT_EQ(applyUiLanguage(), french ? kLanguageFrench : kLanguageEnglish);
        expectLanguage(whatTheResourcesSay(), french);
    }
}
