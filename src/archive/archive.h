/*
 * The archiving options: rescuing a failing disk into an image (or onto another disk) with a
 * ddrescue map, going on from that map later, the verify pass, the report and exact-length
 * images. With every option off none of this runs: the directions copy as they always did.
 *
 * The directions reach all of it through the operations under archive_copy.cpp; the rest is
 * listed per file, as the units use one another. The map (rescue_map.h) and SHA-256 (sha256.h)
 * know nothing of the devices and have headers of their own.
 *
 * The rescue follows GNU ddrescue's phases (its manual, "Algorithm"): copy what reads in large
 * reads, skipping past failures; trim the edges of the failed areas; scrape what is left
 * sector by sector; retry bad sectors last, and only when a later run goes on from a map. Each
 * sector is tried at most twice in a rescue: once in a large read, once alone.
 */
#ifndef KESTROVA_ARCHIVE_H
#define KESTROVA_ARCHIVE_H

#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "app_state.h"
#include "aspi.h"
#include "device_identity.h"
#include "rescue_map.h"
#include "sha256.h"

struct DeviceAddress {
    uint8_t adapter;
    uint8_t target;
};

/* device_identity.cpp */
/* The device at adapter and target in the device table (what the last scan saw). */
DeviceIdentity identifyDevice(int adapter, int target);
/* The device as it answers now: INQUIRY and READ CAPACITY, the latter sent again after a reset
   or changed parameters. false when either fails, identity untouched, with the failing
   request's outcome (UNIT ATTENTION 28h: the medium was changed, and the drive will not say so
   again). */
bool identifyDeviceNow(SendASPI32CommandFn sendCommand, DeviceAddress device, DeviceIdentity &identity,
                       RequestOutcome &failure);

/* drive_ready.cpp: the sense a drive gives while it cannot answer yet, and the wait for it. */
bool becomingReady(const RequestOutcome &outcome);   /* NOT READY, 04h/01h */
bool mediumChanged(const RequestOutcome &outcome);   /* UNIT ATTENTION, 28h */
/* One READ(10); while the drive says it is becoming ready, waits and asks again, for up to
   about half a minute. The final status; outcome holds the rest of the reply. */
uint8_t readWhenReady(SendASPI32CommandFn sendCommand, DeviceAddress device, uint32_t lba, uint32_t count,
                      int32_t sectorSize, uint8_t *buffer, RequestOutcome &outcome);

/* read_failure.cpp: what a failed read means for the sectors it asked for. */
enum class ReadFailure {
    Fatal,          /* not the medium: the copy cannot go on (the program ends, as without rescue) */
    Unreadable,     /* the medium could not give the data (MEDIUM ERROR, most HARDWARE ERRORs) */
    Recovered,      /* the drive recovered the data (RECOVERED ERROR): good for a single sector */
    Aborted,        /* ABORTED COMMAND, or a reset reported: worth asking once more */
    DriveFailed,    /* HARDWARE ERROR of positioning (15h) or an internal failure (44h): the drive
                       itself, not a sector; reading on through it would wear it out */
};
ReadFailure classifyReadFailure(const RequestOutcome &outcome);
/* "MEDIUM ERROR, ASC 11h, ASCQ 00h": how the report names a sense. */
void describeSense(uint8_t key, uint8_t asc, uint8_t ascq, char *text, size_t size);

/* image_sink.cpp: the image file as a copy writes it, hashed on the way for the report. */
struct ImageSink {
    FILE *file;
    bool hashing;
    bool inOrder;                          /* every byte came in order: the running hash holds */
    Sha256 hash;
    int64_t written;                       /* the end of the bytes written in order */
    int64_t end;                           /* the end of the file as written */
    int64_t position;                      /* where the stream stands */
    int64_t dataLength;                    /* bytes before the zero bytes, once noted */
    char dataDigest[kSha256TextSize];
    char fileDigest[kSha256TextSize];
    bool digestFailed;                     /* the file could not be read back for its digests */
};
void startImageSink(ImageSink &sink, FILE *file, bool hashing);
/* Writes length bytes at the end; returns how many were written (fewer when the volume is full). */
size_t writeToImage(ImageSink &sink, const void *data, size_t length);
/* Writes length bytes at offset (a rescue's out-of-order writes). false when not all were written. */
bool writeImageAt(ImageSink &sink, int64_t offset, const void *data, size_t length);
/* Zero bytes up to length, when the file is shorter. */
bool extendImage(ImageSink &sink, int64_t length);
/* Everything written is on the disk (FlushFileBuffers). */
bool flushImage(ImageSink &sink);
/* The sectors end here: their length and digest, before any zero bytes follow. */
void noteEndOfData(ImageSink &sink);
/* The digests of the finished file: of the bytes as they came, or read back from the file when
   the rescue wrote out of order. */
