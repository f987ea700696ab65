/*
 * The bridge on the PCs users have (machine_profiles.cpp): what the program's own scan shows on
 * each, the three copy directions on their SCSI and USB drives, no write command reaching a
 * protected or internal disk whatever its direction flags, each protection rule on its own, the
 * volume locks across chunks, media changes and a new inventory, and a drive plugged in again
 * under another name.
 */
#include "machine_journey.h"
#include "app_state.h"
#include "bridge.h"
#include "message_box_watch.h"

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

namespace {

/* The Windows 10 desktop with a page file on the MO disk (optical memory, type 7). */
MachineProfile windows10PageFileOnMo()
{
    MachineProfile machine = windows10Desktop();
    machine.pagingFiles = "F:\\pagefile.sys 0 0";
    return machine;
}

struct Command {
    std::vector<uint8_t> cdb;
    uint32_t length;              /* data out, or none */
};

/* Write-type commands of disks and optical memory (SBC-3), and of CD/DVD drives (MMC-5). */
const std::vector<Command> kDiskWrites = {
    {{0x0A, 0, 0, 0, 1, 0}, 512},                                        /* WRITE(6) */
    {{0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512},                            /* WRITE(10) */
    {{0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 512},                      /* WRITE(12) */
    {{0x8A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 512},          /* WRITE(16) */
    {{0x2E, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512},                            /* WRITE AND VERIFY(10) */
    {{0xAE, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 512},                      /* WRITE AND VERIFY(12) */
    {{0x8E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 512},          /* WRITE AND VERIFY(16) */
    {{0x41, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512},                            /* WRITE SAME(10) */
    {{0x93, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 512},          /* WRITE SAME(16) */
    {{0x3F, 0, 0, 0, 0, 0, 0, 2, 0, 0}, 512},                            /* WRITE LONG(10) */
    {{0x89, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 512},          /* COMPARE AND WRITE */
    {{0x51, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512},                            /* XPWRITE(10) */
    {{0x3B, 0x02, 0, 0, 0, 0, 0, 2, 0, 0}, 512},                         /* WRITE BUFFER */
    {{0x04, 0, 0, 0, 0, 0}, 0},                                          /* FORMAT UNIT */
    {{0x42, 0, 0, 0, 0, 0, 0, 0, 24, 0}, 24},                            /* UNMAP */
    {{0x07, 0, 0, 0, 0, 0}, 0},                                          /* REASSIGN BLOCKS */
    {{0x2C, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0},                              /* ERASE(10), optical memory */
    {{0x3D, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},                              /* UPDATE BLOCK, optical memory */
    {{0x48, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, 0},                           /* SANITIZE */
    {{0x15, 0x10, 0, 0, 12, 0}, 12},                                     /* MODE SELECT(6) */
    {{0x55, 0x10, 0, 0, 0, 0, 0, 0, 12, 0}, 12},                         /* MODE SELECT(10) */
    {{0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},                              /* SYNCHRONIZE CACHE(10) */
    {{0x1B, 0, 0, 0, 0x02, 0}, 0},                                       /* START STOP UNIT (eject) */
    {{0x5F, 0x00, 0, 0, 0, 0, 0, 0, 24, 0}, 24},                         /* PERSISTENT RESERVE OUT */
    {{0x9F, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}, 512},       /* WRITE LONG(16) */
    {{0x9E, 0x1F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 512},       /* SERVICE ACTION IN, not a read */
    {{0xA4, 0x06, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0}, 12},                   /* MAINTENANCE OUT */
    {{0xB5, 0xEF, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0}, 12},                   /* SECURITY PROTOCOL OUT */
};
const std::vector<Command> kCdWrites = {
    {{0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048},                           /* WRITE(10) */
    {{0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 2048},                     /* WRITE(12) */
    {{0x2E, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048},                           /* WRITE AND VERIFY(10) */
    {{0x04, 0x11, 0, 0, 0, 0}, 12},                                      /* FORMAT UNIT */
    {{0xA1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},                     /* BLANK */
    {{0x5B, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}, 0},                           /* CLOSE TRACK/SESSION */
    {{0x53, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0},                              /* RESERVE TRACK */
    {{0x5D, 0, 0, 0, 0, 0, 0, 0, 24, 0}, 24},                            /* SEND CUE SHEET */
    {{0x54, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, 0},                           /* SEND OPC INFORMATION */
    {{0x58, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 0},                        /* REPAIR TRACK */
    {{0xBF, 0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0}, 12},                      /* SEND DISC STRUCTURE */
    {{0xA3, 0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0}, 12},                      /* SEND KEY */
    {{0x55, 0x10, 0, 0, 0, 0, 0, 0, 12, 0}, 12},                         /* MODE SELECT(10) */
    {{0x3B, 0x02, 0, 0, 0, 0, 0, 2, 0, 0}, 512},                         /* WRITE BUFFER */
    {{0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0}, 28},                      /* SET STREAMING */
    {{0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, 0},            /* SET CD SPEED */
    {{0xA6, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0}, 0},                     /* LOAD/UNLOAD MEDIUM */
    {{0x1B, 0, 0, 0, 0x02, 0}, 0},                                       /* START STOP UNIT (eject) */
    {{0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},                              /* SYNCHRONIZE CACHE */
};

}  // namespace

/* Every write-type command of each device type, sent as data out (or no data) and with the
   direction flags wrong or missing, to every protected or internal disk of the PCs (the internal
   ones shown by the expert setting), to an MO disk holding a page file and to a DVD recorder whose
   UDF volume is in use: refused with DATA PROTECT and the rule in the trace (or, flags against
   the command, as a bad request), nothing reaching the device. Reading them goes on. */
TEST_F(MachineJourney, WriteCommandsNeverReachAProtectedOrInternalDisk)
{
    SetEnvironmentVariableA(kInternalPortsVariable, "1");
    struct Disk {
        MachineProfile (*machine)();
        uint8_t adapters, adapter, target;
        const char *unit, *rule;
        const std::vector<Command> &writes;
        std::vector<uint8_t> read;
    };
    const std::vector<uint8_t> read10 = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    const Disk disks[] = {
        {windows10Desktop, 5, 2, 0, "system ssd", "the disk is on an internal bus", kDiskWrites, read10},
        {windows10Desktop, 5, 3, 0, "data disk", "the disk is on an internal bus", kDiskWrites, read10},
        {windows10Desktop, 5, 4, 0, "nvme", "the disk is on an internal bus", kDiskWrites, read10},
        {windows10PageFileOnMo, 5, 0, 5, "mo", "the disk holds a page file", kDiskWrites, read10},
        {windowsXp, 2, 0, 0, "swap disk", "the disk holds a page file", kDiskWrites, read10},
        {windowsXp, 2, 1, 0, "system disk", "the disk is on an internal bus", kDiskWrites, read10},
        {unknownSystemDisk, 3, 0, 1, "sampler", "the disk of the system volume is not known", kDiskWrites, read10},
        {unknownSystemDisk, 3, 2, 0, "system disk", "the disk is on an internal bus", kDiskWrites, read10},
        {windowsXpWithDvdRecorder, 2, 0, 4, "dvd-ram", "a volume on the disk is in use and cannot be locked", kCdWrites,
         {0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0}},
    };
    MachineProfile (*loaded)() = nullptr;
    uint8_t buffer[2048] = {};
    for (const Disk &d : disks) {
        SCOPED_TRACE(d.unit);
        if (loaded != d.machine) {
            load(d.machine());
            ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | d.adapters);
            loaded = d.machine;
        }
        const Bytes before = medium(d.unit);
        for (const Command &c : d.writes)
            for (uint8_t flags : {SRB_DIR_OUT, SRB_DIR_IN, uint8_t(0)}) {
                SCOPED_TRACE(testing::Message() << "opcode " << std::hex << int(c.cdb[0]) << " flags " << int(flags));
                SRB_ExecSCSICmd srb = execute(d.adapter, d.target, c.cdb, flags, buffer, c.length);
                EXPECT_FALSE(reached(d.unit, c.cdb[0]));
                if (flags != SRB_DIR_OUT && c.length > 0 && srb.SRB_Status == SS_INVALID_SRB)
                    continue;
                EXPECT_EQ(srb.SRB_Status, SS_ERR);
                EXPECT_EQ(srb.SenseArea[2], 0x07);
                EXPECT_EQ(srb.SenseArea[12], 0x27);
            }
        EXPECT_NE(execute(d.adapter, d.target, d.read, SRB_DIR_IN, buffer, 512).SenseArea[2], 0x07);
        EXPECT_TRUE(reached(d.unit, d.read[0])) << "reading goes on";
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
   across a cartridge swap that only the drive's unit attention tells, F: stays locked; listing
   the adapters again releases every lock. */
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
    EXPECT_EQ(writeSector(0, 5, 49).SRB_Status, SS_COMP) << "CHECK_VERIFY met the unit attention";
    EXPECT_EQ(writeSector(0, 5, 50).SRB_Status, SS_COMP);
    EXPECT_EQ(f.locks, 1) << "F: stayed locked and dismounted across the swap";
    EXPECT_EQ(damage(), 0);

    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    EXPECT_EQ(f.lockedBy, nullptr) << "listing the adapters again released the lock";
}

/* The USB drives unplugged and plugged in again, each under the other's old name; then the ZIP
   drive once more while the bridge holds its handle: the write in flight is not sent again, the
   next ones go to the ZIP drive; when it has gone for good there is no device. */
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
    EXPECT_EQ(writeSector(1, 1, 52).SRB_Status, SS_NO_DEVICE) << "a write is not sent again to what answers now";
    copyFromFile(1, 1, 400, "zip", 53);
    EXPECT_TRUE(medium("usb mo") == usbMoBefore) << "written through the old name";

    zip.present = false;
    EXPECT_EQ(writeSector(1, 1, 54).SRB_Status, SS_NO_DEVICE);
}
