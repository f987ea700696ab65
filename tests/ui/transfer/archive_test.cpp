/*
 * The archiving options on the virtual bus, one journey each: unreadable sectors skipped into
 * a ddrescue map and read again by a retry pass, ABORT in the middle of a rescue or a retry, the verify
 * pass in the three directions, the report with its checksums and exact-length images, and the
 * failures that still end the program. With KESTROVA_ARCHIVE_KEEP set, the maps, images and
 * reports are copied there for archive_tools_check.sh, which lets ddrescuelog and sha256sum
 * judge them.
 */
#include "child_process.h"
#include "transfer_bench.h"
#include "app_state.h"
#include "message_box_watch.h"
#include "rescue_map.h"
#include "resource_ids.h"
#include "settings_support.h"
#include "transfers.h"
#include "ui_language.h"
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {
constexpr int32_t kSectors = 256;
constexpr uint8_t kOldContents = 0xEE;

class Archive : public TransferBench {
protected:
    void SetUp() override
    {
        TransferBench::SetUp();
        source_ = patternBytes(5, size_t(kSectors) * 512);
        writeWholeFile(pathOf("source.img"), source_);
        writeWholeFile(pathOf("target.img"), Bytes(size_t(kSectors) * 512, kOldContents));
        appState.archive = ArchiveOptions();
        appState.bufferBlocks = 32;   /* 32 sectors a chunk */
        appState.transferSectors = kSectors;
    }
    void TearDown() override
    {
        appState.archive = ArchiveOptions();
        TransferBench::TearDown();
    }

    void useBus(const std::string &sourceExtra, const std::string &targetExtra = "")
    {
        loadBus({{0, 1, 512, kSectors, "source.img", sourceExtra}, {0, 2, 512, kSectors, "target.img", targetExtra}},
                "trace = trace.log");
        /* What a scan of this disk would have put in the table. */
        DeviceRecord &source = adapterTable.adapters[0].devices[1];
        std::snprintf(source.label, sizeof source.label, "1: VBUS    SAMPLER DISK    1.0 ");
        source.removable = 1;
    }
    void usePath(const std::string &name) { std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf(name).c_str()); }
    std::string trace() { Bytes t = readWholeFile(pathOf("trace.log")); return std::string(t.begin(), t.end()); }
    std::string text(const std::string &name) { Bytes t = readWholeFile(pathOf(name)); return std::string(t.begin(), t.end()); }

    /* A thread that clicks ABORT on the progress box once the bus's trace satisfies seen (or
       after some 10 s). */
    std::thread clickAbortWhen(std::function<bool(const std::string &)> seen)
    {
        return std::thread([this, seen] {
            for (int i = 0; i < 10000 && !seen(trace()); i++)
                Sleep(1);
            PostMessageA(GetDlgItem(appState.progressBox, IDC_ABORT), BM_CLICK, 0, 0);
        });
    }

    /* The source with the given sectors zeroed. */
    Bytes sourceWithZeros(const std::vector<int> &sectors) const
    {
        Bytes expected = source_;
        for (int s : sectors)
            std::fill(expected.begin() + s * 512, expected.begin() + (s + 1) * 512, 0);
        return expected;
    }
    /* For archive_tools_check.sh, under the name given. */
    void keep(const std::string &name, const std::string &as)
    {
        char folder[MAX_PATH];
        if (GetEnvironmentVariableA("KESTROVA_ARCHIVE_KEEP", folder, sizeof folder)) {
            CreateDirectoryA(folder, nullptr);
            EXPECT_TRUE(CopyFileA(pathOf(name).c_str(), (std::string(folder) + "\\" + as).c_str(), FALSE)) << as;
        }
    }

    Bytes source_;
};

/* The READ(10) requests of a trace from a given offset on, as "lba+count" texts. */
std::vector<std::string> readsIn(const std::string &trace, size_t from = 0)
{
    std::vector<std::string> reads;
    for (size_t at = trace.find("cdb=28 ", from); at != std::string::npos; at = trace.find("cdb=28 ", at + 1)) {
        unsigned b[10];
        std::sscanf(trace.c_str() + at + 4, "%x %x %x %x %x %x %x %x %x %x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
                    &b[6], &b[7], &b[8], &b[9]);
        reads.push_back(std::to_string(b[2] << 24 | b[3] << 16 | b[4] << 8 | b[5]) + "+" + std::to_string(b[7] << 8 | b[8]));
    }
    return reads;
}

