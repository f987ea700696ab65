/*
 * One SC_EXEC_SCSI_CMD as one IOCTL_SCSI_PASS_THROUGH_DIRECT: to the class device of a claimed
 * unit, else to the port with the unit's bus, target and LUN. The sense data of a check
 * condition comes back in the same call (the port asks for it) and goes to the block's sense
 * area. A buffer that does not meet the port's alignment goes through an aligned copy.
 */
#include "bridge.h"
#include "scsi_status.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr ULONG kTimeoutSeconds = 60;
constexpr uint8_t kSenseRoom = 64;

struct PassThroughRequest {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;                 /* keeps the sense buffer apart from the CDB, as usual */
    UCHAR sense[kSenseRoom];
};

void copySense(SRB_ExecSCSICmd &srb, const uint8_t *sense, size_t length)
{
    size_t n = std::min<size_t>({length, srb.SRB_SenseLen, sizeof srb.SenseArea});
    memcpy(srb.SenseArea, sense, n);
}

/* A write the bridge will not let through: CHECK CONDITION, DATA PROTECT, write protected. */
uint8_t refuseWrite(SRB_ExecSCSICmd &srb)
{
    uint8_t sense[kFixedSenseLength];
    buildSense(sense, kSenseDataProtect, kAscWriteProtected);
    copySense(srb, sense, sizeof sense);
    srb.SRB_TargStat = kScsiCheckCondition;
    return SS_ERR;
}

bool writes(const SRB_ExecSCSICmd &srb)
{
    return (srb.SRB_Flags & SRB_DIR_OUT) || !onlyReads(srb.CDBByte, srb.SRB_CDBLen);
}

/* The handle a request for this unit goes to; opens the class device at its first request. */
HANDLE deviceHandle(Bridge &b, HostAdapter &a, BridgeDevice &d, DWORD &error)
{
    if (!d.claimed)
        return a.portHandle;
    if (d.handle == INVALID_HANDLE_VALUE && d.classPath[0]) {
        d.handle = b.win->openDevice(d.classPath, GENERIC_READ | GENERIC_WRITE);
        error = GetLastError();
    } else if (!d.classPath[0]) {
        error = ERROR_FILE_NOT_FOUND;
    }
    return d.handle;
}

}  // namespace

uint8_t passThrough(Bridge &b, HostAdapter &a, BridgeDevice &d, SRB_ExecSCSICmd &srb)
{
    srb.SRB_HaStat = 0;
    srb.SRB_TargStat = 0;
    if (srb.SRB_BufLen > a.maxTransfer) {
        traceRequest(b, &srb, SS_BUFFER_TO_BIG, "longer than the port takes");
        return SS_BUFFER_TO_BIG;
    }
    if (d.diskNumber >= 0 && writes(srb)) {
        if (const char *why = prepareDiskForWriting(b, d.diskNumber)) {
            uint8_t status = refuseWrite(srb);
            traceRequest(b, &srb, status, why);
            return status;
        }
    }
    DWORD error = 0;
    HANDLE h = deviceHandle(b, a, d, error);
    if (h == INVALID_HANDLE_VALUE) {
        uint8_t status = error == ERROR_ACCESS_DENIED ? SS_ERR : SS_NO_DEVICE;
        traceRequest(b, &srb, status, error == ERROR_ACCESS_DENIED ? "class device: access denied"
                                                                   : "no class device answers for the unit");
        return status;
    }

    /* The aligned copy, when the caller's buffer does not meet the port's alignment. */
    uint8_t *data = srb.SRB_BufPointer;
    void *allocated = nullptr;
    if (srb.SRB_BufLen > 0 && (reinterpret_cast<uintptr_t>(data) & a.alignmentMask)) {
        allocated = malloc(size_t(srb.SRB_BufLen) + a.alignmentMask);
        if (!allocated) {
            traceRequest(b, &srb, SS_INSUFFICIENT_RESOURCES, "no memory for the aligned copy");
            return SS_INSUFFICIENT_RESOURCES;
        }
        uintptr_t at = (reinterpret_cast<uintptr_t>(allocated) + a.alignmentMask) & ~uintptr_t(a.alignmentMask);
        data = reinterpret_cast<uint8_t *>(at);
        if (srb.SRB_Flags & SRB_DIR_OUT)
            memcpy(data, srb.SRB_BufPointer, srb.SRB_BufLen);
    }

    PassThroughRequest request = {};
    SCSI_PASS_THROUGH_DIRECT &sptd = request.sptd;
    sptd.Length = sizeof sptd;
    sptd.PathId = a.bus;
    sptd.TargetId = d.target;
    sptd.Lun = d.lun;
    sptd.CdbLength = srb.SRB_CDBLen;
    sptd.SenseInfoLength = uint8_t(std::min<unsigned>(srb.SRB_SenseLen, kSenseRoom));
    sptd.DataIn = srb.SRB_Flags & SRB_DIR_IN    ? SCSI_IOCTL_DATA_IN
                  : srb.SRB_Flags & SRB_DIR_OUT ? SCSI_IOCTL_DATA_OUT
                                                : SCSI_IOCTL_DATA_UNSPECIFIED;
    sptd.DataTransferLength = srb.SRB_BufLen;
    sptd.TimeOutValue = kTimeoutSeconds;
    sptd.DataBuffer = srb.SRB_BufLen ? data : nullptr;
    sptd.SenseInfoOffset = offsetof(PassThroughRequest, sense);
    memcpy(sptd.Cdb, srb.CDBByte, srb.SRB_CDBLen);

    DWORD returned = 0;
    BOOL sent = b.win->deviceControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request,
                                     sizeof request, &returned);
    DWORD sendError = sent ? 0 : GetLastError();
    uint32_t moved = std::min<uint32_t>(sptd.DataTransferLength, srb.SRB_BufLen);
    if (allocated) {
        if (sent && (srb.SRB_Flags & SRB_DIR_IN))
            memcpy(srb.SRB_BufPointer, data, moved);
        free(allocated);
    }
    if (!sent) {
        char note[48];
        snprintf(note, sizeof note, "not sent: error %lu", sendError);
        traceRequest(b, &srb, SS_ERR, note);
        return SS_ERR;
    }
    if (srb.SRB_Flags & kResidualCountFlag)
        srb.SRB_BufLen -= moved;
    srb.SRB_TargStat = sptd.ScsiStatus;
    uint8_t status = SS_COMP;
    if (sptd.ScsiStatus != 0) {
        status = SS_ERR;
        if (sptd.ScsiStatus == kScsiCheckCondition)
            copySense(srb, request.sense, std::min<size_t>(sptd.SenseInfoLength, kSenseRoom));
    }
    traceRequest(b, &srb, status, d.claimed ? d.classPath : "port");
    return status;
}
