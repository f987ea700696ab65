/*
 * The report beside an image that Disk to file wrote: <image>.txt, plain text with CR LF line
 * ends so that Notepad shows it. It records what the image came from (adapter, target, LUN,
 * the INQUIRY texts, type, removable medium, geometry), what was copied (sectors, the data
 * length and the file length, the SHA-256 of the data part and of the whole file), how (buffer
 * size, duration, average speed) and what went wrong (each unreadable range with the sense the
 * drive gave, the map, the verify result), and last what the image holds (its format and volumes).
 */
#include "archive.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include "disk_contents.h"
#include "messages.h"
#include "resource_ids.h"

namespace {

constexpr size_t kMostRangeLines = 100;   /* the map lists them all */

const char *deviceTypeName(int32_t type)
{
    static const char *const names[] = {"hard disk", "tape", "printer", "processor", "WORM", "CD-ROM",
                                        "scanner", "optical", "media changer", "communication device"};
    return type >= 0 && type < 10 ? names[type] : "other";
}

/* Adds text to the report; each \n becomes CR LF, the line end Notepad knows. */
void putText(std::string &report, const char *text)
{
    for (const char *c = text; *c; c++) {
        if (*c == '\n')
            report += '\r';
        report += *c;
    }
}

void putLine(std::string &report, const char *format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    putText(report, text);
}

/* The text of a multi-line value on one line: its line breaks become blanks. */
void oneLine(const char *text, char *line, size_t size)
{
    size_t i = 0;
    for (; text[i] && i + 1 < size; i++)
        line[i] = text[i] == '\n' || text[i] == '\r' ? ' ' : text[i];
    line[i] = '\0';
}

/* The sense noted for sector, when one was. */
const SenseRange *senseOf(const std::vector<SenseRange> &senses, uint32_t sector)
{
    for (const SenseRange &s : senses)
        if (sector >= s.first && sector - s.first < s.count)
            return &s;
    return nullptr;
}

std::string reportText(const ImageReport &r)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char vendor[17], product[17], revision[17], verify[512];
    inquiryField(r.device, kInquiryVendor, vendor, sizeof vendor);
    inquiryField(r.device, kInquiryProduct, product, sizeof product);
    inquiryField(r.device, kInquiryRevision, revision, sizeof revision);
    const double seconds = r.milliseconds / 1000.0;
    const double megabytes = double(r.dataLength) / 1048576.0;

    std::string text;
    putLine(text, "Kestrova V1.31 - %s\n\n", r.title);
    putLine(text, "Date:                %04u-%02u-%02u %02u:%02u:%02u\n", now.wYear, now.wMonth, now.wDay, now.wHour,
            now.wMinute, now.wSecond);
    putLine(text, "Image:               %s\n", r.imagePath);
    putLine(text, "Result:              %s\n\n", r.outcome);
    putLine(text, "Source adapter:      %d\n", r.device.adapter);
    putLine(text, "Target id:           %d\n", r.device.target);
    putLine(text, "LUN:                 0\n");
    putLine(text, "Vendor:              %s\n", vendor);
    putLine(text, "Product:             %s\n", product);
    putLine(text, "Revision:            %s\n", revision);
    putLine(text, "Device type:         %d (%s)\n", r.device.deviceType, deviceTypeName(r.device.deviceType));
    putLine(text, "Removable medium:    %s\n", r.device.removable ? "yes" : "no");
    putLine(text, "Sector size:         %d bytes\n", r.device.sectorSize);
    putLine(text, "Sector count:        %d\n", r.device.sectorCount);
    putLine(text, "\n");
    putLine(text, "Sectors asked for:   %d\n", r.transferSectors);
    putLine(text, "Sectors copied:      %d\n", r.sectorsCopied);
    putLine(text, "Data length:         %" PRId64 " bytes (sectors x sector size)\n", r.dataLength);
    putLine(text, "File length:         %" PRId64 " bytes (zero bytes from offset %" PRId64 ": %" PRId64 ")\n",
            r.fileLength, r.dataLength, r.fileLength - r.dataLength);
    putLine(text, "SHA-256 of the data: %s\n", r.dataDigest);
    putLine(text, "SHA-256 of the file: %s\n\n", r.fileDigest);
    putLine(text, "Buffer size:         %" PRIu64 " KB\n", r.bufferBytes / 1024);
    putLine(text, "Duration:            %.1f s\n", seconds);
    putLine(text, "Average speed:       %.2f MB/s\n", seconds > 0 ? megabytes / seconds : 0.0);
    putLine(text, "Unreadable sectors:  %u", r.unreadableSectors);
    if (r.mapPath)
        putLine(text, " (map: %s)", r.mapPath);
    putLine(text, "\n");
    for (const std::string &line : r.unreadableRanges)
        putLine(text, "  %s\n", line.c_str());
    if (r.sectorsNotTried > 0)
        putLine(text, "Sectors not read yet: %u (a later copy can go on from the map)\n", r.sectorsNotTried);
    if (r.verifyText)
        oneLine(r.verifyText, verify, sizeof verify);
    putLine(text, "Verify:              %s\n", r.verifyText ? verify : "not run");
    if (!r.contents.empty()) {
        putLine(text, "\nContents:\n");
        putText(text, r.contents.c_str());
    }
    return text;
}

}  // namespace