void finishImageDigests(ImageSink &sink);
/* The digests of an open file: its first dataLength bytes and all of it. false when a read
   fails (the digests are then empty). */
bool hashImageFile(FILE *file, int64_t dataLength, char (&dataDigest)[kSha256TextSize],
                   char (&fileDigest)[kSha256TextSize], int64_t &fileLength);

/* disk_samples.cpp: sample sectors that tell a disk again. */
constexpr int kSampleSlots = 8;          /* spread over the copy */
constexpr int kSamplesToMatch = 3;       /* sample sectors that must read and match */
/* After a read of [first, first + count) into data: fills the map's samples with sectors that
   are not one byte repeated, at most one per slot. */
void noteSamples(RescueMap &map, uint32_t first, uint32_t count, const uint8_t *data);
enum class SampleCheck { Matches, TooFew, DiskDiffers, ImageDiffers, MediumChanged };
/* Reads the map's samples from the device and from the image (open for reading). */
SampleCheck checkSamples(const RescueMap &map, SendASPI32CommandFn sendCommand, DeviceAddress device, FILE *image);

/* rescue_phases.cpp: the rescue, one function per phase. */
enum class RescueEnd { Finished, Aborted, UserStopped, DriveFailed, FileFailed };
struct SenseRange {
    uint32_t first;
    uint32_t count;
    uint8_t key, asc, ascq;
};
struct Rescue {
    HWND owner;
    SendASPI32CommandFn sendCommand;
    DeviceAddress source;
    int32_t sectorSize;
    RescueMap map;
    uint8_t *buffer;                /* the I/O buffer: perBuffer sectors */
    int32_t perBuffer;
    ImageSink *image;               /* where the sectors go: the image file, or ... */
    bool toDevice;                  /* ... the target device (Disk to disk) */
    DeviceAddress target;
    char mapPath[kMapPathSize];     /* empty: no map can be written */
    bool mapOnlyWhenFailed;         /* Disk to disk: the map file appears with the first failure */
    bool mapStarted;                /* a map has been written (or tried) by this rescue */
    bool mapWriteFailed;            /* the last map write failed */
    bool mapFrozen;                 /* the output could not be flushed: no later map may claim more */
    DWORD lastSave;
    int retryPasses;
    uint32_t failuresInARow;
    RescueEnd end;
    uint32_t failedSector;          /* DriveFailed: where, and what the drive said */
    RequestOutcome failedOutcome;
    std::vector<SenseRange> senses; /* the sense of each bad sector found in this run */
};
void startRescue(Rescue &r, HWND owner, SendASPI32CommandFn sendCommand, DeviceAddress source, int32_t sectorSize,
                 uint8_t *buffer, uint64_t bufferBytes);
/* Runs the phases in their order until the map is finished or the rescue stops. */
RescueEnd runRescue(Rescue &r);
bool copyPhase(Rescue &r);
bool trimPhase(Rescue &r);
bool scrapePhase(Rescue &r);
bool retryPhase(Rescue &r);
/* Handles the messages waiting for the thread, a few at the most; true when ABORT was pressed. */
bool abortBetweenRequests();
/* Writes the map now: the output flushed first, so that it never claims more than that holds. */
void saveRescueMap(Rescue &r);
/* The box that says why a rescue stopped early: the drive's own fault, or the image file. */
void showRescueStop(const Rescue &r);
/* The sectors the map does not list as read. */
uint32_t sectorsToRead(const RescueMap &map);

/* verify_pass.cpp: the copy read back and compared. */
struct VerifyJob {
    SendASPI32CommandFn sendCommand;
    int32_t sectors;               /* from sector 0 */
    int32_t sectorSize;
    uint64_t bufferBytes;          /* the copy's I/O buffer size: the same chunks */
    DeviceAddress readBack;        /* the device read back */
    bool flushFirst;               /* it was written: SYNCHRONIZE CACHE before reading it */
    const char *imagePath;         /* compared with this file (read past the system's cache), or when null ... */
    DeviceAddress source;          /* ... with this device */
    const RescueMap *map;          /* sectors it does not list as read are left out; may be null */
};
enum class VerifyEnd { Completed, Aborted, ReadFailed, FileFailed, NoMemory };
struct VerifyResult {
    VerifyEnd end;
    int32_t checked;        /* sectors compared or found differing */
    int32_t differing;
    int32_t firstDiffering; /* -1 when none */
    int32_t notCompared;    /* not read by the copy */
    int32_t failedSector;   /* ReadFailed: where, and with which status */
    uint8_t failedStatus;
};
VerifyResult runVerifyPass(const VerifyJob &job);
/* Whether a read with FUA failed because the drive does not know the bit (and the same read
   without it is worth a try): ILLEGAL REQUEST, or no sense key, from the target itself. */
bool forceUnitAccessRefused(const RequestOutcome &outcome);
void formatVerifyResult(const VerifyResult &result, int32_t sectors, char *text, size_t size);
void showVerifyResult(HWND owner, const VerifyResult &result, int32_t sectors);

