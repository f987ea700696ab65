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
    DWORD high = 0, size = GetFileSize(file, &high);
    bool ok = size != INVALID_FILE_SIZE && high == 0 && size <= kLargestMap;
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

int writeMapFile(const char *path, const RescueMap &map)
{
    char temporary[kMapPathSize + 8];
    if (std::snprintf(temporary, sizeof temporary, "%s.new", path) >= int(sizeof temporary))
        return 0;
    char now[32];
    localTimeText(now);
    const std::string text = mapText(map, now);
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    /* On the disk before it replaces the old map: a crash leaves one whole map or the other. */
    bool ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size() &&
              FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (ok && mapWriteObserver)
        mapWriteObserver(path, map);
    if (ok && MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 1;
    DeleteFileA(temporary);
    return 0;
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
