/*
 * File to disk: the image file onto the target device from sector 0, after the questions about
 * a file shorter or longer than the transfer. The file is read in order and never repositioned.
 * With verify on, the target is read back afterwards; with exact-length images an image that
 * ends inside a sector of the target fills its last sector up with zeros (archive.h).
 */
#include "transfers.h"
#include "app_state.h"
#include "archive.h"
#include "messages.h"
#include "chunk_rule.h"
#include "drive_state.h"
#include "progress_box.h"
#include "restore_guard.h"
#include "transfer_loop.h"
#include <cstdio>

namespace {
/* The two length questions, in their order; 0 when the user cancels. May lower transferSectors. */
int acceptFileLength(HWND owner, int32_t sectorSize)
{
    int64_t fileLength = imageFileSize(appState.imagePath);
    if (fileLength < int64_t(appState.transferSectors) * sectorSize) {
        if (showMessage(owner, "File is shorter than device. Write will be truncated to file size", "WARNING",
                        MB_OKCANCEL | MB_ICONINFORMATION) == IDCANCEL)
            return 0;
        appState.transferSectors = sectorsInImage(fileLength, sectorSize);
    }
    fileLength = imageFileSize(appState.imagePath);
    if (fileLength > int64_t(sectorSize) * appState.transferSectors) {
        if (showMessage(owner, "File is bigger than device.", "WARNING", MB_OKCANCEL | MB_ICONINFORMATION) ==
            IDCANCEL)
            return 0;
    }
    return 1;
}
}  // namespace

void copyFileToDisk(HWND owner)
{
    appState.abortRequested = 0;
    int32_t sectorsDone = 0;

    const int32_t sectorSize = targetDeviceRecord().sectorSize;
    const uint64_t bufferBytes = ioBufferBytesFor(appState.bufferBlocks);
    if (!acceptSectorSize(owner, sectorSize, bufferBytes))
        return;
    const SendASPI32CommandFn sendCommand = lookupCommandEntry(owner);
    if (!sendCommand)
        return;

    FILE *file = std::fopen(appState.imagePath, "rb");
    if (imageFileSize(appState.imagePath) == 0 || !file) {
        showMessage(owner, "Input file does not exist or null sized.", "ERROR", MB_ICONERROR);
        if (file)
            std::fclose(file);
        return;
    }
    /* Whole chunks are read straight into the I/O buffer. */
    std::setvbuf(file, nullptr, _IONBF, 0);
    uint8_t *ioBuffer = allocateIoBuffer(owner, bufferBytes);
    if (!ioBuffer) {
        std::fclose(file);
        return;
    }
    if (!acceptFileLength(owner, sectorSize) || !confirmRestore(owner, TransferMode::FileToDisk, sendCommand)) {
        releaseIoBuffer(ioBuffer);
        std::fclose(file);
        return;
    }

    const int32_t transferSectors = appState.transferSectors;
    std::snprintf(appState.scratchText, kScratchTextSize,
                  "Vorlanda is Writing: %5.1f Mbytes \n(%d sectors, %d bytes/sector)\nfrom  file %s\n",
                  sizeInMegabytes(transferSectors, sectorSize), transferSectors, sectorSize, appState.imagePath);
    if (!startTransfer(owner, appState.scratchText)) {
        releaseIoBuffer(ioBuffer);
        std::fclose(file);
        return;
    }

    ArchiveCopy copy;
    startArchiveCopy(copy, TransferMode::FileToDisk, owner, sendCommand, transferSectors, sectorSize, bufferBytes);
    const uint8_t adapter = appState.targetAdapter, target = appState.targetDevice;
    const int32_t perBuffer = sectorsPerBuffer(bufferBytes, sectorSize);
    CopyEnd end = CopyEnd::Completed;
    MSG message;
    expectFirstRequests(adapter, target, adapter, target);
    while (!appState.abortRequested && sectorsDone < transferSectors) {
        if (pumpOneMessage(message))
            continue;
        int32_t chunkSectors = nextChunkSectors(perBuffer, sectorsDone, transferSectors);
        uint32_t chunkBytes = uint32_t(chunkSectors) * uint32_t(sectorSize);
        const size_t got = std::fread(ioBuffer, 1, chunkBytes, file);
        if (got != chunkBytes && !fillLastSector(ioBuffer, got, chunkBytes, sectorSize)) {
            showMessage(owner, "Error while reading file. End of File?", "Error", MB_ICONERROR);
            end = CopyEnd::FileError;
            break;
        }
        requireCompleted(owner, executeTransfer(sendCommand, TransferDirection::Write, adapter, target,
                                                uint32_t(sectorsDone), uint32_t(chunkSectors), ioBuffer,
                                                chunkBytes));
        sectorsDone += chunkSectors;
        showPercent(transferPercent(sectorsDone, transferSectors));
    }
    endFirstRequests();

    if (end == CopyEnd::Completed && sectorsDone < transferSectors)
        end = CopyEnd::Aborted;

    closeProgressBox();
    releaseIoBuffer(ioBuffer);
    std::fclose(file);
    finishArchiveCopy(copy, sectorsDone, end);
}
