/*
 * What a map and a report say about the device a copy read: where it sits on the bus, what it
 * answered to INQUIRY and its geometry. The values only: how they are asked for is in
 * archive.h (device_identity.cpp).
 */
#ifndef KESTROVA_DEVICE_IDENTITY_H
#define KESTROVA_DEVICE_IDENTITY_H

#include <cstddef>
#include <cstdint>

struct DeviceIdentity {
    int adapter;
    int target;
    char inquiry[29];      /* vendor (8), product (16) and revision (4) as the device gave them */
    int32_t deviceType;
    int32_t removable;
    int32_t sectorSize;
    int32_t sectorCount;
};

/* Whether two identities name the same device: place, INQUIRY texts and geometry. */
bool sameDevice(const DeviceIdentity &a, const DeviceIdentity &b);

/* Vendor, product or revision, without the blanks that pad them; size at least 17. */
void inquiryField(const DeviceIdentity &device, int field, char *text, size_t size);
enum { kInquiryVendor = 0, kInquiryProduct = 1, kInquiryRevision = 2 };

#endif
