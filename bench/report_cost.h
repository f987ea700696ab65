/*
 * What the image report costs Disk to file: the SHA-256 of every byte written, and the report
 * beside the image. For each buffer size, pairs of the same transfer with the report off and on,
 * run in turn from the same settled files (pass_files.h), the order alternating; the median of
 * the per-pair ratios (time off / time on) with its quartiles.
 */
#ifndef KESTROVA_BENCH_REPORT_COST_H
#define KESTROVA_BENCH_REPORT_COST_H

#include "pass_files.h"
#include <cstdint>

/* Prints the table. False when a pass failed or a report was missing (after saying why). */
bool measureReportCost(const BenchFiles &files, uint64_t diskBytes, int pairs);

#endif
