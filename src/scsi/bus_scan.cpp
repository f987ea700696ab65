/* The bus scan: asks each adapter for its identity and probes its targets on logical unit 0,
   giving a drive that is getting ready the time it needs (drive_state.h). */
#include "bus_scan.h"

#include <cstdio>
#include <cstring>
#include "app_state.h"
#include "messages.h"
#include "aspi.h"
#include "drive_state.h"
#include "scan_entries.h"

namespace {

constexpr int kTargetsWhenUnreported = 8;

/* The working space of one scan: its three request blocks and the reply buffer. */
struct ScanRequests {
    SendASPI32CommandFn send;
    SRB_HAInquiry adapterInquiry;
    SRB_ExecSCSICmd command;
    SRB_GDEVBlock deviceType;
    uint8_t reply[kInquiryReplyLength];
};

void prepareCommand(ScanRequests &scan, uint8_t adapter, uint8_t target, uint32_t replyLength,
                    const uint8_t *cdb, uint8_t cdbLength)
{
    SRB_ExecSCSICmd &request = scan.command;
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_HaId = adapter;
    request.SRB_Flags = SRB_DIR_IN;
    request.SRB_Target = target;
    request.SRB_Lun = 0;
    request.SRB_BufLen = replyLength;
    request.SRB_BufPointer = scan.reply;
    request.SRB_SenseLen = kSenseLength;
    request.SRB_CDBLen = cdbLength;
    request.SRB_PostProc = nullptr;
    std::memcpy(request.CDBByte, cdb, cdbLength);
    /* A short reply must not leave the previous device's bytes behind. */
    std::memset(scan.reply, 0, sizeof scan.reply);
}

uint8_t askDeviceType(ScanRequests &scan, uint8_t adapter, uint8_t target)
{
    SRB_GDEVBlock &request = scan.deviceType;
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_GET_DEV_TYPE;
    request.SRB_HaId = adapter;
    request.SRB_Target = target;
    request.SRB_Lun = 0;
    sendAndWait(scan.send, &request);
    return request.SRB_DeviceType;   /* 0 after a failed request: the block was cleared */
}

/* The arrow cursor comes back with the next mouse move after the scan; the wait one shows
   meanwhile, since no message is handled while the scan runs. */
class WaitCursor {
public:
    WaitCursor() : previous_(SetCursor(LoadCursorA(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

private:
    HCURSOR previous_;
};

uint8_t sendReadCapacity(ScanRequests &scan, uint8_t adapter, uint8_t target)
{
    prepareCommand(scan, adapter, target, kReadCapacityReplyLength, kReadCapacityCdb, sizeof kReadCapacityCdb);
    return sendAndWait(scan.send, &scan.command);
}

/*
 * READ CAPACITY, asked again while the drive says that it will answer: after a unit attention
 * (each report clears one condition, so a few tries), while it becomes ready (waiting with TEST
 * UNIT READY, kReadyBoundMs per device in all), and once after START STOP UNIT for a stopped
 * drive when the user allows it. A drive that answers at once gets the one request.
 */
uint8_t askCapacity(ScanRequests &scan, uint8_t adapter, uint8_t target)
{
    uint8_t status = sendReadCapacity(scan, adapter, target);
    const DWORD begin = GetTickCount();
    int attentions = 0;
    bool started = false;
    while (status != SS_COMP) {
        const DriveCondition condition = classifyDriveCondition(requestOutcome(scan.command, status));
        const DWORD spent = GetTickCount() - begin;
        if (isUnitAttention(condition) && attentions < kAttentionTries) {
            attentions++;
        } else if (condition == DriveCondition::BecomingReady && spent < kReadyBoundMs) {
            WaitCursor cursor;
            waitUntilReady(scan.send, adapter, target, kReadyBoundMs - spent);
        } else if (condition == DriveCondition::NeedsStart && appState.archive.startStoppedDrives && !started) {
            started = true;
            WaitCursor cursor;
            startUnit(scan.send, adapter, target);
        } else {
            break;
        }
        status = sendReadCapacity(scan, adapter, target);
    }
    return status;
}

void probeTarget(ScanRequests &scan, uint8_t adapter, uint8_t target, DeviceRecord &device, bool &capped)
{
    capped = false;
    prepareCommand(scan, adapter, target, kInquiryReplyLength, kInquiryCdb, sizeof kInquiryCdb);
    uint32_t returned = 0;
    uint8_t status = sendAndWait(scan.send, &scan.command, &returned);
    if (returned == SS_NO_DEVICE || status != SS_COMP) {
        writeEmptyEntry(device, target);
        return;
    }

    std::memset(&device, 0, sizeof device);
    writeInquiryLabel(device, target, scan.reply);
    device.removable = (scan.reply[1] & 0x80) ? 1 : 0;   /* before READ CAPACITY overwrites it */
    device.deviceType = askDeviceType(scan, adapter, target);

    status = askCapacity(scan, adapter, target);
    capped = setCapacity(device, status == SS_COMP ? scan.reply : nullptr);
}

void scanAdapter(ScanRequests &scan, uint8_t adapter, AdapterRecord &record)
{
    SRB_HAInquiry &inquiry = scan.adapterInquiry;
    std::memset(&inquiry, 0, sizeof inquiry);
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = adapter;
    sendAndWait(scan.send, &inquiry);   /* a failed inquiry leaves the reply fields zero */

    bool *capped = adapterTable.capacityCapped[adapter];
    record.scsiId = inquiry.HA_SCSI_ID;
    if (record.scsiId < kMaxDevices) {
        writeAdapterEntry(record.devices[record.scsiId], record.scsiId, inquiry.HA_Identifier);
        capped[record.scsiId] = false;
    }
    writeAdapterName(record.name, inquiry.HA_Identifier, adapter);
    record.maxTargets = targetsInUse(inquiry.HA_Unique[3]);

    for (int target = 0; target < record.maxTargets; ++target)
        if (target != record.scsiId)
            probeTarget(scan, adapter, static_cast<uint8_t>(target), record.devices[target], capped[target]);
}

}  // namespace

const uint8_t kInquiryCdb[6] = {SCSI_INQUIRY, 0, 0, 0, kInquiryReplyLength, 0};
const uint8_t kReadCapacityCdb[10] = {SCSI_READ_CAPACITY, 0, 0, 0, 0, 0, 0, 0, 0, 0};

uint8_t targetsInUse(uint8_t reportedTargets)
{
    if (reportedTargets == 0)
        return kTargetsWhenUnreported;
    /* The table has room for target ids 0 to 15 only. */
    return reportedTargets > kMaxDevices ? kMaxDevices : reportedTargets;
}

void writeAdapterEntry(DeviceRecord &device, uint8_t scsiId, const uint8_t identifier[16])
{
    std::memset(&device, 0, sizeof device);
    std::snprintf(device.label, sizeof device.label, "%d: HA %.8s", scsiId,
                  reinterpret_cast<const char *>(identifier));
    device.deviceType = 3;
}

void writeAdapterName(char name[17], const uint8_t identifier[16], int adapter)
{
    /* The identifier need not end in a NUL: keep at most 15 of its characters. */
    char shortIdentifier[16];
    std::memcpy(shortIdentifier, identifier, 15);
    shortIdentifier[15] = '\0';
    char full[32];
    std::snprintf(full, sizeof full, "%s [%d]", shortIdentifier, adapter);
    std::memset(name, 0, 17);
    std::memcpy(name, full, strnlen(full, 16));
}

void writeEmptyEntry(DeviceRecord &device, uint8_t target)
{
    std::memset(&device, 0, sizeof device);
    std::snprintf(device.label, sizeof device.label, "%d: none", target);
    device.deviceType = 31;
}

void writeInquiryLabel(DeviceRecord &device, uint8_t target, const uint8_t reply[kInquiryReplyLength])
{
    /* The text always starts at index 3: after the blank for ids 0 to 9, over it for 10 to 15. */
    std::snprintf(device.label, sizeof device.label, "%d: ", target);
    const char *text = reinterpret_cast<const char *>(reply + 8);
    size_t length = strnlen(text, kInquiryReplyLength - 8);
    std::memcpy(device.label + 3, text, length);
    device.label[3 + length] = '\0';
}

bool setCapacity(DeviceRecord &device, const uint8_t *capacityReply)
{
    device.sectorCount = 0;
    device.sectorSize = 0;
    if (!capacityReply)
        return false;
    auto bigEndian = [](const uint8_t *bytes) {
        return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    };
    uint32_t lastSector = bigEndian(capacityReply);
    uint32_t sectorSize = bigEndian(capacityReply + 4);
    /* A device without a usable sector size gets no capacity: the transfers divide by it. */
    if (sectorSize == 0 || sectorSize > INT32_MAX)
        return false;
    const bool capped = lastSector >= INT32_MAX;   /* FFFFFFFFh too: more than READ CAPACITY(10) can tell */
    device.sectorCount = capped ? INT32_MAX : static_cast<int32_t>(lastSector + 1);
    device.sectorSize = static_cast<int32_t>(sectorSize);
    return capped;
}

int scanBus(HWND owner)
{
    ScanRequests scan;
    scan.send = lookupSendCommand();
    if (!scan.send) {
        showMessage(owner, "Adapter Inquiry did no answer.", "Error", MB_ICONERROR | MB_OK);
        return 0;
    }
    int adapters = appState.adapterCount > kMaxAdapters ? kMaxAdapters : appState.adapterCount;
    for (int adapter = 0; adapter < adapters; ++adapter)
        scanAdapter(scan, static_cast<uint8_t>(adapter), adapterTable.adapters[adapter]);
    return 1;
}
