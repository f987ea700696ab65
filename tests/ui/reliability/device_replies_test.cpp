/*
 * Devices that answer oddly: INQUIRY texts with control and non-ASCII bytes, without a NUL or
 * all NULs, a short INQUIRY reply, READ CAPACITY replies of 0 and 0xFFFFFFFF, sector sizes of 0,
 * 1, 4096 and 65536, adapter identifiers without a NUL, eight adapters, 0 and 255 targets, an own
 * id of 20. The scan writes only terminated texts into the table's sixteen entries of four
 * adapters, the information line describes each device, and the transfers move whole sectors of
 * each size.
 */
#include "transfer_bench.h"
#include "aspi.h"
#include "app_state.h"
#include "bus_scan.h"
#include "main_form.h"
#include "message_box_watch.h"
#include "transfers.h"
#include <cstdio>
#include <cstring>

namespace {
int triedReplies = 0;

class DeviceReplies : public TransferBench {
protected:
    /* Loads `ini` into the bus (after the bench's own empty one), binds and scans as the program does. */
    void scanRawBus(const std::string &ini)
    {
        loadBus({});
        const std::string config = pathOf("vbus.ini");
        writeWholeFile(config, Bytes(ini.begin(), ini.end()));
        std::memset(&adapterTable, 0x5A, sizeof adapterTable);
        MessageBoxWatch boxes;
        ASSERT_EQ(bindAspi(form()), 1);
        ASSERT_EQ(scanBus(form()), 1);
        EXPECT_TRUE(boxes.boxes().empty()) << describe(boxes.boxes().front());
        FreeLibrary(appState.aspiLibrary);   /* the binding's own reference; the bench keeps its one */
    }
};

const char kOddBus[] = R"([bus]
adapters = 8

[adapter 0]
scsi_id = 20
identifier = "IDENTIFIER16CHAR"
max_targets = 255

[device 0:0]
vendor = "\x01\x07\t\x1b\x7f\x08\x0d\x0a"
product = "\xe9\xe8\xff\x80\x81\x9c\xa0\xc3\xa9\xe2\x82\xac\x01\x02\x03\x04"
revision = "\xfe\xfd\xfc\xfb"
sectors = 100

[device 0:1]
vendor = "\0\0\0\0\0\0\0\0"
product = "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
revision = "\0\0\0\0"
sectors = 100

[device 0:2]
vendor = "VENDORXX"
product = "PRODUCT16CHARSXX"
revision = "REV4"
sectors = 100
capacity_reply = 00 00 00 00 00 00 00 00

[device 0:3]
sectors = 100
capacity_reply = 00 00 00 00 00 00 02 00

[device 0:4]
sectors = 100
capacity_reply = FF FF FF FF 00 00 02 00

[device 0:5]
sectors = 100
capacity_reply = 00 00 00 63 00 01 00 00

[device 0:6]
product = "ONE BYTE SECTORS"
sector_size = 1
sectors = 5000
image = one.img

[device 0:7]
product = "4K SECTORS"
sector_size = 4096
sectors = 40
image = fourk.img

[device 0:8]
product = "64K SECTORS"
sector_size = 65536
sectors = 6
image = big.img

; 16 bytes of INQUIRY data after a device with the full 36: its label must not take the rest
; of the previous reply.
[device 0:9]
vendor = "SHORTREP"
inquiry_length = 16
sectors = 10

[device 0:15]
product = "LAST ID"
sectors = 10

[adapter 1]
scsi_id = 15
max_targets = 0
identifier = "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"

[device 1:6]
sector_size = 1
sectors = 5000
image = one2.img

[device 1:4]
sector_size = 4096
sectors = 40
image = fourk2.img

[device 1:5]
sector_size = 65536
sectors = 6
image = big2.img

[adapter 3]
scsi_id = 0
identifier = "ABCDEFGHIJKLMNO\xff"
max_targets = 16

[adapter 7]
identifier = "NEVER SCANNED"
)";

bool terminatedWithin(const char *text, size_t size)
{
    return std::memchr(text, '\0', size) != nullptr;
}
}  // namespace

