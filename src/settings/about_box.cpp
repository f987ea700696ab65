/* The About box: name and version, the current I/O buffer size and the maker's contact lines. */
#include <cstdio>

#include "about_help.h"
#include "app_state.h"
#include "resource_ids.h"

namespace {

constexpr int kAboutTextSize = 64;

/* The two labels always show the values current at the last paint. */
void fillAboutLabels(HWND box)
{
    char text[kAboutTextSize] = "";
    std::snprintf(text, sizeof text, "Buffer: %dK", appState.bufferBlocks / 2);
    SetDlgItemTextA(box, IDC_ABOUT_BUFFER, text);
    text[0] = '\0';
    LoadStringA(appState.instance, IDS_TITLE, text, sizeof text);
    SetDlgItemTextA(box, IDC_ABOUT_VERSION, text);
}

}  // namespace

void showAboutBox(HWND owner)
{
    DialogBoxParamA(appState.instance, ABOUT_BOX_NAME, owner, AboutBoxProc, 0);
}

INT_PTR CALLBACK AboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_PAINT:
        fillAboutLabels(box);
        return FALSE;   /* the default handling paints the box */
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        /* Only OK closes the box: Cancel, which Escape produces, is left alone. */
        if (LOWORD(wParam) == IDC_OK && HIWORD(wParam) == BN_CLICKED) {
            EndDialog(box, 0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
