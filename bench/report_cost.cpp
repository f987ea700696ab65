/* Disk to file with and without the image report, in pairs. */
#include "report_cost.h"
#include "app_state.h"
#include "archive.h"
#include "throughput.h"
#include <windows.h>
#include <cstdio>
#include <vector>

namespace {
/* One pass with the report on or off. With it on, the report must be there afterwards (the
   transfer hashed what it wrote); it is removed so that every pass writes its own. */
bool runPass(bool report, int b, uint64_t bytes, const BenchFiles &files, Pass &pass)
{
    char reportPath[MAX_PATH];
    if (!reportPathForImage(files.output.c_str(), reportPath, sizeof reportPath))
        return false;
    DeleteFileA(reportPath);
    if (!settleFiles(files, Direction::DiskToFile, b, bytes))
        return false;
    appState.archive = ArchiveOptions{};
    appState.archive.report = report;
    const bool ok = runTransferPass(Direction::DiskToFile, b, bytes, files, pass);
    appState.archive = ArchiveOptions{};
    const bool written = GetFileAttributesA(reportPath) != INVALID_FILE_ATTRIBUTES;
    if (ok && written != report)
        std::printf("!! the report was %s with the report %s\n", written ? "written" : "not written",
                    report ? "on" : "off");
    DeleteFileA(reportPath);
    return ok && written == report;
}
}  // namespace

bool measureReportCost(const BenchFiles &files, uint64_t diskBytes, int pairs)
{
    std::printf("\nDisk to file with the image report (SHA-256 of the image), %d pairs per buffer size after one"
                " warm-up\nratio: time without the report / time with it, per pair; hashing: the SHA-256's"
                " share of the time, as MB/s\n", pairs);
    std::printf("%6s %8s %8s %6s %11s %11s %12s\n", "buffer", "off MB/s", "on MB/s", "ratio", "p25-p75", "min-max",
                "hashing MB/s");
    std::fflush(stdout);
    for (int b = 0; b < kBufferSizes; ++b) {
        const uint64_t bytes = passBytes(b, diskBytes);
        const double mib = double(bytes) / kMiB;
        std::vector<double> off, on, ratio;
        for (int round = 0; round <= pairs; ++round) {
            Pass pass[2];
            const bool onFirst = round % 2 == 1;
            for (int i = 0; i < 2; ++i) {
                const bool report = (i == 0) == onFirst;
                if (!runPass(report, b, bytes, files, pass[report]))
                    return false;
            }
            if (round == 0)
                continue;
            off.push_back(pass[0].seconds);
            on.push_back(pass[1].seconds);
            ratio.push_back(pass[0].seconds / pass[1].seconds);
        }
        /* The time the report adds, from the medians; none when the difference is lost in the noise. */
        const double added = median(on) - median(off);
        char hashing[16] = "-";
        if (added > 0)
            std::snprintf(hashing, sizeof hashing, "%.0f", mib / added);
        std::printf("%3d KB %8.0f %8.0f %6.3f %5.3f-%5.3f %5.3f-%5.3f %12s\n", kBufferKiB[b], mib / median(off),
                    mib / median(on), median(ratio), quantile(ratio, 0.25), quantile(ratio, 0.75),
                    quantile(ratio, 0), quantile(ratio, 1), hashing);
    }
    return true;
}
