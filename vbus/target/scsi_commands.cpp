/* The SCSI commands an emulated target understands: INQUIRY, READ CAPACITY, READ(10),
 * WRITE(10), SYNCHRONIZE CACHE(10), TEST UNIT READY and START STOP UNIT. Everything else ends
 * in CHECK CONDITION with ILLEGAL REQUEST. Before a command runs, a pending unit attention is
 * reported (to anything but INQUIRY and REQUEST SENSE), and media commands of a drive that is
 * not ready end with NOT READY (drive_readiness.cpp). */
#include "scsi_target.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kStartStopUnit = 0x1B;
constexpr uint8_t kReadCapacity = 0x25;
constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kSynchronizeCache10 = 0x35;
constexpr uint32_t kInquiryLength = 36;
constexpr uint32_t kCapacityLength = 8;

TargetResult checkCondition(uint8_t key, uint8_t asc, uint8_t ascq = 0)
{
    TargetResult r;
    r.scsiStatus = kScsiCheckCondition;
    buildSense(r.sense, key, asc, ascq);
    return r;
}

/* Whether a media command can run; if not, the NOT READY it ends with. Without a cartridge the
   drive cannot tell more; a stopped motor waits for START STOP UNIT; a spinning one for time. */
bool notReady(ScsiTarget &t, TargetResult &r)
{
    DWORD msLeft;
    if (t.noMedium)
        r = checkCondition(kSenseNotReady, kAscNoMedium);
    else if (t.motorStopped)
        r = checkCondition(kSenseNotReady, kAscNotReady, kAscqStartRequired);
    else if (stillSpinningUp(t, msLeft))
        r = checkCondition(kSenseNotReady, kAscNotReady, kAscqBecomingReady);
    else
        return false;
    return true;
}

TargetResult good(uint32_t transferred)
{
    TargetResult r;
    r.transferred = transferred;
    return r;
}

TargetResult inquiry(const ScsiTarget &t, const TargetCommand &c)
{
    const uint8_t *cdb = c.cdb;
    if (c.cdbLength != 6 || c.direction == DataDirection::Out || (cdb[1] & 0x01) || cdb[2] != 0)
        return checkCondition(kSenseIllegalRequest, kAscInvalidField);
    uint8_t reply[kInquiryLength] = {};
    reply[0] = t.type;
    reply[1] = t.removable ? 0x80 : 0x00;
    reply[2] = 0x02;       /* SCSI-2 */
    reply[3] = 0x02;       /* response data format */
    /* A device with less than the 36 bytes of standard data (SCSI-1 and CCS devices) says how
       much follows byte 4 and sends no more than that, whatever the allocation length allows
       (SCSI-2, 8.2.5.1). */
    const uint32_t length = std::min(t.inquiryLength, kInquiryLength);
    reply[4] = uint8_t(length - 5);
    memcpy(reply + 8, t.inquiryText, sizeof t.inquiryText);
    uint32_t n = std::min<uint32_t>({length, c.length, cdb[4]});
    memcpy(c.data, reply, n);
    return good(n);
}

void putBigEndian32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

TargetResult readCapacity(ScsiTarget &t, const TargetCommand &c)
{
    if (c.cdbLength != 10 || c.direction == DataDirection::Out || c.length < kCapacityLength)
        return checkCondition(kSenseIllegalRequest, kAscInvalidField);
    TargetResult waiting;
    if (notReady(t, waiting))
        return waiting;
    uint8_t reply[kCapacityLength];
    if (t.hasCapacityReply) {
        memcpy(reply, t.capacityReply, sizeof reply);
    } else {
        /* Beyond 32 bits the reply says "more than fits", as SCSI defines. */
        uint64_t last = t.sectors == 0 ? 0 : t.sectors - 1;
        putBigEndian32(reply, last > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(last));
        putBigEndian32(reply + 4, t.sectorSize);
    }
    memcpy(c.data, reply, sizeof reply);
    return good(kCapacityLength);
}

