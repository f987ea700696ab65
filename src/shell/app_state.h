/*
 * The program's shared state: the device table that the bus scan fills and the user's current
 * choices. One instance of each lives for the whole run; every part of the program reads and
 * writes them directly, on the user-interface thread only.
 */
#ifndef KESTROVA_APP_STATE_H
#define KESTROVA_APP_STATE_H

#include <windows.h>
#include <cstddef>
#include <cstdint>

constexpr int kMaxAdapters = 4;
constexpr int kMaxDevices = 16;          /* target ids 0 to 15, logical unit 0 */
constexpr int kPathBufferSize = 260;     /* imagePath, helpDocPath */
constexpr int kScratchTextSize = 256;
constexpr int kResourceTextSize = 100;

enum class TransferMode : int32_t {
    FileToDisk = 0,
    DiskToFile = 1,
    DiskToDisk = 2,
};

struct DeviceRecord {
    char label[32];          /* text in the device lists */
    int32_t sectorCount;     /* last sector address + 1; 0 when no capacity was reported */
    int32_t sectorSize;      /* bytes per sector; 0 when no capacity was reported */
    int32_t deviceType;      /* SCSI peripheral device type; 31 where nothing answered */
    int32_t removable;       /* 1 for a removable medium */
};
static_assert(sizeof(DeviceRecord) == 48, "DeviceRecord is 48 bytes");
static_assert(offsetof(DeviceRecord, sectorCount) == 32, "DeviceRecord layout");
static_assert(offsetof(DeviceRecord, removable) == 44, "DeviceRecord layout");

struct AdapterRecord {
    uint8_t scsiId;          /* the adapter's own id: devices[scsiId] describes the adapter */
    char name[17];           /* text in the adapter lists */
    uint8_t maxTargets;      /* device entries in use: 0 to maxTargets - 1 */
    DeviceRecord devices[kMaxDevices];
};
static_assert(offsetof(AdapterRecord, name) == 1, "AdapterRecord layout");
static_assert(offsetof(AdapterRecord, maxTargets) == 18, "AdapterRecord layout");
static_assert(sizeof(AdapterRecord) == 20 + kMaxDevices * sizeof(DeviceRecord), "AdapterRecord size");

struct AdapterTable {
    AdapterRecord adapters[kMaxAdapters];   /* indexed by ASPI host adapter number */
    /* Devices that reported more sectors than sectorCount holds: listed with INT32_MAX sectors,
       all that a copy of them can move. Same indices as the records. */
    bool capacityCapped[kMaxAdapters][kMaxDevices];
};

/* The archiving options: each is off unless the user turned it on (and stored it). */
struct ArchiveOptions {
    bool skipUnreadable;   /* a sector the medium cannot give is written as zeros and listed in a map */
    bool verify;           /* what a copy wrote is read back and compared */
    bool report;           /* Disk to file writes a report with checksums beside the image */
    bool exactLength;      /* Disk to file writes the sectors only, no zero bytes after them */
    bool startStoppedDrives;   /* the scan sends START STOP UNIT to a drive that waits for it */
    bool guardRestore;     /* File to disk and Disk to disk ask before overwriting a recognised disk */
};

struct AppState {
    uint8_t adapterCount;        /* adapters in use, 0 to 4 */
    uint8_t sourceAdapter;
    uint8_t sourceDevice;
    uint8_t targetAdapter;
    uint8_t targetDevice;
    TransferMode mode;
    int32_t transferSectors;     /* sectors the next transfer moves, from sector 0 */
    int32_t abortRequested;      /* set by the progress box, polled between chunks */
    int32_t bufferBlocks;        /* I/O buffer size in units of 512 bytes */
    char *imagePath;             /* heap, kPathBufferSize bytes */
    char *helpDocPath;           /* heap, kPathBufferSize bytes */
    char *scratchText;           /* heap, kScratchTextSize bytes; formatting space */
    char resourceText[kResourceTextSize];
    HWND mainForm;
    HWND progressBox;
    HWND bufferDialog;
    HINSTANCE instance;
    HACCEL accelerators;
    HMODULE aspiLibrary;
    ArchiveOptions archive;
};

extern AppState appState;
extern AdapterTable adapterTable;

/* The devices that the four selections pick. */
DeviceRecord &sourceDeviceRecord();
DeviceRecord &targetDeviceRecord();
/* The device the size field is measured against: the target in FileToDisk, else the source. */
DeviceRecord &referenceDevice();

/* Size in MB of a number of sectors, as every label of the program shows it ("%5.1f"). */
double sizeInMegabytes(int32_t sectors, int32_t sectorSize);

#endif
