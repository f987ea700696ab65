/* The one user-interface language of a run: French for a French user, English otherwise. */
#ifndef KESTROVA_UI_LANGUAGE_H
#define KESTROVA_UI_LANGUAGE_H

#include <windows.h>

constexpr LANGID kLanguageEnglish = 0x0409;
constexpr LANGID kLanguageFrench = 0x040C;

/* The language of the program's resources for a user interface language. */
LANGID chooseUiLanguage(LANGID userUiLanguage);

/* Selects the resources of the user's language for this thread; returns the language chosen. */
LANGID applyUiLanguage();

#endif