TEST_F(DeviceReplies, OddRepliesGiveTerminatedEntriesAndUsableCounts)
{
    ASSERT_NO_FATAL_FAILURE(scanRawBus(kOddBus));
    EXPECT_EQ(appState.adapterCount, 4) << "eight adapters reported, the table has four";

    const AdapterRecord &a0 = adapterTable.adapters[0];
    EXPECT_EQ(a0.maxTargets, 16) << "255 targets reported, 16 entries";
    EXPECT_EQ(a0.scsiId, 20);
    EXPECT_STREQ(a0.name, "IDENTIFIER16CHA ");
    EXPECT_EQ(adapterTable.adapters[1].maxTargets, 8) << "0 targets reported counts as 8";
    EXPECT_STREQ(adapterTable.adapters[1].name, " [1]");
    EXPECT_STREQ(adapterTable.adapters[3].name, "ABCDEFGHIJKLMNO ");
    EXPECT_STREQ(adapterTable.adapters[3].devices[0].label, "0: HA ABCDEFGH");

    struct Entry { int target; std::string label; int32_t sectors, sectorSize; };
    const Entry entries[] = {
        {0, "0: \x01\x07\t\x1b\x7f\x08\x0d\x0a\xe9\xe8\xff\x80\x81\x9c\xa0\xc3\xa9\xe2\x82\xac\x01\x02\x03\x04\xfe\xfd\xfc\xfb",
         100, 512},
        {1, "1: ", 100, 512},
        {2, "2: VENDORXXPRODUCT16CHARSXXREV4", 0, 0},   /* READ CAPACITY of 0: no sector size */
        {3, "3: VBUS    VIRTUAL DISK    1.0 ", 1, 512},
        {4, "4: VBUS    VIRTUAL DISK    1.0 ", 2147483647, 512},
        {5, "5: VBUS    VIRTUAL DISK    1.0 ", 100, 65536},
        {6, "6: VBUS    ONE BYTE SECTORS1.0 ", 5000, 1},
        {7, "7: VBUS    4K SECTORS      1.0 ", 40, 4096},
        {8, "8: VBUS    64K SECTORS     1.0 ", 6, 65536},
        {9, "9: SHORTREP", 10, 512},
        {15, "15:VBUS    LAST ID         1.0 ", 10, 512},
    };
    for (const Entry &e : entries) {
        SCOPED_TRACE(e.target);
        const DeviceRecord &d = a0.devices[e.target];
        ASSERT_TRUE(terminatedWithin(d.label, sizeof d.label));
        EXPECT_EQ(std::string(d.label), e.label);
        EXPECT_EQ(d.sectorCount, e.sectors);
        EXPECT_EQ(d.sectorSize, e.sectorSize);
        triedReplies++;
    }
    /* The adapter's own id of 20 writes no entry: the other ids are "none". */
    for (int t : {10, 11, 12, 13, 14})
        EXPECT_EQ(std::string(a0.devices[t].label), std::to_string(t) + ": none");

    /* Every entry of every adapter in use is terminated, and its information line is made. */
    char scratch[kScratchTextSize];
    appState.scratchText = scratch;
    for (int a = 0; a < appState.adapterCount; ++a) {
        for (int t = 0; t < adapterTable.adapters[a].maxTargets; ++t) {
            const DeviceRecord &d = adapterTable.adapters[a].devices[t];
            SCOPED_TRACE(std::to_string(a) + ":" + std::to_string(t));
            EXPECT_TRUE(terminatedWithin(d.label, sizeof d.label));
            std::memset(scratch, 'x', sizeof scratch);
            deviceInfoText(d);
            EXPECT_TRUE(terminatedWithin(scratch, sizeof scratch));
            EXPECT_GE(d.sectorCount, 0);
            EXPECT_GE(d.sectorSize, 0);
        }
    }
    deviceInfoText(a0.devices[6]);
    std::printf("[ reliability ] 1-byte sectors: \"%s\"\n", scratch);
    triedReplies += 5;   /* 8 adapters, 255 and 0 targets, own id 20, identifiers without NUL */
}

