/* The source of a copy: chunk reads, and the rescue of a chunk the medium fails to give. */
#include "rescue_read.h"

#include <cstring>
#include "app_state.h"
#include "scsi_status.h"
#include "transfer_loop.h"

namespace {
/* Messages handled between two requests of a rescue at the most, so that a stream of them
   cannot hold the rescue up. */
constexpr int kMessagesBetweenRequests = 32;
constexpr uint8_t kAscResetOccurred = 0x29;          /* power on, reset or bus device reset */
}  // namespace

ReadFailure classifyReadFailure(const RequestOutcome &outcome)
{
    /* Only a check condition reported by the target, with its sense data, says something about
       the medium. A host adapter error (selection timeout, bus reset, parity) does not; a data
       underrun is what some ASPI layers add to a read that stopped at a bad block. */
    if (outcome.status != SS_ERR || outcome.targetStatus != kScsiCheckCondition)
        return ReadFailure::Fatal;
    if (outcome.hostStatus != HASTAT_OK && outcome.hostStatus != HASTAT_DO_DU)
        return ReadFailure::Fatal;
    switch (outcome.senseKey) {
    case kSenseMediumError:
    case kSenseHardwareError:
        return ReadFailure::Unreadable;
    case kSenseRecoveredError:
        return ReadFailure::Recovered;
    case kSenseAbortedCommand:
        return ReadFailure::Aborted;
    case kSenseUnitAttention:
        /* An old drive often resets itself after a hard read error; the next command then
           reports the reset (ASC 29h) once. A medium change (28h) is another disk: fatal. */
        return outcome.asc == kAscResetOccurred ? ReadFailure::Aborted : ReadFailure::Fatal;
    default:   /* NOT READY, ILLEGAL REQUEST, DATA PROTECT, ... */
        return ReadFailure::Fatal;
    }
}

void startSourceReader(SourceReader &reader, HWND owner, SendASPI32CommandFn sendCommand, uint8_t adapter,
                       uint8_t target, int32_t sectorSize, bool rescue)
{
    reader.owner = owner;
    reader.sendCommand = sendCommand;
    reader.adapter = adapter;
    reader.target = target;
    reader.sectorSize = sectorSize;
    reader.rescue = rescue;
    reader.unreadable.clear();
    reader.rescuedLastChunk = false;
}

bool abortBetweenRequests()
{
    MSG message;
    for (int handled = 0; handled < kMessagesBetweenRequests && pumpOneMessage(message); handled++) {
    }
    return appState.abortRequested != 0;
}

int readSectorWithTries(SourceReader &reader, uint32_t lba, uint8_t *buffer)
{
    bool mediumFailed = false;
    uint8_t lastStatus = SS_ERR;
    for (int attempt = 0; attempt < kSectorTries; attempt++) {
        if (abortBetweenRequests())
            return -1;
        RequestOutcome outcome;
        lastStatus = executeTransfer(reader.sendCommand, TransferDirection::Read, reader.adapter, reader.target,
                                     lba, 1, buffer, uint32_t(reader.sectorSize), &outcome);
        if (lastStatus == SS_COMP)
            return 1;
        switch (classifyReadFailure(outcome)) {
        case ReadFailure::Recovered:
            return 1;   /* one sector, recovered by the drive: its data came with the reply */
        case ReadFailure::Unreadable:
            mediumFailed = true;
            break;
        case ReadFailure::Aborted:
            break;
        case ReadFailure::Fatal:
            reportScsiFailure(reader.owner, lastStatus);
        }
    }
    /* A sector that only ever got ABORTED COMMAND (or resets) says nothing about the medium: a
       fault of the bus or the drive that would turn every later sector into zeros. */
    if (!mediumFailed)
        reportScsiFailure(reader.owner, lastStatus);
    return 0;
}

int32_t readSourceChunk(SourceReader &reader, uint32_t lba, int32_t count, uint8_t *buffer)
{
    reader.rescuedLastChunk = false;
    const uint32_t sectorSize = uint32_t(reader.sectorSize);
    if (!reader.rescue) {
        requireCompleted(reader.owner, executeTransfer(reader.sendCommand, TransferDirection::Read, reader.adapter,
                                                       reader.target, lba, uint32_t(count), buffer,
                                                       uint32_t(count) * sectorSize));
        return count;
    }
    RequestOutcome outcome;
    uint8_t status = executeTransfer(reader.sendCommand, TransferDirection::Read, reader.adapter, reader.target, lba,
                                     uint32_t(count), buffer, uint32_t(count) * sectorSize, &outcome);
    if (status == SS_COMP)
        return count;
    if (classifyReadFailure(outcome) == ReadFailure::Fatal)
        reportScsiFailure(reader.owner, status);

    /* The chunk again, sector by sector: which of its sectors arrived is not known. */
    reader.rescuedLastChunk = true;
    for (int32_t i = 0; i < count; i++) {
        uint8_t *sector = buffer + size_t(i) * sectorSize;
        int result = readSectorWithTries(reader, lba + uint32_t(i), sector);
        if (result < 0)
            return i;
        if (result == 0) {
            std::memset(sector, 0, sectorSize);
            addSector(reader.unreadable, lba + uint32_t(i));
        }
    }
    return count;
}
