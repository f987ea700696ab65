/*
 * The inventory: the adapters the program sees. Each SCSI port Windows has (\\.\ScsiN:) is asked
 * its bus type; the buses of SCSI-family ports that hold a unit become adapters, in port then bus
 * order (IOCTL_SCSI_GET_INQUIRY_DATA gives the buses and units, IOCTL_SCSI_GET_CAPABILITIES what
 * the port takes). The class devices are then asked where they are (IOCTL_SCSI_GET_ADDRESS, whose
 * answer is documented for class drivers and port PDOs only): a class device is taken as a unit
 * of a shown port only when its bus is of the port's family and the port lists that unit as
 * claimed (or not at all); a unit two class devices answer for is not used. USB and 1394 drives
 * that no shown port owns make one adapter of their own, after the SCSI ones. The program shows
 * four adapters: with more, those holding a removable or non-disk device and the USB/1394 one
 * come first. Internal ports (ATA, SATA, NVMe, RAID, virtual, ...) and ports of an unknown kind
 * are not shown unless the expert setting asks for them; then they come last, and their disks
 * are never written.
 */
#include "bridge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kFirstInquiryBuffer = 4096;
constexpr DWORD kLargestInquiryBuffer = 1u << 20;
constexpr uint8_t kGroupInitiatorId = 7;
const char kGroupIdentifier[] = "USB/1394";
constexpr size_t kAdaptersShown = 4;     /* what the program takes */

bool internalPortsWanted()
{
    char value[8] = "";
    DWORD n = GetEnvironmentVariableA(kInternalPortsVariable, value, sizeof value);
    return n > 0 && n < sizeof value && !strcmp(value, "1");
}

void setIdentifier(uint8_t (&out)[16], const char *text)
{
    memset(out, 0, sizeof out);
    memcpy(out, text, std::min(strlen(text), sizeof out));
}

/* The port driver's name, as users see it in the device manager's driver details, with the bus
 * number when the port has several; "SCSI PORT n" when the registry does not say. */
void adapterIdentifier(const char *driver, int port, uint8_t bus, int busCount, uint8_t (&out)[16])
{
    char text[48];
    if (driver[0] && busCount > 1)
        snprintf(text, sizeof text, "%s %u", driver, bus);
    else if (driver[0])
        snprintf(text, sizeof text, "%s", driver);
    else if (busCount > 1)
        snprintf(text, sizeof text, "SCSI PORT %d-%u", port, bus);
    else
        snprintf(text, sizeof text, "SCSI PORT %d", port);
    setIdentifier(out, text);
}

TransferLimits portLimits(Bridge &b, HANDLE port)
{
    IO_SCSI_CAPABILITIES caps = {};
    DWORD returned = 0;
    TransferLimits limits;
    if (!b.win->deviceControl(port, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, sizeof caps, &returned) ||
        returned < offsetof(IO_SCSI_CAPABILITIES, AlignmentMask) + sizeof caps.AlignmentMask)
        return limits;
    if (caps.MaximumTransferLength > 0)
        limits.maxTransfer = caps.MaximumTransferLength;
    limits.maxPages = caps.MaximumPhysicalPages;
    limits.alignmentMask = caps.AlignmentMask;
    return limits;
}

/* The port's inquiry data; empty when the port does not give it. */
std::vector<uint8_t> inquiryData(Bridge &b, HANDLE port)
{
    for (DWORD size = kFirstInquiryBuffer; size <= kLargestInquiryBuffer; size *= 4) {
        std::vector<uint8_t> data(size);
        DWORD returned = 0;
        if (b.win->deviceControl(port, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, data.data(), size, &returned)) {
            data.resize(std::min(returned, size));
            return data;
        }
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA)
            break;
    }
    return {};
}

void fitTargets(HostAdapter &a)
{
    int highest = a.initiatorId;
    for (const BridgeDevice &d : a.devices)
        highest = std::max<int>(highest, d.target);
    a.maxTargets = uint8_t(std::min(255, std::max(8, highest + 1)));
}

/* One adapter per bus the port reports, with the logical units found on it. Every offset in the
 * data is checked against what the port returned. */
