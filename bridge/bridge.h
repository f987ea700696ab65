/*
 * The ASPI bridge: an ASPI for Win32 layer (wnaspi32.dll) that serves each request by SCSI
 * pass-through to the real devices. The host adapters it shows are the buses of the SCSI cards
 * (ports whose bus type is of the SCSI family) that hold a unit, in port then bus order, then
 * one adapter for the USB and FireWire (1394) drives that no such port owns. Internal ports
 * (ATA, SATA, NVMe, RAID, virtual, ...) are left out unless the user asks for them; their disks
 * are never written. A device that a class driver owns (a disk, a CD-ROM drive) is reached
 * through its class device (\\.\PhysicalDriveN, \\.\CdRomN, ...), any other through its port.
 * Completion is synchronous.
 *
 * port_kinds.cpp    what kind of bus a port or a class device is on (SCSI card, USB, internal)
 * inventory.cpp     the adapters: the buses of the ports, their units, the USB/1394 adapter
 * unit_handles.cpp  the class devices, and a unit's class device, found again by its address
 * commands.cpp      which commands only read, per device type; which way their data goes
 * volume_places.cpp which disks (or CD/DVD drive) a volume or a drive letter lies on
 * protection.cpp    which disks are never written, and whether a write may go to a unit now
 * volume_locks.cpp  the volumes of a disk locked and dismounted for writing; media changes
 * pass_through.cpp  one SC_EXEC_SCSI_CMD as IOCTL_SCSI_PASS_THROUGH_DIRECT
 * requests.cpp      GetASPI32SupportInfo and the ASPI commands
 * trace.cpp         the request trace, when asked for
 * exports.cpp       the two entry points over the one bridge of the process
 * windows_calls.*   the table through which all of the above reach Windows
 */
#ifndef BRIDGE_H
#define BRIDGE_H

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>   /* after winioctl.h, which defines CTL_CODE */
#include <cstdint>
#include <string>
#include <vector>
#include "aspi_blocks.h"
#include "windows_calls.h"

constexpr int kMaxPorts = 32;            /* \\.\Scsi0: to \\.\Scsi31:, gaps allowed */
constexpr size_t kClassPathSize = 24;
/* SRB_Flags: the residual count is honoured; posting and event notification are not offered. */
constexpr uint8_t kResidualCountFlag = 0x04;
/* The setting that shows internal ports too (an expert's choice): "1" to show them. */
constexpr const char *kInternalPortsVariable = "KESTROVA_BRIDGE_INTERNAL_PORTS";
/* How long one command may take before the port gives up on it, unless SC_GETSET_TIMEOUTS says
 * otherwise: half an hour. A 64 KB read of a failing disk whose every sector goes through the
 * drive's full error recovery, the spin-up of an old drive, an MO write with verify all stay
 * well within it; a device that hangs gives the caller back within half an hour. */
constexpr uint32_t kDefaultTimeoutSeconds = 30 * 60;
/* The longest timeout the Windows port drivers take for a pass-through request: 30 hours. */
constexpr uint32_t kLongestTimeoutSeconds = 30 * 60 * 60;

/* The kind of bus a port or a class device is on, from its STORAGE_BUS_TYPE. */
enum class BusFamily : uint8_t { Scsi, UsbOr1394, Internal, Unknown };

/* Where Windows places a unit: SCSI_ADDRESS (port, path, target, LUN). */
struct UnitAddress {
    bool known = false;
    uint8_t port = 0, bus = 0, target = 0, lun = 0;
};

struct TransferLimits {
    uint32_t maxTransfer = 64 * 1024;    /* bytes in one request */
    uint32_t maxPages = 0;               /* physical pages one transfer may touch; 0: no limit given */
    uint32_t alignmentMask = 0;          /* the buffer's address must have none of these bits */
};

/* A volume this bridge holds locked and dismounted while it writes the disk under it. */
struct HeldVolume {
    std::string name;
    HANDLE handle;                       /* the lock lasts while this is open */
};

/* A device a volume lies on, as IOCTL_STORAGE_GET_DEVICE_NUMBER names it: a disk (N of
 * \\.\PhysicalDriveN) or a CD/DVD drive (N of \\.\CdRomN). */
struct VolumeHost {
    bool cdRom;
    int number;
};

