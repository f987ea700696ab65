/* The emulated storage stack behind the bridge's table of Windows calls. */
#include "emulated_stack.h"

#include <winioctl.h>
#include <ntddscsi.h>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

enum class Kind { Port, Disk, Volume };

struct Open {
    Kind kind;
    int index;                    /* port number, disk number or volume index */
    bool readWrite;
};

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

HANDLE openDevice(const char *path, DWORD access)
{
    EmulatedStack &s = emulatedStack();
    Open open = {Kind::Port, -1, (access & (GENERIC_READ | GENERIC_WRITE)) != 0};
    int n = -1;
    char letter = 0;
    if (sscanf(path, "\\\\.\\Scsi%d:", &n) == 1 &&
        std::any_of(s.ports.begin(), s.ports.end(), [&](const EmulatedPort &p) { return p.number == n; }))
        open = {Kind::Port, n, open.readWrite};
    else if (sscanf(path, "\\\\.\\PhysicalDrive%d", &n) == 1 &&
             std::any_of(s.units.begin(), s.units.end(), [&](const EmulatedUnit &u) { return u.disk == n; }))
        open = {Kind::Disk, n, open.readWrite};
    else if (sscanf(path, "\\\\.\\%c:", &letter) == 1)
        for (size_t i = 0; i < s.volumes.size(); i++)
            if (s.volumes[i].letter == letter)
                open = {Kind::Volume, int(i), open.readWrite};
    if (open.index < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (open.readWrite && !s.administrator && open.kind != Kind::Volume) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    s.openHandles++;
    return reinterpret_cast<HANDLE>(new Open(open));
}

BOOL closeDevice(HANDLE device)
{
    delete reinterpret_cast<Open *>(device);
    emulatedStack().openHandles--;
    return TRUE;
}

const EmulatedPort *portOf(int number)
{
    for (const EmulatedPort &p : emulatedStack().ports)
        if (p.number == number)
            return &p;
    return nullptr;
}

/* SCSI_ADAPTER_BUS_INFO, then one SCSI_INQUIRY_DATA chain per bus, each unit's INQUIRY reply. */
BOOL inquiryData(int port, void *out, DWORD outSize, DWORD *returned)
{
    const EmulatedPort &p = *portOf(port);
    std::vector<uint8_t> data(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + p.buses * sizeof(SCSI_BUS_DATA));
    data[0] = uint8_t(p.buses);
    for (int bus = 0; bus < p.buses; bus++) {
        SCSI_BUS_DATA busData = {0, 7, 0};
        size_t previous = 0;
        for (EmulatedUnit &u : emulatedStack().units) {
            if (u.port != port || u.bus != bus)
                continue;
            const size_t at = (data.size() + 7) & ~size_t(7);
            const size_t header = offsetof(SCSI_INQUIRY_DATA, InquiryData);
            data.resize(at + header + 36);
            SCSI_INQUIRY_DATA unit = {uint8_t(bus), u.target, 0, u.disk >= 0, 36, 0, {0}};
            memcpy(&data[at], &unit, header);
            const uint8_t cdb[6] = {0x12, 0, 0, 0, 36, 0};
            runTargetCommand(*u.device, {cdb, 6, DataDirection::In, &data[at + header], 36});
            if (previous)
                reinterpret_cast<SCSI_INQUIRY_DATA *>(&data[previous])->NextInquiryDataOffset = ULONG(at);
            else
                busData.InquiryDataOffset = ULONG(at);
            busData.NumberOfLogicalUnits++;
            previous = at;
        }
        memcpy(&data[offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * sizeof(SCSI_BUS_DATA)], &busData, sizeof busData);
    }
    if (outSize < data.size())
        return fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(out, data.data(), data.size());
    *returned = DWORD(data.size());
    return TRUE;
}

/* Writes to a disk are refused while a volume on it is mounted, as Windows does. */
bool mountedVolumeOn(int disk)
{
    for (const EmulatedVolume &v : emulatedStack().volumes)
        if (v.disk == disk && !v.dismounted)
            return true;
    return false;
}

BOOL passThrough(const Open &open, void *in, DWORD inSize, DWORD outSize)
{
    if (!open.readWrite)
        return fail(ERROR_ACCESS_DENIED);
    if (inSize < sizeof(SCSI_PASS_THROUGH_DIRECT) || outSize < sizeof(SCSI_PASS_THROUGH_DIRECT))
        return fail(ERROR_INVALID_PARAMETER);
    auto &sptd = *static_cast<SCSI_PASS_THROUGH_DIRECT *>(in);
    if (sptd.Length != sizeof sptd || sptd.CdbLength > 16 || sptd.SenseInfoOffset + sptd.SenseInfoLength > inSize)
        return fail(ERROR_INVALID_PARAMETER);
    EmulatedUnit *unit = nullptr;
    for (EmulatedUnit &u : emulatedStack().units)
        if (open.kind == Kind::Disk ? u.disk == open.index
                                    : u.port == open.index && u.bus == sptd.PathId && u.target == sptd.TargetId)
            unit = &u;
    if (!unit || sptd.Lun != 0)
        return fail(ERROR_SEM_TIMEOUT);   /* selection timeout */
    if (open.kind == Kind::Port && unit->disk >= 0)
        return fail(ERROR_INVALID_FUNCTION);   /* claimed: STATUS_INVALID_DEVICE_REQUEST */
    const EmulatedPort &port = *portOf(unit->port);
    if ((reinterpret_cast<uintptr_t>(sptd.DataBuffer) & port.alignmentMask) || sptd.DataTransferLength > port.maxTransfer)
        return fail(ERROR_INVALID_PARAMETER);
    if (open.kind == Kind::Disk && sptd.Cdb[0] == 0x2A && mountedVolumeOn(unit->disk))
        return fail(ERROR_ACCESS_DENIED);
    DataDirection direction = sptd.DataIn == SCSI_IOCTL_DATA_IN    ? DataDirection::In
                              : sptd.DataIn == SCSI_IOCTL_DATA_OUT ? DataDirection::Out
                                                                   : DataDirection::Unspecified;
    TargetResult r = runTargetCommand(*unit->device, {sptd.Cdb, sptd.CdbLength, direction,
                                                      static_cast<uint8_t *>(sptd.DataBuffer), sptd.DataTransferLength});
    if (r.faultStatus)
        return fail(ERROR_IO_DEVICE);
    sptd.ScsiStatus = r.scsiStatus;
    sptd.DataTransferLength = r.transferred;
    if (r.scsiStatus == kScsiCheckCondition) {
        sptd.SenseInfoLength = uint8_t(std::min<size_t>(sptd.SenseInfoLength, sizeof r.sense));
        memcpy(static_cast<uint8_t *>(in) + sptd.SenseInfoOffset, r.sense, sptd.SenseInfoLength);
    }
    return TRUE;
}

BOOL deviceControl(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    const Open &open = *reinterpret_cast<Open *>(device);
    EmulatedStack &s = emulatedStack();
    *returned = 0;
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT && open.kind != Kind::Volume)
        return passThrough(open, in, inSize, outSize);
    if (code == IOCTL_SCSI_GET_INQUIRY_DATA && open.kind == Kind::Port)
        return inquiryData(open.index, out, outSize, returned);
    if (code == IOCTL_SCSI_GET_CAPABILITIES && open.kind == Kind::Port && outSize >= sizeof(IO_SCSI_CAPABILITIES)) {
        IO_SCSI_CAPABILITIES caps = {sizeof caps, portOf(open.index)->maxTransfer, 0, 0,
                                     portOf(open.index)->alignmentMask, FALSE, FALSE, FALSE};
        memcpy(out, &caps, sizeof caps);
        *returned = sizeof caps;
        return TRUE;
    }
    if (code == IOCTL_SCSI_GET_ADDRESS && open.kind == Kind::Disk && outSize >= sizeof(SCSI_ADDRESS)) {
        for (const EmulatedUnit &u : s.units)
            if (u.disk == open.index) {
                SCSI_ADDRESS address = {sizeof address, uint8_t(u.port), u.bus, u.target, 0};
                memcpy(out, &address, sizeof address);
                *returned = sizeof address;
            }
        return TRUE;
    }
    if (open.kind == Kind::Volume) {
        EmulatedVolume &v = s.volumes[size_t(open.index)];
        if (code == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS && outSize >= sizeof(VOLUME_DISK_EXTENTS)) {
            VOLUME_DISK_EXTENTS extents = {1, {{DWORD(v.disk), {}, {}}}};
            memcpy(out, &extents, sizeof extents);
            *returned = sizeof extents;
            return TRUE;
        }
        if (code == FSCTL_LOCK_VOLUME) {
            if (!open.readWrite || v.inUse)
                return fail(ERROR_ACCESS_DENIED);
            return v.locked = true;
        }
        if (code == FSCTL_DISMOUNT_VOLUME && open.readWrite)
            return v.dismounted = true;
    }
    return fail(ERROR_INVALID_FUNCTION);
}

