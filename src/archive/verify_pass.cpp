/*
 * The verify pass after a copy that ran to its end: what was written is read back and compared
 * with where it came from, chunk by chunk under the progress box (its text says it is
 * verifying; ABORT stops it).
 *
 *   Disk to file  the source device read again, against the image file;
 *   File to disk  the target device, against the image file;
 *   Disk to disk  the target device, against the source device read again.
 *
 * A device that was written gets SYNCHRONIZE CACHE first (one that refuses it is read back all
 * the same), and reads go to the medium (READ(10) with FUA), not the drive's cache; the image
 * file is read past the system's file cache too, from the disk that holds it. Sectors the copy
 * did not read are left out and counted. A sector that cannot be read back counts as
 * differing; a failure that is not the medium's stops the pass with its status.
 */
#include "archive.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "chunk_rule.h"
#include "messages.h"
#include "progress_box.h"
#include "resource_ids.h"
#include "scsi_status.h"
#include "transfer_loop.h"

namespace {

constexpr uint8_t kForceUnitAccess = 0x08;   /* READ(10) byte 1: from the medium, not the cache */
constexpr int kTextSize = 512;
/* Reads of a file opened without the system's cache must start at, and be whole multiples of,
   the volume's sector size, into a buffer aligned to it (CreateFile, FILE_FLAG_NO_BUFFERING
   in Microsoft's documentation). A page covers every sector size in use. */
constexpr size_t kUncachedAlignment = 4096;

/* The image file, read in order from its start past the system's cache. */
struct UncachedFile {
    HANDLE handle;
    uint8_t *stage;          /* aligned reads land here */
    size_t stageSize;
    int64_t stageStart;
    size_t stageFill;
    int64_t next;            /* the next byte the pass asks for */
};

bool openUncached(UncachedFile &file, const char *path, uint64_t chunkBytes)
{
    file.handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file.handle == INVALID_HANDLE_VALUE)   /* a file system without uncached reads: through the cache */
        file.handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    file.stageSize = size_t((chunkBytes + 2 * kUncachedAlignment - 1) / kUncachedAlignment * kUncachedAlignment);
    file.stage = static_cast<uint8_t *>(VirtualAlloc(nullptr, file.stageSize, MEM_COMMIT, PAGE_READWRITE));
    file.stageStart = 0;
    file.stageFill = 0;
    file.next = 0;
    return file.handle != INVALID_HANDLE_VALUE && file.stage;
}

void closeUncached(UncachedFile &file)
{
    if (file.handle != INVALID_HANDLE_VALUE)
        CloseHandle(file.handle);
    if (file.stage)
        VirtualFree(file.stage, 0, MEM_RELEASE);
}

/* The next length bytes of the file; false when the file ends before them or cannot be read. */
bool readUncached(UncachedFile &file, uint8_t *out, size_t length)
{
    while (length > 0) {
        if (file.next >= file.stageStart && file.next < file.stageStart + int64_t(file.stageFill)) {
            size_t offset = size_t(file.next - file.stageStart);
            size_t take = file.stageFill - offset < length ? file.stageFill - offset : length;
            std::memcpy(out, file.stage + offset, take);
            out += take;
            length -= take;
            file.next += int64_t(take);
            continue;
        }
        const int64_t at = file.next / int64_t(kUncachedAlignment) * int64_t(kUncachedAlignment);
        LONG high = LONG(at >> 32);
        DWORD got = 0;
        if ((SetFilePointer(file.handle, LONG(uint32_t(at)), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
             GetLastError() != NO_ERROR) ||
            !ReadFile(file.handle, file.stage, DWORD(file.stageSize), &got, nullptr) || got == 0)
            return false;
        file.stageStart = at;
        file.stageFill = got;
        if (file.next >= file.stageStart + int64_t(file.stageFill))
            return false;
    }
    return true;
}

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
    if (reader.forceUnitAccess && forceUnitAccessRefused(outcome)) {
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
                          const RescueMap *skip, VerifyResult &result)
{
    RequestOutcome outcome;
    std::fill(readable.begin(), readable.begin() + count, 1);
    bool anySkipped = skip && sectorsNotRead(*skip, lba, uint32_t(count)) > 0;
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
        if (skip && statusAt(*skip, sector) != kFinished) {
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
        if (job.map && statusAt(*job.map, sector) != kFinished) {
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

bool forceUnitAccessRefused(const RequestOutcome &outcome)
{
    /* A drive older than the FUA bit refuses the CDB (ILLEGAL REQUEST; a SCSI-1 drive may give
       no sense key at all). Only the target's own CHECK CONDITION says so: a host adapter error
       (selection timeout, bus reset) has no sense key either, and says nothing about the bit. */
    return outcome.status == SS_ERR && outcome.targetStatus == kScsiCheckCondition &&
           outcome.hostStatus == HASTAT_OK &&
           (outcome.senseKey == kSenseIllegalRequest || outcome.senseKey == 0);
}

VerifyResult runVerifyPass(const VerifyJob &job)
{
    VerifyResult result = {VerifyEnd::Completed, 0, 0, -1, 0, -1, 0};
    const int32_t perBuffer = sectorsPerBuffer(job.bufferBytes, job.sectorSize);
    uint8_t *back = static_cast<uint8_t *>(std::malloc(size_t(job.bufferBytes)));
    uint8_t *reference = static_cast<uint8_t *>(std::malloc(size_t(job.bufferBytes)));
    UncachedFile file = {INVALID_HANDLE_VALUE, nullptr, 0, 0, 0, 0};
    const bool fileOpen = job.imagePath && openUncached(file, job.imagePath, job.bufferBytes);
    if (!back || !reference || perBuffer <= 0) {
        result.end = VerifyEnd::NoMemory;
    } else if (job.imagePath && !fileOpen) {
        result.end = VerifyEnd::FileFailed;
    } else {
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
            if (job.imagePath) {
                std::fill(referenceReadable.begin(), referenceReadable.end(), 1);
                if (!readUncached(file, reference, chunkBytes)) {
                    result.end = VerifyEnd::FileFailed;
                    break;
                }
            } else {
                read = readForComparison(sourceReader, lba, chunkSectors, reference, referenceReadable, job.map,
                                         result);
            }
            if (read == ReadEnd::Read)
                read = readForComparison(backReader, lba, chunkSectors, back, backReadable, job.map, result);
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
    closeUncached(file);
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
