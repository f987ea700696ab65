/*
 * kestrova_bench FOLDER [--mib N] [--pairs N] [--only throughput|bus|report] [--slowdown PERCENT]:
 * the throughput of the three transfers on the virtual bus against their floor, measured in
 * pairs in this one process; what the image report costs Disk to file; then where the time of a
 * chunk goes, the memory of the process, and the bus's own costs. FOLDER receives the bus
 * configuration and the images (disks of N MB, default 512); the caller removes them. --only
 * measures one part: the throughput table, the report's cost, or the loop's steps and the bus's
 * costs. --slowdown makes the transfers slower on purpose (see throughput.h); it is off by default.
 */
#include "app_state.h"
#include "bench_setup.h"
#include "bus_scan.h"
#include "bus_timing.h"
#include "chunk_steps.h"
#include "interleaved_requests.h"
#include "pass_files.h"
#include "report_cost.h"
#include "throughput.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
constexpr int32_t kSectorSize = 512;
constexpr int kReportPairs = 7;   /* enough for a cost of several per cent; no margin is judged here */

struct Options {
    std::string folder;
    int64_t mib = 512;
    bool throughput = true;   /* the paired throughput table */
    bool details = true;      /* chunk steps, the loop's and the bus's costs */
    bool report = true;       /* disk to file with and without the image report */
    ThroughputOptions pairs;
};

bool parseOptions(int argc, char **argv, Options &options)
{
    if (argc < 2 || argv[1][0] == '-')
        return false;
    options.folder = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const char *name = argv[i], *value = argv[i + 1];
        if (std::strcmp(name, "--mib") == 0)
            options.mib = std::atoll(value);
        else if (std::strcmp(name, "--pairs") == 0)
            options.pairs.pairs = std::atoi(value);
        else if (std::strcmp(name, "--slowdown") == 0)
            options.pairs.slowdownPercent = std::atof(value);
        else if (std::strcmp(name, "--only") == 0 && std::strcmp(value, "throughput") == 0)
            options.details = options.report = false;
        else if (std::strcmp(name, "--only") == 0 && std::strcmp(value, "bus") == 0)
            options.throughput = options.report = false;
        else if (std::strcmp(name, "--only") == 0 && std::strcmp(value, "report") == 0)
            options.throughput = options.details = false;
        else if (std::strcmp(name, "--only") != 0 || std::strcmp(value, "all") != 0)
            return false;
    }
    return argc % 2 == 0 && options.mib >= 1 && options.pairs.pairs >= 0;
}

void printSteps(int32_t sectors, const BenchFiles &files)
{
    std::printf("\nWhere the time of a chunk goes (microseconds per chunk, %d MB per run; a clock read "
                "costs %.3f us)\n", int(int64_t(sectors) * kSectorSize >> 20), clockReadSeconds() * 1e6);
    std::printf("%-13s %6s %8s %9s %9s %8s %9s %9s\n", "direction", "buffer", "pump", "request", "percent", "file",
                "total", "messages");
    for (int d = 0; d < 3; ++d)
        for (int b = 0; b < 3; ++b) {
            StepTimes t;
            const std::string &image = Direction(d) == Direction::FileToDisk ? files.source[kBufferSizes - 1]
                                                                             : files.output;
            if (!timeChunkSteps(Direction(d), sectors, kBufferKiB[b] * 2, image.c_str(), t)) {
                std::printf("!! step timing of %s failed\n", kDirectionNames[d]);
                continue;
            }
            double n = double(t.chunks) / 1e6;
            std::printf("%-13s %3d KB %8.2f %9.2f %9.3f %8.2f %9.2f %9lld\n", kDirectionNames[d], kBufferKiB[b],
                        t.pump / n, t.request / n, t.percent / n, t.file / n, t.total / n, (long long)t.messages);
        }
}

