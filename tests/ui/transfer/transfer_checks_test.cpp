/*
 * The checks and questions around the copy: refusals before anything is opened, the overwrite
 * question, the file length questions, asynchronous completion, the same device on both sides,
 * a buffer change during a transfer, and a SCSI failure that ends the process (child process).
 */
#include "child_process.h"
#include "transfer_bench.h"
#include "app_state.h"
#include "message_box_watch.h"
#include "transfers.h"
#include <cstdlib>

namespace {
constexpr int32_t kSectors = 64;
constexpr uint8_t kOldContents = 0xEE;

class TransferChecks : public TransferBench {
protected:
    void SetUp() override
    {
        TransferBench::SetUp();
        source_ = patternBytes(11, size_t(kSectors) * 512);
        writeWholeFile(pathOf("source.img"), source_);
        resetTarget();
        writeWholeFile(pathOf("target2048.img"), Bytes(size_t(kSectors) * 2048, kOldContents));
    }

    void useBus(const std::string &busLines = "", const std::string &sourceExtra = "",
                const std::string &targetExtra = "")
    {
        loadBus({{0, 1, 512, kSectors, "source.img", sourceExtra},
                 {0, 2, 512, kSectors, "target.img", targetExtra},
                 {0, 3, 2048, kSectors, "target2048.img", ""}},
                busLines);
    }

    void resetTarget() { writeWholeFile(pathOf("target.img"), Bytes(size_t(kSectors) * 512, kOldContents)); }
    Bytes target() { return readWholeFile(pathOf("target.img")); }
    bool targetUntouched()
    {
        Bytes t = target();
        return t.size() == size_t(kSectors) * 512 && std::all_of(t.begin(), t.end(), [](uint8_t b) { return b == kOldContents; });
    }
    void usePath(const std::string &name) { std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf(name).c_str()); }

    Bytes source_;
};

void expectBox(const CapturedBox &box, const char *caption, const std::string &text, UINT icon, UINT buttons)
{
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, icon) << describe(box);
    EXPECT_EQ(box.buttons, buttons) << describe(box);
}

bool fileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
}  // namespace

TEST_F(TransferChecks, SectorSizesThatCannotBeCountedAreRefusedBeforeAnythingIsOpened)
{
    useBus();
    struct Case {
        const char *name;
        void (*copy)(HWND);
        int32_t sourceSize, targetSize, bufferBlocks;
        const char *text;
    };
    const Case cases[] = {
        {"disk to file, no sector size", copyDiskToFile, 0, 512, 8,
         "The device reports no sector size (0 bytes/sector). Nothing was transferred."},
        {"disk to file, sector larger than the buffer", copyDiskToFile, 8192, 512, 8,
         "A sector of 8192 bytes does not fit in the I/O buffer of 4096 bytes. Choose a larger buffer size. "
         "Nothing was transferred."},
        {"disk to file, no buffer", copyDiskToFile, 512, 512, 0,
         "A sector of 512 bytes does not fit in the I/O buffer of 0 bytes. Choose a larger buffer size. "
         "Nothing was transferred."},
        {"file to disk, no sector size", copyFileToDisk, 512, 0, 8,
         "The device reports no sector size (0 bytes/sector). Nothing was transferred."},
        {"file to disk, sector larger than the buffer", copyFileToDisk, 512, 4096, 4,
         "A sector of 4096 bytes does not fit in the I/O buffer of 2048 bytes. Choose a larger buffer size. "
         "Nothing was transferred."},
        {"disk to disk, no sector size", copyDiskToDisk, 0, 0, 8,
         "The device reports no sector size (0 bytes/sector). Nothing was transferred."},
        {"disk to disk, different sector sizes", copyDiskToDisk, 512, 2048, 8,
         "Source and target have different sector sizes (512 and 2048 bytes/sector): a block for block copy "
         "would corrupt the target. Nothing was transferred."},
    };
    writeWholeFile(pathOf("in.iso"), patternBytes(3, 16 * 512));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MessageBoxWatch boxes;
        progress() = ProgressRecord();
        describeDevice(0, 1, c.sourceSize, kSectors);
        describeDevice(0, 2, c.targetSize, kSectors);
        appState.bufferBlocks = c.bufferBlocks;
        appState.transferSectors = 16;
        std::snprintf(appState.imagePath, kPathBufferSize, "%s",
                      c.copy == copyDiskToFile ? "new.iso" : pathOf("in.iso").c_str());

        c.copy(form());

        ASSERT_EQ(boxes.boxes().size(), 1u);
        expectBox(boxes.boxes()[0], "ERROR", c.text, MB_ICONERROR, MB_OK);
        EXPECT_EQ(progress().boxesOpened, 0);
        EXPECT_TRUE(targetUntouched());
        EXPECT_FALSE(fileExists("new.iso"));
        if (c.copy == copyDiskToFile) {
            EXPECT_STREQ(appState.imagePath, "new.iso") << "refused before the path is touched";
        }
        EXPECT_EQ(appState.transferSectors, 16);
    }
}

