/*
 * Shows one of the program's windows straight from its template, in the language that the
 * program's rule picks for this user, for screenshots of the resources:
 *
 *     resources_viewer.exe main|progress|buffer|about <ready-file>
 *
 * The boxes are shown over a main form, their owner, where the program places them. When the
 * windows are up, the viewer writes the screen rectangle that holds them to <ready-file>
 * ("left top right bottom") and runs until <ready-file>.done exists (at most 30 seconds).
 * The placeholders of the templates are left as they are, so that what is seen is the template.
 */
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "resource_ids.h"
#include "ui_language.h"

namespace {

INT_PTR CALLBACK quietDialog(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

bool registerFormClass(HINSTANCE instance)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefDlgProcA;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, "Kestrova");
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "Kestrova";
    return RegisterClassExA(&windowClass) != 0;
}

bool fileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    applyUiLanguage();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    if (__argc < 3 || !registerFormClass(instance))
        return 2;
    const std::string which = __argv[1];
    const std::string readyFile = __argv[2];

    HWND form = CreateDialogParamA(instance, MAIN_FORM_NAME, nullptr, quietDialog, 0);
    if (!form)
        return 3;
    ShowWindow(form, SW_SHOWNORMAL);
    RECT area;
    GetWindowRect(form, &area);

    const char *boxName = which == "progress" ? PROGRESS_BOX_NAME
                        : which == "buffer"   ? BUFFER_DIALOG_NAME
                        : which == "about"    ? ABOUT_BOX_NAME
                                              : nullptr;
    if (boxName) {
        HWND box = CreateDialogParamA(instance, boxName, form, quietDialog, 0);
        if (!box)
            return 4;
        ShowWindow(box, SW_SHOWNORMAL);
        RECT boxArea;
        GetWindowRect(box, &boxArea);
        UnionRect(&area, &area, &boxArea);
    }
    UpdateWindow(form);

    /* Let every window paint before the rectangle tells the script to look. */
    DWORD start = GetTickCount();
    bool announced = false;
    MSG message;
    while (GetTickCount() - start < 30000) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (!announced && GetTickCount() - start > 700) {
            FILE *out = fopen((readyFile + ".tmp").c_str(), "w");
            if (out) {
                fprintf(out, "%ld %ld %ld %ld\n", area.left, area.top, area.right, area.bottom);
                fclose(out);
                MoveFileA((readyFile + ".tmp").c_str(), readyFile.c_str());
            }
            announced = true;
        }
        if (announced && fileExists(readyFile + ".done"))
            break;
        Sleep(20);
    }
    DestroyWindow(form);
    return 0;
}
