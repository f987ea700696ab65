/*
 * The bridge on the PCs users have (machine_profiles.cpp): what the program's own scan shows on
 * each, the three copy directions on their SCSI and USB drives, no write command reaching a
 * protected or internal disk whatever its direction flags, each protection rule on its own, the
 * volume locks across chunks, media changes and a new inventory, and a drive plugged in again
 * under another name.
 */
#include "bridge_bench.h"
#include "app_state.h"
#include "bridge.h"
#include "bus_scan.h"
#include "message_box_watch.h"
#include "transfers.h"
#include <algorithm>

namespace {

class MachineJourney : public BridgeBench {
protected:
    /* The program's device entries of an adapter, "none" entries left out. */
    std::vector<std::string> shown(int adapter)
    {
        std::vector<std::string> labels;
        const AdapterRecord &a = adapterTable.adapters[adapter];
        for (int t = 0; t < a.maxTargets && t < 16; t++)
            if (a.devices[t].deviceType != 31)
                labels.push_back(a.devices[t].label);
        return labels;
    }

    void copyToFile(int adapter, int target, int32_t sectors, const std::string &unit)
    {
        SCOPED_TRACE("disk to file from " + unit);
        appState.transferSectors = sectors;
        selectSource(adapter, target);
        usePath(unit + ".iso");
        DeleteFileA(pathOf(unit + ".iso").c_str());   /* no question before overwriting */
        copyDiskToFile(form());
        EXPECT_TRUE(readWholeFile(pathOf(unit + ".iso")) == medium(unit));
    }

    void copyFromFile(int adapter, int target, int32_t sectors, const std::string &unit, uint32_t seed)
    {
        SCOPED_TRACE("file to disk onto " + unit);
        const Bytes data = patternBytes(seed, medium(unit).size());
        writeWholeFile(pathOf("in.iso"), data);
        appState.transferSectors = sectors;
        selectTarget(adapter, target);
        usePath("in.iso");
        copyFileToDisk(form());
        EXPECT_TRUE(medium(unit) == data);
    }

    void copyDisk(int fromAdapter, int fromTarget, int toAdapter, int toTarget, int32_t sectors,
                  const std::string &from, const std::string &to)
    {
        SCOPED_TRACE("disk to disk, " + from + " onto " + to);
        appState.transferSectors = sectors;
        selectSource(fromAdapter, fromTarget);
        selectTarget(toAdapter, toTarget);
        copyDiskToDisk(form());
        EXPECT_TRUE(medium(to) == medium(from));
    }

    SRB_ExecSCSICmd writeSector(uint8_t adapter, uint8_t target, uint32_t seed)
    {
        const Bytes data = patternBytes(seed, 512);
        std::copy(data.begin(), data.end(), sector_);
        return execute(adapter, target, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, SRB_DIR_OUT, sector_, 512);
    }

    static bool reached(const std::string &unit, uint8_t opcode)
    {
        const std::vector<uint8_t> &seen = emulatedStack().unit(unit).opcodes;
        return std::find(seen.begin(), seen.end(), opcode) != seen.end();
    }

    static int damage()
    {
        int writes = 0;
        for (const EmulatedVolume &v : emulatedStack().volumes)
            writes += v.damagingWrites;
        return writes;
    }

    uint8_t sector_[512] = {};
};

}  // namespace

/* Windows 10: of six SATA buses, an NVMe disk, a SCSI card and two USB drives, the program sees
   the card's two devices and the USB drives, no internal disk; every direction runs on them byte
   for byte, volumes locked first; a cartridge swapped between two writes gets its new volume
   locked before the second. */
