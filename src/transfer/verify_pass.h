/*
 * The verify pass after a copy that ran to its end: what was written is read back and compared
 * with where it came from, chunk by chunk under the progress box (its text says it is
 * verifying; ABORT stops it).
 *
 *   Disk to file  the source device read again, against the image file;
 *   File to disk  the target device, against the image file;
 *   Disk to disk  the target device, against the source device read again.
 *
 * A device that was written gets SYNCHRONIZE CACHE first (one that refuses it is read back all
 * the same), and reads go to the medium (READ(10) with FUA), not the drive's cache. Sectors
 * the copy recorded as unreadable are left out and counted. A sector that cannot be read back
 * counts as differing; a failure that is not the medium's stops the pass with its status.
 */
#ifndef KESTROVA_VERIFY_PASS_H
#define KESTROVA_VERIFY_PASS_H

#include <windows.h>
#include <cstddef>
#include <cstdint>
#include "aspi.h"
#include "sector_runs.h"

struct DeviceAddress {
    uint8_t adapter;
    uint8_t target;
};

struct VerifyJob {
    SendASPI32CommandFn sendCommand;
    int32_t sectors;               /* from sector 0 */
    int32_t sectorSize;
    uint64_t bufferBytes;          /* the copy's I/O buffer size: the same chunks */
    DeviceAddress readBack;        /* the device read back */
    bool flushFirst;               /* it was written: SYNCHRONIZE CACHE before reading it */
    const char *imagePath;         /* compared with this file, or when null ... */
    DeviceAddress source;          /* ... with this device */
    const SectorRuns *unreadable;  /* left out of the comparison; may be null */
};

enum class VerifyEnd { Completed, Aborted, ReadFailed, FileFailed, NoMemory };

struct VerifyResult {
    VerifyEnd end;
    int32_t checked;        /* sectors compared or found differing */
    int32_t differing;
    int32_t firstDiffering; /* -1 when none */
    int32_t notCompared;    /* recorded unreadable */
    int32_t failedSector;   /* ReadFailed: where, and with which status */
    uint8_t failedStatus;
};

/* Runs the pass (opening and closing its own progress box) and returns what it found. */
VerifyResult runVerifyPass(const VerifyJob &job);

/* The result in the user's language, as its box and the report say it. */
void formatVerifyResult(const VerifyResult &result, int32_t sectors, char *text, size_t size);

/* The result's box: information when everything matched, a warning otherwise. */
void showVerifyResult(HWND owner, const VerifyResult &result, int32_t sectors);

#endif
