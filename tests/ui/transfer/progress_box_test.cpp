/*
 * The progress box during real transfers: what it shows and when, ABORT by mouse and keyboard,
 * the keys and notifications that do nothing, and a box that cannot be created.
 */
#include "transfer_bench.h"
#include "app_state.h"
#include "message_box_watch.h"
#include "resource_ids.h"
#include "transfers.h"

namespace {
constexpr int32_t kSectorSize = 512;
constexpr int32_t kDeviceSectors = 400;
constexpr uint8_t kOldContents = 0xEE;

enum class Direction { DiskToFile, FileToDisk, DiskToDisk };
const char *nameOf(Direction d)
{
    return d == Direction::DiskToFile ? "disk to file" : d == Direction::FileToDisk ? "file to disk" : "disk to disk";
}

class ProgressBoxTest : public TransferBench {
protected:
    void SetUp() override
    {
        TransferBench::SetUp();
        source_ = patternBytes(7, size_t(kDeviceSectors) * kSectorSize);
        writeWholeFile(pathOf("source.img"), source_);
        writeWholeFile(pathOf("target.img"), Bytes(source_.size(), kOldContents));
        image_ = patternBytes(8, size_t(kDeviceSectors) * kSectorSize);
        loadBus({{0, 1, kSectorSize, kDeviceSectors, "source.img", ""},
                 {0, 2, kSectorSize, kDeviceSectors, "target.img", ""},
                 {1, 5, kSectorSize, kDeviceSectors, "", ""}});
        /* One sector per chunk: the percentage moves at every chunk of a short transfer. */
        appState.bufferBlocks = 1;
    }

    void run(Direction direction, int32_t sectors)
    {
        appState.transferSectors = sectors;
        switch (direction) {
        case Direction::DiskToFile:
            DeleteFileA(pathOf("out.iso").c_str());
            std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf("out.iso").c_str());
            copyDiskToFile(form());
            break;
        case Direction::FileToDisk:
            writeWholeFile(pathOf("in.iso"), Bytes(image_.begin(), image_.begin() + long(sectors) * kSectorSize));
            std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf("in.iso").c_str());
            copyFileToDisk(form());
            break;
        case Direction::DiskToDisk:
            copyDiskToDisk(form());
            break;
        }
    }

    /* Sectors of the transfer that reached their destination, judged from the bytes. */
    int32_t sectorsCopied(Direction direction, int32_t transferSectors)
    {
        if (direction == Direction::DiskToFile) {
            Bytes file = readWholeFile(pathOf("out.iso"));
            int64_t pad = (2048 - int64_t(transferSectors) * kSectorSize % 2048) % 2048;
            int64_t data = int64_t(file.size()) - pad;
            EXPECT_GE(data, 0);
            EXPECT_TRUE(std::equal(file.begin(), file.begin() + long(data), source_.begin()));
            EXPECT_TRUE(std::all_of(file.begin() + long(data), file.end(), [](uint8_t b) { return b == 0; }));
            return int32_t(data / kSectorSize);
        }
        const Bytes &expected = direction == Direction::FileToDisk ? image_ : source_;
        Bytes device = readWholeFile(pathOf("target.img"));
        size_t same = 0;
        while (same < device.size() && device[same] == expected[same])
            same++;
        EXPECT_EQ(same % kSectorSize, 0u);
        EXPECT_TRUE(std::all_of(device.begin() + long(same), device.end(), [](uint8_t b) { return b == kOldContents; }))
            << "beyond the copied sectors the target keeps its old contents";
        return int32_t(same / kSectorSize);
    }

    void expectBoxGoneOnceAndFormEnabled()
    {
        EXPECT_EQ(progress().boxesOpened, 1);
        EXPECT_EQ(progress().boxesDestroyed, 1);
        EXPECT_TRUE(progress().formDisabledWhileOpen);
        EXPECT_TRUE(IsWindowEnabled(form()));
        EXPECT_EQ(appState.progressBox, nullptr);
        EXPECT_EQ(appState.abortRequested, 1);
    }

    Bytes source_, image_;
};

const Direction kDirections[] = {Direction::DiskToFile, Direction::FileToDisk, Direction::DiskToDisk};
}  // namespace

TEST_F(ProgressBoxTest, PercentageBeforeEachChunkFromDiskAfterEachChunkToDisk)
{
    for (Direction direction : kDirections) {
        SCOPED_TRACE(nameOf(direction));
        progress() = ProgressRecord();
        run(direction, 10);
        if (direction == Direction::FileToDisk) {
            EXPECT_EQ(progress().positions, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
            EXPECT_EQ(progress().labels, (std::vector<std::string>{"10%", "20%", "30%", "40%", "50%", "60%", "70%",
                                                                   "80%", "90%", "100%"}));
        } else {
            EXPECT_EQ(progress().positions, (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90}));
            EXPECT_EQ(progress().labels, (std::vector<std::string>{" 0%", "10%", "20%", "30%", "40%", "50%", "60%",
                                                                   "70%", "80%", "90%"}));
        }
        EXPECT_EQ(sectorsCopied(direction, 10), 10);
        expectBoxGoneOnceAndFormEnabled();
    }
}

