/*
 * The bridge under the program and under other ASPI callers: failures that end a copy and leave
 * protected disks alone, the statuses it answers (short transfers, missing directions, Windows
 * errors, timeouts, unknown commands), the aligned copy, a user without administrator rights,
 * and under Wine the real storage stack, which has no SCSI port.
 */
#include "bridge_bench.h"
#include "app_state.h"
#include "aspi.h"
#include "bridge.h"
#include "child_process.h"
#include "message_box_watch.h"
#include "transfers.h"
#include <vector>

namespace {

std::string environment(const char *name)
{
    char value[MAX_PATH] = "";
    return GetEnvironmentVariableA(name, value, sizeof value) ? value : "";
}

class BridgeRequests : public BridgeBench {
protected:
    void SetUp() override
    {
        BridgeBench::SetUp();
        child_ = environment(kChildVariable);
    }

    SRB_GetSetTimeouts timeouts(uint8_t flags, uint8_t adapter, uint8_t target, uint8_t lun, uint32_t halfSeconds)
    {
        SRB_GetSetTimeouts t = {SC_GETSET_TIMEOUTS, 0, adapter, flags, 0, target, lun, halfSeconds};
        EXPECT_EQ(send(&t), t.SRB_Status);
        return t;
    }

    std::string child_;
};

struct FailureCase {
    const char *name;
    MachineProfile (*machine)();
    uint8_t adapters, target;
    const char *unit;             /* the device that must stay as it was */
    const char *traceText;
};

/* A sampler's disk and what the four failures do to it, on the XP machine and on the one whose
   system disk cannot be identified. */
const FailureCase kFailures[] = {
    {"check condition", windowsXp, 1, 2, "sampler",
     "cdb=28 00 00 00 00 06 00 00 02 00 len=1024 status=04 scsi=02 sense=3/11"},
    {"page-file disk", windowsXp, 1, 0, "swap disk", "status=04 scsi=02 sense=7/27 (the disk holds a page file)"},
    {"busy volume", windowsXp, 1, 5, "zip", "sense=7/27 (a volume on the disk is in use and cannot be locked)"},
    {"unknown system disk", unknownSystemDisk, 2, 1, "sampler", "sense=7/27 (the disk of the system volume is not known)"},
};

void prepare(const FailureCase &c)
{
    if (std::string(c.name) == "check condition") {
        Fault f;
        f.onRead = true;
        f.after = 3;
        emulatedStack().unit("sampler").device->faults.push_back(f);
    }
    if (std::string(c.name) == "busy volume")
        emulatedStack().volume("\\\\?\\Volume{f3}").openFiles = true;
}

}  // namespace

/* A failed request ends the program after its message, so each case runs in a child: this
   program again, on this test, in the parent's folder, with the trace on. */
TEST_F(BridgeRequests, FailuresEndTheCopyAndLeaveProtectedDisksAlone)
{
    if (!child_.empty()) {
        for (const FailureCase &c : kFailures) {
            if (child_ != c.name)
                continue;
            load(c.machine());
            prepare(c);
            MessageBoxWatch boxes;
            boxes.onBox([&](const CapturedBox &box) { writeWholeFile(pathOf("report.txt"), Bytes(box.text.begin(), box.text.end())); });
            bindAndScan(c.adapters);
            appState.bufferBlocks = 2;
            appState.transferSectors = 20;
            selectSource(0, c.target);
            selectTarget(0, c.target);
            if (child_ == "check condition") {
                usePath("out.iso");
                copyDiskToFile(form());
            } else {
                usePath("in.iso");
                copyFileToDisk(form());
            }
        }
        std::_Exit(3);   /* the copy returned after a failed request */
    }
    writeWholeFile(pathOf("in.iso"), patternBytes(9, 20 * 512));
    for (const FailureCase &c : kFailures) {
        SCOPED_TRACE(c.name);
        load(c.machine());
        const Bytes before = medium(c.unit);
        SetEnvironmentVariableA(kChildVariable, c.name);
        SetEnvironmentVariableA("KESTROVA_TRANSFER_FOLDER", folder().c_str());
        DWORD exitCode = runTestsInChild("BridgeRequests.Failures*").exitCode;
        for (const char *name : {kChildVariable, "KESTROVA_TRANSFER_FOLDER"})
            SetEnvironmentVariableA(name, nullptr);

        EXPECT_EQ(exitCode, 0u);
        Bytes report = readWholeFile(pathOf("report.txt"));
        EXPECT_EQ(std::string(report.begin(), report.end()),
                  "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)");
        EXPECT_TRUE(medium(c.unit) == before) << "the device was written";
        EXPECT_NE(traceText().find(c.traceText), std::string::npos) << traceText();
        if (std::string(c.name) == "check condition") {
            Bytes out = readWholeFile(pathOf("out.iso"));
            EXPECT_TRUE(out == Bytes(before.begin(), before.begin() + 3 * 1024)) << "the three chunks before the fault";
        }
        DeleteFileA(pathOf("trace.log").c_str());
        DeleteFileA(pathOf("report.txt").c_str());
    }
}

