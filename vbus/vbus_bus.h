/*
 * The virtual SCSI bus: what the configuration describes (adapters, devices, faults,
 * completion) and the state it runs with (open image files, request counters, trace file).
 *
 * vbus_config.cpp  reads the INI file into a Bus
 * vbus_scsi.cpp    carries out the ASPI commands; the SCSI commands go to the device's
 *                  emulated target (target/, shared with the bridge tests)
 * vbus_trace.cpp   writes one trace line per request
 * vbus_log.cpp     reports configuration errors
 * vbus_entry.cpp   the two exported entry points, the loaded bus, asynchronous completion
 */
#ifndef VBUS_BUS_H
#define VBUS_BUS_H

#include <windows.h>
#include "scsi_target.h"
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class Completion { Inherit, Immediate, Async };

struct Timing {
    Completion completion = Completion::Inherit;
    int delayMs = -1;             /* -1: inherited */
};

/* A device of the bus: an emulated target (scsi_target.h) at an adapter and target id, with
 * what the configuration said about it. */
struct Device : ScsiTarget {
    int line = 0;                 /* of its section, for messages */
    uint8_t adapter = 0;
    uint8_t target = 0;
    uint64_t sizeBytes = 0;       /* `size`, turned into sectors once the sector size is known */
    int sizeLine = 0;
    int imageLine = 0;
    uint8_t devTypeStatus = 0x01; /* status of SC_GET_DEV_TYPE; other than SS_COMP: no type written */
    Timing timing;
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

/* vbus_scsi.cpp: whether a request is taken (0) or refused at once (its status), and with
 * which timing; then carrying it out (every field but SRB_Status), giving the final status. */
uint8_t acceptRequest(Bus &bus, const uint8_t *block, Timing &timing);
uint8_t runRequest(Bus &bus, uint8_t *block);

/* vbus_trace.cpp */
void traceRequest(Bus &bus, const uint8_t *block, uint8_t status);

/* vbus_log.cpp: one line on the standard error handle and the debugger output. */
void logLine(const std::string &text);

#endif
