/* The image file: absolute path, length and free space. */
#include "image_file.h"
#include "app_state.h"
#include "transfers.h"
#include <windows.h>
#include <cctype>
#include <cstring>

namespace {
constexpr DWORD kAbsolutePathLimit = 256;   /* bytes, with the NUL */

bool startsWithDriveRoot(const char *path)
{
    return std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '\\';
}
}  // namespace

int makeAbsolutePath(char *path)
{
    char absolute[kPathBufferSize];
    /* The system refuses an empty name; the current directory is what it stands for. */
    const char *relative = path[0] ? path : ".";
    DWORD length = GetFullPathNameA(relative, kAbsolutePathLimit, absolute, nullptr);
    if (length == 0 || length >= kAbsolutePathLimit)
        return 0;
    std::memcpy(path, absolute, length + 1);
    return 1;
}

int64_t freeBytesForPath(const char *path)
{
    char root[MAX_PATH + 1] = "";
    if (startsWithDriveRoot(path)) {
        std::memcpy(root, path, 3);
        root[3] = '\0';
    } else if (!GetVolumePathNameA(path, root, sizeof root)) {
        return -1;
    }
    /* The Ex form reports volumes of any size; the plain form caps them on older systems. */
    ULARGE_INTEGER freeToCaller;
    if (!GetDiskFreeSpaceExA(root, &freeToCaller, nullptr, nullptr))
        return -1;
    if (freeToCaller.QuadPart > uint64_t(INT64_MAX))
        return INT64_MAX;
    return int64_t(freeToCaller.QuadPart);
}

int64_t streamLength(FILE *file)
{
    if (_fseeki64(file, 0, SEEK_END) != 0)
        return -1;
    return _ftelli64(file);
}

int64_t imageFileSize(const char *path)
{
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return 0;
    int64_t length = streamLength(file);
    std::fclose(file);
    return length > 0 ? length : 0;
}
