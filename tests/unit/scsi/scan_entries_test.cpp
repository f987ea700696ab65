/* The entries, names, target counts and capacities that the bus scan writes. */
#include <gtest/gtest.h>
#include <array>
#include <cstring>
#include <string>
#include "scan_entries.h"

namespace {

/* A 36-byte INQUIRY reply with the given 28 bytes of vendor, product and revision text. */
std::array<uint8_t, kInquiryReplyLength> inquiryReply(const char *text, size_t length, uint8_t byte1 = 0)
{
    std::array<uint8_t, kInquiryReplyLength> reply{};
    reply[1] = byte1;
    std::memcpy(reply.data() + 8, text, length);
    return reply;
}

void fillWithGarbage(DeviceRecord &device) { std::memset(&device, 0x5A, sizeof device); }

}  // namespace

TEST(ScanCdbs, InquiryAndReadCapacity)
{
    const uint8_t inquiry[6] = {0x12, 0, 0, 0, 0x24, 0};
    const uint8_t capacity[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(inquiry, kInquiryCdb, sizeof inquiry));
    EXPECT_EQ(0, std::memcmp(capacity, kReadCapacityCdb, sizeof capacity));
}

TEST(ScanEntries, DeviceLabels)
{
    const char full[] = "VENDOR01PRODUCT NAME 16CREV1";   /* 28 characters */
    const char vendorThenNul[] = "VENDOR01\0PRODUCT";
    const char blanks[] = "ACME    DISK            1.0 ";
    struct Case {
        const char *name;
        uint8_t target;
        const char *text;
        size_t length;
        const char *label;
    } cases[] = {
        {"id 3, full text after the blank", 3, full, 28, "3: VENDOR01PRODUCT NAME 16CREV1"},
        {"id 0", 0, full, 28, "0: VENDOR01PRODUCT NAME 16CREV1"},
        {"id 9", 9, full, 28, "9: VENDOR01PRODUCT NAME 16CREV1"},
        {"id 10, text over the blank", 10, full, 28, "10:VENDOR01PRODUCT NAME 16CREV1"},
        {"id 12", 12, full, 28, "12:VENDOR01PRODUCT NAME 16CREV1"},
        {"id 15", 15, full, 28, "15:VENDOR01PRODUCT NAME 16CREV1"},
        {"NUL after the vendor", 4, vendorThenNul, sizeof vendorThenNul, "4: VENDOR01"},
        {"NUL after the vendor, id 11", 11, vendorThenNul, sizeof vendorThenNul, "11:VENDOR01"},
        {"trailing blanks stay", 2, blanks, 28, "2: ACME    DISK            1.0 "},
        {"empty text", 5, "", 1, "5: "},
        {"empty text, id 13", 13, "", 1, "13:"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeviceRecord device;
        fillWithGarbage(device);
        auto reply = inquiryReply(c.text, c.length);
        writeInquiryLabel(device, c.target, reply.data());
        EXPECT_STREQ(c.label, device.label);
        EXPECT_LE(std::strlen(device.label), 31u);
    }
}

TEST(ScanEntries, AdapterOwnAndEmptyEntries)
{
    struct Case {
        const char *name;
        uint8_t id;
        const char identifier[16];
        const char *label;
    } cases[] = {
        {"16 characters, no NUL", 7, {'V','I','R','T','U','A','L','-','S','C','S','I','-','H','B','A'}, "7: HA VIRTUAL-"},
        {"short", 0, "HBA", "0: HA HBA"},
        {"empty (failed inquiry)", 0, "", "0: HA "},
        {"two-digit id", 15, "ABCDEFGHIJ", "15: HA ABCDEFGH"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeviceRecord device;
        fillWithGarbage(device);
        writeAdapterEntry(device, c.id, reinterpret_cast<const uint8_t *>(c.identifier));
        EXPECT_STREQ(c.label, device.label);
        EXPECT_EQ(0, device.sectorCount);
        EXPECT_EQ(0, device.sectorSize);
        EXPECT_EQ(3, device.deviceType);
        EXPECT_EQ(0, device.removable);
    }

    for (uint8_t target : {0, 9, 10, 15}) {
        SCOPED_TRACE(target);
        DeviceRecord device;
        fillWithGarbage(device);
        writeEmptyEntry(device, target);
        EXPECT_EQ(std::to_string(target) + ": none", device.label);
        EXPECT_EQ(0, device.sectorCount);
        EXPECT_EQ(0, device.sectorSize);
        EXPECT_EQ(31, device.deviceType);
        EXPECT_EQ(0, device.removable);
    }
}

TEST(ScanEntries, AdapterNames)
{
    struct Case {
        const char *name;
        const char identifier[16];
        int adapter;
        const char *expected;
    } cases[] = {
        {"16 characters without NUL: 15 and a blank", {'V','I','R','T','U','A','L','-','S','C','S','I','-','H','B','A'}, 2, "VIRTUAL-SCSI-HB "},
        {"8 characters", "ABCDEFGH", 0, "ABCDEFGH [0]"},
        {"13 characters: bracket cut", "ABCDEFGHIJKLM", 3, "ABCDEFGHIJKLM [3"},
        {"12 characters: fits exactly", "ABCDEFGHIJKL", 3, "ABCDEFGHIJKL [3]"},
        {"11 characters", "ABCDEFGHIJK", 1, "ABCDEFGHIJK [1]"},
        {"empty (failed inquiry)", "", 1, " [1]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        char name[17];
        std::memset(name, 'x', sizeof name);
        writeAdapterName(name, reinterpret_cast<const uint8_t *>(c.identifier), c.adapter);
        EXPECT_STREQ(c.expected, name);
    }
}

TEST(ScanEntries, TargetsInUse)
{
    const std::pair<uint8_t, uint8_t> cases[] = {{0, 8}, {1, 1}, {8, 8}, {15, 15}, {16, 16},
                                                 {17, 16}, {32, 16}, {255, 16}};
    for (auto [reported, inUse] : cases) {
        SCOPED_TRACE(reported);
        EXPECT_EQ(inUse, targetsInUse(reported));
    }
}

TEST(ScanEntries, Capacity)
{
    struct Case {
        const char *name;
        uint8_t reply[8];
        int32_t sectorCount;
        int32_t sectorSize;
    } cases[] = {
        {"256 sectors of 512 bytes", {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x02, 0x00}, 256, 512},
        {"one sector of 2048 bytes", {0, 0, 0, 0, 0x00, 0x00, 0x08, 0x00}, 1, 2048},
        {"every byte counts", {0x01, 0x02, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00}, 0x01020305, 65536},
        {"largest that fits", {0x7F, 0xFF, 0xFF, 0xFE, 0, 0, 2, 0}, 2147483647, 512},
        {"last address 2^31-1 is capped", {0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0}, 2147483647, 512},
        {"last address 2^32-1 is capped", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0}, 2147483647, 512},
        {"sector size 0: no capacity", {0, 0, 0x10, 0, 0, 0, 0, 0}, 0, 0},
        {"sector size beyond 31 bits: no capacity", {0, 0, 0x10, 0, 0x80, 0, 0, 0}, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeviceRecord device;
        fillWithGarbage(device);
        setCapacity(device, c.reply);
        EXPECT_EQ(c.sectorCount, device.sectorCount);
        EXPECT_EQ(c.sectorSize, device.sectorSize);
    }

    DeviceRecord failed;
    fillWithGarbage(failed);
    setCapacity(failed, nullptr);
    EXPECT_EQ(0, failed.sectorCount);
    EXPECT_EQ(0, failed.sectorSize);
}
