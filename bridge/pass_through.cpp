/*
 * One SC_EXEC_SCSI_CMD as one IOCTL_SCSI_PASS_THROUGH_DIRECT: to the class device of a claimed
 * unit, else to the port with the unit's bus, target and LUN. The request is checked first, then
 * a write is let through (protection.cpp), so that a request refused anyway locks nothing. The
 * sense data of a check condition comes back in the same call and goes to the block's sense
 * area, cleared first so that no byte of an older reply stays; when the port brought none back
 * (no autosense), a REQUEST SENSE asks for it. A unit attention is Windows' business too: the
 * class driver does not see it (volume_locks.cpp). A buffer that does not meet the port's
 * alignment, or would touch more physical pages than it takes, goes through a page-aligned copy.
 * What Windows answers becomes the nearest ASPI status: a short transfer is an error (HaStat
 * DO_DU) unless the caller asked for the residual count or the command's reply may be shorter
 * than its allocation length (INQUIRY, MODE SENSE, ...), a timeout an error with HaStat
 * COMMAND_TIMEOUT, a device gone SS_NO_DEVICE (a write is then never sent again: the unit is
 * looked for at the next request), and so on.
 */
#include "bridge.h"
#include "scsi_status.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t kSenseRoom = 64;
constexpr uint64_t kPageSize = 4096;
/* VirtualAlloc gives at least this alignment. */
constexpr uint32_t kCopyAlignment = 64 * 1024;

struct PassThroughRequest {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;                 /* keeps the sense buffer apart from the CDB, as usual */
    UCHAR sense[kSenseRoom];
};

struct ErrorStatus {
    DWORD error;
    uint8_t status;
    uint8_t haStat;
};
/* What a failed DeviceIoControl becomes. A device gone is SS_NO_DEVICE (deviceGone); any other
 * error SS_ERR. */
constexpr ErrorStatus kErrorStatus[] = {
    {ERROR_SEM_TIMEOUT, SS_ERR, HASTAT_COMMAND_TIMEOUT},   /* STATUS_IO_TIMEOUT */
    {ERROR_TIMEOUT, SS_ERR, HASTAT_COMMAND_TIMEOUT},
    {ERROR_NOT_ENOUGH_MEMORY, SS_INSUFFICIENT_RESOURCES, HASTAT_OK},
    {ERROR_OUTOFMEMORY, SS_INSUFFICIENT_RESOURCES, HASTAT_OK},
    {ERROR_NO_SYSTEM_RESOURCES, SS_INSUFFICIENT_RESOURCES, HASTAT_OK},
    {ERROR_NONPAGED_SYSTEM_RESOURCES, SS_INSUFFICIENT_RESOURCES, HASTAT_OK},
    {ERROR_PAGED_SYSTEM_RESOURCES, SS_INSUFFICIENT_RESOURCES, HASTAT_OK},
    {ERROR_WORKING_SET_QUOTA, SS_INSUFFICIENT_RESOURCES, HASTAT_OK},
    {ERROR_INVALID_USER_BUFFER, SS_BUFFER_ALIGN, HASTAT_OK},
    {ERROR_INVALID_PARAMETER, SS_INVALID_SRB, HASTAT_OK},
};

uint8_t failed(Bridge &b, SRB_ExecSCSICmd &srb, DWORD error, const char *what)
{
    uint8_t status = deviceGone(error) ? SS_NO_DEVICE : SS_ERR;
    for (const ErrorStatus &e : kErrorStatus)
        if (e.error == error) {
            status = e.status;
            srb.SRB_HaStat = e.haStat;
        }
    char note[80];
    snprintf(note, sizeof note, "%s: Windows error %lu", what, error);
    traceRequest(b, &srb, status, note);
    return status;
}

uint8_t refused(Bridge &b, SRB_ExecSCSICmd &srb, uint8_t status, const char *why)
{
    traceRequest(b, &srb, status, why);
    return status;
}

/* The caller's SRB_SenseLen bytes of sense area: what came, zeros after it (no byte of an older
 * reply left). */
void copySense(SRB_ExecSCSICmd &srb, const uint8_t *sense, size_t length)
{
    const size_t room = std::min<size_t>(srb.SRB_SenseLen, sizeof srb.SenseArea);
    memset(srb.SenseArea, 0, room);
    memcpy(srb.SenseArea, sense, std::min(length, room));
}

/* The sense data of a CHECK CONDITION the port brought back without any: REQUEST SENSE, which
 * gets it from the device while it still holds it. Its length, 0 when none came. */
