/*
 * What kind of bus a port or a class device is on. Windows says it in the STORAGE_BUS_TYPE that
 * IOCTL_STORAGE_QUERY_PROPERTY answers (StorageAdapterProperty for a port, StorageDeviceProperty
 * for a class device; the values are those of Microsoft's STORAGE_BUS_TYPE page). The name of the
 * port's driver (HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port N, value Driver) tells too: SCSI card
 * drivers, IDE and RAID drivers, USB and 1394 ones as below. The bus type is a value of the
 * miniport's INF, so a RAID or SATA miniport may well call itself SCSI: a port is internal when
 * either says so. Windows 2000 answers the adapter query with an older descriptor, whose BusType
 * is a BOOLEAN (ntddstor.h before Windows XP), not a bus type: there the driver's name alone
 * tells. A name not in the tables counts as unknown, and an unknown port is not shown: fail
 * closed.
 */
#include "bridge.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned kWindowsXp = 0x0501;

/* STORAGE_BUS_TYPE values (winioctl.h names them only for newer _WIN32_WINNT). */
enum : int {
    kBusScsi = 0x01, kBusAtapi, kBusAta, kBus1394, kBusSsa, kBusFibre, kBusUsb, kBusRaid, kBusIscsi, kBusSas,
    kBusSata, kBusSd, kBusMmc, kBusVirtual, kBusFileBackedVirtual, kBusSpaces, kBusNvme, kBusScm, kBusUfs,
    kBusNvmeOverFabrics
};

struct DriverKind {
    const char *name;
    BusFamily family;
};
/* Port drivers of Windows 2000 and XP (in the box or common) by what they drive. */
constexpr DriverKind kDrivers[] = {
    {"aic78xx", BusFamily::Scsi},    {"aic78u2", BusFamily::Scsi},    {"adpu160m", BusFamily::Scsi},
    {"adpu320", BusFamily::Scsi},    {"aha154x", BusFamily::Scsi},    {"symc810", BusFamily::Scsi},
    {"symc8xx", BusFamily::Scsi},    {"sym_hi", BusFamily::Scsi},     {"sym_u3", BusFamily::Scsi},
    {"lsi_scsi", BusFamily::Scsi},   {"lsi_fc", BusFamily::Scsi},     {"lsi_sas", BusFamily::Scsi},
    {"ql1080", BusFamily::Scsi},     {"ql12160", BusFamily::Scsi},    {"ql1240", BusFamily::Scsi},
    {"ql1280", BusFamily::Scsi},     {"ql2100", BusFamily::Scsi},     {"ql2200", BusFamily::Scsi},
    {"ql2300", BusFamily::Scsi},     {"ini910u", BusFamily::Scsi},    {"abp480n5", BusFamily::Scsi},
    {"asc", BusFamily::Scsi},        {"asc3350p", BusFamily::Scsi},   {"asc3550", BusFamily::Scsi},
    {"amsint", BusFamily::Scsi},
    {"usbstor", BusFamily::UsbOr1394}, {"uaspstor", BusFamily::UsbOr1394}, {"sbp2port", BusFamily::UsbOr1394},
    {"atapi", BusFamily::Internal},  {"pciide", BusFamily::Internal}, {"intelide", BusFamily::Internal},
    {"viaide", BusFamily::Internal}, {"cmdide", BusFamily::Internal}, {"aliide", BusFamily::Internal},
    {"storahci", BusFamily::Internal}, {"msahci", BusFamily::Internal}, {"stornvme", BusFamily::Internal},
    {"iastor", BusFamily::Internal}, {"iastorv", BusFamily::Internal}, {"iastora", BusFamily::Internal},
    {"iastorac", BusFamily::Internal}, {"nvstor", BusFamily::Internal}, {"amdsata", BusFamily::Internal},
    {"amdxata", BusFamily::Internal}, {"spaceport", BusFamily::Internal}, {"storvsc", BusFamily::Internal},
    {"vhdmp", BusFamily::Internal},  {"megasas", BusFamily::Internal}, {"megasr", BusFamily::Internal},
    {"percsas", BusFamily::Internal}, {"mraid35x", BusFamily::Internal}, {"dac960nt", BusFamily::Internal},
    {"cpqarray", BusFamily::Internal}, {"cpqarray2", BusFamily::Internal}, {"dpti2o", BusFamily::Internal},
    {"hpcisss", BusFamily::Internal}, {"arcsas", BusFamily::Internal},
};

BusFamily familyOfDriver(const char *driver)
{
    for (const DriverKind &d : kDrivers)
        if (sameText(d.name, driver))
            return d.family;
    return BusFamily::Unknown;
}

void driverName(Bridge &b, int port, char (&driver)[32])
{
    char key[64];
    snprintf(key, sizeof key, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d", port);
    DWORD size = sizeof driver - 1;
    if (b.win->readMachineValue(key, "Driver", driver, &size) != ERROR_SUCCESS)
        size = 0;
    driver[std::min<DWORD>(size, sizeof driver - 1)] = '\0';
}

}  // namespace

