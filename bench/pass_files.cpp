/* The files of the throughput passes: their names, the file to disk sources, their state before a pass. */
#include "pass_files.h"
#include "bench_setup.h"
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

namespace {
constexpr DWORD kStep = 1 << 20;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool fail(const char *what, const std::string &path)
{
    std::printf("!! %s %s (error %lu)\n", what, path.c_str(), GetLastError());
    return false;
}

/* Reads the first `bytes` of path, so that its pages are in the cache. */
bool readThrough(const std::string &path, uint64_t bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return fail("cannot read through", path);
    static std::vector<char> buffer(kStep);
    bool ok = true;
    for (uint64_t done = 0; ok && done < bytes; done += kStep) {
        DWORD want = DWORD(bytes - done < kStep ? bytes - done : kStep), got = 0;
        ok = ReadFile(file, buffer.data(), want, &got, nullptr) && got == want;
    }
    CloseHandle(file);
    return ok || fail("short read through", path);
}

/* Writes back every dirty page of path now; a file that does not exist has none. */
bool flush(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || fail("cannot open to flush", path);
    bool ok = FlushFileBuffers(file);
    CloseHandle(file);
    return ok || fail("cannot flush", path);
}

void emptyQueue()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
}  // namespace

BenchFiles benchFiles(const std::string &folder)
{
    BenchFiles files;
    files.disk0 = folder + "\\disk0.img";
    files.disk1 = folder + "\\disk1.img";
    files.output = folder + "\\image.img";
    for (int b = 0; b < kBufferSizes; ++b)
        files.source[b] = folder + "\\source" + std::to_string(kBufferKiB[b]) + "k.img";
    return files;
}

uint64_t passBytes(int b, uint64_t diskBytes)
{
    const uint64_t chunk = uint64_t(kBufferKiB[b]) * 1024;
    const uint64_t chunks = diskBytes / (uint64_t(kBufferKiB[kBufferSizes - 1]) * 1024);
    return (chunks ? chunks : 1) * chunk;
}

bool makeSourceImages(const BenchFiles &files, uint64_t diskBytes)
{
    HANDLE disk = CreateFileA(files.disk0.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (disk == INVALID_HANDLE_VALUE)
        return fail("cannot open", files.disk0);
    std::vector<char> buffer(kStep);
    bool ok = true;
    for (int b = 0; b < kBufferSizes && ok; ++b) {
        const uint64_t bytes = passBytes(b, diskBytes);
        HANDLE source = CreateFileA(files.source[b].c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (source == INVALID_HANDLE_VALUE)
            return fail("cannot create", files.source[b]);
        SetFilePointer(disk, 0, nullptr, FILE_BEGIN);
        for (uint64_t done = 0; ok && done < bytes; done += kStep) {
            DWORD want = DWORD(bytes - done < kStep ? bytes - done : kStep), got = 0, put = 0;
            ok = ReadFile(disk, buffer.data(), want, &got, nullptr) && got == want &&
                 WriteFile(source, buffer.data(), want, &put, nullptr) && put == want;
        }
        ok = ok && FlushFileBuffers(source);
        CloseHandle(source);
        if (!ok)
            fail("cannot write", files.source[b]);
    }
    CloseHandle(disk);
    return ok;
}

bool settleFiles(const BenchFiles &files, Direction direction, int b, uint64_t bytes)
{
    emptyQueue();
    /* The bus leaves its new images dirty, and every pass writes: flush all of them each time
       (a file with nothing to write back costs one system call). */
    for (const std::string *path : {&files.disk0, &files.disk1, &files.output, &files.source[0], &files.source[1],
                                    &files.source[2]})
        if (!flush(*path))
            return false;
    switch (direction) {
    case Direction::DiskToFile:
        if (!DeleteFileA(files.output.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            return fail("cannot delete", files.output);
        return readThrough(files.disk0, bytes);
    case Direction::FileToDisk:
        return readThrough(files.source[b], bytes) && readThrough(files.disk1, bytes);
    case Direction::DiskToDisk:
        return readThrough(files.disk0, bytes) && readThrough(files.disk1, bytes);
    }
    return false;
}
