/* The bus scan against the virtual bus: every entry it writes, the order of its requests,
 * asynchronous completion, and what a rescan keeps. */
#include <algorithm>
#include <cstring>
#include <string>
#include "aspi.h"
#include "bus_fixture.h"
#include "bus_scan.h"
#include "message_box_watch.h"

namespace {

/* Four adapters in use (a fifth is reported but never scanned):
 *   0: own id 7, 16-character identifier without NUL, no target count (8)
 *   1: own id 15, short identifier, 16 targets, two-digit ids
 *   2: own id 8, outside its 8 targets
 *   3: own id 16, 20 targets reported: 16 kept, no own entry */
const char kFourAdapters[] = R"(
[bus]
adapters = 5
trace = trace.txt

[adapter 0]
scsi_id = 7
identifier = "VIRTUAL-SCSI-HBA"
max_targets = 0

[device 0:0]
vendor = "VENDOR01"
product = "\0"
sectors = 100

[device 0:3]
type = disk
vendor = "VENDOR01"
product = "PRODUCT NAME 16C"
revision = "REV1"
capacity_reply = 00 00 00 FF 00 00 02 00
sectors = 256

[device 0:5]
type = optical
removable = yes
no_medium = yes
vendor = "MO"
product = "DRIVE"
revision = "2.0"

[device 0:6]
type = cdrom
removable = yes
vendor = "CD"
product = "ROM"
revision = "1"
sector_size = 2048
sectors = 1000

[adapter 1]
scsi_id = 15
identifier = "ABCDEFGH"
max_targets = 16

[device 1:9]
vendor = "VENDOR01"
product = "PRODUCT NAME 16C"
revision = "REV1"
sectors = 2048

[device 1:12]
vendor = "VENDOR01"
product = "PRODUCT NAME 16C"
revision = "REV1"
sectors = 4096

[adapter 2]
scsi_id = 8
identifier = "SHORT"
max_targets = 8

[device 2:7]
type = tape
vendor = "T"
product = "P"
revision = "R"
capacity_reply = 7F FF FF FF 00 00 02 00
sectors = 1

[adapter 3]
scsi_id = 16
identifier = "WIDE BUS ADAPTER"
max_targets = 20

[device 3:15]
vendor = "LAST"
product = "ID"
revision = "15"
capacity_reply = 00 00 10 00 00 00 00 00
sectors = 4097

[adapter 4]
scsi_id = 7
)";

const char kDeviceText[] = "VENDOR01PRODUCT NAME 16CREV1";

/* A table that no scan has touched, to see which entries a scan leaves alone. */
AdapterTable markedTable()
{
    AdapterTable table;
    std::memset(&table, 0x5A, sizeof table);
    return table;
}

void expectUntouched(const DeviceRecord &device)
{
    DeviceRecord marked;
    std::memset(&marked, 0x5A, sizeof marked);
    EXPECT_EQ(0, std::memcmp(&marked, &device, sizeof device));
}

void expectNone(const DeviceRecord &device, int target)
{
    expectEntry(device, (std::to_string(target) + ": none").c_str(), 0, 0, 31, 0);
}

