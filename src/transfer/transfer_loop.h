/*
 * What the three directions share: the refusals before anything is opened, the I/O buffer, the
 * progress box's opening, the one-message pump between chunks and the test of a chunk request.
 * Each direction keeps its own loop, so that the order of work inside its chunk reads as one
 * list in its own file.
 */
#ifndef KESTROVA_TRANSFER_LOOP_H
#define KESTROVA_TRANSFER_LOOP_H

#include <windows.h>
#include <cstdint>
#include "aspi.h"

/*
 * 1 when a device of sectorSize can be counted in chunks of a buffer of bufferBytes; otherwise
 * shows why not (caption "ERROR") and returns 0.
 */
int acceptSectorSize(HWND owner, int32_t sectorSize, uint64_t bufferBytes);

/*
 * 1 unless the copy would move all the sectors of a source device that has more than the program
 * can count (listed capped at INT32_MAX): then asks whether to copy that first part only, and
 * returns 1 when the user agrees.
 */
int acceptCappedSource(HWND owner, int32_t transferSectors);

/* Takes the I/O buffer; null after the message "Can't allocate I/O buffer". */
uint8_t *allocateIoBuffer(HWND owner, uint64_t bufferBytes);
void releaseIoBuffer(uint8_t *buffer);

/*
 * The library's SendASPI32Command for this transfer; null after an error message when the
 * library is not loaded or does not export it (a request through it could not be sent).
 */
SendASPI32CommandFn lookupCommandEntry(HWND owner);

/* Opens the progress box with description. 0 after an error message (failureText, when given,
   instead of the one that says nothing was transferred) when it cannot be created: the
   transfer must not start. A transfer that starts names the devices it will use
   (expectFirstRequests, drive_state.h) and ends with endFirstRequests. */
int startTransfer(HWND owner, const char *description, const char *failureText = nullptr);

/*
 * Handles one waiting message of any window of the thread, the progress box's keys first.
 * Returns false when the queue was empty.
 */
bool pumpOneMessage(MSG &message);

/* A chunk request that did not complete ends the program after its report. */
inline void requireCompleted(HWND owner, uint8_t status)
{
    if (status != SS_COMP)
        reportScsiFailure(owner, status);
}

#endif
