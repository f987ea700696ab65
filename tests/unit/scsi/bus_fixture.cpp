/* Test folder, INI files, library loading and releasing for the binding and scan tests. */
#include "bus_fixture.h"

#include <fstream>
#include <sstream>

namespace {

/* SetDllDirectoryA is declared only for newer targets than the program's. */
BOOL setDllDirectory(const char *folder)
{
    using Fn = BOOL(WINAPI *)(LPCSTR);
    FARPROC address = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDllDirectoryA");
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void *>(address));
    return fn ? fn(folder) : FALSE;
}

std::string exeFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string exe(path, length);
    return exe.substr(0, exe.find_last_of("\\/"));
}

}  // namespace

void releaseAspiLibrary()
{
    if (appState.aspiLibrary)
        FreeLibrary(appState.aspiLibrary);
    appState.aspiLibrary = nullptr;
    /* A worker of the virtual bus may hold the library a moment longer. */
    for (int i = 0; i < 500 && GetModuleHandleA("wnaspi32.dll"); ++i)
        Sleep(10);
    ASSERT_EQ(nullptr, GetModuleHandleA("wnaspi32.dll")) << "wnaspi32.dll is still loaded";
}

void AspiBusTest::SetUp()
{
    releaseAspiLibrary();
    appState.adapterCount = 0;
    appState.sourceAdapter = appState.sourceDevice = appState.targetAdapter = appState.targetDevice = 0;
    adapterTable = AdapterTable{};

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::string(temp) + "kestrova-scsi-" + std::to_string(GetCurrentProcessId()) + "-" + test->name();
    CreateDirectoryA(folder_.c_str(), nullptr);

    owner_ = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
}

void AspiBusTest::TearDown()
{
    releaseAspiLibrary();
    setDllDirectory(nullptr);
    SetEnvironmentVariableA("VBUS_CONFIG", nullptr);
    DestroyWindow(owner_);

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            DeleteFileA((folder_ + "\\" + found.cFileName).c_str());
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder_.c_str());
}

std::string AspiBusTest::useBus(const std::string &name, const std::string &iniText)
{
    std::string path = folderPath(name);
    std::ofstream(path, std::ios::binary) << iniText;
    SetEnvironmentVariableA("VBUS_CONFIG", path.c_str());
    return path;
}

void AspiBusTest::useBrokenLibrary(const char *variant)
{
    std::string folder = exeFolder() + "\\broken_aspi\\" + variant;
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\wnaspi32.dll").c_str())) << folder;
    ASSERT_TRUE(setDllDirectory(folder.c_str()));
}

void AspiBusTest::reloadBusConfiguration()
{
    ASSERT_NE(nullptr, appState.aspiLibrary);
    using Fn = DWORD(__cdecl *)(void);
    FARPROC address = GetProcAddress(appState.aspiLibrary, "GetASPI32SupportInfo");
    ASSERT_NE(nullptr, address);
    reinterpret_cast<Fn>(reinterpret_cast<void *>(address))();
}

std::vector<std::string> AspiBusTest::traceLines(const std::string &name) const
{
    std::ifstream file(folderPath(name), std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void expectEntry(const DeviceRecord &device, const char *label, int32_t sectorCount, int32_t sectorSize,
                 int32_t deviceType, int32_t removable)
{
    SCOPED_TRACE(std::string("entry ") + label);
    EXPECT_STREQ(label, device.label);
    EXPECT_EQ(sectorCount, device.sectorCount);
    EXPECT_EQ(sectorSize, device.sectorSize);
    EXPECT_EQ(deviceType, device.deviceType);
    EXPECT_EQ(removable, device.removable);
}