/* image_report.cpp: the text report beside an image (<image>.txt, CR LF line ends). */
struct ImageReport {
    const char *imagePath;
    const char *title;              /* what the report is about: the copy, or a later run on it */
    const char *outcome;            /* how the copy ended */
    DeviceIdentity device;
    int32_t transferSectors;
    int32_t sectorsCopied;
    int64_t dataLength;             /* bytes before the zero bytes */
    int64_t fileLength;
    const char *dataDigest;         /* 64 hexadecimal digits, or a text saying why there are none */
    const char *fileDigest;
    uint64_t bufferBytes;
    uint32_t milliseconds;
    uint32_t unreadableSectors;
    std::vector<std::string> unreadableRanges;   /* "sectors 40-41: MEDIUM ERROR, ..." */
    uint32_t sectorsNotTried;       /* left for a later run */
    const char *mapPath;            /* null when no map was written */
    const char *verifyText;         /* null when the verify pass did not run */
    std::string contents;           /* what the image holds, lines ending in \n; written last */
};
bool reportPathForImage(const char *imagePath, char *reportPath, size_t size);
/* Writes the report beside path and puts it in place. 1, or 0 when it cannot be written. */
int writeImageReport(const char *path, const ImageReport &report);
/* The report's lines for the bad blocks of a map, with the sense found for each. */
std::vector<std::string> unreadableRangeLines(const RescueMap &map, const std::vector<SenseRange> &senses);
/* Writes the report beside report.imagePath, with what the image holds (its first
   report.dataLength bytes: format, partitions, volumes) at the end; a failure is shown to owner. */
void saveImageReport(HWND owner, const ImageReport &report);

/* go_on.cpp: going on from the map beside an image. */
enum class GoOnOffer {
    NotOffered,   /* no map to go on from: nothing was asked (a map not used was said why) */
    Declined,     /* the user wants the whole copy */
    Done,         /* the run went on from the map (or stopped after its message): no copy now */
};
/* Disk to file, before its free-space and overwrite checks, on the absolute image path of an
   image that exists; with "skip unreadable sectors" off nothing is offered. */
GoOnOffer offerToGoOn(HWND owner, SendASPI32CommandFn sendCommand, uint64_t bufferBytes);

/* archive_copy.cpp: what the directions call. */
enum class CopyEnd { Completed, Aborted, FileError, Stopped };
struct ArchiveCopy {
    TransferMode mode;
    HWND owner;
    SendASPI32CommandFn sendCommand;
    int32_t transferSectors;
    int32_t sectorSize;
    uint64_t bufferBytes;
    DeviceAddress source;
    DeviceAddress target;
    bool rescue;                 /* skip unreadable sectors: the source is rescued */
    bool padded;                 /* Disk to file: zero bytes up to 2048 after the sectors */
    DeviceIdentity device;
    ImageSink sink;              /* Disk to file */
    Rescue run;                  /* the rescue and its map */
    DWORD startTicks;
};
/*
 * Before the copy touches its file or target (Disk to file: before the image is emptied, so
 * that no older map stands beside an emptied image). 0 after its message when the copy must
 * not run.
 */
int startArchiveCopy(ArchiveCopy &copy, TransferMode mode, HWND owner, SendASPI32CommandFn sendCommand,
                     int32_t transferSectors, int32_t sectorSize, uint64_t bufferBytes);
/* Disk to file: the image file, once opened. */
void attachImage(ArchiveCopy &copy, FILE *file);
/* The rescue instead of the plain chunk loop (Disk to file, Disk to disk): every phase under
   the open progress box; sectorsDone receives the sectors read. */
CopyEnd rescueCopy(ArchiveCopy &copy, uint8_t *ioBuffer, int32_t &sectorsDone);
/* Disk to file: a chunk or the zero bytes into the image. */
size_t writeImageChunk(ArchiveCopy &copy, const void *data, size_t length);
/* After the loop, before the zero bytes. */
void endImageData(ArchiveCopy &copy);
/* After the copy, its box closed and its file closed: the map, the verify pass when the copy ran
   to its end, the report (Disk to file), then the boxes that say what they found. */
void finishArchiveCopy(ArchiveCopy &copy, int32_t sectorsDone, CopyEnd end);
/*
 * File to disk: the sectors an image of fileLength bytes fills on sectors of sectorSize. With
 * exact-length images on, a last part sector counts (it is written filled up with zeros).
 */
int32_t sectorsInImage(int64_t fileLength, int32_t sectorSize);
/* File to disk: got of wanted bytes read for the last chunk; true when the rest is the last
   sector's zero filling (then put in buffer), false when the read fell short. */
bool fillLastSector(uint8_t *buffer, size_t got, size_t wanted, int32_t sectorSize);

#endif
