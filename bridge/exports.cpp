/*
 * The library's two entry points (__cdecl, undecorated names), over the one bridge of the
 * process. Calls are taken one at a time; each request is finished before its call returns.
 */
#include "bridge.h"

namespace {

CRITICAL_SECTION &bridgeLock()
{
    static CRITICAL_SECTION *lock = [] {
        static CRITICAL_SECTION section;
        InitializeCriticalSection(&section);
        return &section;
    }();
    return *lock;
}

Bridge &theBridge()
{
    static Bridge bridge;
    if (!bridge.win)
        bridge.win = &realWindowsCalls();
    return bridge;
}

/* Until the first GetASPI32SupportInfo there is no adapter: requests end with SS_INVALID_HA. */
void release(Bridge &b)
{
    releaseInventory(b);
    closeTrace(b);
}

}  // namespace

void bridgeUseWindows(const WindowsCalls *calls)
{
    EnterCriticalSection(&bridgeLock());
    Bridge &b = theBridge();
    release(b);
    b.win = calls ? calls : &realWindowsCalls();
    LeaveCriticalSection(&bridgeLock());
}

/* Called when the library leaves the process: the volume locks and handles go. */
void bridgeShutDown()
{
    EnterCriticalSection(&bridgeLock());
    release(theBridge());
    LeaveCriticalSection(&bridgeLock());
}

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void)
{
    EnterCriticalSection(&bridgeLock());
    DWORD result = bridgeSupportInfo(theBridge());
    LeaveCriticalSection(&bridgeLock());
    return result;
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void *requestBlock)
{
    EnterCriticalSection(&bridgeLock());
    DWORD result = bridgeSendCommand(theBridge(), requestBlock);
    LeaveCriticalSection(&bridgeLock());
    return result;
}

}  // extern "C"