void expectFourAdapters()
{
    const AdapterRecord &a0 = adapterTable.adapters[0];
    EXPECT_EQ(7, a0.scsiId);
    EXPECT_STREQ("VIRTUAL-SCSI-HB ", a0.name);
    EXPECT_EQ(8, a0.maxTargets);
    expectEntry(a0.devices[0], "0: VENDOR01", 100, 512, 0, 0);   /* NUL after the vendor */
    expectNone(a0.devices[1], 1);
    expectNone(a0.devices[2], 2);
    expectEntry(a0.devices[3], (std::string("3: ") + kDeviceText).c_str(), 256, 512, 0, 0);
    expectNone(a0.devices[4], 4);
    expectEntry(a0.devices[5], "5: MO      DRIVE           2.0 ", 0, 0, 7, 1);   /* no medium */
    expectEntry(a0.devices[6], "6: CD      ROM             1   ", 1000, 2048, 5, 1);
    expectEntry(a0.devices[7], "7: HA VIRTUAL-", 0, 0, 3, 0);
    for (int t = 8; t < kMaxDevices; ++t)
        expectUntouched(a0.devices[t]);

    const AdapterRecord &a1 = adapterTable.adapters[1];
    EXPECT_EQ(15, a1.scsiId);
    EXPECT_STREQ("ABCDEFGH [1]", a1.name);
    EXPECT_EQ(16, a1.maxTargets);
    for (int t = 0; t < 15; ++t)
        if (t != 9 && t != 12)
            expectNone(a1.devices[t], t);
    expectEntry(a1.devices[9], (std::string("9: ") + kDeviceText).c_str(), 2048, 512, 0, 0);
    expectEntry(a1.devices[12], (std::string("12:") + kDeviceText).c_str(), 4096, 512, 0, 0);
    expectEntry(a1.devices[15], "15: HA ABCDEFGH", 0, 0, 3, 0);

    const AdapterRecord &a2 = adapterTable.adapters[2];
    EXPECT_EQ(8, a2.scsiId);
    EXPECT_STREQ("SHORT [2]", a2.name);
    EXPECT_EQ(8, a2.maxTargets);
    for (int t = 0; t < 7; ++t)
        expectNone(a2.devices[t], t);
    /* Last sector address 2^31 - 1: the count stops at the largest the table holds. */
    expectEntry(a2.devices[7], "7: T       P               R   ", 2147483647, 512, 1, 0);
    expectEntry(a2.devices[8], "8: HA SHORT", 0, 0, 3, 0);
    for (int t = 9; t < kMaxDevices; ++t)
        expectUntouched(a2.devices[t]);

    const AdapterRecord &a3 = adapterTable.adapters[3];
    EXPECT_EQ(16, a3.scsiId);
    EXPECT_STREQ("WIDE BUS ADAPTE ", a3.name);
    EXPECT_EQ(16, a3.maxTargets);
    for (int t = 0; t < 15; ++t)
        expectNone(a3.devices[t], t);
    /* A sector size of 0: no capacity, so no transfer can divide by it. */
    expectEntry(a3.devices[15], "15:LAST    ID              15  ", 0, 0, 0, 0);
}

}  // namespace

using BusScan = AspiBusTest;

TEST_F(BusScan, EveryEntryOfFourAdapters)
{
    useBus("bus.ini", kFourAdapters);
    ASSERT_EQ(1, bindAspi(owner_));
    ASSERT_EQ(4, appState.adapterCount);
    adapterTable = markedTable();
    watch_.clear();
    EXPECT_EQ(1, scanBus(owner_));
    EXPECT_TRUE(watch_.boxes().empty());
    expectFourAdapters();
}

TEST_F(BusScan, RequestsInOrderOnePerEmptyTargetThreePerDevice)
{
    useBus("bus.ini", kFourAdapters);
    ASSERT_EQ(1, bindAspi(owner_));
    ASSERT_EQ(1, scanBus(owner_));

    const std::string inquiry = " lun=0 flags=08 cdb=12 00 00 00 24 00 len=36 status=";
    const std::string capacity = " lun=0 flags=08 cdb=25 00 00 00 00 00 00 00 00 00 len=8 status=";
    std::vector<std::string> expected = {"HA_INQUIRY ha=0 status=01"};
    auto device = [&](int t, const char *capacityStatus) {
        std::string at = "ha=0 target=" + std::to_string(t);
        expected.push_back("EXEC " + at + inquiry + "01");
        expected.push_back("GET_DEV_TYPE " + at + " lun=0 status=01");
        expected.push_back("EXEC " + at + capacity + capacityStatus);
    };
    auto none = [&](int t) { expected.push_back("EXEC ha=0 target=" + std::to_string(t) + inquiry + "82"); };
    device(0, "01");
    none(1);
    none(2);
    device(3, "01");
    none(4);
    device(5, "04");   /* no medium */
    device(6, "01");   /* target 7 is the adapter itself */
    expected.push_back("HA_INQUIRY ha=1 status=01");

    std::vector<std::string> trace = traceLines("trace.txt");
    ASSERT_GE(trace.size(), expected.size());
    trace.resize(expected.size());
    EXPECT_EQ(expected, trace);

    /* Per adapter one inquiry; 15 probes on adapter 1, 8 on 2, 16 on 3; adapter 4 never. */
    trace = traceLines("trace.txt");
    auto count = [&](const std::string &what) {
        int n = 0;
        for (const std::string &line : trace)
            n += line.find(what) != std::string::npos;
        return n;
    };
    EXPECT_EQ(4, count("HA_INQUIRY"));
    EXPECT_EQ(0, count("ha=4"));
    EXPECT_EQ(7 + 15 + 8 + 16, count("cdb=12 "));
    EXPECT_EQ(4 + 2 + 1 + 1, count("GET_DEV_TYPE"));
    EXPECT_EQ(4 + 2 + 1 + 1, count("cdb=25 "));
    EXPECT_EQ(0, count("target=16"));
}

