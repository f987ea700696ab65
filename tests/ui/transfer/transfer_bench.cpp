/* The transfer tests' bench: window, buffers, image folder, virtual bus and progress watch. */
#include "transfer_bench.h"
#include "app_state.h"
#include "aspi_blocks.h"
#include "resource_ids.h"
#include <commctrl.h>
#include <cstdio>
#include <algorithm>
#include <fstream>

namespace {
char imagePathBuffer[kPathBufferSize];
char scratchTextBuffer[kScratchTextSize];

ProgressRecord record;
int actionPosition = -1;
BoxAction pendingAction = BoxAction::None;

const char kFormClass[] = "KestrovaTransferBenchForm";

LRESULT CALLBACK formProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER + 1)
        record.formMessages++;
    return DefWindowProcA(window, message, wParam, lParam);
}

bool isProgressBox(HWND window)
{
    return window && window == appState.progressBox;
}

void perform(HWND box, BoxAction action);

LRESULT CALLBACK watchProgress(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const CWPSTRUCT &call = *reinterpret_cast<const CWPSTRUCT *>(lParam);
        HWND parent = GetParent(call.hwnd);
        if (call.message == WM_INITDIALOG && GetDlgItem(call.hwnd, IDC_PROGRESS_BAR)) {
            record.boxesOpened++;
        } else if (call.message == WM_DESTROY && GetDlgItem(call.hwnd, IDC_PROGRESS_BAR)) {
            record.boxesDestroyed++;
        } else if (call.message == PBM_SETPOS && GetDlgCtrlID(call.hwnd) == IDC_PROGRESS_BAR) {
            record.positions.push_back(int(call.wParam));
            if (IsWindowEnabled(appState.mainForm))
                record.formDisabledWhileOpen = false;
            if (int(call.wParam) == actionPosition && pendingAction != BoxAction::None) {
                perform(parent, pendingAction);
                pendingAction = BoxAction::None;
            }
        } else if (call.message == WM_SETTEXT && isProgressBox(parent)) {
            const char *text = reinterpret_cast<const char *>(call.lParam);
            if (GetDlgCtrlID(call.hwnd) == IDC_PROGRESS_PERCENT)
                record.labels.push_back(text ? text : "");
            else if (GetDlgCtrlID(call.hwnd) == IDC_PROGRESS_TEXT)
                record.description = text ? text : "";
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void postKey(HWND box, WPARAM key)
{
    HWND focus = GetFocus();
    HWND target = focus && (focus == box || IsChild(box, focus)) ? focus : GetDlgItem(box, IDC_ABORT);
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

void perform(HWND box, BoxAction action)
{
    HWND abort = GetDlgItem(box, IDC_ABORT);
    switch (action) {
    case BoxAction::ClickAbort:
        PostMessageA(abort, BM_CLICK, 0, 0);
        break;
    case BoxAction::PressEnter:
        postKey(box, VK_RETURN);
        break;
    case BoxAction::PressEscape:
        postKey(box, VK_ESCAPE);
        break;
    case BoxAction::FocusNotifications:
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_SETFOCUS), LPARAM(abort));
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_KILLFOCUS), LPARAM(abort));
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        break;
    case BoxAction::ChangeBuffer:   /* as a buffer-size dialog left open would */
        appState.bufferBlocks = 128;
        break;
    case BoxAction::PostToForm:
        PostMessageA(appState.mainForm, WM_USER + 1, 0, 0);
        break;
    case BoxAction::None:
        break;
    }
}

/* The build's virtual bus: bin/vbus/wnaspi32.dll beside the tests folder. */
std::string busLibraryPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string exe(path, length);
    return exe.substr(0, exe.find_last_of("\\/")) + "\\..\\bin\\vbus\\wnaspi32.dll";
}

/* The library reads its configuration again at each call. */
GetASPI32SupportInfoFn supportInfoEntry()
{
    FARPROC address = GetProcAddress(appState.aspiLibrary, "GetASPI32SupportInfo");
    return reinterpret_cast<GetASPI32SupportInfoFn>(reinterpret_cast<void *>(address));
}

