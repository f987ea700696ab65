/*
 * What keeps the bridge from damaging the machine it runs on. A command that is not known only
 * to read (commands.cpp) never reaches:
 *   - a disk on an internal bus (ATA, SATA, NVMe, RAID, ...), shown only by the expert setting;
 *   - the disk of the system volume (the volume of the system directory);
 *   - a disk holding a page file (Memory Management: PagingFiles, and ExistingPageFiles, which
 *     names the page files in use, as "\??\D:\pagefile.sys");
 *   - the disk of the system partition (HKLM\SYSTEM\Setup, SystemPartition: the EFI system
 *     partition or the "System Reserved" volume);
 *   - any disk of the disk class at all when one of these cannot be placed on a disk: fail closed.
 * Before each write to any other disk its volumes are locked and dismounted (volume_locks.cpp).
 * Reading is never held back.
 */
#include "bridge.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

const char kMemoryManagementKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";

const char kInternalBus[] = "the disk is on an internal bus";
const char kSystemVolume[] = "the disk holds the system volume";
const char kPageFile[] = "the disk holds a page file";
const char kSystemPartition[] = "the disk holds the system partition";
const char kSystemVolumeUnknown[] = "the disk of the system volume is not known";
const char kPageFileUnknown[] = "the disk of a page file is not known";
const char kSystemPartitionUnknown[] = "the disk of the system partition is not known";

bool fail(Bridge &b, const char *why, const char *what)
{
    traceLine(b, "%s (%s): no disk will be written", why, what);
    if (!b.protectionUnknown)
        b.protectionUnknown = why;
    return false;
}

void protect(Bridge &b, const std::vector<int> &disks, const char *why)
{
    for (int disk : disks) {
        b.protectedDisks.push_back({disk, why});
        traceLine(b, "disk %d is never written: %s", disk, why);
    }
}

/* The disks of the volume that a path opens. */
bool pathDisks(Bridge &b, const char *path, std::vector<int> &disks)
{
    HANDLE h = b.win->openDevice(path, 0);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool known = volumeDisks(b, h, disks) && !disks.empty();
    b.win->closeDevice(h);
    return known;
}

bool driveDisks(Bridge &b, char letter, std::vector<int> &disks)
{
    char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    return pathDisks(b, path, disks);
}

/* A whole registry value, however long; false when it is not there. */
bool machineValue(Bridge &b, const char *key, const char *name, std::vector<char> &value, LONG &result)
{
    for (DWORD room = 1024; room <= (1u << 20); room *= 4) {
        value.assign(room + 2, '\0');
        DWORD size = room;
        result = b.win->readMachineValue(key, name, value.data(), &size);
        if (result == ERROR_SUCCESS) {
            value.resize(std::min(size, room) + 2, '\0');
            value[value.size() - 2] = value[value.size() - 1] = '\0';
            return true;
        }
        if (result != ERROR_MORE_DATA)
            return false;
    }
    return false;
}

/* Page files: entries such as "C:\pagefile.sys 0 0" (PagingFiles) or "\??\D:\pagefile.sys"
 * (ExistingPageFiles), NUL separated. "?:\pagefile.sys" lets Windows manage it on the system
 * drive, whose disk is protected anyway (ExistingPageFiles names it). */
bool protectPageFiles(Bridge &b)
{
    for (const char *name : {"PagingFiles", "ExistingPageFiles"}) {
        std::vector<char> value;
        LONG result;
        if (!machineValue(b, kMemoryManagementKey, name, value, result)) {
            if (result == ERROR_FILE_NOT_FOUND)
                continue;
            return fail(b, kPageFileUnknown, name);
        }
        for (const char *entry = value.data(); *entry; entry += strlen(entry) + 1) {
            const char *colon = strchr(entry, ':');
            if (!colon || colon == entry)
                return fail(b, kPageFileUnknown, entry);
            char letter = colon[-1];
            if (letter == '?')
                continue;
            std::vector<int> disks;
            if (!isalpha(static_cast<unsigned char>(letter)) ||
                !driveDisks(b, char(toupper(static_cast<unsigned char>(letter))), disks))
                return fail(b, kPageFileUnknown, entry);
            protect(b, disks, kPageFile);
        }
    }
    return true;
}

