/* Image files behind the emulated targets: opened once, created when missing, read and written
 * at 64-bit offsets; what lies past the end of the file reads as zeros. */
#include "scsi_target.h"

#include <winioctl.h>
#include <algorithm>
#include <cstdio>
#include <cstring>

#ifndef FSCTL_SET_SPARSE
#define FSCTL_SET_SPARSE 0x000900C4
#endif

namespace {

std::string windowsError(const char *what)
{
    char msg[96];
    snprintf(msg, sizeof msg, "%s (error %lu)", what, GetLastError());
    return msg;
}

bool fileSize(HANDLE h, uint64_t &size)
{
    LARGE_INTEGER li;
    if (!GetFileSizeEx(h, &li))
        return false;
    size = uint64_t(li.QuadPart);
    return true;
}

/*
 * Positioned reads and writes go through the file pointer, under one lock (asynchronous
 * requests run on several threads). A read or write given an OVERLAPPED offset would be as
 * atomic, but it also reports its completion for a completion port, which under Wine is a
 * round trip to the server on every request: most of a 64 KB request's cost.
 */
CRITICAL_SECTION &imageLock()
{
    static CRITICAL_SECTION *lock = [] {
        static CRITICAL_SECTION section;
        InitializeCriticalSection(&section);
        return &section;
    }();
    return *lock;
}

bool seekTo(HANDLE h, uint64_t offset)
{
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    return SetFilePointerEx(h, at, nullptr, FILE_BEGIN) != 0;
}

bool writeAt(HANDLE h, uint64_t offset, const uint8_t *data, uint32_t length)
{
    DWORD done = 0;
    EnterCriticalSection(&imageLock());
    bool ok = seekTo(h, offset) && WriteFile(h, data, length, &done, nullptr) && done == length;
    LeaveCriticalSection(&imageLock());
    return ok;
}

/* Bytes read at offset into got; past the end of the file nothing arrives, which is no error. */
bool readAt(HANDLE h, uint64_t offset, uint8_t *buffer, uint32_t length, DWORD &got)
{
    got = 0;
    EnterCriticalSection(&imageLock());
    bool ok = seekTo(h, offset) && (ReadFile(h, buffer, length, &got, nullptr) || GetLastError() == ERROR_HANDLE_EOF);
    LeaveCriticalSection(&imageLock());
    return ok;
}

/* A new image: sparse at the device's size, or every sector stamped with its address. */
bool fillNewImage(ScsiTarget &d, std::string &error)
{
    DWORD ignored = 0;
    DeviceIoControl(d.file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    uint64_t total = d.sectors * d.sectorSize;
    if (d.fill == ImageFill::Lba) {
        const uint32_t perChunk = std::max<uint32_t>(1, (1u << 20) / d.sectorSize);
        std::vector<uint8_t> chunk(size_t(perChunk) * d.sectorSize);
        for (uint64_t lba = 0; lba < d.sectors; lba += perChunk) {
            uint32_t n = uint32_t(std::min<uint64_t>(perChunk, d.sectors - lba));
            for (uint32_t i = 0; i < n; i++)
                fillLbaPattern(chunk.data() + size_t(i) * d.sectorSize, d.sectorSize, lba + i);
            if (!writeAt(d.file, lba * d.sectorSize, chunk.data(), n * d.sectorSize)) {
                error = windowsError("cannot write the new image");
                return false;
            }
        }
        return true;
    }
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(total);
    if (!SetFilePointerEx(d.file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(d.file)) {
        error = windowsError("cannot give the new image its size");
        return false;
    }
    return true;
}

}  // namespace

void fillLbaPattern(uint8_t *sector, uint32_t sectorSize, uint64_t lba)
{
    char row[17];
    snprintf(row, sizeof row, "LBA %010llu\r\n", (unsigned long long)(lba % 10000000000ull));
    for (uint32_t i = 0; i < sectorSize; i += 16)
        memcpy(sector + i, row, std::min<uint32_t>(16, sectorSize - i));
}

bool openImage(ScsiTarget &d, std::string &error)
{
    if (d.image.empty()) {
        if (!d.sectorsGiven && !d.noMedium) {
            error = "no image and no size: give image, sectors or size";
            return false;
        }
        return true;
    }
    DWORD access = d.readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    d.file = CreateFileA(d.image.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (d.file != INVALID_HANDLE_VALUE) {
        if (!d.sectorsGiven) {
            uint64_t size;
            if (!fileSize(d.file, size)) {
                error = windowsError("cannot read the size of the image");
                return false;
            }
            d.sectors = size / d.sectorSize;
        }
        return true;
    }
    DWORD why = GetLastError();
    if (why != ERROR_FILE_NOT_FOUND) {
        SetLastError(why);
        error = windowsError(("cannot open the image " + d.image).c_str());
        return false;
    }
    if (!d.sectorsGiven) {
        error = "the image " + d.image + " does not exist and no size is given to create it";
        return false;
    }
    d.file = CreateFileA(d.image.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (d.file == INVALID_HANDLE_VALUE) {
        error = windowsError(("cannot create the image " + d.image).c_str());
        return false;
    }
    if (!fillNewImage(d, error)) {
        CloseHandle(d.file);
        d.file = INVALID_HANDLE_VALUE;
        DeleteFileA(d.image.c_str());
        return false;
    }
    return true;
}

bool readSectors(ScsiTarget &d, uint64_t lba, uint8_t *buffer, uint32_t length)
{
    DWORD got = 0;
    if (d.file != INVALID_HANDLE_VALUE && length > 0 && !readAt(d.file, lba * d.sectorSize, buffer, length, got))
        return false;
    if (got < length)
        memset(buffer + got, 0, length - got);
    return true;
}

bool writeSectors(ScsiTarget &d, uint64_t lba, const uint8_t *buffer, uint32_t length)
{
    if (d.file == INVALID_HANDLE_VALUE || length == 0)
        return true;
    return writeAt(d.file, lba * d.sectorSize, buffer, length);
}

void closeImage(ScsiTarget &d)
{
    if (d.file != INVALID_HANDLE_VALUE)
        CloseHandle(d.file);
    d.file = INVALID_HANDLE_VALUE;
}
