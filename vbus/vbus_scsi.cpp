/* The ASPI commands of the bus. The SCSI commands go to the device's emulated target
 * (target/scsi_target.h): INQUIRY, READ CAPACITY, READ(10) and WRITE(10); everything else
 * ends with SS_ERR and ILLEGAL REQUEST. */
#include "vbus_bus.h"
#include "aspi_blocks.h"

#include <algorithm>
#include <cstring>

namespace {


/* Flags the bus honours; posting and event notification are not offered. */
constexpr uint8_t kResidualCountFlag = 0x04;
constexpr uint8_t kKnownFlags = SRB_DIR_IN | SRB_DIR_OUT | kResidualCountFlag;

/* The CDB goes to the device's emulated target; a check condition comes back as SS_ERR with
 * the sense data, a configured fault of another status as that status. */
uint8_t executeScsi(Device &d, SRB_ExecSCSICmd &srb)
{
    DataDirection direction = srb.SRB_Flags & SRB_DIR_IN    ? DataDirection::In
                              : srb.SRB_Flags & SRB_DIR_OUT ? DataDirection::Out
                                                            : DataDirection::Unspecified;
    TargetCommand command = {srb.CDBByte, srb.SRB_CDBLen, direction, srb.SRB_BufPointer, srb.SRB_BufLen};
    TargetResult result = runTargetCommand(d, command);
    if (result.faultStatus)
        return result.faultStatus;
    if (result.scsiStatus == kScsiGood)
        return SS_COMP;
    size_t n = std::min<size_t>({sizeof result.sense, srb.SRB_SenseLen, sizeof srb.SenseArea});
    memcpy(srb.SenseArea, result.sense, n);
    srb.SRB_TargStat = kScsiCheckCondition;
    return SS_ERR;
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