TEST_F(ProgressBoxTest, BarAndLabelChangeOnlyWhenThePercentageDoes)
{
    progress() = ProgressRecord();
    run(Direction::DiskToDisk, 300);   /* 300 chunks, 100 distinct percentages */
    std::vector<int> expected;
    for (int p = 0; p < 100; p++)
        expected.push_back(p);
    EXPECT_EQ(progress().positions, expected);
    EXPECT_EQ(progress().labels.size(), expected.size());
    EXPECT_EQ(sectorsCopied(Direction::DiskToDisk, 300), 300);
}

TEST_F(ProgressBoxTest, SingleChunkShowsZeroOrHundredOnce)
{
    appState.bufferBlocks = 32;
    for (Direction direction : kDirections) {
        SCOPED_TRACE(nameOf(direction));
        progress() = ProgressRecord();
        run(direction, 5);
        EXPECT_EQ(progress().positions, std::vector<int>{direction == Direction::FileToDisk ? 100 : 0});
        EXPECT_EQ(progress().labels,
                  std::vector<std::string>{direction == Direction::FileToDisk ? "100%" : " 0%"});
        expectBoxGoneOnceAndFormEnabled();
    }
}

TEST_F(ProgressBoxTest, AbortAfterKChunksFinishesThatChunkAndStops)
{
    for (Direction direction : kDirections)
        for (int k : {1, 4, 9}) {
            SCOPED_TRACE(testing::Message() << nameOf(direction) << ", ABORT during chunk " << k);
            writeWholeFile(pathOf("target.img"), Bytes(source_.size(), kOldContents));
            progress() = ProgressRecord();
            /* The bar is set during chunk k (k-1 chunks done before it, k after it in File to disk). */
            actAtPosition(direction == Direction::FileToDisk ? k * 10 : (k - 1) * 10, BoxAction::ClickAbort);
            run(direction, 10);
            EXPECT_EQ(sectorsCopied(direction, 10), k);
            EXPECT_EQ(int(progress().positions.size()), k) << "no chunk after ABORT";
            expectBoxGoneOnceAndFormEnabled();
        }
}

TEST_F(ProgressBoxTest, EnterPressesAbortAsTheDefaultButton)
{
    actAtPosition(20, BoxAction::PressEnter);
    run(Direction::DiskToDisk, 10);
    EXPECT_EQ(sectorsCopied(Direction::DiskToDisk, 10), 3);
    expectBoxGoneOnceAndFormEnabled();
}

TEST_F(ProgressBoxTest, EscapeAndFocusNotificationsDoNothing)
{
    for (BoxAction action : {BoxAction::PressEscape, BoxAction::FocusNotifications}) {
        SCOPED_TRACE(static_cast<int>(action));
        writeWholeFile(pathOf("target.img"), Bytes(source_.size(), kOldContents));
        progress() = ProgressRecord();
        actAtPosition(30, action);
        run(Direction::DiskToDisk, 10);
        EXPECT_EQ(sectorsCopied(Direction::DiskToDisk, 10), 10);
        EXPECT_EQ(progress().positions.size(), 10u);
        expectBoxGoneOnceAndFormEnabled();
    }
}

TEST_F(ProgressBoxTest, OtherWindowsGetTheirMessagesDuringATransfer)
{
    actAtPosition(50, BoxAction::PostToForm);
    run(Direction::DiskToFile, 10);
    EXPECT_EQ(progress().formMessages, 1);
    EXPECT_EQ(sectorsCopied(Direction::DiskToFile, 10), 10);
}

TEST_F(ProgressBoxTest, DescriptionsNameWhatIsCopied)
{
    run(Direction::DiskToFile, 10);
    EXPECT_EQ(progress().description, "Kestrova is Writing:   0.0 Mbytes \n(10 sectors, 512 bytes/sector)\nto  file " +
                                          pathOf("out.iso") + "\n");
    run(Direction::FileToDisk, 10);
    EXPECT_EQ(progress().description, "Vorlanda is Writing:   0.0 Mbytes \n(10 sectors, 512 bytes/sector)\nfrom  file " +
                                          pathOf("in.iso") + "\n");
    selectSource(0, 2);
    selectTarget(1, 5);
    appState.bufferBlocks = 128;
    run(Direction::DiskToDisk, 400);
    EXPECT_EQ(progress().description, "Kestrova is copying:   0.2 Mbytes \n(400 sectors, 512 bytes/sector)\nfrom 0:2 to 1:5\n");
}

TEST_F(ProgressBoxTest, ABoxThatCannotBeCreatedRefusesTheTransfer)
{
    MessageBoxWatch boxes;
    const HINSTANCE program = appState.instance;
    appState.instance = GetModuleHandleA("kernel32.dll");   /* holds no PROCEEDBOX */
    for (Direction direction : kDirections) {
        SCOPED_TRACE(nameOf(direction));
        boxes.clear();
        run(direction, 10);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
        EXPECT_EQ(boxes.boxes()[0].text, "Can't open the progress window. Nothing was transferred.");
        EXPECT_EQ(boxes.boxes()[0].icon, UINT(MB_ICONERROR));
        if (direction == Direction::DiskToFile) {
            /* The file is opened before the box: not a byte, sector or alignment, may reach it. */
            EXPECT_EQ(readWholeFile(pathOf("out.iso")).size(), 0u) << "the file holds what was written";
        } else {
            EXPECT_EQ(sectorsCopied(direction, 10), 0) << "no request without a box";
        }
        EXPECT_TRUE(IsWindowEnabled(form()));
    }
    appState.instance = program;
}