struct BridgeDevice {
    uint8_t target = 0;                  /* as the program addresses it */
    uint8_t lun = 0;
    uint8_t type = 0;                    /* peripheral device type */
    bool removable = false;              /* its medium can be changed */
    bool claimed = false;                /* a class driver owns it: requests go to classPath */
    char classPath[kClassPathSize] = ""; /* empty while no class device answers for it */
    int diskNumber = -1;                 /* N of \\.\PhysicalDriveN */
    int cdNumber = -1;                   /* N of \\.\CdRomN */
    UnitAddress address;                 /* where Windows places it; a unit is found again by it */
    std::string identity;                /* vendor, product, revision, serial of its class device */
    HANDLE handle = INVALID_HANDLE_VALUE;/* the class device, opened at its first request */
    bool lost = false;                   /* its class device went away since the inventory */
    TransferLimits limits;
    uint32_t timeoutSeconds = kDefaultTimeoutSeconds;
    std::vector<HeldVolume> held;        /* locked for writing this device */
    bool mediaCountKnown = false;        /* the last media change count IOCTL_STORAGE_CHECK_VERIFY gave */
    ULONG mediaChanges = 0;
    bool volumesChecked = false;         /* every volume on it is held, for the medium of that count */
    bool mediumInDoubt = false;          /* a unit attention came back since: check the volumes again */
};

struct HostAdapter {
    int port = -1;                       /* N of \\.\ScsiN:; -1: the USB/1394 adapter */
    BusFamily family = BusFamily::Scsi;
    HANDLE portHandle = INVALID_HANDLE_VALUE;   /* shared by the port's buses, not owned */
    uint8_t bus = 0;
    bool internal = false;               /* shown by the expert setting: its disks are never written */
    uint8_t initiatorId = 7;
    uint8_t identifier[16] = {};
    uint8_t maxTargets = 8;
    TransferLimits limits;
    std::vector<BridgeDevice> devices;
};

/* A disk that is never written, and which rule says so. */
struct ProtectedDisk {
    int disk;
    const char *why;
};

struct Bridge {
    const WindowsCalls *win = nullptr;
    std::vector<HANDLE> ports;
    std::vector<HostAdapter> adapters;
    int deniedPorts = 0;                 /* ports Windows would not open for us */
    std::vector<ProtectedDisk> protectedDisks;
    const char *protectionUnknown = nullptr;   /* set: no disk reached through its class is written */
    HANDLE trace = INVALID_HANDLE_VALUE;
};

/* port_kinds.cpp */
/* Two texts equal but for the case of their letters. */
bool sameText(const char *a, const char *b);
BusFamily familyOfBusType(int busType);
const char *familyName(BusFamily family);
/* A port's bus type (IOCTL_STORAGE_QUERY_PROPERTY), else what its driver's name tells. */
BusFamily portFamily(Bridge &bridge, int port, HANDLE handle, char (&driver)[32]);
/* What a class device's STORAGE_DEVICE_DESCRIPTOR says: its bus type (-1: nothing given), its
 * SCSI peripheral device type and its identity (vendor, product, revision, serial). */
struct DeviceDescription {
    int busType = -1;
    uint8_t deviceType = 0;
    bool removable = false;
    std::string identity;
};
DeviceDescription describeClassDevice(Bridge &bridge, HANDLE device);
/* A class device's adapter limits (StorageAdapterProperty); false when not given. */
bool classDeviceLimits(Bridge &bridge, HANDLE device, TransferLimits &limits);
/* Whether a class device on a bus of this family may be the unit of a port of that family. */
bool sameBusFamily(BusFamily port, BusFamily device);

/* inventory.cpp */
void takeInventory(Bridge &bridge);
void releaseInventory(Bridge &bridge);
BridgeDevice *findDevice(Bridge &bridge, uint8_t adapter, uint8_t target, uint8_t lun);

/* unit_handles.cpp */
struct ClassDevice {
    char path[kClassPathSize];
    int number;
    bool disk;                           /* \\.\PhysicalDriveN */
    bool cdRom;                          /* \\.\CdRomN */
    uint8_t type;                        /* the device type its class stands for */
    UnitAddress address;
    DeviceDescription description;
};
/* Every class device that opens, in family then number order. */
std::vector<ClassDevice> listClassDevices(Bridge &bridge);
/* The handle a request for this unit goes to: its port, or its class device, opened at its first
 * request after checking that it is still the same unit. A unit whose class device went away is
 * found again only when exactly one class device answers with its address and identity.
 * INVALID_HANDLE_VALUE with the Windows error when there is none. */
