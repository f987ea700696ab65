/*
 * What every measurement of the benchmark shares: the program's state as the main form would
 * leave it, the virtual bus loaded from a configuration written here, clocks, and a guard that
 * answers any message box so that an unexpected one ends a pass instead of hanging the run.
 */
#ifndef KESTROVA_BENCH_SETUP_H
#define KESTROVA_BENCH_SETUP_H

#include <windows.h>
#include <cstdint>
#include <string>

/* A plain window as the main form, the shared text buffers, the message box guard. */
void initBenchState();

/* Writes text as folder\name, points the virtual bus at it and has the bus read it; the adapter
   count it reports, or -1. The first call loads wnaspi32.dll as the program does. */
int loadBusConfig(const std::string &folder, const std::string &name, const std::string &text);

/* Message boxes that appeared since the last call (each was answered and printed). */
int unexpectedMessageBoxes();

double nowSeconds();
/* User plus kernel time of this process so far. */
double cpuSeconds();

struct MemoryFigures {
    double peakWorkingSetMiB;
    double peakPagefileMiB;
    double workingSetMiB;
    double pagefileMiB;
};
MemoryFigures memoryFigures();

/* One timed pass: wall and process CPU seconds. */
struct Pass {
    double seconds = 0;
    double cpu = 0;
};

constexpr double kMiB = 1024.0 * 1024.0;

#endif
