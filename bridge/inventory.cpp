/*
 * The inventory: which SCSI ports Windows has, the buses each reports and the logical units on
 * them (IOCTL_SCSI_GET_INQUIRY_DATA), what each port takes (IOCTL_SCSI_GET_CAPABILITIES), and
 * which class device answers for a claimed unit (IOCTL_SCSI_GET_ADDRESS).
 */
#include "bridge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kFirstInquiryBuffer = 4096;
constexpr DWORD kLargestInquiryBuffer = 1u << 20;
constexpr uint32_t kDefaultMaxTransfer = 64 * 1024;
constexpr uint32_t kPageSize = 4096;

/* The class devices a claimed unit may hide behind, and the type to give a unit that only its
 * class device reports. */
struct ClassFamily {
    const char *prefix;
    int count;
    uint8_t type;
    bool disk;
};
constexpr ClassFamily kClassFamilies[] = {
    {"\\\\.\\PhysicalDrive", 64, 0x00, true},
    {"\\\\.\\CdRom", 32, 0x05, false},
    {"\\\\.\\Tape", 16, 0x01, false},
    {"\\\\.\\Changer", 16, 0x08, false},
};

/* The port driver's name from HKLM\HARDWARE\DEVICEMAP\Scsi, as users see it in the device
 * manager's driver details; "SCSI PORT n" when the registry does not say. */
void adapterIdentifier(Bridge &b, int port, uint8_t bus, int busCount, uint8_t (&out)[16])
{
    char key[64];
    snprintf(key, sizeof key, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d", port);
    char driver[64] = "";
    DWORD size = sizeof driver - 1;
    char text[40];
    if (b.win->readMachineValue(key, "Driver", driver, &size) == ERROR_SUCCESS && driver[0]) {
        driver[std::min<DWORD>(size, sizeof driver - 1)] = '\0';
        if (busCount > 1)
            snprintf(text, sizeof text, "%s %u", driver, bus);
        else
            snprintf(text, sizeof text, "%s", driver);
    } else if (busCount > 1) {
        snprintf(text, sizeof text, "SCSI PORT %d-%u", port, bus);
    } else {
        snprintf(text, sizeof text, "SCSI PORT %d", port);
    }
    memset(out, 0, sizeof out);
    memcpy(out, text, std::min(strlen(text), sizeof out));
}

void readCapabilities(Bridge &b, HANDLE port, uint32_t &maxTransfer, uint32_t &alignmentMask)
{
    IO_SCSI_CAPABILITIES caps = {};
    DWORD returned = 0;
    maxTransfer = kDefaultMaxTransfer;
    alignmentMask = 0;
    if (!b.win->deviceControl(port, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, sizeof caps, &returned) ||
        returned < offsetof(IO_SCSI_CAPABILITIES, AlignmentMask) + sizeof caps.AlignmentMask)
        return;
    maxTransfer = caps.MaximumTransferLength;
    /* A buffer that does not start on a page boundary touches one page more than it fills. */
    if (caps.MaximumPhysicalPages > 1)
        maxTransfer = std::min<uint32_t>(maxTransfer, (caps.MaximumPhysicalPages - 1) * kPageSize);
    alignmentMask = caps.AlignmentMask;
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

/* One adapter per bus the port reports, with the logical units found on it. Every offset in the
 * data is checked against what the port returned. */
void addPortAdapters(Bridge &b, int port, HANDLE handle)
{
    std::vector<uint8_t> data = inquiryData(b, handle);
    const size_t busDataAt = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
    int busCount = 1;
    if (data.size() >= busDataAt)
        busCount = std::max<int>(1, reinterpret_cast<const SCSI_ADAPTER_BUS_INFO *>(data.data())->NumberOfBuses);
    else
        traceLine(b, "port %d gives no inquiry data (error %lu): one bus, its class devices only", port,
                  GetLastError());
    uint32_t maxTransfer, alignmentMask;
    readCapabilities(b, handle, maxTransfer, alignmentMask);

    for (int bus = 0; bus < busCount; bus++) {
        HostAdapter a;
        a.port = port;
        a.portHandle = handle;
        a.bus = uint8_t(bus);
        a.maxTransfer = maxTransfer;
        a.alignmentMask = alignmentMask;
        adapterIdentifier(b, port, a.bus, busCount, a.identifier);
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
                    d.claimed = unit.DeviceClaimed != 0;
                    a.devices.push_back(d);
                }
                offset = unit.NextInquiryDataOffset;
            }
        }
        uint8_t highest = a.initiatorId;
        for (const BridgeDevice &d : a.devices)
            highest = std::max(highest, d.target);
        a.maxTargets = uint8_t(std::min(255, std::max(8, highest + 1)));
        b.adapters.push_back(a);
    }
}

/* Which class device answers for which unit: each one that exists is asked its address. */
void mapClassDevices(Bridge &b)
{
    for (const ClassFamily &family : kClassFamilies) {
        for (int n = 0; n < family.count; n++) {
            char path[kClassPathSize];
            snprintf(path, sizeof path, "%s%d", family.prefix, n);
            HANDLE h = b.win->openDevice(path, 0);
            if (h == INVALID_HANDLE_VALUE)
                continue;
            SCSI_ADDRESS address = {};
            DWORD returned = 0;
            BOOL ok = b.win->deviceControl(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address,
                                           &returned);
            b.win->closeDevice(h);
            if (!ok || returned < sizeof address)
                continue;
            for (HostAdapter &a : b.adapters) {
                if (a.port != address.PortNumber || a.bus != address.PathId)
                    continue;
                auto at = std::find_if(a.devices.begin(), a.devices.end(), [&](const BridgeDevice &d) {
                    return d.target == address.TargetId && d.lun == address.Lun;
                });
                if (at == a.devices.end()) {
                    /* Some ports leave claimed units out of their inquiry data. */
                    BridgeDevice d;
                    d.target = address.TargetId;
                    d.lun = address.Lun;
                    d.type = family.type;
                    a.devices.push_back(d);
                    at = a.devices.end() - 1;
                    a.maxTargets = uint8_t(std::min(255, std::max<int>(a.maxTargets, d.target + 1)));
                }
                at->claimed = true;
                snprintf(at->classPath, sizeof at->classPath, "%s", path);
                at->diskNumber = family.disk ? n : -1;
            }
        }
    }
}

}  // namespace

void takeInventory(Bridge &b)
{
    releaseInventory(b);
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
        addPortAdapters(b, port, h);
    }
    mapClassDevices(b);
    for (size_t i = 0; i < b.adapters.size(); i++) {
        const HostAdapter &a = b.adapters[i];
        traceLine(b, "adapter %u: port %d bus %u, id %u, \"%.16s\", %u units, largest transfer %lu, alignment %lu",
                  unsigned(i), a.port, a.bus, a.initiatorId, reinterpret_cast<const char *>(a.identifier),
                  unsigned(a.devices.size()), (unsigned long)a.maxTransfer, (unsigned long)a.alignmentMask);
        for (const BridgeDevice &d : a.devices)
            traceLine(b, "  target %u lun %u type %02X %s%s", d.target, d.lun, d.type,
                      d.claimed ? "claimed, via " : "unclaimed, via the port", d.claimed ? (d.classPath[0] ? d.classPath : "(no class device)") : "");
    }
}

void releaseInventory(Bridge &b)
{
    for (HostAdapter &a : b.adapters)
        for (BridgeDevice &d : a.devices)
            if (d.handle != INVALID_HANDLE_VALUE)
                b.win->closeDevice(d.handle);
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
