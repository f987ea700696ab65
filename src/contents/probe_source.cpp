/* The probe's reads: chunk cache, origin and byte-swapped view. */
#include "probe_source.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kChunkTarget = 8192;

/* The chunk, read on first use; null when it lies beyond the end or its read failed. */
const std::vector<uint8_t> *chunk(ProbeReader &reader, uint64_t number)
{
    auto cached = reader.chunks.find(number);
    if (cached != reader.chunks.end())
        return cached->second.empty() ? nullptr : &cached->second;

    const Medium &medium = *reader.medium;
    const uint64_t start = number * reader.chunkBytes;
    std::vector<uint8_t> &bytes = reader.chunks[number];   /* empty: tried and failed */
    if (start >= medium.bytes || reader.requests >= kMaxProbeRequests || !medium.readSectors)
        return nullptr;
    /* Whole sectors only: a last part-sector of an image file is not read. */
    const uint64_t sectors = std::min<uint64_t>(reader.chunkBytes, medium.bytes - start) / medium.sectorSize;
    if (sectors == 0)
        return nullptr;
    bytes.assign(size_t(sectors * medium.sectorSize), 0);
    reader.requests++;
    const uint64_t lba = start / medium.sectorSize;
    const int status = medium.readSectors(lba, uint32_t(sectors), bytes.data());
    if (status != 0) {
        if (reader.failedStatus == 0) {
            reader.failedStatus = status;
            reader.failedSector = lba;
        }
        bytes.clear();
        return nullptr;
    }
    if (std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; }))
        reader.nonZeroSeen = true;
    return &bytes;
}

bool readPlain(ProbeReader &reader, uint64_t offset, uint8_t *out, size_t length)
{
    while (length > 0) {
        const std::vector<uint8_t> *bytes = chunk(reader, offset / reader.chunkBytes);
        const uint64_t within = offset % reader.chunkBytes;
        if (!bytes || within >= bytes->size())
            return false;
        const size_t part = size_t(std::min<uint64_t>(length, bytes->size() - within));
        std::memcpy(out, bytes->data() + within, part);
        out += part;
        offset += part;
        length -= part;
    }
    return true;
}

}  // namespace

void startReader(ProbeReader &reader, const Medium &medium)
{
    reader = ProbeReader();
    reader.medium = &medium;
    const uint64_t sector = medium.sectorSize ? medium.sectorSize : 512;
    reader.chunkBytes = std::max<uint64_t>(1, kChunkTarget / sector) * sector;
}

Source sourceAt(ProbeReader &reader, uint64_t origin, bool swapped)
{
    Source source;
    source.reader = &reader;
    source.origin = origin;
    source.swapped = swapped;
    source.bytes = origin < reader.medium->bytes ? reader.medium->bytes - origin : 0;
    return source;
}

bool readBytes(const Source &source, uint64_t offset, uint8_t *out, size_t length)
{
    if (offset > source.bytes || length > source.bytes - offset)
        return false;
    const uint64_t at = source.origin + offset;
    if (!source.swapped)
        return readPlain(*source.reader, at, out, length);
    /* Whole words around the range, their bytes exchanged. */
    const uint64_t first = at & ~uint64_t(1);
    const uint64_t end = (at + length + 1) & ~uint64_t(1);
    std::vector<uint8_t> words(size_t(end - first));
    if (!readPlain(*source.reader, first, words.data(), words.size()))
        return false;
    for (size_t i = 0; i + 1 < words.size(); i += 2)
        std::swap(words[i], words[i + 1]);
    std::memcpy(out, words.data() + (at - first), length);
    return true;
}

std::string fieldText(const uint8_t *p, size_t length)
{
    std::string text;
    for (size_t i = 0; i < length && p[i]; i++)
        text += p[i] >= 0x20 && p[i] < 0x7F ? char(p[i]) : '.';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}
