/*
 * Disk to file onto a drive too small for the image: refused before anything is written when
 * the drive's free space says so, and both write messages when the drive fills mid-copy.
 * The drive is a 1 MiB tmpfs that the test fixture mounts (as S:, and by its Z: path).
 */
#include "transfer_bench.h"
#include "app_state.h"
#include "message_box_watch.h"
#include "transfers.h"

namespace {
constexpr int32_t kSectors = 4096;   /* 2 MiB of 512-byte sectors */

std::string smallDriveByUnixPath()
{
    std::string path = "Z:" KESTROVA_SMALL_DRIVE_DIR;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

class SmallDrive : public TransferBench {
protected:
    void SetUp() override
    {
        TransferBench::SetUp();
        ULARGE_INTEGER total;
        if (!GetDiskFreeSpaceExA("S:\\", nullptr, &total, nullptr) || total.QuadPart > 2 * 1048576)
            GTEST_SKIP() << "no small drive S: (the fixture could not mount one here)";
        source_ = patternBytes(21, size_t(kSectors) * 512);
        writeWholeFile(pathOf("source.img"), source_);
        loadBus({{0, 1, 512, kSectors, "source.img", ""}});
        appState.bufferBlocks = 128;
    }

    Bytes source_;
};
}  // namespace

TEST_F(SmallDrive, NotEnoughRoomIsRefusedBeforeTheFileIsCreated)
{
    std::snprintf(appState.imagePath, kPathBufferSize, "S:\\big.iso");
    appState.transferSectors = kSectors;
    MessageBoxWatch boxes;
    copyDiskToFile(form());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes()[0].icon, UINT(MB_ICONERROR));
    unsigned freeKb = 0, neededKb = 0;
    EXPECT_EQ(std::sscanf(boxes.boxes()[0].text.c_str(), "Not enough room on dest device (free: %u kB, needs: %u kB).",
                          &freeKb, &neededKb), 2) << describe(boxes.boxes()[0]);
    EXPECT_EQ(neededKb, 2048u);
    EXPECT_LE(freeKb, 1024u);
    EXPECT_EQ(GetFileAttributesA("S:\\big.iso"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(progress().boxesOpened, 0);
}

TEST_F(SmallDrive, AFullDriveMidCopyGivesBothWriteMessagesAndKeepsWhatWasWritten)
{
    /* By its Z: path the free-space test asks the root file system, so the copy starts. */
    const std::string path = smallDriveByUnixPath() + "\\full.iso";
    std::snprintf(appState.imagePath, kPathBufferSize, "%s", path.c_str());
    appState.transferSectors = kSectors - 1;   /* leaves 512 alignment bytes to write */
    MessageBoxWatch boxes;
    copyDiskToFile(form());

    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Error");
    EXPECT_EQ(boxes.boxes()[0].text, "Error while writing file. Disk Full?");
    EXPECT_EQ(boxes.boxes()[0].icon, UINT(MB_ICONERROR));
    EXPECT_EQ(boxes.boxes()[1].caption, "Error");
    EXPECT_EQ(boxes.boxes()[1].text, "Error while writing alignement. Disk Full?");
    EXPECT_EQ(boxes.boxes()[1].icon, UINT(MB_ICONERROR));

    Bytes file = readWholeFile(path);
    EXPECT_GT(file.size(), 0u);
    EXPECT_LE(file.size(), 1048576u);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), source_.begin())) << "what was written stays as read";
    EXPECT_EQ(progress().boxesDestroyed, 1);
    EXPECT_TRUE(IsWindowEnabled(form()));
    DeleteFileA(path.c_str());
}
