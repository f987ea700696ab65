/*
 * Going on from the map beside an image, as ddrescue goes on from its mapfile: a copy that was
 * stopped reads only what it had not read yet (and its bad sectors once more), a finished one
 * with bad sectors reads only those again, into the image as it stands; nothing the earlier
 * run saved is read or written again. The map must be one of this program's, of the device
 * now at the same place (asked anew: INQUIRY and READ CAPACITY), and its sample sectors must
 * read from the disk and from the image as they did; otherwise a box says why it is not used.
 */
#include "archive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include "chunk_rule.h"
#include "image_file.h"
#include "messages.h"
#include "progress_box.h"
#include "resource_ids.h"
#include "transfer_loop.h"
#include "transfers.h"

namespace {

constexpr int kTextSize = 512;

uint64_t lastWriteTime(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return 0;
    return uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
}

/* The map is written after every write of its image: an image written later (a copy without
   the option, another program) is not the one the map describes. */
bool imageNewerThanMap(const char *mapPath)
{
    constexpr uint64_t kFileTimeSlack = 2 * 10000000ull;   /* FAT keeps write times to 2 seconds */
    const uint64_t imageTime = lastWriteTime(appState.imagePath), mapTime = lastWriteTime(mapPath);
    return imageTime == 0 || mapTime == 0 || imageTime > mapTime + kFileTimeSlack;
}

/* Why the map cannot be gone on from: a string id, 0 when it can. */
UINT whyNotUsable(const RescueMap &map, const char *mapPath, SendASPI32CommandFn sendCommand)
{
    const DeviceAddress source = {appState.sourceAdapter, appState.sourceDevice};
    DeviceIdentity now;
    RequestOutcome failure;
    if (!identifyDeviceNow(sendCommand, source, now, failure))
        return mediumChanged(failure) ? IDS_MAP_WHY_MEDIUM_CHANGED : IDS_MAP_WHY_NO_ANSWER;
    if (!sameDevice(map.device, now))
        return IDS_MAP_WHY_DEVICE;
    if (imageNewerThanMap(mapPath))
        return IDS_RETRY_MISMATCH;
    FILE *image = std::fopen(appState.imagePath, "rb");
    SampleCheck check = checkSamples(map, sendCommand, source, image);
    if (image)
        std::fclose(image);
    switch (check) {
    case SampleCheck::Matches:
        return 0;
    case SampleCheck::TooFew:
        return IDS_MAP_WHY_FEW_SAMPLES;
    case SampleCheck::MediumChanged:
        return IDS_MAP_WHY_MEDIUM_CHANGED;
    default:
        return IDS_RETRY_MISMATCH;
    }
}

void sayNotUsed(HWND owner, UINT why)
{
    char format[kTextSize], reason[kTextSize], text[kTextSize];
    if (why == IDS_RETRY_MISMATCH) {   /* a whole sentence of its own */
        showMessage(owner, loadText(why, text, sizeof text), "WARNING", MB_ICONWARNING);
        return;
    }
    std::snprintf(text, sizeof text, loadText(IDS_MAP_NOT_USED, format, sizeof format),
                  loadText(why, reason, sizeof reason));
    showMessage(owner, text, "WARNING", MB_ICONWARNING);
}

void writeGoOnReport(ImageSink &sink, const Rescue &r, const char *mapPath, uint64_t bufferBytes, DWORD ticks,
                     bool retryOnly)
{
    const RescueMap &map = r.map;
    ImageReport report = {};
    report.imagePath = appState.imagePath;
    report.title = retryOnly ? "disk image report, after a retry of its unreadable sectors"
                             : "disk image report, after going on from its map";
    report.outcome = mapFinished(map) ? "complete" : "stopped before the end";
    report.device = map.device;
    report.transferSectors = map.sectors;
    report.sectorsCopied = int32_t(sectorsWith(map, kFinished));
    /* A run that stopped may leave the image shorter than the copy: the digests of what it holds. */
    report.dataLength = std::min(int64_t(map.sectors) * map.device.sectorSize, sink.end);
    char dataDigest[kSha256TextSize], fileDigest[kSha256TextSize];
    int64_t fileLength = sink.end;
    const bool hashed = std::fflush(sink.file) == 0 &&
                        hashImageFile(sink.file, report.dataLength, dataDigest, fileDigest, fileLength);
    report.dataDigest = hashed ? dataDigest : "(none: the image could not be read back)";
    report.fileDigest = hashed ? fileDigest : "(none: the image could not be read back)";
    report.fileLength = fileLength;
    report.bufferBytes = bufferBytes;
    report.milliseconds = GetTickCount() - ticks;
    report.unreadableSectors = sectorsWith(map, kBadSector);
    report.unreadableRanges = unreadableRangeLines(map, r.senses);
    report.sectorsNotTried = sectorsToRead(map) - report.unreadableSectors;
    report.mapPath = r.mapWriteFailed ? nullptr : mapPath;
    saveImageReport(appState.mainForm, report);
}

}  // namespace