/* Requests to the aic78xx card of the XP machine: page-file disk at id 0, sampler at id 2 (400
   sectors), ZIP drive at id 5. */
TEST_F(BridgeRequests, EachRequestGetsTheNearestAspiStatus)
{
    load(windowsXp());
    emulatedStack().unit("zip").failWith = ERROR_NO_SYSTEM_RESOURCES;
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    struct Case {
        const char *name;
        uint8_t adapter, target;
        std::vector<uint8_t> cdb;
        uint8_t flags;
        uint32_t length;
        uint8_t status, haStat, senseKey;
    };
    const std::vector<uint8_t> read1 = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    const Case cases[] = {
        {"posting flag", 0, 2, read1, 0x01 | SRB_DIR_IN, 512, SS_INVALID_SRB, 0, 0},
        {"no such adapter", 1, 2, read1, SRB_DIR_IN, 512, SS_INVALID_HA, 0, 0},
        {"no unit at the target", 0, 1, read1, SRB_DIR_IN, 512, SS_NO_DEVICE, 0, 0},
        {"longer than the port takes", 0, 2, {0x28, 0, 0, 0, 0, 0, 0, 0, 160, 0}, SRB_DIR_IN, 160 * 512, SS_BUFFER_TO_BIG, 0, 0},
        {"beyond the last sector", 0, 2, {0x28, 0, 0, 0, 0x01, 0x90, 0, 0, 1, 0}, SRB_DIR_IN, 512, SS_ERR, 0, 0x05},
        {"read of the page-file disk", 0, 0, read1, SRB_DIR_IN, 512, SS_COMP, 0, 0},
        {"READ(10) without a direction", 0, 2, read1, 0, 512, SS_COMP, 0, 0},
        {"READ(10) sent as data out", 0, 2, read1, SRB_DIR_OUT, 512, SS_INVALID_SRB, 0, 0},
        {"data without a direction, unknown command", 0, 2, {0xC1, 0, 0, 0, 0, 0}, 0, 512, SS_INVALID_SRB, 0, 0},
        {"READ CAPACITY shorter than the buffer", 0, 2, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SRB_DIR_IN, 16, SS_ERR,
         HASTAT_DO_DU, 0},
        {"INQUIRY shorter than its allocation length: complete", 0, 2, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN, 96, SS_COMP,
         0, 0},
        {"the same with the residual count", 0, 2, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN | 0x04, 96, SS_COMP, 0, 0},
        {"Windows out of resources", 0, 5, read1, SRB_DIR_IN, 512, SS_INSUFFICIENT_RESOURCES, 0, 0},
    };
    uint8_t buffer[160 * 512];
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SRB_ExecSCSICmd srb = execute(c.adapter, c.target, c.cdb, c.flags, buffer, c.length);
        EXPECT_EQ(srb.SRB_Status, c.status);
        EXPECT_EQ(srb.SRB_HaStat, c.haStat);
        EXPECT_EQ(srb.SenseArea[2] & 0x0F, c.senseKey);
    }
    SRB_ExecSCSICmd srb = execute(0, 2, {0x12, 0, 0, 0, 96, 0}, SRB_DIR_IN | 0x04, buffer, 96);
    EXPECT_EQ(srb.SRB_BufLen, 60u) << "the residual: 96 asked, 36 came";
    SRB_Header reset = {0x04, 0, 0, 0, 0};
    EXPECT_EQ(send(&reset), SS_INVALID_CMD) << "SC_RESET_DEV is not offered";
    EXPECT_EQ(reset.SRB_Status, SS_INVALID_CMD);
}

