/* What a failed read of the source means, and how the report names a sense. */
#include "archive.h"

#include <cstdio>
#include "scsi_status.h"

namespace {
constexpr uint8_t kAscPositioningError = 0x15;       /* random, mechanical or detected positioning error */
constexpr uint8_t kAscInternalTargetFailure = 0x44;
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
        return ReadFailure::Unreadable;
    case kSenseHardwareError:
        /* The heads cannot find the track, or the drive reports its own fault: every later read
           would fail the same way and wear the drive further. */
        if (outcome.asc == kAscPositioningError || outcome.asc == kAscInternalTargetFailure)
            return ReadFailure::DriveFailed;
        return ReadFailure::Unreadable;
    case kSenseRecoveredError:
        return ReadFailure::Recovered;
    case kSenseAbortedCommand:
        return ReadFailure::Aborted;
    case kSenseUnitAttention:
        /* An old drive often resets itself after a hard read error; the next command then
           reports the reset (ASC 29h) once. A medium change (28h) is another disk: fatal. */
        return outcome.asc == kAscResetOccurred ? ReadFailure::Aborted : ReadFailure::Fatal;
    default:   /* NOT READY (once the wait for a drive becoming ready is over), ILLEGAL REQUEST, ... */
        return ReadFailure::Fatal;
    }
}

void describeSense(uint8_t key, uint8_t asc, uint8_t ascq, char *text, size_t size)
{
    static const char *const keys[16] = {"NO SENSE", "RECOVERED ERROR", "NOT READY", "MEDIUM ERROR",
                                         "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
                                         "BLANK CHECK", "VENDOR SPECIFIC", "COPY ABORTED", "ABORTED COMMAND",
                                         "EQUAL", "VOLUME OVERFLOW", "MISCOMPARE", "COMPLETED"};
    std::snprintf(text, size, "%s, ASC %02Xh, ASCQ %02Xh", keys[key & 0x0F], asc, ascq);
}