GoOnOffer offerToGoOn(HWND owner, SendASPI32CommandFn sendCommand, uint64_t bufferBytes)
{
    char mapPath[kMapPathSize];
    if (!appState.archive.skipUnreadable || !mapPathForImage(appState.imagePath, mapPath, sizeof mapPath))
        return GoOnOffer::NotOffered;
    RescueMap map;
    MapVerdict verdict = MapVerdict::NotAMap;
    const DWORD attributes = GetFileAttributesA(mapPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return GoOnOffer::NotOffered;
    UINT why = 0;
    if (readMapFile(mapPath, map, verdict) != MapFileState::Read || verdict == MapVerdict::NotAMap)
        why = IDS_MAP_WHY_NOT_A_MAP;
    else if (verdict == MapVerdict::Gaps)
        why = IDS_MAP_WHY_GAPS;
    else if (verdict == MapVerdict::NotOurs)
        why = IDS_MAP_WHY_NOT_OURS;
    else if (mapFinished(map) && sectorsWith(map, kBadSector) == 0)
        return GoOnOffer::NotOffered;   /* all read: nothing to go on with */
    else
        why = whyNotUsable(map, mapPath, sendCommand);
    if (why) {
        sayNotUsed(owner, why);
        return GoOnOffer::NotOffered;
    }

    char format[kTextSize], text[kTextSize];
    const bool retryOnly = mapFinished(map);
    const uint32_t bad = sectorsWith(map, kBadSector), toRead = sectorsToRead(map);
    if (retryOnly)
        std::snprintf(text, sizeof text, loadText(IDS_RETRY_QUESTION, format, sizeof format), int(bad));
    else
        std::snprintf(text, sizeof text, loadText(IDS_GO_ON_QUESTION, format, sizeof format), int(toRead - bad),
                      int(bad));
    if (showMessage(owner, text, "WARNING", MB_YESNO | MB_ICONINFORMATION) == IDNO)
        return GoOnOffer::Declined;

    FILE *file = std::fopen(appState.imagePath, "r+b");   /* gone on in place, never emptied */
    if (!file) {
        showMessage(owner, "Can't create output file. Check name and device.", "ERROR", MB_ICONERROR);
        return GoOnOffer::Done;
    }
    uint8_t *buffer = allocateIoBuffer(owner, bufferBytes);
    std::snprintf(text, sizeof text, loadText(IDS_RETRY_DESCRIPTION, format, sizeof format), int(toRead),
                  map.device.sectorSize, appState.imagePath);
    if (!buffer || !startTransfer(owner, text)) {
        releaseIoBuffer(buffer);
        std::fclose(file);
        return GoOnOffer::Done;
    }
    appState.abortRequested = 0;
    const DWORD ticks = GetTickCount();
    ImageSink sink;
    startImageSink(sink, file, false);
    sink.end = sink.position = streamLength(file);
    Rescue r;
    startRescue(r, owner, sendCommand, {appState.sourceAdapter, appState.sourceDevice}, map.device.sectorSize, buffer,
                bufferBytes);
    r.map = map;
    r.image = &sink;
    std::snprintf(r.mapPath, sizeof r.mapPath, "%s", mapPath);
    r.retryPasses = 1;
    runRescue(r);
    closeProgressBox();
    releaseIoBuffer(buffer);

    /* A finished image has every sector, and its zero bytes unless images are exact. */
    if (mapFinished(r.map) && r.end != RescueEnd::FileFailed) {
        const int64_t data = int64_t(r.map.sectors) * r.map.device.sectorSize;
        const int64_t pad = appState.archive.exactLength ? 0 : alignmentPadBytes(r.map.sectors, r.map.device.sectorSize);
        if (!extendImage(sink, data + pad))
            r.end = RescueEnd::FileFailed;
    }
    char reportPath[kMapPathSize];
    if (appState.archive.report ||
        (reportPathForImage(appState.imagePath, reportPath, sizeof reportPath) && imageFileSize(reportPath) > 0))
        writeGoOnReport(sink, r, mapPath, bufferBytes, ticks, retryOnly);
    const bool flushed = flushImage(sink);
    if (std::fclose(file) != 0 || !flushed)
        r.end = RescueEnd::FileFailed;
    /* Last, so that the map is newer than every write of its image. */
    if (r.end != RescueEnd::FileFailed && !r.mapFrozen)
        r.mapWriteFailed = !writeMapFile(mapPath, r.map);
    showRescueStop(r);

    const uint32_t still = sectorsToRead(r.map);
    if (r.mapWriteFailed) {
        std::snprintf(text, sizeof text, loadText(IDS_MAP_WRITE_FAILED, format, sizeof format), int(still), mapPath);
        showMessage(owner, text, "Error", MB_ICONERROR);
    } else {
        std::snprintf(text, sizeof text, loadText(IDS_RETRY_RESULT, format, sizeof format), int(toRead - still),
                      int(toRead), int(still), mapPath);
        showMessage(owner, text, still ? "WARNING" : "Kestrova", still ? MB_ICONWARNING : MB_ICONINFORMATION);
    }
    return GoOnOffer::Done;
}
