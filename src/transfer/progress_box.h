/* The progress box of a running transfer: description, bar, percentage and ABORT. */
#ifndef KESTROVA_PROGRESS_BOX_H
#define KESTROVA_PROGRESS_BOX_H

#include <windows.h>

/* Creates and shows the box (disabling the main form); progressBox holds it. */
HWND openProgressBox(const char *description);
/* Shows percent when it differs from the last value shown in this box (always the first time). */
void showPercent(int percent);
/* Runs the box's own ABORT handling; nothing when the box is already gone. */
void closeProgressBox();

INT_PTR CALLBACK ProgressBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);

#endif
