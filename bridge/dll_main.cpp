/* The library's entry: the locks and handles are released when it is unloaded with FreeLibrary
 * (at process exit Windows closes them anyway, and other threads may be gone mid-way). */
#include "bridge.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    else if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        bridgeShutDown();
    return TRUE;
}
