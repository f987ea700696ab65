/* The text report beside an image. */
#include "image_report.h"

#include <cinttypes>
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

    std::fprintf(file, "Kestrova V1.31 - %s\r\n\r\n", r.title);
    std::fprintf(file, "Date:                %04u-%02u-%02u %02u:%02u:%02u\r\n", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond);
    std::fprintf(file, "Image:               %s\r\n", r.imagePath);
    std::fprintf(file, "Result:              %s\r\n\r\n", r.outcome);
    std::fprintf(file, "Source adapter:      %d\r\n", r.device.adapter);
    std::fprintf(file, "Target id:           %d\r\n", r.device.target);
    std::fprintf(file, "LUN:                 0\r\n");
    std::fprintf(file, "Vendor:              %s\r\n", vendor);
    std::fprintf(file, "Product:             %s\r\n", product);
    std::fprintf(file, "Revision:            %s\r\n", revision);
    std::fprintf(file, "Device type:         %d (%s)\r\n", r.device.deviceType, deviceTypeName(r.device.deviceType));
    std::fprintf(file, "Removable medium:    %s\r\n", r.device.removable ? "yes" : "no");
    std::fprintf(file, "Sector size:         %d bytes\r\n", r.device.sectorSize);
    std::fprintf(file, "Sector count:        %d\r\n\r\n", r.device.sectorCount);
    std::fprintf(file, "Sectors asked for:   %d\r\n", r.transferSectors);
    std::fprintf(file, "Sectors copied:      %d\r\n", r.sectorsCopied);
    std::fprintf(file, "Data length:         %" PRId64 " bytes (sectors x sector size)\r\n", r.dataLength);
    std::fprintf(file, "File length:         %" PRId64 " bytes (zero bytes from offset %" PRId64 ": %" PRId64 ")\r\n",
                 r.fileLength, r.dataLength, r.fileLength - r.dataLength);
    std::fprintf(file, "SHA-256 of the data: %s\r\n", r.dataDigest);
    std::fprintf(file, "SHA-256 of the file: %s\r\n\r\n", r.fileDigest);
    std::fprintf(file, "Buffer size:         %" PRIu64 " KB\r\n", r.bufferBytes / 1024);
    std::fprintf(file, "Duration:            %.1f s\r\n", seconds);
    std::fprintf(file, "Average speed:       %.2f MB/s\r\n", seconds > 0 ? megabytes / seconds : 0.0);
    std::fprintf(file, "Unreadable sectors:  %u", r.unreadableSectors);
    if (r.mapPath)
        std::fprintf(file, " (map: %s)", r.mapPath);
    std::fprintf(file, "\r\n");
    if (r.verifyText)
        oneLine(r.verifyText, verify, sizeof verify);
    std::fprintf(file, "Verify:              %s\r\n", r.verifyText ? verify : "not run");
    bool written = !std::ferror(file);
    return std::fclose(file) == 0 && written ? 1 : 0;
}