/* An old drive that takes 90 s to spin up: within the default timeout; cut short by a 30 s one
   set with SC_GETSET_TIMEOUTS (in half seconds), and the port's timeout is an error with HaStat
   COMMAND_TIMEOUT; the longest one asked for is given as the 30 hours the port drivers take. */
TEST_F(BridgeRequests, TimeoutsFitSlowDevicesAndCallersSetTheirOwn)
{
    load(windowsXp());
    EmulatedUnit &sampler = emulatedStack().unit("sampler");
    sampler.secondsPerCommand = 90;
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    uint8_t buffer[512];
    const auto read = [&] { return execute(0, 2, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, SRB_DIR_IN, buffer, 512); };

    EXPECT_EQ(read().SRB_Status, SS_COMP);
    EXPECT_EQ(sampler.lastTimeout, 1800u);
    EXPECT_EQ(timeouts(SRB_DIR_IN, 0, 2, 0, 0).SRB_Timeout, 3600u);

    EXPECT_EQ(timeouts(SRB_DIR_OUT, 0xFF, 0xFF, 0xFF, 60).SRB_Status, SS_COMP);
    SRB_ExecSCSICmd cut = read();
    EXPECT_EQ(cut.SRB_Status, SS_ERR);
    EXPECT_EQ(cut.SRB_HaStat, HASTAT_COMMAND_TIMEOUT);
    EXPECT_EQ(sampler.lastTimeout, 30u);

    EXPECT_EQ(timeouts(SRB_DIR_OUT, 0, 2, 0, 0xFFFFFFFF).SRB_Status, SS_COMP);
    EXPECT_EQ(read().SRB_Status, SS_COMP) << "the port drivers refuse more than 30 hours";
    EXPECT_EQ(sampler.lastTimeout, 108000u);
    EXPECT_EQ(timeouts(SRB_DIR_OUT, 0, 2, 0, 0).SRB_Status, SS_COMP) << "0: the default again";
    EXPECT_EQ(read().SRB_Status, SS_COMP);
    EXPECT_EQ(timeouts(SRB_DIR_OUT, 0, 1, 0, 60).SRB_Status, SS_NO_DEVICE);
    EXPECT_EQ(timeouts(SRB_DIR_OUT, 3, 0xFF, 0xFF, 60).SRB_Status, SS_INVALID_HA);
    EXPECT_EQ(timeouts(0, 0, 2, 0, 60).SRB_Status, SS_INVALID_SRB) << "neither get nor set";
}

/* The aic78xx card takes buffers aligned to 4 bytes and at most 17 physical pages: a buffer one
   byte off, and one of 17 pages (68 KB) aligned but 4 bytes into a page (so on 18 pages), go
   through the bridge's copy, both ways. */
TEST_F(BridgeRequests, BuffersThePortCannotTakeGoThroughACopy)
{
    load(windowsXp());
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    std::vector<uint8_t> memory(3 * 64 * 1024);
    uint8_t *page = reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(memory.data()) + 4095) & ~uintptr_t(4095));
    struct Case { const char *name; uint8_t *buffer; uint8_t sectors; };
    const Case cases[] = {{"one byte off", page + 1, 8}, {"eighteen pages", page + 4, 136}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t length = c.sectors * 512u;
        const Bytes data = patternBytes(c.sectors, length);
        std::copy(data.begin(), data.end(), c.buffer);
        EXPECT_EQ(execute(0, 2, {0x2A, 0, 0, 0, 0, 0, 0, 0, c.sectors, 0}, SRB_DIR_OUT, c.buffer, length).SRB_Status, SS_COMP);
        const Bytes written = medium("sampler");
        EXPECT_TRUE(Bytes(written.begin(), written.begin() + length) == data) << "written";
        std::fill(c.buffer, c.buffer + length, 0);
        EXPECT_EQ(execute(0, 2, {0x28, 0, 0, 0, 0, 0, 0, 0, c.sectors, 0}, SRB_DIR_IN, c.buffer, length).SRB_Status, SS_COMP);
        EXPECT_TRUE(Bytes(c.buffer, c.buffer + length) == data) << "read back";
    }
}

TEST_F(BridgeRequests, WithoutAdministratorRightsTheUserLearnsWhy)
{
    load(windowsXp());
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
