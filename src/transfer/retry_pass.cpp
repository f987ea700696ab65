/* Reading only the unreadable sectors of an image again. */
#include "retry_pass.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "app_state.h"
#include "chunk_rule.h"
#include "image_file.h"
#include "image_report.h"
#include "messages.h"
#include "progress_box.h"
#include "rescue_map.h"
#include "rescue_read.h"
#include "resource_ids.h"
#include "sha256.h"
#include "transfer_loop.h"
#include "transfers.h"

namespace {

constexpr int kTextSize = 512;
constexpr size_t kHashChunk = 65536;

/* The map of the image, when a retry can use it. */
bool usableMap(RescueMap &map, char *mapPath, size_t size, const DeviceIdentity &source)
{
    if (!mapPathForImage(appState.imagePath, mapPath, size) || !readRescueMap(mapPath, map))
        return false;
    if (!sameDevice(map.device, source) || map.unreadable.empty())
        return false;
    /* Every sector to patch must already have its place in the file. */
    const SectorRun &last = map.unreadable.back();
    return imageFileSize(appState.imagePath) >= (int64_t(last.first) + last.count) * map.device.sectorSize;
}

/* The digests of the patched file: its first dataLength bytes, and all of it. */
void hashFile(FILE *file, int64_t dataLength, ImageReport &report)
{
    Sha256 hash;
    sha256Start(hash);
    std::vector<uint8_t> chunk(kHashChunk);
    int64_t length = 0;
    std::rewind(file);
    report.dataDigest[0] = '\0';
    for (;;) {
        if (length == dataLength)
            sha256Text(hash, report.dataDigest);
        size_t want = length < dataLength && dataLength - length < int64_t(kHashChunk) ? size_t(dataLength - length)
                                                                                    : kHashChunk;
        size_t got = std::fread(chunk.data(), 1, want, file);
        if (got == 0)
            break;
        sha256Add(hash, chunk.data(), got);
        length += int64_t(got);
    }
    if (!report.dataDigest[0])
        sha256Text(hash, report.dataDigest);
    sha256Text(hash, report.fileDigest);
    report.fileLength = length;
}

void writeRetryReport(FILE *file, const RescueMap &map, const char *mapPath, uint64_t bufferBytes, DWORD ticks)
{
    char reportPath[kPathBufferSize + 8];
    ImageReport report = {};
    report.imagePath = appState.imagePath;
    report.title = "disk image report, after a retry of its unreadable sectors";
    report.outcome = map.triedSectors >= map.sectors ? "complete" : "stopped before the end";
    report.device = map.device;
    report.transferSectors = map.sectors;
    report.sectorsCopied = map.triedSectors;
    report.dataLength = int64_t(map.triedSectors) * map.device.sectorSize;
    hashFile(file, report.dataLength, report);
    report.bufferBytes = bufferBytes;
    report.milliseconds = GetTickCount() - ticks;
    report.unreadableSectors = sectorsIn(map.unreadable);
    report.mapPath = mapPath;
    if (!reportPathForImage(appState.imagePath, reportPath, sizeof reportPath) ||
        !writeImageReport(reportPath, report)) {
        char format[kTextSize], text[kTextSize];
        std::snprintf(text, sizeof text, loadText(IDS_REPORT_WRITE_FAILED, format, sizeof format), reportPath);
        showMessage(appState.mainForm, text, "Error", MB_ICONERROR);
    }
}

/* Reads the listed sectors again into the open image; returns the sectors still to read. */
SectorRuns retrySectors(HWND owner, SourceReader &reader, const RescueMap &map, FILE *file, uint8_t *sector)
{
    const uint32_t total = sectorsIn(map.unreadable);
    const int32_t sectorSize = map.device.sectorSize;
    SectorRuns stillUnreadable;
    uint32_t handled = 0;
    bool stopped = false;
    for (const SectorRun &run : map.unreadable) {
        for (uint32_t lba = run.first; lba < run.first + run.count; lba++) {
            int result = stopped ? -1 : readSectorWithTries(reader, lba, sector);
            if (result == 1) {
                if (_fseeki64(file, int64_t(lba) * sectorSize, SEEK_SET) != 0 ||
                    std::fwrite(sector, 1, size_t(sectorSize), file) != size_t(sectorSize)) {
                    showMessage(owner, "Error while writing file. Disk Full?", "Error", MB_ICONERROR);
                    stopped = true;
                    result = -1;
                }
            }
            if (result != 1) {
                stopped = stopped || result < 0;
                addSector(stillUnreadable, lba);
            }
            showPercent(transferPercent(int32_t(++handled), int32_t(total)));
        }
    }
    return stillUnreadable;
}

}  // namespace