HANDLE unitHandle(Bridge &bridge, HostAdapter &adapter, BridgeDevice &device, DWORD &error);
/* The class device stopped answering (unplugged): forget its handle and locks. */
void dropUnitHandle(Bridge &bridge, BridgeDevice &device);
/* Let go of the handle (the inventory is taken again). */
void closeUnitHandle(Bridge &bridge, BridgeDevice &device);
bool deviceGone(DWORD error);

/* commands.cpp */
bool isDiskType(uint8_t deviceType);
/* Whether a CDB is one of the commands known only to read, for this device type. */
bool onlyReads(uint8_t deviceType, const uint8_t *cdb, uint8_t cdbLength);
enum class DataWay { Unknown, In, Out };
/* Which way a command's data goes whatever the request says; Unknown when the operation code
 * does not settle it. */
DataWay certainDataWay(const uint8_t *cdb, uint8_t cdbLength);
/* Whether a command's reply may be shorter than the buffer and still complete (its CDB gives an
 * allocation length, as INQUIRY's does). */
bool repliesUpToAllocationLength(const uint8_t *cdb, uint8_t cdbLength);

/* volume_places.cpp */
enum class Placement { OnDevices, Nowhere, Unknown };
/* Where the volume a path opens lies: on disks (its extents, else its device number) or on a
 * CD/DVD drive; Nowhere when it is gone, has no medium or is on no disk or drive (a floppy);
 * Unknown when it does not say. */
Placement placeVolume(Bridge &bridge, const char *path, std::vector<VolumeHost> &hosts);
/* The disks of the volume a path or a drive letter opens; false when it is on none. */
bool pathDisks(Bridge &bridge, const char *path, std::vector<int> &disks);
bool driveDisks(Bridge &bridge, char letter, std::vector<int> &disks);
/* Whether one of the hosts is the device's class device. */
bool liesOn(const std::vector<VolumeHost> &hosts, const BridgeDevice &device);

/* protection.cpp */
void findProtectedDisks(Bridge &bridge);
/* Null when the command may go to the unit now (the volumes on it locked and dismounted),
 * else the rule that refuses it. */
const char *writeRefusal(Bridge &bridge, const HostAdapter &adapter, BridgeDevice &device);

/* volume_locks.cpp */
/* Locks and dismounts the volumes on a disk or CD/DVD drive before a write; null, or why not. */
const char *prepareForWriting(Bridge &bridge, BridgeDevice &device);
/* A unit attention came back through a pass-through (sense ASC in asc). */
void noteUnitAttention(Bridge &bridge, BridgeDevice &device, uint8_t asc);
/* The device is gone or the inventory taken again: the locks go. */
void releaseVolumes(Bridge &bridge, BridgeDevice &device);

/* pass_through.cpp */
/* The most one request may move: MaximumTransferLength, and MaximumPhysicalPages of a page-
 * aligned buffer. */
uint32_t largestTransfer(const TransferLimits &limits);
uint8_t passThrough(Bridge &bridge, HostAdapter &adapter, BridgeDevice &device, SRB_ExecSCSICmd &srb);

/* requests.cpp */
uint32_t bridgeSupportInfo(Bridge &bridge);
uint32_t bridgeSendCommand(Bridge &bridge, void *block);

/* trace.cpp: the file named by KESTROVA_BRIDGE_TRACE, appended to; nothing when unset. */
constexpr const char *kTraceVariable = "KESTROVA_BRIDGE_TRACE";
void openTrace(Bridge &bridge);
void closeTrace(Bridge &bridge);
void traceLine(Bridge &bridge, const char *format, ...) __attribute__((format(printf, 2, 3)));
void traceRequest(Bridge &bridge, const void *block, uint8_t status, const char *note);

/* exports.cpp: the storage stack the process's bridge uses from its next GetASPI32SupportInfo
 * (the real one unless a test gives another). */
void bridgeUseWindows(const WindowsCalls *calls);
/* Releases the volume locks and every handle (the library is leaving the process). */
void bridgeShutDown();

#endif