TEST_F(Archive, UnreadableSectorsBecomeZerosInAMapThatARetryPassReadsAgain)
{
    /* 40 and 41 never read, 100 reads on the third try of its own, 200 is a HARDWARE ERROR. */
    useBus("fault = read lba 40-41\nfault = read lba 100 times 3\nfault = read lba 200 sense 4/44");
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    const std::string map = pathOf("disk.img") + ".map";
    {
        MessageBoxWatch boxes;
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Unreadable sectors, written as zeros: 3.\nTheir list: " + map);
        EXPECT_EQ(boxes.boxes()[0].icon, UINT(MB_ICONWARNING));
    }
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == sourceWithZeros({40, 41, 200}));
    RescueMap read;
    ASSERT_TRUE(readRescueMap(map.c_str(), read));
    ASSERT_EQ(read.unreadable.size(), 2u);
    EXPECT_EQ(read.unreadable[0].first, 40u);
    EXPECT_EQ(read.unreadable[0].count, 2u);
    EXPECT_EQ(read.unreadable[1].first, 200u);
    EXPECT_EQ(read.triedSectors, kSectors);
    keep("disk.img.map", "first.map");

    /* The same disk again, 40 and 41 readable now. No to the retry: the copy as without a map. */
    useBus("fault = read lba 200 sense 4/44");
    {
        MessageBoxWatch boxes;
        boxes.answer(IDNO);
        boxes.answer(IDNO);
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 2u);
        EXPECT_EQ(boxes.boxes()[0].text, "The map of this image lists unreadable sectors of this device: 3.\n"
                                         "Read only these sectors again and patch the image?\n"
                                         "(No: copy the whole disk again.)");
        EXPECT_EQ(boxes.boxes()[0].buttons, UINT(MB_YESNO));
        EXPECT_EQ(boxes.boxes()[1].text, "The file you've selected already exists. Overwrite?");
    }
    /* Yes: only the three sectors are read, and patched into the image in place. */
    const size_t traceBefore = trace().size();
    {
        MessageBoxWatch boxes;
        boxes.answer(IDYES);
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 2u);
        EXPECT_EQ(boxes.boxes()[1].text, "Sectors read again, now in the image: 2 of 3. Still unreadable: 1.\n"
                                         "The map is updated: " + map);
    }
    /* A few sectors read before to compare the disk with the image (0 and those around the bad
       ones), then only the three listed ones, 200 three times. */
    EXPECT_EQ(readsIn(trace(), traceBefore), (std::vector<std::string>{"0+1", "39+1", "42+1", "199+1", "201+1", "40+1",
                                                                        "41+1", "200+1", "200+1", "200+1"}));
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == sourceWithZeros({200}));
    ASSERT_TRUE(readRescueMap(map.c_str(), read));
    ASSERT_EQ(read.unreadable.size(), 1u);
    EXPECT_EQ(read.unreadable[0].first, 200u);
    keep("disk.img.map", "retried.map");

    /* A disk whose last bad sector reads now: a map with none, and no retry offered after it. */
    useBus("");
    {
        MessageBoxWatch boxes;
        boxes.answer(IDYES);
        copyDiskToFile(form());
        EXPECT_EQ(boxes.boxes().size(), 2u);
    }
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == source_);
    ASSERT_TRUE(readRescueMap(map.c_str(), read));
    EXPECT_TRUE(read.unreadable.empty());
    keep("disk.img.map", "final.map");
    {
        MessageBoxWatch boxes;
        boxes.answer(IDNO);
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "The file you've selected already exists. Overwrite?");
    }
}

TEST_F(Archive, DiskToDiskWritesZerosForUnreadableSectorsAndSaysWhereTheirListIs)
{
    useBus("fault = read lba 70");
    appState.archive.skipUnreadable = true;
    usePath("unused.iso");
    UiLanguageScope french(kLanguageFrench);
    MessageBoxWatch boxes;
    copyDiskToDisk(form());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    const std::string &said = boxes.boxes()[0].text;
    const std::string start = "Secteurs illisibles, \xE9" "crits \xE0 z\xE9" "ro : 1.\nLeur liste : " + folder() +
                              "\\disk-to-disk 0.1 to 0.2 ";
    EXPECT_EQ(said.substr(0, start.size()), start);
    EXPECT_EQ(said.substr(said.size() - 4), ".map");
    EXPECT_TRUE(readWholeFile(pathOf("target.img")) == sourceWithZeros({70}));
    RescueMap read;
    ASSERT_TRUE(readRescueMap(said.substr(said.find(folder())).c_str(), read));
    ASSERT_EQ(read.unreadable.size(), 1u);
    EXPECT_EQ(read.unreadable[0].first, 70u);
}

