/*
 * What the archiving options add to a copy, at the chunk level and at its end, so that each
 * direction keeps its own list of steps:
 *   - the source is read through a SourceReader (rescue_read.h), which with "skip unreadable
 *     sectors" fills what the medium cannot give with zeros and lists it;
 *   - Disk to file writes through an ImageSink (image_sink.h), which hashes for the report;
 *   - after the copy: the map of unreadable sectors, the verify pass, the report, and the boxes
 *     that tell the user about them.
 * With every option off none of this shows: the reads are the plain READ(10) chunks, nothing
 * is hashed, written or asked.
 *
 * Where the map goes: beside the image for Disk to file (<image>.map, replaced by each copy).
 * Disk to disk has no image: its map is written only when a sector was unreadable, into the
 * folder of the image path field, named after the two devices and the time the copy started
 * ("disk-to-disk 0.2 to 1.5 20261209-153000.map"), so that no copy replaces another's list.
 */
#ifndef KESTROVA_ARCHIVE_COPY_H
#define KESTROVA_ARCHIVE_COPY_H

#include <windows.h>
#include <cstdint>
#include "app_state.h"
#include "image_sink.h"
#include "image_report.h"
#include "rescue_map.h"
#include "rescue_read.h"
#include "verify_pass.h"

struct ArchiveCopy {
    TransferMode mode;
    HWND owner;
    SendASPI32CommandFn sendCommand;
    int32_t transferSectors;
    int32_t sectorSize;
    uint64_t bufferBytes;
    DeviceAddress source;
    DeviceAddress target;
    SourceReader reader;         /* Disk to file, Disk to disk */
    ImageSink sink;              /* Disk to file */
    RescueMap map;
    char mapPath[kMapPathSize];   /* empty: no map for this copy */
    bool mapWriteFailed;
    DWORD startTicks;
};

/* Before the first chunk; file is the image being written (Disk to file) or null. */
void startArchiveCopy(ArchiveCopy &copy, TransferMode mode, HWND owner, SendASPI32CommandFn sendCommand,
                      int32_t transferSectors, int32_t sectorSize, uint64_t bufferBytes, FILE *file);

/* After each chunk: the map on disk follows a copy that meets unreadable sectors. */
void noteSectorsDone(ArchiveCopy &copy, int32_t sectorsDone);

enum class CopyEnd { Completed, Aborted, FileError };

/* After the copy, its box closed and its file closed: the map, the verify pass when the copy ran
   to its end, the report (Disk to file), then the boxes that say what they found. */
void finishArchiveCopy(ArchiveCopy &copy, int32_t sectorsDone, CopyEnd end);

/* Writes the report beside report.imagePath, replacing it, with what the image holds (its first
   report.dataLength bytes) at the end; a failure is shown to owner. */
void saveImageReport(HWND owner, const ImageReport &report);

#endif
