/*
 * Every call the bridge makes into Windows' storage stack goes through this one table: the
 * shipped library uses the real functions (windows_calls.cpp); the tests put an emulated
 * storage stack under it. Nothing else in the bridge calls CreateFile, DeviceIoControl, the
 * registry or the volume functions directly.
 */
#ifndef BRIDGE_WINDOWS_CALLS_H
#define BRIDGE_WINDOWS_CALLS_H

#include <windows.h>
#include <string>
#include <vector>

struct WindowsCalls {
    /* CreateFileA(path, access, share read+write, OPEN_EXISTING); sets the last error. */
    HANDLE (*openDevice)(const char *path, DWORD access);
    BOOL (*deviceControl)(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize,
                          DWORD *returned);
    BOOL (*closeDevice)(HANDLE device);
    /* A value under HKEY_LOCAL_MACHINE\key (REG_SZ or REG_MULTI_SZ); size in: room, out: bytes.
     * ERROR_MORE_DATA when the room is too small. */
    LONG (*readMachineValue)(const char *key, const char *name, char *out, DWORD *size);
    /* GetSystemDirectoryA. */
    UINT (*systemDirectory)(char *out, UINT size);
    /* Paths that open every volume Windows has, mounted on a drive letter, on a folder or on
     * nothing ("\\?\Volume{...}", or "\\.\C:" where the system cannot list volumes). */
    void (*listVolumes)(std::vector<std::string> &paths);
    /* The NT device name of a volume of listVolumes ("\Device\HarddiskVolume1"); false when
     * Windows does not say. */
    bool (*volumeDeviceName)(const char *volume, char *out, DWORD size);
    /* A message box for the user (owner none), for what the program cannot say itself. */
    void (*tellUser)(const char *text, const char *caption);
    /* The version of Windows, major << 8 | minor (0x0500: Windows 2000). */
    unsigned (*windowsVersion)();
};

/* The real table: Windows 2000 and later. */
const WindowsCalls &realWindowsCalls();

#endif
