/* The archiving options around a copy: rescue, hashing, map, verify, report. */
#include "archive_copy.h"

#include <cstdio>
#include <cstring>
#include <string>
#include "disk_contents.h"
#include "image_file.h"
#include "image_report.h"
#include "messages.h"
#include "resource_ids.h"
#include "transfers.h"

namespace {

constexpr int kTextSize = 512;

/* Disk to disk: a file in the folder of the image path field, named after the devices and the time. */
void diskToDiskMapPath(ArchiveCopy &copy)
{
    char folder[kPathBufferSize];
    char *name = nullptr;
    const char *field = appState.imagePath && appState.imagePath[0] ? appState.imagePath : ".";
    DWORD length = GetFullPathNameA(field, sizeof folder, folder, &name);
    if (length == 0 || length >= sizeof folder) {
        copy.mapPath[0] = '\0';
        return;
    }
    if (name)
        *name = '\0';   /* keep the folder and its backslash */
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::snprintf(copy.mapPath, sizeof copy.mapPath, "%sdisk-to-disk %d.%d to %d.%d %04u%02u%02u-%02u%02u%02u.map",
                  folder, copy.source.adapter, copy.source.target, copy.target.adapter, copy.target.target, now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
}

/* The result of the last write counts: a map that failed once and was written later is fine. */
void saveMap(ArchiveCopy &copy)
{
    copy.mapWriteFailed = !copy.mapPath[0] || !writeRescueMap(copy.mapPath, copy.map);
}

/* Whether this copy keeps a map on disk now: Disk to file always, beside its image; Disk to
   disk once a sector was unreadable. */
bool wantsMap(const ArchiveCopy &copy)
{
    if (!copy.reader.rescue)
        return false;
    return copy.mode == TransferMode::DiskToFile || !copy.reader.unreadable.empty();
}

VerifyJob verifyJobFor(const ArchiveCopy &copy)
{
    VerifyJob job = {};
    job.sendCommand = copy.sendCommand;
    job.sectors = copy.transferSectors;
    job.sectorSize = copy.sectorSize;
    job.bufferBytes = copy.bufferBytes;
    job.unreadable = &copy.reader.unreadable;
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
    static const char *const outcomes[] = {"complete", "stopped by ABORT", "stopped: the image file could not be written"};
    ImageReport report = {};
    report.imagePath = appState.imagePath;
    report.title = "disk image report";
    report.outcome = outcomes[int(end)];
    report.device = copy.map.device;
    report.transferSectors = copy.transferSectors;
    report.sectorsCopied = sectorsDone;
    report.dataLength = copy.sink.dataLength;
    report.fileLength = copy.sink.written;
    std::memcpy(report.dataDigest, copy.sink.dataDigest, sizeof report.dataDigest);
    imageDigest(copy.sink, report.fileDigest);
    report.bufferBytes = copy.bufferBytes;
    report.milliseconds = copyTicks;
    report.unreadableSectors = sectorsIn(copy.reader.unreadable);
    report.mapPath = copy.reader.rescue && !copy.mapWriteFailed ? copy.mapPath : nullptr;
    report.verifyText = verifyText;
    saveImageReport(copy.owner, report);
}

}  // namespace

void saveImageReport(HWND owner, const ImageReport &report)
{
    /* What the image holds: its data part, read back from the closed file. */
    ImageReport withContents = report;
    DiskContents contents;
    std::string held = "\nContents:\n";
    if (probeImageFile(report.imagePath, report.dataLength, contents))
        held += describeContents(contents, "  ", "\n");
    withContents.extraLines = held.c_str();
    char reportPath[kMapPathSize];
    if (!reportPathForImage(report.imagePath, reportPath, sizeof reportPath) ||
        !writeImageReport(reportPath, withContents)) {
        char format[kTextSize], text[kTextSize];
        std::snprintf(text, sizeof text, loadText(IDS_REPORT_WRITE_FAILED, format, sizeof format), reportPath);
        showMessage(owner, text, "Error", MB_ICONERROR);
    }
}

void startArchiveCopy(ArchiveCopy &copy, TransferMode mode, HWND owner, SendASPI32CommandFn sendCommand,
                      int32_t transferSectors, int32_t sectorSize, uint64_t bufferBytes, FILE *file)
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
    startSourceReader(copy.reader, owner, sendCommand, copy.source.adapter, copy.source.target, sectorSize,
                      options.skipUnreadable && mode != TransferMode::FileToDisk);
    startImageSink(copy.sink, file, options.report && mode == TransferMode::DiskToFile);
    copy.map = RescueMap();
    copy.map.device = identifyDevice(copy.source.adapter, copy.source.target);
    copy.map.sectors = transferSectors;
    copy.mapPath[0] = '\0';
    copy.mapWriteFailed = false;
    if (copy.reader.rescue) {
        if (mode == TransferMode::DiskToFile) {
            if (!mapPathForImage(appState.imagePath, copy.mapPath, sizeof copy.mapPath))
                copy.mapPath[0] = '\0';
            /* At once, before the first sector: whatever ends the copy (a SCSI failure ends the
               program), no older map describes the new image. */
            saveMap(copy);
        } else {
            diskToDiskMapPath(copy);
        }
    }
    copy.startTicks = GetTickCount();
}

void noteSectorsDone(ArchiveCopy &copy, int32_t sectorsDone)
{
    copy.map.triedSectors = sectorsDone;
    if (copy.reader.rescuedLastChunk && wantsMap(copy)) {
        copy.map.unreadable = copy.reader.unreadable;
        saveMap(copy);
    }
}

void finishArchiveCopy(ArchiveCopy &copy, int32_t sectorsDone, CopyEnd end)
{
    const ArchiveOptions &options = appState.archive;
    const DWORD copyTicks = GetTickCount() - copy.startTicks;   /* the copy's own time, without the verify */
    char format[kTextSize], text[kTextSize];
    copy.map.triedSectors = sectorsDone;
    copy.map.unreadable = copy.reader.unreadable;
    const bool mapped = wantsMap(copy);
    if (mapped)
        saveMap(copy);

    VerifyResult verify = {};
    bool verified = options.verify && end == CopyEnd::Completed && copy.transferSectors > 0;
    char verifyText[kTextSize] = "";
    if (verified) {
        verify = runVerifyPass(verifyJobFor(copy));
        formatVerifyResult(verify, copy.transferSectors, verifyText, sizeof verifyText);
    }
    if (copy.sink.hashing)
        writeReport(copy, sectorsDone, end, copyTicks, verified ? verifyText : nullptr);

    uint32_t unreadable = sectorsIn(copy.reader.unreadable);
    if (mapped && copy.mapWriteFailed) {
        std::snprintf(text, sizeof text, loadText(IDS_MAP_WRITE_FAILED, format, sizeof format), int(unreadable),
                      copy.mapPath);
        showMessage(copy.owner, text, "Error", MB_ICONERROR);
    } else if (unreadable > 0) {
        std::snprintf(text, sizeof text, loadText(IDS_UNREADABLE_SUMMARY, format, sizeof format), int(unreadable),
                      copy.mapPath);
        showMessage(copy.owner, text, "WARNING", MB_ICONWARNING);
    }
    if (verified)
        showVerifyResult(copy.owner, verify, copy.transferSectors);
}