/* Without the library, or with one that lacks SendASPI32Command, each direction refuses before it
   asks about, creates or empties a file. */
TEST_F(TransferChecks, WithoutAspiEachDirectionRefusesBeforeAnyFileIsTouched)
{
    useBus();
    const HMODULE bus = appState.aspiLibrary;
    const HMODULE withoutEntry = GetModuleHandleA("kernel32.dll");
    const Bytes previous = patternBytes(98, 3000);
    writeWholeFile(pathOf("old.iso"), previous);
    writeWholeFile(pathOf("in.iso"), patternBytes(3, 16 * 512));
    struct Case {
        const char *name;
        void (*copy)(HWND);
        HMODULE library;
        const char *file;
    };
    const Case cases[] = {
        {"disk to file, existing file", copyDiskToFile, nullptr, "old.iso"},
        {"disk to file, new file", copyDiskToFile, nullptr, "new.iso"},
        {"disk to file, library without the entry point", copyDiskToFile, withoutEntry, "new.iso"},
        {"file to disk", copyFileToDisk, nullptr, "in.iso"},
        {"disk to disk", copyDiskToDisk, withoutEntry, "new.iso"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MessageBoxWatch boxes;
        progress() = ProgressRecord();
        appState.transferSectors = 16;
        usePath(c.file);
        appState.aspiLibrary = c.library;
        c.copy(form());
        appState.aspiLibrary = bus;

        ASSERT_EQ(boxes.boxes().size(), 1u);
        expectBox(boxes.boxes()[0], "ERROR", "ASPI for Windows is not loaded. Nothing was transferred.",
                  MB_ICONERROR, MB_OK);
        EXPECT_EQ(progress().boxesOpened, 0);
        EXPECT_TRUE(targetUntouched());
        EXPECT_TRUE(readWholeFile(pathOf("old.iso")) == previous);
        EXPECT_FALSE(fileExists(pathOf("new.iso")));
        EXPECT_EQ(appState.transferSectors, 16);
    }
}

TEST_F(TransferChecks, OverwriteQuestionAnsweredNoLeavesTheFileAlone)
{
    useBus();
    const Bytes previous = patternBytes(99, 3000);
    writeWholeFile(pathOf("old.iso"), previous);
    usePath("old.iso");
    appState.transferSectors = 8;

    MessageBoxWatch boxes;
    boxes.answer(IDNO);
    copyDiskToFile(form());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    expectBox(boxes.boxes()[0], "Warning!", "The file you've selected already exists. Overwrite?", MB_ICONWARNING,
              MB_YESNO);
    EXPECT_EQ(boxes.boxes()[0].owner, form());
    EXPECT_TRUE(readWholeFile(pathOf("old.iso")) == previous);
    EXPECT_EQ(progress().boxesOpened, 0);

    boxes.clear();
    boxes.answer(IDYES);
    copyDiskToFile(form());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    Bytes expected(source_.begin(), source_.begin() + 8 * 512);
    EXPECT_TRUE(readWholeFile(pathOf("old.iso")) == expected);

    /* An empty file is overwritten without a question. */
    writeWholeFile(pathOf("empty.iso"), Bytes());
    usePath("empty.iso");
    boxes.clear();
    copyDiskToFile(form());
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_TRUE(readWholeFile(pathOf("empty.iso")) == expected);
}

TEST_F(TransferChecks, RelativeAndEmptyPathsAreMadeAbsolute)
{
    useBus();
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(folder().c_str());
    appState.transferSectors = 4;

    MessageBoxWatch boxes;
    std::snprintf(appState.imagePath, kPathBufferSize, ".\\NewFile.iso");
    copyDiskToFile(form());
    EXPECT_EQ(std::string(appState.imagePath), pathOf("NewFile.iso"));
    EXPECT_EQ(readWholeFile(pathOf("NewFile.iso")).size(), 2048u);

    appState.imagePath[0] = '\0';
    copyDiskToFile(form());
    EXPECT_EQ(std::string(appState.imagePath), folder());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    expectBox(boxes.boxes()[0], "ERROR", "Can't create output file. Check name and device.", MB_ICONERROR, MB_OK);
    SetCurrentDirectoryA(previous);
}

TEST_F(TransferChecks, FileLengthQuestionsComeInTheirOrder)
{
    useBus();
    struct Case {
        const char *name;
        size_t fileLength;
        std::vector<int> answers;
        std::vector<std::string> questions;
        int32_t sectorsWritten;
        int32_t transferSectorsAfter;
    };
    const std::string shorter = "File is shorter than device. Write will be truncated to file size";
    const std::string bigger = "File is bigger than device.";
    const std::vector<Case> cases = {
        {"exact length", 10 * 512, {}, {}, 10, 10},
        {"shorter, whole sectors, OK", 6 * 512, {IDOK}, {shorter}, 6, 6},
        {"shorter, Cancel", 6 * 512, {IDCANCEL}, {shorter}, 0, 10},
        {"shorter with a part sector, OK and OK", 6 * 512 + 100, {IDOK, IDOK}, {shorter, bigger}, 6, 6},
        {"shorter with a part sector, OK then Cancel", 6 * 512 + 100, {IDOK, IDCANCEL}, {shorter, bigger}, 0, 6},
        {"longer, OK", 12 * 512, {IDOK}, {bigger}, 10, 10},
        {"longer, Cancel", 12 * 512, {IDCANCEL}, {bigger}, 0, 10},
        {"shorter than one sector, OK and OK", 100, {IDOK, IDOK}, {shorter, bigger}, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetTarget();
        const Bytes image = patternBytes(uint32_t(c.fileLength), c.fileLength);
        writeWholeFile(pathOf("in.iso"), image);
        usePath("in.iso");
        appState.transferSectors = 10;
        MessageBoxWatch boxes;
        for (int answer : c.answers)
            boxes.answer(answer);

        copyFileToDisk(form());

        std::vector<std::string> asked;
        for (const CapturedBox &box : boxes.boxes()) {
            asked.push_back(box.text);
            EXPECT_EQ(box.caption, "WARNING");
            EXPECT_EQ(box.icon, UINT(MB_ICONINFORMATION));
            EXPECT_EQ(box.buttons, UINT(MB_OKCANCEL));
        }
        EXPECT_EQ(asked, c.questions);
        EXPECT_EQ(appState.transferSectors, c.transferSectorsAfter);
        const size_t written = size_t(c.sectorsWritten) * 512;
        Bytes device = target();
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + long(written), device.begin()));
        EXPECT_TRUE(std::all_of(device.begin() + long(written), device.end(), [](uint8_t b) { return b == kOldContents; }));
    }
}

