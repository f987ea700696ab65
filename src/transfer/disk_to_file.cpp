/*
 * Disk to file: the first transferSectors sectors of the source device into the image file,
 * raw, then zero bytes up to a multiple of 2048 bytes (none with exact-length images). The
 * archiving options come in at the seams of archive.h: going on from a map, the rescue in place
 * of the chunk loop, and what follows the copy.
 */
#include "transfers.h"
#include "app_state.h"
#include "archive.h"
#include "messages.h"
#include "chunk_rule.h"
#include "drive_state.h"
#include "image_file.h"
#include "progress_box.h"
#include "transfer_loop.h"
#include <cinttypes>
#include <cstdio>

namespace {
/* When the box cannot open after an existing image was emptied, nothing was transferred, but
   the file was changed. */
constexpr char kBoxFailedAfterEmptying[] =
    "Can't open the progress window. The image file was emptied; nothing was copied into it.";
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

/* false when the zero bytes could not all be written. */
bool writeAlignment(HWND owner, ArchiveCopy &copy, int32_t transferSectors, int32_t sectorSize)
{
    size_t pad = size_t(alignmentPadBytes(transferSectors, sectorSize));
    if (writeImageChunk(copy, kZeroBlock, pad) == pad)
        return true;
    showMessage(owner, "Error while writing alignement. Disk Full?", "Error", MB_ICONERROR);
    return false;
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
    if (imageFileSize(appState.imagePath) != 0 && offerToGoOn(owner, sendCommand, bufferBytes) == GoOnOffer::Done)
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
    ArchiveCopy copy;
    const bool existed = imageFileSize(appState.imagePath) != 0;
    if (!startArchiveCopy(copy, TransferMode::DiskToFile, owner, sendCommand, transferSectors, sectorSize,
                          bufferBytes)) {
        releaseIoBuffer(ioBuffer);
        return;
    }
    FILE *file = std::fopen(appState.imagePath, "wb");
    if (!file) {
        releaseIoBuffer(ioBuffer);
        showMessage(owner, "Can't create output file. Check name and device.", "ERROR", MB_ICONERROR);
        return;
    }
    /* Each chunk goes to the file in one system write: a full disk shows at the chunk that
       meets it, and the process exit after a SCSI failure leaves nothing unwritten. */
    std::setvbuf(file, nullptr, _IONBF, 0);
    attachImage(copy, file);

    std::snprintf(appState.scratchText, kScratchTextSize,
                  "Kestrova is Writing: %5.1f Mbytes \n(%d sectors, %d bytes/sector)\nto  file %s\n",
                  sizeInMegabytes(transferSectors, sectorSize), transferSectors, sectorSize,
                  appState.imagePath);
    if (!startTransfer(owner, appState.scratchText, existed ? kBoxFailedAfterEmptying : nullptr)) {
        releaseIoBuffer(ioBuffer);
        std::fclose(file);
        return;
    }

    CopyEnd end = CopyEnd::Completed;
    expectFirstRequests(appState.sourceAdapter, appState.sourceDevice, appState.sourceAdapter,
                        appState.sourceDevice);
    if (copy.rescue) {
        end = rescueCopy(copy, ioBuffer, sectorsDone);
    } else {
        const uint8_t adapter = appState.sourceAdapter, target = appState.sourceDevice;
        const int32_t perBuffer = sectorsPerBuffer(bufferBytes, sectorSize);
        MSG message;
        while (!appState.abortRequested && sectorsDone < transferSectors) {
            if (pumpOneMessage(message))
                continue;
            const int32_t chunkSectors = nextChunkSectors(perBuffer, sectorsDone, transferSectors);
            const uint32_t chunkBytes = uint32_t(chunkSectors) * uint32_t(sectorSize);
            requireCompleted(owner, executeTransfer(sendCommand, TransferDirection::Read, adapter, target,
                                                    uint32_t(sectorsDone), uint32_t(chunkSectors), ioBuffer,
                                                    chunkBytes));
            showPercent(transferPercent(sectorsDone, transferSectors));
            if (writeImageChunk(copy, ioBuffer, chunkBytes) != chunkBytes) {
                showMessage(owner, "Error while writing file. Disk Full?", "Error", MB_ICONERROR);
                end = CopyEnd::FileError;
                break;
            }
            sectorsDone += chunkSectors;
        }
        if (end == CopyEnd::Completed && sectorsDone < transferSectors)
            end = CopyEnd::Aborted;
    }
    endFirstRequests();

    endImageData(copy);
    if (copy.padded && !writeAlignment(owner, copy, transferSectors, sectorSize) && end == CopyEnd::Completed)
        end = CopyEnd::FileError;
    closeProgressBox();
    releaseIoBuffer(ioBuffer);
    if (std::fclose(file) != 0 && end == CopyEnd::Completed)
        end = CopyEnd::FileError;
    finishArchiveCopy(copy, sectorsDone, end);
}
