/*
 * A sparse 5 GiB device copied to an image file and back onto another device: offsets past
 * 2 GiB and 4 GiB land where they belong, and the file's length is measured in 64 bits.
 */
#include "transfer_bench.h"
#include "app_state.h"
#include "message_box_watch.h"
#include "transfers.h"

namespace {
constexpr int32_t kSectorSize = 512;
constexpr int32_t kSectors = int32_t((int64_t(5) << 30) / kSectorSize);
/* Marked sectors: the ends, and both sides of 2 GiB and 4 GiB. */
constexpr int32_t kMarked[] = {0, 1, 4194303, 4194304, 8388607, 8388608, 9000001, kSectors - 1};

Bytes marker(int32_t lba)
{
    return patternBytes(uint32_t(lba) + 1, kSectorSize);
}
}  // namespace

class LargeImage : public TransferBench {};

TEST_F(LargeImage, FiveGiBDeviceToFileAndBack)
{
    for (int32_t lba : kMarked)
        writeFileRange(pathOf("big.img"), int64_t(lba) * kSectorSize, marker(lba));
    loadBus({{0, 1, kSectorSize, kSectors, "big.img", ""}, {0, 2, kSectorSize, kSectors, "back.img", ""}});
    appState.bufferBlocks = 128;
    appState.transferSectors = kSectors;
    std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf("five.iso").c_str());
    MessageBoxWatch boxes;

    copyDiskToFile(form());
    EXPECT_EQ(imageFileSize(appState.imagePath), int64_t(5) << 30);
    for (int32_t lba : kMarked) {
        SCOPED_TRACE(lba);
        EXPECT_TRUE(readFileRange(pathOf("five.iso"), int64_t(lba) * kSectorSize, kSectorSize) == marker(lba));
    }
    EXPECT_TRUE(readFileRange(pathOf("five.iso"), int64_t(6000000) * kSectorSize, kSectorSize) ==
                Bytes(kSectorSize, 0));

    copyFileToDisk(form());
    EXPECT_EQ(appState.transferSectors, kSectors) << "an exact length asks nothing";
    for (int32_t lba : kMarked) {
        SCOPED_TRACE(lba);
        EXPECT_TRUE(readFileRange(pathOf("back.img"), int64_t(lba) * kSectorSize, kSectorSize) == marker(lba));
    }
    for (const CapturedBox &box : boxes.boxes())
        ADD_FAILURE() << "unexpected message " << describe(box);
    /* The image and the written device take 10 GiB: give them back at once. */
    DeleteFileA(pathOf("five.iso").c_str());
}
