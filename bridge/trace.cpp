/*
 * The trace, for a user who reports a problem: when the environment variable
 * KESTROVA_BRIDGE_TRACE names a file, the inventory and one line per request with its outcome
 * are appended to it, e.g.
 *   EXEC ha=0 target=3 lun=0 flags=08 cdb=28 00 00 00 01 2C 00 00 80 00 len=65536 status=01 scsi=00 (\\.\PhysicalDrive2)
 * Off by default. The file is opened again at every GetASPI32SupportInfo.
 */
#include "bridge.h"

#include <cstdarg>
#include <cstdio>

namespace {

void writeLine(Bridge &b, const char *text, int length)
{
    if (length <= 0)
        return;
    DWORD written = 0;
    WriteFile(b.trace, text, DWORD(length), &written, nullptr);
}

}  // namespace

void openTrace(Bridge &b)
{
    closeTrace(b);
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(kTraceVariable, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return;
    b.trace = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
}

void closeTrace(Bridge &b)
{
    if (b.trace != INVALID_HANDLE_VALUE)
        CloseHandle(b.trace);
    b.trace = INVALID_HANDLE_VALUE;
}

void traceLine(Bridge &b, const char *format, ...)
{
    if (b.trace == INVALID_HANDLE_VALUE)
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 2, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (n > int(sizeof line) - 3)
        n = int(sizeof line) - 3;
    line[n++] = '\r';
    line[n++] = '\n';
    writeLine(b, line, n);
}

void traceRequest(Bridge &b, const void *requestBlock, uint8_t status, const char *note)
{
    if (b.trace == INVALID_HANDLE_VALUE)
        return;
    const SRB_Header &h = *static_cast<const SRB_Header *>(requestBlock);
    const char *why = note && note[0] ? note : nullptr;
    if (h.SRB_Cmd == SC_HA_INQUIRY) {
        traceLine(b, "HA_INQUIRY ha=%u status=%02X%s%s%s", h.SRB_HaId, status, why ? " (" : "", why ? why : "",
                  why ? ")" : "");
    } else if (h.SRB_Cmd == SC_GET_DEV_TYPE) {
        const SRB_GDEVBlock &g = *static_cast<const SRB_GDEVBlock *>(requestBlock);
        traceLine(b, "GET_DEV_TYPE ha=%u target=%u lun=%u status=%02X%s%s%s", g.SRB_HaId, g.SRB_Target, g.SRB_Lun,
                  status, why ? " (" : "", why ? why : "", why ? ")" : "");
    } else if (h.SRB_Cmd == SC_EXEC_SCSI_CMD) {
        const SRB_ExecSCSICmd &e = *static_cast<const SRB_ExecSCSICmd *>(requestBlock);
        char cdb[16 * 3 + 1] = "";
        unsigned cdbLength = e.SRB_CDBLen <= 16 ? e.SRB_CDBLen : 16;
        char *p = cdb;
        for (unsigned i = 0; i < cdbLength; i++)
            p += snprintf(p, size_t(cdb + sizeof cdb - p), i ? " %02X" : "%02X", e.CDBByte[i]);
        char sense[24] = "";
        if (status == SS_ERR && e.SRB_TargStat == 0x02)
            snprintf(sense, sizeof sense, " sense=%X/%02X", e.SenseArea[2] & 0x0F, e.SenseArea[12]);
        traceLine(b, "EXEC ha=%u target=%u lun=%u flags=%02X cdb=%s len=%lu status=%02X scsi=%02X%s%s%s%s",
                  e.SRB_HaId, e.SRB_Target, e.SRB_Lun, e.SRB_Flags, cdb, (unsigned long)e.SRB_BufLen, status,
                  e.SRB_TargStat, sense, why ? " (" : "", why ? why : "", why ? ")" : "");
    } else {
        traceLine(b, "COMMAND %02X ha=%u status=%02X", h.SRB_Cmd, h.SRB_HaId, status);
    }
}
