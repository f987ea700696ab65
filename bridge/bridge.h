/*
 * The ASPI bridge: an ASPI for Win32 layer (wnaspi32.dll) that serves each request by SCSI
 * pass-through to the real devices. Each SCSI port (\\.\ScsiN:) and bus it reports is one ASPI
 * host adapter, in port then bus order. A device that a class driver owns (a disk, a CD-ROM
 * drive) is reached through its class device (\\.\PhysicalDriveN, \\.\CdRomN, ...), any other
 * through its port. Completion is synchronous.
 *
 * inventory.cpp    finds the ports, their buses and devices, and the class devices
 * protection.cpp   which disks are never written; locking the volumes of a disk before a write
 * pass_through.cpp one SC_EXEC_SCSI_CMD as IOCTL_SCSI_PASS_THROUGH_DIRECT
 * requests.cpp     GetASPI32SupportInfo and the three ASPI commands
 * trace.cpp        the request trace, when asked for
 * exports.cpp      the two entry points over the one bridge of the process
 * windows_calls.*  the table through which all of the above reach Windows
 */
#ifndef BRIDGE_H
#define BRIDGE_H

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>   /* after winioctl.h, which defines CTL_CODE */
#include <cstdint>
#include <vector>
#include "aspi_blocks.h"
#include "windows_calls.h"

constexpr int kMaxPorts = 32;            /* \\.\Scsi0: to \\.\Scsi31:, gaps allowed */
constexpr size_t kClassPathSize = 24;
/* SRB_Flags: the residual count is honoured; posting and event notification are not offered. */
constexpr uint8_t kResidualCountFlag = 0x04;

struct BridgeDevice {
    uint8_t target = 0;
    uint8_t lun = 0;
    uint8_t type = 0;                    /* peripheral device type */
    bool claimed = false;                /* a class driver owns it: requests go to classPath */
    char classPath[kClassPathSize] = ""; /* empty while no class device answers for it */
    int diskNumber = -1;                 /* N of \\.\PhysicalDriveN */
    HANDLE handle = INVALID_HANDLE_VALUE;/* the class device, opened at its first request */
};

struct HostAdapter {
    int port = 0;                        /* N of \\.\ScsiN: */
    HANDLE portHandle = INVALID_HANDLE_VALUE;   /* shared by the port's buses, not owned */
    uint8_t bus = 0;
    uint8_t initiatorId = 7;
    uint8_t identifier[16] = {};
    uint8_t maxTargets = 8;
    uint32_t maxTransfer = 0;
    uint32_t alignmentMask = 0;
    std::vector<BridgeDevice> devices;
};

struct LockedVolume {
    int disk;
    HANDLE handle;                       /* the lock lasts while this is open */
};

struct Bridge {
    const WindowsCalls *win = nullptr;
    std::vector<HANDLE> ports;
    std::vector<HostAdapter> adapters;
    int deniedPorts = 0;                 /* ports Windows would not open for us */
    std::vector<int> protectedDisks;     /* hold the system volume or a page file */
    bool systemDiskKnown = false;        /* false: no disk reached through its class is written */
    std::vector<int> preparedDisks;      /* volumes locked and dismounted */
    std::vector<LockedVolume> locks;
    HANDLE trace = INVALID_HANDLE_VALUE;
};

/* inventory.cpp */
void takeInventory(Bridge &bridge);
void releaseInventory(Bridge &bridge);
BridgeDevice *findDevice(Bridge &bridge, uint8_t adapter, uint8_t target, uint8_t lun);

/* protection.cpp */
void findProtectedDisks(Bridge &bridge);
/* Whether a CDB is one of the commands known only to read. */
bool onlyReads(const uint8_t *cdb, uint8_t cdbLength);
/* Null when the disk may be written now (its volumes locked and dismounted), else why not. */
const char *prepareDiskForWriting(Bridge &bridge, int disk);
void releaseVolumeLocks(Bridge &bridge);

/* pass_through.cpp */
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
