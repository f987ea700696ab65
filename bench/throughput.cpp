/* The paired throughput measurements and their table. */
#include "throughput.h"
#include "app_state.h"
#include "bench_setup.h"
#include "raw_copy.h"
#include "slowdown.h"
#include "transfers.h"
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr int32_t kSectorSize = 512;

enum Side { kTransfer, kFloor, kRaw, kRawMs, kSides };

struct Cell {
    Direction direction;
    int b;                 /* index of the buffer size */
    uint64_t bytes;        /* moved by every pass of the cell */
    std::vector<Pass> passes[kSides];   /* the measured rounds, in order */
    std::vector<double> floorSeconds;   /* every floor pass so far, the warm-up's included */
    std::vector<double> extraPerChunk;  /* the slowdown's busy wait per chunk, per transfer */
};

}  // namespace

double quantile(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    const double at = q * double(values.size() - 1);
    const size_t below = size_t(at);
    if (below + 1 >= values.size())
        return values.back();
    return values[below] + (at - double(below)) * (values[below + 1] - values[below]);
}

double median(const std::vector<double> &values)
{
    return quantile(values, 0.5);
}

bool runTransferPass(Direction direction, int b, uint64_t bytes, const BenchFiles &files, Pass &pass)
{
    const int32_t sectors = int32_t(bytes / kSectorSize);
    appState.transferSectors = sectors;
    appState.bufferBlocks = kBufferKiB[b] * 2;
    appState.sourceAdapter = 0;
    appState.sourceDevice = 0;
    appState.targetAdapter = 0;
    appState.targetDevice = 1;
    const std::string &image = direction == Direction::FileToDisk ? files.source[b] : files.output;
    std::snprintf(appState.imagePath, kPathBufferSize, "%s", image.c_str());

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
    if (direction == Direction::DiskToFile && imageFileSize(files.output.c_str()) != int64_t(bytes))
        ok = false;
    if (!ok)
        std::printf("!! %s with %d KB did not complete as expected\n", kDirectionNames[int(direction)],
                    kBufferKiB[b]);
    return ok;
}

