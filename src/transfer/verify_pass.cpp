/* Reading back what a copy wrote and comparing it with where it came from. */
#include "verify_pass.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "app_state.h"
#include "chunk_rule.h"
#include "messages.h"
#include "progress_box.h"
#include "rescue_read.h"
#include "resource_ids.h"
#include "scsi_status.h"
#include "transfer_loop.h"

namespace {

constexpr uint8_t kForceUnitAccess = 0x08;   /* READ(10) byte 1: from the medium, not the cache */
constexpr int kTextSize = 512;

/* The reading side of the pass: one device, with FUA until the device refuses it. */
struct BackReader {
    SendASPI32CommandFn sendCommand;
    DeviceAddress device;
    int32_t sectorSize;
    bool forceUnitAccess;
};

uint8_t sendRead(BackReader &reader, uint32_t lba, uint32_t count, uint8_t *buffer, bool forceUnitAccess,
                 RequestOutcome &outcome)
{
    SRB_ExecSCSICmd request;
    buildTransferRequest(request, TransferDirection::Read, reader.device.adapter, reader.device.target, lba,
                         uint16_t(count), buffer, count * uint32_t(reader.sectorSize));
    if (forceUnitAccess)
        request.CDBByte[1] |= kForceUnitAccess;
    uint8_t status = sendAndWait(reader.sendCommand, &request);
    outcome = RequestOutcome{status, request.SRB_HaStat, request.SRB_TargStat, 0, 0, 0};
    if (status == SS_ERR)
        readSenseData(request.SenseArea, kSenseLength, outcome);
    return status;
}

uint8_t readFromMedium(BackReader &reader, uint32_t lba, uint32_t count, uint8_t *buffer, RequestOutcome &outcome)
{
    uint8_t status = sendRead(reader, lba, count, buffer, reader.forceUnitAccess, outcome);
    /* A drive older than the FUA bit refuses the CDB (ILLEGAL REQUEST; a SCSI-1 drive may give
       no sense key at all): when the same read without it works, the pass reads without it. */
    if (reader.forceUnitAccess && status == SS_ERR &&
        (outcome.senseKey == kSenseIllegalRequest || outcome.senseKey == 0)) {
        status = sendRead(reader, lba, count, buffer, false, outcome);
        if (status == SS_COMP)
            reader.forceUnitAccess = false;
    }
    return status;
}

/* How a read for the comparison ended. */
enum class ReadEnd { Read, Stopped, Failed };

/*
 * Reads count sectors at lba into buffer; readable[i] says whether sector i arrived. Sectors
 * listed in skip are not asked for. Stopped: ABORT came in between. Failed: a failure that is
 * not the medium's, whose status and sector go into result.
 */
ReadEnd readForComparison(BackReader &reader, uint32_t lba, int32_t count, uint8_t *buffer, std::vector<char> &readable,
                          const SectorRuns *skip, VerifyResult &result)
{
    RequestOutcome outcome;
    std::fill(readable.begin(), readable.begin() + count, 1);
    bool anySkipped = skip && sectorsWithin(*skip, lba, uint32_t(count)) > 0;
    if (!anySkipped) {
        uint8_t status = readFromMedium(reader, lba, uint32_t(count), buffer, outcome);
        if (status == SS_COMP)
            return ReadEnd::Read;
        if (classifyReadFailure(outcome) == ReadFailure::Fatal) {
            result.failedSector = int32_t(lba);
            result.failedStatus = status;
            return ReadEnd::Failed;
        }
    }
    /* Sector by sector: around the sectors the copy could not read, or to find the bad ones. */
    for (int32_t i = 0; i < count; i++) {
        uint32_t sector = lba + uint32_t(i);
        if (skip && holdsSector(*skip, sector)) {
            readable[size_t(i)] = 0;
            continue;
        }
        if (abortBetweenRequests())
            return ReadEnd::Stopped;
        uint8_t status = readFromMedium(reader, sector, 1, buffer + size_t(i) * uint32_t(reader.sectorSize), outcome);
        if (status == SS_COMP)
            continue;
        ReadFailure failure = classifyReadFailure(outcome);
        if (failure == ReadFailure::Fatal) {
            result.failedSector = int32_t(sector);
            result.failedStatus = status;
            return ReadEnd::Failed;
        }
        readable[size_t(i)] = failure == ReadFailure::Recovered ? 1 : 0;
    }
    return ReadEnd::Read;
}

void compareChunk(VerifyResult &result, const VerifyJob &job, uint32_t lba, int32_t count, const uint8_t *back,
                  const uint8_t *reference, const std::vector<char> &backReadable, const std::vector<char> &referenceReadable)
{
    const size_t sectorSize = size_t(job.sectorSize);
    for (int32_t i = 0; i < count; i++) {
        uint32_t sector = lba + uint32_t(i);
        if (job.unreadable && holdsSector(*job.unreadable, sector)) {
            result.notCompared++;
            continue;
        }
        result.checked++;
        size_t offset = size_t(i) * sectorSize;
        if (backReadable[size_t(i)] && referenceReadable[size_t(i)] &&
            std::memcmp(back + offset, reference + offset, sectorSize) == 0)
            continue;
        if (result.differing++ == 0)
            result.firstDiffering = int32_t(sector);
    }
}

/* Formats onto the end of text (size bytes in all), cutting what does not fit. */
void appendText(char *text, size_t size, const char *format, ...)
{
    size_t used = std::strlen(text);
    if (used + 1 >= size)
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text + used, size - used, format, arguments);
    va_end(arguments);
}

}  // namespace

