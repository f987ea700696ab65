/* The raw copy loops of the floor. */
#include "raw_copy.h"
#include "progress_box.h"
#include "transfer_loop.h"
#include <cstdio>
#include <cstdlib>

namespace {
struct Timer {
    Pass &pass;
    double start = nowSeconds(), startCpu = cpuSeconds();
    explicit Timer(Pass &p) : pass(p) {}
    void stop()
    {
        pass.seconds = nowSeconds() - start;
        pass.cpu = cpuSeconds() - startCpu;
    }
};

/* The transfer loop's pump pass and percentage display, or nothing. */
class LoopCallsDone {
public:
    explicit LoopCallsDone(LoopCalls calls) : calls_(calls)
    {
        if (calls_ != LoopCalls::None)
            openProgressBox("Kestrova bench: raw copy with the loop's calls");
    }
    ~LoopCallsDone()
    {
        if (calls_ != LoopCalls::None)
            closeProgressBox();
    }
    LoopCallsDone(const LoopCallsDone &) = delete;
    LoopCallsDone &operator=(const LoopCallsDone &) = delete;

    /* True when this pass handled a message, and so moves no chunk. */
    bool messageFirst()
    {
        if (calls_ == LoopCalls::None)
            return false;
        if (calls_ == LoopCalls::EveryMillisecond) {
            double now = nowSeconds();
            if (now - lastLook_ < 0.001)
                return false;
            lastLook_ = now;
        }
        return pumpOneMessage(message_);
    }
    void percent(uint64_t done, uint64_t bytes)
    {
        if (calls_ != LoopCalls::None)
            showPercent(int(done * 100 / bytes));
    }

private:
    LoopCalls calls_;
    double lastLook_ = -1;
    MSG message_ = {};
};

bool fail(const char *what)
{
    std::printf("!! raw copy: %s (error %lu)\n", what, GetLastError());
    return false;
}
}  // namespace

HANDLE openDiskImage(const char *path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

/* As the virtual bus moves sectors: the file pointer set, then one read or write. */
bool readAt(HANDLE file, uint64_t offset, void *buffer, DWORD length)
{
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    DWORD done = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buffer, length, &done, nullptr) &&
           done == length;
}

bool writeAt(HANDLE file, uint64_t offset, const void *buffer, DWORD length)
{
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    DWORD done = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && WriteFile(file, buffer, length, &done, nullptr) &&
           done == length;
}

bool rawDiskToFile(const char *diskImage, const char *outputPath, size_t chunk, uint64_t bytes, LoopCalls loopCalls,
                   Pass &pass)
{
    HANDLE disk = openDiskImage(diskImage);
    if (disk == INVALID_HANDLE_VALUE)
        return fail("cannot open the disk image");
    void *buffer = std::malloc(chunk);
    bool ok = true;
    Timer timer(pass);
    FILE *out = std::fopen(outputPath, "wb");
    if (!out) {
        ok = fail("cannot create the output");
    } else {
        std::setvbuf(out, nullptr, _IONBF, 0);
        LoopCallsDone calls(loopCalls);
        for (uint64_t done = 0; ok && done < bytes;) {
            if (calls.messageFirst())
                continue;
            ok = readAt(disk, done, buffer, DWORD(chunk));
            calls.percent(done, bytes);
            ok = ok && std::fwrite(buffer, 1, chunk, out) == chunk;
            done += chunk;
        }
        std::fclose(out);
    }
    timer.stop();
    std::free(buffer);
    CloseHandle(disk);
    return ok || fail("short read or write");
}

bool rawFileToDisk(const char *inputPath, const char *diskImage, size_t chunk, uint64_t bytes, LoopCalls loopCalls,
                   Pass &pass)
{
    HANDLE disk = openDiskImage(diskImage);
    if (disk == INVALID_HANDLE_VALUE)
        return fail("cannot open the disk image");
    void *buffer = std::malloc(chunk);
    bool ok = true;
    Timer timer(pass);
    FILE *in = std::fopen(inputPath, "rb");
    if (!in) {
        ok = fail("cannot open the input");
    } else {
        std::setvbuf(in, nullptr, _IONBF, 0);
        LoopCallsDone calls(loopCalls);
        for (uint64_t done = 0; ok && done < bytes;) {
            if (calls.messageFirst())
                continue;
            ok = std::fread(buffer, 1, chunk, in) == chunk && writeAt(disk, done, buffer, DWORD(chunk));
            done += chunk;
            calls.percent(done, bytes);
        }
        std::fclose(in);
    }
    timer.stop();
    std::free(buffer);
    CloseHandle(disk);
    return ok || fail("short read or write");
}

bool rawDiskToDisk(const char *sourceImage, const char *targetImage, size_t chunk, uint64_t bytes, LoopCalls loopCalls,
                   Pass &pass)
{
    HANDLE source = openDiskImage(sourceImage);
    HANDLE target = openDiskImage(targetImage);
    if (source == INVALID_HANDLE_VALUE || target == INVALID_HANDLE_VALUE)
        return fail("cannot open the disk images");
    void *buffer = std::malloc(chunk);
    bool ok = true;
    Timer timer(pass);
    {
        LoopCallsDone calls(loopCalls);
        for (uint64_t done = 0; ok && done < bytes;) {
            if (calls.messageFirst())
                continue;
            ok = readAt(source, done, buffer, DWORD(chunk)) && writeAt(target, done, buffer, DWORD(chunk));
            calls.percent(done, bytes);
            done += chunk;
        }
    }
    timer.stop();
    std::free(buffer);
    CloseHandle(source);
    CloseHandle(target);
    return ok || fail("short read or write");
}