/* The first configured fault that this request runs into, or null. */
const Fault *faultFor(ScsiTarget &t, bool write, uint64_t lba, uint32_t count)
{
    for (Fault &f : t.faults) {
        if (write ? !f.onWrite : !f.onRead)
            continue;
        bool matches = f.byRange ? count > 0 && lba <= f.last && lba + count - 1 >= f.first
                                 : uint32_t(InterlockedIncrement(&f.seen)) > f.after;
        if (!matches)
            continue;
        if (f.times > 0 && uint32_t(InterlockedIncrement(&f.hits)) > f.times)
            continue;   /* spent: the request goes through (a sector that reads on a later try) */
        return &f;
    }
    return nullptr;
}

/* Whether sector lba of a request is one that fault f acts on. */
bool hits(const Fault &f, uint64_t lba)
{
    return !f.byRange || (lba >= f.first && lba <= f.last);
}

/* The request's data as a faulty device handles it: altered sectors get their first byte
 * inverted; lost sectors take the medium's old contents, so writing them changes nothing. */
bool applyDataFault(ScsiTarget &t, const Fault &f, uint64_t lba, uint8_t *data, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++) {
        if (!hits(f, lba + i))
            continue;
        uint8_t *sector = data + size_t(i) * t.sectorSize;
        if (f.effect == FaultEffect::AlterData)
            sector[0] = uint8_t(~sector[0]);
        else if (!readSectors(t, lba + i, sector, t.sectorSize))
            return false;
    }
    return true;
}

TargetResult readWrite(ScsiTarget &t, const TargetCommand &c, bool write)
{
    const uint8_t *cdb = c.cdb;
    if (c.cdbLength != 10 || c.direction == (write ? DataDirection::In : DataDirection::Out))
        return checkCondition(kSenseIllegalRequest, kAscInvalidField);
    /* A drive older than the FUA bit (byte 1, bit 3) refuses it as an invalid field. */
    if ((cdb[1] & 0x08) && !t.forceUnitAccess)
        return checkCondition(kSenseIllegalRequest, kAscInvalidField);
    TargetResult waiting;
    if (notReady(t, waiting))
        return waiting;
    uint64_t lba = uint64_t(cdb[2]) << 24 | uint64_t(cdb[3]) << 16 | uint64_t(cdb[4]) << 8 | cdb[5];
    uint32_t count = uint32_t(cdb[7]) << 8 | cdb[8];
    if (lba + count > t.sectors)
        return checkCondition(kSenseIllegalRequest, kAscLbaOutOfRange);
    if (uint64_t(count) * t.sectorSize != c.length)
        return checkCondition(kSenseIllegalRequest, kAscInvalidField);
    if (write && t.readOnly)
        return checkCondition(kSenseDataProtect, kAscWriteProtected);
    const uint8_t failedAsc = write ? kAscWriteError : kAscReadError;
    const Fault *fault = faultFor(t, write, lba, count);
    if (fault && fault->effect == FaultEffect::Fail) {
        if (fault->status == 0x04)
            return checkCondition(fault->senseKey, fault->asc ? fault->asc : failedAsc, fault->ascq);
        TargetResult r;
        r.faultStatus = fault->status;
        return r;
    }
    bool ok;
    if (!fault) {
        ok = write ? writeSectors(t, lba, c.data, c.length) : readSectors(t, lba, c.data, c.length);
    } else if (write) {
        std::vector<uint8_t> stored(c.data, c.data + c.length);   /* the caller's buffer stays as sent */
        ok = applyDataFault(t, *fault, lba, stored.data(), count) &&
             writeSectors(t, lba, stored.data(), c.length);
    } else {
        ok = readSectors(t, lba, c.data, c.length) && applyDataFault(t, *fault, lba, c.data, count);
    }
    if (!ok)
        return checkCondition(kSenseMediumError, failedAsc);
    return good(c.length);
}

