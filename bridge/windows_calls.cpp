/* The real table: kernel32, advapi32 and user32 functions that Windows 2000 already has.
 * Volumes are listed with FindFirstVolumeA where the system has it (looked up, not imported),
 * else by drive letter. */
#include "windows_calls.h"

#include <cstdio>
#include <cstring>

namespace {

HANDLE openDevice(const char *path, DWORD access)
{
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

BOOL deviceControl(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    return DeviceIoControl(device, code, in, inSize, out, outSize, returned, nullptr);
}

BOOL closeDevice(HANDLE device)
{
    return CloseHandle(device);
}

LONG readMachineValue(const char *key, const char *name, char *out, DWORD *size)
{
    HKEY opened;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, &opened);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD type = 0;
    result = RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE *>(out), size);
    RegCloseKey(opened);
    if (result == ERROR_SUCCESS && type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    return result;
}

UINT systemDirectory(char *out, UINT size)
{
    return GetSystemDirectoryA(out, size);
}

using FindFirstVolumeFn = HANDLE(WINAPI *)(LPSTR, DWORD);
using FindNextVolumeFn = BOOL(WINAPI *)(HANDLE, LPSTR, DWORD);
using FindVolumeCloseFn = BOOL(WINAPI *)(HANDLE);

template <typename Fn>
Fn kernelFunction(const char *name)
{
    FARPROC address = GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(address));
}

/* "\\?\Volume{...}\" names the volume's root; without the last backslash it opens the volume.
 * Windows 2000 already lists volumes (FindFirstVolumeA); the drive letters are what is left
 * where it cannot. */
void listVolumes(std::vector<std::string> &paths)
{
    paths.clear();
    auto findFirst = kernelFunction<FindFirstVolumeFn>("FindFirstVolumeA");
    auto findNext = kernelFunction<FindNextVolumeFn>("FindNextVolumeA");
    auto findClose = kernelFunction<FindVolumeCloseFn>("FindVolumeClose");
    if (findFirst && findNext && findClose) {
        char name[MAX_PATH];
        HANDLE search = findFirst(name, sizeof name);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                size_t length = strlen(name);
                if (length > 0 && name[length - 1] == '\\')
                    name[length - 1] = '\0';
                paths.push_back(name);
            } while (findNext(search, name, sizeof name));
            findClose(search);
            return;
        }
    }
    DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; letter++) {
        char root[] = {char('A' + letter), ':', '\\', '\0'};
        UINT type = GetDriveTypeA(root);
        if ((drives & (1u << letter)) && (type == DRIVE_FIXED || type == DRIVE_REMOVABLE))
            paths.push_back(std::string("\\\\.\\") + char('A' + letter) + ':');
    }
}

/* QueryDosDeviceA takes the name without its "\\?\" or "\\.\" (as Microsoft's "Displaying
 * Volume Paths" example does) and answers the NT device name first. */
bool volumeDeviceName(const char *volume, char *out, DWORD size)
{
    const char *name = volume;
    if (!strncmp(name, "\\\\?\\", 4) || !strncmp(name, "\\\\.\\", 4))
        name += 4;
    return size > 0 && QueryDosDeviceA(name, out, size) != 0;
}

void tellUser(const char *text, const char *caption)
{
    MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

unsigned windowsVersion()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) ? unsigned(version.dwMajorVersion << 8 | (version.dwMinorVersion & 0xFF)) : 0;
}

constexpr WindowsCalls kReal = {openDevice, deviceControl, closeDevice, readMachineValue, systemDirectory,
                                listVolumes, volumeDeviceName, tellUser, windowsVersion};

}  // namespace

const WindowsCalls &realWindowsCalls()
{
    return kReal;
}
