/* The text report beside an image. */
#include "image_report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <windows.h>

namespace {

const char *deviceTypeName(int32_t type)
{
    static const char *const names[] = {"hard disk", "tape", "printer", "processor", "WORM", "CD-ROM",
                                        "scanner", "optical", "media changer", "communication device"};
    return type >= 0 && type < 10 ? names[type] : "other";
}

/* Prints to the report; each \n becomes CR LF, the line end Notepad knows. */
void putLine(FILE *file, const char *format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    for (const char *c = text; *c; c++) {
        if (*c == '\n')
            std::fputc('\r', file);
        std::fputc(*c, file);
    }
}

/* The text of a multi-line value on one line: its line breaks become blanks. */
void oneLine(const char *text, char *line, size_t size)
{
    size_t i = 0;
    for (; text[i] && i + 1 < size; i++)
        line[i] = text[i] == '\n' || text[i] == '\r' ? ' ' : text[i];
    line[i] = '\0';
}

}  // namespace

bool reportPathForImage(const char *imagePath, char *reportPath, size_t size)
{
    int length = std::snprintf(reportPath, size, "%s.txt", imagePath);
    return length > 0 && size_t(length) < size;
}

int writeImageReport(const char *path, const ImageReport &r)
{
    FILE *file = std::fopen(path, "wb");
    if (!file)
        return 0;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char vendor[17], product[17], revision[17], verify[512];
    inquiryField(r.device, kInquiryVendor, vendor, sizeof vendor);
    inquiryField(r.device, kInquiryProduct, product, sizeof product);
    inquiryField(r.device, kInquiryRevision, revision, sizeof revision);
    const double seconds = r.milliseconds / 1000.0;
    const double megabytes = double(r.dataLength) / 1048576.0;

    putLine(file, "Kestrova V1.31 - %s\n\n", r.title);
    putLine(file, "Date:                %04u-%02u-%02u %02u:%02u:%02u\n", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond);
    putLine(file, "Image:               %s\n", r.imagePath);
    putLine(file, "Result:              %s\n\n", r.outcome);
    putLine(file, "Source adapter:      %d\n", r.device.adapter);
    putLine(file, "Target id:           %d\n", r.device.target);
    putLine(file, "LUN:                 0\n");
    putLine(file, "Vendor:              %s\n", vendor);
    putLine(file, "Product:             %s\n", product);
    putLine(file, "Revision:            %s\n", revision);
    putLine(file, "Device type:         %d (%s)\n", r.device.deviceType, deviceTypeName(r.device.deviceType));
    putLine(file, "Removable medium:    %s\n", r.device.removable ? "yes" : "no");
    putLine(file, "Sector size:         %d bytes\n", r.device.sectorSize);
    putLine(file, "Sector count:        %d\n\n", r.device.sectorCount);
    putLine(file, "Sectors asked for:   %d\n", r.transferSectors);
    putLine(file, "Sectors copied:      %d\n", r.sectorsCopied);
    putLine(file, "Data length:         %" PRId64 " bytes (sectors x sector size)\n", r.dataLength);
    putLine(file, "File length:         %" PRId64 " bytes (zero bytes from offset %" PRId64 ": %" PRId64 ")\n",
                 r.fileLength, r.dataLength, r.fileLength - r.dataLength);
    putLine(file, "SHA-256 of the data: %s\n", r.dataDigest);
    putLine(file, "SHA-256 of the file: %s\n\n", r.fileDigest);
    putLine(file, "Buffer size:         %" PRIu64 " KB\n", r.bufferBytes / 1024);
    putLine(file, "Duration:            %.1f s\n", seconds);
    putLine(file, "Average speed:       %.2f MB/s\n", seconds > 0 ? megabytes / seconds : 0.0);
    putLine(file, "Unreadable sectors:  %u", r.unreadableSectors);
    if (r.mapPath)
        putLine(file, " (map: %s)", r.mapPath);
    putLine(file, "\n");
    if (r.verifyText)
        oneLine(r.verifyText, verify, sizeof verify);
    putLine(file, "Verify:              %s\n", r.verifyText ? verify : "not run");
    for (const char *c = r.extraLines ? r.extraLines : ""; *c; c++) {
        if (*c == '\n')
            std::fputc('\r', file);
        std::fputc(*c, file);
    }
    bool written = !std::ferror(file);
    return std::fclose(file) == 0 && written ? 1 : 0;
}
