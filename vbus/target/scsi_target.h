/*
 * An emulated SCSI target whose medium is an image file: the device side of the virtual bus
 * (vbus/) and of the tests' emulated Windows storage stack (tests/unit/bridge/). It answers
 * INQUIRY, READ CAPACITY, READ(10), WRITE(10), SYNCHRONIZE CACHE(10), TEST UNIT READY and
 * START STOP UNIT; anything else ends in CHECK CONDITION with ILLEGAL REQUEST. Faults can be
 * set per LBA range or from the (N+1)th request on, for every request or only the first few,
 * and fail, lose or alter the data. A target can also get ready as real drives do (a unit
 * attention, a spin-up, a stopped motor); by default it is ready at once.
 *
 * target_image.cpp    opens or creates the image file, reads and writes sectors
 * scsi_commands.cpp   carries out one command descriptor block
 * drive_readiness.cpp power-on, a cartridge put in, and the state a drive keeps across both
 */
#ifndef SCSI_TARGET_H
#define SCSI_TARGET_H

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>
#include "scsi_status.h"

/* What a fault does to a request it applies to. */
enum class FaultEffect {
    Fail,         /* ends with its status (04: CHECK CONDITION with the fault's sense) */
    LoseData,     /* a write reports success but the sectors it hits keep their old contents */
    AlterData,    /* success, but the sectors it hits are stored (write) or returned (read) with
                     their first byte inverted */
};

/* A fault of reads and/or writes that touch an LBA range, or from the (after+1)th request on.
 * With times, only the first `times` requests it applies to are hit, later ones go through. */
struct Fault {
    bool onRead = false;
    bool onWrite = false;
    bool byRange = false;
    uint64_t first = 0;
    uint64_t last = 0;
    uint32_t after = 0;
    uint8_t status = 0x04;        /* 04: SS_ERR with sense; any other is reported by the carrier as is */
    uint8_t senseKey = kSenseMediumError;
    uint8_t asc = 0;              /* 0: the read or write error code of the command */
    uint8_t ascq = 0;
    FaultEffect effect = FaultEffect::Fail;
    uint32_t times = 0;           /* 0: every time */
    volatile LONG seen = 0;       /* matching requests so far (after-N faults) */
    volatile LONG hits = 0;       /* requests hit so far (faults with times) */
    Fault() = default;
    Fault(const Fault &o) { *this = o; }
    Fault &operator=(const Fault &o)
    {
        onRead = o.onRead; onWrite = o.onWrite; byRange = o.byRange; first = o.first;
        last = o.last; after = o.after; status = o.status; senseKey = o.senseKey; asc = o.asc;
        ascq = o.ascq;
        effect = o.effect; times = o.times; seen = 0; hits = 0;
        return *this;
    }
};

enum class ImageFill { Zero, Lba };

struct ScsiTarget {
    uint8_t type = 0;
    bool removable = false;
    uint8_t inquiryText[28];      /* vendor 8, product 16, revision 4, blank padded */
    uint32_t inquiryLength = 36;  /* bytes of INQUIRY data the device has (5 to 36) */
    uint32_t sectorSize = 512;
    uint64_t sectors = 0;
    bool sectorsGiven = false;    /* else the size comes from the image */
    std::string image;            /* full path, empty: no backing file (reads give zeros) */
    ImageFill fill = ImageFill::Zero;
    bool readOnly = false;
    bool noMedium = false;
    bool syncCache = true;        /* SYNCHRONIZE CACHE(10) accepted; else ILLEGAL REQUEST */
    bool forceUnitAccess = true;  /* the FUA bit of READ(10)/WRITE(10) known; else ILLEGAL REQUEST */
    bool hasCapacityReply = false;
    uint8_t capacityReply[8] = {};
    std::vector<Fault> faults;
    HANDLE file = INVALID_HANDLE_VALUE;

    /* How the drive gets ready (drive_readiness.cpp names the sources); all off by default. */
    uint16_t attentionAtPowerOn = 0;   /* ASC | ASCQ << 8 pending after power-on; 0: none */
    bool reportsMediumChange = false;  /* a cartridge put in raises UNIT ATTENTION 28h */
    uint32_t spinUpMs = 0;             /* NOT READY 04h/01h for so long after power-on, a start, a cartridge */
    bool startsStopped = false;        /* powered on with the motor off: NOT READY 04h/02h until started */

    /* What the drive is doing now. */
    LONG pendingAttention = 0;         /* ASC | ASCQ << 8 of the unit attention to report; 0: none */
    LONG motorStopped = 0;
    LONG spinningUp = 0;
    DWORD spinUpStart = 0;             /* GetTickCount() when the motor started */
};

/* Sets the three INQUIRY texts, blank padded (longer texts are cut). */
void setInquiryText(ScsiTarget &target, const char *vendor, const char *product, const char *revision);

/* target_image.cpp: opens (or creates, at the target's size) the image file. */
bool openImage(ScsiTarget &target, std::string &error);
void closeImage(ScsiTarget &target);
bool readSectors(ScsiTarget &target, uint64_t lba, uint8_t *buffer, uint32_t length);
bool writeSectors(ScsiTarget &target, uint64_t lba, const uint8_t *buffer, uint32_t length);
void fillLbaPattern(uint8_t *sector, uint32_t sectorSize, uint64_t lba);

/* Which way the data of a command moves, as its carrier says. */
enum class DataDirection { Unspecified, In, Out };

struct TargetCommand {
    const uint8_t *cdb;
    uint8_t cdbLength;
    DataDirection direction;
    uint8_t *data;
    uint32_t length;              /* bytes the carrier's buffer holds */
};

struct TargetResult {
    uint8_t scsiStatus = kScsiGood;
    uint8_t sense[kFixedSenseLength] = {};   /* fixed format, with CHECK CONDITION */
    uint8_t faultStatus = 0;      /* a configured fault other than 04: no SCSI status, the carrier reports it */
    uint32_t transferred = 0;     /* data bytes moved */
};

/* scsi_commands.cpp: carries out one command. */
TargetResult runTargetCommand(ScsiTarget &target, const TargetCommand &command);

/* drive_readiness.cpp */
/* The drive switched on: its pending unit attention, its motor stopped or spinning up. */
void powerOn(ScsiTarget &target);
/* The drive starts its motor (a spin-up of spinUpMs, if any). */
void startMotor(ScsiTarget &target);
/* Whether the motor is still spinning up; ms left when it is. */
bool stillSpinningUp(ScsiTarget &target, DWORD &msLeft);
/* Raises a unit attention (ASC | ASCQ << 8), unless one that ranks higher is pending. */
void raiseAttention(ScsiTarget &target, uint16_t attention);
/* The same drive after the bus was described again: keeps what it was doing; when the medium
   is another one (a cartridge put in or swapped) it reports that as a real drive does. */
void continueDrive(ScsiTarget &now, const ScsiTarget &before);

#endif
