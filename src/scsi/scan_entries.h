/*
 * What the bus scan writes into the device table: the three forms of a device entry, the
 * adapter's name, the number of targets in use and the capacity, and the two CDBs it sends.
 */
#ifndef KESTROVA_SCAN_ENTRIES_H
#define KESTROVA_SCAN_ENTRIES_H

#include <cstdint>
#include "app_state.h"
#include "aspi_blocks.h"

extern const uint8_t kInquiryCdb[6];
extern const uint8_t kReadCapacityCdb[10];

/* maxTargets from byte 3 of HA_Unique: 8 when 0 is reported, at most 16. */
uint8_t targetsInUse(uint8_t reportedTargets);

/* The adapter's own entry: "%d: HA %.8s", device type 3, no capacity. */
void writeAdapterEntry(DeviceRecord &device, uint8_t scsiId, const uint8_t identifier[16]);

/* "%s [%d]" from at most 15 characters of the identifier, cut to 16 characters. */
void writeAdapterName(char name[17], const uint8_t identifier[16], int adapter);

/* The entry of a target where no device answered: "%d: none", device type 31. */
void writeEmptyEntry(DeviceRecord &device, uint8_t target);

/* The label of a device that answered: its id, a colon, then from index 3 its INQUIRY text. */
void writeInquiryLabel(DeviceRecord &device, uint8_t target, const uint8_t reply[kInquiryReplyLength]);

/* Sector count and size from an 8-byte READ CAPACITY reply; null (a failed request) gives 0, 0.
   True when the device has more sectors than the count holds (it is then INT32_MAX). */
bool setCapacity(DeviceRecord &device, const uint8_t *capacityReply);

#endif
