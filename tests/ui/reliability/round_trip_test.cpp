/*
 * A seeded random round trip: devices of random geometry (sectors of 512, 1024, 2048 or 4096
 * bytes), random sizes and buffer sizes. Each round copies disk to file, the file to a second
 * disk, then disk to disk onto a third: every copy holds the source's first T sectors and every
 * target keeps the rest as it was. KESTROVA_SEED chooses another seed; failures name the round.
 */
#include "transfer_bench.h"
#include "app_state.h"
#include "message_box_watch.h"
#include "transfers.h"
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {
constexpr uint32_t kDefaultSeed = 20261208;
constexpr int kRounds = 16;
constexpr uint8_t kOld = 0xEE;

bool allAre(const Bytes &bytes, size_t from, uint8_t value)
{
    return std::all_of(bytes.begin() + long(from), bytes.end(), [&](uint8_t b) { return b == value; });
}
}  // namespace

class RoundTrip : public TransferBench {};

TEST_F(RoundTrip, RandomGeometriesThroughFileAndDisks)
{
    char given[32] = "";
    const uint32_t seed = GetEnvironmentVariableA("KESTROVA_SEED", given, sizeof given)
                              ? uint32_t(std::strtoul(given, nullptr, 10)) : kDefaultSeed;
    std::printf("[ reliability ] round trip seed %u (KESTROVA_SEED=%u repeats it)\n", seed, seed);
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const int32_t sectorSizes[] = {512, 1024, 2048, 4096};
    const int32_t bufferChoices[] = {8, 16, 32, 64, 128};   /* the dialog's 4 to 64 K */
    int chunksTotal = 0;

    for (int round = 0; round < kRounds; ++round) {
        const int32_t sectorSize = sectorSizes[pick(0, 3)];
        const int32_t sourceSectors = pick(1, 600);
        const int32_t transfer = pick(1, sourceSectors);
        const int32_t secondSectors = transfer + pick(0, 40);
        const int32_t thirdSectors = transfer + pick(0, 40);
        /* Mostly the dialog's sizes; sometimes any buffer that holds a sector. */
        int32_t bufferBlocks = pick(0, 3) ? bufferChoices[pick(0, 4)] : pick(sectorSize / 512, 160);
        if (bufferBlocks * 512 < sectorSize)
            bufferBlocks = sectorSize / 512;
        const bool async = pick(0, 3) == 0;
        SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(sectorSize) + " B/sector, source " +
                     std::to_string(sourceSectors) + ", T " + std::to_string(transfer) + ", targets " +
                     std::to_string(secondSectors) + "/" + std::to_string(thirdSectors) + ", buffer " +
                     std::to_string(bufferBlocks) + " blocks" + (async ? ", async" : ""));

        const std::string tag = std::to_string(round);
        const Bytes source = patternBytes(seed + uint32_t(round), size_t(sourceSectors) * sectorSize);
        writeWholeFile(pathOf("a" + tag + ".img"), source);
        writeWholeFile(pathOf("b" + tag + ".img"), Bytes(size_t(secondSectors) * sectorSize, kOld));
        writeWholeFile(pathOf("c" + tag + ".img"), Bytes(size_t(thirdSectors) * sectorSize, kOld));
        loadBus({{0, 1, sectorSize, sourceSectors, "a" + tag + ".img", ""},
                 {0, 2, sectorSize, secondSectors, "b" + tag + ".img", ""},
                 {1, 5, sectorSize, thirdSectors, "c" + tag + ".img", ""}},
                async ? "completion = async\r\ndelay_ms = 1" : "");
        appState.bufferBlocks = bufferBlocks;
        const size_t moved = size_t(transfer) * sectorSize;
        MessageBoxWatch boxes;

        /* Disk to file. */
        selectSource(0, 1);
        appState.transferSectors = transfer;
        std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf("image" + tag + ".iso").c_str());
        progress() = ProgressRecord();
        copyDiskToFile(form());
        Bytes file = readWholeFile(pathOf("image" + tag + ".iso"));
        ASSERT_EQ(file.size(), (moved + 2047) / 2048 * 2048);
        EXPECT_TRUE(std::equal(source.begin(), source.begin() + long(moved), file.begin()));
        EXPECT_TRUE(allAre(file, moved, 0));
        const int32_t perChunk = std::min<int32_t>(bufferBlocks * 512 / sectorSize, 65535);
        EXPECT_EQ(progress().boxesOpened, 1);
        chunksTotal += (transfer + perChunk - 1) / perChunk;

        /* The file onto the second disk: only a padded file asks, "bigger", answered OK. */
        selectTarget(0, 2);
        copyFileToDisk(form());
        EXPECT_EQ(appState.transferSectors, transfer);
        Bytes second = readWholeFile(pathOf("b" + tag + ".img"));
        EXPECT_TRUE(std::equal(source.begin(), source.begin() + long(moved), second.begin()));
        EXPECT_TRUE(allAre(second, moved, kOld));
        chunksTotal += (transfer + perChunk - 1) / perChunk;

        /* Disk to disk onto the third, on another adapter. */
        selectTarget(1, 5);
        copyDiskToDisk(form());
        Bytes third = readWholeFile(pathOf("c" + tag + ".img"));
        EXPECT_TRUE(std::equal(source.begin(), source.begin() + long(moved), third.begin()));
        EXPECT_TRUE(allAre(third, moved, kOld));
        chunksTotal += (transfer + perChunk - 1) / perChunk;

        EXPECT_EQ(readWholeFile(pathOf("a" + tag + ".img")), source) << "the source is only read";
        /* One question exactly when the image carries alignment bytes beyond the T sectors. */
        const size_t questions = moved % 2048 ? 1 : 0;
        ASSERT_EQ(boxes.boxes().size(), questions);
        if (questions) {
            EXPECT_EQ(boxes.boxes()[0].text, "File is bigger than device.") << describe(boxes.boxes()[0]);
        }
        if (HasFailure())
            break;
    }
    std::printf("[ reliability ] round trip: %d rounds, %d transfers, %d chunks\n", kRounds, 3 * kRounds, chunksTotal);
}
