/*
 * The ASPI binding and the requests: loading wnaspi32.dll, waiting for a request, the one
 * READ(10)/WRITE(10) request of a transfer chunk, and the report of a failed transfer request.
 */
#ifndef KESTROVA_ASPI_H
#define KESTROVA_ASPI_H

#include <windows.h>
#include <cstdint>
#include "aspi_blocks.h"

enum class TransferDirection { Read, Write };

/* Loads wnaspi32.dll and sets adapterCount (at most 4). Returns 1, or 0 after its message. */
int bindAspi(HWND owner);

/* The library's SendASPI32Command, looked up anew by each user; null when not exported. */
SendASPI32CommandFn lookupSendCommand();

/*
 * Sends one request block through sendCommand and returns its final status. The block must
 * be filled; it and its data buffer must stay untouched until this returns. A request that
 * the library refuses at once (a returned value other than SS_PENDING while the block still
 * reads SS_PENDING) ends with the returned value, which is then also written into the block.
 * returnedValue, when given, receives what SendASPI32Command returned.
 */
uint8_t sendAndWait(SendASPI32CommandFn sendCommand, void *requestBlock,
                    uint32_t *returnedValue = nullptr);

/* Returns when the block's status is no longer SS_PENDING. */
void waitForRequest(void *requestBlock);

/* Fills request (cleared first) as the READ(10) or WRITE(10) that executeTransfer sends. */
void buildTransferRequest(SRB_ExecSCSICmd &request, TransferDirection direction, uint8_t adapter,
                          uint8_t target, uint32_t sectorAddress, uint16_t sectorCount, void *buffer,
                          uint32_t byteLength);

/* What a finished request brought back besides its status. */
struct RequestOutcome {
    uint8_t status;          /* SRB_Status */
    uint8_t hostStatus;      /* SRB_HaStat: 0, or what went wrong on the bus (selection timeout, ...) */
    uint8_t targetStatus;    /* SRB_TargStat: 02h is CHECK CONDITION */
    uint8_t senseKey;        /* from the sense data (fixed or descriptor format); 0 when there is none */
    uint8_t asc;
    uint8_t ascq;
};

/* The outcome of a finished request block: its status, and the sense data when it ended in SS_ERR. */
RequestOutcome requestOutcome(const SRB_ExecSCSICmd &request, uint8_t status);

/*
 * One READ(10) or WRITE(10) of sectorCount sectors at sectorAddress, logical unit 0; returns
 * its final SRB_Status (SS_COMP on success). A count that does not fit the CDB's 16 bits is
 * not sent: SS_INVALID_SRB. outcome, when given, receives the rest of the reply. The first
 * request of a transfer to a device, answered with a unit attention that leaves its medium as
 * it was, is sent once more (drive_state.h).
 */
uint8_t executeTransfer(SendASPI32CommandFn sendCommand, TransferDirection direction, uint8_t adapter,
                        uint8_t target, uint32_t sectorAddress, uint32_t sectorCount, void *buffer,
                        uint32_t byteLength, RequestOutcome *outcome = nullptr);

/* Sense key, ASC and ASCQ from sense data of either format (70h/71h fixed, 72h/73h descriptor). */
void readSenseData(const uint8_t *sense, size_t length, RequestOutcome &outcome);

/*
 * SYNCHRONIZE CACHE(10) of the whole medium, so that what the drive holds in its write cache is
 * on the medium before it is read back. Returns the final status; a drive that does not know
 * the command ends with SS_ERR (ILLEGAL REQUEST).
 */
uint8_t synchronizeCache(SendASPI32CommandFn sendCommand, uint8_t adapter, uint8_t target);

/* The explanation appended to a failure report for an ASPI status. */
const char *aspiStatusText(uint8_t status);

/* The text of a failure report for status, as reportScsiFailure shows it. */
void formatScsiFailure(char *text, size_t size, uint8_t status);

/* Shows the SCSI failure message for status and ends the process with exit status 0. */
[[noreturn]] void reportScsiFailure(HWND owner, uint8_t status);

#endif
