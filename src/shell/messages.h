/*
 * What every part of the program says to the user: its message boxes and the texts of its
 * string table, in the user-interface language.
 */
#ifndef KESTROVA_MESSAGES_H
#define KESTROVA_MESSAGES_H

#include <windows.h>

/*
 * Every message box of the program goes through here: owner, caption, icon and buttons in one
 * place. Returns the button pressed (IDOK, IDYES, ...).
 */
int showMessage(HWND owner, const char *text, const char *caption, UINT type);

/* Loads string id of the user-interface language into resourceText and returns it. */
const char *loadResourceText(UINT id);

/* Loads string id into the caller's text of size bytes and returns it; empty when missing. */
const char *loadText(UINT id, char *text, int size);

#endif
