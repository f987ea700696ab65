/* The machines of the bridge's tests, as tables. */
#include "machine_profiles.h"
#include "transfer_bench.h"

using namespace bus_type;

namespace {
const std::string kNul(1, '\0');
}

/* A Windows 10 desktop: StorAHCI with six SATA buses (the system SSD, a second data disk), StorNVMe
 * with the disk of the EFI system partition, a Storport SCSI card with a sampler disk at id 2 and
 * an MO drive of 2048-byte sectors at id 5, and two USB drives with class devices only (an MO
 * drive, and a ZIP drive behind a USB-SCSI converter that does not answer its address). The
 * card's MaximumPhysicalPages would wrap (pages - 1) x 4096 in 32 bits; drive D: spans two disks;
 * Windows numbered the ZIP drive before the USB MO drive. */
MachineProfile windows10Desktop()
{
    return {
        {{0, PortModel::Storport, "storahci", kSata, 6, 128 * 1024, 33, 3},
         {1, PortModel::Storport, "stornvme", kNvme, 1, 128 * 1024, 33, 3},
         {2, PortModel::Storport, "lsi_scsi", kScsi, 1, 1024 * 1024, 0x100001, 7},
         {3, PortModel::Storport, "usbstor", kUsb, 1, 64 * 1024, 17, 0, false}},
        {{"system ssd", 0, 0, 0, "PhysicalDrive0", kSata, 0x00, false, 512, 400, true},
         {"data disk", 0, 1, 0, "PhysicalDrive1", kSata, 0x00, false, 512, 400, true},
         {"nvme", 1, 0, 0, "PhysicalDrive2", kNvme, 0x00, false, 512, 400, true},
         {"sampler", 2, 0, 2, "PhysicalDrive3", kScsi, 0x00, false, 512, 400, true},
         {"mo", 2, 0, 5, "PhysicalDrive4", kScsi, 0x07, true, 2048, 200, true},
         {"usb mo", 3, 0, 0, "PhysicalDrive6", kUsb, 0x07, true, 512, 400, true},
         {"zip", 3, 0, 1, "PhysicalDrive5", kUsb, 0x00, true, 512, 400, false}},
        {{"\\\\?\\Volume{e5}", "\\Device\\HarddiskVolume1", 0, {"nvme"}, false, true},
         {"\\\\?\\Volume{c0}", "\\Device\\HarddiskVolume2", 'C', {"system ssd"}, true, true},
         {"\\\\?\\Volume{d1}", "\\Device\\HarddiskVolume3", 'D', {"data disk", "nvme"}, false, true},
         {"\\\\?\\Volume{f4}", "\\Device\\HarddiskVolume4", 'F', {"mo"}, false, true},
         {"\\\\?\\Volume{a5}", "\\Device\\HarddiskVolume5", 0, {"usb mo"}, false, true}},
        "?:\\pagefile.sys",
        "\\??\\C:\\pagefile.sys",
        "\\Device\\HarddiskVolume1",
    };
}

/* Windows XP: an IDE channel (atapi) with the system disk and a CD-ROM drive, an aic78xx card
 * (SCSI Port) with a disk holding the second page file at id 0, a sampler disk at id 2 and a ZIP
 * drive at id 5. */
MachineProfile windowsXp()
{
    MachineProfile machine = {
        {{0, PortModel::ScsiPort, "atapi", kAta, 1, 128 * 1024, 33, 1},
         {1, PortModel::ScsiPort, "aic78xx", kScsi, 1, 128 * 1024, 17, 3}},
        {{"system disk", 0, 0, 0, "PhysicalDrive0", kAta, 0x00, false, 512, 400, true},
         {"cd", 0, 0, 1, "CdRom0", kAta, 0x05, true, 2048, 100, true},
         {"swap disk", 1, 0, 0, "PhysicalDrive1", kScsi, 0x00, false, 512, 400, true},
         {"sampler", 1, 0, 2, "PhysicalDrive2", kScsi, 0x00, false, 512, 400, true},
         {"zip", 1, 0, 5, "PhysicalDrive3", kScsi, 0x00, true, 512, 400, true}},
        {{"\\\\?\\Volume{c0}", "\\Device\\HarddiskVolume1", 'C', {"system disk"}, true, true},
         {"\\\\?\\Volume{e1}", "\\Device\\HarddiskVolume2", 'E', {"swap disk"}, true, true},
         {"\\\\?\\Volume{f3}", "\\Device\\HarddiskVolume3", 'F', {"zip"}, false, true},
         {"\\\\?\\Volume{cd}", "\\Device\\CdRom0", 'D', {"cd"}, false, true}},
        "C:\\pagefile.sys 768 1536" + kNul + "E:\\pagefile.sys 512 1024",
        "",
        "\\Device\\HarddiskVolume1",
    };
    machine.windowsVersion = 0x0501;
    return machine;
}