TEST_F(DeviceReplies, TransfersOfOneByteFourKAnd64KSectors)
{
    ASSERT_NO_FATAL_FAILURE(scanRawBus(kOddBus));
    /* Source on adapter 0, copies on adapter 1 (eight entries: its targets stay below 8). */
    struct Size { int target, copyTarget; int32_t sectorSize, sectors, transfer; };
    const Size sizes[] = {{6, 6, 1, 5000, 4999}, {7, 4, 4096, 40, 37}, {8, 5, 65536, 6, 5}};
    for (const Size &s : sizes) {
        SCOPED_TRACE(s.sectorSize);
        const size_t deviceBytes = size_t(s.sectorSize) * s.sectors;
        const std::string source = s.target == 6 ? "one.img" : s.target == 7 ? "fourk.img" : "big.img";
        const std::string target = s.target == 6 ? "one2.img" : s.target == 7 ? "fourk2.img" : "big2.img";
        const Bytes data = patternBytes(uint32_t(s.sectorSize), deviceBytes);
        writeFileRange(pathOf(source), 0, data);
        writeFileRange(pathOf(target), 0, Bytes(deviceBytes, 0xEE));
        selectSource(0, s.target);
        selectTarget(1, s.copyTarget);
        appState.transferSectors = s.transfer;
        const size_t moved = size_t(s.transfer) * s.sectorSize;

        /* 64K sectors do not fit the default 16K buffer: refused before anything is made. */
        appState.bufferBlocks = 32;
        std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf("out.iso").c_str());
        MessageBoxWatch boxes;
        copyDiskToFile(form());
        if (s.sectorSize > 16384) {
            ASSERT_EQ(boxes.boxes().size(), 1u);
            EXPECT_EQ(boxes.boxes()[0].text, "A sector of 65536 bytes does not fit in the I/O buffer of 16384 bytes. "
                                             "Choose a larger buffer size. Nothing was transferred.");
            EXPECT_EQ(GetFileAttributesA(pathOf("out.iso").c_str()), INVALID_FILE_ATTRIBUTES);
            appState.bufferBlocks = 128;
            boxes.clear();
            copyDiskToFile(form());
        }
        EXPECT_TRUE(boxes.boxes().empty());
        Bytes file = readWholeFile(pathOf("out.iso"));
        EXPECT_EQ(file.size(), (moved + 2047) / 2048 * 2048);
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + long(moved), file.begin()));
        EXPECT_TRUE(std::all_of(file.begin() + long(moved), file.end(), [](uint8_t b) { return b == 0; }));

        /* Back onto the second device, whose last sector stays, then disk to disk over it. */
        copyFileToDisk(form());   /* the file is longer than the transfer: "bigger" answered OK */
        Bytes device = readWholeFile(pathOf(target));
        EXPECT_EQ(device.size(), deviceBytes);
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + long(moved), device.begin()));
        EXPECT_TRUE(std::all_of(device.begin() + long(moved), device.end(), [](uint8_t b) { return b == 0xEE; }))
            << "first changed byte after the copy: "
            << std::find_if(device.begin() + long(moved), device.end(), [](uint8_t b) { return b != 0xEE; }) - device.begin();
        writeFileRange(pathOf(target), 0, Bytes(deviceBytes, 0xEE));
        copyDiskToDisk(form());
        device = readWholeFile(pathOf(target));
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + long(moved), device.begin()));
        EXPECT_TRUE(std::all_of(device.begin() + long(moved), device.end(), [](uint8_t b) { return b == 0xEE; }));
        EXPECT_EQ(readWholeFile(pathOf(source)), data);
        DeleteFileA(pathOf("out.iso").c_str());
        triedReplies += 3;
    }

    /* A device whose READ CAPACITY gave no sector size is refused in each direction. */
    selectSource(0, 2);
    selectTarget(0, 2);
    appState.transferSectors = 1;
    for (void (*copy)(HWND) : {copyDiskToFile, copyFileToDisk, copyDiskToDisk}) {
        MessageBoxWatch boxes;
        copy(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "The device reports no sector size (0 bytes/sector). Nothing was transferred.");
        triedReplies++;
    }
    std::printf("[ reliability ] device replies tried: %d\n", triedReplies);
}
