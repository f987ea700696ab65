/* The transfer loops with a clock around each step of a chunk. */
#include "chunk_steps.h"
#include "app_state.h"
#include "aspi.h"
#include "bench_setup.h"
#include "chunk_rule.h"
#include "progress_box.h"
#include "transfer_loop.h"
#include <cstdio>
#include <cstdlib>

double clockReadSeconds()
{
    constexpr int kReads = 100000;
    double start = nowSeconds();
    for (int i = 0; i < kReads - 1; ++i)
        nowSeconds();
    return (nowSeconds() - start) / kReads;
}

bool timeChunkSteps(Direction direction, int32_t sectors, int32_t bufferBlocks, const char *imagePath,
                    StepTimes &times)
{
    constexpr int32_t kSectorSize = 512;
    const uint64_t bufferBytes = ioBufferBytesFor(bufferBlocks);
    const SendASPI32CommandFn send = lookupSendCommand();
    FILE *file = nullptr;
    if (direction == Direction::DiskToFile)
        file = std::fopen(imagePath, "wb");
    else if (direction == Direction::FileToDisk)
        file = std::fopen(imagePath, "rb");
    if (direction != Direction::DiskToDisk && !file)
        return false;
    if (file)
        std::setvbuf(file, nullptr, _IONBF, 0);
    uint8_t *buffer = static_cast<uint8_t *>(std::malloc(size_t(bufferBytes)));
    appState.abortRequested = 0;
    openProgressBox("Kestrova bench: where the time of a chunk goes");

    const int32_t perBuffer = sectorsPerBuffer(bufferBytes, kSectorSize);
    const bool write = direction != Direction::DiskToFile;
    int32_t sectorsDone = 0;
    bool ok = true;
    MSG message;
    times = StepTimes();
    double start = nowSeconds();
    while (ok && !appState.abortRequested && sectorsDone < sectors) {
        double t0 = nowSeconds();
        bool pumped = pumpOneMessage(message);
        double t1 = nowSeconds();
        if (pumped) {
            times.messages++;
            continue;
        }
        times.pump += t1 - t0;
        int32_t chunkSectors = nextChunkSectors(perBuffer, sectorsDone, sectors);
        uint32_t chunkBytes = uint32_t(chunkSectors) * kSectorSize;
        if (direction == Direction::FileToDisk) {
            ok = std::fread(buffer, 1, chunkBytes, file) == chunkBytes;
            double t2 = nowSeconds();
            ok = ok && executeTransfer(send, TransferDirection::Write, 0, 1, uint32_t(sectorsDone),
                                       uint32_t(chunkSectors), buffer, chunkBytes) == SS_COMP;
            double t3 = nowSeconds();
            sectorsDone += chunkSectors;
            showPercent(transferPercent(sectorsDone, sectors));
            double t4 = nowSeconds();
            times.file += t2 - t1;
            times.request += t3 - t2;
            times.percent += t4 - t3;
        } else {
            ok = executeTransfer(send, TransferDirection::Read, 0, 0, uint32_t(sectorsDone), uint32_t(chunkSectors),
                                 buffer, chunkBytes) == SS_COMP;
            if (write)
                ok = ok && executeTransfer(send, TransferDirection::Write, 0, 1, uint32_t(sectorsDone),
                                           uint32_t(chunkSectors), buffer, chunkBytes) == SS_COMP;
            double t2 = nowSeconds();
            showPercent(transferPercent(sectorsDone, sectors));
            double t3 = nowSeconds();
            if (direction == Direction::DiskToFile)
                ok = ok && std::fwrite(buffer, 1, chunkBytes, file) == chunkBytes;
            double t4 = nowSeconds();
            sectorsDone += chunkSectors;
            times.request += t2 - t1;
            times.percent += t3 - t2;
            times.file += t4 - t3;
        }
        times.chunks++;
    }
    times.total = nowSeconds() - start;
    closeProgressBox();
    std::free(buffer);
    if (file)
        std::fclose(file);
    return ok;
}

namespace {
template <typename F>
void perCall(int count, double &wall, double *cpu, F f)
{
    double start = nowSeconds(), startCpu = cpuSeconds();
    for (int i = 0; i < count; ++i)
        f(i);
    wall = (nowSeconds() - start) / count;
    if (cpu)
        *cpu = (cpuSeconds() - startCpu) / count;
}
}  // namespace

void timeLoopCalls(CallCosts &costs)
{
    appState.abortRequested = 0;
    openProgressBox("Kestrova bench: the loop's own steps");
    MSG message;
    while (pumpOneMessage(message))   /* the box's first messages */
        ;
    int64_t handled = 0;
    perCall(20000, costs.pumpWall, &costs.pumpCpu, [&](int) { handled += pumpOneMessage(message); });
    perCall(20000, costs.peekNoYieldWall, &costs.peekNoYieldCpu,
            [&](int) { handled += PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD); });
    perCall(20000, costs.queueStatusWall, &costs.queueStatusCpu,
            [&](int) { handled += GetQueueStatus(QS_ALLINPUT) != 0; });
    perCall(2000, costs.percentChangeWall, &costs.percentChangeCpu, [](int i) { showPercent(i % 101); });
    perCall(200000, costs.percentSameWall, nullptr, [](int) { showPercent(100); });
    closeProgressBox();
    if (handled)
        std::printf("   (%lld messages arrived while the pump was timed)\n", (long long)handled);
}
