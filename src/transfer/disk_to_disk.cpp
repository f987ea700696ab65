/*
 * Disk to disk: the first transferSectors sectors of the source onto the target, block for
 * block. With unreadable sectors skipped the source is rescued instead (archive.h), and what it
 * cannot give is left on the target as it was.
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
/* Each write carries the source's bytes under the same block count: the sizes must agree. */
int acceptSectorSizePair(HWND owner, int32_t sourceSize, int32_t targetSize)
{
    if (sourceSize == targetSize)
        return 1;
    std::snprintf(appState.scratchText, kScratchTextSize,
                  "Source and target have different sector sizes (%d and %d bytes/sector): "
                  "a block for block copy would corrupt the target. Nothing was transferred.",
                  sourceSize, targetSize);
    showMessage(owner, appState.scratchText, "ERROR", MB_ICONERROR);
    return 0;
}

}  // namespace

void copyDiskToDisk(HWND owner)
{
    appState.abortRequested = 0;
    int32_t sectorsDone = 0;

    const int32_t transferSectors = appState.transferSectors;
    const int32_t sectorSize = sourceDeviceRecord().sectorSize;
    const uint64_t bufferBytes = ioBufferBytesFor(appState.bufferBlocks);
    if (!acceptSectorSize(owner, sectorSize, bufferBytes) ||
        !acceptSectorSizePair(owner, sectorSize, targetDeviceRecord().sectorSize))
        return;
    const SendASPI32CommandFn sendCommand = lookupCommandEntry(owner);
    if (!sendCommand || !acceptCappedSource(owner, transferSectors))
        return;

    if (!confirmRestore(owner, TransferMode::DiskToDisk, sendCommand))
        return;
    uint8_t *ioBuffer = allocateIoBuffer(owner, bufferBytes);
    if (!ioBuffer)
        return;

    const uint8_t sourceAdapter = appState.sourceAdapter, sourceTarget = appState.sourceDevice;
    const uint8_t targetAdapter = appState.targetAdapter, targetTarget = appState.targetDevice;
    std::snprintf(appState.scratchText, kScratchTextSize,
                  "Kestrova is copying: %5.1f Mbytes \n(%d sectors, %d bytes/sector)\nfrom %d:%d to %d:%d\n",
                  sizeInMegabytes(transferSectors, sectorSize), transferSectors, sectorSize, sourceAdapter,
                  sourceTarget, targetAdapter, targetTarget);
    if (!startTransfer(owner, appState.scratchText)) {
        releaseIoBuffer(ioBuffer);
        return;
    }

    ArchiveCopy copy;
    startArchiveCopy(copy, TransferMode::DiskToDisk, owner, sendCommand, transferSectors, sectorSize, bufferBytes);
    expectFirstRequests(sourceAdapter, sourceTarget, targetAdapter, targetTarget);
    if (copy.rescue) {
        CopyEnd end = rescueCopy(copy, ioBuffer, sectorsDone);
        endFirstRequests();
        closeProgressBox();
        releaseIoBuffer(ioBuffer);
        finishArchiveCopy(copy, sectorsDone, end);
        return;
    }
    const int32_t perBuffer = sectorsPerBuffer(bufferBytes, sectorSize);
    MSG message;
    while (!appState.abortRequested && sectorsDone < transferSectors) {
        if (pumpOneMessage(message))
            continue;
        const int32_t chunkSectors = nextChunkSectors(perBuffer, sectorsDone, transferSectors);
        const uint32_t chunkBytes = uint32_t(chunkSectors) * uint32_t(sectorSize);
        requireCompleted(owner, executeTransfer(sendCommand, TransferDirection::Read, sourceAdapter, sourceTarget,
                                                uint32_t(sectorsDone), uint32_t(chunkSectors), ioBuffer, chunkBytes));
        requireCompleted(owner, executeTransfer(sendCommand, TransferDirection::Write, targetAdapter, targetTarget,
                                                uint32_t(sectorsDone), uint32_t(chunkSectors), ioBuffer, chunkBytes));
        showPercent(transferPercent(sectorsDone, transferSectors));
        sectorsDone += chunkSectors;
    }
    endFirstRequests();

    closeProgressBox();
    releaseIoBuffer(ioBuffer);
    finishArchiveCopy(copy, sectorsDone, sectorsDone < transferSectors ? CopyEnd::Aborted : CopyEnd::Completed);
}
