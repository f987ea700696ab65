/* Probing a device or an image file, and the description in the user's language. */
#include "disk_contents.h"

#include <algorithm>
#include <cstdio>
#include <vector>
#include "app_state.h"
#include "contents_text.h"
#include "messages.h"
#include "resource_ids.h"

namespace {

constexpr int kTextSize = 256;
constexpr int kFileReadFailed = 0xFF;   /* an image file has no ASPI status */

}  // namespace

DiskContents probeDevice(SendASPI32CommandFn sendCommand, int adapter, int target)
{
    const DeviceRecord &device = adapterTable.adapters[adapter].devices[target];
    Medium medium;
    medium.sectorSize = uint32_t(std::max(device.sectorSize, 0));
    medium.bytes = device.sectorCount > 0 ? uint64_t(device.sectorCount) * medium.sectorSize : 0;
    medium.readSectors = [&](uint64_t lba, uint32_t count, uint8_t *buffer) -> int {
        if (!sendCommand)
            return SS_NO_ASPI;
        const uint8_t status = executeTransfer(sendCommand, TransferDirection::Read, uint8_t(adapter), uint8_t(target),
                                               uint32_t(lba), count, buffer, count * medium.sectorSize);
        return status == SS_COMP ? 0 : status;
    };
    return probeContents(medium);
}

bool probeImageFile(const char *path, int64_t limitBytes, DiskContents &contents)
{
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    Medium medium;
    medium.imageFile = true;
    medium.sectorSize = 512;
    int64_t length = _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) : -1;
    if (limitBytes >= 0)
        length = std::min(length, limitBytes);
    medium.bytes = length > 0 ? uint64_t(length) : 0;
    medium.readSectors = [file](uint64_t lba, uint32_t count, uint8_t *buffer) -> int {
        const size_t bytes = size_t(count) * 512;
        if (_fseeki64(file, int64_t(lba * 512), SEEK_SET) != 0 || std::fread(buffer, 1, bytes, file) != bytes)
            return kFileReadFailed;
        return 0;
    };
    contents = probeContents(medium);
    std::fclose(file);
    return true;
}

std::string describeContents(const DiskContents &contents, const char *indent, const char *lineEnd)
{
    std::vector<std::string> words(size_t(ContentsText::Count));
    ContentsTexts texts;
    for (size_t i = 0; i < words.size(); i++) {
        char text[kTextSize];
        words[i] = loadText(UINT(IDS_CONTENTS_FIRST + i), text, sizeof text);
        texts[i] = words[i].c_str();
    }
    std::string lines;
    appendContentsLines(lines, contents, texts, indent, lineEnd);
    return lines;
}

int32_t sectorsInUse(const DiskContents &contents, int32_t sectorSize)
{
    if (contents.fileSystems.empty() || sectorSize <= 0)
        return 0;
    return int32_t(std::min<uint64_t>(sectorsFor(contents.usedBytes, uint32_t(sectorSize)), INT32_MAX));
}

std::string articleAndName(const FileSystem &fs)
{
    char article[kTextSize];
    loadText(fs.an ? IDS_ARTICLE_AN : IDS_ARTICLE_A, article, sizeof article);
    return std::string(article) + " " + fs.name;
}