/* The retry reads a disk only into the image its map was written with, of that very disk. */
TEST_F(Archive, ARetryIsOfferedOnlyForTheImageAndTheDiskItsMapDescribes)
{
    useBus("fault = read lba 40");
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    const std::string mismatch = "The map beside this image does not describe it, or the disk in the drive, any more: it is not used.";
    {
        MessageBoxWatch boxes;
        copyDiskToFile(form());
    }
    struct Case { const char *what; bool anotherCartridge; };
    const Case cases[] = {{"another cartridge in the drive", true}, {"the image written after its map", false}};
    const Bytes image = readWholeFile(pathOf("disk.img"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        writeWholeFile(pathOf("source.img"), source_);
        writeWholeFile(pathOf("disk.img"), image);
        Sleep(50);
        RescueMap map;
        ASSERT_TRUE(readRescueMap(pathOf("disk.img.map").c_str(), map));
        ASSERT_TRUE(writeRescueMap(pathOf("disk.img.map").c_str(), map));   /* newer than the image again */
        if (c.anotherCartridge) {
            writeFileRange(pathOf("source.img"), 39 * 512, patternBytes(99, 512));
        } else {
            HANDLE file = CreateFileA(pathOf("disk.img").c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
            FILETIME later;
            GetSystemTimeAsFileTime(&later);
            later.dwHighDateTime += 1;   /* about seven minutes on */
            SetFileTime(file, nullptr, nullptr, &later);
            CloseHandle(file);
        }
        MessageBoxWatch boxes;
        boxes.answer(IDOK);
        boxes.answer(IDNO);
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 2u);
        EXPECT_EQ(boxes.boxes()[0].text, mismatch);
        EXPECT_EQ(boxes.boxes()[1].text, "The file you've selected already exists. Overwrite?");
        EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == image) << "nothing patched";
    }
}

/* An MO disk of 2048-byte sectors: the map counts in its bytes, the retry patches its sectors. */
TEST_F(Archive, MapAndRetryOfADiskWithLargeSectors)
{
    writeWholeFile(pathOf("mo.img"), patternBytes(21, 64 * 2048));
    loadBus({{0, 1, 2048, 64, "mo.img", "fault = read lba 5 times 4"}}, "trace = trace.log");
    appState.archive.skipUnreadable = true;
    appState.transferSectors = 64;
    usePath("mo-copy.img");
    {
        MessageBoxWatch boxes;
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
    }
    Bytes expected = patternBytes(21, 64 * 2048);
    Bytes zeroed = expected;
    std::fill(zeroed.begin() + 5 * 2048, zeroed.begin() + 6 * 2048, 0);
    EXPECT_TRUE(readWholeFile(pathOf("mo-copy.img")) == zeroed);
    keep("mo-copy.img.map", "mo.map");
    MessageBoxWatch boxes;
    boxes.answer(IDYES);
    copyDiskToFile(form());   /* the fault is spent: sector 5 reads now */
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_TRUE(readWholeFile(pathOf("mo-copy.img")) == expected);
}

/* A device copied onto itself keeps the sectors it could not read; a map that cannot be
   written is said to be so. */
TEST_F(Archive, CopyOntoItselfLeavesBadSectorsAloneAndAMapThatCannotBeWrittenIsSaid)
{
    useBus("fault = read lba 70");
    appState.archive.skipUnreadable = true;
    selectTarget(0, 1);
    usePath("here.iso");
    {
        MessageBoxWatch boxes;
        copyDiskToDisk(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
    }
    EXPECT_TRUE(readWholeFile(pathOf("source.img")) == source_) << "sector 70 not overwritten with zeros";

    CreateDirectoryA(pathOf("blocked.img.map").c_str(), nullptr);   /* where the map should go */
    usePath("blocked.img");
    MessageBoxWatch boxes;
    copyDiskToFile(form());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Unreadable sectors, written as zeros: 1. Their list could not be written to " +
                                         pathOf("blocked.img.map"));
    RemoveDirectoryA(pathOf("blocked.img.map").c_str());
}

