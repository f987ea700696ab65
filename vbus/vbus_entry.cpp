/* The library's two entry points and the bus they serve.
 *
 * The configuration is read at the first call after the library is loaded, and again at every
 * GetASPI32SupportInfo (a client binds with it once per load), never inside DllMain. A request
 * of a device in asynchronous mode returns SS_PENDING at once; a worker of the process's thread
 * pool carries it out after the configured delay and writes SRB_Status last (pool threads are
 * reused: creating a thread per request cost far more than the request). The worker holds a
 * reference to this module, released by the pool once the callback has returned, and to the
 * bus it started on, so FreeLibrary or a new configuration never pulls either from under it;
 * nothing waits for a worker. */
/* The thread pool calls need Vista or later; the bus runs under Wine and on test machines only. */
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include "vbus_bus.h"
#include "aspi_blocks.h"

namespace {

HMODULE thisModule;
CRITICAL_SECTION busLock;
std::shared_ptr<Bus> *loadedBus;   /* heap-held: nothing of it runs at process exit */
bool loadFailed;

std::string configPath()
{
    char path[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA("VBUS_CONFIG", path, sizeof path);
    if (n > 0 && n < sizeof path) {
        char full[MAX_PATH * 2];
        DWORD m = GetFullPathNameA(path, sizeof full, full, nullptr);
        return m > 0 && m < sizeof full ? std::string(full) : std::string(path);
    }
    n = GetModuleFileNameA(thisModule, path, sizeof path);
    std::string dll(path, n < sizeof path ? n : 0);
    size_t slash = dll.find_last_of("\\/");
    return (slash == std::string::npos ? std::string(".") : dll.substr(0, slash)) + "\\vbus.ini";
}

/* A device described again at the same address is the same drive: it goes on from where it
   was (a unit attention not yet reported, its motor), and notices a cartridge put in. */
void continueDrives(Bus &now, const std::vector<Device> &before)
{
    for (Device &d : now.devices)
        for (const Device &old : before)
            if (old.adapter == d.adapter && old.target == d.target)
                continueDrive(d, old);
}

/* The bus in use; `reload` reads the configuration again. Null after a configuration error. */
std::shared_ptr<Bus> currentBus(bool reload)
{
    EnterCriticalSection(&busLock);
    if (reload || (!*loadedBus && !loadFailed)) {
        /* A copy of what the devices were: the old bus goes first, and its image files with it. */
        std::vector<Device> before;
        if (*loadedBus)
            before = (*loadedBus)->devices;
        loadedBus->reset();
        std::string error;
        *loadedBus = loadBus(configPath(), error);
        loadFailed = !*loadedBus;
        if (loadFailed)
            logLine(error);
        else
            continueDrives(**loadedBus, before);
    }
    std::shared_ptr<Bus> bus = *loadedBus;
    LeaveCriticalSection(&busLock);
    return bus;
}

/* The final status goes last, after the data and every other field of the block. */
void publishStatus(uint8_t *block, uint8_t status)
{
    __atomic_store_n(&block[offsetof(SRB_Header, SRB_Status)], status, __ATOMIC_RELEASE);
}

struct PendingRequest {
    std::shared_ptr<Bus> bus;
    uint8_t *block;
    DWORD delayMs;
    HMODULE self;
};

void CALLBACK completeLater(PTP_CALLBACK_INSTANCE instance, void *param)
{
    PendingRequest *job = static_cast<PendingRequest *>(param);
    /* The module goes only after this function has returned into the pool. */
    FreeLibraryWhenCallbackReturns(instance, job->self);
    Sleep(job->delayMs);
    uint8_t status = runRequest(*job->bus, job->block);
    traceRequest(*job->bus, job->block, status);
    uint8_t *block = job->block;
    delete job;   /* may close the bus's files: before the client learns the request is over */
    publishStatus(block, status);
}

bool startWorker(const std::shared_ptr<Bus> &bus, uint8_t *block, int delayMs)
{
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&completeLater), &self))
        return false;
    PendingRequest *job = new PendingRequest{bus, block, DWORD(delayMs), self};
    if (!TrySubmitThreadpoolCallback(completeLater, job, nullptr)) {
        delete job;
        FreeLibrary(self);
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

DWORD __cdecl GetASPI32SupportInfo(void)
{
    std::shared_ptr<Bus> bus = currentBus(true);
    if (!bus)
        return DWORD(SS_BAD_INSTALL) << 8;
    return DWORD(bus->supportStatus) << 8 | DWORD(bus->adapterCount & 0xFF);
}

DWORD __cdecl SendASPI32Command(void *requestBlock)
{
    if (!requestBlock)
        return SS_INVALID_SRB;
    uint8_t *block = static_cast<uint8_t *>(requestBlock);
    std::shared_ptr<Bus> bus = currentBus(false);
    if (!bus) {
        publishStatus(block, SS_BAD_INSTALL);
        return SS_BAD_INSTALL;
    }
    Timing timing;
    uint8_t refused = acceptRequest(*bus, block, timing);
    if (refused) {
        traceRequest(*bus, block, refused);
        if (bus->refusalWritesStatus)
            publishStatus(block, refused);
        return refused;
    }
    if (timing.completion == Completion::Async) {
        block[offsetof(SRB_Header, SRB_Status)] = SS_PENDING;
        if (startWorker(bus, block, timing.delayMs))
            return SS_PENDING;
    }
    uint8_t status = runRequest(*bus, block);
    traceRequest(*bus, block, status);
    publishStatus(block, status);
    return status;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&busLock);
        loadedBus = new std::shared_ptr<Bus>();
        loadFailed = false;
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        /* FreeLibrary: no worker is left, each holds a reference to the module. At process
         * exit the other threads are gone mid-way; then nothing is touched. */
        delete loadedBus;
        loadedBus = nullptr;
        DeleteCriticalSection(&busLock);
    }
    return TRUE;
}

}  // extern "C"
