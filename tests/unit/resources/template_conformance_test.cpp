/*
 * The four window templates as compiled into the program, read back in English and in French
 * and compared, control by control, with the expected tables.
 */
#include <gtest/gtest.h>

#include "expected_templates.h"
#include "resource_reader.h"
#include "ui_language.h"

namespace {

bool sameIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(),
                                                  static_cast<int>(a.size()), b.data(),
                                                  static_cast<int>(b.size())) == CSTR_EQUAL;
}

void expectBox(const Box &expected, short x, short y, short cx, short cy)
{
    EXPECT_EQ(x, expected.x);
    EXPECT_EQ(y, expected.y);
    EXPECT_EQ(cx, expected.cx);
    EXPECT_EQ(cy, expected.cy);
}

void checkTemplate(const ExpectedTemplate &expected, LANGID language)
{
    const bool french = language == kLanguageFrench;
    SCOPED_TRACE(std::string(expected.name) + (french ? " (French)" : " (English)"));

    auto bytes = findResourceBytes(RT_DIALOG, expected.name, language);
    ASSERT_TRUE(bytes) << "no template in this language";
    DialogTemplate dialog;
    ASSERT_TRUE(parseDialogTemplate(*bytes, dialog));

    EXPECT_EQ(dialog.extended, expected.extended);
    EXPECT_EQ(dialog.style, expected.style) << std::hex << dialog.style;
    EXPECT_EQ(dialog.exStyle, expected.exStyle) << std::hex << dialog.exStyle;
    expectBox(expected.box, dialog.x, dialog.y, dialog.cx, dialog.cy);
    EXPECT_EQ(dialog.menu, expected.menu);
    /* The resource compiler stores the class name in upper case; window classes are matched
     * without regard to case. */
    EXPECT_TRUE(sameIgnoringCase(dialog.className, expected.className)) << dialog.className;
    EXPECT_EQ(dialog.caption, french ? expected.frenchCaption : expected.englishCaption);

    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.face, "MS Sans Serif");
    if (expected.extended) {
        EXPECT_EQ(dialog.weight, 0);
        EXPECT_EQ(dialog.italic, 0);
        EXPECT_EQ(dialog.charset, DEFAULT_CHARSET);
    }

    ASSERT_EQ(dialog.items.size(), expected.controlCount);
    for (size_t i = 0; i < expected.controlCount; ++i) {
        const ExpectedControl &want = expected.controls[i];
        const TemplateItem &item = dialog.items[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + " id " + std::to_string(want.id));
        EXPECT_EQ(item.id, want.id);
        EXPECT_TRUE(sameIgnoringCase(item.className, kindClass(want.kind))) << item.className;
        DWORD style = kindStyle(want.kind) | want.furtherStyle;
        EXPECT_EQ(item.style, style) << std::hex << item.style << " instead of " << style;
        EXPECT_EQ(item.exStyle, want.exStyle) << std::hex << item.exStyle;
        const char *text = french ? want.french : want.english;
        if (text)
            EXPECT_EQ(item.text, text);
        else
            EXPECT_FALSE(item.text.empty());
        const Box &box = french && want.frenchBox.x != -1 ? want.frenchBox : want.englishBox;
        expectBox(box, item.x, item.y, item.cx, item.cy);
        EXPECT_EQ(item.extraBytes, 0);
    }
}

void checkBothLanguages(const ExpectedTemplate &expected)
{
    checkTemplate(expected, kLanguageEnglish);
    checkTemplate(expected, kLanguageFrench);
}

DialogTemplate readTemplate(const char *name, LANGID language)
{
    DialogTemplate dialog;
    auto bytes = findResourceBytes(RT_DIALOG, name, language);
    if (bytes)
        parseDialogTemplate(*bytes, dialog);
    return dialog;
}

} // namespace

TEST(WindowTemplates, MainForm) { checkBothLanguages(kMainFormTemplate); }
TEST(WindowTemplates, ProgressBox) { checkBothLanguages(kProgressBoxTemplate); }
TEST(WindowTemplates, BufferDialog) { checkBothLanguages(kBufferDialogTemplate); }
TEST(WindowTemplates, AboutBox) { checkBothLanguages(kAboutBoxTemplate); }

TEST(WindowTemplates, OnlyEnglishAndFrench)
{
    for (const char *name : {"KESTROVA", "PROCEEDBOX", "BUFFER", "ABOUTBOX"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(resourceLanguages(RT_DIALOG, name),
                  (std::vector<LANGID>{kLanguageEnglish, kLanguageFrench}));
    }
}

/* The radio buttons are listed 1033, 1034, 1035 but stand 1034, 1033, 1035 from the top. */
TEST(WindowTemplates, ModeButtonsStandFileToDiskFirst)
{
    for (LANGID language : {kLanguageEnglish, kLanguageFrench}) {
        DialogTemplate form = readTemplate("KESTROVA", language);
        auto top = [&](int id) {
            for (const TemplateItem &item : form.items)
                if (item.id == id)
                    return static_cast<int>(item.y);
            return -1;
        };
        ASSERT_GT(top(1033), 0);
        EXPECT_LT(top(1034), top(1033));
        EXPECT_LT(top(1033), top(1035));
    }
}

/* Both languages have the same controls, ids, kinds and order; only texts and a few boxes differ. */
TEST(WindowTemplates, LanguagesShareTheirControls)
{
    for (const char *name : {"KESTROVA", "PROCEEDBOX", "BUFFER", "ABOUTBOX"}) {
        SCOPED_TRACE(name);
        DialogTemplate english = readTemplate(name, kLanguageEnglish);
        DialogTemplate french = readTemplate(name, kLanguageFrench);
        ASSERT_EQ(english.items.size(), french.items.size());
        EXPECT_EQ(english.style, french.style);
        EXPECT_EQ(english.exStyle, french.exStyle);
        for (size_t i = 0; i < english.items.size(); ++i) {
            EXPECT_EQ(english.items[i].id, french.items[i].id);
            EXPECT_EQ(english.items[i].className, french.items[i].className);
            EXPECT_EQ(english.items[i].style, french.items[i].style);
            EXPECT_EQ(english.items[i].exStyle, french.items[i].exStyle);
        }
    }
}
