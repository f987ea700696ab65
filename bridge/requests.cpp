/*
 * GetASPI32SupportInfo and the ASPI commands: SC_HA_INQUIRY, SC_GET_DEV_TYPE, SC_EXEC_SCSI_CMD
 * and SC_GETSET_TIMEOUTS; any other is SS_INVALID_CMD. Every request is finished when
 * SendASPI32Command returns: its final status is then in SRB_Status and is also the value
 * returned. Requests refused at once (posting or event flags, a bad CDB length, an adapter or
 * unit that is not there) get their status the same way.
 */
#include "bridge.h"

#include <algorithm>
#include <cstring>

namespace {

const char kManagerId[] = "KESTROVA BRIDGE";
const char kDeniedCaption[] = "ASPI bridge";
const char kDeniedText[] =
    "Windows did not let the ASPI bridge open the SCSI ports: it needs administrator rights.\n\n"
    "Close the program and start it again with \"Run as administrator\".";

uint8_t finish(Bridge &b, uint8_t *block, uint8_t status, const char *note)
{
    if (note)
        traceRequest(b, block, status, note);
    __atomic_store_n(&block[offsetof(SRB_Header, SRB_Status)], status, __ATOMIC_RELEASE);
    return status;
}

uint8_t hostAdapterInquiry(Bridge &b, SRB_HAInquiry &q)
{
    const HostAdapter &a = b.adapters[q.SRB_HaId];
    q.HA_Count = uint8_t(std::min<size_t>(b.adapters.size(), 255));
    q.HA_SCSI_ID = a.initiatorId;
    memset(q.HA_ManagerId, 0, sizeof q.HA_ManagerId);
    memcpy(q.HA_ManagerId, kManagerId, std::min(sizeof q.HA_ManagerId, sizeof kManagerId - 1));
    memcpy(q.HA_Identifier, a.identifier, sizeof q.HA_Identifier);
    memset(q.HA_Unique, 0, sizeof q.HA_Unique);
    q.HA_Unique[3] = a.maxTargets;
    /* bytes 4-7: the largest transfer, little-endian; bytes 0-1 (alignment) stay 0: any
     * buffer will do, the bridge copies where the port needs it */
    const uint32_t largest = largestTransfer(a.limits);
    for (int i = 0; i < 4; i++)
        q.HA_Unique[4 + i] = uint8_t(largest >> (8 * i));
    return SS_COMP;
}

bool matches(uint8_t asked, uint8_t value)
{
    return asked == kAspiEveryone || asked == value;
}

/* SC_GETSET_TIMEOUTS: SRB_DIR_IN reads one unit's timeout, SRB_DIR_OUT sets it for every unit
 * the address names (0xFF: every adapter, target or LUN). Half seconds, rounded up to whole
 * seconds; 0 gives the default back; at most what the port drivers take. */
uint8_t getSetTimeouts(Bridge &b, SRB_GetSetTimeouts &t)
{
    const uint8_t way = t.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
    if (way == SRB_DIR_IN) {
        if (t.SRB_HaId >= b.adapters.size())
            return SS_INVALID_HA;
        const BridgeDevice *d = findDevice(b, t.SRB_HaId, t.SRB_Target, t.SRB_Lun);
        if (!d)
            return SS_NO_DEVICE;
        t.SRB_Timeout = d->timeoutSeconds * 2;
        return SS_COMP;
    }
    if (way != SRB_DIR_OUT)
        return SS_INVALID_SRB;
    if (t.SRB_HaId != kAspiEveryone && t.SRB_HaId >= b.adapters.size())
        return SS_INVALID_HA;
    uint32_t seconds = t.SRB_Timeout == 0 ? kDefaultTimeoutSeconds
                                          : std::min<uint32_t>(t.SRB_Timeout / 2 + t.SRB_Timeout % 2, kLongestTimeoutSeconds);
    int set = 0;
    for (size_t i = 0; i < b.adapters.size(); i++)
        for (BridgeDevice &d : b.adapters[i].devices)
            if (matches(t.SRB_HaId, uint8_t(i)) && matches(t.SRB_Target, d.target) && matches(t.SRB_Lun, d.lun)) {
                d.timeoutSeconds = seconds;
                set++;
            }
    traceLine(b, "timeout of %d units: %lu s", set, (unsigned long)seconds);
    return set > 0 ? SS_COMP : SS_NO_DEVICE;
}

}  // namespace

