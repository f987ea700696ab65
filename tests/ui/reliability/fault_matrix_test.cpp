/*
 * SCSI faults at the first, a middle and the last chunk of every direction, with each status a
 * request can end in, and a device that went away between the scan and Proceed. Each case ends
 * the process, so each runs in a child: this program again, on one test, in the parent's folder.
 * The child writes the message it saw into that folder; the parent checks the exit status, the
 * message, the chunks that arrived and that nothing else changed.
 */
#include "child_process.h"
#include "transfer_bench.h"
#include "app_state.h"
#include "message_box_watch.h"
#include "transfers.h"
#include <cstdlib>
#include <cstdio>

namespace {
constexpr int32_t kSectors = 64;
constexpr int32_t kTransferSectors = 20;
constexpr int32_t kChunkSectors = 2;   /* bufferBlocks 2: ten chunks of two sectors */
constexpr int kChunks = kTransferSectors / kChunkSectors;
constexpr uint8_t kOldContents = 0xEE;

struct Status {
    const char *hex;
    const char *text;
};
const Status kStatuses[] = {
    {"02", "(ASPI command aborted)"},
    {"04", "(ASPI command completed with an error)"},
    {"82", "(No device)"},
    {"E1", "(Buffer misaligned)"},
    {"80", "(Unprocessed error)"},
};

/* Where the fault sits: which copy, and which device's requests fail. */
struct Direction {
    const char *name;       /* passed to the child */
    const char *faultSide;  /* "source" or "target" */
    const char *requests;   /* read or write */
};
const Direction kDirections[] = {
    {"disk-to-file", "source", "read"},
    {"file-to-disk", "target", "write"},
    {"disk-to-disk", "source", "read"},
    {"disk-to-disk", "target", "write"},
};

class FaultMatrix : public TransferBench {
protected:
    void SetUp() override
    {
        TransferBench::SetUp();
        if (isChild())
            return;
        source_ = patternBytes(11, size_t(kSectors) * 512);
        bystander_ = patternBytes(12, size_t(kSectors) * 512);
        image_ = patternBytes(13, size_t(kTransferSectors) * 512);
        keep_ = patternBytes(14, 5000);
        writeWholeFile(pathOf("source.img"), source_);
        writeWholeFile(pathOf("bystander.img"), bystander_);
        writeWholeFile(pathOf("keep.bin"), keep_);
    }

    static bool isChild() { return std::getenv("KESTROVA_FAULT_CHILD") != nullptr; }

    /* Runs one case in a child; returns its exit status (99 when it did not end). */
    DWORD runChild(const std::string &direction, const std::string &sourceFault, const std::string &targetFault,
                   const std::string &gone)
    {
        SetEnvironmentVariableA("KESTROVA_FAULT_CHILD", direction.c_str());
        SetEnvironmentVariableA("KESTROVA_TRANSFER_FOLDER", folder().c_str());
        SetEnvironmentVariableA("KESTROVA_SOURCE_FAULT", sourceFault.c_str());
        SetEnvironmentVariableA("KESTROVA_TARGET_FAULT", targetFault.c_str());
        SetEnvironmentVariableA("KESTROVA_DEVICE_GONE", gone.empty() ? nullptr : gone.c_str());
        DWORD exitCode = runTestsInChild("FaultMatrix.Child").exitCode;
        for (const char *name : {"KESTROVA_FAULT_CHILD", "KESTROVA_TRANSFER_FOLDER", "KESTROVA_SOURCE_FAULT",
                                 "KESTROVA_TARGET_FAULT", "KESTROVA_DEVICE_GONE"})
            SetEnvironmentVariableA(name, nullptr);
        return exitCode;
    }

    /* Fresh target, input image and no output or report before each case. */
    void resetFiles()
    {
        writeWholeFile(pathOf("target.img"), Bytes(size_t(kSectors) * 512, kOldContents));
        writeWholeFile(pathOf("in.iso"), image_);
        DeleteFileA(pathOf("out.iso").c_str());
        DeleteFileA(pathOf("report.txt").c_str());
    }

    std::string report()
    {
        Bytes bytes = readWholeFile(pathOf("report.txt"));
        return std::string(bytes.begin(), bytes.end());
    }

    /* Exactly `chunks` chunks arrived where the copy writes; everything else as it was. */
    void expectChunksKept(const std::string &direction, int chunks)
    {
        const size_t kept = size_t(chunks) * kChunkSectors * 512;
        const Bytes target = readWholeFile(pathOf("target.img"));
        if (direction == "disk-to-file") {
            Bytes file = readWholeFile(pathOf("out.iso"));
            EXPECT_EQ(file.size(), kept) << "the chunks before the failure, and no alignment bytes";
            EXPECT_TRUE(std::equal(file.begin(), file.end(), source_.begin()));
            EXPECT_EQ(target, Bytes(size_t(kSectors) * 512, kOldContents));
        } else {
            const Bytes &expected = direction == "file-to-disk" ? image_ : source_;
            ASSERT_EQ(target.size(), size_t(kSectors) * 512);
            EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + long(kept), target.begin()));
            EXPECT_TRUE(std::all_of(target.begin() + long(kept), target.end(),
                                    [](uint8_t b) { return b == kOldContents; }))
                << "nothing beyond the chunks before the failure";
            EXPECT_EQ(GetFileAttributesA(pathOf("out.iso").c_str()), INVALID_FILE_ATTRIBUTES);
        }
        EXPECT_EQ(readWholeFile(pathOf("source.img")), source_);
        EXPECT_EQ(readWholeFile(pathOf("bystander.img")), bystander_);
        EXPECT_EQ(readWholeFile(pathOf("keep.bin")), keep_);
        EXPECT_EQ(readWholeFile(pathOf("in.iso")), image_);
    }

    Bytes source_, bystander_, image_, keep_;
};

