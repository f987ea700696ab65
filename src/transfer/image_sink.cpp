/* Writing the image file, hashing what is written when a report is asked for. */
#include "image_sink.h"

#include <cstring>

void startImageSink(ImageSink &sink, FILE *file, bool hashing)
{
    sink.file = file;
    sink.hashing = hashing;
    sha256Start(sink.hash);
    sink.written = 0;
    sink.dataLength = 0;
    sink.dataDigest[0] = '\0';
}

size_t writeToImage(ImageSink &sink, const void *data, size_t length)
{
    size_t written = std::fwrite(data, 1, length, sink.file);
    if (sink.hashing)
        sha256Add(sink.hash, data, written);
    sink.written += int64_t(written);
    return written;
}

void noteEndOfData(ImageSink &sink)
{
    sink.dataLength = sink.written;
    if (sink.hashing)
        sha256Text(sink.hash, sink.dataDigest);
}

void imageDigest(const ImageSink &sink, char (&text)[kSha256TextSize])
{
    text[0] = '\0';
    if (sink.hashing)
        sha256Text(sink.hash, text);
}
