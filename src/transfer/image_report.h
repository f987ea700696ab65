/*
 * The report beside an image that Disk to file wrote: <image>.txt, plain text with CR LF line
 * ends so that Notepad shows it. It records what the image came from (adapter, target, LUN,
 * the INQUIRY texts, type, removable medium, geometry), what was copied (sectors, the data
 * length and the file length, the SHA-256 of the data part and of the whole file), how (buffer
 * size, duration, average speed) and what went wrong (unreadable sectors and their map, the
 * verify result), and then what the image holds (its format and volumes).
 */
#ifndef KESTROVA_IMAGE_REPORT_H
#define KESTROVA_IMAGE_REPORT_H

#include <cstddef>
#include <cstdint>
#include "device_identity.h"
#include "sha256.h"

struct ImageReport {
    const char *imagePath;
    const char *title;              /* what the report is about: the copy, or a retry of it */
    const char *outcome;            /* how the copy ended */
    DeviceIdentity device;
    int32_t transferSectors;
    int32_t sectorsCopied;
    int64_t dataLength;             /* bytes before the zero bytes */
    int64_t fileLength;
    char dataDigest[kSha256TextSize];
    char fileDigest[kSha256TextSize];
    uint64_t bufferBytes;
    uint32_t milliseconds;
    uint32_t unreadableSectors;
    const char *mapPath;            /* null when no map was written */
    const char *verifyText;         /* null when the verify pass did not run */
    const char *extraLines;         /* written at the end as they are, each ending in \n; null: none */
};

/* The report of an image: its path with ".txt" added. false when that does not fit size bytes. */
bool reportPathForImage(const char *imagePath, char *reportPath, size_t size);

/* Writes the report, replacing the file. 1, or 0 when it cannot be written. */
int writeImageReport(const char *path, const ImageReport &report);

#endif
