/*
 * Reading the source of a copy, chunk by chunk. Normally one READ(10) per chunk, and a failure
 * ends the program after its report, as every failed transfer request does.
 *
 * With "skip unreadable sectors" on, a chunk that the medium or the drive fails to give
 * (MEDIUM ERROR, HARDWARE ERROR, or an ABORTED COMMAND, RECOVERED ERROR or reset that leaves
 * the chunk in doubt) is read again sector by sector, each sector tried up to kSectorTries times.
 * A sector that stays unreadable is filled with zeros and added to the reader's list; the copy
 * goes on. Every other failure (no device, selection timeout, not ready, illegal request, a
 * command the target keeps aborting) still ends the program. Between any two requests of a
 * rescue waiting messages are handled, so that ABORT stops it at once.
 */
#ifndef KESTROVA_RESCUE_READ_H
#define KESTROVA_RESCUE_READ_H

#include <windows.h>
#include <cstdint>
#include "aspi.h"
#include "sector_runs.h"

constexpr int kSectorTries = 3;

/* What a failed read means for the sectors it asked for. */
enum class ReadFailure {
    Fatal,          /* not the medium: the copy cannot go on */
    Unreadable,     /* the medium or the drive could not give the data (MEDIUM/HARDWARE ERROR) */
    Recovered,      /* the drive recovered the data (RECOVERED ERROR): good for a single sector */
    Aborted,        /* the target aborted the command (ABORTED COMMAND), or reports that it was
                       reset: worth trying again, but not a bad sector by itself */
};

ReadFailure classifyReadFailure(const RequestOutcome &outcome);

struct SourceReader {
    HWND owner;
    SendASPI32CommandFn sendCommand;
    uint8_t adapter;
    uint8_t target;
    int32_t sectorSize;
    bool rescue;               /* skip unreadable sectors */
    SectorRuns unreadable;     /* sectors filled with zeros, in ascending order */
    bool rescuedLastChunk;     /* the last chunk needed a rescue */
};

void startSourceReader(SourceReader &reader, HWND owner, SendASPI32CommandFn sendCommand, uint8_t adapter,
                       uint8_t target, int32_t sectorSize, bool rescue);

/*
 * Reads count sectors from lba into buffer. Returns the sectors now in buffer from its start:
 * count, or fewer when ABORT was pressed during a rescue.
 */
int32_t readSourceChunk(SourceReader &reader, uint32_t lba, int32_t count, uint8_t *buffer);

/* One sector, tried up to kSectorTries times: 1 when read, 0 when it stays unreadable, -1 when
   ABORT came first. A fatal failure ends the program after its report. */
int readSectorWithTries(SourceReader &reader, uint32_t lba, uint8_t *buffer);

/* Handles the messages waiting for the thread; true when ABORT has been pressed. */
bool abortBetweenRequests();

#endif
