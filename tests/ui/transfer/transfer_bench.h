/*
 * The bench of the transfer tests: a plain window standing in for the main form, the shared
 * text buffers, a folder of image files, the virtual bus (wnaspi32.dll of bin/vbus) with a
 * configuration written per test, and a watch on the progress box.
 */
#ifndef KESTROVA_TRANSFER_BENCH_H
#define KESTROVA_TRANSFER_BENCH_H

#include <gtest/gtest.h>
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct BusDevice {
    int adapter = 0;
    int target = 0;
    int32_t sectorSize = 512;
    int64_t sectors = 0;
    std::string image;       /* file name inside the bench folder */
    std::string extra;       /* further lines of the section ("fault = ...") */
};

/* Bytes that differ at every offset and between seeds, so that a shifted or repeated chunk shows. */
Bytes patternBytes(uint32_t seed, size_t length);

Bytes readWholeFile(const std::string &path);
void writeWholeFile(const std::string &path, const Bytes &bytes);
/* Bytes [offset, offset + length) of a file, read through a handle of its own. */
Bytes readFileRange(const std::string &path, int64_t offset, size_t length);
void writeFileRange(const std::string &path, int64_t offset, const Bytes &bytes);

/* Everything the progress box did during one transfer, seen through a thread hook. */
struct ProgressRecord {
    int boxesOpened = 0;
    int boxesDestroyed = 0;
    std::string description;
    std::vector<int> positions;          /* PBM_SETPOS values, in order */
    std::vector<std::string> labels;     /* texts set into the percentage */
    bool formDisabledWhileOpen = true;   /* at every position update */
    int formMessages = 0;                /* BoxAction::PostToForm messages the form received */
};

/* What the bench does to the progress box when the bar reaches a position. Each is posted, so it
   reaches the box through the transfer's own pump once the chunk in progress is done. */
enum class BoxAction {
    None,
    ClickAbort,          /* BM_CLICK on ABORT */
    PressEnter,          /* the default button by keyboard */
    PressEscape,
    FocusNotifications,  /* BN_SETFOCUS, BN_KILLFOCUS of ABORT, and IDCANCEL */
    PostToForm,          /* a message for another window of the thread */
    ChangeBuffer,        /* bufferBlocks becomes 128 */
};

class TransferBench : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string pathOf(const std::string &name) const { return folder_ + "\\" + name; }

    /* Writes the bus configuration (bus lines first) and has the library read it again. */
    void loadBus(const std::vector<BusDevice> &devices, const std::string &busLines = "");
    /* The device table entry the program would have from a scan. */
    void describeDevice(int adapter, int target, int32_t sectorSize, int32_t sectors);
    void selectSource(int adapter, int target);
    void selectTarget(int adapter, int target);

    /* action happens once, when the bar is next set to position. */
    void actAtPosition(int position, BoxAction action);

    ProgressRecord &progress();
    HWND form() const { return form_; }
    const std::string &folder() const { return folder_; }

private:
    std::string folder_;
    HWND form_ = nullptr;
    HHOOK hook_ = nullptr;
    bool busLoaded_ = false;
};

#endif
