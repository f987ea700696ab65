/* The ASPI commands of the bus and the SCSI commands its devices understand: INQUIRY,
 * READ CAPACITY, READ(10) and WRITE(10). Everything else ends with SS_ERR and ILLEGAL REQUEST. */
#include "vbus_bus.h"
#include "aspi_blocks.h"

#include <algorithm>
#include <cstring>

namespace {

/* Sense keys and additional sense codes of the fixed-format sense data. */
constexpr uint8_t kNotReady = 0x02;
constexpr uint8_t kMediumError = 0x03;
constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kDataProtect = 0x07;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscLbaOutOfRange = 0x21;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscWriteProtected = 0x27;
constexpr uint8_t kAscNoMedium = 0x3A;
constexpr uint8_t kAscReadError = 0x11;
constexpr uint8_t kAscWriteError = 0x0C;
constexpr uint8_t kCheckCondition = 0x02;

/* Flags the bus honours; posting and event notification are not offered. */
constexpr uint8_t kResidualCountFlag = 0x04;
constexpr uint8_t kKnownFlags = SRB_DIR_IN | SRB_DIR_OUT | kResidualCountFlag;

uint8_t checkCondition(SRB_ExecSCSICmd &srb, uint8_t key, uint8_t asc)
{
    uint8_t sense[18] = {};
    sense[0] = 0x70;       /* current error, fixed format */
    sense[2] = key;
    sense[7] = 10;         /* additional length */
    sense[12] = asc;
    size_t n = std::min<size_t>({sizeof sense, srb.SRB_SenseLen, sizeof srb.SenseArea});
    memcpy(srb.SenseArea, sense, n);
    srb.SRB_TargStat = kCheckCondition;
    return SS_ERR;
}

bool wantsOut(const SRB_ExecSCSICmd &srb) { return (srb.SRB_Flags & SRB_DIR_OUT) != 0; }
bool wantsIn(const SRB_ExecSCSICmd &srb) { return (srb.SRB_Flags & SRB_DIR_IN) != 0; }

uint8_t inquiry(Device &d, SRB_ExecSCSICmd &srb)
{
    const uint8_t *cdb = srb.CDBByte;
    if (srb.SRB_CDBLen != 6 || wantsOut(srb) || (cdb[1] & 0x01) || cdb[2] != 0)
        return checkCondition(srb, kIllegalRequest, kAscInvalidField);
    uint8_t reply[kInquiryReplyLength] = {};
    reply[0] = d.type;
    reply[1] = d.removable ? 0x80 : 0x00;
    reply[2] = 0x02;       /* SCSI-2 */
    reply[3] = 0x02;       /* response data format */
    reply[4] = kInquiryReplyLength - 5;
    memcpy(reply + 8, d.inquiryText, sizeof d.inquiryText);
    size_t n = std::min<size_t>({sizeof reply, srb.SRB_BufLen, cdb[4]});
    memcpy(srb.SRB_BufPointer, reply, n);
    return SS_COMP;
}

void putBigEndian32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

uint8_t readCapacity(Device &d, SRB_ExecSCSICmd &srb)
{
    if (srb.SRB_CDBLen != 10 || wantsOut(srb) || srb.SRB_BufLen < kReadCapacityReplyLength)
        return checkCondition(srb, kIllegalRequest, kAscInvalidField);
    if (d.noMedium)
        return checkCondition(srb, kNotReady, kAscNoMedium);
    uint8_t reply[kReadCapacityReplyLength];
    if (d.hasCapacityReply) {
        memcpy(reply, d.capacityReply, sizeof reply);
    } else {
        /* Beyond 32 bits the reply says "more than fits", as SCSI defines. */
        uint64_t last = d.sectors == 0 ? 0 : d.sectors - 1;
        putBigEndian32(reply, last > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(last));
        putBigEndian32(reply + 4, d.sectorSize);
    }
    memcpy(srb.SRB_BufPointer, reply, sizeof reply);
    return SS_COMP;
}

/* The first configured fault that this request runs into, or 0. */
uint8_t faultFor(Device &d, bool write, uint64_t lba, uint32_t count)
{
    for (Fault &f : d.faults) {
        if (write ? !f.onWrite : !f.onRead)
            continue;
        if (f.byRange) {
            if (count > 0 && lba <= f.last && lba + count - 1 >= f.first)
                return f.status;
        } else if (uint32_t(InterlockedIncrement(&f.seen)) > f.after) {
            return f.status;
        }
    }
    return 0;
}

uint8_t readWrite(Device &d, SRB_ExecSCSICmd &srb, bool write)
{
    const uint8_t *cdb = srb.CDBByte;
    if (srb.SRB_CDBLen != 10 || (write ? wantsIn(srb) : wantsOut(srb)))
        return checkCondition(srb, kIllegalRequest, kAscInvalidField);
    if (d.noMedium)
        return checkCondition(srb, kNotReady, kAscNoMedium);
    uint64_t lba = uint64_t(cdb[2]) << 24 | uint64_t(cdb[3]) << 16 | uint64_t(cdb[4]) << 8 | cdb[5];
    uint32_t count = uint32_t(cdb[7]) << 8 | cdb[8];
    if (lba + count > d.sectors)
        return checkCondition(srb, kIllegalRequest, kAscLbaOutOfRange);
    if (uint64_t(count) * d.sectorSize != srb.SRB_BufLen)
        return checkCondition(srb, kIllegalRequest, kAscInvalidField);
    if (write && d.readOnly)
        return checkCondition(srb, kDataProtect, kAscWriteProtected);
    if (uint8_t status = faultFor(d, write, lba, count)) {
        if (status == SS_ERR)
            return checkCondition(srb, kMediumError, write ? kAscWriteError : kAscReadError);
        return status;
    }
    bool ok = write ? writeSectors(d, lba, srb.SRB_BufPointer, srb.SRB_BufLen)
                    : readSectors(d, lba, srb.SRB_BufPointer, srb.SRB_BufLen);
    if (!ok)
        return checkCondition(srb, kMediumError, write ? kAscWriteError : kAscReadError);
    return SS_COMP;
}

uint8_t executeScsi(Device &d, SRB_ExecSCSICmd &srb)
{
    switch (srb.CDBByte[0]) {
    case SCSI_INQUIRY: return inquiry(d, srb);
    case SCSI_READ_CAPACITY: return readCapacity(d, srb);
    case SCSI_READ10: return readWrite(d, srb, false);
    case SCSI_WRITE10: return readWrite(d, srb, true);
    default: return checkCondition(srb, kIllegalRequest, kAscInvalidOpcode);
    }
}

}  // namespace

