/*
 * What keeps the bridge from damaging the machine it runs on. A command that is not known only
 * to read (commands.cpp) never reaches:
 *   - a disk on an internal bus (ATA, SATA, NVMe, RAID, ...), shown only by the expert setting;
 *   - the disk of the system volume (the volume of the system directory);
 *   - a disk holding a page file (Memory Management: PagingFiles, and ExistingPageFiles, which
 *     names the page files in use, as "\??\D:\pagefile.sys");
 *   - the disk of the system partition (HKLM\SYSTEM\Setup, SystemPartition: the EFI system
 *     partition or the "System Reserved" volume);
 *   - a member of a Storage Spaces pool or of a dynamic disk group (software RAID, spanned and
 *     striped volumes), which its partition table tells (IOCTL_DISK_GET_DRIVE_LAYOUT_EX): such a
 *     disk has no volume of its own to lock, yet a write breaks the pool or the set;
 *   - any disk of the disk class at all when one of these cannot be placed on a disk: fail closed.
 * Before each write to any other disk its volumes are locked and dismounted (volume_locks.cpp), and
 * so are those of a CD/DVD drive (a UDF volume on a rewritable disc). Reading is never held back.
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
const char kDiskGroupMember[] = "the disk belongs to a Storage Spaces pool or a dynamic disk group";

/* Partition types of a disk that belongs to a pool or a disk group: GPT types from Microsoft's
 * PARTITION_INFORMATION_GPT page (LDM metadata and data) and the Storage Spaces protective
 * partition; MBR types 42h (PARTITION_LDM) and E7h (Storage Spaces). */
constexpr GUID kGroupPartitions[] = {
    {0x5808C8AA, 0x7E8F, 0x42E0, {0x85, 0xD2, 0xE1, 0xE9, 0x04, 0x34, 0xCF, 0xB3}},
    {0xAF9B60A0, 0x1431, 0x4F62, {0xBC, 0x68, 0x33, 0x11, 0x71, 0x4A, 0x69, 0xAD}},
    {0xE75CAF8F, 0xF680, 0x4CEE, {0xAF, 0xA3, 0xB0, 0x01, 0xE5, 0x6E, 0xFC, 0x2D}},
};
constexpr uint8_t kGroupMbrTypes[] = {0x42, 0xE7};

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

/* Whether a disk's partition table makes it a member of a pool or a disk group. A disk whose
 * layout cannot be read (no medium, Windows 2000) is not taken for one. */
bool inDiskGroup(Bridge &b, const char *classPath)
{
    HANDLE disk = b.win->openDevice(classPath, 0);
    if (disk == INVALID_HANDLE_VALUE)
        return false;
    std::vector<uint8_t> buffer(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) +
                                128 * sizeof(PARTITION_INFORMATION_EX));
    DWORD returned = 0;
    bool member = false;
    if (b.win->deviceControl(disk, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(), DWORD(buffer.size()),
                             &returned) &&
        returned >= offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry)) {
        const auto &layout = *reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX *>(buffer.data());
        const size_t count = std::min<size_t>(layout.PartitionCount,
                                              (returned - offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry)) /
                                                  sizeof(PARTITION_INFORMATION_EX));
        for (size_t i = 0; i < count; i++) {
            const PARTITION_INFORMATION_EX &p = layout.PartitionEntry[i];
            if (p.PartitionStyle == PARTITION_STYLE_GPT)
                for (const GUID &type : kGroupPartitions)
                    member = member || !memcmp(&type, &p.Gpt.PartitionType, sizeof type);
            if (p.PartitionStyle == PARTITION_STYLE_MBR)
                for (uint8_t type : kGroupMbrTypes)
                    member = member || p.Mbr.PartitionType == type;
        }
    }
    b.win->closeDevice(disk);
    return member;
}

void protectDiskGroups(Bridge &b)
{
    for (const HostAdapter &a : b.adapters)
        for (const BridgeDevice &d : a.devices)
            if (d.diskNumber >= 0 && !a.internal && inDiskGroup(b, d.classPath))
                protect(b, {d.diskNumber}, kDiskGroupMember);
}

}  // namespace

void findProtectedDisks(Bridge &b)
{
    b.protectedDisks.clear();
    b.protectionUnknown = nullptr;
    protectDiskGroups(b);
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
    if (d.cdNumber >= 0)
        return prepareForWriting(b, d);
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
    return prepareForWriting(b, d);
}
