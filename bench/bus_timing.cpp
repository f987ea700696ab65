/* Timings of the virtual bus: bus scans and single requests. */
#include "bus_timing.h"
#include "app_state.h"
#include "aspi.h"
#include "bench_setup.h"
#include "bus_scan.h"
#include "raw_copy.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
std::string fullBusConfig(const char *completion, int delayMs)
{
    std::string text = "[bus]\r\nadapters = 4\r\ncompletion = " + std::string(completion) +
                       "\r\ndelay_ms = " + std::to_string(delayMs) + "\r\n";
    for (int adapter = 0; adapter < 4; ++adapter) {
        text += "[adapter " + std::to_string(adapter) + "]\r\nscsi_id = 7\r\nmax_targets = 16\r\n";
        for (int target = 0; target < 16; ++target)
            if (target != 7)
                text += "[device " + std::to_string(adapter) + ":" + std::to_string(target) + "]\r\nsectors = 2048\r\n";
    }
    return text;
}

/* Seconds per call of f, over `count` calls. */
template <typename F>
double perCall(int count, F f)
{
    double start = nowSeconds();
    for (int i = 0; i < count; ++i)
        f(i);
    return (nowSeconds() - start) / count;
}
}  // namespace

bool timeFullScan(const std::string &folder, const char *completion, int delayMs, int repeats, ScanTimes &times)
{
    if (loadBusConfig(folder, std::string("scan-") + completion + ".ini", fullBusConfig(completion, delayMs)) != 4)
        return false;
    std::vector<double> seconds;
    for (int i = 0; i < repeats; ++i) {
        double start = nowSeconds();
        if (!scanBus(appState.mainForm))
            return false;
        seconds.push_back(nowSeconds() - start);
    }
    std::sort(seconds.begin(), seconds.end());
    times.medianSeconds = seconds[seconds.size() / 2];
    times.minSeconds = seconds.front();
    times.maxSeconds = seconds.back();
    /* Per adapter one inquiry, per disk an INQUIRY, a device type and a READ CAPACITY. */
    times.requests = 4 * (1 + 15 * 3);
    int found = 0;
    for (int adapter = 0; adapter < 4; ++adapter)
        for (int target = 0; target < 16; ++target)
            if (adapterTable.adapters[adapter].devices[target].sectorCount == 2048)
                found++;
    if (found != 60) {
        std::printf("!! scan found %d of the 60 disks\n", found);
        return false;
    }
    return true;
}

bool timeRequests(const char *diskImage, uint64_t diskBytes, RequestCosts &costs)
{
    const SendASPI32CommandFn send = lookupSendCommand();
    if (!send)
        return false;
    constexpr int kCalls = 100000;
    uint8_t buffer[64 * 1024];
    bool ok = true;

    costs.sendEmpty = perCall(kCalls, [&](int i) {
        SRB_ExecSCSICmd request;
        buildTransferRequest(request, TransferDirection::Read, 0, 0, uint32_t(i % 1024), 0, buffer, 0);
        ok = ok && send(&request) == SS_COMP;
    });
    costs.executeEmpty = perCall(kCalls, [&](int i) {
        ok = ok && executeTransfer(send, TransferDirection::Read, 0, 0, uint32_t(i % 1024), 0, buffer, 0) == SS_COMP;
    });
    costs.deviceType = perCall(kCalls, [&](int) {
        SRB_GDEVBlock request;
        std::memset(&request, 0, sizeof request);
        request.SRB_Cmd = SC_GET_DEV_TYPE;
        ok = ok && sendAndWait(send, &request) == SS_COMP;
    });

    /* The same 64 MB of the disk, through the bus and straight from its image, both cached. */
    HANDLE disk = openDiskImage(diskImage);
    if (disk == INVALID_HANDLE_VALUE)
        return false;
    const uint32_t sizes[3] = {4096, 16384, 65536};
    const uint64_t kSpan = diskBytes < (64ull << 20) ? diskBytes : 64ull << 20;
    for (int s = 0; s < 3; ++s) {
        const uint32_t bytes = sizes[s], sectors = bytes / 512;
        const int count = int(kSpan / bytes);
        for (int round = 0; round < 2; ++round) {   /* the first round brings the span into the cache */
            costs.readViaBus[s] = perCall(count, [&](int i) {
                ok = ok && executeTransfer(send, TransferDirection::Read, 0, 0, uint32_t(i) * sectors, sectors, buffer,
                                           bytes) == SS_COMP;
            });
            costs.readDirect[s] = perCall(count, [&](int i) {
                ok = ok && readAt(disk, uint64_t(i) * bytes, buffer, bytes);
            });
        }
    }
    CloseHandle(disk);
    return ok;
}
