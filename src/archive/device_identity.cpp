/* The identity of a device: from the device table, or asked of the device now. */
#include "archive.h"

#include <cstring>
#include "drive_state.h"
#include "scan_entries.h"

namespace {

/* The INQUIRY text of a device entry's label ("n: " and the text from index 3, see the bus
   scan), fit to be written into text files and compared with them: no control bytes, no quotes. */
void takeInquiryText(const DeviceRecord &record, DeviceIdentity &device)
{
    size_t length = strnlen(record.label + 3, sizeof record.label - 3);
    std::memset(device.inquiry, 0, sizeof device.inquiry);
    std::memcpy(device.inquiry, record.label + 3, length < 28 ? length : 28);
    for (char &c : device.inquiry)
        if (c && (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == 0x7F))
            c = '?';
}

/* One command with a reply of replyLength bytes into reply. */
uint8_t ask(SendASPI32CommandFn sendCommand, DeviceAddress device, const uint8_t *cdb, uint8_t cdbLength,
            uint8_t *reply, uint32_t replyLength, RequestOutcome &outcome)
{
    SRB_ExecSCSICmd request;
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_HaId = device.adapter;
    request.SRB_Flags = SRB_DIR_IN;
    request.SRB_Target = device.target;
    request.SRB_BufLen = replyLength;
    request.SRB_BufPointer = reply;
    request.SRB_SenseLen = kSenseLength;
    request.SRB_CDBLen = cdbLength;
    std::memcpy(request.CDBByte, cdb, cdbLength);
    uint8_t status = sendAndWait(sendCommand, &request);
    outcome = RequestOutcome{status, request.SRB_HaStat, request.SRB_TargStat, 0, 0, 0};
    if (status == SS_ERR)
        readSenseData(request.SenseArea, kSenseLength, outcome);
    return status;
}

}  // namespace

DeviceIdentity identifyDevice(int adapter, int target)
{
    const DeviceRecord &record = adapterTable.adapters[adapter % kMaxAdapters].devices[target % kMaxDevices];
    DeviceIdentity device = {};
    device.adapter = adapter;
    device.target = target;
    takeInquiryText(record, device);
    device.deviceType = record.deviceType;
    device.removable = record.removable;
    device.sectorSize = record.sectorSize;
    device.sectorCount = record.sectorCount;
    return device;
}

bool identifyDeviceNow(SendASPI32CommandFn sendCommand, DeviceAddress address, DeviceIdentity &identity,
                       RequestOutcome &failure)
{
    uint8_t reply[kInquiryReplyLength] = {};
    if (ask(sendCommand, address, kInquiryCdb, sizeof kInquiryCdb, reply, sizeof reply, failure) != SS_COMP)
        return false;
    DeviceRecord record = {};
    writeInquiryLabel(record, address.target, reply);
    DeviceIdentity now = DeviceIdentity();
    now.adapter = address.adapter;
    now.target = address.target;
    takeInquiryText(record, now);
    now.deviceType = reply[0] & 0x1F;
    now.removable = (reply[1] & 0x80) ? 1 : 0;

    /* INQUIRY never meets a unit attention: READ CAPACITY does. After a reset (29h) or changed
       parameters (2Ah) the medium is the one the scan saw, and being reported the condition is
       gone: ask again. A medium change (28h) is the caller's to act on. */
    uint8_t capacity[kReadCapacityReplyLength] = {};
    uint8_t status = SS_ERR;
    for (int tries = 0; tries < kAttentionTries; tries++) {
        status = ask(sendCommand, address, kReadCapacityCdb, sizeof kReadCapacityCdb, capacity, sizeof capacity,
                     failure);
        if (status != SS_ERR || !attentionKeepsMedium(classifyDriveCondition(failure)))
            break;
    }
    if (status != SS_COMP)
        return false;
    setCapacity(record, capacity);
    now.sectorSize = record.sectorSize;
    now.sectorCount = record.sectorCount;
    identity = now;   /* only a whole answer replaces what the caller had */
    return true;
}

bool sameDevice(const DeviceIdentity &a, const DeviceIdentity &b)
{
    return a.adapter == b.adapter && a.target == b.target && std::strcmp(a.inquiry, b.inquiry) == 0 &&
           a.sectorSize == b.sectorSize && a.sectorCount == b.sectorCount;
}

void inquiryField(const DeviceIdentity &device, int field, char *text, size_t size)
{
    static const size_t offsets[] = {0, 8, 24}, sizes[] = {8, 16, 4};
    size_t offset = offsets[field], length = sizes[field];
    size_t available = strnlen(device.inquiry, sizeof device.inquiry - 1);
    length = offset >= available ? 0 : (available - offset < length ? available - offset : length);
    if (length >= size)
        length = size - 1;
    std::memcpy(text, device.inquiry + offset, length);
    while (length > 0 && text[length - 1] == ' ')
        length--;
    text[length] = '\0';
}
