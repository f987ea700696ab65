/*
 * The bridge where Windows is least kind: class devices that answer for units not theirs, drives
 * that cannot be told apart, RAID miniports calling themselves SCSI, bus resets and cartridge
 * swaps in the middle of a restore, volumes that vanish or lie on no disk, sense data short or
 * missing, more adapters than the program shows, pool members and DVD recorders. Each through
 * ASPI on an emulated PC.
 */
#include "machine_journey.h"
#include "bridge.h"

namespace {

const std::vector<uint8_t> kRead1 = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};

/* Gives a unit the INQUIRY texts and serial number of another, as two drives of one model. */
void makeTwin(EmulatedUnit &unit, const char *product, const char *serial)
{
    setInquiryText(*unit.device, "KESTROVA", product, "1.0");
    unit.serial = serial;
}

}  // namespace

/* Class devices that answer addresses on the XP machine's SCSI card: a USB MO drive whose driver
   gives the address of the sampler disk at id 2; a disk giving that of the sampler at id 4, which
   the port lists as claimed by no class driver; another disk giving that of the ZIP drive at id 5.
   The samplers at ids 2 and 4 get their writes, the USB drive is on the USB/1394 adapter, and the
   ZIP drive that two class devices answer for is not used: SS_NO_DEVICE, the trace says why. */
TEST_F(MachineJourney, AUnitIsReachedOnlyThroughItsOwnClassDevice)
{
    MachineProfile machine = windowsXp();
    machine.ports.push_back({2, PortModel::Storport, "usbstor", bus_type::kUsb, 1, 64 * 1024, 17, 0, false});
    machine.units.push_back({"sampler 4", 1, 0, 4, "", bus_type::kScsi, 0x03, false, 512, 400, true});
    machine.units.push_back({"stray disk", 2, 0, 0, "PhysicalDrive4", bus_type::kSas, 0x00, false, 512, 400, true});
    machine.units.push_back({"usb mo", 2, 0, 1, "PhysicalDrive5", bus_type::kUsb, 0x07, true, 512, 400, true});
    machine.units.push_back({"second path", 2, 0, 2, "PhysicalDrive6", bus_type::kSas, 0x00, true, 512, 400, true});
    load(machine);
    for (auto [unit, target] : {std::pair<const char *, uint8_t>{"stray disk", 4}, {"usb mo", 2}, {"second path", 5}}) {
        emulatedStack().unit(unit).answersPort = 1;
        emulatedStack().unit(unit).answersTarget = target;
    }
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 2) << "the card and the USB/1394 adapter";

    for (auto [target, unit] : {std::pair<uint8_t, const char *>{2, "sampler"}, {4, "sampler 4"}}) {
        SCOPED_TRACE(unit);
        EXPECT_EQ(writeSector(0, target, 60).SRB_Status, SS_COMP);
        EXPECT_TRUE(reached(unit, 0x2A));
    }
    EXPECT_FALSE(reached("stray disk", 0x2A) || reached("usb mo", 0x2A));
    SRB_GDEVBlock type = {SC_GET_DEV_TYPE, 0, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(send(&type), SS_COMP);
    EXPECT_EQ(type.SRB_DeviceType, 0x07) << "the USB MO drive on the USB/1394 adapter";

    type = {SC_GET_DEV_TYPE, 0, 0, 0, 0, 5, 0, 0, 0};
    EXPECT_EQ(send(&type), SS_NO_DEVICE);
    EXPECT_EQ(writeSector(0, 5, 61).SRB_Status, SS_NO_DEVICE);
    EXPECT_FALSE(reached("zip", 0x2A) || reached("second path", 0x2A));
    EXPECT_NE(traceText().find("both answer port 1 bus 0 target 5 lun 0: the unit is not used"), std::string::npos);
}

/* Two identical USB ZIP drives without serial numbers whose driver gives no address, and a card
   reader with two LUNs of one identity. Both ZIP drives unplugged and plugged in again, each under
   the other's name: the write in flight is not sent again, and the drive is not found again by
   its identity alone (both answer as it). The reader's LUN 1, plugged in again, is found by its
   address. */