TEST_F(MachineJourney, Windows10ShowsTheCardAndTheUsbDrivesAndCopiesEveryWay)
{
    load(windows10Desktop());
    MessageBoxWatch boxes;
    ASSERT_NO_FATAL_FAILURE(bindAndScan(2));
    EXPECT_STREQ(adapterTable.adapters[0].name, "lsi_scsi [0]");
    EXPECT_EQ(shown(0), (std::vector<std::string>{"2: KESTROVAsampler         1.0 ", "5: KESTROVAmo              1.0 ",
                                                  "7: HA lsi_scsi"}));
    EXPECT_EQ(adapterTable.adapters[0].devices[5].sectorSize, 2048);
    EXPECT_STREQ(adapterTable.adapters[1].name, "USB/1394 [1]");
    EXPECT_EQ(shown(1), (std::vector<std::string>{"0: KESTROVAusb mo          1.0 ", "1: KESTROVAzip             1.0 ",
                                                  "7: HA USB/1394"}));
    appState.bufferBlocks = 128;

    copyToFile(0, 2, 400, "sampler");
    copyToFile(1, 0, 400, "usb mo");
    copyFromFile(0, 5, 200, "mo", 40);
    copyFromFile(1, 1, 400, "zip", 41);
    copyDisk(0, 2, 1, 0, 400, "sampler", "usb mo");
    EmulatedVolume &moVolume = emulatedStack().volume("\\\\?\\Volume{f4}");
    EXPECT_EQ(moVolume.locks, 1);
    EXPECT_EQ(emulatedStack().volume("\\\\?\\Volume{a5}").locks, 1);

    writeWholeFile(pathOf("cartridge 2.img"), Bytes(200 * 2048, 0));
    swapMedium(emulatedStack().unit("mo"), pathOf("cartridge 2.img"), true);
    copyFromFile(0, 5, 200, "mo", 42);
    EXPECT_EQ(moVolume.locks, 2) << "the new cartridge's volume locked before the write";
    EXPECT_EQ(damage(), 0) << "a write went under a mounted file system";
    for (const CapturedBox &box : boxes.boxes())
        ADD_FAILURE() << "unexpected message " << describe(box);
}

/* Windows XP, and the same PC as Windows 2000 sees it (no bus types: the drivers' names tell):
   the aic78xx card only, with the page-file disk, the sampler disk and the ZIP drive. */
TEST_F(MachineJourney, WindowsXpAnd2000ShowTheScsiCardOnly)
{
    MessageBoxWatch boxes;
    for (MachineProfile (*machine)() : {windowsXp, windows2000}) {
        SCOPED_TRACE(machine == windowsXp ? "Windows XP" : "Windows 2000");
        load(machine());
        ASSERT_NO_FATAL_FAILURE(bindAndScan(1));
        EXPECT_STREQ(adapterTable.adapters[0].name, "aic78xx [0]");
        EXPECT_EQ(shown(0), (std::vector<std::string>{"0: KESTROVAswap disk       1.0 ", "2: KESTROVAsampler         1.0 ",
                                                      "5: KESTROVAzip             1.0 ", "7: HA aic78xx"}));
        appState.bufferBlocks = 128;
        copyToFile(0, 2, 400, "sampler");
        copyFromFile(0, 5, 400, "zip", 43);
        copyDisk(0, 2, 0, 5, 400, "sampler", "zip");
        EXPECT_EQ(emulatedStack().volume("\\\\?\\Volume{f3}").locks, 1);
        EXPECT_EQ(damage(), 0);
    }
    for (const CapturedBox &box : boxes.boxes())
        ADD_FAILURE() << "unexpected message " << describe(box);
}

/* The system volume says nothing of its disk: everything is read, no disk is written. */
TEST_F(MachineJourney, WithTheSystemDiskUnknownDisksAreReadButNeverWritten)
{
    load(unknownSystemDisk());
    ASSERT_NO_FATAL_FAILURE(bindAndScan(2));
    EXPECT_STREQ(adapterTable.adapters[0].name, "lsi_sas [0]");
    EXPECT_EQ(shown(0), (std::vector<std::string>{"1: KESTROVAsampler         1.0 ", "7: HA lsi_sas"}));
    EXPECT_EQ(shown(1), (std::vector<std::string>{"0: KESTROVAzip             1.0 ", "7: HA USB/1394"}));
    appState.bufferBlocks = 128;
    copyToFile(0, 1, 400, "sampler");
    copyToFile(1, 0, 400, "zip");
    for (auto [adapter, target, unit] : {std::tuple<uint8_t, uint8_t, const char *>{0, 1, "sampler"}, {1, 0, "zip"}}) {
        SCOPED_TRACE(unit);
        const Bytes before = medium(unit);
        SRB_ExecSCSICmd srb = writeSector(adapter, target, 44);
        EXPECT_EQ(srb.SRB_Status, SS_ERR);
        EXPECT_EQ(srb.SenseArea[2], 0x07);
        EXPECT_TRUE(medium(unit) == before);
        EXPECT_FALSE(reached(unit, 0x2A));
    }
    EXPECT_NE(traceText().find("(the disk of the system volume is not known)"), std::string::npos);
}

/* Every command not known only to read, with data in, out or no direction, to every protected or
   internal disk of the three PCs (the internal ones shown by the expert setting): refused with
   DATA PROTECT, the rule in the trace, nothing reaching the disk. Reading them goes on. */
