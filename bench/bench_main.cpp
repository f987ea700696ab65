/*
 * kestrova_bench FOLDER [MIB [ROUNDS [bus]]]: the throughput of the three transfers on the virtual
 * bus against a raw copy of the same bytes, measured in this one process; then where the time
 * of a chunk goes, the memory of the process, and the bus's own costs. FOLDER receives the
 * bus configuration and the images (MIB MB each, default 1024); the caller removes them.
 * With "bus" only the loop's steps and the bus's costs are measured.
 */
#include "app_state.h"
#include "bench_setup.h"
#include "bus_scan.h"
#include "bus_timing.h"
#include "chunk_steps.h"
#include "interleaved_requests.h"
#include "raw_copy.h"
#include "transfers.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int32_t kSectorSize = 512;
constexpr int kBufferKiB[3] = {4, 16, 64};
const char *const kDirectionNames[3] = {"disk to file", "file to disk", "disk to disk"};

struct Paths {
    std::string disk0, disk1, image;
};

/* Per round: the transfer, the raw copy, the raw copy with the loop's pump and display, and
   with the pump at most once a millisecond. */
struct Cell {
    std::vector<Pass> real, raw, rawLoop, rawLoopMs;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool runRealTransfer(Direction direction, int32_t sectors, int bufferKiB, const Paths &paths, Pass &pass)
{
    appState.transferSectors = sectors;
    appState.bufferBlocks = bufferKiB * 2;
    appState.sourceAdapter = 0;
    appState.sourceDevice = 0;
    appState.targetAdapter = 0;
    appState.targetDevice = 1;
    std::snprintf(appState.imagePath, kPathBufferSize, "%s", paths.image.c_str());
    if (direction == Direction::DiskToFile)
        DeleteFileA(paths.image.c_str());   /* no overwrite question */

    double start = nowSeconds(), startCpu = cpuSeconds();
    switch (direction) {
    case Direction::DiskToFile: copyDiskToFile(appState.mainForm); break;
    case Direction::FileToDisk: copyFileToDisk(appState.mainForm); break;
    case Direction::DiskToDisk: copyDiskToDisk(appState.mainForm); break;
    }
    pass.seconds = nowSeconds() - start;
    pass.cpu = cpuSeconds() - startCpu;
    bool ok = unexpectedMessageBoxes() == 0 && appState.abortRequested == 1 && !appState.progressBox &&
              appState.transferSectors == sectors;
    if (direction == Direction::DiskToFile && imageFileSize(paths.image.c_str()) != int64_t(sectors) * kSectorSize)
        ok = false;
    if (!ok)
        std::printf("!! %s with %d KB did not complete as expected\n", kDirectionNames[int(direction)], bufferKiB);
    return ok;
}

bool runRawCopy(Direction direction, uint64_t bytes, int bufferKiB, const Paths &paths, LoopCalls loopCalls,
                Pass &pass)
{
    size_t chunk = size_t(bufferKiB) * 1024;
    switch (direction) {
    case Direction::DiskToFile:
        DeleteFileA(paths.image.c_str());
        return rawDiskToFile(paths.disk0.c_str(), paths.image.c_str(), chunk, bytes, loopCalls, pass);
    case Direction::FileToDisk:
        return rawFileToDisk(paths.image.c_str(), paths.disk1.c_str(), chunk, bytes, loopCalls, pass);
    case Direction::DiskToDisk:
        return rawDiskToDisk(paths.disk0.c_str(), paths.disk1.c_str(), chunk, bytes, loopCalls, pass);
    }
    return false;
}

/* One round of a cell: the transfer and the three raw copies, in an order that rotates from
   round to round so that none always meets the cache another left. */
bool runCell(Direction direction, int32_t sectors, int bufferKiB, const Paths &paths, int turn, Pass &real,
             Pass &raw, Pass &rawLoop, Pass &rawLoopMs)
{
    const uint64_t bytes = uint64_t(sectors) * kSectorSize;
    bool ok = true;
    for (int step = 0; step < 4 && ok; ++step)
        switch ((turn + step) % 4) {
        case 0: ok = runRealTransfer(direction, sectors, bufferKiB, paths, real); break;
        case 1: ok = runRawCopy(direction, bytes, bufferKiB, paths, LoopCalls::None, raw); break;
        case 2: ok = runRawCopy(direction, bytes, bufferKiB, paths, LoopCalls::EveryChunk, rawLoop); break;
        case 3: ok = runRawCopy(direction, bytes, bufferKiB, paths, LoopCalls::EveryMillisecond, rawLoopMs); break;
        }
    return ok;
}

void printThroughput(const Cell (&cells)[3][3], uint64_t bytes)
{
    const double mib = double(bytes) / kMiB, gib = mib / 1024;
    std::printf("\nThroughput, %0.f MB per pass, median of %zu rounds (MB = 2^20 bytes)\n", mib,
                cells[0][0].real.size());
    std::printf("raw: the plain copy; raw+loop: the same with the loop's pump pass per chunk and its\n"
                "percentage display; ratios are raw time / real time, per round. raw+1ms: raw+loop with\n"
                "the queue looked at only once a millisecond (not what the program does), against raw\n");
    std::printf("%-13s %6s %9s %9s %6s %11s %9s %6s %8s %6s %9s %8s\n", "direction", "buffer", "real MB/s", "raw MB/s",
                "ratio", "min-max", "raw+loop", "ratio", "raw+1ms", "ratio", "CPU s/GiB", "raw CPU");
    for (int d = 0; d < 3; ++d)
        for (int b = 0; b < 3; ++b) {
            const Cell &cell = cells[d][b];
            std::vector<double> real, raw, rawLoop, rawLoopMs, ratio, loopRatio, msRatio, realCpu, rawCpu;
            for (size_t r = 0; r < cell.real.size(); ++r) {
                real.push_back(mib / cell.real[r].seconds);
                raw.push_back(mib / cell.raw[r].seconds);
                rawLoop.push_back(mib / cell.rawLoop[r].seconds);
                rawLoopMs.push_back(mib / cell.rawLoopMs[r].seconds);
                ratio.push_back(cell.raw[r].seconds / cell.real[r].seconds);
                loopRatio.push_back(cell.rawLoop[r].seconds / cell.real[r].seconds);
                msRatio.push_back(cell.raw[r].seconds / cell.rawLoopMs[r].seconds);
                realCpu.push_back(cell.real[r].cpu / gib);
                rawCpu.push_back(cell.raw[r].cpu / gib);
            }
            std::printf("%-13s %3d KB %9.0f %9.0f %6.2f %5.2f-%-5.2f %9.0f %6.2f %8.0f %6.2f %9.2f %8.2f\n",
                        kDirectionNames[d], kBufferKiB[b], median(real), median(raw), median(ratio),
                        *std::min_element(ratio.begin(), ratio.end()), *std::max_element(ratio.begin(), ratio.end()),
                        median(rawLoop), median(loopRatio), median(rawLoopMs), median(msRatio), median(realCpu),
                        median(rawCpu));
        }
}

void printSteps(int32_t sectors, const Paths &paths)
{
    std::printf("\nWhere the time of a chunk goes (microseconds per chunk, %d MB per run; a clock read "
                "costs %.3f us)\n", int(int64_t(sectors) * kSectorSize >> 20), clockReadSeconds() * 1e6);
    std::printf("%-13s %6s %8s %9s %9s %8s %9s %9s\n", "direction", "buffer", "pump", "request", "percent", "file",
                "total", "messages");
    for (int d = 0; d < 3; ++d)
        for (int b = 0; b < 3; ++b) {
            StepTimes t;
            if (!timeChunkSteps(Direction(d), sectors, kBufferKiB[b] * 2, paths.image.c_str(), t)) {
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
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestrova_bench FOLDER [MIB [ROUNDS [bus]]]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int64_t mib = argc > 2 ? std::atoll(argv[2]) : 1024;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const bool busOnly = argc > 4 && std::strcmp(argv[4], "bus") == 0;
    const int32_t sectors = int32_t(mib * (1 << 20) / kSectorSize);
    const uint64_t bytes = uint64_t(sectors) * kSectorSize;
    const Paths paths{folder + "\\disk0.img", folder + "\\disk1.img", folder + "\\image.img"};

    initBenchState();
    const MemoryFigures atStart = memoryFigures();
    double start = nowSeconds();
    if (loadBusConfig(folder, "transfer.ini", transferBusConfig(mib)) != 1 || !scanBus(appState.mainForm) ||
        adapterTable.adapters[0].devices[0].sectorCount != sectors) {
        std::printf("!! the bus with two disks of %lld MB could not be loaded\n", (long long)mib);
        return 1;
    }
    std::printf("bus: two disks of %lld MB (fill = lba) ready in %.1f s\n", (long long)mib, nowSeconds() - start);
    const MemoryFigures ready = memoryFigures();

    /* Bring both images and the file into the cache once, so no pass pays for the first read. */
    Pass warm;
    runRawCopy(Direction::DiskToFile, bytes, 64, paths, LoopCalls::None, warm);
    runRawCopy(Direction::DiskToDisk, bytes, 64, paths, LoopCalls::None, warm);

    Cell cells[3][3];
    bool ok = true;
    for (int round = 0; round < rounds && ok && !busOnly; ++round)
        for (int b = 0; b < 3 && ok; ++b)
            for (int d = 0; d < 3 && ok; ++d) {
                Pass real, raw, rawLoop, rawLoopMs;
                ok = runCell(Direction(d), sectors, kBufferKiB[b], paths, round + b + d, real, raw, rawLoop, rawLoopMs);
                cells[d][b].real.push_back(real);
                cells[d][b].raw.push_back(raw);
                cells[d][b].rawLoop.push_back(rawLoop);
                cells[d][b].rawLoopMs.push_back(rawLoopMs);
                auto rate = [&](const Pass &pass) { return double(bytes) / kMiB / pass.seconds; };
                std::printf("round %d %-13s %2d KB: real %6.0f raw %6.0f raw+loop %6.0f raw+1ms %6.0f MB/s\n",
                            round + 1, kDirectionNames[d], kBufferKiB[b], rate(real), rate(raw), rate(rawLoop),
                            rate(rawLoopMs));
                std::fflush(stdout);
            }
    if (!ok)
        return 1;
    const MemoryFigures after = memoryFigures();
    if (!busOnly)
        printThroughput(cells, bytes);

    std::printf("\nMemory of the process (MB): at start, bus loaded, after all transfers\n");
    std::printf("  peak working set  %8.1f %8.1f %8.1f   (growth during the transfers %.2f)\n",
                atStart.peakWorkingSetMiB, ready.peakWorkingSetMiB, after.peakWorkingSetMiB,
                after.peakWorkingSetMiB - ready.peakWorkingSetMiB);
    std::printf("  peak pagefile     %8.1f %8.1f %8.1f   (growth during the transfers %.2f)\n",
                atStart.peakPagefileMiB, ready.peakPagefileMiB, after.peakPagefileMiB,
                after.peakPagefileMiB - ready.peakPagefileMiB);
    std::printf("  largest I/O buffer 0.06; devices of %lld MB each\n", (long long)mib);

    if (!busOnly)
        printSteps(std::min<int32_t>(sectors, (256 << 20) / kSectorSize), paths);

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
    if (!timeRequests(paths.disk0.c_str(), bytes, costs)) {
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

    if (!printInterleavedRequests(folder))
        return 1;

    std::printf("\nFull bus scan: 4 adapters x 16 targets, a disk at each of the 60 targets (ms)\n");
    struct {
        const char *completion;
        int delayMs;
        int repeats;
    } scans[] = {{"immediate", 0, 21}, {"async", 0, 3}, {"async", 1, 2}};
    for (const auto &scan : scans) {
        ScanTimes t;
        if (!timeFullScan(folder, scan.completion, scan.delayMs, scan.repeats, t)) {
            std::printf("!! scan with %s completion failed\n", scan.completion);
            return 1;
        }
        std::printf("  %-9s delay_ms=%d: median %8.2f  min %8.2f  max %8.2f  (%d requests, %d scans)\n",
                    scan.completion, scan.delayMs, t.medianSeconds * 1e3, t.minSeconds * 1e3, t.maxSeconds * 1e3,
                    t.requests, scan.repeats);
    }
    return 0;
}