VerifyResult runVerifyPass(const VerifyJob &job)
{
    VerifyResult result = {VerifyEnd::Completed, 0, 0, -1, 0, -1, 0};
    const int32_t perBuffer = sectorsPerBuffer(job.bufferBytes, job.sectorSize);
    uint8_t *back = static_cast<uint8_t *>(std::malloc(size_t(job.bufferBytes)));
    uint8_t *reference = static_cast<uint8_t *>(std::malloc(size_t(job.bufferBytes)));
    FILE *file = job.imagePath ? std::fopen(job.imagePath, "rb") : nullptr;
    if (!back || !reference || perBuffer <= 0) {
        result.end = VerifyEnd::NoMemory;
    } else if (job.imagePath && !file) {
        result.end = VerifyEnd::FileFailed;
    } else {
        if (file)
            std::setvbuf(file, nullptr, _IONBF, 0);
        BackReader backReader = {job.sendCommand, job.readBack, job.sectorSize, true};
        BackReader sourceReader = {job.sendCommand, job.source, job.sectorSize, true};
        if (job.flushFirst)
            synchronizeCache(job.sendCommand, job.readBack.adapter, job.readBack.target);

        char format[kTextSize], description[kTextSize];
        loadText(IDS_VERIFY_DESCRIPTION, format, sizeof format);
        std::snprintf(description, sizeof description, format, sizeInMegabytes(job.sectors, job.sectorSize),
                      job.sectors, job.sectorSize);
        appState.abortRequested = 0;
        if (!openProgressBox(description))
            result.end = VerifyEnd::NoMemory;

        std::vector<char> backReadable(static_cast<size_t>(perBuffer));
        std::vector<char> referenceReadable(static_cast<size_t>(perBuffer), 1);
        int32_t sectorsDone = 0;
        MSG message;
        while (result.end == VerifyEnd::Completed && !appState.abortRequested && sectorsDone < job.sectors) {
            if (pumpOneMessage(message))
                continue;
            int32_t chunkSectors = nextChunkSectors(perBuffer, sectorsDone, job.sectors);
            size_t chunkBytes = size_t(chunkSectors) * size_t(job.sectorSize);
            uint32_t lba = uint32_t(sectorsDone);
            ReadEnd read = ReadEnd::Read;
            if (file) {
                std::fill(referenceReadable.begin(), referenceReadable.end(), 1);
                if (std::fread(reference, 1, chunkBytes, file) != chunkBytes) {
                    result.end = VerifyEnd::FileFailed;
                    break;
                }
            } else {
                read = readForComparison(sourceReader, lba, chunkSectors, reference, referenceReadable, job.unreadable,
                                         result);
            }
            if (read == ReadEnd::Read)
                read = readForComparison(backReader, lba, chunkSectors, back, backReadable, job.unreadable, result);
            if (read != ReadEnd::Read) {
                result.end = read == ReadEnd::Stopped ? VerifyEnd::Aborted : VerifyEnd::ReadFailed;
                break;
            }
            compareChunk(result, job, lba, chunkSectors, back, reference, backReadable, referenceReadable);
            showPercent(transferPercent(sectorsDone, job.sectors));
            sectorsDone += chunkSectors;
        }
        if (result.end == VerifyEnd::Completed && sectorsDone < job.sectors)
            result.end = VerifyEnd::Aborted;
        closeProgressBox();
    }
    if (file)
        std::fclose(file);
    std::free(back);
    std::free(reference);
    return result;
}

void formatVerifyResult(const VerifyResult &result, int32_t sectors, char *text, size_t size)
{
    char format[kTextSize];
    text[0] = '\0';
    switch (result.end) {
    case VerifyEnd::Completed:
        if (result.differing == 0)
            appendText(text, size, loadText(IDS_VERIFY_MATCH, format, sizeof format), result.checked);
        break;
    case VerifyEnd::Aborted:
        appendText(text, size, loadText(IDS_VERIFY_ABORTED, format, sizeof format),
                   result.checked + result.notCompared, sectors);
        break;
    case VerifyEnd::ReadFailed:
        appendText(text, size, loadText(IDS_VERIFY_READ_FAILED, format, sizeof format), result.failedSector,
                   result.failedStatus);
        break;
    case VerifyEnd::FileFailed:
        appendText(text, size, "%s", loadText(IDS_VERIFY_FILE_FAILED, format, sizeof format));
        break;
    case VerifyEnd::NoMemory:
        appendText(text, size, "%s", loadText(IDS_VERIFY_NOT_STARTED, format, sizeof format));
        break;
    }
    /* What was found different, also when the pass ended early. */
    if (result.differing > 0)
        appendText(text, size, text[0] ? "\n" : "");
    if (result.differing > 0)
        appendText(text, size, loadText(IDS_VERIFY_DIFFER, format, sizeof format), result.differing, result.checked,
                   result.firstDiffering);
    if (result.notCompared > 0) {
        appendText(text, size, "\n");
        appendText(text, size, loadText(IDS_VERIFY_NOT_COMPARED, format, sizeof format), result.notCompared);
    }
}

void showVerifyResult(HWND owner, const VerifyResult &result, int32_t sectors)
{
    char text[kTextSize];
    formatVerifyResult(result, sectors, text, sizeof text);
    bool allMatched = result.end == VerifyEnd::Completed && result.differing == 0;
    showMessage(owner, text, allMatched ? "Kestrova" : "WARNING",
                allMatched ? MB_ICONINFORMATION : MB_ICONWARNING);
}