uint8_t acceptRequest(Bus &bus, const uint8_t *block, Timing &timing)
{
    const SRB_Header &h = *reinterpret_cast<const SRB_Header *>(block);
    switch (h.SRB_Cmd) {
    case SC_HA_INQUIRY: {
        const Adapter *a = bus.adapter(h.SRB_HaId);
        if (!a)
            return SS_INVALID_HA;
        timing = a->timing;
        return 0;
    }
    case SC_GET_DEV_TYPE: {
        const SRB_GDEVBlock &g = *reinterpret_cast<const SRB_GDEVBlock *>(block);
        if (!bus.adapter(g.SRB_HaId))
            return SS_INVALID_HA;
        Device *d = bus.device(g.SRB_HaId, g.SRB_Target);
        if (!d || g.SRB_Lun != 0)
            return SS_NO_DEVICE;
        timing = d->timing;
        return 0;
    }
    case SC_EXEC_SCSI_CMD: {
        const SRB_ExecSCSICmd &e = *reinterpret_cast<const SRB_ExecSCSICmd *>(block);
        if (!bus.adapter(e.SRB_HaId))
            return SS_INVALID_HA;
        if ((e.SRB_Flags & ~kKnownFlags) != 0 || (e.SRB_Flags & SRB_DIR_IN && e.SRB_Flags & SRB_DIR_OUT) ||
            e.SRB_CDBLen == 0 || e.SRB_CDBLen > sizeof e.CDBByte || (e.SRB_BufLen > 0 && !e.SRB_BufPointer))
            return SS_INVALID_SRB;
        Device *d = bus.device(e.SRB_HaId, e.SRB_Target);
        if (!d || e.SRB_Lun != 0)
            return SS_NO_DEVICE;
        timing = d->timing;
        return 0;
    }
    default:
        return SS_INVALID_SRB;
    }
}

uint8_t runRequest(Bus &bus, uint8_t *block)
{
    const SRB_Header &h = *reinterpret_cast<const SRB_Header *>(block);
    switch (h.SRB_Cmd) {
    case SC_HA_INQUIRY: {
        SRB_HAInquiry &q = *reinterpret_cast<SRB_HAInquiry *>(block);
        const Adapter &a = *bus.adapter(q.SRB_HaId);
        q.HA_Count = uint8_t(bus.adapterCount);
        q.HA_SCSI_ID = a.scsiId;
        memcpy(q.HA_ManagerId, bus.managerId, sizeof q.HA_ManagerId);
        memcpy(q.HA_Identifier, a.identifier, sizeof q.HA_Identifier);
        memset(q.HA_Unique, 0, sizeof q.HA_Unique);
        q.HA_Unique[3] = a.maxTargets;
        q.HA_Unique[7] = 0x01;   /* bytes 4-7: largest transfer, 0x01000000 (16 MB), little-endian */
        return SS_COMP;
    }
    case SC_GET_DEV_TYPE: {
        SRB_GDEVBlock &g = *reinterpret_cast<SRB_GDEVBlock *>(block);
        const Device &d = *bus.device(g.SRB_HaId, g.SRB_Target);
        if (d.devTypeStatus != SS_COMP)
            return d.devTypeStatus;   /* a failed inquiry leaves the type as the caller set it */
        g.SRB_DeviceType = d.type;
        return SS_COMP;
    }
    default: {
        SRB_ExecSCSICmd &e = *reinterpret_cast<SRB_ExecSCSICmd *>(block);
        e.SRB_HaStat = 0;
        e.SRB_TargStat = 0;
        return executeScsi(*bus.device(e.SRB_HaId, e.SRB_Target), e);
    }
    }
}
