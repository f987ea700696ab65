/*
 * Which disks, or which CD/DVD drive, a volume or a drive letter lies on: the one answer that the
 * protection (the system volume, page files, the system partition) and the volume locks both use.
 * The volume is opened with no access: CreateFile's page ("Physical Disks and Volumes") lets
 * such an open query the device without accessing it, with no medium in the drive and whoever
 * holds the volume locked. IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS names the disks (growing the
 * buffer on ERROR_MORE_DATA); a volume without extents (no medium, a CD) still answers
 * IOCTL_STORAGE_GET_DEVICE_NUMBER. A floppy answers that too, with its floppy number and the
 * disk device type (the sfloppy sample's device object is a FILE_DEVICE_DISK): its NT name
 * (\Device\FloppyN) tells it from the disk of the same number.
 */
#include "bridge.h"

#include <algorithm>
#include <cstring>

namespace {

bool isFloppy(Bridge &b, const char *path)
{
    char device[MAX_PATH];
    const char kFloppy[] = "\\Device\\Floppy";
    return b.win->volumeDeviceName(path, device, sizeof device) && !strncmp(device, kFloppy, sizeof kFloppy - 1);
}

bool extentDisks(Bridge &b, HANDLE volume, std::vector<VolumeHost> &hosts)
{
    for (DWORD extents = 1; extents <= 1024; extents *= 4) {
        std::vector<uint8_t> buffer(offsetof(VOLUME_DISK_EXTENTS, Extents) + extents * sizeof(DISK_EXTENT));
        DWORD returned = 0;
        if (b.win->deviceControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(),
                                 DWORD(buffer.size()), &returned)) {
            if (returned < offsetof(VOLUME_DISK_EXTENTS, Extents))
                return false;
            const VOLUME_DISK_EXTENTS &head = *reinterpret_cast<const VOLUME_DISK_EXTENTS *>(buffer.data());
            DWORD count = std::min<DWORD>(head.NumberOfDiskExtents,
                                          DWORD((returned - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT)));
            for (DWORD i = 0; i < count; i++)
                hosts.push_back({false, int(head.Extents[i].DiskNumber)});
            return count > 0;
        }
        if (GetLastError() != ERROR_MORE_DATA)
            return false;
    }
    return false;
}

}  // namespace

Placement placeVolume(Bridge &b, const char *path, std::vector<VolumeHost> &hosts)
{
    HANDLE volume = b.win->openDevice(path, 0);
    if (volume == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        /* Gone since it was listed (a stick pulled out), or a drive without a medium. */
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NOT_READY) {
            traceLine(b, "volume %s: not there (error %lu), on no disk", path, error);
            return Placement::Nowhere;
        }
        traceLine(b, "volume %s cannot be opened (error %lu)", path, error);
        return Placement::Unknown;
    }
    Placement placed = Placement::Unknown;
    STORAGE_DEVICE_NUMBER number = {};
    DWORD returned = 0;
    if (extentDisks(b, volume, hosts)) {
        placed = Placement::OnDevices;
    } else if (b.win->deviceControl(volume, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                                    &returned) &&
               returned >= sizeof number) {
        placed = Placement::Nowhere;
        if (number.DeviceType == FILE_DEVICE_CD_ROM) {
            hosts.push_back({true, int(number.DeviceNumber)});
            placed = Placement::OnDevices;
        } else if (number.DeviceType == FILE_DEVICE_DISK && !isFloppy(b, path)) {
            hosts.push_back({false, int(number.DeviceNumber)});
            placed = Placement::OnDevices;
        }
    }
    b.win->closeDevice(volume);
    if (placed == Placement::Unknown)
        traceLine(b, "volume %s does not say which disk it lies on", path);
    return placed;
}

bool pathDisks(Bridge &b, const char *path, std::vector<int> &disks)
{
    std::vector<VolumeHost> hosts;
    if (placeVolume(b, path, hosts) != Placement::OnDevices)
        return false;
    for (const VolumeHost &h : hosts)
        if (!h.cdRom)
            disks.push_back(h.number);
    return !disks.empty();
}

bool driveDisks(Bridge &b, char letter, std::vector<int> &disks)
{
    char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    return pathDisks(b, path, disks);
}

bool liesOn(const std::vector<VolumeHost> &hosts, const BridgeDevice &d)
{
    return std::any_of(hosts.begin(), hosts.end(), [&](const VolumeHost &h) {
        return h.cdRom ? h.number == d.cdNumber : h.number == d.diskNumber;
    });
}