std::string envText(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}
}  // namespace

/* The child: the bus with the faults it was given, one copy, then the process must have ended. */
TEST_F(FaultMatrix, Child)
{
    const std::string direction = envText("KESTROVA_FAULT_CHILD");
    if (direction.empty())
        GTEST_SKIP() << "run as a child of the tests below";
    std::vector<BusDevice> devices = {{0, 1, 512, kSectors, "source.img", envText("KESTROVA_SOURCE_FAULT")},
                                      {0, 2, 512, kSectors, "target.img", envText("KESTROVA_TARGET_FAULT")},
                                      {0, 3, 512, kSectors, "bystander.img", ""}};
    loadBus(devices);
    selectSource(0, 1);
    selectTarget(0, 2);
    const std::string gone = envText("KESTROVA_DEVICE_GONE");
    if (!gone.empty()) {
        /* Switched off after the scan: the device table still lists it. */
        int target = gone == "source" ? 1 : 2;
        devices.erase(std::remove_if(devices.begin(), devices.end(),
                                     [&](const BusDevice &d) { return d.target == target; }),
                      devices.end());
        loadBus(devices);
        describeDevice(0, target, 512, kSectors);
    }
    appState.bufferBlocks = kChunkSectors;
    appState.transferSectors = kTransferSectors;
    std::snprintf(appState.imagePath, kPathBufferSize, "%s",
                  pathOf(direction == "file-to-disk" ? "in.iso" : "out.iso").c_str());
    MessageBoxWatch boxes;
    const std::string reportPath = pathOf("report.txt");
    boxes.onBox([&](const CapturedBox &box) {
        std::string line = box.caption + "|" + std::to_string(box.icon) + "|" + box.text;
        Bytes previous = readWholeFile(reportPath);
        previous.insert(previous.end(), line.begin(), line.end());
        previous.push_back('#');
        writeWholeFile(reportPath, previous);
    });
    if (direction == "disk-to-file")
        copyDiskToFile(form());
    else if (direction == "file-to-disk")
        copyFileToDisk(form());
    else
        copyDiskToDisk(form());
    ADD_FAILURE() << "the transfer returned after a failed request";
    std::_Exit(3);
}

TEST_F(FaultMatrix, EachStatusAtTheFirstAMiddleAndTheLastChunkOfEachDirection)
{
    if (isChild())
        GTEST_SKIP();
    const int positions[] = {0, kChunks / 2, kChunks - 1};
    int cases = 0;
    for (const Direction &d : kDirections) {
        for (const Status &s : kStatuses) {
            for (int chunk : positions) {
                SCOPED_TRACE(std::string(d.name) + ", " + d.requests + " fault on the " + d.faultSide +
                             ", status " + s.hex + ", chunk " + std::to_string(chunk + 1) + " of " +
                             std::to_string(kChunks));
                resetFiles();
                const std::string fault = std::string("fault = ") + d.requests + " after " + std::to_string(chunk) +
                                          " status " + s.hex;
                const bool onSource = std::string(d.faultSide) == "source";
                DWORD exitCode = runChild(d.name, onSource ? fault : "", onSource ? "" : fault, "");
                EXPECT_EQ(exitCode, 0u);
                EXPECT_EQ(report(), std::string("Error|") + std::to_string(MB_ICONERROR) +
                                        "|SCSI Command Failed.\nASPI returned status=" + s.hex + "h\n" + s.text + "#")
                    << "one message, the failure report";
                expectChunksKept(d.name, chunk);
                cases++;
            }
        }
    }
    RecordProperty("cases", cases);
    std::printf("[ reliability ] SCSI faults tried: %d, each ended with its message and exit status 0\n", cases);
}

TEST_F(FaultMatrix, DeviceThatWentAwayBetweenTheScanAndProceed)
{
    if (isChild())
        GTEST_SKIP();
    const Direction cases[] = {
        {"disk-to-file", "source", ""},
        {"file-to-disk", "target", ""},
        {"disk-to-disk", "source", ""},
        {"disk-to-disk", "target", ""},
    };
    for (const Direction &c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", the " + c.faultSide + " gone");
        resetFiles();
        DWORD exitCode = runChild(c.name, "", "", c.faultSide);
        EXPECT_EQ(exitCode, 0u);
        EXPECT_EQ(report(), std::string("Error|") + std::to_string(MB_ICONERROR) +
                                "|SCSI Command Failed.\nASPI returned status=82h\n(No device)#");
        expectChunksKept(c.name, 0);
    }
    std::printf("[ reliability ] devices gone before Proceed: 4, each ended with \"No device\" and exit status 0\n");
}
