/*
 * Where the time of a chunk goes: the loop of each direction with the transfer code's own
 * calls in the direction's order (pump, request(s), percentage, file), a clock read around
 * each step.
 */
#ifndef KESTROVA_BENCH_CHUNK_STEPS_H
#define KESTROVA_BENCH_CHUNK_STEPS_H

#include "cells.h"
#include <cstdint>

struct StepTimes {
    double pump = 0;        /* PeekMessage pass that found the queue empty */
    double request = 0;     /* executeTransfer, every request of the chunk */
    double percent = 0;     /* percentage and showPercent */
    double file = 0;        /* the image file's read or write */
    double total = 0;       /* the whole loop, clock reads included */
    int64_t chunks = 0;
    int64_t messages = 0;   /* passes that handled a message */
};

/* Runs the loop over `sectors` sectors of 512 bytes with a buffer of bufferBlocks * 512 bytes
   between the devices 0:0 (source) and 0:1 (target) and the file at imagePath. */
bool timeChunkSteps(Direction direction, int32_t sectors, int32_t bufferBlocks, const char *imagePath,
                    StepTimes &times);

/* Cost of one read of the clock that the steps use. */
double clockReadSeconds();

/* Wall and process CPU seconds per call of the loop's own steps, the progress box open. */
struct CallCosts {
    double pumpWall = 0, pumpCpu = 0;                  /* pump pass on an empty queue */
    double percentChangeWall = 0, percentChangeCpu = 0; /* showPercent with a new value */
    double percentSameWall = 0;                        /* showPercent with the value shown */
    /* For comparison, other ways of asking an empty queue (the loop does not use them). */
    double peekNoYieldWall = 0, peekNoYieldCpu = 0;    /* PeekMessageA with PM_REMOVE | PM_NOYIELD */
    double queueStatusWall = 0, queueStatusCpu = 0;    /* GetQueueStatus(QS_ALLINPUT) */
};
void timeLoopCalls(CallCosts &costs);
#endif
