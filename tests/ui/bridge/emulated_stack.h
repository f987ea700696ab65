/*
 * An emulated Windows storage stack for the bridge, answering as the documented IOCTLs do:
 * SCSI ports (\\.\ScsiN:) with buses, claimed units behind class devices (\\.\PhysicalDriveN)
 * and unclaimed ones reached through their port, capabilities with an alignment mask and a
 * largest transfer, volumes that can be locked and dismounted, the system directory and the
 * page file setting. Its units are the emulated targets of vbus/target, serving image files.
 */
#ifndef KESTROVA_EMULATED_STACK_H
#define KESTROVA_EMULATED_STACK_H

#include <memory>
#include <string>
#include <vector>
#include "scsi_target.h"
#include "windows_calls.h"

struct EmulatedPort {
    int number;
    int buses;
    const char *driver;           /* HARDWARE\DEVICEMAP\Scsi\Scsi Port N\Driver */
    uint32_t maxTransfer;
    uint32_t alignmentMask;
};

struct EmulatedUnit {
    int port;
    uint8_t bus, target;
    int disk;                     /* claimed by the disk class as \\.\PhysicalDriveN; -1: unclaimed */
    std::unique_ptr<ScsiTarget> device;
};

struct EmulatedVolume {
    char letter;
    int disk;
    bool inUse;                   /* open files: the lock fails */
    bool locked = false;
    bool dismounted = false;
};

struct EmulatedStack {
    std::vector<EmulatedPort> ports;
    std::vector<EmulatedUnit> units;
    std::vector<EmulatedVolume> volumes;
    std::string pagingFiles;      /* REG_MULTI_SZ */
    bool administrator = true;    /* false: ports and class devices refuse read/write access */
    std::vector<std::string> toldUser;
    int openHandles = 0;
};

/* The stack the table below serves; tests fill it before the bridge takes its inventory. */
EmulatedStack &emulatedStack();
const WindowsCalls &emulatedWindowsCalls();

#endif
