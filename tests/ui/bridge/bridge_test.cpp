/*
 * The bridge under the program: its scan and its three copy directions over an emulated
 * Windows storage stack (byte for byte), failures that end a copy, the protected disks, the
 * refusals of the ASPI layer, a user without administrator rights, and under Wine the real
 * storage stack, which has no SCSI port.
 *
 * This program is itself the ASPI layer of the in-process tests: it links the bridge's code and
 * exports its two entry points, so appState.aspiLibrary is this program's own module.
 */
#include "child_process.h"
#include "app_state.h"
#include "aspi.h"
#include "bridge.h"
#include "bus_scan.h"
#include "emulated_stack.h"
#include "message_box_watch.h"
#include "transfer_bench.h"
#include "transfers.h"
#include <cstdlib>

namespace {
constexpr int32_t kSectors = 400;
constexpr uint8_t kOldContents = 0xEE;

std::string environment(const char *name)
{
    char value[MAX_PATH] = "";
    return GetEnvironmentVariableA(name, value, sizeof value) ? value : "";
}

/* A failed request ends the program with status 0 (the program's own rule): in the parent that
   would pass unnoticed, so an exit in the middle of a test turns into a failure. */
void exitInsideATest()
{
    if (testing::UnitTest::GetInstance()->current_test_info()) {
        fprintf(stderr, "the program ended inside a test (a request failed)\n");
        std::_Exit(1);
    }
}

class BridgeJourney : public TransferBench {
protected:
    void SetUp() override
    {
        TransferBench::SetUp();
        child_ = environment("KESTROVA_BRIDGE_CHILD");
        static bool guarded = false;
        if (child_.empty() && !guarded)
            guarded = std::atexit(exitInsideATest) == 0;
        if (child_.empty()) {
            writeWholeFile(pathOf("system.img"), Bytes(64 * 512, 0x5A));
            writeWholeFile(pathOf("source.img"), patternBytes(5, size_t(kSectors) * 512));
            writeWholeFile(pathOf("volume.img"), Bytes(size_t(kSectors) * 512, kOldContents));
            writeWholeFile(pathOf("spare.img"), Bytes(size_t(kSectors) * 512, kOldContents));
        }
        /* Port 0: a card with the system disk, a sampler disk and a disk with a mounted volume.
           Port 1 is missing. Port 2: two buses, an unclaimed disk on the second, 512-byte alignment. */
        EmulatedStack &s = emulatedStack();
        s = EmulatedStack();
        s.ports = {{0, 1, "aic78xx", 64 * 1024, 0x3}, {2, 2, "usbscsi", 64 * 1024, 0x1FF}};
        addUnit(0, 0, 0, 0, "system.img", 64);
        addUnit(0, 0, 2, 1, "source.img", kSectors);
        addUnit(0, 0, 3, 2, "volume.img", kSectors);
        addUnit(2, 1, 4, -1, "spare.img", kSectors);
        s.volumes = {{'C', 0, true}, {'E', 2, child_ == "busy volume"}};
        s.pagingFiles = std::string("C:\\pagefile.sys 0 0") + '\0';
        if (child_ == "check condition")
            s.units[1].device->faults.push_back(readFault());
        bridgeUseWindows(&emulatedWindowsCalls());
        appState.aspiLibrary = GetModuleHandleA(nullptr);
    }

    void TearDown() override
    {
        bridgeUseWindows(nullptr);
        EXPECT_EQ(emulatedStack().openHandles, 0) << "the bridge left handles open";
        for (EmulatedUnit &u : emulatedStack().units)
            closeImage(*u.device);
        appState.aspiLibrary = nullptr;
        TransferBench::TearDown();
    }

    void addUnit(int port, uint8_t bus, uint8_t target, int disk, const char *image, int32_t sectors)
    {
        auto device = std::make_unique<ScsiTarget>();
        setInquiryText(*device, "KESTROVA", image, "1.0");
        device->image = pathOf(image);
        device->sectors = uint64_t(sectors);
        device->sectorsGiven = true;
        std::string error;
        ASSERT_TRUE(openImage(*device, error)) << error;
        emulatedStack().units.push_back({port, bus, target, disk, std::move(device)});
    }

    static Fault readFault()
    {
        Fault f;
        f.onRead = true;
        f.after = 3;
        return f;
    }

