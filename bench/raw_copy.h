/*
 * The floor the transfers are measured against: plain loops that move the same bytes between
 * the same files with the same chunk size and the same file functions as the transfer code and
 * the virtual bus (SetFilePointerEx then ReadFile/WriteFile on the disk image, an unbuffered CRT stream
 * on the image file), and nothing else.
 */
#ifndef KESTROVA_BENCH_RAW_COPY_H
#define KESTROVA_BENCH_RAW_COPY_H

#include "bench_setup.h"
#include <cstddef>
#include <cstdint>

/* What a raw loop does besides moving the bytes. */
enum class LoopCalls {
    None,
    /* What the transfer loop must do, with the progress box open: one pump pass before every
       chunk (a pass that handles a message moves no chunk) and the percentage shown when it
       changes. What the transfers take beyond that floor is the program's own: the requests,
       the virtual bus, the checks, the opening and closing of the box. */
    EveryChunk,
    /* Not what the program does: the same, but the queue looked at only when a millisecond
       has passed since the last look, to show what such a loop would gain. */
    EveryMillisecond,
};

/* Each returns false after printing why when a read or write falls short. */
bool rawDiskToFile(const char *diskImage, const char *outputPath, size_t chunk, uint64_t bytes, LoopCalls loopCalls,
                   Pass &pass);
bool rawFileToDisk(const char *inputPath, const char *diskImage, size_t chunk, uint64_t bytes, LoopCalls loopCalls,
                   Pass &pass);
bool rawDiskToDisk(const char *sourceImage, const char *targetImage, size_t chunk, uint64_t bytes, LoopCalls loopCalls,
                   Pass &pass);

/* Opens a disk image as the virtual bus does. */
HANDLE openDiskImage(const char *path);
bool readAt(HANDLE file, uint64_t offset, void *buffer, DWORD length);
bool writeAt(HANDLE file, uint64_t offset, const void *buffer, DWORD length);

#endif
