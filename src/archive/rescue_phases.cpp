/*
 * The rescue of a failing source, phase by phase as GNU ddrescue does it (its manual,
 * "Algorithm"), so that the good data come first and the failing areas are read as little
 * as possible:
 *   copying   the sectors not tried, in large reads. Pass 1 forwards, skipping past a failed
 *             read (the skip doubles while the reads keep failing); pass 2 backwards over what
 *             was skipped, up to its first failure; pass 3 forwards over the rest, no skipping.
 *             A failed read leaves its sectors non-trimmed ('*').
 *   trimming  each non-trimmed block sector by sector from its leading edge to the first bad
 *             sector, then from its trailing edge back to the first bad sector; the middle is
 *             left non-scraped ('/').
 *   scraping  each non-scraped block sector by sector.
 *   retrying  the bad sectors once each pass; only when a later run goes on from a map.
 * A sector read is written out (image or target) before the map counts it; the map is saved
 * now and then, at the end of each phase and when the rescue stops, always after what it
 * claims was flushed. Between any two requests the messages are handled: ABORT stops at once.
 */
#include "archive.h"

#include <algorithm>
#include <cstdio>
#include "chunk_rule.h"
#include "messages.h"
#include "progress_box.h"
#include "resource_ids.h"
#include "transfer_loop.h"

namespace {

constexpr DWORD kMapInterval = 5000;             /* ms: a map save at least this often */
constexpr uint64_t kInitialSkipBytes = 65536;    /* ddrescue's defaults */
constexpr uint64_t kLargestSkipBytes = 1ull << 30;
constexpr uint32_t kFailuresBeforeAsking = 1000; /* failed requests in a row before the user is asked */
constexpr int kMessagesBetweenRequests = 32;     /* a stream of messages cannot hold the rescue up */
constexpr int kTextSize = 512;

enum class Got { Read, Failed, Stop };

void showProgress(const Rescue &r)
{
    const RescueMap &map = r.map;
    uint32_t done = sectorsWith(map, kFinished) + sectorsWith(map, kBadSector);
    showPercent(transferPercent(int32_t(done), map.sectors));
}

bool anyFailure(const RescueMap &map)
{
    for (const MapBlock &block : map.blocks)
        if (block.status != kFinished && block.status != kNonTried)
            return true;
    return false;
}

void noteSense(Rescue &r, uint32_t sector, const RequestOutcome &o)
{
    if (!r.senses.empty()) {
        SenseRange &last = r.senses.back();
        if (uint64_t(last.first) + last.count == sector && last.key == o.senseKey && last.asc == o.asc &&
            last.ascq == o.ascq) {
            last.count++;
            return;
        }
    }
    r.senses.push_back({sector, 1, o.senseKey, o.asc, o.ascq});
}

/* The sectors go where the copy writes them. false: the image file could not take them. */
bool putSectors(Rescue &r, uint32_t first, uint32_t count)
{
    const uint32_t bytes = count * uint32_t(r.sectorSize);
    if (!r.toDevice)
        return writeImageAt(*r.image, int64_t(first) * r.sectorSize, r.buffer, bytes);
    uint8_t status = executeTransfer(r.sendCommand, TransferDirection::Write, r.target.adapter, r.target.target,
                                     first, count, r.buffer, bytes);
    if (status != SS_COMP) {
        saveRescueMap(r);   /* without this chunk: it did not reach the target */
        reportScsiFailure(r.owner, status);
    }
    return true;
}

bool flushOutput(Rescue &r)
{
    if (!r.toDevice)
        return flushImage(*r.image);
    /* A drive that does not know SYNCHRONIZE CACHE (ILLEGAL REQUEST) has no cache to empty. */
    uint8_t status = synchronizeCache(r.sendCommand, r.target.adapter, r.target.target);
    return status == SS_COMP || status == SS_ERR;
}

void saveSometimes(Rescue &r)
{
    if (GetTickCount() - r.lastSave >= kMapInterval)
        saveRescueMap(r);
}

/* After a failed request: the user is asked after a long run of them. false: stop. */
bool goOnAfterFailures(Rescue &r, uint32_t sector)
{
    if (++r.failuresInARow % kFailuresBeforeAsking != 0)
        return true;
    saveRescueMap(r);
    char format[kTextSize], text[kTextSize];
    std::snprintf(text, sizeof text, loadText(IDS_FAILURE_RUN_QUESTION, format, sizeof format),
                  int(r.failuresInARow), int(sector));
    if (showMessage(r.owner, text, "WARNING", MB_YESNO | MB_ICONWARNING) == IDYES)
        return true;
    r.end = RescueEnd::UserStopped;
    return false;
}

/*
 * One request for [first, first + count) into the buffer. Read: the sectors are written out and
 * marked read. Failed: they get failedStatus (a bad sector also its sense). A failure that is
 * not the medium's ends the program after the map is saved, as every failed transfer request
 * ends it; the drive reporting a fault of its own stops the rescue.
 */
Got readArea(Rescue &r, uint32_t first, uint32_t count, char failedStatus, bool askedAgain = false)
{
    if (r.end != RescueEnd::Finished)
        return Got::Stop;
    if (abortBetweenRequests()) {
        r.end = RescueEnd::Aborted;
        return Got::Stop;
    }
    RequestOutcome outcome;
    uint8_t status = readWhenReady(r.sendCommand, r.source, first, count, r.sectorSize, r.buffer, outcome);
    if (status != SS_COMP && becomingReady(outcome) && appState.abortRequested) {
        r.end = RescueEnd::Aborted;
        return Got::Stop;
    }
    const ReadFailure failure = status == SS_COMP ? ReadFailure::Recovered : classifyReadFailure(outcome);
    if (status == SS_COMP || (failure == ReadFailure::Recovered && count == 1)) {
        if (!putSectors(r, first, count)) {
            r.end = RescueEnd::FileFailed;
            return Got::Stop;
        }
        if (status == SS_COMP && r.map.phase == kNonTried)
            noteSamples(r.map, first, count, r.buffer);
        setStatus(r.map, first, count, kFinished);
        r.failuresInARow = 0;
        showProgress(r);
        return Got::Read;
    }
    switch (failure) {
    case ReadFailure::Fatal:
        saveRescueMap(r);
        reportScsiFailure(r.owner, status);
    case ReadFailure::DriveFailed:
        r.end = RescueEnd::DriveFailed;
        r.failedSector = first;
        r.failedOutcome = outcome;
        return Got::Stop;
    case ReadFailure::Aborted:
        /* A sector that the target aborts twice says nothing about the medium: a fault of the
           bus or the drive, which would turn every later sector into zeros. */
        if (count == 1 && !askedAgain)
            return readArea(r, first, 1, failedStatus, true);
        if (count == 1) {
            saveRescueMap(r);
            reportScsiFailure(r.owner, status);
        }
        break;
    default:
        break;
    }
    setStatus(r.map, first, count, failedStatus);
    if (failedStatus == kBadSector)
        noteSense(r, first, outcome);
    showProgress(r);
    return goOnAfterFailures(r, first) ? Got::Failed : Got::Stop;
}

Got readSector(Rescue &r, uint32_t sector)
{
    r.map.position = sector;
    return readArea(r, sector, 1, kBadSector);
}

Got readChunk(Rescue &r, uint32_t first, uint32_t count)
{
    r.map.position = first;
    return readArea(r, first, count, kNonTrimmed);
}

}  // namespace

