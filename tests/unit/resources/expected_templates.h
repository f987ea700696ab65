/*
 * What the four window templates must hold, in both languages, written down from the program's
 * design tables independently of the resource scripts. Texts are code page 1252 bytes.
 */
#ifndef KESTROVA_TESTS_EXPECTED_TEMPLATES_H
#define KESTROVA_TESTS_EXPECTED_TEMPLATES_H

#include <windows.h>
#include <cstddef>

enum class Kind { GroupBox, Label, CentredText, EditField, DropDownList, PushButton, DefaultButton,
                  CheckBox, RadioButton, Icon, ProgressBar };

struct Box { short x, y, cx, cy; };
constexpr Box kSameAsEnglish = {-1, -1, -1, -1};

struct ExpectedControl {
    int id;
    Kind kind;
    const char *english;
    const char *french;
    Box englishBox;
    Box frenchBox;        /* kSameAsEnglish where the languages agree */
    DWORD furtherStyle;
    DWORD exStyle;
};

struct ExpectedTemplate {
    const char *name;
    bool extended;
    DWORD style;
    DWORD exStyle;
    Box box;
    const char *menu;       /* "#120" or "" */
    const char *className;  /* "" for the dialog class */
    const char *englishCaption;
    const char *frenchCaption;
    const ExpectedControl *controls;
    size_t controlCount;
};

/* The class and the full style that a control of this kind carries (visible child included). */
const char *kindClass(Kind kind);
DWORD kindStyle(Kind kind);

extern const ExpectedTemplate kMainFormTemplate;
extern const ExpectedTemplate kProgressBoxTemplate;
extern const ExpectedTemplate kBufferDialogTemplate;
extern const ExpectedTemplate kAboutBoxTemplate;

#endif
