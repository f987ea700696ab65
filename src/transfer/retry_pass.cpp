/* Reading only the unreadable sectors of an image again. */
#include "retry_pass.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "app_state.h"
#include "archive_copy.h"
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

/* The map of the image, when it is one for a retry: this device's, a copy that ran to its end
   (a stopped one is copied again as a whole), unreadable sectors listed. */
bool retryMap(RescueMap &map, char *mapPath, size_t size, const DeviceIdentity &source)
{
    if (!mapPathForImage(appState.imagePath, mapPath, size) || !readRescueMap(mapPath, map))
        return false;
    return sameDevice(map.device, source) && map.triedSectors == map.sectors && !map.unreadable.empty();
}

uint64_t lastWriteTime(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return 0;
    return uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
}

/*
 * Whether the image is still the one its map describes, of the disk now in the drive. The map
 * is written after every write of its image, so an image written later (a copy without the
 * option, another program) has no map any more. The image must have the length such a copy
 * gives (sectors, with or without the zero bytes). And sectors the map says were read must be
 * in the image as the drive gives them now: another cartridge of the same kind in the same
 * drive looks the same in every other way.
 */
bool imageMatchesMap(const RescueMap &map, const char *mapPath, SourceReader &reader, uint8_t *sector,
                     uint8_t *stored)
{
    constexpr uint64_t kFileTimeSlack = 2 * 10000000ull;   /* FAT keeps write times to 2 seconds */
    const uint64_t imageTime = lastWriteTime(appState.imagePath), mapTime = lastWriteTime(mapPath);
    if (imageTime == 0 || mapTime == 0 || imageTime > mapTime + kFileTimeSlack)
        return false;
    const int32_t sectorSize = map.device.sectorSize;
    const int64_t data = int64_t(map.sectors) * sectorSize;
    const int64_t length = imageFileSize(appState.imagePath);
    if (length != data && length != data + alignmentPadBytes(map.sectors, sectorSize))
        return false;

    /* Sector 0 and the sectors on both sides of each unreadable run, as far as they were read. */
    std::vector<uint32_t> samples = {0};
    for (const SectorRun &run : map.unreadable) {
        if (run.first > 0)
            samples.push_back(run.first - 1);
        samples.push_back(run.first + run.count);
    }
    FILE *image = std::fopen(appState.imagePath, "rb");
    if (!image)
        return false;
    bool matches = true;
    for (uint32_t lba : samples) {
        if (lba >= uint32_t(map.sectors) || holdsSector(map.unreadable, lba))
            continue;
        if (executeTransfer(reader.sendCommand, TransferDirection::Read, reader.adapter, reader.target, lba, 1, sector,
                            uint32_t(sectorSize)) != SS_COMP)
            continue;   /* unreadable now: nothing to compare */
        if (_fseeki64(image, int64_t(lba) * sectorSize, SEEK_SET) != 0 ||
            std::fread(stored, 1, size_t(sectorSize), image) != size_t(sectorSize) ||
            std::memcmp(sector, stored, size_t(sectorSize)) != 0) {
            matches = false;
            break;
        }
    }
    std::fclose(image);
    return matches;
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
    saveImageReport(appState.mainForm, report);
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
    char mapPath[kMapPathSize];
    if (!retryMap(map, mapPath, sizeof mapPath, source))
        return RetryOffer::NotOffered;

    char format[kTextSize], text[kTextSize];
    uint8_t *sector = allocateIoBuffer(owner, 2 * uint64_t(map.device.sectorSize));
    if (!sector)
        return RetryOffer::Done;
    SourceReader reader;
    startSourceReader(reader, owner, sendCommand, appState.sourceAdapter, appState.sourceDevice,
                      map.device.sectorSize, true);
    if (!imageMatchesMap(map, mapPath, reader, sector, sector + map.device.sectorSize)) {
        releaseIoBuffer(sector);
        showMessage(owner, loadText(IDS_RETRY_MISMATCH, format, sizeof format), "WARNING", MB_ICONWARNING);
        return RetryOffer::NotOffered;
    }
    const uint32_t total = sectorsIn(map.unreadable);
    std::snprintf(text, sizeof text, loadText(IDS_RETRY_QUESTION, format, sizeof format), int(total));
    if (showMessage(owner, text, "WARNING", MB_YESNO | MB_ICONINFORMATION) == IDNO) {
        releaseIoBuffer(sector);
        return RetryOffer::Declined;
    }

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
    SectorRuns stillUnreadable = retrySectors(owner, reader, map, file, sector);
    closeProgressBox();
    releaseIoBuffer(sector);

    const uint32_t recovered = total - sectorsIn(stillUnreadable);
    map.unreadable = stillUnreadable;
    bool mapWritten = writeRescueMap(mapPath, map) != 0;
    /* A report beside the image describes it: it is written anew, also with the option off. */
    char reportPath[kMapPathSize];
    if (appState.archive.report ||
        (reportPathForImage(appState.imagePath, reportPath, sizeof reportPath) && imageFileSize(reportPath) > 0)) {
        std::fflush(file);
        writeRetryReport(file, map, mapWritten ? mapPath : nullptr, bufferBytes, ticks);
    }
    std::fclose(file);
    /* After the report: the map is newer than every write of the image. */
    if (mapWritten)
        mapWritten = writeRescueMap(mapPath, map) != 0;

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