/* SYNCHRONIZE CACHE(10): the image has no cache of its own, so there is nothing to write; a
 * device that does not know the command refuses it as an unknown opcode. */
TargetResult synchronizeCache(ScsiTarget &t, const TargetCommand &c)
{
    if (!t.syncCache)
        return checkCondition(kSenseIllegalRequest, kAscInvalidOpcode);
    if (c.cdbLength != 10)
        return checkCondition(kSenseIllegalRequest, kAscInvalidField);
    TargetResult waiting;
    if (notReady(t, waiting))
        return waiting;
    return good(0);
}

/* TEST UNIT READY: GOOD when a media command would run, else the NOT READY it would get. */
TargetResult testUnitReady(ScsiTarget &t, const TargetCommand &c)
{
    if (c.cdbLength != 6)
        return checkCondition(kSenseIllegalRequest, kAscInvalidField);
    TargetResult waiting;
    if (notReady(t, waiting))
        return waiting;
    return good(0);
}

/* START STOP UNIT (SBC). Start 1 spins the motor up: with Immed 0 GOOD comes once it runs,
 * with Immed 1 at once (TEST UNIT READY then tells when it is ready). Start 0 stops it. These
 * drives cannot load or eject a cartridge, nor take a power condition: LoEj or a power
 * condition ends with ILLEGAL REQUEST, as the drive manuals say of their fixed disks. */
TargetResult startStopUnit(ScsiTarget &t, const TargetCommand &c)
{
    const uint8_t *cdb = c.cdb;
    if (c.cdbLength != 6 || (cdb[4] & 0xF2) != 0)
        return checkCondition(kSenseIllegalRequest, kAscInvalidField);
    if (!(cdb[4] & 0x01)) {
        InterlockedExchange(&t.motorStopped, 1);
        InterlockedExchange(&t.spinningUp, 0);
        return good(0);
    }
    if (t.noMedium)
        return checkCondition(kSenseNotReady, kAscNoMedium);
    if (t.motorStopped)
        startMotor(t);
    DWORD msLeft;
    if (!(cdb[1] & 0x01) && stillSpinningUp(t, msLeft)) {
        Sleep(msLeft);
        InterlockedExchange(&t.spinningUp, 0);
    }
    return good(0);
}

}  // namespace

void setInquiryText(ScsiTarget &t, const char *vendor, const char *product, const char *revision)
{
    const char *texts[] = {vendor, product, revision};
    const size_t offsets[] = {0, 8, 24}, sizes[] = {8, 16, 4};
    for (int i = 0; i < 3; i++) {
        memset(t.inquiryText + offsets[i], ' ', sizes[i]);
        memcpy(t.inquiryText + offsets[i], texts[i], std::min(strlen(texts[i]), sizes[i]));
    }
}

TargetResult runTargetCommand(ScsiTarget &target, const TargetCommand &command)
{
    if (command.cdbLength == 0)
        return checkCondition(kSenseIllegalRequest, kAscInvalidOpcode);
    const uint8_t opcode = command.cdb[0];
    /* Reported once, to the first command that is not INQUIRY or REQUEST SENSE, which does not
       run; reporting it clears it. */
    if (opcode != kInquiry && opcode != kRequestSense) {
        LONG attention = InterlockedExchange(&target.pendingAttention, 0);
        if (attention)
            return checkCondition(kSenseUnitAttention, uint8_t(attention), uint8_t(attention >> 8));
    }
    switch (opcode) {
    case kTestUnitReady: return testUnitReady(target, command);
    case kInquiry: return inquiry(target, command);
    case kStartStopUnit: return startStopUnit(target, command);
    case kReadCapacity: return readCapacity(target, command);
    case kRead10: return readWrite(target, command, false);
    case kWrite10: return readWrite(target, command, true);
    case kSynchronizeCache10: return synchronizeCache(target, command);
    default: return checkCondition(kSenseIllegalRequest, kAscInvalidOpcode);
    }
}