/* A click on ABORT while a rescue reads sector after sector: it stops at the next request. */
TEST_F(Archive, AbortStopsARescueBetweenTwoRequests)
{
    /* Every request takes 50 ms: the rescue of sectors 32-63 would take 80 of them. */
    useBus("fault = read lba 40-63\ncompletion = async\ndelay_ms = 50");
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    std::thread clicker = clickAbortWhen(
        [](const std::string &trace) { return trace.find("len=512 status=04") != std::string::npos; });
    MessageBoxWatch boxes;
    copyDiskToFile(form());
    clicker.join();
    /* Two chunk reads, sectors 32 to 39 one by one, then the tries of sector 40 and on until the
       click is seen; far from the 82 requests of the whole rescue. */
    const size_t reads = readsIn(trace()).size();
    EXPECT_GE(reads, 11u);
    EXPECT_LT(reads, 20u);
    EXPECT_EQ(appState.progressBox, nullptr);
    /* The image and the map end where the rescue stopped; the sectors after it are not tried. */
    const size_t done = readWholeFile(pathOf("disk.img")).size() / 512;
    EXPECT_GE(done, 40u);
    EXPECT_LT(done, 64u);
    RescueMap read;
    ASSERT_TRUE(readRescueMap(pathOf("disk.img.map").c_str(), read));
    EXPECT_EQ(read.triedSectors, int32_t(done));
    EXPECT_EQ(sectorsIn(read.unreadable), done - 40);
}

/* ABORT during a retry: the sectors read so far are in the image, the rest stay in the map. */
TEST_F(Archive, AbortStopsARetryAndTheMapKeepsWhatWasNotReadAgain)
{
    useBus("fault = read lba 40-63");
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    const std::string map = pathOf("disk.img") + ".map";
    {
        MessageBoxWatch boxes;
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
    }
    /* Every sector reads now, each request taking 50 ms: the retry of all 24 would take 1.2 s. */
    useBus("completion = async\ndelay_ms = 50");
    const size_t traceBefore = trace().size();
    std::thread clicker = clickAbortWhen([traceBefore](const std::string &trace) {
        const std::vector<std::string> reads = readsIn(trace, traceBefore);
        return std::find(reads.begin(), reads.end(), "40+1") != reads.end();
    });
    MessageBoxWatch boxes;
    boxes.answer(IDYES);
    copyDiskToFile(form());
    clicker.join();
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(appState.progressBox, nullptr);
    RescueMap read;
    ASSERT_TRUE(readRescueMap(map.c_str(), read));
    ASSERT_EQ(read.unreadable.size(), 1u);
    const uint32_t recovered = read.unreadable[0].first - 40;
    EXPECT_GE(recovered, 1u);
    EXPECT_LT(recovered, 12u) << "the click was not seen between two requests";
    EXPECT_EQ(read.unreadable[0].first + read.unreadable[0].count, 64u);
    EXPECT_EQ(boxes.boxes()[1].text, "Sectors read again, now in the image: " + std::to_string(recovered) +
                                         " of 24. Still unreadable: " + std::to_string(24 - recovered) +
                                         ".\nThe map is updated: " + map);
    std::vector<int> zeros;
    for (int s = 40 + int(recovered); s < 64; s++)
        zeros.push_back(s);
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == sourceWithZeros(zeros));
}

