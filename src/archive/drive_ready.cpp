/*
 * A drive that cannot answer yet. A removable drive reports NOT READY with "logical unit is in
 * process of becoming ready" (ASC 04h, ASCQ 01h) while it spins a cartridge up, and a tired
 * disk may do so after a hard read error; the command is then worth sending again after a
 * pause (SCSI Primary Commands, the NOT READY additional sense codes). A medium change is
 * reported once, as UNIT ATTENTION with ASC 28h, to the first command after it.
 */
#include "archive.h"

#include "drive_state.h"
#include "progress_box.h"
#include "transfer_loop.h"

namespace {
constexpr DWORD kPauseStep = 10;

/* A pause during which the thread's messages are handled, so that ABORT is seen at once. */
void pauseHandlingMessages(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    MSG message;
    while (GetTickCount() - start < milliseconds && !appState.abortRequested) {
        if (!pumpOneMessage(message))
            Sleep(kPauseStep);
    }
}
}  // namespace

bool becomingReady(const RequestOutcome &outcome)
{
    return classifyDriveCondition(outcome) == DriveCondition::BecomingReady;
}

bool mediumChanged(const RequestOutcome &outcome)
{
    return classifyDriveCondition(outcome) == DriveCondition::MediumChanged;
}

uint8_t readWhenReady(SendASPI32CommandFn sendCommand, DeviceAddress device, uint32_t lba, uint32_t count,
                      int32_t sectorSize, uint8_t *buffer, RequestOutcome &outcome)
{
    uint8_t status = executeTransfer(sendCommand, TransferDirection::Read, device.adapter, device.target, lba, count,
                                     buffer, count * uint32_t(sectorSize), &outcome);
    constexpr DWORD kMostPauses = kReadyBoundMs / kReadyPollMs;
    for (DWORD pauses = 0; becomingReady(outcome) && pauses < kMostPauses && !appState.abortRequested; pauses++) {
        pauseHandlingMessages(kReadyPollMs);
        if (appState.abortRequested)
            break;
        status = executeTransfer(sendCommand, TransferDirection::Read, device.adapter, device.target, lba, count,
                                 buffer, count * uint32_t(sectorSize), &outcome);
    }
    return status;
}