TEST_F(BusScan, AsynchronousCompletionGivesTheSameTable)
{
    /* Each request returns pending and completes later on the library's own thread; the
     * blocks that serve several requests must be cleared, or a wait would end at once on
     * the status of the request before. */
    std::string ini = kFourAdapters;
    ini.replace(ini.find("[bus]\n"), 6, "[bus]\ncompletion = async\ndelay_ms = 1\n");
    ini.replace(ini.find("[device 0:3]\n"), 13, "[device 0:3]\ndelay_ms = 40\n");
    useBus("bus.ini", ini);
    ASSERT_EQ(1, bindAspi(owner_));
    adapterTable = markedTable();
    EXPECT_EQ(1, scanBus(owner_));
    expectFourAdapters();
}

TEST_F(BusScan, RefusalsOnlyReturnedGiveTheSameTable)
{
    /* Every empty target's INQUIRY is refused at once; here the library only returns the
     * status and leaves the block's status byte pending, so the scan must take the returned
     * value instead of waiting for the byte. */
    std::string ini = kFourAdapters;
    ini.replace(ini.find("[bus]\n"), 6, "[bus]\nrefusal_status = returned\n");
    useBus("bus.ini", ini);
    ASSERT_EQ(1, bindAspi(owner_));
    adapterTable = markedTable();
    EXPECT_EQ(1, scanBus(owner_));
    expectFourAdapters();
    int refused = 0;
    for (const std::string &line : traceLines("trace.txt"))
        refused += line.find("status=82") != std::string::npos;
    EXPECT_EQ(7 + 15 + 8 + 16 - (4 + 2 + 1 + 1), refused);
}

TEST_F(BusScan, RescanAfterADeviceWentAway)
{
    useBus("before.ini", R"(
[bus]
adapters = 1
[adapter 0]
scsi_id = 7
identifier = "HBA"
max_targets = 10
[device 0:3]
removable = yes
vendor = "ZIP"
product = "DRIVE"
revision = "1"
sectors = 1000
[device 0:9]
vendor = "HIGH"
product = "ID"
revision = "1"
sectors = 50
)");
    ASSERT_EQ(1, bindAspi(owner_));
    ASSERT_EQ(1, scanBus(owner_));
    expectEntry(adapterTable.adapters[0].devices[3], "3: ZIP     DRIVE           1   ", 1000, 512, 0, 1);
    DeviceRecord highEntry = adapterTable.adapters[0].devices[9];
    expectEntry(highEntry, "9: HIGH    ID              1   ", 50, 512, 0, 0);

    appState.sourceAdapter = 0;
    appState.sourceDevice = 3;
    appState.targetAdapter = 0;
    appState.targetDevice = 9;
    appState.mode = TransferMode::DiskToDisk;
    appState.transferSectors = 1000;
    adapterTable.adapters[1] = AdapterRecord{};
    adapterTable.adapters[1].maxTargets = 42;

    /* The drive is switched off, the adapter now reports 8 targets, and the bus two adapters:
     * the scan keeps the adapter count that the binding found. */
    useBus("after.ini", R"(
[bus]
adapters = 2
[adapter 0]
scsi_id = 7
identifier = "HBA"
max_targets = 8
[adapter 1]
scsi_id = 7
)");
    reloadBusConfiguration();
    watch_.clear();
    EXPECT_EQ(1, scanBus(owner_));
    EXPECT_TRUE(watch_.boxes().empty());

    const AdapterRecord &a0 = adapterTable.adapters[0];
    EXPECT_EQ(8, a0.maxTargets);
    expectNone(a0.devices[3], 3);
    expectEntry(a0.devices[7], "7: HA HBA", 0, 0, 3, 0);
    EXPECT_EQ(0, std::memcmp(&highEntry, &a0.devices[9], sizeof highEntry)) << "entry 9 is kept";
    EXPECT_EQ(42, adapterTable.adapters[1].maxTargets) << "adapter 1 is not scanned";
    EXPECT_EQ(1, appState.adapterCount);
    EXPECT_EQ(0, appState.sourceAdapter);
    EXPECT_EQ(3, appState.sourceDevice);
    EXPECT_EQ(0, appState.targetAdapter);
    EXPECT_EQ(9, appState.targetDevice);
    EXPECT_EQ(TransferMode::DiskToDisk, appState.mode);
    EXPECT_EQ(1000, appState.transferSectors);
}

