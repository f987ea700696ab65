/* The lines that describe a probe. */
#include "contents_text.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr double kMegabyte = 1048576.0;

struct Writer {
    std::string &text;
    const ContentsTexts &texts;
    const char *lineEnd;
    uint32_t sectorSize;
    uint64_t mediumBytes;
};

void line(Writer &w, const std::string &indent, ContentsText which, ...)
{
    char buffer[512];
    va_list arguments;
    va_start(arguments, which);
    std::vsnprintf(buffer, sizeof buffer, w.texts[size_t(which)], arguments);
    va_end(arguments);
    w.text += indent;
    w.text += buffer;
    w.text += w.lineEnd;
}

/* What lies past the medium's end, for a partition or a file system. */
void extentFindings(Writer &w, const std::string &indent, bool missing, bool truncated, uint64_t offset, uint64_t bytes)
{
    if (missing)
        line(w, indent, ContentsText::Missing);
    else if (truncated)
        line(w, indent, ContentsText::Truncated, numberText(sectorsFor(w.mediumBytes - offset, w.sectorSize)).c_str(),
             numberText(sectorsFor(bytes, w.sectorSize)).c_str());
}

void entries(Writer &w, const std::string &indent, const std::vector<Entry> &list)
{
    for (const Entry &e : list) {
        const std::string name = e.kind.empty() ? e.name : e.name + " (" + e.kind + ")";
        line(w, indent, e.file ? ContentsText::File : ContentsText::Volume, name.c_str());
    }
}

void fileSystem(Writer &w, const std::string &indent, const FileSystem &fs)
{
    const uint64_t first = fs.offset / w.sectorSize;
    const uint64_t end = sectorsFor(fs.offset + fs.bytes, w.sectorSize);
    line(w, indent, ContentsText::FileSystem, fileSystemTitle(fs, w.texts[size_t(ContentsText::Swapped)]).c_str(),
         numberText(first).c_str(), numberText(end > first ? end - 1 : first).c_str(), fs.bytes / kMegabyte);
    const std::string inner = indent + "  ";
    extentFindings(w, inner, false, fs.truncated, fs.offset, fs.bytes);
    for (const Partition &p : fs.partitions) {
        line(w, inner, ContentsText::Partition, p.label.c_str(), numberText(sectorsFor(p.bytes, w.sectorSize)).c_str(),
             numberText(p.offset / w.sectorSize).c_str(), p.bytes / kMegabyte);
        const std::string deeper = inner + "  ";
        extentFindings(w, deeper, p.missing, p.truncated, p.offset, p.bytes);
        if (p.damaged)
            line(w, deeper, ContentsText::Damaged);
        entries(w, deeper, p.entries);
        for (const FileSystem &inside : p.found)
            fileSystem(w, deeper, inside);
    }
    entries(w, inner, fs.entries);
}

}  // namespace

uint64_t sectorsFor(uint64_t bytes, uint32_t sectorSize)
{
    return sectorSize ? (bytes + sectorSize - 1) / sectorSize : 0;
}

std::string numberText(uint64_t n)
{
    return std::to_string(n);
}

std::string fileSystemTitle(const FileSystem &fs, const char *swappedWord)
{
    std::string title = fs.name;
    if (!fs.label.empty())
        title += " \"" + fs.label + "\"";
    if (!fs.hint.empty())
        title += " (" + fs.hint + ")";
    if (fs.byteSwapped)
        title += std::string(", ") + swappedWord;
    return title;
}

std::string volumeList(const FileSystem &fs, size_t max)
{
    std::vector<const Entry *> volumes;
    for (const Partition &p : fs.partitions)
        for (const Entry &e : p.entries)
            volumes.push_back(&e);
    for (const Entry &e : fs.entries)
        if (!e.file)
            volumes.push_back(&e);
    std::string list;
    for (size_t i = 0; i < volumes.size() && i < max; i++)
        list += (i ? ", " : "") + volumes[i]->name;
    if (volumes.size() > max)
        list += ", ...";
    return list;
}

void appendContentsLines(std::string &text, const DiskContents &contents, const ContentsTexts &texts,
                         const std::string &indent, const char *lineEnd)
{
    Writer w{text, texts, lineEnd, contents.sectorSize ? contents.sectorSize : 512, contents.mediumBytes};
    if (contents.sectorSize != 512 && contents.sectorSize != 0)
        line(w, indent, ContentsText::SectorSize, numberText(contents.sectorSize).c_str());
    switch (contents.verdict) {
    case Verdict::NoSectors: line(w, indent, ContentsText::NoSectors); return;
    case Verdict::TooSmall:  line(w, indent, ContentsText::TooSmall, numberText(contents.mediumBytes).c_str()); return;
    case Verdict::Blank:     line(w, indent, ContentsText::Blank); return;
    case Verdict::Unknown:   line(w, indent, ContentsText::Unknown); return;
    case Verdict::ReadFailed:
        line(w, indent, ContentsText::Unknown);
        line(w, indent, ContentsText::ReadFailed, numberText(contents.failedSector).c_str(), contents.failedStatus);
        return;
    case Verdict::Recognised: break;
    }
    for (const FileSystem &fs : contents.fileSystems)
        fileSystem(w, indent, fs);
    if (holdsSeveral(contents))
        line(w, indent, ContentsText::Several, int(contents.fileSystems.size()));
    if (contents.mediumBytes > contents.usedBytes) {
        const uint64_t unused = contents.mediumBytes - contents.usedBytes;
        line(w, indent, ContentsText::Trailing, numberText(unused / w.sectorSize).c_str(), unused / kMegabyte);
    }
    if (contents.failedStatus != 0)
        line(w, indent, ContentsText::ReadFailed, numberText(contents.failedSector).c_str(), contents.failedStatus);
}
