/*
 * The resources exist in English and French. Which one the resource loader finds depends on
 * the thread's language, and its fallback order differs between systems, so the language is
 * selected once, explicitly, before the first resource is loaded.
 */
#include "ui_language.h"

LANGID chooseUiLanguage(LANGID userUiLanguage)
{
    return PRIMARYLANGID(userUiLanguage) == LANG_FRENCH ? kLanguageFrench : kLanguageEnglish;
}

LANGID applyUiLanguage()
{
    LANGID language = chooseUiLanguage(GetUserDefaultUILanguage());
    /* Wine looks at the thread locale first, Windows at the thread UI language: set both. */
    typedef LANGID(WINAPI * SetThreadUILanguageFn)(LANGID);
    auto setUiLanguage = reinterpret_cast<SetThreadUILanguageFn>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadUILanguage")));
    if (setUiLanguage)
        setUiLanguage(language);
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
    return language;
}