uint32_t bridgeSupportInfo(Bridge &b)
{
    openTrace(b);
    takeInventory(b);
    findProtectedDisks(b);
    uint32_t count = uint32_t(std::min<size_t>(b.adapters.size(), 255));
    uint8_t status = count > 0 ? SS_COMP : SS_NO_ADAPTERS;
    traceLine(b, "GetASPI32SupportInfo: %u ports, %u denied, %u adapters, status %02X", unsigned(b.ports.size()),
              unsigned(b.deniedPorts), unsigned(count), status);
    if (count == 0 && b.deniedPorts > 0) {
        /* The program can only say "no adapters": this is the one place to say why. */
        OutputDebugStringA("ASPI bridge: access to the SCSI ports denied; administrator rights are needed\n");
        b.win->tellUser(kDeniedText, kDeniedCaption);
    }
    return uint32_t(status) << 8 | count;
}

uint32_t bridgeSendCommand(Bridge &b, void *requestBlock)
{
    if (!requestBlock)
        return SS_INVALID_SRB;
    uint8_t *block = static_cast<uint8_t *>(requestBlock);
    const SRB_Header &h = *reinterpret_cast<const SRB_Header *>(block);
    switch (h.SRB_Cmd) {
    case SC_HA_INQUIRY: {
        if (h.SRB_HaId >= b.adapters.size())
            return finish(b, block, SS_INVALID_HA, "no such adapter");
        uint8_t status = hostAdapterInquiry(b, *reinterpret_cast<SRB_HAInquiry *>(block));
        return finish(b, block, status, "");
    }
    case SC_GET_DEV_TYPE: {
        SRB_GDEVBlock &g = *reinterpret_cast<SRB_GDEVBlock *>(block);
        if (g.SRB_HaId >= b.adapters.size())
            return finish(b, block, SS_INVALID_HA, "no such adapter");
        const BridgeDevice *d = findDevice(b, g.SRB_HaId, g.SRB_Target, g.SRB_Lun);
        if (!d)
            return finish(b, block, SS_NO_DEVICE, "no unit there");
        g.SRB_DeviceType = d->type;
        return finish(b, block, SS_COMP, "");
    }
    case SC_EXEC_SCSI_CMD: {
        SRB_ExecSCSICmd &e = *reinterpret_cast<SRB_ExecSCSICmd *>(block);
        if (e.SRB_HaId >= b.adapters.size())
            return finish(b, block, SS_INVALID_HA, "no such adapter");
        const uint8_t known = SRB_DIR_IN | SRB_DIR_OUT | kResidualCountFlag;
        if ((e.SRB_Flags & ~known) || ((e.SRB_Flags & SRB_DIR_IN) && (e.SRB_Flags & SRB_DIR_OUT)) ||
            e.SRB_CDBLen == 0 || e.SRB_CDBLen > sizeof e.CDBByte || (e.SRB_BufLen > 0 && !e.SRB_BufPointer))
            return finish(b, block, SS_INVALID_SRB, "request block refused");
        BridgeDevice *d = findDevice(b, e.SRB_HaId, e.SRB_Target, e.SRB_Lun);
        if (!d)
            return finish(b, block, SS_NO_DEVICE, "no unit there");
        return finish(b, block, passThrough(b, b.adapters[e.SRB_HaId], *d, e), nullptr);
    }
    case SC_GETSET_TIMEOUTS:
        return finish(b, block, getSetTimeouts(b, *reinterpret_cast<SRB_GetSetTimeouts *>(block)), "");
    default:
        return finish(b, block, SS_INVALID_CMD, "ASPI command not offered");
    }
}
