/*
 * The main form. main_form.cpp: its class, creation, window procedure, message loop and
 * shutdown. main_form_refresh.cpp: the refresh from the shared state. main_form_commands.cpp:
 * the commands.
 */
#ifndef KESTROVA_MAIN_FORM_H
#define KESTROVA_MAIN_FORM_H

#include <windows.h>
#include "app_state.h"

/* main_form.cpp */
int registerMainFormClass(HINSTANCE instance, const char *name);
int createMainForm(HINSTANCE instance, int showCommand, const char *name);
LRESULT CALLBACK MainFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int runMessageLoop();   /* until the quit request; returns the exit code it carries */

/* main_form_refresh.cpp */
void refreshMainForm(HWND form);
void deviceInfoText(const DeviceRecord &device);   /* into scratchText */
void applyModeToControls(HWND form, TransferMode mode);

/* main_form_commands.cpp */
LRESULT onMainFormCommand(HWND form, UINT message, WPARAM wParam, LPARAM lParam);
void onSizeChanged(HWND form);
void onSelectAll(HWND form);
void requestRefresh(HWND form);   /* sends WM_PAINT: the whole form is rebuilt */

#endif
