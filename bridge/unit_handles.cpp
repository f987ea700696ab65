/*
 * The class devices (\\.\PhysicalDriveN, \\.\CdRomN, \\.\TapeN, \\.\ChangerN) and which unit
 * each one is. Their numbers are not the units': a drive unplugged and plugged again, or another
 * one plugged meanwhile, may get another number, and the old number another drive. So a unit is
 * known by its address (IOCTL_SCSI_GET_ADDRESS) and what its class device says it is (vendor,
 * product, revision, serial), and a class device is checked against both before the first
 * request goes to it. Once its class device went away, or its name answers for another device,
 * the unit is looked for among all the class devices: two identical drives without serial
 * numbers whose driver does not give their address cannot be told apart, so the unit is found
 * again only when exactly one class device answers as it; otherwise there is no device.
 */
#include "bridge.h"

#include <cstdio>
#include <cstring>

namespace {

struct ClassFamily {
    const char *prefix;
    int count;
    uint8_t type;                        /* the device type a class device of it stands for */
    bool disk, cdRom;
};
constexpr ClassFamily kClassFamilies[] = {
    {"\\\\.\\PhysicalDrive", 64, 0x00, true, false},
    {"\\\\.\\CdRom", 32, 0x05, false, true},
    {"\\\\.\\Tape", 16, 0x01, false, false},
    {"\\\\.\\Changer", 16, 0x08, false, false},
};

UnitAddress readAddress(Bridge &b, HANDLE h)
{
    SCSI_ADDRESS address = {};
    DWORD returned = 0;
    UnitAddress a;
    if (b.win->deviceControl(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address, &returned) &&
        returned >= sizeof address)
        a = {true, address.PortNumber, address.PathId, address.TargetId, address.Lun};
    return a;
}

bool sameAddress(const UnitAddress &x, const UnitAddress &y)
{
    return x.known == y.known &&
           (!x.known || (x.port == y.port && x.bus == y.bus && x.target == y.target && x.lun == y.lun));
}

/* Whether two class device paths are of the same family (\\.\PhysicalDrive3, \\.\PhysicalDrive7). */
bool samePrefix(const char *path, const char *other)
{
    while (*path && *path == *other && (*path < '0' || *path > '9')) {
        path++;
        other++;
    }
    return (*path >= '0' && *path <= '9') && (*other >= '0' && *other <= '9');
}

/* Whether an opened class device is the unit of the inventory. */
bool isTheUnit(Bridge &b, HANDLE h, const BridgeDevice &d)
{
    return sameAddress(readAddress(b, h), d.address) && describeClassDevice(b, h).identity == d.identity;
}

/* The one class device that answers as the unit now, opened; else INVALID_HANDLE_VALUE. */
HANDLE findAgain(Bridge &b, BridgeDevice &d, DWORD &error)
{
    error = ERROR_DEV_NOT_EXIST;
    std::vector<ClassDevice> matches;
    for (const ClassDevice &c : listClassDevices(b))
        if (samePrefix(c.path, d.classPath) && sameAddress(c.address, d.address) &&
            c.description.identity == d.identity)
            matches.push_back(c);
    if (matches.size() != 1) {
        traceLine(b, "%u class devices answer as the unit of %s: %s", unsigned(matches.size()), d.classPath,
                  matches.empty() ? "it has gone" : "they cannot be told apart, none is used");
        return INVALID_HANDLE_VALUE;
    }
    const ClassDevice &c = matches[0];
    HANDLE h = b.win->openDevice(c.path, GENERIC_READ | GENERIC_WRITE);
    if (h == INVALID_HANDLE_VALUE || !isTheUnit(b, h, d)) {
        error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_DEV_NOT_EXIST;
        if (h != INVALID_HANDLE_VALUE)
            b.win->closeDevice(h);
        return INVALID_HANDLE_VALUE;
    }
    traceLine(b, "the unit of %s is now %s", d.classPath, c.path);
    snprintf(d.classPath, sizeof d.classPath, "%s", c.path);
    if (d.cdNumber >= 0)
        d.cdNumber = c.number;
    if (d.diskNumber >= 0) {
        d.diskNumber = c.number;
        findProtectedDisks(b);           /* the disks' numbers have moved */
    }
    return h;
}

}  // namespace

std::vector<ClassDevice> listClassDevices(Bridge &b)
{
    std::vector<ClassDevice> found;
    for (const ClassFamily &family : kClassFamilies) {
        for (int n = 0; n < family.count; n++) {
            ClassDevice c = {};
            snprintf(c.path, sizeof c.path, "%s%d", family.prefix, n);
            HANDLE h = b.win->openDevice(c.path, 0);
            if (h == INVALID_HANDLE_VALUE)
                continue;
            c.number = n;
            c.disk = family.disk;
            c.cdRom = family.cdRom;
            c.type = family.type;
            c.address = readAddress(b, h);
            c.description = describeClassDevice(b, h);
            b.win->closeDevice(h);
            found.push_back(c);
        }
    }
    return found;
}

HANDLE unitHandle(Bridge &b, HostAdapter &a, BridgeDevice &d, DWORD &error)
{
    if (!d.claimed)
        return a.portHandle;
    if (d.handle != INVALID_HANDLE_VALUE)
        return d.handle;
    error = ERROR_DEV_NOT_EXIST;
    if (!d.classPath[0])
        return INVALID_HANDLE_VALUE;
    if (!d.lost) {
        /* The first request since the inventory: the name the inventory found. */
        HANDLE h = b.win->openDevice(d.classPath, GENERIC_READ | GENERIC_WRITE);
        if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
            error = ERROR_ACCESS_DENIED;
            return h;
        }
        if (h != INVALID_HANDLE_VALUE && isTheUnit(b, h, d)) {
            d.handle = h;
            return h;
        }
        if (h != INVALID_HANDLE_VALUE)
            b.win->closeDevice(h);
        traceLine(b, "%s no longer answers for its unit: looking for it", d.classPath);
        d.lost = true;
    }
    d.handle = findAgain(b, d, error);
    if (d.handle != INVALID_HANDLE_VALUE)
        d.lost = false;
    return d.handle;
}

void dropUnitHandle(Bridge &b, BridgeDevice &d)
{
    closeUnitHandle(b, d);
    d.lost = true;
}

void closeUnitHandle(Bridge &b, BridgeDevice &d)
{
    releaseVolumes(b, d);
    if (d.handle != INVALID_HANDLE_VALUE)
        b.win->closeDevice(d.handle);
    d.handle = INVALID_HANDLE_VALUE;
}

/* What a handle answers once its device has gone: classpnp fails every request of a removed
 * device with STATUS_DEVICE_DOES_NOT_EXIST (ERROR_DEV_NOT_EXIST); port and bus drivers answer
 * STATUS_NO_SUCH_DEVICE or STATUS_DEVICE_NOT_CONNECTED. */
bool deviceGone(DWORD error)
{
    constexpr DWORD kNoSuchDevice = 433;     /* ERROR_NO_SUCH_DEVICE, not in the headers for Windows 2000 */
    return error == ERROR_DEV_NOT_EXIST || error == ERROR_DEVICE_NOT_CONNECTED || error == kNoSuchDevice ||
           error == ERROR_FILE_NOT_FOUND || error == ERROR_DEVICE_REMOVED;
}
