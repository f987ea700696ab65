/* Kestrova's entry point. */
#include "main_form.h"
#include "ui_language.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    applyUiLanguage();
    if (!registerMainFormClass(instance, "Kestrova"))
        return 0;
    if (!createMainForm(instance, showCommand, "Kestrova"))
        return 0;
    return runMessageLoop();
}
