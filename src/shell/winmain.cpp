/* Kestrova's entry point: start-up, the message loop, and the exit status (always 0). */
#include <windows.h>
#include <commctrl.h>
#include <cstring>

#include "app_state.h"
#include "main_form.h"
#include "startup.h"
#include "ui_language.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    applyUiLanguage();

    appState.sourceAdapter = 0;
    appState.sourceDevice = 0;
    appState.targetAdapter = 0;
    appState.targetDevice = 0;
    appState.transferSectors = 0;
    appState.mode = TransferMode::DiskToFile;

    if (!registerMainFormClass(instance, "Kestrova"))
        return 0;
    if (!createMainForm(instance, showCommand, "Kestrova"))
        return 0;
    if (!takeTextBuffers())
        return 0;
    std::strcpy(appState.imagePath, ".\\NewFile.iso");
    /* The progress bar of the progress box needs the common controls. */
    InitCommonControls();
    fillHelpDocPath(appState.helpDocPath);
    return runMessageLoop();
}
