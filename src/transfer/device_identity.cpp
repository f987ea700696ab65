/* The identity of a device, from the device table. */
#include "device_identity.h"

#include <cstring>
#include "app_state.h"

DeviceIdentity identifyDevice(int adapter, int target)
{
    const DeviceRecord &record = adapterTable.adapters[adapter % kMaxAdapters].devices[target % kMaxDevices];
    DeviceIdentity device = {};
    device.adapter = adapter;
    device.target = target;
    /* The label is "n: " and the INQUIRY text from index 3 (see the bus scan). */
    size_t length = strnlen(record.label + 3, sizeof record.label - 3);
    std::memcpy(device.inquiry, record.label + 3, length < 28 ? length : 28);
    /* Written into text files and compared with them: no control bytes, no quotes. */
    for (char &c : device.inquiry)
        if (c && (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == 0x7F))
            c = '?';
    device.deviceType = record.deviceType;
    device.removable = record.removable;
    device.sectorSize = record.sectorSize;
    device.sectorCount = record.sectorCount;
    return device;
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
