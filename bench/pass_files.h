/*
 * The files that the throughput passes move bytes between, and the state every pass finds them
 * in. A transfer and its floor start from the same state because both get it from settleFiles:
 *   - the thread's message queue is empty;
 *   - no page of any bench file waits to be written back: every one is flushed
 *     (FlushFileBuffers, which Wine turns into fsync), so the kernel's write-back of what one
 *     pass wrote (or of the images the bus created) never runs inside a later pass;
 *   - the output of disk to file does not exist (both sides create it anew);
 *   - every page that the pass reads or overwrites is in the page cache, read through once.
 */
#ifndef KESTROVA_BENCH_PASS_FILES_H
#define KESTROVA_BENCH_PASS_FILES_H

#include "cells.h"
#include <cstdint>
#include <string>

struct BenchFiles {
    std::string disk0;                   /* the bus's source disk, 0:0 */
    std::string disk1;                   /* the bus's target disk, 0:1 */
    std::string output;                  /* written anew by every disk to file pass */
    std::string source[kBufferSizes];    /* read by file to disk: one per buffer size, one pass long */
};

BenchFiles benchFiles(const std::string &folder);

/* Bytes that one pass moves with the buffer of index b, on disks of diskBytes: the pass with
   the largest buffer moves the whole disk, the others as many chunks as it (never less than
   one chunk). */
uint64_t passBytes(int b, uint64_t diskBytes);

/* Creates the file to disk sources: copies of the first passBytes(b) of disk0, flushed. */
bool makeSourceImages(const BenchFiles &files, uint64_t diskBytes);

/* The state above, before a pass of direction with the buffer of index b over `bytes`. */
bool settleFiles(const BenchFiles &files, Direction direction, int b, uint64_t bytes);

#endif