RetryOffer offerRetryPass(HWND owner, SendASPI32CommandFn sendCommand, uint64_t bufferBytes)
{
    const DeviceIdentity source = identifyDevice(appState.sourceAdapter, appState.sourceDevice);
    RescueMap map;
    char mapPath[kPathBufferSize + 8];
    if (!usableMap(map, mapPath, sizeof mapPath, source))
        return RetryOffer::NotOffered;

    char format[kTextSize], text[kTextSize];
    const uint32_t total = sectorsIn(map.unreadable);
    std::snprintf(text, sizeof text, loadText(IDS_RETRY_QUESTION, format, sizeof format), int(total));
    if (showMessage(owner, text, "WARNING", MB_YESNO | MB_ICONINFORMATION) == IDNO)
        return RetryOffer::Declined;

    uint8_t *sector = allocateIoBuffer(owner, uint64_t(map.device.sectorSize));
    if (!sector)
        return RetryOffer::Done;
    FILE *file = std::fopen(appState.imagePath, "r+b");   /* patched in place, never emptied */
    if (!file) {
        releaseIoBuffer(sector);
        showMessage(owner, "Can't create output file. Check name and device.", "ERROR", MB_ICONERROR);
        return RetryOffer::Done;
    }
    std::snprintf(text, sizeof text, loadText(IDS_RETRY_DESCRIPTION, format, sizeof format), int(total),
                  map.device.sectorSize, appState.imagePath);
    if (!startTransfer(owner, text)) {
        releaseIoBuffer(sector);
        std::fclose(file);
        return RetryOffer::Done;
    }
    appState.abortRequested = 0;
    const DWORD ticks = GetTickCount();
    SourceReader reader;
    startSourceReader(reader, owner, sendCommand, appState.sourceAdapter, appState.sourceDevice,
                      map.device.sectorSize, true);
    SectorRuns stillUnreadable = retrySectors(owner, reader, map, file, sector);
    closeProgressBox();
    releaseIoBuffer(sector);

    const uint32_t recovered = total - sectorsIn(stillUnreadable);
    map.unreadable = stillUnreadable;
    bool mapWritten = writeRescueMap(mapPath, map) != 0;
    if (appState.archive.report) {
        std::fflush(file);
        writeRetryReport(file, map, mapWritten ? mapPath : nullptr, bufferBytes, ticks);
    }
    std::fclose(file);

    if (!mapWritten) {
        std::snprintf(text, sizeof text, loadText(IDS_MAP_WRITE_FAILED, format, sizeof format),
                      int(sectorsIn(stillUnreadable)), mapPath);
        showMessage(owner, text, "Error", MB_ICONERROR);
    } else {
        std::snprintf(text, sizeof text, loadText(IDS_RETRY_RESULT, format, sizeof format), int(recovered), int(total),
                      int(sectorsIn(stillUnreadable)), mapPath);
        showMessage(owner, text, sectorsIn(stillUnreadable) ? "WARNING" : "Kestrova",
                    sectorsIn(stillUnreadable) ? MB_ICONWARNING : MB_ICONINFORMATION);
    }
    return RetryOffer::Done;
}