TEST_F(MachineJourney, IdenticalDrivesThatCannotBeToldApartAreNotWritten)
{
    MachineProfile machine = windows10Desktop();
    for (const char *name : {"twin a", "twin b"})
        machine.units.push_back({name, 3, 0, 2, name[5] == 'a' ? "PhysicalDrive7" : "PhysicalDrive8", bus_type::kUsb,
                                 0x00, true, 512, 400, false});
    for (uint8_t lun : {0, 1})
        machine.units.push_back({lun ? "reader 1" : "reader 0", 3, 0, 3, lun ? "PhysicalDrive10" : "PhysicalDrive9",
                                 bus_type::kUsb, 0x00, true, 512, 400, true});
    load(machine);
    makeTwin(emulatedStack().unit("twin a"), "twin", "");
    makeTwin(emulatedStack().unit("twin b"), "twin", "");
    makeTwin(emulatedStack().unit("reader 0"), "reader", "RDR");
    makeTwin(emulatedStack().unit("reader 1"), "reader", "RDR");
    emulatedStack().unit("reader 1").lun = 1;
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 2);
    /* The USB/1394 adapter in identity order, then name: reader 1 (PhysicalDrive10), reader 0,
       twin a, twin b, usb mo, zip. */
    EXPECT_EQ(writeSector(1, 2, 63).SRB_Status, SS_COMP);
    EXPECT_EQ(writeSector(1, 0, 64).SRB_Status, SS_COMP);
    const Bytes twinA = medium("twin a"), twinB = medium("twin b"), reader0 = medium("reader 0");

    plugAgain(emulatedStack().unit("twin a"), "PhysicalDrive8");
    plugAgain(emulatedStack().unit("twin b"), "PhysicalDrive7");
    plugAgain(emulatedStack().unit("reader 1"), "PhysicalDrive11");
    EXPECT_EQ(writeSector(1, 2, 65).SRB_Status, SS_NO_DEVICE) << "the write in flight";
    EXPECT_EQ(writeSector(1, 2, 66).SRB_Status, SS_NO_DEVICE) << "two drives answer as it";
    EXPECT_TRUE(medium("twin a") == twinA && medium("twin b") == twinB);
    EXPECT_EQ(writeSector(1, 0, 67).SRB_Status, SS_NO_DEVICE) << "the write in flight";
    EXPECT_EQ(writeSector(1, 0, 68).SRB_Status, SS_COMP) << "found again by its LUN";
    const Bytes written = medium("reader 1"), sector = patternBytes(68, 512);
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), written.begin()));
    EXPECT_TRUE(medium("reader 0") == reader0);
}

/* A RAID miniport whose INF gives the bus type SCSI (megasas on Windows 10), and on Windows 2000,
   whose older adapter descriptor has a BOOLEAN where the bus type goes, a port whose driver the
   bridge does not know: neither is shown. */
TEST_F(MachineJourney, APortIsInternalWhenEitherItsBusTypeOrItsDriverSaysSo)
{
    struct Case {
        const char *name;
        MachineProfile (*machine)();
        EmulatedPort port;
        uint8_t adapters;
        const char *trace;
    };
    const Case cases[] = {
        {"RAID miniport", windows10Desktop, {4, PortModel::Storport, "megasas", bus_type::kScsi, 1, 128 * 1024, 33, 3}, 2,
         "port 4 not shown (internal)"},
        {"unknown driver on Windows 2000", windows2000, {2, PortModel::ScsiPort, "xyzscsi", bus_type::kScsi, 1,
         128 * 1024, 17, 3}, 1, "port 2 not shown (unknown)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MachineProfile machine = c.machine();
        machine.ports.push_back(c.port);
        machine.units.push_back({"disk", c.port.number, 0, 0, "PhysicalDrive9", bus_type::kScsi, 0x00, false, 512, 400,
                                 true});
        load(machine);
        EXPECT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | c.adapters);
        EXPECT_NE(traceText().find(c.trace), std::string::npos);
    }
}

/* The XP machine's ZIP drive, F: locked by the first write of a restore, Explorer ready to mount
   whatever is left unlocked. A bus reset before the next write, met by CHECK_VERIFY's own TEST
   UNIT READY, counted by the class driver, or met by a READ of the drive: the next write goes
   through under the same lock, and Explorer never gets F:. */
TEST_F(MachineJourney, BusResetsDoNotLetGoOfTheLocks)
{
    struct Case {
        const char *name;
        bool classNotices, readFirst;
    };
    const Case cases[] = {
        {"met by CHECK_VERIFY", false, false},
        {"counted by the class driver", true, false},
        {"met by a READ", false, true},
    };
    uint8_t buffer[512];
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        load(windowsXp());
        emulatedStack().explorerMounts = true;
        ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
        EmulatedVolume &f = emulatedStack().volume("\\\\?\\Volume{f3}");
        EXPECT_EQ(writeSector(0, 5, 70).SRB_Status, SS_COMP);
        resetBus(1, 0, c.classNotices);
        if (c.readFirst) {
            EXPECT_EQ(execute(0, 5, kRead1, SRB_DIR_IN, buffer, 512).SenseArea[2], 0x06) << "passed back";
        }
        EXPECT_EQ(writeSector(0, 5, 71).SRB_Status, SS_COMP);
        EXPECT_EQ(f.locks, 1);
        EXPECT_FALSE(f.openFiles) << "Explorer mounted F: in a gap";
        EXPECT_EQ(damage(), 0);
    }
}

