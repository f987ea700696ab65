/*
 * Stand-ins for a broken wnaspi32.dll, for the binding's failure paths the virtual bus does
 * not offer: a library that refuses to load, one without GetASPI32SupportInfo, and one with
 * GetASPI32SupportInfo but without SendASPI32Command. Built once per variant.
 */
#include <windows.h>

extern "C" {

#ifdef BROKEN_ASPI_EXPORTS_SUPPORT_INFO
/* ASPI usable, two adapters */
__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) { return 0x0102; }
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
#ifdef BROKEN_ASPI_REFUSES_TO_LOAD
    if (reason == DLL_PROCESS_ATTACH)
        return FALSE;
#else
    (void)reason;
#endif
    return TRUE;
}

}  // extern "C"