TEST_F(TransferChecks, MissingOrEmptyInputFileIsRefused)
{
    useBus();
    writeWholeFile(pathOf("empty.iso"), Bytes());
    for (const char *name : {"missing.iso", "empty.iso"}) {
        SCOPED_TRACE(name);
        usePath(name);
        appState.transferSectors = 10;
        MessageBoxWatch boxes;
        copyFileToDisk(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
        expectBox(boxes.boxes()[0], "ERROR", "Input file does not exist or null sized.", MB_ICONERROR, MB_OK);
        EXPECT_TRUE(targetUntouched());
    }
}

TEST_F(TransferChecks, SameDeviceAsSourceAndTargetKeepsItsContents)
{
    useBus();
    selectSource(0, 1);
    selectTarget(0, 1);
    appState.bufferBlocks = 8;
    appState.transferSectors = kSectors;
    MessageBoxWatch boxes;
    copyDiskToDisk(form());
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(progress().positions.size(), size_t(kSectors / 8));
    EXPECT_TRUE(readWholeFile(pathOf("source.img")) == source_);
}

TEST_F(TransferChecks, AsynchronousCompletionMovesTheSameBytes)
{
    useBus("completion = async\r\ndelay_ms = 2");
    appState.bufferBlocks = 8;
    appState.transferSectors = 21;
    const size_t length = 21 * 512;

    usePath("async.iso");
    copyDiskToFile(form());
    Bytes file = readWholeFile(pathOf("async.iso"));
    ASSERT_EQ(file.size(), 24u * 512);
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + long(length), source_.begin()));
    EXPECT_TRUE(std::all_of(file.begin() + long(length), file.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(TransferChecks, AsynchronousCompletionToDisk)
{
    useBus("completion = async\r\ndelay_ms = 2");
    appState.bufferBlocks = 8;
    appState.transferSectors = 21;
    const size_t length = 21 * 512;
    MessageBoxWatch boxes;

    const Bytes image = patternBytes(5, length);
    writeWholeFile(pathOf("in.iso"), image);
    usePath("in.iso");
    copyFileToDisk(form());
    Bytes device = target();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), device.begin()));

    resetTarget();
    copyDiskToDisk(form());
    device = target();
    EXPECT_TRUE(std::equal(source_.begin(), source_.begin() + long(length), device.begin()));
    EXPECT_TRUE(std::all_of(device.begin() + long(length), device.end(), [](uint8_t b) { return b == kOldContents; }));
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(TransferChecks, ABufferChangeDuringATransferAppliesToTheNextOne)
{
    useBus();
    appState.bufferBlocks = 1;   /* one sector per chunk */
    appState.transferSectors = 10;
    actAtPosition(20, BoxAction::ChangeBuffer);
    copyDiskToDisk(form());
    EXPECT_EQ(appState.bufferBlocks, 128);
    EXPECT_EQ(progress().positions.size(), 10u) << "the running transfer keeps one sector per chunk";
    EXPECT_TRUE(std::equal(source_.begin(), source_.begin() + 10 * 512, target().begin()));

    progress() = ProgressRecord();
    copyDiskToDisk(form());
    EXPECT_EQ(progress().positions.size(), 1u) << "the next transfer moves all ten sectors at once";
}

