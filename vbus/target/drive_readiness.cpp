/* How an emulated drive gets ready, as real SCSI drives do. Sources:
 *   - unit attention condition: SCSI-2 (X3.131-1994) and SPC, "unit attention condition"; the
 *     HP SureStore optical drive SCSI-2 command reference (chapter 1, "Unit Attention
 *     Condition": power-on or reset, disk loaded, mode select data change; INQUIRY does not
 *     clear it); the IBM DDRS Ultrastar manual (10.1.5); HP's tape drive reference for the ranks
 *     when several arise before one is reported: power-on or reset, then a medium loaded, then
 *     mode parameters changed. One condition is kept, the highest ranked.
 *   - spin-up and the stopped motor: SBC, START STOP UNIT; the Maxtor Atlas 10K IV manual (5.41:
 *     a drive jumpered for remote start spins up only on START STOP UNIT; with Immed 0 GOOD comes
 *     once it has spun up) and the Seagate SCSI-2/SCSI-3 interface manual (5.2.1.11: media
 *     commands end with NOT READY until the spindle runs). ASC/ASCQ 04h/01h "becoming ready",
 *     04h/02h "initializing command required" as in the TEST UNIT READY response tables (SPC;
 *     Tandberg SLR manual, table 28-2).
 *   - a cartridge put in: "not ready to ready change, medium may have changed" (28h), and the
 *     drive spins the new cartridge up.
 */
#include "scsi_target.h"

namespace {

/* Higher ranks win when a condition is already pending. */
int attentionRank(uint16_t attention)
{
    switch (attention & 0xFF) {
    case kAscPowerOnOrReset: return 3;
    case kAscMediumMayHaveChanged: return 2;
    case 0: return 0;
    default: return 1;
    }
}

bool sameMedium(const ScsiTarget &a, const ScsiTarget &b)
{
    return a.noMedium == b.noMedium && a.image == b.image && a.sectors == b.sectors && a.sectorSize == b.sectorSize;
}

}  // namespace

void powerOn(ScsiTarget &target)
{
    target.pendingAttention = target.attentionAtPowerOn;
    target.motorStopped = target.startsStopped ? 1 : 0;
    target.spinningUp = 0;
    if (!target.startsStopped)
        startMotor(target);
}

void startMotor(ScsiTarget &target)
{
    InterlockedExchange(&target.motorStopped, 0);
    target.spinUpStart = GetTickCount();
    InterlockedExchange(&target.spinningUp, target.spinUpMs > 0 ? 1 : 0);
}

bool stillSpinningUp(ScsiTarget &target, DWORD &msLeft)
{
    msLeft = 0;
    if (!target.spinningUp)
        return false;
    DWORD spent = GetTickCount() - target.spinUpStart;
    if (spent >= target.spinUpMs) {
        InterlockedExchange(&target.spinningUp, 0);
        return false;
    }
    msLeft = target.spinUpMs - spent;
    return true;
}

void raiseAttention(ScsiTarget &target, uint16_t attention)
{
    LONG pending = target.pendingAttention;
    while (attentionRank(attention) > attentionRank(uint16_t(pending))) {
        LONG seen = InterlockedCompareExchange(&target.pendingAttention, attention, pending);
        if (seen == pending)
            break;
        pending = seen;
    }
}

void continueDrive(ScsiTarget &now, const ScsiTarget &before)
{
    now.pendingAttention = before.pendingAttention;
    now.motorStopped = before.motorStopped;
    now.spinningUp = before.spinningUp;
    now.spinUpStart = before.spinUpStart;
    if (now.noMedium || sameMedium(now, before) || !now.reportsMediumChange)
        return;
    raiseAttention(now, kAscMediumMayHaveChanged);
    if (!now.motorStopped)
        startMotor(now);
}
