/*
 * The PCs the bridge's tests run on, each a small table of ports, units and volumes for the
 * emulated storage stack: a Windows 10 desktop, a Windows XP machine (and the same machine as
 * Windows 2000 sees it) and a machine whose system disk cannot be identified.
 */
#ifndef KESTROVA_MACHINE_PROFILES_H
#define KESTROVA_MACHINE_PROFILES_H

#include <string>
#include <vector>
#include "emulated_stack.h"

struct UnitRow {
    const char *name;
    int port;
    uint8_t bus, target;
    const char *classDevice;     /* "" when no class driver claims it */
    int busType;
    uint8_t type;                /* peripheral device type */
    bool removable;
    uint32_t sectorSize;
    uint32_t sectors;
    bool answersAddress;
};

struct VolumeRow {
    const char *guid;
    const char *device;
    char letter;
    std::vector<std::string> units;
    bool openFiles;
    bool placed;                 /* false: neither its extents nor its device number can be read */
};

struct MachineProfile {
    std::vector<EmulatedPort> ports;
    std::vector<UnitRow> units;
    std::vector<VolumeRow> volumes;
    std::string pagingFiles;
    std::string existingPageFiles;
    std::string systemPartition;
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    unsigned windowsVersion = 0x0A00;
};

MachineProfile windows10Desktop();
MachineProfile windowsXp();
/* The XP machine as Windows 2000 shows it: the adapter query answered with the older descriptor. */
MachineProfile windows2000();
MachineProfile unknownSystemDisk();
/* The XP machine with a DVD-RAM recorder at id 4 of the card, its UDF volume G: in use. */
MachineProfile windowsXpWithDvdRecorder();

/* Fills the emulated stack with the machine; the medium of each unit is the image file
 * folder\<name>.img, made with a pattern of its own (seed: the unit's row number + 1). */
void loadMachine(const MachineProfile &machine, const std::string &folder);

#endif
