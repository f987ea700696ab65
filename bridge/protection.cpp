/*
 * What keeps the bridge from damaging the machine it runs on. The disk that holds the Windows
 * system volume or a page file is never written. Before the first write to any other disk, each
 * mounted volume on it is locked and dismounted (FSCTL_LOCK_VOLUME, FSCTL_DISMOUNT_VOLUME), so
 * no file system caches or writes sectors under the program; the locks last until the bridge is
 * bound again or unloaded. Reading is never held back.
 */
#include "bridge.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kMaxVolumes = 64;
constexpr int kMaxExtents = 32;

const char kMemoryManagementKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";

/* The disks a volume lies on; false when the volume does not say (a CD, a network drive, ...). */
bool volumeDisks(Bridge &b, HANDLE volume, std::vector<int> &disks)
{
    struct {
        VOLUME_DISK_EXTENTS head;
        DISK_EXTENT more[kMaxExtents - 1];
    } extents = {};
    DWORD returned = 0;
    if (!b.win->deviceControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents, sizeof extents,
                              &returned) ||
        returned < offsetof(VOLUME_DISK_EXTENTS, Extents))
        return false;
    DWORD count = std::min<DWORD>(extents.head.NumberOfDiskExtents,
                                  DWORD((returned - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT)));
    for (DWORD i = 0; i < count; i++)
        disks.push_back(int(extents.head.Extents[i].DiskNumber));
    return count > 0;
}

/* The disks of the volume with this drive letter. */
bool driveDisks(Bridge &b, char letter, std::vector<int> &disks)
{
    char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    HANDLE h = b.win->openDevice(path, 0);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = volumeDisks(b, h, disks);
    b.win->closeDevice(h);
    return ok;
}

bool contains(const std::vector<int> &list, int value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

/* Drive letters of the page files: entries such as "C:\pagefile.sys 0 0" (PagingFiles) or
 * "\??\D:\pagefile.sys" (ExistingPageFiles), NUL separated. "?:\" lets Windows choose: the
 * system drive, protected anyway. */
void pageFileLetters(Bridge &b, std::vector<char> &letters)
{
    for (const char *name : {"PagingFiles", "ExistingPageFiles"}) {
        char value[2048];
        DWORD size = sizeof value - 2;
        if (b.win->readMachineValue(kMemoryManagementKey, name, value, &size) != ERROR_SUCCESS)
            continue;
        size = std::min<DWORD>(size, sizeof value - 2);
        value[size] = value[size + 1] = '\0';
        for (const char *entry = value; *entry; entry += strlen(entry) + 1) {
            for (const char *p = entry; p[0] && p[1]; p++) {
                if (p[1] == ':' && isalpha(static_cast<unsigned char>(p[0]))) {
                    letters.push_back(char(toupper(static_cast<unsigned char>(p[0]))));
                    break;
                }
            }
        }
    }
}

/* Read-only commands: everything else counts as writing (and so does any command sent with data
 * going to the device). */
constexpr uint8_t kReadOnlyCommands[] = {
    0x00,   /* TEST UNIT READY */
    0x03,   /* REQUEST SENSE */
    0x08,   /* READ(6) */
    0x12,   /* INQUIRY */
    0x1A,   /* MODE SENSE(6) */
    0x23,   /* READ FORMAT CAPACITIES */
    0x25,   /* READ CAPACITY */
    0x28,   /* READ(10) */
    0x37,   /* READ DEFECT DATA */
    0x3C,   /* READ BUFFER */
    0x43,   /* READ TOC */
    0x46,   /* GET CONFIGURATION */
    0x4A,   /* GET EVENT STATUS NOTIFICATION */
    0x4D,   /* LOG SENSE */
    0x51,   /* READ DISC INFORMATION */
    0x52,   /* READ TRACK INFORMATION */
    0x5A,   /* MODE SENSE(10) */
    0x88,   /* READ(16) */
    0x9E,   /* SERVICE ACTION IN (READ CAPACITY(16)) */
    0xA0,   /* REPORT LUNS */
    0xA8,   /* READ(12) */
    0xB9,   /* READ CD MSF */
    0xBE,   /* READ CD */
};

}  // namespace

