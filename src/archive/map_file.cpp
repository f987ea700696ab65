/* The map's file: written beside, flushed, then put in place; read back; kept when foreign. */
#include "rescue_map.h"

#include <windows.h>
#include <cstdio>
#include <string>

namespace {

MapWriteObserver mapWriteObserver = nullptr;

void localTimeText(char (&text)[32])
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
}

/* The whole file, when it is a file of a size a map can have. */
bool readSmallFile(const char *path, std::string &text, bool &missing)
{
    constexpr DWORD kLargestMap = 64u << 20;
    missing = false;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return false;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    bool ok = GetFileAttributesExA(path, GetFileExInfoStandard, &data) && data.nFileSizeHigh == 0 &&
              data.nFileSizeLow <= kLargestMap;
    const DWORD size = ok ? data.nFileSizeLow : 0;
    if (ok) {
        text.assign(size, '\0');
        DWORD got = 0;
        ok = size == 0 || (ReadFile(file, &text[0], size, &got, nullptr) && got == size);
    }
    CloseHandle(file);
    return ok;
}

}  // namespace

void observeMapWrites(MapWriteObserver observer)
{
    mapWriteObserver = observer;
}

bool writeBeside(const char *path, const std::string &text, char *temporary, size_t size)
{
    int length = std::snprintf(temporary, size, "%s.new", path);
    if (length <= 0 || size_t(length) >= size)
        return false;
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size() &&
              FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (!ok)
        DeleteFileA(temporary);
    return ok;
}

bool putInPlace(const char *temporary, const char *path)
{
    if (MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temporary);
    return false;
}

int writeMapFile(const char *path, const RescueMap &map)
{
    char now[32], temporary[kMapPathSize + 8];
    localTimeText(now);
    if (!writeBeside(path, mapText(map, now), temporary, sizeof temporary))
        return 0;
    if (mapWriteObserver)
        mapWriteObserver(path, map);
    return putInPlace(temporary, path) ? 1 : 0;
}

MapFileState readMapFile(const char *path, RescueMap &map, MapVerdict &verdict)
{
    std::string text;
    bool missing = false;
    if (!readSmallFile(path, text, missing))
        return missing ? MapFileState::Missing : MapFileState::Unreadable;
    verdict = parseMap(text, map);
    return MapFileState::Read;
}

bool keepForeignMap(const char *path, char *backup, size_t size)
{
    backup[0] = '\0';
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;   /* nothing there, or nothing a copy could replace */
    RescueMap map;
    MapVerdict verdict = MapVerdict::NotAMap;
    if (readMapFile(path, map, verdict) == MapFileState::Read && verdict == MapVerdict::Usable)
        return true;   /* ours: the copy's map takes its place */
    for (int n = 1; n < 100; n++) {
        int length = n == 1 ? std::snprintf(backup, size, "%s.bak", path) : std::snprintf(backup, size, "%s.bak%d", path, n);
        if (length <= 0 || size_t(length) >= size)
            break;
        if (GetFileAttributesA(backup) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (MoveFileExA(path, backup, MOVEFILE_WRITE_THROUGH))
            return true;
        break;
    }
    backup[0] = '\0';
    return false;
}
