/* The cells of the throughput figures: three directions by three buffer sizes. */
#ifndef KESTROVA_BENCH_CELLS_H
#define KESTROVA_BENCH_CELLS_H

enum class Direction { DiskToFile, FileToDisk, DiskToDisk };

constexpr int kDirections = 3;
constexpr int kBufferSizes = 3;
constexpr int kBufferKiB[kBufferSizes] = {4, 16, 64};
constexpr const char *kDirectionNames[kDirections] = {"disk to file", "file to disk", "disk to disk"};

#endif
