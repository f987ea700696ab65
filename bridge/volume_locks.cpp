/*
 * A disk is written only while no file system has it mounted: Windows' disk class driver passes
 * a SCSI pass-through write on without looking at volumes, so a file system still mounted would
 * cache stale sectors or write its own over ours. Before every write, the volumes Windows lists
 * (with a drive letter, mounted on a folder or on nothing) are looked at again; each one on the
 * disk that this bridge does not hold yet is opened, locked (FSCTL_LOCK_VOLUME) and dismounted
 * (FSCTL_DISMOUNT_VOLUME), and its handle kept: the lock lasts while the handle is open, and a
 * locked volume is not mounted again. A volume that cannot be placed, opened, locked or
 * dismounted refuses the write. A changed medium (a new media change count, IOCTL_STORAGE_CHECK_
 * VERIFY, or a unit attention) brings a new file system that old locks do not cover: they are
 * dropped and the new volumes locked before the next write. The handles go with the next
 * inventory or when the library is unloaded.
 */
#include "bridge.h"

#include <algorithm>

namespace {

const char kVolumeUnplaced[] = "a volume does not say which disk it lies on";
const char kVolumeNotOpened[] = "a volume on the disk cannot be opened to lock it";
const char kVolumeInUse[] = "a volume on the disk is in use and cannot be locked";
const char kVolumeNotDismounted[] = "a volume on the disk cannot be dismounted";

/* Whether this bridge holds the volume already (for this disk or another one it writes): a
 * locked volume opens only through the handle that locked it. */
bool held(const Bridge &b, const std::string &volume)
{
    for (const HostAdapter &a : b.adapters)
        for (const BridgeDevice &d : a.devices)
            for (const HeldVolume &v : d.held)
                if (v.name == volume)
                    return true;
    return false;
}

/* Whether the medium is still the one the held locks were taken for. */
void checkMedium(Bridge &b, BridgeDevice &d)
{
    ULONG count = 0;
    DWORD returned = 0;
    bool known = d.handle != INVALID_HANDLE_VALUE &&
                 b.win->deviceControl(d.handle, IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, &count, sizeof count,
                                      &returned) &&
                 returned >= sizeof count;
    if (!d.held.empty() && (!known || !d.mediaCountKnown || count != d.mediaChanges)) {
        traceLine(b, "disk %d: the medium may have changed", d.diskNumber);
        forgetMedium(b, d);
    }
    d.mediaCountKnown = known;
    d.mediaChanges = count;
}

/* Locks and dismounts one volume; the handle that holds it, or the refusal. */
const char *takeVolume(Bridge &b, const std::string &name, int disk, std::vector<HeldVolume> &taken)
{
    HANDLE volume = b.win->openDevice(name.c_str(), GENERIC_READ | GENERIC_WRITE);
    DWORD returned = 0;
    if (volume == INVALID_HANDLE_VALUE) {
        traceLine(b, "volume %s on disk %d cannot be opened (error %lu)", name.c_str(), disk, GetLastError());
        return kVolumeNotOpened;
    }
    taken.push_back({name, volume});
    if (!b.win->deviceControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned)) {
        traceLine(b, "volume %s on disk %d cannot be locked (error %lu): files on it are open", name.c_str(), disk,
                  GetLastError());
        return kVolumeInUse;
    }
    if (!b.win->deviceControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned)) {
        traceLine(b, "volume %s on disk %d cannot be dismounted (error %lu)", name.c_str(), disk, GetLastError());
        return kVolumeNotDismounted;
    }
    traceLine(b, "volume %s on disk %d locked and dismounted", name.c_str(), disk);
    return nullptr;
}

}  // namespace

const char *prepareDiskForWriting(Bridge &b, BridgeDevice &d)
{
    checkMedium(b, d);
    std::vector<std::string> volumes;
    b.win->listVolumes(volumes);
    std::vector<HeldVolume> taken;
    const char *refusal = nullptr;
    for (const std::string &name : volumes) {
        if (held(b, name))
            continue;
        HANDLE probe = b.win->openDevice(name.c_str(), 0);
        if (probe == INVALID_HANDLE_VALUE) {
            /* An empty removable drive: no medium, so no file system. */
            if (GetLastError() == ERROR_NOT_READY)
                continue;
            traceLine(b, "volume %s cannot be opened (error %lu)", name.c_str(), GetLastError());
            refusal = kVolumeUnplaced;
            break;
        }
        std::vector<int> disks;
        bool placed = volumeDisks(b, probe, disks);
        b.win->closeDevice(probe);
        if (!placed) {
            traceLine(b, "volume %s does not say which disk it lies on", name.c_str());
            refusal = kVolumeUnplaced;
            break;
        }
        if (std::find(disks.begin(), disks.end(), d.diskNumber) == disks.end())
            continue;
        if ((refusal = takeVolume(b, name, d.diskNumber, taken)))
            break;
    }
    if (refusal) {
        for (HeldVolume &v : taken)
            b.win->closeDevice(v.handle);
        return refusal;
    }
    d.held.insert(d.held.end(), taken.begin(), taken.end());
    return nullptr;
}

void forgetMedium(Bridge &b, BridgeDevice &d)
{
    for (HeldVolume &v : d.held)
        b.win->closeDevice(v.handle);
    d.held.clear();
    d.mediaCountKnown = false;
}
