/*
 * Disk to disk: the first transferSectors sectors of the source onto the target, block for
 * block. The archiving options hook in at the chunk level (archive_copy.h).
 */
#include "transfers.h"
#include "app_state.h"
#include "archive_copy.h"
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

/*
 * The chunk onto the target. When source and target are one device, the sectors it could not
 * read are not written back as zeros: such a copy changes nothing, and a failing sector must be
 * left for a later try. Every other chunk is one WRITE(10).
 */
void writeChunk(HWND owner, SendASPI32CommandFn sendCommand, const SourceReader &reader, uint8_t adapter,
                uint8_t target, uint32_t lba, int32_t count, uint8_t *buffer)
{
    const uint32_t sectorSize = uint32_t(reader.sectorSize);
    const bool sameDevice = adapter == reader.adapter && target == reader.target;
    if (!sameDevice || sectorsWithin(reader.unreadable, lba, uint32_t(count)) == 0) {
        requireCompleted(owner, executeTransfer(sendCommand, TransferDirection::Write, adapter, target, lba,
                                                uint32_t(count), buffer, uint32_t(count) * sectorSize));
        return;
    }
    for (uint32_t first = lba, end = lba + uint32_t(count); first < end;) {
        if (holdsSector(reader.unreadable, first)) {
            first++;
            continue;
        }
        uint32_t last = first;
        while (last + 1 < end && !holdsSector(reader.unreadable, last + 1))
            last++;
        requireCompleted(owner, executeTransfer(sendCommand, TransferDirection::Write, adapter, target, first,
                                                last - first + 1, buffer + size_t(first - lba) * sectorSize,
                                                (last - first + 1) * sectorSize));
        first = last + 1;
    }
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
    startArchiveCopy(copy, TransferMode::DiskToDisk, owner, sendCommand, transferSectors, sectorSize, bufferBytes,
                     nullptr);
    const int32_t perBuffer = sectorsPerBuffer(bufferBytes, sectorSize);
    MSG message;
    expectFirstRequests(sourceAdapter, sourceTarget, targetAdapter, targetTarget);
    while (!appState.abortRequested && sectorsDone < transferSectors) {
        if (pumpOneMessage(message))
            continue;
        int32_t chunkSectors = nextChunkSectors(perBuffer, sectorsDone, transferSectors);
        chunkSectors = readSourceChunk(copy.reader, uint32_t(sectorsDone), chunkSectors, ioBuffer);
        if (chunkSectors > 0)
            writeChunk(owner, sendCommand, copy.reader, targetAdapter, targetTarget, uint32_t(sectorsDone),
                       chunkSectors, ioBuffer);
        showPercent(transferPercent(sectorsDone, transferSectors));
        sectorsDone += chunkSectors;
        noteSectorsDone(copy, sectorsDone);
    }
    endFirstRequests();

    closeProgressBox();
    releaseIoBuffer(ioBuffer);
    finishArchiveCopy(copy, sectorsDone, sectorsDone < transferSectors ? CopyEnd::Aborted : CopyEnd::Completed);
}
