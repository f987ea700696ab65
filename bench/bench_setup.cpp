/* The benchmark's program state, bus configuration, clocks and message box guard. */
#include "bench_setup.h"
#include "app_state.h"
#include "aspi.h"
#include <psapi.h>
#include <cstdio>

namespace {
char imagePathBuffer[kPathBufferSize];
char helpPathBuffer[kPathBufferSize];
char scratchTextBuffer[kScratchTextSize];
HHOOK guardHook;
int unexpectedBoxes;

LRESULT CALLBACK formProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

/* A message box is a dialog of the system class with a static text 0xFFFF. */
LRESULT CALLBACK guardBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND window = HWND(wParam);
        char className[16] = "";
        GetClassNameA(window, className, sizeof className);
        if (window != appState.progressBox && lstrcmpA(className, "#32770") == 0 &&
            GetDlgItem(window, 0xFFFF)) {
            char caption[64] = "", text[300] = "";
            GetWindowTextA(window, caption, sizeof caption);
            GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
            std::printf("!! unexpected message box \"%s\": %s\n", caption, text);
            std::fflush(stdout);
            unexpectedBoxes++;
            PostMessageA(window, WM_COMMAND, IDNO, 0);
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(guardHook, code, wParam, lParam);
}
}  // namespace

void initBenchState()
{
    appState.instance = GetModuleHandleA(nullptr);
    appState.imagePath = imagePathBuffer;
    appState.helpDocPath = helpPathBuffer;
    appState.scratchText = scratchTextBuffer;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = formProc;
    windowClass.hInstance = appState.instance;
    windowClass.lpszClassName = "KestrovaBenchForm";
    RegisterClassA(&windowClass);
    appState.mainForm = CreateWindowA("KestrovaBenchForm", "Kestrova bench", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200,
                                      nullptr, nullptr, appState.instance, nullptr);
    guardHook = SetWindowsHookExA(WH_CBT, guardBoxes, nullptr, GetCurrentThreadId());
}

int loadBusConfig(const std::string &folder, const std::string &name, const std::string &text)
{
    std::string path = folder + "\\" + name;
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return -1;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    SetEnvironmentVariableA("VBUS_CONFIG", path.c_str());

    if (!appState.aspiLibrary)
        return bindAspi(appState.mainForm) ? appState.adapterCount : -1;
    /* The library reads its configuration again at every support inquiry. */
    using SupportInfoFn = DWORD(__cdecl *)();
    auto supportInfo = reinterpret_cast<SupportInfoFn>(
        reinterpret_cast<void *>(GetProcAddress(appState.aspiLibrary, "GetASPI32SupportInfo")));
    DWORD support = supportInfo ? supportInfo() : 0;
    if (((support >> 8) & 0xFF) != SS_COMP)
        return -1;
    appState.adapterCount = uint8_t(support & 0xFF) > kMaxAdapters ? kMaxAdapters : uint8_t(support & 0xFF);
    return appState.adapterCount;
}

int unexpectedMessageBoxes()
{
    int count = unexpectedBoxes;
    unexpectedBoxes = 0;
    return count;
}

double nowSeconds()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

double cpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto seconds = [](const FILETIME &t) {
        return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

MemoryFigures memoryFigures()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return {counters.PeakWorkingSetSize / kMiB, counters.PeakPagefileUsage / kMiB, counters.WorkingSetSize / kMiB,
            counters.PagefileUsage / kMiB};
}
