/* 64 KB requests through the bus, each beside the same read or write of the image file. */
#include "interleaved_requests.h"
#include "aspi.h"
#include "bench_setup.h"
#include "raw_copy.h"
#include <cstdio>
#include <vector>

bool printInterleavedRequests(const std::string &folder)
{
    constexpr int kRequests = 400;
    constexpr uint32_t kBytes = 65536, kSectors = kBytes / 512, kSpanChunks = 128;   /* 8 MB */
    if (loadBusConfig(folder, "interleaved.ini",
                      "[adapter 0]\r\n[device 0:0]\r\nsize = 8M\r\nimage = interleaved.img\r\nfill = lba\r\n") != 1) {
        std::printf("!! the bus with one 8 MB disk could not be loaded\n");
        return false;
    }
    const SendASPI32CommandFn send = lookupSendCommand();
    HANDLE image = openDiskImage((folder + "\\interleaved.img").c_str());
    if (!send || image == INVALID_HANDLE_VALUE) {
        std::printf("!! no entry point or no image for the interleaved requests\n");
        return false;
    }
    std::vector<uint8_t> buffer(kBytes);
    double fileSeconds = 0, busSeconds = 0;
    bool ok = true;
    for (int i = 0; i < kRequests && ok; ++i) {
        const bool write = i % 2;
        const uint32_t chunk = uint32_t(i) % kSpanChunks;
        double t0 = nowSeconds();
        ok = write ? writeAt(image, uint64_t(chunk) * kBytes, buffer.data(), kBytes)
                   : readAt(image, uint64_t(chunk) * kBytes, buffer.data(), kBytes);
        double t1 = nowSeconds();
        ok = ok && executeTransfer(send, write ? TransferDirection::Write : TransferDirection::Read, 0, 0,
                                   chunk * kSectors, kSectors, buffer.data(), kBytes) == SS_COMP;
        double t2 = nowSeconds();
        fileSeconds += t1 - t0;
        busSeconds += t2 - t1;
    }
    CloseHandle(image);
    if (!ok) {
        std::printf("!! an interleaved request or file operation failed\n");
        return false;
    }
    std::printf("\n%d requests of 64 KB, reads and writes in turn, each beside the same file operation\n",
                kRequests);
    std::printf("  file alone %8.1f ms, through the bus %8.1f ms, difference per request %+8.2f us\n",
                fileSeconds * 1e3, busSeconds * 1e3, (busSeconds - fileSeconds) / kRequests * 1e6);
    return true;
}
