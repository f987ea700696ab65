/*
 * A disk (or a CD/DVD drive) is written only while no file system has it mounted: Windows' class
 * drivers pass a SCSI pass-through write on without looking at volumes, so a file system still
 * mounted would cache stale sectors or write its own over ours. Before the first write, every
 * volume on the device (with a drive letter, on a folder or on nothing) is opened, locked
 * (FSCTL_LOCK_VOLUME) and dismounted (FSCTL_DISMOUNT_VOLUME), and its handle kept: the lock lasts
 * while the handle is open, and without it a dismounted volume may be mounted again by any
 * process at any time (Explorer, the indexer). So the locks are held until the device goes away
 * or the inventory is taken again, never let go in the middle of a restore.
 *
 * The volumes are looked at again only when the medium may have changed: the media change count
 * of IOCTL_STORAGE_CHECK_VERIFY moved, that request failed (the medium is then unknown, not
 * changed), or a unit attention came back through a pass-through. The class driver counts every
 * unit attention it sees as a media change, bus resets included (classpnp's
 * ClassInterpretSenseInfo), and CHECK_VERIFY's own TEST UNIT READY may be the command that meets
 * it: so a held lock is kept as long as it still holds the volume (another open of it is
 * refused), and dismounted again through its handle; a volume that opens again carries a new
 * file system, which is locked before the old handle goes. A volume that vanished or has no
 * medium is on no disk; one that cannot be placed, opened, locked or dismounted refuses the
 * write, and the locks taken for that write are let go.
 */
#include "bridge.h"

#include <algorithm>

namespace {

const char kVolumeUnplaced[] = "a volume does not say which disk it lies on";
const char kVolumeNotOpened[] = "a volume on the disk cannot be opened to lock it";
const char kVolumeInUse[] = "a volume on the disk is in use and cannot be locked";
const char kVolumeNotDismounted[] = "a volume on the disk cannot be dismounted";

/* Whether this bridge holds the volume already (for this device or another one it writes). */
bool held(const Bridge &b, const std::string &volume)
{
    for (const HostAdapter &a : b.adapters)
        for (const BridgeDevice &d : a.devices)
            for (const HeldVolume &v : d.held)
                if (v.name == volume)
                    return true;
    return false;
}

int deviceNumber(const BridgeDevice &d)
{
    return d.cdNumber >= 0 ? d.cdNumber : d.diskNumber;
}

enum class Medium { Same, Moved, Unknown };

/* IOCTL_STORAGE_CHECK_VERIFY's media change count against the last one. A failure says nothing
 * (a unit attention it met, no medium): the count is kept for the next time. */
Medium checkMedium(Bridge &b, BridgeDevice &d)
{
    ULONG count = 0;
    DWORD returned = 0;
    if (d.handle == INVALID_HANDLE_VALUE ||
        !b.win->deviceControl(d.handle, IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, &count, sizeof count, &returned) ||
        returned < sizeof count) {
        traceLine(b, "%s: the media change count is not known (error %lu)", d.classPath, GetLastError());
        return Medium::Unknown;
    }
    const Medium medium = d.mediaCountKnown && count == d.mediaChanges ? Medium::Same : Medium::Moved;
    d.mediaCountKnown = true;
    d.mediaChanges = count;
    return medium;
}

bool dismount(Bridge &b, HANDLE volume)
{
    DWORD returned = 0;
    return b.win->deviceControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned) != FALSE;
}

/* Locks and dismounts a volume opened for reading and writing; its handle joins the taken ones
 * whatever happens, so that it is closed with them. */
const char *lockOpened(Bridge &b, const std::string &name, HANDLE volume, int number,
                       std::vector<HeldVolume> &taken)
{
    DWORD returned = 0;
    taken.push_back({name, volume});
    if (!b.win->deviceControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned)) {
        traceLine(b, "volume %s on device %d cannot be locked (error %lu): files on it are open", name.c_str(), number,
                  GetLastError());
        return kVolumeInUse;
    }
    if (!dismount(b, volume)) {
        traceLine(b, "volume %s on device %d cannot be dismounted (error %lu)", name.c_str(), number, GetLastError());
        return kVolumeNotDismounted;
    }
    traceLine(b, "volume %s on device %d locked and dismounted", name.c_str(), number);
    return nullptr;
}

/* Whether an open for reading and writing failed because nothing is mounted there to lock: the
 * drive has no medium, or the volume has gone. */
