/* The request trace: one line per request with its command, adapter, target, CDB, length and
 * final status, e.g.
 *   EXEC ha=0 target=3 lun=0 flags=08 cdb=28 00 00 00 01 2C 00 00 80 00 len=65536 status=01 */
#include "vbus_bus.h"
#include "aspi_blocks.h"

#include <cstdio>

void traceRequest(Bus &bus, const uint8_t *block, uint8_t status)
{
    if (bus.trace == INVALID_HANDLE_VALUE)
        return;
    char line[160];
    int n;
    const SRB_Header &h = *reinterpret_cast<const SRB_Header *>(block);
    if (h.SRB_Cmd == SC_HA_INQUIRY) {
        n = snprintf(line, sizeof line, "HA_INQUIRY ha=%u status=%02X\r\n", h.SRB_HaId, status);
    } else if (h.SRB_Cmd == SC_GET_DEV_TYPE) {
        const SRB_GDEVBlock &g = *reinterpret_cast<const SRB_GDEVBlock *>(block);
        n = snprintf(line, sizeof line, "GET_DEV_TYPE ha=%u target=%u lun=%u status=%02X\r\n", g.SRB_HaId,
                     g.SRB_Target, g.SRB_Lun, status);
    } else if (h.SRB_Cmd == SC_EXEC_SCSI_CMD) {
        const SRB_ExecSCSICmd &e = *reinterpret_cast<const SRB_ExecSCSICmd *>(block);
        char cdb[16 * 3 + 1] = "";
        unsigned cdbLen = e.SRB_CDBLen <= 16 ? e.SRB_CDBLen : 16;
        char *p = cdb;
        for (unsigned i = 0; i < cdbLen; i++)
            p += snprintf(p, size_t(cdb + sizeof cdb - p), i ? " %02X" : "%02X", e.CDBByte[i]);
        n = snprintf(line, sizeof line, "EXEC ha=%u target=%u lun=%u flags=%02X cdb=%s len=%lu status=%02X\r\n",
                     e.SRB_HaId, e.SRB_Target, e.SRB_Lun, e.SRB_Flags, cdb, (unsigned long)e.SRB_BufLen, status);
    } else {
        n = snprintf(line, sizeof line, "COMMAND %02X ha=%u status=%02X\r\n", h.SRB_Cmd, h.SRB_HaId, status);
    }
    if (n <= 0)
        return;
    DWORD written = 0;
    EnterCriticalSection(&bus.traceLock);
    WriteFile(bus.trace, line, DWORD(n < int(sizeof line) ? n : int(sizeof line) - 1), &written, nullptr);
    LeaveCriticalSection(&bus.traceLock);
}
