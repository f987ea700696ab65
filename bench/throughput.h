/*
 * The throughput of the three transfers against their floor, measured in pairs. Each cell
 * (direction and buffer size) runs one warm-up round and then `pairs` rounds; a round runs the
 * transfer and its floor (raw+loop: the raw copy with the pump pass and percentage display the
 * loop must make) back to back, transfer first in one round and floor first in the next, then
 * the plain raw copy and raw+1ms for comparison. Every pass starts from the same settled files
 * (pass_files.h). The rounds go through all nine cells in turn, so that a change of the
 * machine's load reaches every cell alike. A cell's ratio is the median of its per-pair ratios
 * (floor time / transfer time), printed with their quartiles and extremes.
 */
#ifndef KESTROVA_BENCH_THROUGHPUT_H
#define KESTROVA_BENCH_THROUGHPUT_H

#include "bench_setup.h"
#include "pass_files.h"
#include <cstdint>
#include <vector>

struct ThroughputOptions {
    int pairs = 15;
    /* Off at 0. Otherwise every transfer pays, per chunk, this share of its floor's time (the
       median of the cell's floor passes so far) on top: a regression made on purpose. */
    double slowdownPercent = 0;
};

/* One transfer of `bytes` in direction with the buffer of index b, as the main form starts it;
   false (after saying why) when it asked a question or did not complete. */
bool runTransferPass(Direction direction, int b, uint64_t bytes, const BenchFiles &files, Pass &pass);

/* The q-quantile of values, interpolated; the median is q = 0.5. */
double quantile(std::vector<double> values, double q);
double median(const std::vector<double> &values);

/* Prints the rounds as they end, then the table. False when a pass failed (after saying why). */
bool measureThroughput(const BenchFiles &files, uint64_t diskBytes, const ThroughputOptions &options);

#endif