/* A cartridge swapped in the XP machine's ZIP drive without the class driver noticing: the old
   cartridge's file system stays mounted on F:. A READ of the drive meets the unit attention,
   which Windows never sees: the bridge dismounts F:, so that what Windows mounts next is the new
   cartridge. */
TEST_F(MachineJourney, AMediumChangeOnlyTheBridgeSawDismountsTheOldFileSystem)
{
    load(windowsXp());
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    writeWholeFile(pathOf("cartridge 2.img"), Bytes(400 * 512, 0));
    swapMedium(emulatedStack().unit("zip"), pathOf("cartridge 2.img"), false);
    EmulatedVolume &f = emulatedStack().volume("\\\\?\\Volume{f3}");
    ASSERT_TRUE(staleMount(f));
    uint8_t buffer[512];
    SRB_ExecSCSICmd read = execute(0, 5, kRead1, SRB_DIR_IN, buffer, 512);
    EXPECT_EQ(read.SenseArea[2], 0x06);
    EXPECT_EQ(read.SenseArea[12], 0x28);
    EXPECT_FALSE(staleMount(f)) << "the old cartridge's file system is still mounted";
}

/* Requests that are refused anyway (a WRITE(10) with data in, one longer than the port takes)
   leave the ZIP drive's F: as it was: not locked, not dismounted. */
TEST_F(MachineJourney, ARequestRefusedAnywayLocksNothing)
{
    load(windowsXp());
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    std::vector<uint8_t> buffer(160 * 512);
    EXPECT_EQ(execute(0, 5, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, SRB_DIR_IN, buffer.data(), 512).SRB_Status,
              SS_INVALID_SRB);
    EXPECT_EQ(execute(0, 5, {0x2A, 0, 0, 0, 0, 0, 0, 0, 160, 0}, SRB_DIR_OUT, buffer.data(), 160 * 512).SRB_Status,
              SS_BUFFER_TO_BIG);
    const EmulatedVolume &f = emulatedStack().volume("\\\\?\\Volume{f3}");
    EXPECT_EQ(f.locks, 0);
    EXPECT_TRUE(f.mounted);
}

/* A restore of the XP machine's ZIP drive while a stick's volume vanished after Windows listed it
   and another tool holds a volume of the page-file disk locked: every write goes through, the
   volumes listed once for the whole restore and again only once the cartridge changed. */
TEST_F(MachineJourney, VolumesOfOtherDisksDoNotStopARestore)
{
    MachineProfile machine = windowsXp();
    machine.volumes.push_back({"\\\\?\\Volume{u9}", "\\Device\\HarddiskVolume9", 'U', {"swap disk"}, false, true});
    machine.volumes.push_back({"\\\\?\\Volume{b7}", "\\Device\\HarddiskVolume7", 'B', {"swap disk"}, false, true});
    load(machine);
    emulatedStack().volume("\\\\?\\Volume{u9}").vanished = true;
    static const int otherTool = 0;
    EmulatedVolume &locked = emulatedStack().volume("\\\\?\\Volume{b7}");
    locked.lockedBy = &otherTool;
    locked.lockedMount = locked.mount;
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    const int listedBefore = emulatedStack().volumeListings;
    for (uint32_t chunk = 0; chunk < 4; chunk++)
        EXPECT_EQ(writeSector(0, 5, 72 + chunk).SRB_Status, SS_COMP);
    EXPECT_EQ(emulatedStack().volumeListings - listedBefore, 1);

    writeWholeFile(pathOf("cartridge 2.img"), Bytes(400 * 512, 0));
    swapMedium(emulatedStack().unit("zip"), pathOf("cartridge 2.img"), true);
    EXPECT_EQ(writeSector(0, 5, 76).SRB_Status, SS_COMP);
    EXPECT_EQ(emulatedStack().volumeListings - listedBefore, 2);
    EXPECT_EQ(damage(), 0);
}

/* A READ beyond the sampler disk's last sector (ILLEGAL REQUEST, LBA out of range) into a sense
   area still holding an older reply: through a port that brings no sense data back (the bridge
   asks with REQUEST SENSE) and one that brings 8 bytes. No byte of the older reply is left. */
