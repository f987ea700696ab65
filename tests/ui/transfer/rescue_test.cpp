/*
 * The rescue of a failing disk as ddrescue does it, on the virtual bus: its order and its tries
 * seen in the bus's trace, a drive that is becoming ready, a drive that fails itself, going on
 * from a stopped map, maps that never claim more than the image holds, maps of another program,
 * exact-length images onto larger sectors and the map of a disk of more than 4 GiB. What is
 * kept in KESTROVA_ARCHIVE_KEEP is judged by ddrescue and ddrescuelog (archive_tools_check.sh).
 */
#include "archive_fixture.h"
#include "message_box_watch.h"
#include "transfers.h"
#include <map>

namespace {

/* Each READ(10) of a trace as its first sector and count. */
std::vector<std::pair<uint32_t, uint32_t>> requestsIn(const std::string &trace)
{
    std::vector<std::pair<uint32_t, uint32_t>> requests;
    for (const std::string &read : readsIn(trace)) {
        unsigned long lba = std::stoul(read), count = std::stoul(read.substr(read.find('+') + 1));
        requests.emplace_back(uint32_t(lba), uint32_t(count));
    }
    return requests;
}

TEST_F(Archive, ARescueReadsPastALargeBadAreaFirstAndTriesEachSectorAtMostTwice)
{
    constexpr int32_t kDisk = 4096;
    source_ = patternBytes(7, size_t(kDisk) * 512);
    writeWholeFile(pathOf("source.img"), source_);
    useBus("fault = read lba 1000-2999", "", "SAMPLER DISK", kDisk);
    appState.transferSectors = kDisk;
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    MessageBoxWatch boxes;
    boxes.answer(IDYES);
    copyDiskToFile(form());

    const auto requests = requestsIn(trace());
    std::vector<int> tries(kDisk, 0);
    std::vector<bool> triedBefore(kDisk, false);
    bool singleInside = false;
    for (const auto &r : requests) {
        singleInside = singleInside || (r.second == 1 && r.first >= 1000 && r.first < 3000);
        for (uint32_t s = r.first; s < r.first + r.second; s++) {
            tries[s]++;
            triedBefore[s] = triedBefore[s] || !singleInside;
        }
    }
    EXPECT_LE(*std::max_element(tries.begin(), tries.end()), 2);
    EXPECT_EQ(std::count(triedBefore.begin() + 3000, triedBefore.end(), false), 0)
        << "a sector after the bad area waited for the sectors inside it";
    std::vector<int> bad;
    for (int s = 1000; s < 3000; s++)
        bad.push_back(s);
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == sourceWithZeros(bad));
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, "The drive has failed 1000 reads in a row (the last at sector 1999).\n"
                                     "Go on with the rescue?\n"
                                     "(No: stop here. What was read stays, and a later copy can go on from the map.)");
    EXPECT_EQ(boxes.boxes()[1].text, "Unreadable sectors, written as zeros: 2000.\nTheir list: " + pathOf("disk.img.map"));
}

/* A drive that reports it is becoming ready (NOT READY, 04h/01h) is asked again after a pause. */
TEST_F(Archive, ADriveBecomingReadyIsWaitedFor)
{
    useBus("fault = read lba 100 sense 2/04/01 times 3");
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    MessageBoxWatch boxes;
    copyDiskToFile(form());
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == source_);
    const auto reads = readsIn(trace());
    EXPECT_EQ(std::count(reads.begin(), reads.end(), "96+32"), 4);
}

/*
 * A drive reporting a fault of its own stops the rescue (a sector that cannot be read only adds
 * to the map). A later copy goes on from the stopped map: it reads only what the map does not
 * list as read, so a sector the map says was read keeps what the image holds even where the
 * disk has changed since. ddrescue, going on from the same map, must give the same image.
 */
