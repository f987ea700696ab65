/* The bench's own SendASPI32Command: a busy wait, then the library's. */
#include "slowdown.h"
#include "app_state.h"
#include "aspi.h"
#include "bench_setup.h"

namespace {
SendASPI32CommandFn librarySend;
HMODULE library;
double extraSeconds;
}  // namespace

/* Exported from the bench program, so that GetProcAddress on its module finds it. */
extern "C" __declspec(dllexport) uint32_t __cdecl SendASPI32Command(void *requestBlock)
{
    const double until = nowSeconds() + extraSeconds;
    while (nowSeconds() < until) {
    }
    return librarySend(requestBlock);
}

SlowedTransfers::SlowedTransfers(double secondsPerRequest)
{
    librarySend = lookupSendCommand();
    library = appState.aspiLibrary;
    extraSeconds = secondsPerRequest;
    appState.aspiLibrary = GetModuleHandleA(nullptr);
}

SlowedTransfers::~SlowedTransfers()
{
    appState.aspiLibrary = library;
}