LONG readMachineValue(const char *key, const char *name, char *out, DWORD *size)
{
    std::string value;
    int port = -1;
    if (sscanf(key, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d", &port) == 1 && portOf(port) && !strcmp(name, "Driver"))
        value = std::string(portOf(port)->driver) + '\0';
    else if (strstr(key, "Memory Management") && !strcmp(name, "PagingFiles"))
        value = emulatedStack().pagingFiles + '\0';
    else
        return ERROR_FILE_NOT_FOUND;
    if (value.size() > *size)
        return ERROR_MORE_DATA;
    memcpy(out, value.data(), value.size());
    *size = DWORD(value.size());
    return ERROR_SUCCESS;
}

UINT systemDirectory(char *out, UINT size)
{
    return UINT(snprintf(out, size, "C:\\WINDOWS\\system32"));
}

int listVolumes(char (*paths)[MAX_PATH], int max)
{
    int count = 0;
    for (const EmulatedVolume &v : emulatedStack().volumes)
        if (count < max)
            snprintf(paths[count++], MAX_PATH, "\\\\.\\%c:", v.letter);
    return count;
}

void tellUser(const char *text, const char *)
{
    emulatedStack().toldUser.push_back(text);
}

const WindowsCalls kEmulated = {openDevice, deviceControl, closeDevice, readMachineValue, systemDirectory,
                                listVolumes, tellUser};

}  // namespace

EmulatedStack &emulatedStack()
{
    static EmulatedStack stack;
    return stack;
}

const WindowsCalls &emulatedWindowsCalls()
{
    return kEmulated;
}