/* SystemPartition holds an NT device name, "\Device\HarddiskVolume1": the volume of the list
 * whose device has that name. */
bool protectSystemPartition(Bridge &b)
{
    std::vector<char> value;
    LONG result;
    if (!machineValue(b, "SYSTEM\\Setup", "SystemPartition", value, result))
        return result == ERROR_FILE_NOT_FOUND || fail(b, kSystemPartitionUnknown, "SystemPartition");
    std::vector<std::string> volumes;
    b.win->listVolumes(volumes);
    for (const std::string &volume : volumes) {
        char device[MAX_PATH];
        if (!b.win->volumeDeviceName(volume.c_str(), device, sizeof device) || !sameText(device, value.data()))
            continue;
        std::vector<int> disks;
        if (!pathDisks(b, volume.c_str(), disks))
            return fail(b, kSystemPartitionUnknown, value.data());
        protect(b, disks, kSystemPartition);
        return true;
    }
    return fail(b, kSystemPartitionUnknown, value.data());
}

const char *protectedReason(const Bridge &b, int disk)
{
    for (const ProtectedDisk &p : b.protectedDisks)
        if (p.disk == disk)
            return p.why;
    return nullptr;
}

}  // namespace

bool volumeDisks(Bridge &b, HANDLE volume, std::vector<int> &disks)
{
    /* IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS answers ERROR_MORE_DATA, with the number of extents,
     * when the volume spans more disks than the buffer holds. */
    for (DWORD extents = 1; extents <= 1024; extents *= 4) {
        std::vector<uint8_t> buffer(offsetof(VOLUME_DISK_EXTENTS, Extents) + extents * sizeof(DISK_EXTENT));
        DWORD returned = 0;
        if (b.win->deviceControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(),
                                 DWORD(buffer.size()), &returned)) {
            if (returned < offsetof(VOLUME_DISK_EXTENTS, Extents))
                break;
            const VOLUME_DISK_EXTENTS &head = *reinterpret_cast<const VOLUME_DISK_EXTENTS *>(buffer.data());
            DWORD count = std::min<DWORD>(head.NumberOfDiskExtents,
                                          DWORD((returned - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT)));
            for (DWORD i = 0; i < count; i++)
                disks.push_back(int(head.Extents[i].DiskNumber));
            return count > 0;
        }
        if (GetLastError() != ERROR_MORE_DATA)
            break;
    }
    /* A volume that gives no extents (a removable drive without a medium, a CD) still says which
     * device it belongs to. */
    STORAGE_DEVICE_NUMBER number = {};
    DWORD returned = 0;
    if (!b.win->deviceControl(volume, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &returned) ||
        returned < sizeof number)
        return false;
    if (number.DeviceType == FILE_DEVICE_DISK)
        disks.push_back(int(number.DeviceNumber));
    return true;
}

void findProtectedDisks(Bridge &b)
{
    b.protectedDisks.clear();
    b.protectionUnknown = nullptr;
    char system[MAX_PATH] = "";
    UINT n = b.win->systemDirectory(system, sizeof system);
    std::vector<int> disks;
    if (n < 2 || n >= sizeof system || system[1] != ':' ||
        !driveDisks(b, char(toupper(static_cast<unsigned char>(system[0]))), disks)) {
        fail(b, kSystemVolumeUnknown, system);
        return;
    }
    protect(b, disks, kSystemVolume);
    if (protectPageFiles(b))
        protectSystemPartition(b);
}

const char *writeRefusal(Bridge &b, const HostAdapter &a, BridgeDevice &d)
{
    if (d.diskNumber < 0 && !isDiskType(d.type))
        return nullptr;
    if (a.internal)
        return kInternalBus;
    if (d.diskNumber < 0)
        return nullptr;                  /* a disk no class driver owns has no volumes */
    if (b.protectionUnknown)
        return b.protectionUnknown;
    if (const char *why = protectedReason(b, d.diskNumber))
        return why;
    return prepareDiskForWriting(b, d);
}
