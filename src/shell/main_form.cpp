/* The main form (a first version: the window class, the form and the message loop). */
#include "main_form.h"
#include "app_state.h"

int registerMainFormClass(HINSTANCE instance, const char *name)
{
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainFormProc;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(1);
    windowClass.lpszClassName = name;
    return RegisterClassExA(&windowClass) != 0;
}

int createMainForm(HINSTANCE instance, int showCommand, const char *name)
{
    appState.instance = instance;
    appState.mainForm = CreateDialogParamA(instance, name, nullptr, nullptr, 0);
    if (!appState.mainForm)
        return 0;
    ShowWindow(appState.mainForm, showCommand);
    return 1;
}

LRESULT CALLBACK MainFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int runMessageLoop()
{
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