void addPortAdapters(Bridge &b, int port, HANDLE handle, const char *driver, BusFamily family,
                     std::vector<HostAdapter> &out)
{
    std::vector<uint8_t> data = inquiryData(b, handle);
    const size_t busDataAt = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
    int busCount = 1;
    if (data.size() >= busDataAt)
        busCount = std::max<int>(1, reinterpret_cast<const SCSI_ADAPTER_BUS_INFO *>(data.data())->NumberOfBuses);
    else
        traceLine(b, "port %d gives no inquiry data (error %lu): one bus, its class devices only", port,
                  GetLastError());
    TransferLimits limits = portLimits(b, handle);

    for (int bus = 0; bus < busCount; bus++) {
        HostAdapter a;
        a.port = port;
        a.portHandle = handle;
        a.bus = uint8_t(bus);
        a.family = family;
        a.internal = family != BusFamily::Scsi;
        a.limits = limits;
        adapterIdentifier(driver, port, a.bus, busCount, a.identifier);
        size_t entryAt = busDataAt + size_t(bus) * sizeof(SCSI_BUS_DATA);
        if (entryAt + sizeof(SCSI_BUS_DATA) <= data.size()) {
            SCSI_BUS_DATA busData;
            memcpy(&busData, data.data() + entryAt, sizeof busData);
            a.initiatorId = busData.InitiatorBusId;
            ULONG offset = busData.InquiryDataOffset;
            const size_t headerSize = offsetof(SCSI_INQUIRY_DATA, InquiryData);
            /* A chain that loops or leaves the data ends the walk. */
            for (int guard = 0; offset != 0 && guard < 4096; guard++) {
                if (offset > data.size() || data.size() - offset < headerSize + 1)
                    break;
                SCSI_INQUIRY_DATA unit;
                memcpy(&unit, data.data() + offset, headerSize);
                uint8_t peripheral = data[offset + headerSize];
                /* Qualifier 3: nothing can be at this unit. */
                if (unit.InquiryDataLength >= 1 && (peripheral >> 5) != 3) {
                    BridgeDevice d;
                    d.target = unit.TargetId;
                    d.lun = unit.Lun;
                    d.type = peripheral & 0x1F;
                    d.removable = unit.InquiryDataLength >= 2 && data.size() - offset > headerSize + 1 &&
                                  (data[offset + headerSize + 1] & 0x80);
                    d.claimed = unit.DeviceClaimed != 0;
                    d.address = {true, uint8_t(port), a.bus, d.target, d.lun};
                    d.limits = limits;
                    a.devices.push_back(d);
                }
                offset = unit.NextInquiryDataOffset;
            }
        }
        out.push_back(a);
    }
}

/* A class device of a unit of a shown port: the unit is reached through it. Some ports leave
 * claimed units out of their inquiry data; such a unit is added with the device type its class
 * device gives (its class's own when it gives none). A class device whose bus is not of the
 * port's family, or that names a unit the port lists as unclaimed, is not that unit (a USB drive
 * whose driver answers some address of its own): false, and it goes on as a drive of no port. */
bool attachToPort(Bridge &b, std::vector<HostAdapter> &adapters, const ClassDevice &c,
                  std::vector<UnitAddress> &conflicts)
{
    for (HostAdapter &a : adapters) {
        if (!c.address.known || a.port != c.address.port || a.bus != c.address.bus)
            continue;
        const BusFamily family = familyOfBusType(c.description.busType);
        if (!sameBusFamily(a.family, family)) {
            traceLine(b, "%s answers port %d bus %u target %u lun %u but is on a %s bus: not that unit", c.path,
                      a.port, a.bus, c.address.target, c.address.lun, familyName(family));
            return false;
        }
        auto at = std::find_if(a.devices.begin(), a.devices.end(), [&](const BridgeDevice &d) {
            return d.target == c.address.target && d.lun == c.address.lun;
        });
        if (at != a.devices.end() && !at->claimed) {
            traceLine(b, "%s answers port %d bus %u target %u lun %u, which the port lists as claimed by no class "
                      "driver: not that unit", c.path, a.port, a.bus, c.address.target, c.address.lun);
            return false;
        }
        if (at == a.devices.end()) {
            BridgeDevice d;
            d.target = c.address.target;
            d.lun = c.address.lun;
            d.type = c.description.busType >= 0 ? c.description.deviceType : c.type;
            d.address = c.address;
            d.limits = a.limits;
            a.devices.push_back(d);
            at = a.devices.end() - 1;
        }
        if (at->classPath[0]) {
            /* Two class devices for one unit: either may be another device; neither is used. */
            traceLine(b, "%s and %s both answer port %d bus %u target %u lun %u: the unit is not used", at->classPath,
                      c.path, a.port, a.bus, c.address.target, c.address.lun);
            conflicts.push_back(c.address);
            return true;
        }
        at->claimed = true;
        snprintf(at->classPath, sizeof at->classPath, "%s", c.path);
        at->diskNumber = c.disk ? c.number : -1;
        at->cdNumber = c.cdRom ? c.number : -1;
        at->identity = c.description.identity;
        at->removable = at->removable || c.description.removable;
        return true;
    }
    return false;
}

