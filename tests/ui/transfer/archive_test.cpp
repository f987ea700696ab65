/*
 * The archiving options on the virtual bus, one journey each: unreadable sectors skipped into
 * a ddrescue map and read again by a retry pass, ABORT in the middle of a rescue or a retry, the verify
 * pass in the three directions, the report with its checksums and exact-length images, and the
 * failures that still end the program. With KESTROVA_ARCHIVE_KEEP set, the maps, images and
 * reports are copied there for archive_tools_check.sh, which lets ddrescuelog and sha256sum
 * judge them.
 */
#include "child_process.h"
#include "archive_fixture.h"
#include "message_box_watch.h"
#include "settings_support.h"
#include "transfers.h"
#include "ui_language.h"
#include <cstdlib>

namespace {

TEST_F(Archive, UnreadableSectorsBecomeZerosInAMapThatARetryPassReadsAgain)
{
    /* 40 and 41 never read, 100 reads on its third try, 200 never. */
    useBus("fault = read lba 40-41\nfault = read lba 100 times 2\nfault = read lba 200");
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    const std::string map = pathOf("disk.img") + ".map";
    {
        MessageBoxWatch boxes;
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "Unreadable sectors, written as zeros: 4.\nTheir list: " + map);
        EXPECT_EQ(boxes.boxes()[0].icon, UINT(MB_ICONWARNING));
    }
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == sourceWithZeros({40, 41, 100, 200}));
    RescueMap read = mapOf("disk.img.map");
    EXPECT_EQ(sectorsWith(read, kBadSector), 4u);
    EXPECT_EQ(sectorsNotRead(read, 0, kSectors), 4u);
    EXPECT_EQ(statusAt(read, 100), kBadSector);
    EXPECT_TRUE(mapFinished(read));
    keep("disk.img.map", "first.map");

    /* The same disk again, 40, 41 and 100 readable now. No to the retry: the copy as without a map. */
    useBus("fault = read lba 200");
    {
        MessageBoxWatch boxes;
        boxes.answer(IDNO);
        boxes.answer(IDNO);
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 2u);
        EXPECT_EQ(boxes.boxes()[0].text, "The map of this image lists unreadable sectors of this device: 4.\n"
                                         "Read only these sectors again and patch the image?\n"
                                         "(No: copy the whole disk again.)");
        EXPECT_EQ(boxes.boxes()[0].buttons, UINT(MB_YESNO));
        EXPECT_EQ(boxes.boxes()[1].text, "The file you've selected already exists. Overwrite?");
    }
    /* Yes: only the four sectors are read, once each, and patched into the image in place. */
    const size_t traceBefore = trace().size();
    {
        MessageBoxWatch boxes;
        boxes.answer(IDYES);
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 2u);
        EXPECT_EQ(boxes.boxes()[1].text, "Sectors read again, now in the image: 3 of 4. Still unreadable: 1.\n"
                                         "The map is updated: " + map);
    }
    /* First the sample sectors the map keeps digests of, to tell the disk again (the first
       sectors read, and the first one read of each eighth of the copy), then the bad ones. */
    EXPECT_EQ(readsIn(trace(), traceBefore),
              (std::vector<std::string>{"0+1", "1+1", "2+1", "64+1", "128+1", "160+1", "224+1", "40+1", "41+1", "100+1",
                                        "200+1"}));
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == sourceWithZeros({200}));
    read = mapOf("disk.img.map");
    EXPECT_EQ(sectorsNotRead(read, 0, kSectors), 1u);
    EXPECT_EQ(statusAt(read, 200), kBadSector);
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
    EXPECT_EQ(sectorsNotRead(mapOf("disk.img.map"), 0, kSectors), 0u);
    keep("disk.img.map", "final.map");
    {
        MessageBoxWatch boxes;
        boxes.answer(IDNO);
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, "The file you've selected already exists. Overwrite?");
    }
}

/* Disk to disk writes only what it read: a sector the source cannot give keeps what the target
   held, also what an earlier copy of the same disk put there. */
TEST_F(Archive, DiskToDiskLeavesWhatItCannotReadOnTheTarget)
{
    appState.archive.skipUnreadable = true;
    usePath("unused.iso");
    struct Copy { const char *fault; Bytes target; };
    Bytes first = source_;
    std::fill(first.begin() + 70 * 512, first.begin() + 71 * 512, kOldContents);
    const Copy copies[] = {{"fault = read lba 70", first}, {"", source_}, {"fault = read lba 70", source_}};
    for (const Copy &c : copies) {
        SCOPED_TRACE(c.fault);
        useBus(c.fault);
        UiLanguageScope french(kLanguageFrench);
        MessageBoxWatch boxes;
        copyDiskToDisk(form());
        EXPECT_TRUE(readWholeFile(pathOf("target.img")) == c.target);
        if (!*c.fault) {
            EXPECT_TRUE(boxes.boxes().empty());
            continue;
        }
        ASSERT_EQ(boxes.boxes().size(), 1u);
        const std::string &said = boxes.boxes()[0].text;
        const std::string start = "Secteurs illisibles, laiss\xE9s tels quels sur la cible : 1.\nLeur liste : " +
                                  folder() + "\\disk-to-disk 0.1 to 0.2 ";
        EXPECT_EQ(said.substr(0, start.size()), start);
        EXPECT_EQ(said.substr(said.size() - 4), ".map");
        const RescueMap map = mapOf(said.substr(said.find(folder()) + folder().size() + 1));
        EXPECT_EQ(sectorsNotRead(map, 0, kSectors), 1u);
        EXPECT_EQ(statusAt(map, 70), kBadSector);
    }
}

