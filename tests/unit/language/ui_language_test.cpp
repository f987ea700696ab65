#include <gtest/gtest.h>
#include "ui_language.h"

TEST(UiLanguage, FrenchOnlyForFrenchUsers)
{
    struct Case { LANGID user; LANGID expected; };
    const Case cases[] = {
        {0x040C, kLanguageFrench},   /* French (France) */
        {0x0C0C, kLanguageFrench},   /* French (Canada) */
        {0x100C, kLanguageFrench},   /* French (Switzerland) */
        {0x0409, kLanguageEnglish},
        {0x0809, kLanguageEnglish},  /* English (United Kingdom) */
        {0x0407, kLanguageEnglish},  /* German gets English */
        {0x0411, kLanguageEnglish},  /* Japanese gets English */
        {0x0000, kLanguageEnglish},
    };
    for (const Case &c : cases)
        EXPECT_EQ(chooseUiLanguage(c.user), c.expected) << std::hex << c.user;
}