TEST_F(Archive, VerifyPassesSoundCopiesAndFindsLostOrAlteredSectors)
{
    struct Case {
        const char *name;
        void (*copy)(HWND);
        const char *sourceFault, *targetFault;
        const char *said;
        bool skip = false;
    };
    const Case cases[] = {
        {"disk to file", copyDiskToFile, "", "", "Verify: all 256 sectors match."},
        {"disk to file, a sector skipped", copyDiskToFile, "fault = read lba 77", "",
         "Verify: all 255 sectors match.\nUnreadable sectors, not compared: 1.", true},
        {"disk to file, a read that was wrong once", copyDiskToFile, "fault = read lba 77 alter times 1", "",
         "Verify: sectors that differ: 1 of 256; the first is sector 77."},
        {"file to disk", copyFileToDisk, "", "", "Verify: all 256 sectors match."},
        {"file to disk, a drive without SYNCHRONIZE CACHE", copyFileToDisk, "", "sync_cache = no",
         "Verify: all 256 sectors match."},
        {"file to disk, a drive without FUA", copyFileToDisk, "", "fua = no", "Verify: all 256 sectors match."},
        {"file to disk, writes lost", copyFileToDisk, "", "fault = write lba 77-78 lose",
         "Verify: sectors that differ: 2 of 256; the first is sector 77."},
        {"disk to disk", copyDiskToDisk, "", "", "Verify: all 256 sectors match."},
        {"disk to disk, a write altered", copyDiskToDisk, "", "fault = write lba 255 alter",
         "Verify: sectors that differ: 1 of 256; the first is sector 255."},
    };
    writeWholeFile(pathOf("in.img"), patternBytes(9, size_t(kSectors) * 512));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeWholeFile(pathOf("target.img"), Bytes(size_t(kSectors) * 512, kOldContents));
        useBus(c.sourceFault, c.targetFault);
        appState.archive.verify = true;
        appState.archive.skipUnreadable = c.skip;
        appState.transferSectors = kSectors;
        usePath(c.copy == copyFileToDisk ? "in.img" : "out.img");
        DeleteFileA(pathOf("out.img").c_str());
        const size_t traceBefore = trace().size();
        progress() = ProgressRecord();
        MessageBoxWatch boxes;
        c.copy(form());
        ASSERT_EQ(boxes.boxes().size(), c.skip ? 2u : 1u);
        EXPECT_EQ(boxes.boxes().back().text, c.said);
        EXPECT_EQ(progress().boxesOpened, 2);
        EXPECT_EQ(progress().description.substr(0, 24), "Kestrova is verifying:  ");
        /* The device read back is read from its medium: READ(10) with FUA, after a cache flush
           when it was written. */
        std::string since = trace().substr(traceBefore);
        const bool written = c.copy != copyDiskToFile;
        const std::string readBack = written ? "target=2" : "target=1";
        size_t flush = since.find("cdb=35");
        EXPECT_EQ(flush != std::string::npos, written);
        size_t fua = since.find(readBack + " lun=0 flags=08 cdb=28 08");
        EXPECT_NE(fua, std::string::npos);
        if (written) {
            EXPECT_LT(flush, fua);
        }
    }
}

TEST_F(Archive, AbortStopsTheVerifyPass)
{
    useBus("completion = async\ndelay_ms = 50");
    appState.archive.verify = true;
    usePath("out.img");
    std::thread clicker = clickAbortWhen(
        [](const std::string &trace) { return trace.find("cdb=28 08") != std::string::npos; });
    MessageBoxWatch boxes;
    copyDiskToFile(form());
    clicker.join();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    const std::string &said = boxes.boxes()[0].text;
    EXPECT_EQ(said.substr(0, 30), "Verify stopped by ABORT after ");
    EXPECT_EQ(said.substr(said.size() - 16), " of 256 sectors.");
    EXPECT_LT(readsIn(trace()).size(), 8u + 8u) << "the copy's eight reads, and few of the verify's eight";
}