bool abortBetweenRequests()
{
    MSG message;
    for (int handled = 0; handled < kMessagesBetweenRequests && pumpOneMessage(message); handled++) {
    }
    return appState.abortRequested != 0;
}

void startRescue(Rescue &r, HWND owner, SendASPI32CommandFn sendCommand, DeviceAddress source, int32_t sectorSize,
                 uint8_t *buffer, uint64_t bufferBytes)
{
    r.owner = owner;
    r.sendCommand = sendCommand;
    r.source = source;
    r.sectorSize = sectorSize;
    r.buffer = buffer;
    r.perBuffer = sectorsPerBuffer(bufferBytes, sectorSize);
    r.image = nullptr;
    r.toDevice = false;
    r.target = {0, 0};
    r.mapPath[0] = '\0';
    r.mapOnlyWhenFailed = false;
    r.mapStarted = false;
    r.mapWriteFailed = false;
    r.mapFrozen = false;
    r.lastSave = GetTickCount();
    r.retryPasses = 0;
    r.failuresInARow = 0;
    r.end = RescueEnd::Finished;
    r.failedSector = 0;
    r.failedOutcome = RequestOutcome{};
    r.senses.clear();
}

bool copyPhase(Rescue &r)
{
    RescueMap &map = r.map;
    const uint32_t size = uint32_t(r.sectorSize);
    const uint32_t initialSkip = uint32_t(std::max<uint64_t>(1, kInitialSkipBytes / size));
    const uint32_t largestSkip =
        std::max(initialSkip, uint32_t(std::min<uint64_t>(uint64_t(map.sectors) / 100, kLargestSkipBytes / size)));
    const uint32_t perBuffer = uint32_t(r.perBuffer);
    MapBlock block;
    map.phase = kNonTried;

    map.pass = 1;   /* forwards, skipping past each failure */
    uint32_t skip = initialSkip;
    for (uint32_t at = 0; nextBlockWith(map, kNonTried, at, block);) {
        const uint32_t count = std::min(block.count, perBuffer);
        Got got = readChunk(r, block.first, count);
        if (got == Got::Stop)
            return false;
        at = block.first + count;
        if (got == Got::Read) {
            skip = initialSkip;
        } else {
            at = uint32_t(std::min<uint64_t>(uint64_t(at) + skip, uint64_t(map.sectors)));
            skip = std::min(skip * 2, largestSkip);
        }
        saveSometimes(r);
    }

    map.pass = 2;   /* backwards over what was skipped, each area up to its first failure */
    for (uint32_t end = uint32_t(map.sectors); previousBlockWith(map, kNonTried, end, block);) {
        for (uint32_t e = block.first + block.count; e > block.first;) {
            const uint32_t count = std::min(e - block.first, perBuffer);
            Got got = readChunk(r, e - count, count);
            if (got == Got::Stop)
                return false;
            if (got == Got::Failed)
                break;
            e -= count;
        }
        end = block.first;
        saveSometimes(r);
    }

    map.pass = 3;   /* forwards over the rest, without skipping */
    for (uint32_t at = 0; nextBlockWith(map, kNonTried, at, block);) {
        const uint32_t count = std::min(block.count, perBuffer);
        if (readChunk(r, block.first, count) == Got::Stop)
            return false;
        at = block.first + count;
        saveSometimes(r);
    }
    saveRescueMap(r);
    return true;
}