TEST_F(Archive, ADriveFaultStopsTheRescueAndALaterCopyGoesOnFromItsMap)
{
    useBus("fault = read lba 40-41\nfault = read lba 200 sense 4/44");
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    {
        MessageBoxWatch boxes;
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text,
                  "The drive reports a fault of its own (HARDWARE ERROR, ASC 44h, ASCQ 00h) in a read from sector 192, "
                  "not a bad sector: the rescue stopped there to spare it. What was read is kept; the map tells what "
                  "is left.");
    }
    const RescueMap stopped = mapOf("disk.img.map");
    EXPECT_EQ(stopped.phase, kNonTried);
    EXPECT_EQ(sectorsWith(stopped, kFinished), 32u);
    EXPECT_EQ(sectorsWith(stopped, kNonTrimmed), 32u);
    keep("disk.img", "stopped.img");
    keep("disk.img.map", "stopped.map");

    Bytes now = source_;
    const Bytes sector10 = patternBytes(77, 512);
    std::copy(sector10.begin(), sector10.end(), now.begin() + 10 * 512);
    writeWholeFile(pathOf("source.img"), now);
    keep("source.img", "source-now.img");
    useBus("fault = read lba 40-41");
    MessageBoxWatch boxes;
    boxes.answer(IDYES);
    copyDiskToFile(form());
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, "The map of this image shows a copy of this device stopped before the end: sectors "
                                     "not read yet: 224, unreadable: 0.\nGo on from it into the image?\n"
                                     "(No: copy the whole disk again.)");
    EXPECT_EQ(boxes.boxes()[1].text, "Sectors read again, now in the image: 222 of 224. Still unreadable: 2.\n"
                                     "The map is updated: " + pathOf("disk.img.map"));
    Bytes expected = now;
    std::copy(source_.begin() + 10 * 512, source_.begin() + 11 * 512, expected.begin() + 10 * 512);
    std::fill(expected.begin() + 40 * 512, expected.begin() + 42 * 512, 0);
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == expected);
    keep("disk.img", "resumed.img");
    keep("disk.img.map", "resumed.map");
}

/* At every map write, every block the map says was read is in the image as the disk gave it. */
struct MapWatch {
    std::string image;
    Bytes disk;
    int writes = 0;
    int wrongClaims = 0;
};
MapWatch mapWatch;

void checkClaims(const char *, const RescueMap &map)
{
    mapWatch.writes++;
    for (const MapBlock &block : map.blocks) {
        if (block.status != kFinished)
            continue;
        const Bytes held = readFileRange(mapWatch.image, int64_t(block.first) * 512, block.count * 512);
        if (!std::equal(held.begin(), held.end(), mapWatch.disk.begin() + block.first * 512) ||
            held.size() != block.count * 512)
            mapWatch.wrongClaims++;
    }
}

TEST_F(Archive, EveryMapWriteClaimsOnlyWhatTheImageHolds)
{
    mapWatch = MapWatch();
    mapWatch.image = pathOf("disk.img");
    mapWatch.disk = source_;
    observeMapWrites(checkClaims);
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    useBus("fault = read lba 20-23\nfault = read lba 90-140\nfault = read lba 250");
    {
        MessageBoxWatch boxes;
        copyDiskToFile(form());
    }
    const int copyWrites = mapWatch.writes;
    useBus("fault = read lba 120-125");
    {
        MessageBoxWatch boxes;
        boxes.answer(IDYES);
        copyDiskToFile(form());
    }
    observeMapWrites(nullptr);
    EXPECT_GE(copyWrites, 4) << "the map is written at least after each phase";
    EXPECT_GT(mapWatch.writes, copyWrites) << "and while going on from it";
    EXPECT_EQ(mapWatch.wrongClaims, 0);
    EXPECT_EQ(sectorsNotRead(mapOf("disk.img.map"), 0, kSectors), 6u);
}

/* A map this program did not write is kept as .map.bak; an image emptied by a copy that could
   not start never stands beside a map that says it holds a disk. */
