/*
 * Sample sectors that tell a disk again: a few sectors spread over the copy, each one that is
 * not a single byte repeated (a blank or formatted sector looks the same on every disk of its
 * kind), kept in the map as SHA-256 digests. A later run reads them from the drive and from the
 * image and compares them with the digests: another cartridge of the same kind in the same
 * drive, or an image written over since, differs there.
 */
#include "archive.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool uniform(const uint8_t *sector, int32_t size)
{
    for (int32_t i = 1; i < size; i++)
        if (sector[i] != sector[0])
            return false;
    return true;
}

void digestOf(const uint8_t *sector, int32_t size, char (&text)[kSha256TextSize])
{
    Sha256 hash;
    sha256Start(hash);
    sha256Add(hash, sector, size_t(size));
    sha256Text(hash, text);
}

/* The first sector of the slot: slot k of the copy's sectors. */
uint32_t slotStart(const RescueMap &map, int slot)
{
    return uint32_t(uint64_t(map.sectors) * uint64_t(slot) / kSampleSlots);
}

bool slotFilled(const RescueMap &map, int slot)
{
    const uint32_t from = slotStart(map, slot), to = slotStart(map, slot + 1);
    for (const DiskSample &sample : map.samples)
        if (sample.sector >= from && sample.sector < to)
            return true;
    return false;
}

}  // namespace

void noteSamples(RescueMap &map, uint32_t first, uint32_t count, const uint8_t *data)
{
    const int32_t size = map.device.sectorSize;
    const uint64_t end = uint64_t(first) + count;
    auto take = [&](uint32_t s) {
        const uint8_t *sector = data + size_t(s - first) * size_t(size);
        if (uniform(sector, size))
            return false;
        DiskSample sample = {};
        sample.sector = s;
        digestOf(sector, size, sample.digest);
        auto at = std::upper_bound(map.samples.begin(), map.samples.end(), s,
                                   [](uint32_t sector, const DiskSample &d) { return sector < d.sector; });
        if (at != map.samples.begin() && (at - 1)->sector == s)
            return false;
        map.samples.insert(at, sample);
        return true;
    };
    for (int slot = 0; slot < kSampleSlots; slot++) {
        const uint32_t from = slotStart(map, slot), to = slotStart(map, slot + 1);
        if (to <= first || from >= end || slotFilled(map, slot))
            continue;
        for (uint32_t s = from > first ? from : first; s < to && s < end && !take(s); s++) {
        }
    }
    /* A copy stopped early has read only its first slots: enough samples come from there. */
    for (uint32_t s = first; s < end && map.samples.size() < size_t(kSamplesToMatch); s++)
        take(s);
}

SampleCheck checkSamples(const RescueMap &map, SendASPI32CommandFn sendCommand, DeviceAddress device, FILE *image)
{
    const int32_t size = map.device.sectorSize;
    std::vector<uint8_t> sector(size_t(size > 0 ? size : 1));
    int matched = 0;
    for (const DiskSample &sample : map.samples) {
        char digest[kSha256TextSize];
        /* The image first: it must still hold every sample the map names. */
        if (!image || _fseeki64(image, int64_t(sample.sector) * size, SEEK_SET) != 0 ||
            std::fread(sector.data(), 1, sector.size(), image) != sector.size())
            return SampleCheck::ImageDiffers;
        digestOf(sector.data(), size, digest);
        if (std::strcmp(digest, sample.digest) != 0)
            return SampleCheck::ImageDiffers;

        RequestOutcome outcome;
        if (readWhenReady(sendCommand, device, sample.sector, 1, size, sector.data(), outcome) != SS_COMP) {
            if (mediumChanged(outcome))
                return SampleCheck::MediumChanged;
            continue;   /* unreadable now: it proves nothing either way */
        }
        digestOf(sector.data(), size, digest);
        if (std::strcmp(digest, sample.digest) != 0)
            return SampleCheck::DiskDiffers;
        matched++;
    }
    return matched >= kSamplesToMatch ? SampleCheck::Matches : SampleCheck::TooFew;
}