MachineProfile windows2000()
{
    MachineProfile machine = windowsXp();
    machine.windowsVersion = 0x0500;
    return machine;
}

/* A machine whose system volume says neither its extents nor its device number (a volume driver
 * of its own): an Intel SATA port, a SAS card with a sampler disk at id 1, a USB ZIP drive. */
MachineProfile unknownSystemDisk()
{
    return {
        {{0, PortModel::Storport, "iastorv", kSata, 1, 128 * 1024, 33, 3},
         {1, PortModel::Storport, "lsi_sas", kSas, 1, 64 * 1024, 17, 3},
         {2, PortModel::Storport, "usbstor", kUsb, 1, 64 * 1024, 17, 0, false}},
        {{"system disk", 0, 0, 0, "PhysicalDrive0", kSata, 0x00, false, 512, 400, true},
         {"sampler", 1, 0, 1, "PhysicalDrive1", kSas, 0x00, false, 512, 400, true},
         {"zip", 2, 0, 0, "PhysicalDrive2", kUsb, 0x00, true, 512, 400, true}},
        {{"\\\\?\\Volume{c0}", "\\Device\\HarddiskVolume1", 'C', {"system disk"}, true, false}},
        "C:\\pagefile.sys 0 0",
        "",
        "",
    };
}

MachineProfile windowsXpWithDvdRecorder()
{
    MachineProfile machine = windowsXp();
    machine.units.push_back({"dvd-ram", 1, 0, 4, "CdRom1", kScsi, 0x05, true, 2048, 100, true});
    machine.volumes.push_back({"\\\\?\\Volume{g4}", "\\Device\\CdRom1", 'G', {"dvd-ram"}, true, true});
    return machine;
}

void loadMachine(const MachineProfile &machine, const std::string &folder)
{
    EmulatedStack &s = emulatedStack();
    s = EmulatedStack();
    s.ports = machine.ports;
    uint32_t seed = 1;
    for (const UnitRow &row : machine.units) {
        auto device = std::make_unique<ScsiTarget>();
        device->type = row.type;
        device->removable = row.removable;
        setInquiryText(*device, "KESTROVA", row.name, "1.0");
        device->sectorSize = row.sectorSize;
        device->sectors = row.sectors;
        device->sectorsGiven = true;
        device->image = folder + "\\" + row.name + ".img";
        writeWholeFile(device->image, patternBytes(seed, size_t(row.sectors) * row.sectorSize));
        std::string error;
        if (!openImage(*device, error))
            ADD_FAILURE() << error;
        EmulatedUnit unit;
        unit.name = row.name;
        unit.port = row.port;
        unit.bus = row.bus;
        unit.target = row.target;
        unit.classDevice = row.classDevice;
        unit.busType = row.busType;
        unit.answersAddress = row.answersAddress;
        unit.device = std::move(device);
        unit.serial = "SN" + std::to_string(seed++);
        s.units.push_back(std::move(unit));
    }
    for (const VolumeRow &row : machine.volumes) {
        EmulatedVolume v;
        v.guid = row.guid;
        v.device = row.device;
        v.letter = row.letter;
        v.units = row.units;
        v.openFiles = row.openFiles;
        v.extentsReadable = v.numberReadable = row.placed;
        /* A CD's volume is the CD-ROM device itself: no volume manager gives it disk extents. */
        if (s.unit(row.units[0]).classDevice.rfind("CdRom", 0) == 0)
            v.extentsReadable = false;
        s.volumes.push_back(v);
    }
    s.pagingFiles = machine.pagingFiles;
    s.existingPageFiles = machine.existingPageFiles;
    s.systemPartition = machine.systemPartition;
    s.systemDirectory = machine.systemDirectory;
    s.windowsVersion = machine.windowsVersion;
}
