/*
 * The image file's side of a transfer: its absolute path, its length and the room left on the
 * volume that holds it. Lengths and byte counts are 64-bit: images of 4 GiB and more are usual.
 */
#ifndef KESTROVA_IMAGE_FILE_H
#define KESTROVA_IMAGE_FILE_H

#include <cstdint>
#include <cstdio>

/*
 * Replaces path (a buffer of at least kPathBufferSize bytes) by its absolute form of at most
 * 256 bytes with the NUL; an empty path becomes the current directory. 0 when that fails, and
 * path is then unchanged.
 */
int makeAbsolutePath(char *path);

/*
 * Free bytes on the volume that holds the absolute path: the drive root for a path that starts
 * with one ("C:\"), else the volume the system names for the path. -1 when no figure can be had.
 */
int64_t freeBytesForPath(const char *path);

/* Length of an open stream, from its end; the stream is left at its end. -1 on failure. */
int64_t streamLength(FILE *file);

#endif
