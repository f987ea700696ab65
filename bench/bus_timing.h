/* The virtual bus's own costs: a full bus scan, and one request with and without data. */
#ifndef KESTROVA_BENCH_BUS_TIMING_H
#define KESTROVA_BENCH_BUS_TIMING_H

#include <cstdint>
#include <string>

struct ScanTimes {
    double medianSeconds = 0;
    double minSeconds = 0;
    double maxSeconds = 0;
    int requests = 0;     /* requests of one scan */
};

/* Scans of a bus of 4 adapters with 16 targets each, a disk at every target but the adapter's
   own; completion "immediate" or "async" (with delayMs). */
bool timeFullScan(const std::string &folder, const char *completion, int delayMs, int repeats, ScanTimes &times);

struct RequestCosts {
    double sendEmpty = 0;       /* SendASPI32Command, READ(10) of 0 sectors, seconds per request */
    double executeEmpty = 0;    /* executeTransfer of 0 sectors (block, send, wait) */
    double deviceType = 0;      /* SC_GET_DEV_TYPE */
    double readViaBus[3] = {};  /* executeTransfer READ of 4, 16 and 64 KB */
    double readDirect[3] = {};  /* ReadFile of the same bytes at the same offsets */
};

/* On the bus loaded now, device 0:0 of diskBytes backed by diskImage. */
bool timeRequests(const char *diskImage, uint64_t diskBytes, RequestCosts &costs);

#endif
