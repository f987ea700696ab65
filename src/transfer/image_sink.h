/*
 * The image file as a copy writes it: every chunk and the zero bytes after them go through
 * here, and with a report asked for, the SHA-256 of what was written is computed on the way
 * (the data part, then the whole file), so that no second pass over the file is needed.
 */
#ifndef KESTROVA_IMAGE_SINK_H
#define KESTROVA_IMAGE_SINK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include "sha256.h"

struct ImageSink {
    FILE *file;
    bool hashing;
    Sha256 hash;
    int64_t written;                       /* bytes written so far */
    int64_t dataLength;                    /* bytes before the zero bytes, once noted */
    char dataDigest[kSha256TextSize];      /* SHA-256 of those, once noted */
};

void startImageSink(ImageSink &sink, FILE *file, bool hashing);
/* Writes length bytes; returns how many were written (fewer when the volume is full). */
size_t writeToImage(ImageSink &sink, const void *data, size_t length);
/* Notes that the sectors end here: their length and digest, before any zero bytes follow. */
void noteEndOfData(ImageSink &sink);
/* SHA-256 of everything written so far. */
void imageDigest(const ImageSink &sink, char (&text)[kSha256TextSize]);

#endif