TEST_F(BusScan, DeviceTypeInquiryThatFails)
{
    /* The type is whatever the cleared block holds when the inquiry fails: 0, not the type
     * of the device before, and the rest of the entry and of the scan go on as usual. */
    useBus("bus.ini", R"(
[bus]
adapters = 1
trace = trace.txt
[adapter 0]
scsi_id = 7
[device 0:1]
type = cdrom
vendor = "GOOD"
product = "CD"
revision = "1"
sector_size = 2048
sectors = 10
[device 0:2]
type = cdrom
vendor = "BAD"
product = "TYPE"
revision = "1"
sector_size = 2048
sectors = 20
dev_type_status = 04
[device 0:3]
type = tape
vendor = "SLOW"
product = "TYPE"
revision = "1"
sectors = 30
dev_type_status = E5
completion = async
delay_ms = 5
)");
    ASSERT_EQ(1, bindAspi(owner_));
    adapterTable = markedTable();
    watch_.clear();
    EXPECT_EQ(1, scanBus(owner_));
    EXPECT_TRUE(watch_.boxes().empty());
    const AdapterRecord &a0 = adapterTable.adapters[0];
    expectEntry(a0.devices[1], "1: GOOD    CD              1   ", 10, 2048, 5, 0);
    expectEntry(a0.devices[2], "2: BAD     TYPE            1   ", 20, 2048, 0, 0);
    expectEntry(a0.devices[3], "3: SLOW    TYPE            1   ", 30, 512, 0, 0);
    std::vector<std::string> trace = traceLines("trace.txt");
    EXPECT_NE(trace.end(), std::find(trace.begin(), trace.end(), "GET_DEV_TYPE ha=0 target=2 lun=0 status=04"));
    EXPECT_NE(trace.end(), std::find(trace.begin(), trace.end(), "GET_DEV_TYPE ha=0 target=3 lun=0 status=E5"));
}

TEST_F(BusScan, AdapterThatFailsItsInquiry)
{
    /* Bound with two adapters, the bus then knows only one: the second's inquiry fails
     * unnoticed and its reply fields read as zero. */
    useBus("two.ini", "[bus]\nadapters = 2\n[adapter 0]\nscsi_id = 7\n[adapter 1]\nscsi_id = 7\n");
    ASSERT_EQ(1, bindAspi(owner_));
    ASSERT_EQ(2, appState.adapterCount);
    useBus("one.ini", "[bus]\nadapters = 1\n[adapter 0]\nscsi_id = 7\n");
    reloadBusConfiguration();
    adapterTable = markedTable();
    EXPECT_EQ(1, scanBus(owner_));

    const AdapterRecord &a1 = adapterTable.adapters[1];
    EXPECT_EQ(0, a1.scsiId);
    EXPECT_STREQ(" [1]", a1.name);
    EXPECT_EQ(8, a1.maxTargets);
    expectEntry(a1.devices[0], "0: HA ", 0, 0, 3, 0);
    for (int t = 1; t < 8; ++t)
        expectNone(a1.devices[t], t);
    for (int t = 8; t < kMaxDevices; ++t)
        expectUntouched(a1.devices[t]);
}