TEST_F(MachineJourney, NoSenseByteOfAnOlderReplyIsLeft)
{
    struct Case {
        const char *name;
        bool autosense;
        uint8_t autosenseLength, asc;
    };
    const Case cases[] = {{"no autosense", false, 0, 0x21}, {"8 bytes of autosense", true, 8, 0x00}};
    uint8_t buffer[512];
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        load(windowsXp());
        EmulatedUnit &sampler = emulatedStack().unit("sampler");
        sampler.autosense = c.autosense;
        sampler.autosenseLength = c.autosenseLength;
        ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
        SRB_ExecSCSICmd srb = {};
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_Flags = SRB_DIR_IN;
        srb.SRB_Target = 2;
        srb.SRB_BufLen = 512;
        srb.SRB_BufPointer = buffer;
        srb.SRB_SenseLen = kSenseLength;
        srb.SRB_CDBLen = 10;
        const uint8_t beyond[10] = {0x28, 0, 0, 0, 0x01, 0x90, 0, 0, 1, 0};
        std::copy(beyond, beyond + 10, srb.CDBByte);
        std::fill(srb.SenseArea, srb.SenseArea + kSenseLength, 0xEE);
        EXPECT_EQ(send(&srb), SS_ERR);
        EXPECT_EQ(srb.SenseArea[2], kSenseIllegalRequest);
        EXPECT_EQ(srb.SenseArea[12], c.asc);
        for (int i = 18; i < kSenseLength; i++)
            EXPECT_EQ(srb.SenseArea[i], 0) << "byte " << i;
    }
}

/* A server: a SAS HBA with a fixed disk on each of its four buses, an iSCSI disk, a SCSI card with
   an MO drive and a USB ZIP drive. Of its seven adapters the program shows four: the MO drive's
   card and the USB/1394 adapter are among them, first; the trace names those left out. */
TEST_F(MachineJourney, OnAServerTheRemovableDrivesComeFirst)
{
    MachineProfile server;
    server.ports = {{0, PortModel::Storport, "storahci", bus_type::kSata, 1, 128 * 1024, 33, 3},
                    {1, PortModel::Storport, "lsi_sas", bus_type::kSas, 4, 1024 * 1024, 257, 3},
                    {2, PortModel::Storport, "iscsiprt", 0x09, 1, 256 * 1024, 65, 3},
                    {3, PortModel::ScsiPort, "aic78xx", bus_type::kScsi, 1, 128 * 1024, 17, 3},
                    {4, PortModel::Storport, "usbstor", bus_type::kUsb, 1, 64 * 1024, 17, 0, false}};
    server.units = {{"system disk", 0, 0, 0, "PhysicalDrive0", bus_type::kSata, 0x00, false, 512, 400, true},
                    {"sas 0", 1, 0, 0, "PhysicalDrive1", bus_type::kSas, 0x00, false, 512, 400, true},
                    {"sas 1", 1, 1, 0, "PhysicalDrive2", bus_type::kSas, 0x00, false, 512, 400, true},
                    {"sas 2", 1, 2, 0, "PhysicalDrive3", bus_type::kSas, 0x00, false, 512, 400, true},
                    {"sas 3", 1, 3, 0, "PhysicalDrive4", bus_type::kSas, 0x00, false, 512, 400, true},
                    {"iscsi", 2, 0, 0, "PhysicalDrive5", 0x09, 0x00, false, 512, 400, true},
                    {"mo", 3, 0, 5, "PhysicalDrive6", bus_type::kScsi, 0x07, true, 2048, 200, true},
                    {"zip", 4, 0, 0, "PhysicalDrive7", bus_type::kUsb, 0x00, true, 512, 400, true}};
    server.volumes = {{"\\\\?\\Volume{c0}", "\\Device\\HarddiskVolume1", 'C', {"system disk"}, true, true}};
    server.pagingFiles = "C:\\pagefile.sys 0 0";
    load(server);
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 7);
    for (auto [adapter, name] : {std::pair<uint8_t, const char *>{0, "aic78xx"}, {1, "USB/1394"}, {2, "lsi_sas 0"}}) {
        SRB_HAInquiry inquiry = {SC_HA_INQUIRY, 0, adapter, 0, 0, 0, 0, {}, {}, {}, 0};
        EXPECT_EQ(send(&inquiry), SS_COMP);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(inquiry.HA_Identifier), strlen(name)), name);
    }
    EXPECT_NE(traceText().find("\"lsi_sas 3\" (beyond the fourth: the program does not show it)"), std::string::npos);
}

