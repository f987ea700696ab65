/*
 * The virtual SCSI bus: what the configuration describes (adapters, devices, faults,
 * completion) and the state it runs with (open image files, request counters, trace file).
 *
 * vbus_config.cpp  reads the INI file into a Bus
 * vbus_image.cpp   opens or creates the image files, reads and writes sectors
 * vbus_scsi.cpp    carries out the ASPI commands and the SCSI commands of a request
 * vbus_trace.cpp   writes one trace line per request
 * vbus_log.cpp     reports configuration errors
 * vbus_entry.cpp   the two exported entry points, the loaded bus, asynchronous completion
 */
#ifndef VBUS_BUS_H
#define VBUS_BUS_H

#include <windows.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class Completion { Inherit, Immediate, Async };

struct Timing {
    Completion completion = Completion::Inherit;
    int delayMs = -1;             /* -1: inherited */
};

/* A status given to reads and/or writes that touch an LBA range, or from the (after+1)th on. */
struct Fault {
    bool onRead = false;
    bool onWrite = false;
    bool byRange = false;
    uint64_t first = 0;
    uint64_t last = 0;
    uint32_t after = 0;
    uint8_t status = 0x04;
    volatile LONG seen = 0;       /* matching requests so far (after-N faults) */
    Fault() = default;
    Fault(const Fault &o)
        : onRead(o.onRead), onWrite(o.onWrite), byRange(o.byRange), first(o.first), last(o.last),
          after(o.after), status(o.status), seen(0) {}
    Fault &operator=(const Fault &o)
    {
        onRead = o.onRead; onWrite = o.onWrite; byRange = o.byRange; first = o.first;
        last = o.last; after = o.after; status = o.status; seen = 0;
        return *this;
    }
};

enum class ImageFill { Zero, Lba };

struct Device {
    int line = 0;                 /* of its section, for messages */
    uint8_t adapter = 0;
    uint8_t target = 0;
    uint8_t type = 0;
    bool removable = false;
    uint8_t inquiryText[28];      /* vendor 8, product 16, revision 4, blank padded */
    uint32_t sectorSize = 512;
    uint64_t sectors = 0;
    bool sectorsGiven = false;
    uint64_t sizeBytes = 0;       /* `size`, turned into sectors once the sector size is known */
    int sizeLine = 0;
    std::string image;            /* full path, empty: no backing file (reads give zeros) */
    int imageLine = 0;
    ImageFill fill = ImageFill::Zero;
    bool readOnly = false;
    bool noMedium = false;
    bool hasCapacityReply = false;
    uint8_t capacityReply[8] = {};
    uint8_t devTypeStatus = 0x01; /* status of SC_GET_DEV_TYPE; other than SS_COMP: no type written */
    std::vector<Fault> faults;
    Timing timing;
    HANDLE file = INVALID_HANDLE_VALUE;
};

struct Adapter {
    uint8_t scsiId = 7;
    uint8_t identifier[16];
    uint8_t maxTargets = 8;
    Timing timing;
};

struct Bus {
    std::string configPath;
    uint8_t supportStatus = 0x01;
    int adapterCount = -1;        /* -1: one past the highest adapter section */
    uint8_t managerId[16];
    std::vector<Adapter> adapters;
    std::vector<Device> devices;
    Timing timing;
    /* Whether a request refused at once also gets its status in SRB_Status, or only as the
       value returned (as some ASPI layers do, leaving SRB_Status at SS_PENDING). */
    bool refusalWritesStatus = true;
    std::string tracePath;
    HANDLE trace = INVALID_HANDLE_VALUE;
    CRITICAL_SECTION traceLock;

    Bus();
    ~Bus();
    Bus(const Bus &) = delete;
    Bus &operator=(const Bus &) = delete;

    const Adapter *adapter(uint8_t haId) const;
    Device *device(uint8_t haId, uint8_t target);
};

/* vbus_config.cpp: reads the configuration and opens its files. On failure `error` names the
 * file and line. */
std::shared_ptr<Bus> loadBus(const std::string &configPath, std::string &error);

/* vbus_image.cpp */
bool openImage(Device &device, std::string &error);
bool readSectors(Device &device, uint64_t lba, uint8_t *buffer, uint32_t length);
bool writeSectors(Device &device, uint64_t lba, const uint8_t *buffer, uint32_t length);
void fillLbaPattern(uint8_t *sector, uint32_t sectorSize, uint64_t lba);

/* vbus_scsi.cpp: whether a request is taken (0) or refused at once (its status), and with
 * which timing; then carrying it out (every field but SRB_Status), giving the final status. */
uint8_t acceptRequest(Bus &bus, const uint8_t *block, Timing &timing);
uint8_t runRequest(Bus &bus, uint8_t *block);

/* vbus_trace.cpp */
void traceRequest(Bus &bus, const uint8_t *block, uint8_t status);

/* vbus_log.cpp: one line on the standard error handle and the debugger output. */
void logLine(const std::string &text);

#endif
