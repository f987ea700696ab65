/*
 * Disk to file: the first transferSectors sectors of the source device into the image file,
 * raw, then zero bytes up to a multiple of 2048 bytes (none with exact-length images). The
 * archiving options hook in at the chunk level (archive_copy.h).
 */
#include "transfers.h"
#include "app_state.h"
#include "archive_copy.h"
#include "messages.h"
#include "chunk_rule.h"
#include "drive_state.h"
#include "image_file.h"
#include "progress_box.h"
#include "retry_pass.h"
#include "transfer_loop.h"
#include <cinttypes>
#include <cstdio>

namespace {
/* The alignment's zero bytes, whatever the size of the I/O buffer. */
constexpr uint8_t kZeroBlock[kImageAlignment] = {};

int roomForImage(HWND owner, int64_t neededBytes)
{
    int64_t freeBytes = freeBytesForPath(appState.imagePath);
    if (freeBytes < 0 || freeBytes >= neededBytes)   /* no figure: the writes will tell */
        return 1;
    std::snprintf(appState.scratchText, kScratchTextSize,
                  "Not enough room on dest device (free: %" PRId64 " kB, needs: %" PRId64 " kB).",
                  freeBytes / 1024, neededBytes / 1024);
    showMessage(owner, appState.scratchText, "ERROR", MB_ICONERROR);
    return 0;
}

void writeAlignment(HWND owner, ImageSink &sink, int32_t transferSectors, int32_t sectorSize)
{
    size_t pad = size_t(alignmentPadBytes(transferSectors, sectorSize));
    if (writeToImage(sink, kZeroBlock, pad) != pad)
        showMessage(owner, "Error while writing alignement. Disk Full?", "Error", MB_ICONERROR);
}
}  // namespace

void copyDiskToFile(HWND owner)
{
    appState.abortRequested = 0;
    int32_t sectorsDone = 0;

    const int32_t transferSectors = appState.transferSectors;
    const int32_t sectorSize = sourceDeviceRecord().sectorSize;
    const uint64_t bufferBytes = ioBufferBytesFor(appState.bufferBlocks);
    if (!acceptSectorSize(owner, sectorSize, bufferBytes))
        return;
    const SendASPI32CommandFn sendCommand = lookupCommandEntry(owner);
    if (!sendCommand || !acceptCappedSource(owner, transferSectors))
        return;

    if (!makeAbsolutePath(appState.imagePath)) {
        showMessage(owner, "Impossible to build complete path name", "ERROR", MB_ICONERROR);
        return;
    }
    if (appState.archive.skipUnreadable && imageFileSize(appState.imagePath) != 0 &&
        offerRetryPass(owner, sendCommand, bufferBytes) == RetryOffer::Done)
        return;
    if (!roomForImage(owner, int64_t(transferSectors) * sectorSize))
        return;
    if (imageFileSize(appState.imagePath) != 0 &&
        showMessage(owner, "The file you've selected already exists. Overwrite?", "Warning!",
                    MB_YESNO | MB_ICONWARNING) == IDNO)
        return;

    /* The buffer comes first: a copy refused for want of memory must not have emptied the file. */
    uint8_t *ioBuffer = allocateIoBuffer(owner, bufferBytes);
    if (!ioBuffer)
        return;
    FILE *file = std::fopen(appState.imagePath, "wb");
    if (!file) {
        releaseIoBuffer(ioBuffer);
        showMessage(owner, "Can't create output file. Check name and device.", "ERROR", MB_ICONERROR);
        return;
    }
    /* Each chunk goes to the file in one system write: a full disk shows at the chunk that
       meets it, and the process exit after a SCSI failure leaves nothing unwritten. */
    std::setvbuf(file, nullptr, _IONBF, 0);

    std::snprintf(appState.scratchText, kScratchTextSize,
                  "Kestrova is Writing: %5.1f Mbytes \n(%d sectors, %d bytes/sector)\nto  file %s\n",
                  sizeInMegabytes(transferSectors, sectorSize), transferSectors, sectorSize,
                  appState.imagePath);
    if (!startTransfer(owner, appState.scratchText)) {
        releaseIoBuffer(ioBuffer);
        std::fclose(file);
        return;
    }

    ArchiveCopy copy;
    startArchiveCopy(copy, TransferMode::DiskToFile, owner, sendCommand, transferSectors, sectorSize, bufferBytes,
                     file);
    const int32_t perBuffer = sectorsPerBuffer(bufferBytes, sectorSize);
    CopyEnd end = CopyEnd::Completed;
    MSG message;
    expectFirstRequests(copy.source.adapter, copy.source.target, copy.source.adapter, copy.source.target);
    while (!appState.abortRequested && sectorsDone < transferSectors) {
        if (pumpOneMessage(message))
            continue;
        int32_t chunkSectors = nextChunkSectors(perBuffer, sectorsDone, transferSectors);
        chunkSectors = readSourceChunk(copy.reader, uint32_t(sectorsDone), chunkSectors, ioBuffer);
        uint32_t chunkBytes = uint32_t(chunkSectors) * uint32_t(sectorSize);
        showPercent(transferPercent(sectorsDone, transferSectors));
        if (writeToImage(copy.sink, ioBuffer, chunkBytes) != chunkBytes) {
            showMessage(owner, "Error while writing file. Disk Full?", "Error", MB_ICONERROR);
            end = CopyEnd::FileError;
            break;
        }
        sectorsDone += chunkSectors;
        noteSectorsDone(copy, sectorsDone);
    }
    endFirstRequests();
    if (end == CopyEnd::Completed && sectorsDone < transferSectors)
        end = CopyEnd::Aborted;

    noteEndOfData(copy.sink);
    if (!appState.archive.exactLength)
        writeAlignment(owner, copy.sink, transferSectors, sectorSize);
    closeProgressBox();
    releaseIoBuffer(ioBuffer);
    std::fclose(file);
    finishArchiveCopy(copy, sectorsDone, end);
}