std::string transferBusConfig(int64_t mib)
{
    std::string size = std::to_string(mib) + "M";
    return "[bus]\r\nadapters = 1\r\n[adapter 0]\r\nscsi_id = 7\r\nmax_targets = 8\r\n"
           "[device 0:0]\r\nproduct = \"BENCH SOURCE\"\r\nsize = " + size + "\r\nimage = disk0.img\r\nfill = lba\r\n"
           "[device 0:1]\r\nproduct = \"BENCH TARGET\"\r\nsize = " + size + "\r\nimage = disk1.img\r\nfill = lba\r\n";
}
}  // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: kestrova_bench FOLDER [--mib N] [--pairs N] [--only throughput|bus|report]"
                             " [--slowdown PERCENT]\n");
        return 2;
    }
    const int64_t mib = options.mib;
    const int32_t sectors = int32_t(mib * (1 << 20) / kSectorSize);
    const uint64_t bytes = uint64_t(sectors) * kSectorSize;
    const BenchFiles files = benchFiles(options.folder);

    initBenchState();
    const MemoryFigures atStart = memoryFigures();
    double start = nowSeconds();
    if (loadBusConfig(options.folder, "transfer.ini", transferBusConfig(mib)) != 1 || !scanBus(appState.mainForm) ||
        adapterTable.adapters[0].devices[0].sectorCount != sectors) {
        std::printf("!! the bus with two disks of %lld MB could not be loaded\n", (long long)mib);
        return 1;
    }
    if ((options.throughput || options.report) && !makeSourceImages(files, bytes))
        return 1;
    std::printf("bus: two disks of %lld MB (fill = lba) and the file to disk sources ready in %.1f s\n",
                (long long)mib, nowSeconds() - start);
    const MemoryFigures ready = memoryFigures();

    if (options.throughput && !measureThroughput(files, bytes, options.pairs))
        return 1;
    if (options.report && !measureReportCost(files, bytes, std::min(options.pairs.pairs, kReportPairs)))
        return 1;
    if (!options.details)
        return 0;
    const MemoryFigures after = memoryFigures();

    std::printf("\nMemory of the process (MB): at start, bus loaded, after all transfers\n");
    std::printf("  peak working set  %8.1f %8.1f %8.1f   (growth during the transfers %.2f)\n",
                atStart.peakWorkingSetMiB, ready.peakWorkingSetMiB, after.peakWorkingSetMiB,
                after.peakWorkingSetMiB - ready.peakWorkingSetMiB);
    std::printf("  peak pagefile     %8.1f %8.1f %8.1f   (growth during the transfers %.2f)\n",
                atStart.peakPagefileMiB, ready.peakPagefileMiB, after.peakPagefileMiB,
                after.peakPagefileMiB - ready.peakPagefileMiB);
    std::printf("  largest I/O buffer 0.06; devices of %lld MB each\n", (long long)mib);

    if (options.throughput)
        printSteps(std::min<int32_t>(sectors, (256 << 20) / kSectorSize), files);

    CallCosts calls;
    timeLoopCalls(calls);
    std::printf("\nThe loop's own steps per call (microseconds, wall and process CPU)\n");
    std::printf("  pump pass on an empty queue (PeekMessageA)   %8.2f %8.2f\n", calls.pumpWall * 1e6,
                calls.pumpCpu * 1e6);
    std::printf("  showPercent with a new percentage            %8.2f %8.2f\n", calls.percentChangeWall * 1e6,
                calls.percentChangeCpu * 1e6);
    std::printf("  showPercent with the percentage shown        %8.3f\n", calls.percentSameWall * 1e6);
    std::printf("  for comparison: PeekMessageA PM_NOYIELD      %8.2f %8.2f\n", calls.peekNoYieldWall * 1e6,
                calls.peekNoYieldCpu * 1e6);
    std::printf("  for comparison: GetQueueStatus               %8.2f %8.2f\n", calls.queueStatusWall * 1e6,
                calls.queueStatusCpu * 1e6);

    RequestCosts costs;
    if (!timeRequests(files.disk0.c_str(), bytes, costs)) {
        std::printf("!! request timing failed\n");
        return 1;
    }
    std::printf("\nThe virtual bus per request (microseconds)\n");
    std::printf("  SendASPI32Command, READ(10) of 0 sectors   %8.3f\n", costs.sendEmpty * 1e6);
    std::printf("  executeTransfer of 0 sectors               %8.3f\n", costs.executeEmpty * 1e6);
    std::printf("  SC_GET_DEV_TYPE sent and awaited           %8.3f\n", costs.deviceType * 1e6);
    for (int s = 0; s < 3; ++s)
        std::printf("  READ(10) %2d KB via the bus %8.2f, ReadFile of the same bytes %8.2f, bus share %5.1f%%\n",
                    kBufferKiB[s], costs.readViaBus[s] * 1e6, costs.readDirect[s] * 1e6,
                    100 * (costs.readViaBus[s] - costs.readDirect[s]) / costs.readViaBus[s]);

    if (!printInterleavedRequests(options.folder))
        return 1;

    std::printf("\nFull bus scan: 4 adapters x 16 targets, a disk at each of the 60 targets (ms)\n");
    struct {
        const char *completion;
        int delayMs;
        int repeats;
    } scans[] = {{"immediate", 0, 21}, {"async", 0, 3}, {"async", 1, 2}};
    for (const auto &scan : scans) {
        ScanTimes t;
        if (!timeFullScan(options.folder, scan.completion, scan.delayMs, scan.repeats, t)) {
            std::printf("!! scan with %s completion failed\n", scan.completion);
            return 1;
        }
        std::printf("  %-9s delay_ms=%d: median %8.2f  min %8.2f  max %8.2f  (%d requests, %d scans)\n",
                    scan.completion, scan.delayMs, t.medianSeconds * 1e3, t.minSeconds * 1e3, t.maxSeconds * 1e3,
                    t.requests, scan.repeats);
    }
    return 0;
}