namespace {

bool runRawCopy(const Cell &cell, const BenchFiles &files, LoopCalls loopCalls, Pass &pass)
{
    const size_t chunk = size_t(kBufferKiB[cell.b]) * 1024;
    switch (cell.direction) {
    case Direction::DiskToFile:
        return rawDiskToFile(files.disk0.c_str(), files.output.c_str(), chunk, cell.bytes, loopCalls, pass);
    case Direction::FileToDisk:
        return rawFileToDisk(files.source[cell.b].c_str(), files.disk1.c_str(), chunk, cell.bytes, loopCalls, pass);
    case Direction::DiskToDisk:
        return rawDiskToDisk(files.disk0.c_str(), files.disk1.c_str(), chunk, cell.bytes, loopCalls, pass);
    }
    return false;
}

/* The slowdown's busy wait per chunk: percent of the median floor pass so far, spread over the
   pass's chunks. */
double extraPerChunk(const Cell &cell, double percent)
{
    if (percent <= 0 || cell.floorSeconds.empty())
        return 0;
    const double chunks = double(cell.bytes / (uint64_t(kBufferKiB[cell.b]) * 1024));
    return percent / 100 * median(cell.floorSeconds) / chunks;
}

bool runPass(Cell &cell, Side side, const BenchFiles &files, const ThroughputOptions &options, Pass &pass,
             double &settleSeconds)
{
    const double settleStart = nowSeconds();
    if (!settleFiles(files, cell.direction, cell.b, cell.bytes))
        return false;
    settleSeconds += nowSeconds() - settleStart;
    switch (side) {
    case kTransfer: {
        if (options.slowdownPercent <= 0)
            return runTransferPass(cell.direction, cell.b, cell.bytes, files, pass);
        const double extra = extraPerChunk(cell, options.slowdownPercent);
        cell.extraPerChunk.push_back(extra);
        SlowedTransfers slowed(cell.direction == Direction::DiskToDisk ? extra / 2 : extra);
        return runTransferPass(cell.direction, cell.b, cell.bytes, files, pass);
    }
    case kFloor:
        if (!runRawCopy(cell, files, LoopCalls::EveryChunk, pass))
            return false;
        cell.floorSeconds.push_back(pass.seconds);
        return true;
    case kRaw:
        return runRawCopy(cell, files, LoopCalls::None, pass);
    case kRawMs:
        return runRawCopy(cell, files, LoopCalls::EveryMillisecond, pass);
    case kSides:
        break;
    }
    return false;
}

/* Round 0 is the warm-up, floor first (the slowdown needs a floor time); then the pair's order
   alternates from round to round and from cell to cell. */
void roundOrder(int round, int cellIndex, Side (&order)[kSides])
{
    static const Side transferFirst[kSides] = {kTransfer, kFloor, kRaw, kRawMs};
    static const Side floorFirst[kSides] = {kFloor, kTransfer, kRawMs, kRaw};
    const Side *chosen = round > 0 && (round + cellIndex) % 2 ? transferFirst : floorFirst;
    std::copy(chosen, chosen + kSides, order);
}

void printTable(const std::vector<Cell> &cells, const ThroughputOptions &options)
{
    const Cell &last = cells.back();
    std::printf("\nThroughput in pairs, %zu pairs per cell after one warm-up round (MB = 2^20 bytes)\n",
                last.passes[kTransfer].size());
    std::printf("Every pass moves %llu chunks:", (unsigned long long)(last.bytes / (kBufferKiB[last.b] * 1024ull)));
    for (int b = 0; b < kBufferSizes; ++b)
        std::printf(" %llu MB at %d KB%s", (unsigned long long)(cells[size_t(b) * kDirections].bytes >> 20),
                    kBufferKiB[b], b + 1 < kBufferSizes ? "," : ".\n");
    std::printf("ratio: raw+loop time / transfer time of each pair, its median, quartiles and extremes.\n"
                "raw: the plain copy, its ratio raw time / transfer time; raw+1ms: raw+loop with the queue\n"
                "looked at only once a millisecond (not what the program does), its ratio raw / raw+1ms.\n");
    if (options.slowdownPercent > 0)
        std::printf("SLOWED ON PURPOSE: every transfer waits %.1f%% of its floor's time more, spread over its chunks.\n",
                    options.slowdownPercent);
    std::printf("%-13s %6s %9s %9s %6s %11s %11s %8s %6s %8s %6s %9s %8s%s\n", "direction", "buffer",
                "real MB/s", "raw+loop", "ratio", "p25-p75", "min-max", "raw", "ratio", "raw+1ms", "ratio",
                "CPU s/GiB", "raw CPU", options.slowdownPercent > 0 ? "  added us/chunk" : "");
    for (const Cell &cell : cells) {
        const double mib = double(cell.bytes) / kMiB, gib = mib / 1024;
        std::vector<double> rate[kSides], ratio, rawRatio, msRatio, realCpu, rawCpu;
        for (size_t r = 0; r < cell.passes[kTransfer].size(); ++r) {
            for (int s = 0; s < kSides; ++s)
                rate[s].push_back(mib / cell.passes[s][r].seconds);
            const double real = cell.passes[kTransfer][r].seconds;
            ratio.push_back(cell.passes[kFloor][r].seconds / real);
            rawRatio.push_back(cell.passes[kRaw][r].seconds / real);
            msRatio.push_back(cell.passes[kRaw][r].seconds / cell.passes[kRawMs][r].seconds);
            realCpu.push_back(cell.passes[kTransfer][r].cpu / gib);
            rawCpu.push_back(cell.passes[kRaw][r].cpu / gib);
        }
        std::printf("%-13s %3d KB %9.0f %9.0f %6.3f %5.3f-%5.3f %5.3f-%5.3f %8.0f %6.2f %8.0f %6.2f %9.2f %8.2f",
                    kDirectionNames[int(cell.direction)], kBufferKiB[cell.b], median(rate[kTransfer]),
                    median(rate[kFloor]), median(ratio), quantile(ratio, 0.25), quantile(ratio, 0.75),
                    quantile(ratio, 0), quantile(ratio, 1), median(rate[kRaw]), median(rawRatio),
                    median(rate[kRawMs]), median(msRatio), median(realCpu), median(rawCpu));
        if (options.slowdownPercent > 0)
            std::printf("  %14.2f", median(cell.extraPerChunk) * 1e6);
        std::printf("\n");
    }
}
}  // namespace

bool measureThroughput(const BenchFiles &files, uint64_t diskBytes, const ThroughputOptions &options)
{
    std::vector<Cell> cells;
    for (int b = 0; b < kBufferSizes; ++b)
        for (int d = 0; d < kDirections; ++d)
            cells.push_back(Cell{Direction(d), b, passBytes(b, diskBytes), {}, {}, {}});

    const double start = nowSeconds();
    double settleSeconds = 0;
    for (int round = 0; round <= options.pairs; ++round) {
        for (size_t c = 0; c < cells.size(); ++c) {
            Cell &cell = cells[c];
            Side order[kSides];
            roundOrder(round, int(c), order);
            Pass pass[kSides];
            for (Side side : order)
                if (!runPass(cell, side, files, options, pass[side], settleSeconds))
                    return false;
            if (round > 0)
                for (int s = 0; s < kSides; ++s)
                    cell.passes[s].push_back(pass[s]);
            const double mib = double(cell.bytes) / kMiB;
            std::printf("%-7s %2d %-13s %2d KB: %s first, transfer %6.0f raw+loop %6.0f MB/s ratio %5.3f;"
                        " raw %6.0f raw+1ms %6.0f MB/s\n", round ? "pair" : "warm-up", round,
                        kDirectionNames[int(cell.direction)], kBufferKiB[cell.b],
                        order[0] == kTransfer ? "transfer" : "floor   ", mib / pass[kTransfer].seconds,
                        mib / pass[kFloor].seconds, pass[kFloor].seconds / pass[kTransfer].seconds,
                        mib / pass[kRaw].seconds, mib / pass[kRawMs].seconds);
            std::fflush(stdout);
        }
    }
    std::printf("(the throughput rounds took %.0f s, of which %.0f s settling the files before the passes)\n",
                nowSeconds() - start, settleSeconds);
    if (options.pairs > 0)
        printTable(cells, options);
    return true;
}