bool trimPhase(Rescue &r)
{
    RescueMap &map = r.map;
    map.phase = kNonTrimmed;
    map.pass = 1;
    MapBlock block;
    for (uint32_t at = 0; nextBlockWith(map, kNonTrimmed, at, block);) {
        uint32_t first = block.first, end = block.first + block.count;
        at = end;
        /* An edge next to a bad sector is trimmed already. */
        if (first == 0 || statusAt(map, first - 1) != kBadSector) {
            while (first < end) {
                Got got = readSector(r, first);
                if (got == Got::Stop)
                    return false;
                first++;
                if (got == Got::Failed)
                    break;
            }
        }
        if (end >= uint32_t(map.sectors) || statusAt(map, end) != kBadSector) {
            while (end > first) {
                Got got = readSector(r, end - 1);
                if (got == Got::Stop)
                    return false;
                end--;
                if (got == Got::Failed)
                    break;
            }
        }
        setStatus(map, first, end - first, kNonScraped);
        saveSometimes(r);
    }
    saveRescueMap(r);
    return true;
}

bool scrapePhase(Rescue &r)
{
    RescueMap &map = r.map;
    map.phase = kNonScraped;
    map.pass = 1;
    MapBlock block;
    for (uint32_t at = 0; nextBlockWith(map, kNonScraped, at, block);) {
        for (uint32_t sector = block.first; sector < block.first + block.count; sector++) {
            if (readSector(r, sector) == Got::Stop)
                return false;
            saveSometimes(r);
        }
        at = block.first + block.count;
    }
    saveRescueMap(r);
    return true;
}

bool retryPhase(Rescue &r)
{
    RescueMap &map = r.map;
    for (int pass = 1; pass <= r.retryPasses; pass++) {
        map.phase = kBadSector;
        map.pass = pass;
        /* The bad sectors as the pass starts, each tried once; the direction turns each pass. */
        std::vector<MapBlock> bad;
        MapBlock block;
        for (uint32_t at = 0; nextBlockWith(map, kBadSector, at, block); at = block.first + block.count)
            bad.push_back(block);
        if (pass % 2 == 0)
            std::reverse(bad.begin(), bad.end());
        for (const MapBlock &b : bad) {
            for (uint32_t i = 0; i < b.count; i++) {
                uint32_t sector = pass % 2 ? b.first + i : b.first + b.count - 1 - i;
                if (readSector(r, sector) == Got::Stop)
                    return false;
                saveSometimes(r);
            }
        }
        saveRescueMap(r);
    }
    return true;
}

RescueEnd runRescue(Rescue &r)
{
    r.end = RescueEnd::Finished;
    showProgress(r);
    if (copyPhase(r) && trimPhase(r) && scrapePhase(r) && retryPhase(r)) {
        r.map.phase = kFinished;
        r.map.position = uint32_t(r.map.sectors);
        r.map.pass = 1;
    }
    saveRescueMap(r);
    return r.end;
}

void saveRescueMap(Rescue &r)
{
    if (r.mapOnlyWhenFailed && !r.mapStarted && !anyFailure(r.map))
        return;
    r.mapStarted = true;
    if (!r.mapPath[0] || r.mapFrozen) {
        r.mapWriteFailed = true;
        return;
    }
    r.lastSave = GetTickCount();
    if (!flushOutput(r)) {
        /* What was written may not be on the disk: the map on disk stays as it was, and no
           later one may claim these sectors. */
        r.mapFrozen = true;
        r.mapWriteFailed = true;
        if (r.end == RescueEnd::Finished)
            r.end = RescueEnd::FileFailed;
        return;
    }
    r.mapWriteFailed = !writeMapFile(r.mapPath, r.map);
}

uint32_t sectorsToRead(const RescueMap &map)
{
    return uint32_t(map.sectors) - sectorsWith(map, kFinished);
}
