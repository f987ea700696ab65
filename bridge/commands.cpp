/*
 * What the bridge knows of SCSI commands: which ones only read (by operation code, and by
 * service action for the commands that carry one), per device type, so that everything else
 * counts as writing whatever its direction flags say; and which way a command's data goes when
 * its operation code settles it. The same operation code means different things to different
 * device types (0x51 reads a CD's disc information but is XPWRITE(10) for a disk; 0xA3 is
 * MAINTENANCE IN for a disk but SEND KEY for a CD drive), hence the per-type lists. Only what is
 * certain is listed: fail closed.
 */
#include "bridge.h"

namespace {

constexpr int kAnyAction = -1;
/* Peripheral device types, as bits. */
constexpr uint32_t kDisks = 1u << 0x00 | 1u << 0x07 | 1u << 0x0E;   /* direct access, optical memory, RBC */
constexpr uint32_t kCdDvd = 1u << 0x05;                              /* MMC: CD, DVD and BD drives */
constexpr uint32_t kEveryType = 0xFFFFFFFFu;

struct ReadOnlyCommand {
    uint8_t opcode;
    int serviceAction;                   /* CDB byte 1, bits 0-4 */
    uint32_t types;
};

constexpr ReadOnlyCommand kReadOnly[] = {
    {0x00, kAnyAction, kEveryType},      /* TEST UNIT READY */
    {0x03, kAnyAction, kEveryType},      /* REQUEST SENSE */
    {0x12, kAnyAction, kEveryType},      /* INQUIRY */
    {0x1A, kAnyAction, kEveryType},      /* MODE SENSE(6) */
    {0x1C, kAnyAction, kEveryType},      /* RECEIVE DIAGNOSTIC RESULTS */
    {0x3C, kAnyAction, kEveryType},      /* READ BUFFER */
    {0x4D, kAnyAction, kEveryType},      /* LOG SENSE */
    {0x5A, kAnyAction, kEveryType},      /* MODE SENSE(10) */
    {0x5E, kAnyAction, kEveryType},      /* PERSISTENT RESERVE IN */
    {0xA0, kAnyAction, kEveryType},      /* REPORT LUNS */
    {0x08, kAnyAction, kDisks},          /* READ(6) */
    {0x23, kAnyAction, kDisks},          /* READ FORMAT CAPACITIES */
    {0x25, kAnyAction, kDisks},          /* READ CAPACITY(10) */
    {0x28, kAnyAction, kDisks},          /* READ(10) */
    {0x37, kAnyAction, kDisks},          /* READ DEFECT DATA(10) */
    {0x3E, kAnyAction, kDisks},          /* READ LONG(10) */
    {0x88, kAnyAction, kDisks},          /* READ(16) */
    {0x9E, 0x10, kDisks},                /* SERVICE ACTION IN(16): READ CAPACITY(16) */
    {0x9E, 0x11, kDisks},                /*   READ LONG(16) */
    {0x9E, 0x12, kDisks},                /*   GET LBA STATUS */
    {0xA3, 0x05, kDisks},                /* MAINTENANCE IN: REPORT IDENTIFYING INFORMATION */
    {0xA3, 0x0A, kDisks},                /*   REPORT TARGET PORT GROUPS */
    {0xA3, 0x0C, kDisks},                /*   REPORT SUPPORTED OPERATION CODES */
    {0xA3, 0x0D, kDisks},                /*   REPORT SUPPORTED TASK MANAGEMENT FUNCTIONS */
    {0xA3, 0x0F, kDisks},                /*   REPORT TIMESTAMP */
    {0xA8, kAnyAction, kDisks},          /* READ(12) */
    {0xB7, kAnyAction, kDisks},          /* READ DEFECT DATA(12) */
    {0x23, kAnyAction, kCdDvd},          /* READ FORMAT CAPACITIES (MMC) */
    {0x25, kAnyAction, kCdDvd},          /* READ CAPACITY */
    {0x28, kAnyAction, kCdDvd},          /* READ(10) */
    {0x42, kAnyAction, kCdDvd},          /* READ SUB-CHANNEL */
    {0x43, kAnyAction, kCdDvd},          /* READ TOC/PMA/ATIP */
    {0x46, kAnyAction, kCdDvd},          /* GET CONFIGURATION */
    {0x4A, kAnyAction, kCdDvd},          /* GET EVENT STATUS NOTIFICATION */
    {0x51, kAnyAction, kCdDvd},          /* READ DISC INFORMATION (XPWRITE for a disk) */
    {0x52, kAnyAction, kCdDvd},          /* READ TRACK INFORMATION */
    {0x5C, kAnyAction, kCdDvd},          /* READ BUFFER CAPACITY */
    {0xA4, kAnyAction, kCdDvd},          /* REPORT KEY (MAINTENANCE OUT for a disk) */
    {0xA8, kAnyAction, kCdDvd},          /* READ(12) */
    {0xAC, kAnyAction, kCdDvd},          /* GET PERFORMANCE */
    {0xAD, kAnyAction, kCdDvd},          /* READ DISC STRUCTURE */
    {0xB9, kAnyAction, kCdDvd},          /* READ CD MSF */
    {0xBD, kAnyAction, kCdDvd},          /* MECHANISM STATUS */
    {0xBE, kAnyAction, kCdDvd},          /* READ CD */
};

struct DataWayOf {
    uint8_t opcode;
    DataWay way;
};
/* Commands whose data, when they have any, can only go one way. */
constexpr DataWayOf kDataWays[] = {
    {0x03, DataWay::In},  {0x08, DataWay::In},  {0x12, DataWay::In},  {0x1A, DataWay::In},  {0x23, DataWay::In},
    {0x25, DataWay::In},  {0x28, DataWay::In},  {0x37, DataWay::In},  {0x3C, DataWay::In},  {0x4D, DataWay::In},
    {0x5A, DataWay::In},  {0x88, DataWay::In},  {0xA0, DataWay::In},  {0xA8, DataWay::In},  {0x0A, DataWay::Out},
    {0x15, DataWay::Out}, {0x2A, DataWay::Out}, {0x2E, DataWay::Out}, {0x3B, DataWay::Out}, {0x55, DataWay::Out},
    {0x8A, DataWay::Out}, {0x8E, DataWay::Out}, {0xAA, DataWay::Out}, {0xAE, DataWay::Out},
};

/* Commands whose CDB gives an allocation length: the device returns what it has, up to that
   length, and a shorter reply is complete (SPC-3, 4.3.5.6 "Allocation length"). */
constexpr uint8_t kAllocationLength[] = {
    0x03,   /* REQUEST SENSE */
    0x12,   /* INQUIRY: older devices give fewer than 36 bytes */
    0x1A,   /* MODE SENSE(6) */
    0x1C,   /* RECEIVE DIAGNOSTIC RESULTS */
    0x23,   /* READ FORMAT CAPACITIES */
    0x37,   /* READ DEFECT DATA(10) */
    0x3C,   /* READ BUFFER */
    0x43,   /* READ TOC/PMA/ATIP */
    0x46,   /* GET CONFIGURATION */
    0x4A,   /* GET EVENT STATUS NOTIFICATION */
    0x4D,   /* LOG SENSE */
    0x5A,   /* MODE SENSE(10) */
    0x5E,   /* PERSISTENT RESERVE IN */
    0xA0,   /* REPORT LUNS */
    0xB7,   /* READ DEFECT DATA(12) */
};

}  // namespace

bool repliesUpToAllocationLength(const uint8_t *cdb, uint8_t cdbLength)
{
    if (cdbLength == 0)
        return false;
    for (uint8_t opcode : kAllocationLength)
        if (opcode == cdb[0])
            return true;
    return false;
}

bool isDiskType(uint8_t deviceType)
{
    return deviceType < 32 && (kDisks & (1u << deviceType));
}

bool onlyReads(uint8_t deviceType, const uint8_t *cdb, uint8_t cdbLength)
{
    if (cdbLength == 0 || deviceType >= 32)
        return false;
    for (const ReadOnlyCommand &c : kReadOnly) {
        if (c.opcode != cdb[0] || !(c.types & (1u << deviceType)))
            continue;
        if (c.serviceAction == kAnyAction || (cdbLength >= 2 && (cdb[1] & 0x1F) == c.serviceAction))
            return true;
    }
    return false;
}

DataWay certainDataWay(const uint8_t *cdb, uint8_t cdbLength)
{
    if (cdbLength == 0)
        return DataWay::Unknown;
    for (const DataWayOf &c : kDataWays)
        if (c.opcode == cdb[0])
            return c.way;
    return DataWay::Unknown;
}
