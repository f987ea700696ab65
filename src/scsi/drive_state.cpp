/* Drive states from sense data, TEST UNIT READY, START STOP UNIT, the wait, first requests. */
#include "drive_state.h"

#include <cstring>
#include "scsi_status.h"

namespace {

/* One request without data, six-byte CDB. */
uint8_t sendWithoutData(SendASPI32CommandFn sendCommand, uint8_t adapter, uint8_t target,
                        const uint8_t (&cdb)[6], RequestOutcome *outcome)
{
    SRB_ExecSCSICmd request;
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_HaId = adapter;
    request.SRB_Flags = 0;
    request.SRB_Target = target;
    request.SRB_SenseLen = kSenseLength;
    request.SRB_CDBLen = sizeof cdb;
    std::memcpy(request.CDBByte, cdb, sizeof cdb);
    uint8_t status = sendAndWait(sendCommand, &request);
    if (outcome)
        *outcome = requestOutcome(request, status);
    return status;
}

DriveCondition attentionCondition(uint8_t asc)
{
    switch (asc) {
    case kAscPowerOnOrReset: return DriveCondition::PoweredOnOrReset;
    case kAscMediumMayHaveChanged: return DriveCondition::MediumChanged;
    case kAscParametersChanged: return DriveCondition::ParametersChanged;
    default: return DriveCondition::OtherAttention;
    }
}

DriveCondition notReadyCondition(uint8_t asc, uint8_t ascq)
{
    if (asc == kAscNoMedium)
        return DriveCondition::NoMedium;
    if (asc == kAscNotReady && ascq == kAscqBecomingReady)
        return DriveCondition::BecomingReady;
    if (asc == kAscNotReady && ascq == kAscqStartRequired)
        return DriveCondition::NeedsStart;
    return DriveCondition::OtherNotReady;
}

struct FirstRequest {
    bool pending;
    uint8_t adapter;
    uint8_t target;
};
FirstRequest firstRequests[2];

}  // namespace

DriveCondition classifyDriveCondition(const RequestOutcome &outcome)
{
    if (outcome.status == SS_COMP)
        return DriveCondition::Answered;
    /* Sense data count only with the target's CHECK CONDITION: otherwise they are not this
       request's (a selection timeout, an ASPI refusal). */
    if (outcome.status != SS_ERR || outcome.targetStatus != kScsiCheckCondition)
        return DriveCondition::Failed;
    switch (outcome.senseKey) {
    case kSenseUnitAttention: return attentionCondition(outcome.asc);
    case kSenseNotReady: return notReadyCondition(outcome.asc, outcome.ascq);
    default: return DriveCondition::Failed;
    }
}

bool isUnitAttention(DriveCondition condition)
{
    return condition == DriveCondition::PoweredOnOrReset || condition == DriveCondition::MediumChanged ||
           condition == DriveCondition::ParametersChanged || condition == DriveCondition::OtherAttention;
}

bool attentionKeepsMedium(DriveCondition condition)
{
    return condition == DriveCondition::PoweredOnOrReset || condition == DriveCondition::ParametersChanged;
}

uint8_t testUnitReady(SendASPI32CommandFn sendCommand, uint8_t adapter, uint8_t target, RequestOutcome *outcome)
{
    static const uint8_t cdb[6] = {SCSI_TEST_UNIT_READY, 0, 0, 0, 0, 0};
    return sendWithoutData(sendCommand, adapter, target, cdb, outcome);
}

uint8_t startUnit(SendASPI32CommandFn sendCommand, uint8_t adapter, uint8_t target, RequestOutcome *outcome)
{
    /* Byte 1 bit 0 Immed = 0: the answer comes when the drive runs; byte 4 bit 0 Start = 1,
       bit 1 LoEj = 0: no cartridge is loaded or ejected. */
    static const uint8_t cdb[6] = {SCSI_START_STOP_UNIT, 0, 0, 0, 0x01, 0};
    return sendWithoutData(sendCommand, adapter, target, cdb, outcome);
}

DriveCondition waitUntilReady(SendASPI32CommandFn sendCommand, uint8_t adapter, uint8_t target, DWORD boundMs)
{
    const DWORD begin = GetTickCount();
    DriveCondition condition = DriveCondition::BecomingReady;
    while (GetTickCount() - begin < boundMs) {
        Sleep(kReadyPollMs);
        RequestOutcome outcome;
        testUnitReady(sendCommand, adapter, target, &outcome);
        condition = classifyDriveCondition(outcome);
        if (condition != DriveCondition::BecomingReady && !isUnitAttention(condition))
            break;
    }
    return condition;
}

void expectFirstRequests(uint8_t adapterA, uint8_t targetA, uint8_t adapterB, uint8_t targetB)
{
    firstRequests[0] = {true, adapterA, targetA};
    firstRequests[1] = {true, adapterB, targetB};
}

void endFirstRequests()
{
    firstRequests[0].pending = firstRequests[1].pending = false;
}

bool takeFirstRequest(uint8_t adapter, uint8_t target)
{
    bool first = false;
    for (FirstRequest &request : firstRequests)
        if (request.pending && request.adapter == adapter && request.target == target) {
            request.pending = false;
            first = true;
        }
    return first;
}