bool reportPathForImage(const char *imagePath, char *reportPath, size_t size)
{
    int length = std::snprintf(reportPath, size, "%s.txt", imagePath);
    return length > 0 && size_t(length) < size;
}

int writeImageReport(const char *path, const ImageReport &report)
{
    char temporary[kMapPathSize + 8];
    return writeBeside(path, reportText(report), temporary, sizeof temporary) && putInPlace(temporary, path) ? 1 : 0;
}

std::vector<std::string> unreadableRangeLines(const RescueMap &map, const std::vector<SenseRange> &senses)
{
    std::vector<std::string> lines;
    size_t ranges = 0;
    MapBlock block;
    for (uint32_t at = 0; nextBlockWith(map, kBadSector, at, block); at = block.first + block.count) {
        /* One line per run of sectors with the same sense (or none known). */
        for (uint32_t s = block.first; s < block.first + block.count;) {
            const SenseRange *sense = senseOf(senses, s);
            uint32_t end = s + 1;
            while (end < block.first + block.count && senseOf(senses, end) == sense)
                end++;
            if (++ranges > kMostRangeLines) {
                s = end;
                continue;
            }
            char where[64], why[96] = "no sense noted in this run";
            if (end - s == 1)
                std::snprintf(where, sizeof where, "sector %u", s);
            else
                std::snprintf(where, sizeof where, "sectors %u-%u", s, end - 1);
            if (sense)
                describeSense(sense->key, sense->asc, sense->ascq, why, sizeof why);
            lines.push_back(std::string(where) + ": " + why);
            s = end;
        }
    }
    if (ranges > kMostRangeLines)
        lines.push_back("... and " + std::to_string(ranges - kMostRangeLines) + " more ranges, listed in the map");
    return lines;
}

void saveImageReport(HWND owner, const ImageReport &report)
{
    constexpr int kTextSize = 512;
    /* What the image holds: its data part, read back from the closed file. */
    ImageReport withContents = report;
    DiskContents held;
    if (probeImageFile(report.imagePath, report.dataLength, held))
        withContents.contents = describeContents(held, "  ", "\n");
    char reportPath[kMapPathSize];
    if (!reportPathForImage(report.imagePath, reportPath, sizeof reportPath) ||
        !writeImageReport(reportPath, withContents)) {
        char format[kTextSize], text[kTextSize];
        std::snprintf(text, sizeof text, loadText(IDS_REPORT_WRITE_FAILED, format, sizeof format), reportPath);
        showMessage(owner, text, "Error", MB_ICONERROR);
    }
}