    /* The bind the program would do, through this program's exported entry point. */
    uint32_t supportInfo()
    {
        FARPROC entry = GetProcAddress(appState.aspiLibrary, "GetASPI32SupportInfo");
        return entry ? reinterpret_cast<GetASPI32SupportInfoFn>(reinterpret_cast<void *>(entry))() : 0;
    }

    void bindAndScan()
    {
        ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 3);
        appState.adapterCount = 3;
        ASSERT_EQ(scanBus(form()), 1);
    }

    void usePath(const char *name) { std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf(name).c_str()); }

    std::string child_;
};
}  // namespace

TEST_F(BridgeJourney, ScanThenCopyInTheThreeDirectionsByteForByte)
{
    MessageBoxWatch boxes;
    bindAndScan();
    EXPECT_STREQ(adapterTable.adapters[0].name, "aic78xx [0]");
    EXPECT_STREQ(adapterTable.adapters[2].name, "usbscsi 1 [2]");
    EXPECT_STREQ(adapterTable.adapters[0].devices[2].label, "2: KESTROVAsource.img      1.0 ");
    EXPECT_EQ(adapterTable.adapters[0].devices[2].sectorCount, kSectors);
    EXPECT_EQ(adapterTable.adapters[0].devices[1].deviceType, 31) << "no unit at target 1";
    EXPECT_EQ(adapterTable.adapters[2].devices[4].sectorCount, kSectors) << "the unclaimed disk, through its port";
    const Bytes source = readWholeFile(pathOf("source.img"));
    appState.bufferBlocks = 128;
    appState.transferSectors = kSectors;

    selectSource(0, 2);
    usePath("out.iso");
    copyDiskToFile(form());
    Bytes expected = source;
    expected.resize((source.size() + 2047) / 2048 * 2048, 0);
    EXPECT_TRUE(readWholeFile(pathOf("out.iso")) == expected) << "disk to file";

    /* Through the port that wants 512-byte alignment: the program's buffer goes via a copy. */
    selectTarget(2, 4);
    copyFileToDisk(form());
    EXPECT_TRUE(readWholeFile(pathOf("spare.img")) == source) << "file to disk";

    /* Onto the disk with a mounted volume: locked and dismounted before the first write. */
    selectTarget(0, 3);
    copyDiskToDisk(form());
    EXPECT_TRUE(readWholeFile(pathOf("volume.img")) == source) << "disk to disk";
    EXPECT_TRUE(emulatedStack().volumes[1].locked && emulatedStack().volumes[1].dismounted);
    EXPECT_FALSE(emulatedStack().volumes[0].locked) << "the system volume is never touched";
    for (const CapturedBox &box : boxes.boxes())
        ADD_FAILURE() << "unexpected message " << describe(box);
}

/* A failed request ends the program after its message, so each case runs in a child: this
   program again, on this test, in the parent's folder, with the trace on. */
TEST_F(BridgeJourney, FailuresEndTheCopyAndLeaveProtectedDisksAlone)
{
    if (!child_.empty()) {
        MessageBoxWatch boxes;
        boxes.onBox([&](const CapturedBox &box) { writeWholeFile(pathOf("report.txt"), Bytes(box.text.begin(), box.text.end())); });
        bindAndScan();
        appState.bufferBlocks = 2;
        appState.transferSectors = 20;
        selectSource(0, 2);
        selectTarget(0, child_ == "system disk" ? 0 : 3);
        usePath(child_ == "check condition" ? "out.iso" : "in.iso");
        if (child_ == "check condition")
            copyDiskToFile(form());
        else
            copyFileToDisk(form());
        std::_Exit(3);   /* the copy returned after a failed request */
    }
    struct Case { const char *name, *image, *traceText; };
    const Case cases[] = {
        {"check condition", "source.img", "cdb=28 00 00 00 00 06 00 00 02 00 len=1024 status=04 scsi=02 sense=3/11"},
        {"system disk", "system.img", "status=04 scsi=02 sense=7/27 (the disk holds the system volume or a page file)"},
        {"busy volume", "volume.img", "sense=7/27 (a volume on the disk is in use and cannot be locked)"},
    };
    writeWholeFile(pathOf("in.iso"), patternBytes(9, 20 * 512));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes before = readWholeFile(pathOf(c.image));
        SetEnvironmentVariableA("KESTROVA_BRIDGE_CHILD", c.name);
        SetEnvironmentVariableA("KESTROVA_TRANSFER_FOLDER", folder().c_str());
        SetEnvironmentVariableA(kTraceVariable, pathOf("trace.log").c_str());
        DWORD exitCode = runTestsInChild("BridgeJourney.Failures*").exitCode;
        for (const char *name : {"KESTROVA_BRIDGE_CHILD", "KESTROVA_TRANSFER_FOLDER", kTraceVariable})
            SetEnvironmentVariableA(name, nullptr);

        EXPECT_EQ(exitCode, 0u);
        Bytes report = readWholeFile(pathOf("report.txt"));
        EXPECT_EQ(std::string(report.begin(), report.end()),
                  "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)");
        EXPECT_TRUE(readWholeFile(pathOf(c.image)) == before) << "the device was written";
        Bytes trace = readWholeFile(pathOf("trace.log"));
        EXPECT_NE(std::string(trace.begin(), trace.end()).find(c.traceText), std::string::npos)
            << std::string(trace.begin(), trace.end());
        if (std::string(c.name) == "check condition") {
            Bytes out = readWholeFile(pathOf("out.iso"));
            EXPECT_TRUE(out == Bytes(before.begin(), before.begin() + 3 * 1024)) << "the three chunks before the fault";
        }
        DeleteFileA(pathOf("trace.log").c_str());
        DeleteFileA(pathOf("report.txt").c_str());
    }
}