size_t requestSense(Bridge &b, HANDLE h, const BridgeDevice &d, uint8_t bus, uint8_t (&sense)[kSenseRoom])
{
    PassThroughRequest request = {};
    SCSI_PASS_THROUGH_DIRECT &sptd = request.sptd;
    sptd.Length = sizeof sptd;
    sptd.PathId = bus;
    sptd.TargetId = d.target;
    sptd.Lun = d.lun;
    sptd.CdbLength = 6;
    sptd.DataIn = SCSI_IOCTL_DATA_IN;
    sptd.DataTransferLength = kSenseRoom;
    sptd.TimeOutValue = d.timeoutSeconds;
    sptd.DataBuffer = sense;
    sptd.SenseInfoOffset = offsetof(PassThroughRequest, sense);
    sptd.Cdb[0] = 0x03;
    sptd.Cdb[4] = kSenseRoom;
    DWORD returned = 0;
    if (!b.win->deviceControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request, sizeof request,
                              &returned) ||
        sptd.ScsiStatus != kScsiGood)
        return 0;
    return std::min<size_t>(sptd.DataTransferLength, kSenseRoom);
}

/* A write the bridge will not let through: CHECK CONDITION, DATA PROTECT, write protected. */
uint8_t refuseWrite(Bridge &b, SRB_ExecSCSICmd &srb, const char *why)
{
    uint8_t sense[kFixedSenseLength];
    buildSense(sense, kSenseDataProtect, kAscWriteProtected);
    copySense(srb, sense, sizeof sense);
    srb.SRB_TargStat = kScsiCheckCondition;
    return refused(b, srb, SS_ERR, why);
}

/* Which way the data goes: as the flags say, or as the operation code says when the flags say
 * nothing; Unknown when neither settles it, or when they disagree. */
DataWay dataWay(const SRB_ExecSCSICmd &srb, const char *&why)
{
    DataWay asked = srb.SRB_Flags & SRB_DIR_IN ? DataWay::In : srb.SRB_Flags & SRB_DIR_OUT ? DataWay::Out : DataWay::Unknown;
    DataWay certain = certainDataWay(srb.CDBByte, srb.SRB_CDBLen);
    if (srb.SRB_BufLen == 0)
        return asked;
    if (asked == DataWay::Unknown) {
        if (certain == DataWay::Unknown)
            why = "data but no direction, and the command does not say which";
        return certain;
    }
    if (certain != DataWay::Unknown && certain != asked) {
        why = "the direction goes against the command";
        return DataWay::Unknown;
    }
    return asked;
}

bool needsCopy(const TransferLimits &limits, const uint8_t *data, uint32_t length)
{
    if (length == 0)
        return false;
    uintptr_t at = reinterpret_cast<uintptr_t>(data);
    if (at & limits.alignmentMask)
        return true;
    uint64_t pages = (uint64_t(at % kPageSize) + length + kPageSize - 1) / kPageSize;
    return limits.maxPages > 0 && pages > limits.maxPages;
}

/* The sense key and additional sense code of fixed or descriptor format sense data. */
uint8_t senseKey(const uint8_t *sense, size_t length, uint8_t &asc)
{
    asc = 0;
    if (length >= 3 && ((sense[0] & 0x7F) == 0x70 || (sense[0] & 0x7F) == 0x71)) {
        asc = length > 12 ? sense[12] : 0;
        return sense[2] & 0x0F;
    }
    if (length >= 2 && ((sense[0] & 0x7F) == 0x72 || (sense[0] & 0x7F) == 0x73)) {
        asc = length > 2 ? sense[2] : 0;
        return sense[1] & 0x0F;
    }
    return 0;
}

}  // namespace

uint32_t largestTransfer(const TransferLimits &limits)
{
    uint64_t largest = limits.maxTransfer;
    if (limits.maxPages > 0)
        largest = std::min<uint64_t>(largest, uint64_t(limits.maxPages) * kPageSize);
    return uint32_t(largest);
}