bool sameText(const char *a, const char *b)
{
    for (; *a && *b; a++, b++)
        if (toupper(static_cast<unsigned char>(*a)) != toupper(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

BusFamily familyOfBusType(int busType)
{
    switch (busType) {
    case kBusScsi: case kBusSsa: case kBusFibre: case kBusIscsi: case kBusSas:
        return BusFamily::Scsi;
    case kBus1394: case kBusUsb:
        return BusFamily::UsbOr1394;
    case kBusAtapi: case kBusAta: case kBusRaid: case kBusSata: case kBusSd: case kBusMmc: case kBusVirtual:
    case kBusFileBackedVirtual: case kBusSpaces: case kBusNvme: case kBusScm: case kBusUfs: case kBusNvmeOverFabrics:
        return BusFamily::Internal;
    default:
        return BusFamily::Unknown;
    }
}

const char *familyName(BusFamily family)
{
    switch (family) {
    case BusFamily::Scsi: return "SCSI";
    case BusFamily::UsbOr1394: return "USB/1394";
    case BusFamily::Internal: return "internal";
    default: return "unknown";
    }
}

BusFamily portFamily(Bridge &b, int port, HANDLE handle, char (&driver)[32])
{
    driverName(b, port, driver);
    const BusFamily byDriver = familyOfDriver(driver);
    STORAGE_PROPERTY_QUERY query = {StorageAdapterProperty, PropertyStandardQuery, {0}};
    STORAGE_ADAPTER_DESCRIPTOR adapter = {};
    DWORD returned = 0;
    BusFamily byBusType = BusFamily::Unknown;
    if (b.win->windowsVersion() < kWindowsXp) {
        traceLine(b, "port %d: Windows 2000 gives no bus type", port);
    } else if (b.win->deviceControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &adapter,
                                    sizeof adapter, &returned) &&
               returned > offsetof(STORAGE_ADAPTER_DESCRIPTOR, BusType)) {
        byBusType = familyOfBusType(adapter.BusType);
        traceLine(b, "port %d: bus type %u, %s", port, unsigned(adapter.BusType), familyName(byBusType));
    }
    BusFamily family = byBusType == BusFamily::Unknown ? byDriver : byBusType;
    if (byDriver == BusFamily::Internal)
        family = BusFamily::Internal;
    traceLine(b, "port %d: driver \"%s\" (%s): %s", port, driver, familyName(byDriver), familyName(family));
    return family;
}

bool sameBusFamily(BusFamily port, BusFamily device)
{
    /* An internal or unknown port (shown by the expert setting) may carry class devices that
     * call their bus SCSI (a RAID miniport); never a USB or 1394 one. */
    if (port == BusFamily::Internal || port == BusFamily::Unknown)
        return device != BusFamily::UsbOr1394;
    return port == device;
}

DeviceDescription describeClassDevice(Bridge &b, HANDLE device)
{
    STORAGE_PROPERTY_QUERY query = {StorageDeviceProperty, PropertyStandardQuery, {0}};
    union {
        STORAGE_DEVICE_DESCRIPTOR descriptor;
        char bytes[512];
    } reply = {};
    DWORD returned = 0;
    DeviceDescription description;
    if (!b.win->deviceControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &reply, sizeof reply,
                              &returned) ||
        returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength))
        return description;
    returned = std::min<DWORD>(returned, sizeof reply.bytes - 1);
    reply.bytes[returned] = '\0';
    const STORAGE_DEVICE_DESCRIPTOR &d = reply.descriptor;
    for (DWORD offset : {d.VendorIdOffset, d.ProductIdOffset, d.ProductRevisionOffset, d.SerialNumberOffset}) {
        if (!description.identity.empty())
            description.identity += '|';
        if (offset != 0 && offset < returned)
            description.identity += reply.bytes + offset;
    }
    description.busType = int(d.BusType);
    description.deviceType = d.DeviceType & 0x1F;
    description.removable = d.RemovableMedia != 0;
    return description;
}

bool classDeviceLimits(Bridge &b, HANDLE device, TransferLimits &limits)
{
    STORAGE_PROPERTY_QUERY query = {StorageAdapterProperty, PropertyStandardQuery, {0}};
    STORAGE_ADAPTER_DESCRIPTOR adapter = {};
    DWORD returned = 0;
    if (!b.win->deviceControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &adapter, sizeof adapter,
                              &returned) ||
        returned < offsetof(STORAGE_ADAPTER_DESCRIPTOR, AdapterUsesPio))
        return false;
    if (adapter.MaximumTransferLength > 0)
        limits.maxTransfer = adapter.MaximumTransferLength;
    limits.maxPages = adapter.MaximumPhysicalPages;
    limits.alignmentMask = adapter.AlignmentMask;
    return true;
}