/* Volumes that lie on no disk stop no write: a diskette in a USB floppy drive (A:, floppy number 0,
   a file open on it) when the disk written is PhysicalDrive0, and the ZIP drive's own F: while it
   has no cartridge, where the drive's NOT READY is the answer, not DATA PROTECT. */
TEST_F(MachineJourney, AVolumeOnNoDiskStopsNoWrite)
{
    MachineProfile floppy = windowsXp();
    floppy.units[0].classDevice = "PhysicalDrive2";   /* the system disk */
    floppy.units[3].classDevice = "PhysicalDrive0";   /* the sampler */
    floppy.ports.push_back({2, PortModel::Storport, "usbstor", bus_type::kUsb, 1, 64 * 1024, 17, 0, false});
    floppy.units.push_back({"usb floppy", 2, 0, 0, "Floppy0", bus_type::kUsb, 0x00, true, 512, 2880, false});
    floppy.volumes.push_back({"\\\\?\\Volume{a0}", "\\Device\\Floppy0", 'A', {"usb floppy"}, true, true});
    load(floppy);
    emulatedStack().volume("\\\\?\\Volume{a0}").extentsReadable = false;
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    EXPECT_EQ(writeSector(0, 2, 77).SRB_Status, SS_COMP) << "the sampler disk, PhysicalDrive0";
    EXPECT_EQ(emulatedStack().volume("\\\\?\\Volume{a0}").locks, 0);

    load(windowsXp());
    emulatedStack().unit("zip").device->noMedium = true;
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    SRB_ExecSCSICmd empty = writeSector(0, 5, 78);
    EXPECT_EQ(empty.SRB_Status, SS_ERR);
    EXPECT_EQ(empty.SenseArea[2], kSenseNotReady);
    EXPECT_EQ(empty.SenseArea[12], kAscNoMedium);
}

/* Two disks on a SAS HBA with no volume of their own: a member of a Storage Spaces pool and a
   dynamic disk of a RAID set. Neither is written; the rule is in the trace. */
TEST_F(MachineJourney, PoolAndRaidSetMembersAreNeverWritten)
{
    MachineProfile machine = windows10Desktop();
    machine.ports.push_back({4, PortModel::Storport, "lsi_sas", bus_type::kSas, 1, 1024 * 1024, 257, 3});
    machine.units.push_back({"pool member", 4, 0, 0, "PhysicalDrive7", bus_type::kSas, 0x00, false, 512, 400, true});
    machine.units.push_back({"dynamic disk", 4, 0, 1, "PhysicalDrive8", bus_type::kSas, 0x00, false, 512, 400, true});
    load(machine);
    emulatedStack().unit("pool member").gptPartitions = {
        {0xE75CAF8F, 0xF680, 0x4CEE, {0xAF, 0xA3, 0xB0, 0x01, 0xE5, 0x6E, 0xFC, 0x2D}}};
    emulatedStack().unit("dynamic disk").mbrPartitions = {0x42};
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 3);
    for (auto [target, unit] : {std::pair<uint8_t, const char *>{0, "pool member"}, {1, "dynamic disk"}}) {
        SCOPED_TRACE(unit);
        SRB_ExecSCSICmd srb = writeSector(1, target, 79);
        EXPECT_EQ(srb.SRB_Status, SS_ERR);
        EXPECT_EQ(srb.SenseArea[2], kSenseDataProtect);
        EXPECT_FALSE(reached(unit, 0x2A));
    }
    EXPECT_NE(traceText().find("(the disk belongs to a Storage Spaces pool or a dynamic disk group)"),
              std::string::npos);
}

/* The DVD-RAM recorder of the XP machine with its UDF volume G: mounted, no file open on it:
   reading the disc's table of contents locks nothing; a write locks and dismounts G: first. */
TEST_F(MachineJourney, ADvdRecordersVolumeIsLockedBeforeAWrite)
{
    load(windowsXpWithDvdRecorder());
    EmulatedVolume &g = emulatedStack().volume("\\\\?\\Volume{g4}");
    g.openFiles = false;
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    uint8_t buffer[2048] = {};
    execute(0, 4, {0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0}, SRB_DIR_IN, buffer, 12);
    EXPECT_EQ(g.locks, 0);
    EXPECT_EQ(execute(0, 4, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, SRB_DIR_OUT, buffer, 2048).SRB_Status, SS_COMP);
    EXPECT_EQ(g.locks, 1);
    EXPECT_EQ(damage(), 0) << "written under the mounted UDF volume";
}
