/*
 * What the archiving options add to a copy, called by the directions at their few seams:
 * before the copy touches its file or target, instead of the chunk loop (the rescue), and at
 * its end (the map, the verify pass, the report and the boxes that tell the user about them).
 *
 * Where the map goes: beside the image for Disk to file (<image>.map, replaced by each copy,
 * after a map of another program was kept as <image>.map.bak). Disk to disk has no image: its
 * map is written only when a read failed, into the folder of the image path field, named after
 * the two devices and the time the copy started ("disk-to-disk 0.2 to 1.5
 * 20261209-153000.map"), so that no copy replaces another's list.
 */
#include "archive.h"

#include <cstdio>
#include <cstring>
#include "chunk_rule.h"
#include "messages.h"
#include "resource_ids.h"

namespace {

constexpr int kTextSize = 512;

/* Disk to disk: a file in the folder of the image path field, named after the devices and the time. */
void diskToDiskMapPath(const ArchiveCopy &copy, char (&mapPath)[kMapPathSize])
{
    char folder[kPathBufferSize];
    char *name = nullptr;
    const char *field = appState.imagePath && appState.imagePath[0] ? appState.imagePath : ".";
    DWORD length = GetFullPathNameA(field, sizeof folder, folder, &name);
    if (length == 0 || length >= sizeof folder) {
        mapPath[0] = '\0';
        return;
    }
    if (name)
        *name = '\0';   /* keep the folder and its backslash */
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::snprintf(mapPath, sizeof mapPath, "%sdisk-to-disk %d.%d to %d.%d %04u%02u%02u-%02u%02u%02u.map", folder,
                  copy.source.adapter, copy.source.target, copy.target.adapter, copy.target.target, now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

/*
 * Disk to file: before the image is emptied, the map beside it says that nothing of the new copy
 * is read yet. A file there that is not a map of this program is kept first. 0 after its
 * message when an old map would stay beside the emptied image.
 */
int replaceMapOfImage(ArchiveCopy &copy)
{
    Rescue &r = copy.run;
    char backup[kMapPathSize];
    if (!mapPathForImage(appState.imagePath, r.mapPath, sizeof r.mapPath)) {
        r.mapPath[0] = '\0';
        return 1;
    }
    const DWORD attributes = GetFileAttributesA(r.mapPath);
    const bool mapFile = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    r.mapStarted = true;
    r.mapWriteFailed = !keepForeignMap(r.mapPath, backup, sizeof backup) || !writeMapFile(r.mapPath, r.map);
    if (!r.mapWriteFailed || !mapFile)
        return 1;
    char format[kTextSize], text[kTextSize];
    std::snprintf(text, sizeof text, loadText(IDS_MAP_NOT_REPLACED, format, sizeof format), r.mapPath);
    showMessage(copy.owner, text, "ERROR", MB_ICONERROR);
    return 0;
}

VerifyJob verifyJobFor(const ArchiveCopy &copy)
{
    VerifyJob job = {};
    job.sendCommand = copy.sendCommand;
    job.sectors = copy.transferSectors;
    job.sectorSize = copy.sectorSize;
    job.bufferBytes = copy.bufferBytes;
    job.map = copy.rescue ? &copy.run.map : nullptr;
    switch (copy.mode) {
    case TransferMode::DiskToFile:
        job.readBack = copy.source;     /* the source again, against the image */
        job.imagePath = appState.imagePath;
        break;
    case TransferMode::FileToDisk:
        job.readBack = copy.target;
        job.flushFirst = true;
        job.imagePath = appState.imagePath;
        break;
    case TransferMode::DiskToDisk:
        job.readBack = copy.target;
        job.flushFirst = true;
        job.source = copy.source;
        break;
    }
    return job;
}

void writeReport(ArchiveCopy &copy, int32_t sectorsDone, CopyEnd end, DWORD copyTicks, const char *verifyText)
{
    static const char *const outcomes[] = {"complete", "stopped by ABORT", "stopped: the image file could not be written",
                                           "stopped before the end (see the map)"};
    ImageSink &sink = copy.sink;
    /* A rescue that wrote out of order: the digests from the file as it now stands. */
    if (!sink.inOrder) {
        FILE *file = std::fopen(appState.imagePath, "rb");
        int64_t length = sink.end;
        sink.digestFailed = !file || !hashImageFile(file, sink.dataLength, sink.dataDigest, sink.fileDigest, length);
        if (file)
            std::fclose(file);
    }
    ImageReport report = {};
    report.imagePath = appState.imagePath;
    report.title = "disk image report";
    report.outcome = outcomes[int(end)];
    report.device = copy.device;
    report.transferSectors = copy.transferSectors;
    report.sectorsCopied = sectorsDone;
    report.dataLength = sink.dataLength;
    report.fileLength = sink.end;
    report.dataDigest = sink.digestFailed ? "(none: the image could not be read back)" : sink.dataDigest;
    report.fileDigest = sink.digestFailed ? "(none: the image could not be read back)" : sink.fileDigest;
    report.bufferBytes = copy.bufferBytes;
    report.milliseconds = copyTicks;
    if (copy.rescue) {
        const RescueMap &map = copy.run.map;
        report.unreadableSectors = sectorsWith(map, kBadSector);
        report.unreadableRanges = unreadableRangeLines(map, copy.run.senses);
        report.sectorsNotTried = sectorsToRead(map) - report.unreadableSectors;
        report.mapPath = copy.run.mapWriteFailed ? nullptr : copy.run.mapPath;
    }
    report.verifyText = verifyText;
    saveImageReport(copy.owner, report);
}

}  // namespace

void showRescueStop(const Rescue &r)
{
    char format[kTextSize], text[kTextSize];
    if (r.end == RescueEnd::DriveFailed) {
        std::snprintf(text, sizeof text, loadText(IDS_DRIVE_FAILED, format, sizeof format), r.failedOutcome.asc,
                      r.failedOutcome.ascq, int(r.failedSector));
        showMessage(r.owner, text, "Error", MB_ICONERROR);
    } else if (r.end == RescueEnd::FileFailed) {
        showMessage(r.owner, "Error while writing file. Disk Full?", "Error", MB_ICONERROR);
    }
}

int startArchiveCopy(ArchiveCopy &copy, TransferMode mode, HWND owner, SendASPI32CommandFn sendCommand,
                     int32_t transferSectors, int32_t sectorSize, uint64_t bufferBytes)
{
    const ArchiveOptions &options = appState.archive;
    copy.mode = mode;
    copy.owner = owner;
    copy.sendCommand = sendCommand;
    copy.transferSectors = transferSectors;
    copy.sectorSize = sectorSize;
    copy.bufferBytes = bufferBytes;
    copy.source = {appState.sourceAdapter, appState.sourceDevice};
    copy.target = {appState.targetAdapter, appState.targetDevice};
    copy.rescue = options.skipUnreadable && mode != TransferMode::FileToDisk;
    copy.padded = !options.exactLength;
    const bool hashing = options.report && mode == TransferMode::DiskToFile;
    startImageSink(copy.sink, nullptr, hashing);
    copy.startTicks = GetTickCount();

    /* What the map and the report name: the device as it answers now, or as the scan saw it. */
    copy.device = identifyDevice(copy.source.adapter, copy.source.target);
    RequestOutcome failure;
    if ((copy.rescue || hashing) && !identifyDeviceNow(sendCommand, copy.source, copy.device, failure) &&
        mediumChanged(failure)) {
        /* The drive told of another cartridge once, to this question: the copy's first read would
           have heard it and ended the program, before any file or target was touched. */
        reportScsiFailure(owner, SS_ERR);
    }
    Rescue &r = copy.run;
    startRescue(r, owner, sendCommand, copy.source, sectorSize, nullptr, bufferBytes);
    startMap(r.map, copy.device, transferSectors);
    r.map.device.sectorSize = sectorSize;   /* the blocks count in the copy's sectors */
    if (!copy.rescue)
        return 1;
    if (mode == TransferMode::DiskToDisk) {
        r.toDevice = true;
        r.target = copy.target;
        r.mapOnlyWhenFailed = true;
        diskToDiskMapPath(copy, r.mapPath);
        return 1;
    }
    return replaceMapOfImage(copy);
}

void attachImage(ArchiveCopy &copy, FILE *file)
{
    startImageSink(copy.sink, file, copy.sink.hashing);
    copy.run.image = &copy.sink;
}

CopyEnd rescueCopy(ArchiveCopy &copy, uint8_t *ioBuffer, int32_t &sectorsDone)
{
    Rescue &r = copy.run;
    r.buffer = ioBuffer;
    runRescue(r);
    /* A finished image holds every sector, also when the last ones were bad. */
    if (copy.mode == TransferMode::DiskToFile && mapFinished(r.map) && r.end != RescueEnd::FileFailed &&
        !extendImage(copy.sink, int64_t(copy.transferSectors) * copy.sectorSize))
        r.end = RescueEnd::FileFailed;
    sectorsDone = int32_t(sectorsWith(r.map, kFinished));
    showRescueStop(r);
    switch (r.end) {
    case RescueEnd::Finished:
        return CopyEnd::Completed;
    case RescueEnd::Aborted:
        return CopyEnd::Aborted;
    case RescueEnd::FileFailed:
        return CopyEnd::FileError;
    default:
        return CopyEnd::Stopped;
    }
}

size_t writeImageChunk(ArchiveCopy &copy, const void *data, size_t length)
{
    return writeToImage(copy.sink, data, length);
}

void endImageData(ArchiveCopy &copy)
{
    noteEndOfData(copy.sink);
}

void finishArchiveCopy(ArchiveCopy &copy, int32_t sectorsDone, CopyEnd end)
{
    const ArchiveOptions &options = appState.archive;
    const DWORD copyTicks = GetTickCount() - copy.startTicks;   /* the copy's own time, without the verify */
    char format[kTextSize], text[kTextSize];
    Rescue &r = copy.run;
    /* Once more after the image was closed: the map is newer than every write of its image. */
    if (copy.rescue && r.mapStarted && !r.mapFrozen && r.mapPath[0])
        r.mapWriteFailed = !writeMapFile(r.mapPath, r.map);
    if (copy.sink.hashing && copy.sink.inOrder)
        finishImageDigests(copy.sink);

    VerifyResult verify = {};
    bool verified = options.verify && end == CopyEnd::Completed && copy.transferSectors > 0;
    char verifyText[kTextSize] = "";
    if (verified) {
        verify = runVerifyPass(verifyJobFor(copy));
        formatVerifyResult(verify, copy.transferSectors, verifyText, sizeof verifyText);
    }
    if (copy.sink.hashing)
        writeReport(copy, sectorsDone, end, copyTicks, verified ? verifyText : nullptr);

    const uint32_t unreadable = copy.rescue ? sectorsWith(r.map, kBadSector) : 0;
    if (copy.rescue && r.mapStarted && r.mapWriteFailed) {
        std::snprintf(text, sizeof text, loadText(IDS_MAP_WRITE_FAILED, format, sizeof format), int(unreadable),
                      r.mapPath);
        showMessage(copy.owner, text, "Error", MB_ICONERROR);
    } else if (unreadable > 0) {
        UINT summary = copy.mode == TransferMode::DiskToDisk ? IDS_UNREADABLE_LEFT : IDS_UNREADABLE_SUMMARY;
        std::snprintf(text, sizeof text, loadText(summary, format, sizeof format), int(unreadable), r.mapPath);
        showMessage(copy.owner, text, "WARNING", MB_ICONWARNING);
    }
    if (verified)
        showVerifyResult(copy.owner, verify, copy.transferSectors);
}

int32_t sectorsInImage(int64_t fileLength, int32_t sectorSize)
{
    int64_t sectors = fileLength / sectorSize;
    if (appState.archive.exactLength && fileLength % sectorSize != 0)
        sectors++;
    return int32_t(sectors);
}

bool fillLastSector(uint8_t *buffer, size_t got, size_t wanted, int32_t sectorSize)
{
    /* Only an exact-length image may end inside a sector, and only in its last one. */
    if (!appState.archive.exactLength || got >= wanted || wanted - got >= size_t(sectorSize))
        return false;
    std::memset(buffer + got, 0, wanted - got);
    return true;
}