/* The retry reads a disk only into the image its map was written with, of that very disk,
   asked anew whether it is still the same. */
TEST_F(Archive, ARetryIsOfferedOnlyForTheImageAndTheDiskItsMapDescribes)
{
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    const std::string notUsed = "The map beside this image is not used: ";
    const std::string mismatch = "The map beside this image does not describe it, or the disk in the drive, any more: "
                                 "it is not used.";
    struct Case {
        const char *what;
        Bytes disk;                  /* the disk copied first */
        std::function<void()> change;
        std::string said;
    };
    const Case cases[] = {
        {"another cartridge in the drive", source_,
         [this] { writeWholeFile(pathOf("source.img"), patternBytes(99, size_t(kSectors) * 512)); }, mismatch},
        {"another drive with the same contents", source_,
         [this] { useBus("fault = read lba 40", "", "OTHER DISK"); },
         notUsed + "it names another device, or one of another size."},
        {"the image written after its map", source_,
         [this] {
             HANDLE file = CreateFileA(pathOf("disk.img").c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
             FILETIME later;
             GetSystemTimeAsFileTime(&later);
             later.dwHighDateTime += 1;   /* about seven minutes on */
             SetFileTime(file, nullptr, nullptr, &later);
             CloseHandle(file);
         },
         mismatch},
        {"the image changed where a sample is", source_,
         [this] { writeFileRange(pathOf("disk.img"), 64 * 512, patternBytes(98, 512)); }, mismatch},
        {"a medium change reported to the first read", source_,
         [this] { useBus("fault = read lba 40\nfault = read lba 0 sense 6/28 times 1"); },
         notUsed + "the drive reports that its medium was changed (unit attention 28h); try again to check the disk."},
        {"a blank disk: nothing to tell it by", Bytes(size_t(kSectors) * 512, 0), [] {},
         notUsed + "it holds too few sample sectors to recognise the disk."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        writeWholeFile(pathOf("source.img"), c.disk);
        DeleteFileA(pathOf("disk.img").c_str());
        useBus("fault = read lba 40");
        {
            MessageBoxWatch boxes;
            copyDiskToFile(form());
            ASSERT_EQ(boxes.boxes().size(), 1u);
        }
        c.change();
        const Bytes image = readWholeFile(pathOf("disk.img"));
        MessageBoxWatch boxes;
        boxes.answer(IDOK);
        boxes.answer(IDNO);
        copyDiskToFile(form());
        ASSERT_EQ(boxes.boxes().size(), 2u);
        EXPECT_EQ(boxes.boxes()[0].text, c.said);
        EXPECT_EQ(boxes.boxes()[1].text, "The file you've selected already exists. Overwrite?");
        EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == image) << "nothing patched";
    }
}

/* An MO disk of 2048-byte sectors: the map counts in its bytes, the retry patches its sectors. */
TEST_F(Archive, MapAndRetryOfADiskWithLargeSectors)
{
    writeWholeFile(pathOf("mo.img"), patternBytes(21, 64 * 2048));
    loadBus({{0, 1, 2048, 64, "mo.img", "fault = read lba 5 times 2"}}, "trace = trace.log");
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
    /* Every request takes 50 ms: the whole rescue would take some 40 of them. */
    useBus("fault = read lba 40-63\ncompletion = async\ndelay_ms = 50");
    appState.archive.skipUnreadable = true;
    usePath("disk.img");
    std::thread clicker = clickAbortWhen(
        [](const std::string &trace) { return trace.find("len=512 status=04") != std::string::npos; });
    MessageBoxWatch boxes;
    copyDiskToFile(form());
    clicker.join();
    /* Eight large reads, sectors 32 to 40 one by one, then at most a few more until the click is seen. */
    const size_t reads = readsIn(trace()).size();
    EXPECT_GE(reads, 17u);
    EXPECT_LT(reads, 22u);
    EXPECT_EQ(appState.progressBox, nullptr);
    /* The map tells where the rescue stopped: trimming, with 40 to 63 not read. */
    const RescueMap read = mapOf("disk.img.map");
    EXPECT_EQ(read.phase, kNonTrimmed);
    EXPECT_EQ(sectorsWith(read, kFinished), 232u);
    EXPECT_EQ(sectorsNotRead(read, 40, 24), 24u);
    std::vector<int> notRead;
    for (int s = 40; s < 64; s++)
        notRead.push_back(s);
    EXPECT_TRUE(readWholeFile(pathOf("disk.img")) == sourceWithZeros(notRead));
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
    MapBlock bad;
    ASSERT_TRUE(nextBlockWith(mapOf("disk.img.map"), kBadSector, 0, bad));
    const uint32_t recovered = bad.first - 40;
    EXPECT_GE(recovered, 1u);
    EXPECT_LT(recovered, 12u) << "the click was not seen between two requests";
    EXPECT_EQ(bad.first + bad.count, 64u);
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
        {"file to disk, a sector that cannot be read back", copyFileToDisk, "", "fault = read lba 77",
         "Verify: sectors that differ: 1 of 256; the first is sector 77."},
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
    appState.archive.report = true;
    appState.archive.verify = true;
    appState.transferSectors = 255;   /* 130560 bytes: 512 zero bytes make 131072 */
    struct Case { bool exact, skip; const char *fault, *image, *fileLine, *unreadable; };
    const Case cases[] = {
        {false, false, "", "padded.img", "File length:         131072 bytes (zero bytes from offset 130560: 512)\r\n",
         "Unreadable sectors:  0\r\nVerify:              Verify: all 255 sectors match.\r\n"},
        {true, false, "", "exact.img", "File length:         130560 bytes (zero bytes from offset 130560: 0)\r\n",
         "Unreadable sectors:  0\r\nVerify:              Verify: all 255 sectors match.\r\n"},
        /* Rescued, so written out of order: the digests are those of the file as it ends up. */
        {false, true, "fault = read lba 77", "rescued.img",
         "File length:         131072 bytes (zero bytes from offset 130560: 512)\r\n",
         "  sector 77: MEDIUM ERROR, ASC 11h, ASCQ 00h\r\nVerify:              Verify: all 254 sectors match. "
         "Unreadable sectors, not compared: 1.\r\n"},
    };
    auto sha256Of = [](const Bytes &bytes, size_t length) {
        Sha256 hash;
        sha256Start(hash);
        sha256Add(hash, bytes.data(), length);
        char text[kSha256TextSize];
        sha256Text(hash, text);
        return std::string(text);
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.image);
        useBus(c.fault);
        appState.archive.exactLength = c.exact;
        appState.archive.skipUnreadable = c.skip;
        usePath(c.image);
        MessageBoxWatch boxes;
        copyDiskToFile(form());
        Bytes image = readWholeFile(pathOf(c.image));
        ASSERT_EQ(image.size(), c.exact ? 130560u : 131072u);
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + 130560, sourceWithZeros(c.skip ? std::vector<int>{77}
                                                                                              : std::vector<int>{})
                                                                          .begin()));
        std::string report = text(std::string(c.image) + ".txt");
        for (const std::string &line : {
                 std::string("Image:               ") + pathOf(c.image) + "\r\n",
                 std::string("Result:              complete\r\n"),
                 std::string("Source adapter:      0\r\nTarget id:           1\r\nLUN:                 0\r\n"
                             "Vendor:              VBUS\r\nProduct:             SAMPLER DISK\r\n"
                             "Revision:            1.0\r\nDevice type:         0 (hard disk)\r\n"
                             "Removable medium:    yes\r\nSector size:         512 bytes\r\n"
                             "Sector count:        256\r\n"),
                 std::string("Sectors asked for:   255\r\nSectors copied:      ") + (c.skip ? "254" : "255") +
                     "\r\nData length:         130560 bytes (sectors x sector size)\r\n" + c.fileLine,
                 std::string("Buffer size:         16 KB\r\n"),
                 std::string(c.unreadable)})
            EXPECT_NE(report.find(line), std::string::npos) << line << "\nnot in\n" << report;
        size_t data = report.find("SHA-256 of the data: "), file = report.find("SHA-256 of the file: ");
        ASSERT_NE(data, std::string::npos);
        ASSERT_NE(file, std::string::npos);
        EXPECT_EQ(report.substr(data + 21, 64), sha256Of(image, 130560));
        EXPECT_EQ(report.substr(file + 21, 64), sha256Of(image, image.size()));
        keep(c.image, c.image);
        keep(std::string(c.image) + ".txt", std::string(c.image) + ".txt");
    }
    appState.archive.skipUnreadable = false;
    appState.archive.exactLength = true;
    useBus("");
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
    /* sectors: what the image holds when the program ends; the target aborting sector 40 twice
       ends a rescue that had already read past it. */
    struct Case { const char *fault; bool skip; const char *said; size_t sectors; };
    const Case cases[] = {
        {"fault = read lba 40", false, "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)", 32},
        {"fault = read lba 40 sense 2/3A", true, "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)", 32},
        {"fault = read lba 40 sense B/47", true, "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)", 256},
        {"fault = read lba 40 status 82", true, "SCSI Command Failed.\nASPI returned status=82h\n(No device)", 32},
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
        EXPECT_EQ(readWholeFile(pathOf("out.img")).size(), c.sectors * 512);
    }
}

}  // namespace