bool nothingToLock(DWORD error)
{
    return error == ERROR_NOT_READY || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

/* The held volumes, after the medium may have changed. A lock that still holds keeps every other
 * open out: the volume is dismounted again through its handle. One that opens carries a file
 * system the lock does not cover (another medium): it is locked through the new handle, and the
 * old handle is to go (replaced) once every new lock is in place. */
const char *checkHeld(Bridge &b, BridgeDevice &d, std::vector<HeldVolume> &taken, std::vector<size_t> &replaced)
{
    for (size_t i = 0; i < d.held.size(); i++) {
        const HeldVolume &v = d.held[i];
        HANDLE again = b.win->openDevice(v.name.c_str(), GENERIC_READ | GENERIC_WRITE);
        if (again == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (nothingToLock(error))
                continue;
            if (error != ERROR_ACCESS_DENIED) {
                traceLine(b, "volume %s cannot be opened (error %lu)", v.name.c_str(), error);
                return kVolumeNotOpened;
            }
            if (!dismount(b, v.handle)) {
                traceLine(b, "volume %s is locked, not by the bridge (error %lu)", v.name.c_str(), GetLastError());
                return kVolumeInUse;
            }
            continue;
        }
        traceLine(b, "volume %s holds another file system: locked again", v.name.c_str());
        replaced.push_back(i);
        if (const char *refusal = lockOpened(b, v.name, again, deviceNumber(d), taken))
            return refusal;
    }
    return nullptr;
}

/* Every volume Windows lists that lies on the device and is not held yet: locked. */
const char *lockTheOthers(Bridge &b, BridgeDevice &d, std::vector<HeldVolume> &taken)
{
    std::vector<std::string> volumes;
    b.win->listVolumes(volumes);
    for (const std::string &name : volumes) {
        if (held(b, name))
            continue;
        std::vector<VolumeHost> hosts;
        const Placement placed = placeVolume(b, name.c_str(), hosts);
        if (placed == Placement::Unknown)
            return kVolumeUnplaced;
        if (placed == Placement::Nowhere || !liesOn(hosts, d))
            continue;
        HANDLE volume = b.win->openDevice(name.c_str(), GENERIC_READ | GENERIC_WRITE);
        if (volume == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            traceLine(b, "volume %s on device %d cannot be opened (error %lu)", name.c_str(), deviceNumber(d), error);
            if (nothingToLock(error))
                continue;
            return kVolumeNotOpened;
        }
        if (const char *refusal = lockOpened(b, name, volume, deviceNumber(d), taken))
            return refusal;
    }
    return nullptr;
}

}  // namespace

const char *prepareForWriting(Bridge &b, BridgeDevice &d)
{
    const Medium medium = checkMedium(b, d);
    if (medium == Medium::Same && d.volumesChecked && !d.mediumInDoubt)
        return nullptr;
    std::vector<HeldVolume> taken;
    std::vector<size_t> replaced;
    const char *refusal = checkHeld(b, d, taken, replaced);
    if (!refusal)
        refusal = lockTheOthers(b, d, taken);
    if (refusal) {
        for (const HeldVolume &v : taken)
            b.win->closeDevice(v.handle);
        return refusal;
    }
    for (size_t i = replaced.size(); i-- > 0;) {
        b.win->closeDevice(d.held[replaced[i]].handle);
        d.held.erase(d.held.begin() + ptrdiff_t(replaced[i]));
    }
    d.held.insert(d.held.end(), taken.begin(), taken.end());
    d.volumesChecked = medium != Medium::Unknown;
    d.mediumInDoubt = false;
    return nullptr;
}

void noteUnitAttention(Bridge &b, BridgeDevice &d, uint8_t asc)
{
    d.mediumInDoubt = true;
    constexpr uint8_t kMediumChanged = 0x28, kReset = 0x29;
    if (!d.removable || (asc != kMediumChanged && asc != kReset))
        return;
    /* The class driver never saw this one (it does not look at pass-through sense): a file system
     * mounted from the old medium would go on with its cached metadata and write it over the new
     * one. Dismounted, the volume is mounted afresh from what is there now; held ones stay held. */
    traceLine(b, "%s: unit attention %02Xh: its volumes are dismounted", d.classPath, asc);
    for (const HeldVolume &v : d.held)
        dismount(b, v.handle);
    std::vector<std::string> volumes;
    b.win->listVolumes(volumes);
    for (const std::string &name : volumes) {
        std::vector<VolumeHost> hosts;
        if (held(b, name) || placeVolume(b, name.c_str(), hosts) != Placement::OnDevices || !liesOn(hosts, d))
            continue;
        HANDLE volume = b.win->openDevice(name.c_str(), GENERIC_READ | GENERIC_WRITE);
        if (volume == INVALID_HANDLE_VALUE || !dismount(b, volume))
            traceLine(b, "volume %s cannot be dismounted (error %lu)", name.c_str(), GetLastError());
        if (volume != INVALID_HANDLE_VALUE)
            b.win->closeDevice(volume);
    }
}

void releaseVolumes(Bridge &b, BridgeDevice &d)
{
    for (HeldVolume &v : d.held)
        b.win->closeDevice(v.handle);
    d.held.clear();
    d.mediaCountKnown = false;
    d.volumesChecked = false;
    d.mediumInDoubt = false;
}