/*
 * A failed request ends the process with status 0 after its message. The child is this program
 * run again on one test, in the parent's folder; it writes the message it saw into that folder.
 */
TEST_F(TransferChecks, ChildProcessStopsAtAFailedRequest)
{
    char direction[32] = "";
    if (!GetEnvironmentVariableA("KESTROVA_TRANSFER_CHILD", direction, sizeof direction))
        GTEST_SKIP() << "run as a child of ScsiFailureEndsTheProcessAfterExactlyTheChunksBefore";
    loadBus({{0, 1, 512, kSectors, "source.img", std::getenv("KESTROVA_SOURCE_FAULT")},
             {0, 2, 512, kSectors, "target.img", std::getenv("KESTROVA_TARGET_FAULT")}});
    appState.bufferBlocks = 2;   /* two sectors per chunk */
    appState.transferSectors = 20;
    usePath(std::string(direction) == "file-to-disk" ? "in.iso" : "out.iso");
    MessageBoxWatch boxes;
    const std::string report = pathOf("report.txt");
    boxes.onBox([&](const CapturedBox &box) {
        writeWholeFile(report, Bytes(box.text.begin(), box.text.end()));
    });
    if (std::string(direction) == "disk-to-file")
        copyDiskToFile(form());
    else if (std::string(direction) == "file-to-disk")
        copyFileToDisk(form());
    else
        copyDiskToDisk(form());
    ADD_FAILURE() << "the transfer returned after a failed request";
    std::_Exit(3);
}

TEST_F(TransferChecks, ScsiFailureEndsTheProcessAfterExactlyTheChunksBefore)
{
    struct Case { const char *direction, *sourceFault, *targetFault; };
    const Case cases[] = {
        {"disk-to-file", "fault = read after 3", ""},
        {"file-to-disk", "", "fault = write after 3"},
        {"disk-to-disk", "", "fault = write after 3"},
    };
    const Bytes image = patternBytes(77, 20 * 512);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.direction);
        resetTarget();
        writeWholeFile(pathOf("in.iso"), image);
        DeleteFileA(pathOf("out.iso").c_str());
        DeleteFileA(pathOf("report.txt").c_str());
        SetEnvironmentVariableA("KESTROVA_TRANSFER_CHILD", c.direction);
        SetEnvironmentVariableA("KESTROVA_TRANSFER_FOLDER", folder().c_str());
        SetEnvironmentVariableA("KESTROVA_SOURCE_FAULT", c.sourceFault);
        SetEnvironmentVariableA("KESTROVA_TARGET_FAULT", c.targetFault);

        ChildRun child = runTestsInChild("TransferChecks.ChildProcessStopsAtAFailedRequest");
        ASSERT_TRUE(child.started);
        for (const char *name : {"KESTROVA_TRANSFER_CHILD", "KESTROVA_TRANSFER_FOLDER", "KESTROVA_SOURCE_FAULT",
                                 "KESTROVA_TARGET_FAULT"})
            SetEnvironmentVariableA(name, nullptr);

        EXPECT_TRUE(child.finished) << "the child did not end";
        EXPECT_EQ(child.exitCode, 0u);
        Bytes report = readWholeFile(pathOf("report.txt"));
        EXPECT_EQ(std::string(report.begin(), report.end()),
                  "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)");
        /* Three chunks of two sectors went through before the fourth request failed. */
        const size_t kept = 3 * 2 * 512;
        if (std::string(c.direction) == "disk-to-file") {
            Bytes file = readWholeFile(pathOf("out.iso"));
            EXPECT_EQ(file.size(), kept) << "the chunks before the failure, and no alignment bytes";
            EXPECT_TRUE(std::equal(file.begin(), file.end(), source_.begin()));
        } else {
            const Bytes &expected = std::string(c.direction) == "file-to-disk" ? image : source_;
            Bytes device = target();
            EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + long(kept), device.begin()));
            EXPECT_TRUE(std::all_of(device.begin() + long(kept), device.end(), [](uint8_t b) { return b == kOldContents; }));
        }
    }
}
