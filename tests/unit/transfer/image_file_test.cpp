/* The image file's length, absolute path and free space, on files in a temporary folder. */
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>
#include <string>
#include "app_state.h"
#include "image_file.h"
#include "transfers.h"

namespace {
std::string temporaryFolder()
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string path = std::string(folder) + "kestrova-image-file-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

void writeFile(const std::string &path, size_t length)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::string bytes(length, 'k');
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

/* A file of length bytes that takes no room here: its end is set, nothing is written. */
void makeSparseFile(const std::string &path, int64_t length)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = length;
    ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
}
}  // namespace

TEST(ImageFileSize, LengthOrZeroWhenMissingOrEmpty)
{
    const std::string folder = temporaryFolder();
    struct Case { const char *name; int64_t length; };
    const Case cases[] = {{"empty.iso", 0}, {"one.iso", 1}, {"sector.iso", 512}, {"chunk.iso", 65536 + 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = folder + "\\" + c.name;
        writeFile(path, size_t(c.length));
        EXPECT_EQ(imageFileSize(path.c_str()), c.length);
        DeleteFileA(path.c_str());
    }
    EXPECT_EQ(imageFileSize((folder + "\\missing.iso").c_str()), 0);
    EXPECT_EQ(imageFileSize(folder.c_str()), 0) << "a folder cannot be read as a file";
    RemoveDirectoryA(folder.c_str());
}

TEST(ImageFileSize, LengthsOf2GiBAnd4GiBAndMore)
{
    const std::string folder = temporaryFolder();
    const int64_t lengths[] = {
        int64_t(1) << 31, (int64_t(1) << 31) + 512, int64_t(1) << 32, (int64_t(1) << 32) + 2048,
        int64_t(8) << 30,
    };
    for (int64_t length : lengths) {
        SCOPED_TRACE(length);
        std::string path = folder + "\\big.iso";
        makeSparseFile(path, length);
        EXPECT_EQ(imageFileSize(path.c_str()), length);
        DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(folder.c_str());
}

TEST(AbsolutePath, RelativeNamesResolveAgainstTheCurrentDirectory)
{
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    std::string base = current;
    if (base.back() != '\\')
        base += '\\';

    char path[kPathBufferSize] = ".\\NewFile.iso";
    ASSERT_EQ(makeAbsolutePath(path), 1);
    EXPECT_EQ(std::string(path), base + "NewFile.iso");

    char empty[kPathBufferSize] = "";
    ASSERT_EQ(makeAbsolutePath(empty), 1);
    EXPECT_EQ(std::string(empty), std::string(current)) << "an empty path stands for the current directory";

    char absolute[kPathBufferSize] = "C:\\images\\a.iso";
    ASSERT_EQ(makeAbsolutePath(absolute), 1);
    EXPECT_STREQ(absolute, "C:\\images\\a.iso");
}

TEST(AbsolutePath, RefusedWhenLongerThan255Characters)
{
    char path[kPathBufferSize];
    std::string longName = "C:\\" + std::string(252, 'a');   /* 255 characters: fits with the NUL */
    std::snprintf(path, sizeof path, "%s", longName.c_str());
    EXPECT_EQ(makeAbsolutePath(path), 1);

    longName += 'b';   /* 256 characters */
    std::snprintf(path, sizeof path, "%s", longName.c_str());
    EXPECT_EQ(makeAbsolutePath(path), 0);
    EXPECT_EQ(std::string(path), longName) << "a refused path stays as it was";
}

TEST(FreeSpace, DriveRootsAndPathsInsideAVolumeGiveAFigure)
{
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    ULARGE_INTEGER expected;
    ASSERT_TRUE(GetDiskFreeSpaceExA(current, &expected, nullptr, nullptr));

    std::string file = std::string(current) + "\\x.iso";
    int64_t figure = freeBytesForPath(file.c_str());
    EXPECT_GT(figure, 0);
    /* Other programs write meanwhile: the same volume within a margin. */
    EXPECT_NEAR(double(figure), double(expected.QuadPart), 512.0 * 1024 * 1024);
}

TEST(FreeSpace, NoFigureForAPathWithoutAVolume)
{
    EXPECT_EQ(freeBytesForPath("\\\\nohost-kestrova\\noshare\\x.iso"), -1);
}