TEST_F(Archive, ReportRecordsTheSourceAndTheChecksumsOfTheImageWithAndWithoutPadding)
{
    useBus("");
    appState.archive.report = true;
    appState.archive.verify = true;
    appState.transferSectors = 255;   /* 130560 bytes: 512 zero bytes make 131072 */
    struct Case { bool exact; const char *image, *fileLine; };
    const Case cases[] = {
        {false, "padded.img", "File length:         131072 bytes (zero bytes from offset 130560: 512)\r\n"},
        {true, "exact.img", "File length:         130560 bytes (zero bytes from offset 130560: 0)\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.image);
        appState.archive.exactLength = c.exact;
        usePath(c.image);
        MessageBoxWatch boxes;
        copyDiskToFile(form());
        Bytes image = readWholeFile(pathOf(c.image));
        ASSERT_EQ(image.size(), c.exact ? 130560u : 131072u);
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + 130560, source_.begin()));
        std::string report = text(std::string(c.image) + ".txt");
        for (const std::string &line : {
                 std::string("Image:               ") + pathOf(c.image) + "\r\n",
                 std::string("Result:              complete\r\n"),
                 std::string("Source adapter:      0\r\nTarget id:           1\r\nLUN:                 0\r\n"
                             "Vendor:              VBUS\r\nProduct:             SAMPLER DISK\r\n"
                             "Revision:            1.0\r\nDevice type:         0 (hard disk)\r\n"
                             "Removable medium:    yes\r\nSector size:         512 bytes\r\n"
                             "Sector count:        256\r\n"),
                 std::string("Sectors asked for:   255\r\nSectors copied:      255\r\n"
                             "Data length:         130560 bytes (sectors x sector size)\r\n") + c.fileLine,
                 std::string("Buffer size:         16 KB\r\n"),
                 std::string("Unreadable sectors:  0\r\nVerify:              Verify: all 255 sectors match.\r\n")})
            EXPECT_NE(report.find(line), std::string::npos) << line << "\nnot in\n" << report;
        size_t data = report.find("SHA-256 of the data: "), file = report.find("SHA-256 of the file: ");
        ASSERT_NE(data, std::string::npos);
        ASSERT_NE(file, std::string::npos);
        EXPECT_EQ(report.substr(data + 21, 64) == report.substr(file + 21, 64), c.exact);
        keep(c.image, c.image);
        keep(std::string(c.image) + ".txt", std::string(c.image) + ".txt");
    }
    /* A report that cannot be written is said; the image is whole. */
    appState.archive.verify = false;
    CreateDirectoryA(pathOf("blocked.img.txt").c_str(), nullptr);
    usePath("blocked.img");
    {
        MessageBoxWatch boxes;
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Can't write the report " + pathOf("blocked.img.txt"));
        EXPECT_EQ(readWholeFile(pathOf("blocked.img")).size(), 130560u);
    }
    RemoveDirectoryA(pathOf("blocked.img.txt").c_str());
    /* An exact-length image goes back without a question about its length. */
    appState.archive = ArchiveOptions();
    appState.transferSectors = 255;
    usePath("exact.img");
    MessageBoxWatch boxes;
    copyFileToDisk(form());
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_TRUE(std::equal(source_.begin(), source_.begin() + 130560, readWholeFile(pathOf("target.img")).begin()));
}

/* Failures the rescue does not cover still end the program after their message, as every
   failed transfer request does; so does a bad sector with the option off. The child is this
   program run again on one test, in the parent's folder. */
TEST_F(Archive, ChildCopiesAFaultyDisk)
{
    char fault[64] = "";
    if (!GetEnvironmentVariableA("KESTROVA_ARCHIVE_CHILD_FAULT", fault, sizeof fault))
        GTEST_SKIP() << "run as a child of FailuresARescueDoesNotCoverStillEndTheProgram";
    useBus(fault);
    appState.archive.skipUnreadable = std::getenv("KESTROVA_ARCHIVE_CHILD_SKIP") != nullptr;
    usePath("out.img");
    MessageBoxWatch boxes;
    boxes.onBox([&](const CapturedBox &box) { writeWholeFile(pathOf("said.txt"), Bytes(box.text.begin(), box.text.end())); });
    copyDiskToFile(form());
    ADD_FAILURE() << "the copy returned";
    std::_Exit(3);
}

TEST_F(Archive, FailuresARescueDoesNotCoverStillEndTheProgram)
{
    struct Case { const char *fault; bool skip; const char *said; };
    const Case cases[] = {
        {"fault = read lba 40", false, "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)"},
        {"fault = read lba 40 sense 2/3A", true, "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)"},
        {"fault = read lba 40 sense B/47", true, "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)"},
        {"fault = read lba 40 status 82", true, "SCSI Command Failed.\nASPI returned status=82h\n(No device)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault);
        DeleteFileA(pathOf("said.txt").c_str());
        DeleteFileA(pathOf("out.img").c_str());
        SetEnvironmentVariableA("KESTROVA_ARCHIVE_CHILD_FAULT", c.fault);
        SetEnvironmentVariableA("KESTROVA_ARCHIVE_CHILD_SKIP", c.skip ? "1" : nullptr);
        SetEnvironmentVariableA("KESTROVA_TRANSFER_FOLDER", folder().c_str());
        ChildRun child = runTestsInChild("Archive.ChildCopiesAFaultyDisk");
        for (const char *name : {"KESTROVA_ARCHIVE_CHILD_FAULT", "KESTROVA_ARCHIVE_CHILD_SKIP", "KESTROVA_TRANSFER_FOLDER"})
            SetEnvironmentVariableA(name, nullptr);
        ASSERT_TRUE(child.started);
        EXPECT_TRUE(child.finished);
        EXPECT_EQ(child.exitCode, 0u);
        EXPECT_EQ(text("said.txt"), c.said);
        EXPECT_EQ(readWholeFile(pathOf("out.img")).size(), 32u * 512) << "the chunk before the failure only";
    }
}

}  // namespace
