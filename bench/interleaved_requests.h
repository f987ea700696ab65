/*
 * What a 64 KB request through the virtual bus costs beside the file operation it comes down to:
 * reads and writes alternate, and each request is timed right after the same operation on the
 * image file, so that the load of a shared machine falls on both alike.
 */
#ifndef KESTROVA_BENCH_INTERLEAVED_REQUESTS_H
#define KESTROVA_BENCH_INTERLEAVED_REQUESTS_H

#include <string>

/* Loads a bus of one 8 MB disk (its image in folder), times the requests and prints the figures;
   false after printing what failed. */
bool printInterleavedRequests(const std::string &folder);

#endif
