/*
 * The bench of the archiving tests: a source disk of 256 sectors of patterned bytes and a
 * target of 0xEE bytes on the virtual bus (with a trace), the image path, the bus's READ(10)
 * requests, and a folder (KESTROVA_ARCHIVE_KEEP) where images and maps are kept for
 * archive_tools_check.sh, which lets ddrescue, ddrescuelog and sha256sum judge them.
 */
#ifndef KESTROVA_ARCHIVE_FIXTURE_H
#define KESTROVA_ARCHIVE_FIXTURE_H

#include "transfer_bench.h"
#include "app_state.h"
#include "archive.h"
#include "resource_ids.h"
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

constexpr int32_t kSectors = 256;
constexpr uint8_t kOldContents = 0xEE;

class Archive : public TransferBench {
protected:
    void SetUp() override
    {
        TransferBench::SetUp();
        source_ = patternBytes(5, size_t(kSectors) * 512);
        writeWholeFile(pathOf("source.img"), source_);
        writeWholeFile(pathOf("target.img"), Bytes(size_t(kSectors) * 512, kOldContents));
        appState.archive = ArchiveOptions();
        appState.bufferBlocks = 32;   /* 32 sectors a chunk */
        appState.transferSectors = kSectors;
    }
    void TearDown() override
    {
        appState.archive = ArchiveOptions();
        TransferBench::TearDown();
    }

    /* The source answers INQUIRY as the scan saw it: "VBUS    SAMPLER DISK    1.0 ", removable. */
    void useBus(const std::string &sourceExtra, const std::string &targetExtra = "",
                const std::string &product = "SAMPLER DISK", int64_t sectors = kSectors)
    {
        loadBus({{0, 1, 512, sectors, "source.img",
                  "vendor = VBUS\nproduct = \"" + product + "\"\nrevision = 1.0\nremovable = yes\n" + sourceExtra},
                 {0, 2, 512, sectors, "target.img", targetExtra}},
                "trace = trace.log");
        DeviceRecord &source = adapterTable.adapters[0].devices[1];
        std::snprintf(source.label, sizeof source.label, "1: VBUS    SAMPLER DISK    1.0 ");
        source.removable = 1;
    }
    void usePath(const std::string &name)
    {
        std::snprintf(appState.imagePath, kPathBufferSize, "%s", pathOf(name).c_str());
    }
    std::string trace() { return text("trace.log"); }
    std::string text(const std::string &name)
    {
        Bytes t = readWholeFile(pathOf(name));
        return std::string(t.begin(), t.end());
    }
    RescueMap mapOf(const std::string &name)
    {
        RescueMap map;
        EXPECT_EQ(int(parseMap(text(name), map)), int(MapVerdict::Usable)) << name;
        return map;
    }

    /* A thread that clicks ABORT on the progress box once the bus's trace satisfies seen (or
       after some 10 s). */
    std::thread clickAbortWhen(std::function<bool(const std::string &)> seen)
    {
        return std::thread([this, seen] {
            for (int i = 0; i < 10000 && !seen(trace()); i++)
                Sleep(1);
            PostMessageA(GetDlgItem(appState.progressBox, IDC_ABORT), BM_CLICK, 0, 0);
        });
    }

    /* The source with the given sectors zeroed. */
    Bytes sourceWithZeros(const std::vector<int> &sectors) const
    {
        Bytes expected = source_;
        for (int s : sectors)
            std::fill(expected.begin() + s * 512, expected.begin() + (s + 1) * 512, 0);
        return expected;
    }
    /* For archive_tools_check.sh, under the name given. */
    void keep(const std::string &name, const std::string &as)
    {
        char folder[MAX_PATH];
        if (GetEnvironmentVariableA("KESTROVA_ARCHIVE_KEEP", folder, sizeof folder)) {
            CreateDirectoryA(folder, nullptr);
            EXPECT_TRUE(CopyFileA(pathOf(name).c_str(), (std::string(folder) + "\\" + as).c_str(), FALSE)) << as;
        }
    }

    Bytes source_;
};

/* The READ(10) requests of a trace from a given offset on, as "lba+count" texts. */
inline std::vector<std::string> readsIn(const std::string &trace, size_t from = 0)
{
    std::vector<std::string> reads;
    for (size_t at = trace.find("cdb=28 ", from); at != std::string::npos; at = trace.find("cdb=28 ", at + 1)) {
        unsigned b[10];
        std::sscanf(trace.c_str() + at + 4, "%x %x %x %x %x %x %x %x %x %x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
                    &b[6], &b[7], &b[8], &b[9]);
        reads.push_back(std::to_string(b[2] << 24 | b[3] << 16 | b[4] << 8 | b[5]) + "+" + std::to_string(b[7] << 8 | b[8]));
    }
    return reads;
}

#endif
