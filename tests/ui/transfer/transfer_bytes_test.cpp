/*
 * Every byte where it belongs, in the three directions: single chunk, exact multiple and
 * remainder, with 512- and 2048-byte sectors and each buffer size the program offers.
 */
#include "transfer_bench.h"
#include "app_state.h"
#include "message_box_watch.h"
#include "transfers.h"

namespace {
constexpr uint8_t kOldContents = 0xEE;

struct SectorGeometry {
    int32_t sectorSize;
    int sourceTarget, targetTarget;
    int32_t sectors;
};
constexpr SectorGeometry kGeometries[] = {{512, 1, 2, 400}, {2048, 3, 4, 120}};
constexpr int32_t kBufferBlocks[] = {8, 16, 32, 64, 128};   /* 4 to 64 KB */

struct Shape {
    const char *name;
    int32_t (*sectors)(int32_t perBuffer);
};
const Shape kShapes[] = {
    {"single chunk", [](int32_t p) { return p > 1 ? p - 1 : 1; }},
    {"exact multiple", [](int32_t p) { return 3 * p; }},
    {"remainder", [](int32_t p) { return 2 * p + 1; }},
};

class TransferBytes : public TransferBench {
protected:
    void SetUp() override
    {
        TransferBench::SetUp();
        std::vector<BusDevice> devices;
        for (const SectorGeometry &g : kGeometries) {
            writeWholeFile(pathOf(sourceImage(g)), patternBytes(uint32_t(g.sectorSize), size_t(g.sectors) * g.sectorSize));
            writeWholeFile(pathOf(targetImage(g)), Bytes(size_t(g.sectors) * g.sectorSize, kOldContents));
            devices.push_back({0, g.sourceTarget, g.sectorSize, g.sectors, sourceImage(g), ""});
            devices.push_back({0, g.targetTarget, g.sectorSize, g.sectors, targetImage(g), ""});
        }
        loadBus(devices);
    }

    static std::string sourceImage(const SectorGeometry &g) { return "source" + std::to_string(g.sectorSize) + ".img"; }
    static std::string targetImage(const SectorGeometry &g) { return "target" + std::to_string(g.sectorSize) + ".img"; }

    void resetTarget(const SectorGeometry &g)
    {
        writeFileRange(pathOf(targetImage(g)), 0, Bytes(size_t(g.sectors) * g.sectorSize, kOldContents));
    }

    /* The box opened and went once, the form is usable again, the flag says the box is gone. */
    void expectClosedCleanly()
    {
        EXPECT_EQ(progress().boxesOpened, 1);
        EXPECT_EQ(progress().boxesDestroyed, 1);
        EXPECT_TRUE(progress().formDisabledWhileOpen);
        EXPECT_TRUE(IsWindowEnabled(form()));
        EXPECT_EQ(appState.progressBox, nullptr);
        EXPECT_EQ(appState.abortRequested, 1);
        progress() = ProgressRecord();
    }

    template <typename Body>
    void forEveryCase(Body body)
    {
        for (const SectorGeometry &g : kGeometries)
            for (int32_t blocks : kBufferBlocks)
                for (const Shape &shape : kShapes) {
                    int32_t perBuffer = blocks * 512 / g.sectorSize;
                    int32_t sectors = shape.sectors(perBuffer);
                    SCOPED_TRACE(testing::Message() << g.sectorSize << "-byte sectors, " << blocks / 2 << " KB buffer, "
                                                    << shape.name << ": " << sectors << " sectors");
                    appState.bufferBlocks = blocks;
                    appState.transferSectors = sectors;
                    body(g, sectors);
                }
    }
};
}  // namespace

TEST_F(TransferBytes, DiskToFileWritesTheSectorsThenZerosToA2048Multiple)
{
    MessageBoxWatch boxes;
    forEveryCase([&](const SectorGeometry &g, int32_t sectors) {
        selectSource(0, g.sourceTarget);
        const std::string out = pathOf("out.iso");
        DeleteFileA(out.c_str());
        std::snprintf(appState.imagePath, kPathBufferSize, "%s", out.c_str());

        copyDiskToFile(form());

        Bytes expected = readFileRange(pathOf(sourceImage(g)), 0, size_t(sectors) * g.sectorSize);
        expected.resize((expected.size() + 2047) / 2048 * 2048, 0);
        Bytes written = readWholeFile(out);
        EXPECT_EQ(written.size(), expected.size());
        EXPECT_TRUE(written == expected) << "the image differs from the device";
        expectClosedCleanly();
    });
    for (const CapturedBox &box : boxes.boxes())
        ADD_FAILURE() << "unexpected message " << describe(box);
}

TEST_F(TransferBytes, FileToDiskWritesTheFileFromSectorZeroAndLeavesTheRest)
{
    MessageBoxWatch boxes;
    forEveryCase([&](const SectorGeometry &g, int32_t sectors) {
        selectTarget(0, g.targetTarget);
        resetTarget(g);
        const std::string in = pathOf("in.iso");
        const Bytes image = patternBytes(uint32_t(1000 + sectors), size_t(sectors) * g.sectorSize);
        writeWholeFile(in, image);
        std::snprintf(appState.imagePath, kPathBufferSize, "%s", in.c_str());

        copyFileToDisk(form());

        Bytes device = readWholeFile(pathOf(targetImage(g)));
        ASSERT_EQ(device.size(), size_t(g.sectors) * g.sectorSize);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), device.begin())) << "the device differs from the file";
        EXPECT_TRUE(std::all_of(device.begin() + long(image.size()), device.end(),
                                [](uint8_t b) { return b == kOldContents; }))
            << "sectors beyond the transfer were written";
        EXPECT_EQ(appState.transferSectors, sectors);
        expectClosedCleanly();
    });
    for (const CapturedBox &box : boxes.boxes())
        ADD_FAILURE() << "unexpected message " << describe(box);
}

TEST_F(TransferBytes, DiskToDiskCopiesBlockForBlockAndLeavesTheRest)
{
    MessageBoxWatch boxes;
    forEveryCase([&](const SectorGeometry &g, int32_t sectors) {
        selectSource(0, g.sourceTarget);
        selectTarget(0, g.targetTarget);
        resetTarget(g);

        copyDiskToDisk(form());

        const size_t length = size_t(sectors) * g.sectorSize;
        Bytes source = readWholeFile(pathOf(sourceImage(g)));
        Bytes device = readWholeFile(pathOf(targetImage(g)));
        ASSERT_EQ(device.size(), source.size());
        EXPECT_TRUE(std::equal(source.begin(), source.begin() + long(length), device.begin()))
            << "the target differs from the source";
        EXPECT_TRUE(std::all_of(device.begin() + long(length), device.end(),
                                [](uint8_t b) { return b == kOldContents; }))
            << "sectors beyond the transfer were written";
        expectClosedCleanly();
    });
    for (const CapturedBox &box : boxes.boxes())
        ADD_FAILURE() << "unexpected message " << describe(box);
}
