/* The emulated storage stack behind the bridge's table of Windows calls. Each behaviour names
 * the Microsoft page or driver sample it follows. */
#include "emulated_stack.h"

#include <winioctl.h>
#include <ntddscsi.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

enum class Kind { Port, Unit, Volume };

struct Open {
    Kind kind;
    size_t index;                 /* port number, unit or volume index */
    bool readWrite;
    int instance;                 /* of the unit when it was opened */
};

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

HANDLE refuseOpen(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

const EmulatedPort *portOf(int number)
{
    for (const EmulatedPort &p : emulatedStack().ports)
        if (p.number == number)
            return &p;
    return nullptr;
}

int diskNumber(const EmulatedUnit &u)
{
    int n = -1;
    return sscanf(u.classDevice.c_str(), "PhysicalDrive%d", &n) == 1 ? n : -1;
}

/* FSCTL_LOCK_VOLUME page: a locked volume is accessed only through the handle that locked it,
 * and stays locked until that handle closes. A lock covers the file system it was taken on. */
bool lockCovers(const EmulatedVolume &v)
{
    return v.lockedBy && v.lockedMount == v.mount;
}

bool onUnit(const EmulatedVolume &v, const EmulatedUnit &u)
{
    return std::find(v.units.begin(), v.units.end(), u.name) != v.units.end();
}

const EmulatedUnit *unitOf(const EmulatedVolume &v)
{
    return v.units.empty() ? nullptr : &emulatedStack().unit(v.units[0]);
}

/* A file system mounted on the volume now, from the medium in the drive. */
void mountVolume(EmulatedVolume &v)
{
    v.mounted = true;
    v.mount++;
    if (const EmulatedUnit *u = unitOf(v))
        v.medium = u->medium;
}

HANDLE openDevice(const char *path, DWORD access)
{
    EmulatedStack &s = emulatedStack();
    s.calls++;
    const bool readWrite = (access & (GENERIC_READ | GENERIC_WRITE)) != 0;
    Open open = {Kind::Port, SIZE_MAX, readWrite, 0};
    int n = -1;
    char name[64] = "";
    if (sscanf(path, "\\\\.\\Scsi%d:", &n) == 1 && portOf(n) && portOf(n)->portDevice) {
        open.kind = Kind::Port;
        open.index = size_t(n);
    } else if (sscanf(path, "\\\\.\\%63s", name) == 1 && strchr(name, ':') == nullptr) {
        for (size_t i = 0; i < s.units.size(); i++)
            if (s.units[i].present && s.units[i].classDevice == name)
                open = {Kind::Unit, i, readWrite, s.units[i].instance};
    }
    for (size_t i = 0; i < s.volumes.size() && open.index == SIZE_MAX; i++) {
        const EmulatedVolume &v = s.volumes[i];
        char byLetter[8];
        snprintf(byLetter, sizeof byLetter, "\\\\.\\%c:", v.letter);
        if (v.guid == path || (v.letter && !strcmp(byLetter, path)))
            open = {Kind::Volume, i, readWrite, 0};
    }
    if (open.index == SIZE_MAX)
        return refuseOpen(ERROR_FILE_NOT_FOUND);
    /* Only administrators may open a disk or a port for reading and writing (the pass-through
     * pages: the caller needs read/write access to the device). */
    if (open.readWrite && !s.administrator && open.kind != Kind::Volume)
        return refuseOpen(ERROR_ACCESS_DENIED);
    if (open.kind == Kind::Volume) {
        EmulatedVolume &v = s.volumes[open.index];
        /* Listed by FindNextVolume a moment before, pulled out since. */
        if (v.vanished)
            return refuseOpen(ERROR_FILE_NOT_FOUND);
        /* CreateFile, "Physical Disks and Volumes": an open with no access queries the device
         * without accessing it (no medium needed, no file system, no lock in the way). An open for
         * reading or writing goes through the file system: refused while another handle holds the
         * volume locked (FSCTL_LOCK_VOLUME page), not ready without a medium, and it mounts a
         * dismounted volume again (FSCTL_DISMOUNT_VOLUME page). */
        if (open.readWrite) {
            if (lockCovers(v))
                return refuseOpen(ERROR_ACCESS_DENIED);
            const EmulatedUnit *u = unitOf(v);
            if (u && u->device->noMedium)
                return refuseOpen(ERROR_NOT_READY);
            if (!v.mounted)
                mountVolume(v);
        }
    }
    s.openHandles++;
    return reinterpret_cast<HANDLE>(new Open(open));
}

BOOL closeDevice(HANDLE device)
{
    for (EmulatedVolume &v : emulatedStack().volumes) {
        if (v.lockedBy != device)
            continue;
        /* FSCTL_LOCK_VOLUME page: the lock ends with the handle, and a dismounted volume without
         * a lock may be mounted again by any process at any time: Explorer does it at once and
         * keeps files open on it. */
        if (emulatedStack().explorerMounts && lockCovers(v)) {
            mountVolume(v);
            v.openFiles = true;
        }
        v.lockedBy = nullptr;
    }
    delete reinterpret_cast<Open *>(device);
    emulatedStack().openHandles--;
    return TRUE;
}

BOOL answer(const void *data, DWORD size, void *out, DWORD outSize, DWORD *returned)
{
    if (outSize < size)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(out, data, size);
    *returned = size;
    return TRUE;
}

/* IOCTL_SCSI_GET_INQUIRY_DATA: SCSI_ADAPTER_BUS_INFO, then one SCSI_INQUIRY_DATA chain per bus
 * with each unit's INQUIRY reply and whether a class driver claimed it. */
BOOL inquiryData(int port, void *out, DWORD outSize, DWORD *returned)
{
    const EmulatedPort &p = *portOf(port);
    std::vector<uint8_t> data(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + size_t(p.buses) * sizeof(SCSI_BUS_DATA));
    data[0] = uint8_t(p.buses);
    for (int bus = 0; bus < p.buses; bus++) {
        SCSI_BUS_DATA busData = {0, 7, 0};
        size_t previous = 0;
        for (EmulatedUnit &u : emulatedStack().units) {
            if (u.port != port || u.bus != bus || !u.present)
                continue;
            const size_t at = (data.size() + 7) & ~size_t(7);
            const size_t header = offsetof(SCSI_INQUIRY_DATA, InquiryData);
            data.resize(at + header + 36);
            SCSI_INQUIRY_DATA unit = {uint8_t(bus), u.target, u.lun, !u.classDevice.empty(), 36, 0, {0}};
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
        memcpy(&data[offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + size_t(bus) * sizeof(SCSI_BUS_DATA)], &busData,
               sizeof busData);
    }
    return answer(data.data(), DWORD(data.size()), out, outSize, returned);
}

/* STORAGE_ADAPTER_DESCRIPTOR of a port; a class device forwards the query to its port
 * (classpnp, ClassDeviceControl: IOCTL_STORAGE_QUERY_PROPERTY). Windows 2000 answers with the
 * older descriptor, whose BusType is a BOOLEAN (the structure's page: "BOOLEAN BusType" before
 * Windows XP); what its port drivers put there is not documented: TRUE here, which read as a
 * bus type says SCSI, the inconvenient case. */
BOOL adapterDescriptor(const EmulatedPort &p, void *out, DWORD outSize, DWORD *returned)
{
    STORAGE_ADAPTER_DESCRIPTOR d = {};
    d.Version = d.Size = sizeof d;
    d.MaximumTransferLength = p.maxTransfer;
    d.MaximumPhysicalPages = p.maxPages;
    d.AlignmentMask = p.alignmentMask;
    d.BusType = emulatedStack().windowsVersion < 0x0501 ? TRUE : BYTE(p.busType);
    return answer(&d, sizeof d, out, outSize, returned);
}

/* STORAGE_DEVICE_DESCRIPTOR: the peripheral device type, the bus type and the INQUIRY texts and
 * serial number, each at its offset after the structure. */
BOOL deviceDescriptor(const EmulatedUnit &u, void *out, DWORD outSize, DWORD *returned)
{
    std::vector<char> data(sizeof(STORAGE_DEVICE_DESCRIPTOR));
    auto text = [&](const char *from, size_t length) {
        DWORD at = DWORD(data.size());
        data.insert(data.end(), from, from + length);
        data.push_back('\0');
        return at;
    };
    const char *inquiry = reinterpret_cast<const char *>(u.device->inquiryText);
    STORAGE_DEVICE_DESCRIPTOR d = {};
    d.DeviceType = u.device->type;
    d.RemovableMedia = u.device->removable;
    d.VendorIdOffset = text(inquiry, 8);
    d.ProductIdOffset = text(inquiry + 8, 16);
    d.ProductRevisionOffset = text(inquiry + 24, 4);
    d.SerialNumberOffset = text(u.serial.c_str(), u.serial.size());
    d.BusType = STORAGE_BUS_TYPE(u.busType);
    d.Version = sizeof d;
    d.Size = DWORD(data.size());
    memcpy(data.data(), &d, sizeof d);
    return answer(data.data(), DWORD(std::min<size_t>(data.size(), outSize)), out, outSize, returned);
}

/* IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: one extent per disk; ERROR_MORE_DATA with the number of
 * extents when the buffer holds fewer (its reference page). */
BOOL diskExtents(const EmulatedVolume &v, void *out, DWORD outSize, DWORD *returned)
{
    if (!v.extentsReadable)
        return fail(ERROR_INVALID_FUNCTION);
    if (unitOf(v)->device->noMedium)
        return fail(ERROR_NOT_READY);
    if (outSize < sizeof(VOLUME_DISK_EXTENTS))
        return fail(ERROR_INSUFFICIENT_BUFFER);
    auto *extents = static_cast<VOLUME_DISK_EXTENTS *>(out);
    extents->NumberOfDiskExtents = DWORD(v.units.size());
    DWORD room = DWORD((outSize - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT));
    if (room < v.units.size()) {
        *returned = sizeof(VOLUME_DISK_EXTENTS);
        return fail(ERROR_MORE_DATA);
    }
    for (size_t i = 0; i < v.units.size(); i++) {
        extents->Extents[i] = {};
        extents->Extents[i].DiskNumber = DWORD(diskNumber(emulatedStack().unit(v.units[i])));
    }
    *returned = DWORD(offsetof(VOLUME_DISK_EXTENTS, Extents) + v.units.size() * sizeof(DISK_EXTENT));
    return TRUE;
}

BOOL volumeControl(const Open &open, HANDLE handle, DWORD code, void *out, DWORD outSize, DWORD *returned)
{
    EmulatedVolume &v = emulatedStack().volumes[open.index];
    switch (code) {
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
        return diskExtents(v, out, outSize, returned);
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
        /* classpnp (ClassDeviceControl) answers the device type and number of the device under
         * the volume: a CD's volume is a CD-ROM device, not a disk; a floppy's is its floppy
         * number with the disk device type (the sfloppy sample creates a FILE_DEVICE_DISK with
         * FILE_FLOPPY_DISKETTE). */
        if (!v.numberReadable || v.units.size() != 1)
            return fail(ERROR_INVALID_FUNCTION);
        const EmulatedUnit &u = emulatedStack().unit(v.units[0]);
        int n = -1;
        STORAGE_DEVICE_NUMBER number = {FILE_DEVICE_DISK, DWORD(diskNumber(u)), 1};
        if (sscanf(u.classDevice.c_str(), "CdRom%d", &n) == 1)
            number = {FILE_DEVICE_CD_ROM, DWORD(n), 0};
        if (sscanf(u.classDevice.c_str(), "Floppy%d", &n) == 1)
            number = {FILE_DEVICE_DISK, DWORD(n), 0};
        return answer(&number, sizeof number, out, outSize, returned);
    }
    case FSCTL_LOCK_VOLUME:
        /* FSCTL_LOCK_VOLUME page: fails while files are open on the volume (and on the system
         * volume or one with a page file, which always has them). */
        if (!open.readWrite || v.openFiles || lockCovers(v))
            return fail(ERROR_ACCESS_DENIED);
        v.lockedBy = handle;
        v.lockedMount = v.mount;
        v.locks++;
        return TRUE;
    case FSCTL_DISMOUNT_VOLUME:
        if (!open.readWrite || (lockCovers(v) && v.lockedBy != handle))
            return fail(ERROR_ACCESS_DENIED);
        v.mounted = false;
        return TRUE;
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
}

/* A write reaching a disk under a mounted file system that nobody locked: the disk class
 * driver passes it on (classpnp, ClassDeviceControl: a pass-through goes to the port after a
 * length check only), and the file system then caches stale sectors or writes over them. */
void noteDamage(const EmulatedUnit &u, const uint8_t *cdb)
{
    if (cdb[0] != 0x2A)
        return;
    for (EmulatedVolume &v : emulatedStack().volumes)
        if (onUnit(v, u) && v.mounted && !lockCovers(v))
            v.damagingWrites++;
}

BOOL passThrough(const Open &open, void *in, DWORD inSize, DWORD outSize)
{
    EmulatedStack &s = emulatedStack();
    if (!open.readWrite)
        return fail(ERROR_ACCESS_DENIED);
    if (inSize < sizeof(SCSI_PASS_THROUGH_DIRECT) || outSize < sizeof(SCSI_PASS_THROUGH_DIRECT))
        return fail(ERROR_INVALID_PARAMETER);
    auto &sptd = *static_cast<SCSI_PASS_THROUGH_DIRECT *>(in);
    if (sptd.Length != sizeof sptd || sptd.CdbLength > 16 || sptd.SenseInfoOffset + sptd.SenseInfoLength > inSize)
        return fail(ERROR_INVALID_PARAMETER);
    /* The port drivers take a TimeOutValue of 1 second to 30 hours and refuse any other. */
    if (sptd.TimeOutValue == 0 || sptd.TimeOutValue > 30 * 60 * 60)
        return fail(ERROR_INVALID_PARAMETER);
    EmulatedUnit *unit = nullptr;
    if (open.kind == Kind::Unit) {
        unit = &s.units[open.index];
        /* classpnp (ClassDeviceControlDispatch) fails every request of a removed device with
         * STATUS_DEVICE_DOES_NOT_EXIST; a drive plugged in again is a new device object. */
        if (!unit->present || unit->instance != open.instance)
            return fail(ERROR_DEV_NOT_EXIST);
    } else {
        for (EmulatedUnit &u : s.units)
            if (u.present && u.port == int(open.index) && u.bus == sptd.PathId && u.target == sptd.TargetId &&
                u.lun == sptd.Lun)
                unit = &u;
        if (!unit)
            return fail(ERROR_SEM_TIMEOUT);   /* nothing answers the selection */
        /* IOCTL_SCSI_PASS_THROUGH page: Storport fails a pass-through from user mode to a unit a
         * class driver claimed with STATUS_INVALID_DEVICE_REQUEST; SCSI Port does not check. */
        if (!unit->classDevice.empty() && portOf(unit->port)->model == PortModel::Storport)
            return fail(ERROR_INVALID_FUNCTION);
    }
    if (unit->failWith)
        return fail(unit->failWith);
    /* SCSI_PASS_THROUGH_DIRECT: the buffer must be aligned as the adapter needs, and fit its
     * MaximumTransferLength and MaximumPhysicalPages (STORAGE_ADAPTER_DESCRIPTOR). */
    const EmulatedPort &port = *portOf(unit->port);
    const uintptr_t at = reinterpret_cast<uintptr_t>(sptd.DataBuffer);
    const uint64_t pages = sptd.DataTransferLength ? (at % 4096 + uint64_t(sptd.DataTransferLength) + 4095) / 4096 : 0;
    if ((at & port.alignmentMask) || sptd.DataTransferLength > port.maxTransfer ||
        (port.maxPages > 0 && pages > port.maxPages))
        return fail(ERROR_INVALID_PARAMETER);
    /* TimeOutValue: how long the port lets the request run before it times it out. */
    unit->lastTimeout = sptd.TimeOutValue;
    if (unit->secondsPerCommand > sptd.TimeOutValue)
        return fail(ERROR_SEM_TIMEOUT);
    unit->opcodes.push_back(sptd.Cdb[0]);
    TargetResult r;
    if (unit->pendingAttention) {
        /* The first command after a medium change or a reset that nobody met yet. */
        r.scsiStatus = kScsiCheckCondition;
        buildSense(r.sense, kSenseUnitAttention, unit->pendingAttention);
        unit->pendingAttention = 0;
    } else if (sptd.Cdb[0] == 0x03) {
        /* REQUEST SENSE (SPC): the sense data the device held since its last CHECK CONDITION,
         * else NO SENSE. */
        uint8_t none[kFixedSenseLength];
        buildSense(none, 0, 0);
        const uint8_t *sense = unit->senseHeld ? unit->heldSense : none;
        r.transferred = std::min<uint32_t>({sptd.DataTransferLength, uint32_t(kFixedSenseLength), sptd.Cdb[4]});
        memcpy(sptd.DataBuffer, sense, r.transferred);
        unit->senseHeld = false;
    } else {
        DataDirection direction = sptd.DataIn == SCSI_IOCTL_DATA_IN    ? DataDirection::In
                                  : sptd.DataIn == SCSI_IOCTL_DATA_OUT ? DataDirection::Out
                                                                       : DataDirection::Unspecified;
        r = runTargetCommand(*unit->device, {sptd.Cdb, sptd.CdbLength, direction,
                                             static_cast<uint8_t *>(sptd.DataBuffer), sptd.DataTransferLength});
        if (r.faultStatus)
            return fail(ERROR_IO_DEVICE);
        if (r.scsiStatus == kScsiGood)
            noteDamage(*unit, sptd.Cdb);
    }
    sptd.ScsiStatus = r.scsiStatus;
    /* SCSI_PASS_THROUGH_DIRECT page: after an underrun DataTransferLength holds what moved. */
    sptd.DataTransferLength = r.transferred;
    if (r.scsiStatus == kScsiCheckCondition) {
        /* Autosense: the port returns the sense data, as much as it got (SenseInfoLength says how
         * much). Without it the device keeps the sense data for a REQUEST SENSE. */
        const uint8_t got = unit->autosense ? std::min<uint8_t>(unit->autosenseLength, kFixedSenseLength) : 0;
        sptd.SenseInfoLength = std::min(sptd.SenseInfoLength, got);
        memcpy(static_cast<uint8_t *>(in) + sptd.SenseInfoOffset, r.sense, sptd.SenseInfoLength);
        unit->senseHeld = !unit->autosense;
        memcpy(unit->heldSense, r.sense, sizeof unit->heldSense);
    } else {
        sptd.SenseInfoLength = 0;
    }
    return TRUE;
}

/* IOCTL_DISK_GET_DRIVE_LAYOUT_EX: the partition table, GPT or MBR; a disk without one is RAW. */
BOOL driveLayout(const EmulatedUnit &u, void *out, DWORD outSize, DWORD *returned)
{
    const size_t count = u.gptPartitions.size() + u.mbrPartitions.size();
    const size_t size = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + count * sizeof(PARTITION_INFORMATION_EX);
    if (outSize < size)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    memset(out, 0, size);
    auto &layout = *static_cast<DRIVE_LAYOUT_INFORMATION_EX *>(out);
    layout.PartitionStyle = !u.gptPartitions.empty() ? PARTITION_STYLE_GPT
                            : !u.mbrPartitions.empty() ? PARTITION_STYLE_MBR
                                                       : PARTITION_STYLE_RAW;
    layout.PartitionCount = DWORD(count);
    size_t i = 0;
    for (const GUID &type : u.gptPartitions) {
        layout.PartitionEntry[i].PartitionStyle = PARTITION_STYLE_GPT;
        layout.PartitionEntry[i++].Gpt.PartitionType = type;
    }
    for (uint8_t type : u.mbrPartitions) {
        layout.PartitionEntry[i].PartitionStyle = PARTITION_STYLE_MBR;
        layout.PartitionEntry[i++].Mbr.PartitionType = type;
    }
    *returned = DWORD(size);
    return TRUE;
}

/* IOCTL_STORAGE_CHECK_VERIFY (its reference page, and classpnp's ClassInterpretSenseInfo): read
 * access needed; a TEST UNIT READY goes to the drive. A unit attention it meets, a reset as much
 * as a medium change, counts as a media change; a volume mounted on the drive is then verified
 * by its file system (DO_VERIFY_VOLUME), which mounts the medium now in the drive, and the request
 * fails (STATUS_VERIFY_REQUIRED; STATUS_IO_DEVICE_ERROR when nothing is mounted). No medium: not
 * ready. Otherwise the count. */
BOOL checkVerify(const Open &open, EmulatedUnit &u, void *out, DWORD outSize, DWORD *returned)
{
    if (!open.readWrite)
        return fail(ERROR_ACCESS_DENIED);
    if (u.device->noMedium)
        return fail(ERROR_NOT_READY);
    if (u.pendingAttention) {
        u.pendingAttention = 0;
        u.mediaChanges++;
        bool mounted = false;
        for (EmulatedVolume &v : emulatedStack().volumes)
            if (onUnit(v, u) && v.mounted) {
                mounted = true;
                if (v.medium != u.medium)
                    mountVolume(v);
            }
        return fail(mounted ? ERROR_MEDIA_CHANGED : ERROR_IO_DEVICE);
    }
    return answer(&u.mediaChanges, sizeof u.mediaChanges, out, outSize, returned);
}

BOOL unitControl(const Open &open, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    EmulatedUnit &u = emulatedStack().units[open.index];
    if (!u.present || u.instance != open.instance)
        return fail(ERROR_DEV_NOT_EXIST);
    switch (code) {
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return passThrough(open, in, inSize, outSize);
    case IOCTL_SCSI_GET_ADDRESS: {
        /* Documented for class drivers and port PDOs; USB and 1394 drivers may answer nothing, or
         * an address numbered their own way. */
        if (!u.answersAddress)
            return fail(ERROR_INVALID_FUNCTION);
        SCSI_ADDRESS address = {sizeof address, uint8_t(u.port), u.bus, u.target, u.lun};
        if (u.answersPort >= 0)
            address = {sizeof address, uint8_t(u.answersPort), u.answersBus, u.answersTarget, u.lun};
        return answer(&address, sizeof address, out, outSize, returned);
    }
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX:
        return driveLayout(u, out, outSize, returned);
    case IOCTL_STORAGE_QUERY_PROPERTY: {
        const auto *query = static_cast<const STORAGE_PROPERTY_QUERY *>(in);
        if (inSize < sizeof *query)
            return fail(ERROR_INVALID_PARAMETER);
        if (query->PropertyId == StorageDeviceProperty)
            return deviceDescriptor(u, out, outSize, returned);
        if (query->PropertyId == StorageAdapterProperty)
            return adapterDescriptor(*portOf(u.port), out, outSize, returned);
        return fail(ERROR_INVALID_FUNCTION);
    }
    case IOCTL_STORAGE_CHECK_VERIFY:
        return checkVerify(open, u, out, outSize, returned);
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
}

BOOL deviceControl(HANDLE device, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    const Open &open = *reinterpret_cast<Open *>(device);
    *returned = 0;
    emulatedStack().calls++;
    if (open.kind == Kind::Volume)
        return volumeControl(open, device, code, out, outSize, returned);
    if (open.kind == Kind::Unit)
        return unitControl(open, code, in, inSize, out, outSize, returned);
    const EmulatedPort &port = *portOf(int(open.index));
    switch (code) {
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return passThrough(open, in, inSize, outSize);
    case IOCTL_SCSI_GET_INQUIRY_DATA:
        return inquiryData(port.number, out, outSize, returned);
    case IOCTL_SCSI_GET_CAPABILITIES: {
        IO_SCSI_CAPABILITIES caps = {sizeof(IO_SCSI_CAPABILITIES), port.maxTransfer, port.maxPages, 0,
                                     port.alignmentMask, FALSE, FALSE, FALSE};
        return answer(&caps, sizeof caps, out, outSize, returned);
    }
    case IOCTL_STORAGE_QUERY_PROPERTY:
        if (inSize < sizeof(STORAGE_PROPERTY_QUERY) ||
            static_cast<const STORAGE_PROPERTY_QUERY *>(in)->PropertyId != StorageAdapterProperty)
            return fail(ERROR_INVALID_FUNCTION);
        return adapterDescriptor(port, out, outSize, returned);
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
}

/* RegQueryValueEx: ERROR_MORE_DATA when the buffer is too small (its reference page). */
LONG readMachineValue(const char *key, const char *name, char *out, DWORD *size)
{
    const EmulatedStack &s = emulatedStack();
    std::string value;
    int port = -1;
    if (sscanf(key, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d", &port) == 1 && portOf(port) && !strcmp(name, "Driver"))
        value = std::string(portOf(port)->driver) + '\0';
    else if (strstr(key, "Memory Management") && !strcmp(name, "PagingFiles") && !s.pagingFiles.empty())
        value = s.pagingFiles + '\0';
    else if (strstr(key, "Memory Management") && !strcmp(name, "ExistingPageFiles") && !s.existingPageFiles.empty())
        value = s.existingPageFiles + '\0';
    else if (!strcmp(key, "SYSTEM\\Setup") && !strcmp(name, "SystemPartition") && !s.systemPartition.empty())
        value = s.systemPartition + '\0';
    else
        return ERROR_FILE_NOT_FOUND;
    if (value.size() > *size) {
        *size = DWORD(value.size());
        return ERROR_MORE_DATA;
    }
    memcpy(out, value.data(), value.size());
    *size = DWORD(value.size());
    return ERROR_SUCCESS;
}

UINT systemDirectory(char *out, UINT size)
{
    return UINT(snprintf(out, size, "%s", emulatedStack().systemDirectory.c_str()));
}

/* FindFirstVolume/FindNextVolume: every volume, with or without a drive letter. */
void listVolumes(std::vector<std::string> &paths)
{
    emulatedStack().volumeListings++;
    emulatedStack().calls++;
    paths.clear();
    for (const EmulatedVolume &v : emulatedStack().volumes)
        paths.push_back(v.guid);
}

/* QueryDosDevice on "Volume{...}" or "A:": the volume's NT device name. */
bool volumeDeviceName(const char *volume, char *out, DWORD size)
{
    for (const EmulatedVolume &v : emulatedStack().volumes) {
        char byLetter[8];
        snprintf(byLetter, sizeof byLetter, "\\\\.\\%c:", v.letter);
        if (v.guid == volume || (v.letter && !strcmp(byLetter, volume)))
            return snprintf(out, size, "%s", v.device.c_str()) < int(size);
    }
    return false;
}

void tellUser(const char *text, const char *)
{
    emulatedStack().toldUser.push_back(text);
}

unsigned windowsVersion()
{
    return emulatedStack().windowsVersion;
}

const WindowsCalls kEmulated = {openDevice, deviceControl, closeDevice, readMachineValue, systemDirectory,
                                listVolumes, volumeDeviceName, tellUser, windowsVersion};

}  // namespace

EmulatedUnit &EmulatedStack::unit(const std::string &name)
{
    for (EmulatedUnit &u : units)
        if (u.name == name)
            return u;
    throw std::runtime_error("no unit " + name);
}

EmulatedVolume &EmulatedStack::volume(const std::string &guid)
{
    for (EmulatedVolume &v : volumes)
        if (v.guid == guid)
            return v;
    throw std::runtime_error("no volume " + guid);
}

EmulatedStack &emulatedStack()
{
    static EmulatedStack stack;
    return stack;
}

const WindowsCalls &emulatedWindowsCalls()
{
    return kEmulated;
}

/* A new medium. The class driver counts the change when its media change detection sees it
 * (classpnp autorun.c polls removable media) and has the file system verify the volume, which
 * then mounts what is on the new medium. Otherwise the drive's unit attention waits for the next
 * command, which a pass-through passes back to its caller without the class driver looking at it,
 * and a file system mounted from the old medium stays mounted with its cached metadata. */
void swapMedium(EmulatedUnit &unit, const std::string &image, bool classNotices)
{
    closeImage(*unit.device);
    unit.device->image = image;
    std::string error;
    openImage(*unit.device, error);
    unit.medium++;
    if (!classNotices) {
        unit.pendingAttention = kAscMediumMayHaveChanged;
        return;
    }
    unit.mediaChanges++;
    for (EmulatedVolume &v : emulatedStack().volumes)
        if (onUnit(v, unit))
            mountVolume(v);
}

/* SAM: after a reset every logical unit reports a unit attention (29h) to its next command. The
 * class driver counts it as a media change when one of its own commands meets it (classpnp's
 * ClassInterpretSenseInfo counts every unit attention). */
void resetBus(int port, uint8_t bus, bool classNotices)
{
    constexpr uint8_t kAscReset = 0x29;
    for (EmulatedUnit &u : emulatedStack().units) {
        if (u.port != port || u.bus != bus)
            continue;
        if (classNotices)
            u.mediaChanges++;
        else if (!u.pendingAttention)
            u.pendingAttention = kAscReset;
    }
}

void plugAgain(EmulatedUnit &unit, const std::string &classDevice)
{
    unit.instance++;
    unit.classDevice = classDevice;
}

bool staleMount(const EmulatedVolume &v)
{
    const EmulatedUnit *u = unitOf(v);
    return v.mounted && u && v.medium != u->medium;
}
