/*
 * The main form: its window class, its creation from the dialog template, the window procedure
 * that routes its messages, the work done while it is created, the message loop and the
 * shutdown.
 */
#include "main_form.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "about_help.h"
#include "app_state.h"
#include "archive_options.h"
#include "aspi.h"
#include "buffer_setting.h"
#include "bus_scan.h"
#include "file_chooser.h"
#include "resource_ids.h"
#include "startup.h"

namespace {

/* Runs inside the creation call, before the form has its controls or is visible. */
void onMainFormCreate(HWND form)
{
    /* Before the scan, which may start stopped drives when the user asked for it. */
    restoreArchiveOptions();
    if (bindAspi(form)) {
        scanBus(form);
        initFileChooser(form);
        SetFocus(form);
    } else {
        /* The binding has shown its message: the loop ends as soon as it starts. */
        PostQuitMessage(0);
    }
    /* Read also when the program is about to end, so that a first start stores the default. */
    restoreBufferSize();
}

/*
 * Reached from the Quit command, which sends WM_DESTROY without destroying the form, and from
 * the close box. Messages can still arrive before the loop sees the quit request; the form
 * procedure then leaves the released buffers alone.
 */
void shutDownMainForm()
{
    if (appState.aspiLibrary) {
        FreeLibrary(appState.aspiLibrary);
        appState.aspiLibrary = nullptr;
    }
    releaseTextBuffers();
    PostQuitMessage(0);
}

}  // namespace

int takeTextBuffers()
{
    appState.scratchText = static_cast<char *>(std::malloc(kScratchTextSize));
    if (!appState.scratchText)
        return 0;
    appState.imagePath = static_cast<char *>(std::malloc(kPathBufferSize));
    if (!appState.imagePath) {
        releaseTextBuffers();
        return 0;
    }
    appState.helpDocPath = static_cast<char *>(std::malloc(kPathBufferSize));
    if (!appState.helpDocPath) {
        releaseTextBuffers();
        return 0;
    }
    return 1;
}

void releaseTextBuffers()
{
    std::free(appState.scratchText);
    std::free(appState.imagePath);
    std::free(appState.helpDocPath);
    appState.scratchText = nullptr;
    appState.imagePath = nullptr;
    appState.helpDocPath = nullptr;
}

bool textBuffersHeld()
{
    return appState.scratchText && appState.imagePath && appState.helpDocPath;
}

bool composeHelpDocPath(char *helpDocPath, const char *folder)
{
    std::string path = std::string(folder) + "\\" + kHelpDocumentName;
    bool fits = path.size() < static_cast<size_t>(kPathBufferSize);
    if (!fits)
        path = kHelpDocumentName;
    std::memcpy(helpDocPath, path.c_str(), path.size() + 1);
    return fits;
}

void fillHelpDocPath(char *helpDocPath)
{
    std::vector<char> folder(kPathBufferSize);
    DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
    if (length >= folder.size()) {
        /* A folder longer than a path buffer: length is the size it needs. */
        folder.resize(length + 1);
        length = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
    }
    if (length == 0 || length >= folder.size())
        folder[0] = '\0';
    if (composeHelpDocPath(helpDocPath, folder.data()))
        return;
    std::vector<char> shortFolder(folder.size());
    length = GetShortPathNameA(folder.data(), shortFolder.data(), static_cast<DWORD>(shortFolder.size()));
    if (length > 0 && length < shortFolder.size())
        composeHelpDocPath(helpDocPath, shortFolder.data());
}

int registerMainFormClass(HINSTANCE instance, const char *name)
{
    appState.accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDA_MAIN_ACCELERATORS));

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainFormProc;
    windowClass.cbClsExtra = 0;
    /* Required of a class that a dialog template names. */
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, name);
    windowClass.hIconSm = LoadIconA(instance, name);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    /* A colour index plus one: 1 is system colour 0. */
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(1);
    windowClass.lpszMenuName = nullptr;   /* the template brings menu 120 */
    windowClass.lpszClassName = name;
    return RegisterClassExA(&windowClass) != 0;
}

int createMainForm(HINSTANCE instance, int showCommand, const char *name)
{
    /* The creation handling loads strings through the instance. */
    appState.instance = instance;
    /* No dialog procedure: the class's MainFormProc gets every message. */
    HWND form = CreateDialogParamA(instance, name, nullptr, nullptr, 0);
    appState.mainForm = form;
    if (!form)
        return 0;
    ShowWindow(form, showCommand);
    return 1;
}

LRESULT CALLBACK MainFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        onMainFormCreate(window);
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_PAINT:
        /* Before start-up has taken the text buffers and after the shutdown, only the default
         * handling runs: it validates the update region. */
        if (textBuffersHeld())
            refreshMainForm(window);
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_DESTROY:
        shutDownMainForm();
        return 0;
    case WM_COMMAND:
        if (textBuffersHeld())
            onMainFormCommand(window, message, wParam, lParam);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int runMessageLoop()
{
    MSG message = {};
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (got == -1)
            return 0;
        /* No IsDialogMessageA: neither the form nor the buffer-size dialog gets dialog keys. */
        if (!TranslateAcceleratorA(appState.mainForm, appState.accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