TEST_F(MachineJourney, WriteCommandsNeverReachAProtectedOrInternalDisk)
{
    SetEnvironmentVariableA(kInternalPortsVariable, "1");
    struct Disk {
        MachineProfile (*machine)();
        uint8_t adapters, adapter, target;
        const char *unit, *rule;
    };
    const Disk disks[] = {
        {windows10Desktop, 5, 2, 0, "system ssd", "the disk is on an internal bus"},
        {windows10Desktop, 5, 3, 0, "data disk", "the disk is on an internal bus"},
        {windows10Desktop, 5, 4, 0, "nvme", "the disk is on an internal bus"},
        {windowsXp, 2, 0, 0, "swap disk", "the disk holds a page file"},
        {windowsXp, 2, 1, 0, "system disk", "the disk is on an internal bus"},
        {unknownSystemDisk, 3, 0, 1, "sampler", "the disk of the system volume is not known"},
        {unknownSystemDisk, 3, 2, 0, "system disk", "the disk is on an internal bus"},
    };
    struct Command {
        std::vector<uint8_t> cdb;
        uint32_t length;
    };
    const Command writes[] = {
        {{0x0A, 0, 0, 0, 1, 0}, 512},                                        /* WRITE(6) */
        {{0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512},                            /* WRITE(10) */
        {{0x8A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 512},          /* WRITE(16) */
        {{0x51, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512},                            /* XPWRITE(10) */
        {{0x41, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512},                            /* WRITE SAME(10) */
        {{0x04, 0, 0, 0, 0, 0}, 0},                                          /* FORMAT UNIT */
        {{0x15, 0x10, 0, 0, 12, 0}, 12},                                     /* MODE SELECT(6) */
        {{0x9E, 0x1F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 512},       /* SERVICE ACTION IN, not a read */
        {{0xA4, 0x06, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0}, 12},                   /* MAINTENANCE OUT */
    };
    MachineProfile (*loaded)() = nullptr;
    uint8_t buffer[512] = {};
    for (const Disk &d : disks) {
        SCOPED_TRACE(d.unit);
        if (loaded != d.machine) {
            load(d.machine());
            ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | d.adapters);
            loaded = d.machine;
        }
        const Bytes before = medium(d.unit);
        for (const Command &c : writes)
            for (uint8_t flags : {SRB_DIR_IN, SRB_DIR_OUT, uint8_t(0)}) {
                SCOPED_TRACE(testing::Message() << "opcode " << std::hex << int(c.cdb[0]) << " flags " << int(flags));
                SRB_ExecSCSICmd srb = execute(d.adapter, d.target, c.cdb, flags, buffer, c.length);
                EXPECT_EQ(srb.SRB_Status, SS_ERR);
                EXPECT_EQ(srb.SenseArea[2], 0x07);
                EXPECT_EQ(srb.SenseArea[12], 0x27);
                EXPECT_FALSE(reached(d.unit, c.cdb[0]));
            }
        EXPECT_EQ(execute(d.adapter, d.target, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, SRB_DIR_IN, buffer, 512).SRB_Status,
                  SS_COMP);
        EXPECT_TRUE(medium(d.unit) == before);
        EXPECT_NE(traceText().find(std::string("(") + d.rule + ")"), std::string::npos);
    }
}

/* Each rule alone on the XP machine, where nothing else would stop the write: a WRITE(10) of one
   sector is refused with that rule, or goes through when nothing is in the way. */
TEST_F(MachineJourney, EachProtectionRuleRefusesOnItsOwn)
{
    const std::string nul(1, '\0');
    struct Case {
        const char *name;
        void (*change)(MachineProfile &);
        uint8_t target;
        const char *unit, *rule;
    };
    const Case cases[] = {
        {"nothing in the way", [](MachineProfile &) {}, 2, "sampler", nullptr},
        {"Windows on the ZIP drive", [](MachineProfile &m) { m.systemDirectory = "F:\\WINDOWS\\system32"; }, 5, "zip",
         "the disk holds the system volume"},
        {"a page file named only in ExistingPageFiles",
         [](MachineProfile &m) {
             m.pagingFiles = "C:\\pagefile.sys 768 1536";
             m.existingPageFiles = std::string("\\??\\C:\\pagefile.sys") + '\0' + "\\??\\E:\\pagefile.sys";
             m.volumes[1].openFiles = false;
         },
         0, "swap disk", "the disk holds a page file"},
        {"a page file on a drive that is no disk",
         [](MachineProfile &m) { m.pagingFiles += std::string(1, '\0') + "Q:\\pagefile.sys 0 0"; }, 2, "sampler",
         "the disk of a page file is not known"},
        {"the system partition on the ZIP drive",
         [](MachineProfile &m) { m.systemPartition = "\\Device\\HarddiskVolume3"; }, 5, "zip",
         "the disk holds the system partition"},
        {"a volume that does not say which disk it lies on",
         [](MachineProfile &m) { m.volumes.push_back({"\\\\?\\Volume{99}", "\\Device\\HarddiskVolume9", 0, {"sampler"}, false, false}); },
         2, "sampler", "a volume does not say which disk it lies on"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MachineProfile machine = windowsXp();
        c.change(machine);
        load(machine);
        ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
        const Bytes before = medium(c.unit);
        SRB_ExecSCSICmd srb = writeSector(0, c.target, 45);
        if (!c.rule) {
            EXPECT_EQ(srb.SRB_Status, SS_COMP);
            EXPECT_FALSE(medium(c.unit) == before);
            continue;
        }
        EXPECT_EQ(srb.SRB_Status, SS_ERR);
        EXPECT_EQ(srb.SenseArea[2], 0x07);
        EXPECT_TRUE(medium(c.unit) == before);
        EXPECT_FALSE(reached(c.unit, 0x2A));
        EXPECT_NE(traceText().find(std::string("(") + c.rule + ")"), std::string::npos);
    }
}

/* The ZIP drive of the XP machine with its volume F:. A second volume on it that cannot be
   locked stops the write and lets F: go; the second write to a prepared disk takes no new lock;
   after a cartridge swap that only the drive's unit attention tells, the new volume is locked
   before the next write; listing the adapters again releases every lock. */
TEST_F(MachineJourney, LocksHoldUntilTheMediumChangesOrTheAdaptersAreListedAgain)
{
    MachineProfile twoVolumes = windowsXp();
    twoVolumes.volumes.push_back({"\\\\?\\Volume{h3}", "\\Device\\HarddiskVolume4", 'H', {"zip"}, true, true});
    load(twoVolumes);
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    const Bytes before = medium("zip");
    EXPECT_EQ(writeSector(0, 5, 46).SRB_Status, SS_ERR);
    EXPECT_EQ(emulatedStack().volume("\\\\?\\Volume{f3}").lockedBy, nullptr) << "F: released again";
    EXPECT_TRUE(medium("zip") == before);

    load(windowsXp());
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    EmulatedVolume &f = emulatedStack().volume("\\\\?\\Volume{f3}");
    EXPECT_EQ(writeSector(0, 5, 47).SRB_Status, SS_COMP);
    EXPECT_EQ(writeSector(0, 5, 48).SRB_Status, SS_COMP);
    EXPECT_EQ(f.locks, 1) << "no new lock for the second write";

    writeWholeFile(pathOf("cartridge 2.img"), Bytes(400 * 512, 0));
    swapMedium(emulatedStack().unit("zip"), pathOf("cartridge 2.img"), false);
    SRB_ExecSCSICmd attention = writeSector(0, 5, 49);
    EXPECT_EQ(attention.SRB_Status, SS_ERR);
    EXPECT_EQ(attention.SenseArea[2], 0x06) << "the unit attention, passed back";
    EXPECT_EQ(writeSector(0, 5, 50).SRB_Status, SS_COMP);
    EXPECT_EQ(f.locks, 2) << "the new cartridge's volume locked";
    EXPECT_EQ(damage(), 0);

    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    EXPECT_EQ(f.lockedBy, nullptr) << "listing the adapters again released the lock";
}

/* The USB drives unplugged and plugged in again, each under the other's old name; then the ZIP
   drive once more while the bridge holds its handle. Writes still go to the ZIP drive; when it
   has gone for good there is no device. */
TEST_F(MachineJourney, ADrivePluggedInAgainIsFoundByItsAddress)
{
    load(windows10Desktop());
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 2);
    EmulatedUnit &zip = emulatedStack().unit("zip");
    EmulatedUnit &usbMo = emulatedStack().unit("usb mo");
    plugAgain(zip, "PhysicalDrive6");
    plugAgain(usbMo, "PhysicalDrive5");
    appState.adapterCount = 2;
    ASSERT_EQ(scanBus(form()), 1);
    EXPECT_STREQ(adapterTable.adapters[1].devices[1].label, "1: KESTROVAzip             1.0 ");
    appState.bufferBlocks = 128;
    const Bytes usbMoBefore = medium("usb mo");
    copyFromFile(1, 1, 400, "zip", 51);
    plugAgain(zip, "PhysicalDrive7");
    copyFromFile(1, 1, 400, "zip", 52);
    EXPECT_TRUE(medium("usb mo") == usbMoBefore) << "written through the old name";

    zip.present = false;
    EXPECT_EQ(writeSector(1, 1, 53).SRB_Status, SS_NO_DEVICE);
}