HANDLE openForRange(const std::string &path, DWORD access, DWORD disposition)
{
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

Bytes patternBytes(uint32_t seed, size_t length)
{
    Bytes bytes(length);
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (size_t i = 0; i < length; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = uint8_t(x);
    }
    return bytes;
}

Bytes readWholeFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeWholeFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes readFileRange(const std::string &path, int64_t offset, size_t length)
{
    Bytes bytes(length);
    HANDLE file = openForRange(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD got = 0;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    ReadFile(file, bytes.data(), DWORD(length), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

void writeFileRange(const std::string &path, int64_t offset, const Bytes &bytes)
{
    HANDLE file = openForRange(path, GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD put = 0;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &put, nullptr);
    CloseHandle(file);
}

void TransferBench::SetUp()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char given[MAX_PATH] = "";
    if (GetEnvironmentVariableA("KESTROVA_TRANSFER_FOLDER", given, sizeof given))
        folder_ = given;   /* a child process works in its parent's folder */
    else
        folder_ = std::string(temp) + "kestrova-transfer-" + std::to_string(GetCurrentProcessId()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char &c : folder_)
        if (c == '/')
            c = '_';
    CreateDirectoryA(folder_.c_str(), nullptr);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = formProc;
    windowClass.hInstance = appState.instance;
    windowClass.lpszClassName = kFormClass;
    RegisterClassA(&windowClass);   /* fails harmlessly from the second test on */
    form_ = CreateWindowA(kFormClass, "Kestrova", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 400, 300, nullptr,
                          nullptr, appState.instance, nullptr);
    ASSERT_NE(form_, nullptr);
    appState.mainForm = form_;
    appState.progressBox = nullptr;
    appState.scratchText = scratchTextBuffer;
    appState.imagePath = imagePathBuffer;
    appState.bufferBlocks = 32;
    appState.abortRequested = 0;
    adapterTable = {};
    appState.adapterCount = 1;
    selectSource(0, 1);
    selectTarget(0, 2);

    record = ProgressRecord();
    actionPosition = -1;
    pendingAction = BoxAction::None;
    hook_ = SetWindowsHookExA(WH_CALLWNDPROC, watchProgress, nullptr, GetCurrentThreadId());
}

void TransferBench::TearDown()
{
    if (hook_)
        UnhookWindowsHookEx(hook_);
    if (form_)
        DestroyWindow(form_);
    appState.mainForm = nullptr;
    /* Let the library close the images (an empty bus), then remove the folder. */
    if (appState.aspiLibrary && busLoaded_) {
        writeWholeFile(pathOf("vbus.ini"), Bytes());
        GetASPI32SupportInfoFn supportInfo = supportInfoEntry();
        if (supportInfo)
            supportInfo();
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA(pathOf(found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder_.c_str());
}

void TransferBench::loadBus(const std::vector<BusDevice> &devices, const std::string &busLines)
{
    std::string ini = "[bus]\r\n" + busLines + "\r\n";
    int highestAdapter = 0;
    for (const BusDevice &d : devices)
        highestAdapter = std::max(highestAdapter, d.adapter);
    for (int a = 0; a <= highestAdapter; a++)
        ini += "[adapter " + std::to_string(a) + "]\r\n";
    for (const BusDevice &d : devices) {
        ini += "[device " + std::to_string(d.adapter) + ":" + std::to_string(d.target) + "]\r\n";
        ini += "type = disk\r\nsector_size = " + std::to_string(d.sectorSize) + "\r\n";
        ini += "sectors = " + std::to_string(d.sectors) + "\r\n";
        if (!d.image.empty())
            ini += "image = " + pathOf(d.image) + "\r\n";
        ini += d.extra + "\r\n";
    }
    const std::string config = pathOf("vbus.ini");
    writeWholeFile(config, Bytes(ini.begin(), ini.end()));
    SetEnvironmentVariableA("VBUS_CONFIG", config.c_str());
    if (!appState.aspiLibrary)
        appState.aspiLibrary = LoadLibraryA(busLibraryPath().c_str());
    ASSERT_NE(appState.aspiLibrary, nullptr) << busLibraryPath() << ": error " << GetLastError();
    GetASPI32SupportInfoFn supportInfo = supportInfoEntry();
    ASSERT_NE(supportInfo, nullptr);
    busLoaded_ = true;
    uint32_t support = supportInfo();
    ASSERT_EQ((support >> 8) & 0xFF, SS_COMP) << "the bus did not take the configuration:\n" << ini;
    for (const BusDevice &d : devices)
        describeDevice(d.adapter, d.target, d.sectorSize, int32_t(d.sectors));
}

void TransferBench::describeDevice(int adapter, int target, int32_t sectorSize, int32_t sectors)
{
    DeviceRecord &device = adapterTable.adapters[adapter].devices[target];
    std::snprintf(device.label, sizeof device.label, "%d: VBUS DISK", target);
    device.sectorCount = sectors;
    device.sectorSize = sectorSize;
    device.deviceType = 0;
    device.removable = 0;
    if (adapterTable.adapters[adapter].maxTargets < 8)
        adapterTable.adapters[adapter].maxTargets = 8;
    if (appState.adapterCount <= adapter)
        appState.adapterCount = uint8_t(adapter + 1);
}

void TransferBench::selectSource(int adapter, int target)
{
    appState.sourceAdapter = uint8_t(adapter);
    appState.sourceDevice = uint8_t(target);
}

void TransferBench::selectTarget(int adapter, int target)
{
    appState.targetAdapter = uint8_t(adapter);
    appState.targetDevice = uint8_t(target);
}

void TransferBench::actAtPosition(int position, BoxAction action)
{
    actionPosition = position;
    pendingAction = action;
}

ProgressRecord &TransferBench::progress()
{
    return record;
}