TEST_F(BridgeJourney, RequestsTheBridgeRefusesOrFails)
{
    bindAndScan();
    SendASPI32CommandFn send = lookupSendCommand();
    ASSERT_NE(send, nullptr);
    uint8_t buffer[128 * 1024];
    struct Case { const char *name; uint8_t adapter, target, flags; uint16_t sectors; uint32_t lba; uint8_t status, senseKey; };
    const Case cases[] = {
        {"posting flag", 0, 2, 0x01 | SRB_DIR_IN, 1, 0, SS_INVALID_SRB, 0},
        {"no such adapter", 3, 2, SRB_DIR_IN, 1, 0, SS_INVALID_HA, 0},
        {"no unit at the target", 0, 1, SRB_DIR_IN, 1, 0, SS_NO_DEVICE, 0},
        {"longer than the port takes", 0, 2, SRB_DIR_IN, 256, 0, SS_BUFFER_TO_BIG, 0},
        {"beyond the last sector", 0, 2, SRB_DIR_IN, 1, kSectors, SS_ERR, 0x05},
        {"read of the system disk", 0, 0, SRB_DIR_IN, 1, 0, SS_COMP, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SRB_ExecSCSICmd srb;
        buildTransferRequest(srb, TransferDirection::Read, c.adapter, c.target, c.lba, c.sectors, buffer, c.sectors * 512u);
        srb.SRB_Flags = c.flags;
        EXPECT_EQ(send(&srb), c.status);
        EXPECT_EQ(srb.SRB_Status, c.status);
        EXPECT_EQ(srb.SenseArea[2], c.senseKey);
    }
}

TEST_F(BridgeJourney, WithoutAdministratorRightsTheUserLearnsWhy)
{
    emulatedStack().administrator = false;
    EXPECT_EQ(supportInfo(), uint32_t(SS_NO_ADAPTERS) << 8);
    ASSERT_EQ(emulatedStack().toldUser.size(), 1u);
    EXPECT_NE(emulatedStack().toldUser[0].find("administrator rights"), std::string::npos);
}

/* The shipped library on Wine's real storage stack, loaded the way the program loads it. */
TEST(BridgeOnWine, NoScsiPortSoTheProgramSaysNoAdapters)
{
    char exe[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string folder = std::string(exe, length);
    folder = folder.substr(0, folder.find_last_of("\\/")) + "\\..\\bin\\bridge";
    using SetDllDirectoryFn = BOOL(WINAPI *)(LPCSTR);
    auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDllDirectoryA")));
    ASSERT_TRUE(setDllDirectory && setDllDirectory(folder.c_str()));
    MessageBoxWatch boxes;
    HWND owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(bindAspi(owner), 0);
    setDllDirectory(nullptr);
    DestroyWindow(owner);
    ASSERT_EQ(boxes.boxes().size(), 1u) << "only the program's own box";
    EXPECT_EQ(boxes.boxes()[0].text, "Host Adapter Inquiry returned an supported status");
    EXPECT_EQ(appState.aspiLibrary, nullptr);
    EXPECT_EQ(GetModuleHandleA("wnaspi32.dll"), nullptr);
}
