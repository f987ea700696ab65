/* The About box and the help launcher. */
#ifndef KESTROVA_ABOUT_HELP_H
#define KESTROVA_ABOUT_HELP_H

#include <windows.h>

void showAboutBox(HWND owner);
INT_PTR CALLBACK AboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
void launchHelp(HWND owner);

#endif