/* The units two class devices answered for leave their adapters: SS_NO_DEVICE. */
void dropConflicts(std::vector<HostAdapter> &adapters, const std::vector<UnitAddress> &conflicts)
{
    for (HostAdapter &a : adapters)
        a.devices.erase(std::remove_if(a.devices.begin(), a.devices.end(),
                                       [&](const BridgeDevice &d) {
                                           return std::any_of(conflicts.begin(), conflicts.end(), [&](const UnitAddress &c) {
                                               return c.port == a.port && c.bus == a.bus && c.target == d.target &&
                                                      c.lun == d.lun;
                                           });
                                       }),
                        a.devices.end());
}

/* The USB and 1394 drives no shown port owns, numbered by what they are (the same drives give
 * the same targets whatever Windows numbered them this time), skipping the adapter's own id. */
HostAdapter usbGroup(Bridge &b, std::vector<const ClassDevice *> &drives)
{
    std::sort(drives.begin(), drives.end(), [](const ClassDevice *x, const ClassDevice *y) {
        return x->description.identity != y->description.identity
                   ? x->description.identity < y->description.identity
                   : strcmp(x->path, y->path) < 0;
    });
    HostAdapter group;
    group.family = BusFamily::UsbOr1394;
    group.initiatorId = kGroupInitiatorId;
    setIdentifier(group.identifier, kGroupIdentifier);
    group.limits.maxTransfer = 0;
    uint8_t target = 0;
    for (const ClassDevice *c : drives) {
        if (target == kGroupInitiatorId)
            target++;
        BridgeDevice d;
        d.target = target++;
        d.type = c->description.deviceType;
        d.removable = c->description.removable;
        d.claimed = true;
        snprintf(d.classPath, sizeof d.classPath, "%s", c->path);
        d.diskNumber = c->disk ? c->number : -1;
        d.cdNumber = c->cdRom ? c->number : -1;
        d.address = c->address;
        d.identity = c->description.identity;
        HANDLE h = b.win->openDevice(c->path, 0);
        if (h != INVALID_HANDLE_VALUE) {
            classDeviceLimits(b, h, d.limits);
            b.win->closeDevice(h);
        }
        uint32_t largest = largestTransfer(d.limits);
        if (group.limits.maxTransfer == 0 || largest < group.limits.maxTransfer)
            group.limits.maxTransfer = largest;
        group.devices.push_back(d);
    }
    fitTargets(group);
    return group;
}

void traceAdapters(Bridge &b)
{
    for (size_t i = 0; i < b.adapters.size(); i++) {
        const HostAdapter &a = b.adapters[i];
        char place[32] = "USB/1394 drives";
        if (a.port >= 0)
            snprintf(place, sizeof place, "port %d bus %u", a.port, a.bus);
        traceLine(b, "adapter %u: %s, id %u, \"%.16s\"%s%s, %u units, largest transfer %lu, alignment %lu",
                  unsigned(i), place, a.initiatorId, reinterpret_cast<const char *>(a.identifier),
                  a.internal ? " (internal: disks never written)" : "",
                  i >= kAdaptersShown ? " (beyond the fourth: the program does not show it)" : "",
                  unsigned(a.devices.size()),
                  (unsigned long)largestTransfer(a.limits), (unsigned long)a.limits.alignmentMask);
        for (const BridgeDevice &d : a.devices)
            traceLine(b, "  target %u lun %u type %02X %s%s", d.target, d.lun, d.type,
                      d.claimed ? "claimed, via " : "unclaimed, via the port",
                      d.claimed ? (d.classPath[0] ? d.classPath : "(no class device)") : "");
    }
}

