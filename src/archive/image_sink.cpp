/*
 * Writing the image file. The plain copy appends chunk after chunk; a rescue writes where its
 * sectors belong. The SHA-256 of the report is computed on the way while the bytes come in
 * order; after out-of-order writes it is computed from the file when the copy ends.
 */
#include "archive.h"

#include <io.h>
#include <cstring>
#include <vector>

namespace {
constexpr size_t kHashChunk = 65536;
constexpr uint8_t kZeros[4096] = {};

bool seekTo(ImageSink &sink, int64_t offset)
{
    if (sink.position == offset)
        return true;
    if (_fseeki64(sink.file, offset, SEEK_SET) != 0)
        return false;
    sink.position = offset;
    return true;
}
}  // namespace

void startImageSink(ImageSink &sink, FILE *file, bool hashing)
{
    sink.file = file;
    sink.hashing = hashing;
    sink.inOrder = true;
    sha256Start(sink.hash);
    sink.written = 0;
    sink.end = 0;
    sink.position = 0;
    sink.dataLength = 0;
    sink.dataDigest[0] = '\0';
    sink.fileDigest[0] = '\0';
    sink.digestFailed = false;
}

size_t writeToImage(ImageSink &sink, const void *data, size_t length)
{
    if (!seekTo(sink, sink.end))
        return 0;
    size_t written = std::fwrite(data, 1, length, sink.file);
    if (sink.hashing && sink.inOrder && sink.written == sink.end) {
        sha256Add(sink.hash, data, written);
        sink.written += int64_t(written);
    }
    sink.end += int64_t(written);
    sink.position = sink.end;
    return written;
}

bool writeImageAt(ImageSink &sink, int64_t offset, const void *data, size_t length)
{
    if (offset == sink.end)
        return writeToImage(sink, data, length) == length;
    sink.inOrder = false;
    if (!seekTo(sink, offset))
        return false;
    size_t written = std::fwrite(data, 1, length, sink.file);
    sink.position = offset + int64_t(written);
    if (sink.position > sink.end)
        sink.end = sink.position;
    return written == length;
}

bool extendImage(ImageSink &sink, int64_t length)
{
    while (sink.end < length) {
        size_t piece = length - sink.end < int64_t(sizeof kZeros) ? size_t(length - sink.end) : sizeof kZeros;
        if (writeToImage(sink, kZeros, piece) != piece)
            return false;
    }
    return true;
}

bool flushImage(ImageSink &sink)
{
    if (std::fflush(sink.file) != 0)
        return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(sink.file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
}

void noteEndOfData(ImageSink &sink)
{
    seekTo(sink, sink.end);
    sink.dataLength = sink.end;
    if (sink.hashing && sink.inOrder)
        sha256Text(sink.hash, sink.dataDigest);
}

void finishImageDigests(ImageSink &sink)
{
    if (!sink.hashing)
        return;
    if (sink.inOrder && sink.written == sink.end) {
        sha256Text(sink.hash, sink.fileDigest);
        return;
    }
    int64_t length = 0;
    sink.digestFailed = std::fflush(sink.file) != 0 ||
                        !hashImageFile(sink.file, sink.dataLength, sink.dataDigest, sink.fileDigest, length);
    sink.position = -1;   /* the stream moved */
}

bool hashImageFile(FILE *file, int64_t dataLength, char (&dataDigest)[kSha256TextSize],
                   char (&fileDigest)[kSha256TextSize], int64_t &fileLength)
{
    Sha256 hash;
    sha256Start(hash);
    std::vector<uint8_t> chunk(kHashChunk);
    int64_t length = 0;
    dataDigest[0] = fileDigest[0] = '\0';
    if (_fseeki64(file, 0, SEEK_SET) != 0)
        return false;
    for (;;) {
        if (length == dataLength)
            sha256Text(hash, dataDigest);
        size_t want = length < dataLength && dataLength - length < int64_t(kHashChunk) ? size_t(dataLength - length)
                                                                                    : kHashChunk;
        size_t got = std::fread(chunk.data(), 1, want, file);
        sha256Add(hash, chunk.data(), got);
        length += int64_t(got);
        if (got < want)
            break;
    }
    /* A short read is the end of the file only when the stream says so: a read error would
       give the digest of a part of the file. */
    if (std::ferror(file) || !std::feof(file) || length < dataLength) {
        dataDigest[0] = fileDigest[0] = '\0';
        return false;
    }
    sha256Text(hash, fileDigest);
    fileLength = length;
    return true;
}
