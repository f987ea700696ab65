/* The main form: its window class, its creation and its window procedure, and the message loop. */
#ifndef KESTROVA_MAIN_FORM_H
#define KESTROVA_MAIN_FORM_H

#include <windows.h>

int registerMainFormClass(HINSTANCE instance, const char *name);
int createMainForm(HINSTANCE instance, int showCommand, const char *name);
LRESULT CALLBACK MainFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/* Runs until the quit request; returns the exit code it carries. */
int runMessageLoop();

#endif