void findProtectedDisks(Bridge &b)
{
    b.protectedDisks.clear();
    b.systemDiskKnown = false;
    char system[MAX_PATH] = "";
    UINT n = b.win->systemDirectory(system, sizeof system);
    if (n >= 2 && n < sizeof system && system[1] == ':') {
        b.systemDiskKnown = driveDisks(b, char(toupper(static_cast<unsigned char>(system[0]))), b.protectedDisks);
    }
    if (!b.systemDiskKnown) {
        traceLine(b, "the disk of the system volume (%s) is not known: no disk will be written", system);
        return;
    }
    std::vector<char> letters;
    pageFileLetters(b, letters);
    for (char letter : letters)
        if (!driveDisks(b, letter, b.protectedDisks))
            traceLine(b, "page file drive %c: does not say which disk it is on", letter);
    for (int disk : b.protectedDisks)
        traceLine(b, "disk %d holds the system volume or a page file: never written", disk);
}

bool onlyReads(const uint8_t *cdb, uint8_t cdbLength)
{
    if (cdbLength == 0)
        return false;
    return std::find(std::begin(kReadOnlyCommands), std::end(kReadOnlyCommands), cdb[0]) != std::end(kReadOnlyCommands);
}

const char *prepareDiskForWriting(Bridge &b, int disk)
{
    if (!b.systemDiskKnown)
        return "the disk of the system volume is not known";
    if (contains(b.protectedDisks, disk))
        return "the disk holds the system volume or a page file";
    if (contains(b.preparedDisks, disk))
        return nullptr;

    static char volumes[kMaxVolumes][MAX_PATH];
    int count = b.win->listVolumes(volumes, kMaxVolumes);
    std::vector<LockedVolume> taken;
    const char *refusal = nullptr;
    for (int i = 0; i < count && !refusal; i++) {
        std::vector<int> disks;
        HANDLE probe = b.win->openDevice(volumes[i], 0);
        if (probe == INVALID_HANDLE_VALUE)
            continue;
        bool known = volumeDisks(b, probe, disks);
        b.win->closeDevice(probe);
        if (!known || !contains(disks, disk))
            continue;
        HANDLE volume = b.win->openDevice(volumes[i], GENERIC_READ | GENERIC_WRITE);
        DWORD returned = 0;
        if (volume == INVALID_HANDLE_VALUE) {
            traceLine(b, "volume %s on disk %d cannot be opened (error %lu)", volumes[i], disk, GetLastError());
            refusal = "a volume on the disk cannot be opened to lock it";
        } else if (!b.win->deviceControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned)) {
            traceLine(b, "volume %s on disk %d cannot be locked (error %lu): files on it are open", volumes[i], disk,
                      GetLastError());
            refusal = "a volume on the disk is in use and cannot be locked";
            b.win->closeDevice(volume);
        } else if (!b.win->deviceControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned)) {
            traceLine(b, "volume %s on disk %d cannot be dismounted (error %lu)", volumes[i], disk, GetLastError());
            refusal = "a volume on the disk cannot be dismounted";
            taken.push_back({disk, volume});
        } else {
            traceLine(b, "volume %s on disk %d locked and dismounted", volumes[i], disk);
            taken.push_back({disk, volume});
        }
    }
    if (refusal) {
        for (LockedVolume &v : taken)
            b.win->closeDevice(v.handle);
        return refusal;
    }
    b.locks.insert(b.locks.end(), taken.begin(), taken.end());
    b.preparedDisks.push_back(disk);
    return nullptr;
}

void releaseVolumeLocks(Bridge &b)
{
    for (LockedVolume &v : b.locks)
        b.win->closeDevice(v.handle);
    b.locks.clear();
    b.preparedDisks.clear();
}
