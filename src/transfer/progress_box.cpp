/*
 * The progress box of a running transfer. The running transfer and the box share two fields of
 * appState: progressBox (the box, null once it is gone) and abortRequested (set by ABORT).
 */
#include "progress_box.h"
#include "app_state.h"
#include "resource_ids.h"
#include <commctrl.h>
#include <cstdio>

namespace {
/* The percentage shown last in the open box; below 0 before its first display. */
int lastPercent = -1;

void abortTransfer(HWND box)
{
    DestroyWindow(box);
    appState.abortRequested = 1;
    appState.progressBox = nullptr;
    EnableWindow(appState.mainForm, TRUE);
}
}  // namespace

HWND openProgressBox(const char *description)
{
    lastPercent = -1;
    appState.progressBox = CreateDialogParamA(appState.instance, PROGRESS_BOX_NAME, appState.mainForm,
                                              ProgressBoxProc, 0);
    if (appState.progressBox) {
        SetDlgItemTextA(appState.progressBox, IDC_PROGRESS_TEXT, description);
        ShowWindow(appState.progressBox, SW_SHOWNORMAL);
    }
    return appState.progressBox;
}

void showPercent(int percent)
{
    if (percent == lastPercent)
        return;
    lastPercent = percent;
    SendDlgItemMessageA(appState.progressBox, IDC_PROGRESS_BAR, PBM_SETPOS, WPARAM(percent), 0);
    std::snprintf(appState.scratchText, kScratchTextSize, "%2d%%", percent);
    SetDlgItemTextA(appState.progressBox, IDC_PROGRESS_PERCENT, appState.scratchText);
}

void closeProgressBox()
{
    /* After ABORT the box is gone already and there is nothing to close. */
    if (appState.progressBox)
        SendMessageA(appState.progressBox, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_CLICKED), 0);
}

INT_PTR CALLBACK ProgressBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        EnableWindow(appState.mainForm, FALSE);
        SetFocus(box);
        return TRUE;
    case WM_COMMAND:
        /* The ABORT button also reports focus changes (BS_NOTIFY); only a click counts, and
           Escape (IDCANCEL) does not close the box. */
        if (LOWORD(wParam) == IDC_ABORT && HIWORD(wParam) == BN_CLICKED) {
            abortTransfer(box);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