uint8_t passThrough(Bridge &b, HostAdapter &a, BridgeDevice &d, SRB_ExecSCSICmd &srb)
{
    srb.SRB_HaStat = HASTAT_OK;
    srb.SRB_TargStat = 0;
    const bool writes = !onlyReads(d.type, srb.CDBByte, srb.SRB_CDBLen);
    const char *badWay = nullptr;
    const DataWay way = dataWay(srb, badWay);
    if (badWay)
        return refused(b, srb, SS_INVALID_SRB, badWay);
    if (srb.SRB_BufLen > largestTransfer(d.limits))
        return refused(b, srb, SS_BUFFER_TO_BIG, "longer than the port takes");

    PassThroughRequest request = {};
    SCSI_PASS_THROUGH_DIRECT &sptd = request.sptd;
    uint8_t *copy = nullptr;
    bool sent = false;
    DWORD error = 0;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 2; attempt++) {
        h = unitHandle(b, a, d, error);
        if (h == INVALID_HANDLE_VALUE)
            return failed(b, srb, error, d.classPath[0] ? d.classPath : "no class device answers for the unit");
        if (writes)
            if (const char *why = writeRefusal(b, a, d))
                return refuseWrite(b, srb, why);

        uint8_t *data = srb.SRB_BufPointer;
        if (needsCopy(d.limits, data, srb.SRB_BufLen)) {
            if (d.limits.alignmentMask >= kCopyAlignment)
                return refused(b, srb, SS_BUFFER_ALIGN, "the port wants an alignment no buffer has");
            copy = static_cast<uint8_t *>(VirtualAlloc(nullptr, srb.SRB_BufLen, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
            if (!copy)
                return refused(b, srb, SS_INSUFFICIENT_RESOURCES, "no memory for the aligned copy");
            if (way == DataWay::Out)
                memcpy(copy, srb.SRB_BufPointer, srb.SRB_BufLen);
            data = copy;
        }

        request = {};
        sptd.Length = sizeof sptd;
        sptd.PathId = a.bus;
        sptd.TargetId = d.target;
        sptd.Lun = d.lun;
        sptd.CdbLength = srb.SRB_CDBLen;
        sptd.SenseInfoLength = uint8_t(std::min<unsigned>(srb.SRB_SenseLen, kSenseRoom));
        sptd.DataIn = srb.SRB_BufLen == 0     ? SCSI_IOCTL_DATA_UNSPECIFIED
                      : way == DataWay::In    ? SCSI_IOCTL_DATA_IN
                                              : SCSI_IOCTL_DATA_OUT;
        sptd.DataTransferLength = srb.SRB_BufLen;
        sptd.TimeOutValue = d.timeoutSeconds;
        sptd.DataBuffer = srb.SRB_BufLen ? data : nullptr;
        sptd.SenseInfoOffset = offsetof(PassThroughRequest, sense);
        memcpy(sptd.Cdb, srb.CDBByte, srb.SRB_CDBLen);

        DWORD returned = 0;
        sent = b.win->deviceControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request,
                                    sizeof request, &returned);
        error = sent ? 0 : GetLastError();
        if (sent || !d.claimed || !deviceGone(error) || attempt > 0)
            break;
        /* The class device has gone (unplugged): the unit may be back under another name. A write
         * is not sent again: whatever answers now may be another drive, or the same one with
         * another medium and file system. */
        traceLine(b, "%s has gone (error %lu)", d.classPath, error);
        dropUnitHandle(b, d);
        if (copy)
            VirtualFree(copy, 0, MEM_RELEASE);
        copy = nullptr;
        if (writes)
            return failed(b, srb, error, "the write is not sent again");
    }

    uint32_t moved = sent ? std::min<uint32_t>(sptd.DataTransferLength, srb.SRB_BufLen) : 0;
    if (copy) {
        if (sent && way == DataWay::In)
            memcpy(srb.SRB_BufPointer, copy, moved);
        VirtualFree(copy, 0, MEM_RELEASE);
    }
    if (!sent)
        return failed(b, srb, error, "not sent");

    srb.SRB_TargStat = sptd.ScsiStatus;
    uint8_t status = sptd.ScsiStatus == kScsiGood ? SS_COMP : SS_ERR;
    if (sptd.ScsiStatus == kScsiCheckCondition) {
        size_t senseLength = std::min<size_t>(sptd.SenseInfoLength, kSenseRoom);
        const uint8_t *sense = request.sense;
        uint8_t asked[kSenseRoom] = {};
        if (senseLength == 0 && srb.SRB_SenseLen > 0) {
            senseLength = requestSense(b, h, d, a.bus, asked);
            sense = asked;
        }
        copySense(srb, sense, senseLength);
        uint8_t asc = 0;
        if (senseKey(sense, senseLength, asc) == kSenseUnitAttention && (d.diskNumber >= 0 || d.cdNumber >= 0))
            noteUnitAttention(b, d, asc);
    }
    if (srb.SRB_Flags & kResidualCountFlag) {
        srb.SRB_BufLen -= moved;         /* the residual count */
    } else if (moved < srb.SRB_BufLen && status == SS_COMP &&
               !(way == DataWay::In && repliesUpToAllocationLength(srb.CDBByte, srb.SRB_CDBLen))) {
        status = SS_ERR;                 /* a short transfer: the rest of the buffer is stale */
        srb.SRB_HaStat = HASTAT_DO_DU;
    }
    traceRequest(b, &srb, status, d.claimed ? d.classPath : "port");
    return status;
}
