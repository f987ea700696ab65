/*
 * An emulated Windows storage stack for the bridge, answering as the documented IOCTLs and the
 * Windows driver samples do, including where Windows refuses or does what is inconvenient: SCSI
 * ports (\\.\ScsiN:, Storport or SCSI Port) with buses and bus types, class devices
 * (\\.\PhysicalDriveN, \\.\CdRomN) for claimed units and for USB drives that have no port of
 * their own (answering addresses of their own, or none), volumes that lock, dismount, mount again
 * (Explorer at once, when asked), span disks or vanish, the registry values of the page files and
 * the system partition, unit attentions that the class driver counts as media changes or never
 * sees, media swapped, drives plugged in again, sense data short or missing, partition tables
 * of pool members. Each behaviour names its source where it is modelled (emulated_stack.cpp).
 * Its units are the emulated targets of vbus/target, serving image files.
 */
#ifndef KESTROVA_EMULATED_STACK_H
#define KESTROVA_EMULATED_STACK_H

#include <memory>
#include <string>
#include <vector>
#include "scsi_target.h"
#include "windows_calls.h"

/* STORAGE_BUS_TYPE values (Microsoft's STORAGE_BUS_TYPE page). */
namespace bus_type {
constexpr int kScsi = 0x01, kAta = 0x03, kUsb = 0x07, kSas = 0x0A, kSata = 0x0B, kNvme = 0x11;
}

enum class PortModel { Storport, ScsiPort };

struct EmulatedPort {
    int number;                   /* \\.\ScsiN: */
    PortModel model;
    const char *driver;           /* HARDWARE\DEVICEMAP\Scsi\Scsi Port N, Driver */
    int busType;                  /* answered to StorageAdapterProperty (from Windows XP on) */
    int buses;
    uint32_t maxTransfer, maxPages, alignmentMask;
    bool portDevice = true;       /* false: a USB or 1394 bus driver, which is no SCSI port */
};

struct EmulatedUnit {
    std::string name;             /* what the tests call it */
    int port = 0;                 /* where its port driver places it */
    uint8_t bus = 0, target = 0, lun = 0;
    std::string classDevice;      /* "PhysicalDrive3", "CdRom1", "Floppy0"; empty: no class driver claims it */
    int busType = 0;              /* STORAGE_DEVICE_DESCRIPTOR.BusType */
    bool answersAddress = true;   /* IOCTL_SCSI_GET_ADDRESS */
    int answersPort = -1;         /* >= 0: that address answered instead of its own (a USB driver's own numbering) */
    uint8_t answersBus = 0, answersTarget = 0;
    std::unique_ptr<ScsiTarget> device;
    std::string serial;
    bool present = true;
    int instance = 0;             /* plugged in again: handles opened before answer no more */
    ULONG mediaChanges = 0;       /* the class driver's media change count */
    uint8_t pendingAttention = 0; /* ASC of a unit attention waiting for the next command (28h, 29h) */
    int medium = 0;               /* which medium is in the drive: one more at each swap */
    bool autosense = true;        /* the port brings the sense data back with a CHECK CONDITION */
    uint8_t autosenseLength = 18; /* how many bytes of it */
    bool senseHeld = false;       /* sense data the device keeps for a REQUEST SENSE */
    uint8_t heldSense[18] = {};
    std::vector<GUID> gptPartitions;      /* the partition table IOCTL_DISK_GET_DRIVE_LAYOUT_EX gives */
    std::vector<uint8_t> mbrPartitions;   /* both empty: no partition table */
    uint32_t secondsPerCommand = 0;   /* how long each command takes (spin-up, error recovery) */
    DWORD failWith = 0;           /* every pass-through fails with this Windows error */
    std::vector<uint8_t> opcodes; /* every operation code that reached the device */
    ULONG lastTimeout = 0;        /* TimeOutValue of the last pass-through */
};

struct EmulatedVolume {
    std::string guid;             /* "\\?\Volume{...}" */
    std::string device;           /* "\Device\HarddiskVolumeN" */
    char letter = 0;              /* 0: mounted on a folder or on nothing */
    std::vector<std::string> units;   /* the units its extents lie on */
    bool openFiles = false;       /* a program has files open on it */
    bool extentsReadable = true;
    bool numberReadable = true;   /* IOCTL_STORAGE_GET_DEVICE_NUMBER */
    bool mounted = true;
    bool vanished = false;        /* still listed, but gone: opens fail with ERROR_FILE_NOT_FOUND */
    int mount = 1;                /* a new number for each file system mounted on it */
    int medium = 0;               /* the medium its file system was mounted from */
    const void *lockedBy = nullptr;
    int lockedMount = 0;
    int locks = 0;                /* FSCTL_LOCK_VOLUME that succeeded */
    int damagingWrites = 0;       /* writes to its sectors while a file system had it mounted, unlocked */
};

struct EmulatedStack {
    std::vector<EmulatedPort> ports;
    std::vector<EmulatedUnit> units;
    std::vector<EmulatedVolume> volumes;
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::string pagingFiles;      /* REG_MULTI_SZ with its NULs; empty: no value */
    std::string existingPageFiles;
    std::string systemPartition;  /* HKLM\SYSTEM\Setup SystemPartition; empty: no value */
    bool administrator = true;    /* false: ports and class devices refuse read/write access */
    unsigned windowsVersion = 0x0A00;   /* major << 8 | minor: 0x0500 Windows 2000, 0x0501 XP */
    bool explorerMounts = false;  /* Explorer mounts and opens a volume the moment its lock ends */
    std::vector<std::string> toldUser;
    int openHandles = 0;
    int volumeListings = 0;       /* FindFirstVolume searches */
    int calls = 0;                /* every call into the stack: opens, device controls, listings */

    EmulatedUnit &unit(const std::string &name);
    EmulatedVolume &volume(const std::string &guid);
};

/* The stack the table below serves; tests fill it before the bridge takes its inventory. */
EmulatedStack &emulatedStack();
const WindowsCalls &emulatedWindowsCalls();

/* A cartridge swapped: another image. The class driver notices (its media change count moves and
 * the volumes on it carry a new file system) or not (a unit attention waits, and a file system
 * mounted from the old cartridge stays mounted). */
void swapMedium(EmulatedUnit &unit, const std::string &image, bool classNotices);
/* A bus reset: a unit attention (29h) for every unit of the bus; the class driver sees it at
 * once (its own command met it) or not (it waits for the next command). */
void resetBus(int port, uint8_t bus, bool classNotices);
/* The drive unplugged and plugged in again, now behind another class device. */
void plugAgain(EmulatedUnit &unit, const std::string &classDevice);
/* A file system mounted from a medium that is no longer in the drive. */
bool staleMount(const EmulatedVolume &volume);

#endif
