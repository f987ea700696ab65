/*
 * An emulated Windows storage stack for the bridge, answering as the documented IOCTLs and the
 * Windows driver samples do, including where Windows refuses or does what is inconvenient: SCSI
 * ports (\\.\ScsiN:, Storport or SCSI Port) with buses and bus types, class devices
 * (\\.\PhysicalDriveN, \\.\CdRomN) for claimed units and for USB drives that have no port of
 * their own, volumes that lock, dismount, mount again and span disks, the registry values of
 * the page files and the system partition, media changes and drives plugged in again. Each
 * behaviour names its source where it is modelled (emulated_stack.cpp). Its units are the
 * emulated targets of vbus/target, serving image files.
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
    int busType;                  /* answered to StorageAdapterProperty; -1: not answered (Windows 2000) */
    int buses;
    uint32_t maxTransfer, maxPages, alignmentMask;
    bool portDevice = true;       /* false: a USB or 1394 bus driver, which is no SCSI port */
};

struct EmulatedUnit {
    std::string name;             /* what the tests call it */
    int port = 0;                 /* where its port driver places it */
    uint8_t bus = 0, target = 0;
    std::string classDevice;      /* "PhysicalDrive3"; empty: no class driver claims it */
    int busType = 0;              /* STORAGE_DEVICE_DESCRIPTOR.BusType */
    bool answersAddress = true;   /* IOCTL_SCSI_GET_ADDRESS */
    std::unique_ptr<ScsiTarget> device;
    std::string serial;
    bool present = true;
    int instance = 0;             /* plugged in again: handles opened before answer no more */
    ULONG mediaChanges = 0;       /* the class driver's media change count */
    bool unitAttention = false;   /* for the next command */
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
    int mount = 1;                /* a new number for each file system mounted on it */
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
    std::vector<std::string> toldUser;
    int openHandles = 0;

    EmulatedUnit &unit(const std::string &name);
    EmulatedVolume &volume(const std::string &guid);
};

/* The stack the table below serves; tests fill it before the bridge takes its inventory. */
EmulatedStack &emulatedStack();
const WindowsCalls &emulatedWindowsCalls();

/* A cartridge swapped: another image; the volumes on it carry a new file system. The class
 * driver notices (its media change count moves) or not (a unit attention waits). */
void swapMedium(EmulatedUnit &unit, const std::string &image, bool classNotices);
/* The drive unplugged and plugged in again, now behind another class device. */
void plugAgain(EmulatedUnit &unit, const std::string &classDevice);

#endif