/* Whether an adapter holds what a sampler user copies: a removable medium or a device that is
 * no disk (a sampler, a CD or tape drive). */
bool holdsRemovableOrNonDisk(const HostAdapter &a)
{
    return std::any_of(a.devices.begin(), a.devices.end(),
                       [](const BridgeDevice &d) { return d.removable || !isDiskType(d.type); });
}

/* Port and bus order, the USB/1394 adapter after the SCSI ones, internal ports last. When the
 * program would not see them all, the SCSI adapters holding a removable or non-disk device and
 * the USB/1394 adapter come first, so that fixed disks of SAS or iSCSI buses do not push them
 * out. */
std::vector<HostAdapter> ordered(std::vector<HostAdapter> &scsi, std::vector<HostAdapter> &usb,
                                 std::vector<HostAdapter> &internal)
{
    std::vector<HostAdapter> all;
    for (std::vector<HostAdapter> *list : {&scsi, &usb, &internal})
        for (HostAdapter &a : *list)
            if (!a.devices.empty()) {
                fitTargets(a);
                all.push_back(a);
            }
    if (all.size() > kAdaptersShown)
        std::stable_partition(all.begin(), all.end(), [](const HostAdapter &a) {
            return !a.internal && (a.port < 0 || holdsRemovableOrNonDisk(a));
        });
    return all;
}

}  // namespace

void takeInventory(Bridge &b)
{
    releaseInventory(b);
    const bool internalWanted = internalPortsWanted();
    std::vector<HostAdapter> scsi, internal;
    for (int port = 0; port < kMaxPorts; port++) {
        char path[24];
        snprintf(path, sizeof path, "\\\\.\\Scsi%d:", port);
        HANDLE h = b.win->openDevice(path, kReadWrite);
        if (h == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_ACCESS_DENIED) {
                b.deniedPorts++;
                traceLine(b, "%s: access denied", path);
            }
            continue;
        }
        b.ports.push_back(h);
        char driver[32];
        BusFamily family = portFamily(b, port, h, driver);
        if (family == BusFamily::Scsi)
            addPortAdapters(b, port, h, driver, family, scsi);
        else if (family != BusFamily::UsbOr1394 && internalWanted)
            addPortAdapters(b, port, h, driver, family, internal);
        else
            traceLine(b, "port %d not shown (%s)", port, familyName(family));
    }

    std::vector<ClassDevice> classes = listClassDevices(b);
    std::vector<const ClassDevice *> drives;
    std::vector<UnitAddress> conflicts;
    for (const ClassDevice &c : classes) {
        if (attachToPort(b, scsi, c, conflicts) || attachToPort(b, internal, c, conflicts))
            continue;
        if (familyOfBusType(c.description.busType) == BusFamily::UsbOr1394)
            drives.push_back(&c);
        else
            traceLine(b, "%s not shown (on no shown port, bus type %d)", c.path, c.description.busType);
    }
    dropConflicts(scsi, conflicts);
    dropConflicts(internal, conflicts);

    std::vector<HostAdapter> usb;
    if (!drives.empty())
        usb.push_back(usbGroup(b, drives));
    b.adapters = ordered(scsi, usb, internal);
    traceAdapters(b);
}

void releaseInventory(Bridge &b)
{
    for (HostAdapter &a : b.adapters)
        for (BridgeDevice &d : a.devices)
            closeUnitHandle(b, d);
    for (HANDLE h : b.ports)
        b.win->closeDevice(h);
    b.ports.clear();
    b.adapters.clear();
    b.deniedPorts = 0;
}

BridgeDevice *findDevice(Bridge &b, uint8_t adapter, uint8_t target, uint8_t lun)
{
    if (adapter >= b.adapters.size())
        return nullptr;
    for (BridgeDevice &d : b.adapters[adapter].devices)
        if (d.target == target && d.lun == lun)
            return &d;
    return nullptr;
}