TEST_F(Archive, AForeignMapIsKeptAndAnEmptiedImageHasAMapOfNothingRead)
{
    const std::string foreign = "# Mapfile. Created by GNU ddrescue version 1.27\n"
                                "0x00020000     +               1\n0x00000000  0x00020000  +\n";
    useBus("");
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    writeWholeFile(pathOf("disk.img"), source_);
    writeWholeFile(pathOf("disk.img.map"), Bytes(foreign.begin(), foreign.end()));
    {
        MessageBoxWatch boxes;
        boxes.answer(IDOK);
        boxes.answer(IDYES);
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 2u);
        EXPECT_EQ(boxes.boxes()[0].text, "The map beside this image is not used: another program wrote it (a new copy "
                                         "keeps it as .map.bak).");
        EXPECT_EQ(boxes.boxes()[1].text, "The file you've selected already exists. Overwrite?");
    }
    EXPECT_EQ(text("disk.img.map.bak"), foreign);
    EXPECT_EQ(sectorsNotRead(mapOf("disk.img.map"), 0, kSectors), 0u);

    const HINSTANCE program = appState.instance;
    appState.instance = GetModuleHandleA("kernel32.dll");   /* holds no PROCEEDBOX */
    MessageBoxWatch boxes;
    boxes.answer(IDYES);
    copyDiskToFile(form());
    appState.instance = program;
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[1].text, "Can't open the progress window. The image file was emptied; nothing was copied "
                                     "into it.");
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")).empty());
    EXPECT_EQ(sectorsNotRead(mapOf("disk.img.map"), 0, kSectors), uint32_t(kSectors));
}

/* An image of 512-byte sectors whose length is no multiple of 2048 onto a disk of 2048-byte
   sectors: with exact-length images its last part sector is written, filled up with zeros. */
TEST_F(Archive, AnExactLengthImageEndingInsideASectorKeepsItsLastBytes)
{
    const Bytes image(source_.begin(), source_.begin() + 255 * 512);   /* 63.75 sectors of 2048 bytes */
    writeWholeFile(pathOf("in.img"), image);
    usePath("in.img");
    /* Without the option both length questions come (the file is longer than 63 sectors). */
    struct Case { bool exact; size_t questions; int32_t sectors; size_t zeros; };
    const Case cases[] = {{false, 2, 63, 0}, {true, 1, 64, 1536}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.exact ? "exact-length images" : "the options off");
        writeWholeFile(pathOf("mo.img"), Bytes(64 * 2048, kOldContents));
        loadBus({{0, 2, 2048, 64, "mo.img", ""}});
        appState.archive.exactLength = c.exact;
        appState.transferSectors = 64;
        MessageBoxWatch boxes;
        copyFileToDisk(form());
        ASSERT_EQ(boxes.boxes().size(), c.questions);
        EXPECT_EQ(boxes.boxes()[0].text, "File is shorter than device. Write will be truncated to file size");
        EXPECT_EQ(appState.transferSectors, c.sectors);
        Bytes expected(64 * 2048, kOldContents);
        const size_t written = std::min(image.size(), size_t(c.sectors) * 2048);
        std::copy(image.begin(), image.begin() + written, expected.begin());
        std::fill(expected.begin() + written, expected.begin() + written + c.zeros, 0);
        EXPECT_TRUE(readWholeFile(pathOf("mo.img")) == expected);
    }
}

/* The map of a disk of 5 GiB, its bad sector past 4 GiB, for ddrescuelog (large.map). Neither
   disk has an image: the source reads as zeros, the target drops what it is given. */
TEST_F(Archive, TheMapOfADiskLargerThanFourGibibytes)
{
    constexpr int32_t kLarge = 10485760;
    loadBus({{0, 1, 512, kLarge, "", "fault = read lba 9000000"}, {0, 2, 512, kLarge, "", ""}});
    appState.bufferBlocks = 2048;   /* 1 MiB requests: fewer of them */
    appState.transferSectors = kLarge;
    appState.archive.skipUnreadable = true;
    usePath("unused.iso");
    MessageBoxWatch boxes;
    copyDiskToDisk(form());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    const std::string &said = boxes.boxes()[0].text;
    const std::string mapName = said.substr(said.find(folder()) + folder().size() + 1);
    const RescueMap map = mapOf(mapName);
    EXPECT_EQ(map.sectors, kLarge);
    EXPECT_EQ(sectorsNotRead(map, 0, uint32_t(kLarge)), 1u);
    EXPECT_EQ(statusAt(map, 9000000), kBadSector);
    keep(mapName, "large.map");
}

}  // namespace
