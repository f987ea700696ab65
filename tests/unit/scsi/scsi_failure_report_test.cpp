/*
 * reportScsiFailure ends the process: each case runs in a child, this test program itself
 * started again with one test selected, which writes down the box it saw before it ends.
 */
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include "child_process.h"
#include "app_state.h"
#include "aspi.h"
#include "message_box_watch.h"

namespace {

const char kChildStatusVariable[] = "KESTROVA_SCSI_FAILURE_STATUS";
const char kChildFolderVariable[] = "KESTROVA_SCSI_FAILURE_FOLDER";
const char kHalfWritten[] = "sectors written before the failure";

std::string environment(const char *name)
{
    char value[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length && length < sizeof value ? value : "";
}

std::string readFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

struct ChildResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string box;        /* caption, icon, buttons, owner check, then the text */
    std::string imageFile;  /* what the child's open stream held when it ended */
};

ChildResult runChild(uint8_t status)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string childFolder = std::string(folder) + "kestrova-scsi-failure-" +
                              std::to_string(GetCurrentProcessId());
    CreateDirectoryA(childFolder.c_str(), nullptr);
    DeleteFileA((childFolder + "\\box.txt").c_str());
    DeleteFileA((childFolder + "\\image.bin").c_str());

    SetEnvironmentVariableA(kChildStatusVariable, std::to_string(status).c_str());
    SetEnvironmentVariableA(kChildFolderVariable, childFolder.c_str());
    ChildRun child = runTestsInChild("ScsiFailureChild.Report");
    SetEnvironmentVariableA(kChildStatusVariable, nullptr);
    SetEnvironmentVariableA(kChildFolderVariable, nullptr);

    ChildResult result;
    if (!child.started) {
        ADD_FAILURE() << "child not started: " << GetLastError();
        return result;
    }
    if (!child.finished)
        ADD_FAILURE() << "child did not end";
    result.exitCode = child.exitCode;

    result.box = readFile(childFolder + "\\box.txt");
    result.imageFile = readFile(childFolder + "\\image.bin");
    DeleteFileA((childFolder + "\\box.txt").c_str());
    DeleteFileA((childFolder + "\\image.bin").c_str());
    RemoveDirectoryA(childFolder.c_str());
    return result;
}

}  // namespace

/* The child's side: skipped unless started by the test below. */
TEST(ScsiFailureChild, Report)
{
    std::string statusText = environment(kChildStatusVariable);
    std::string folder = environment(kChildFolderVariable);
    if (statusText.empty() || folder.empty())
        GTEST_SKIP() << "runs only as the child of ReportScsiFailure";

    static char scratch[kScratchTextSize];
    appState.scratchText = scratch;
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(owner, nullptr);

    /* A half-written image: its data still sits in the stream's buffer. */
    FILE *image = std::fopen((folder + "\\image.bin").c_str(), "wb");
    ASSERT_NE(image, nullptr);
    std::fputs(kHalfWritten, image);

    static MessageBoxWatch watch;
    std::string boxPath = folder + "\\box.txt";
    watch.onBox([boxPath, owner](const CapturedBox &box) {
        std::ofstream out(boxPath, std::ios::binary);
        out << box.caption << '\n' << box.icon << '\n' << box.buttons << '\n'
            << (box.owner == owner ? "owner" : "other owner") << '\n' << box.text;
    });
    reportScsiFailure(owner, static_cast<uint8_t>(std::atoi(statusText.c_str())));
}

TEST(ReportScsiFailure, ShowsTheStatusThenEndsTheProcessWithStatusZero)
{
    struct Case {
        uint8_t status;
        const char *text;
    } cases[] = {
        {0x04, "SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)"},
        {0x80, "SCSI Command Failed.\nASPI returned status=80h\n(Unprocessed error)"},
        {0xE0, "SCSI Command Failed.\nASPI returned status=E0h\n(Scsi command parameters incorrect)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ChildResult child = runChild(c.status);
        EXPECT_EQ(0u, child.exitCode);
        std::string expectedBox = "Error\n" + std::to_string(MB_ICONERROR) + "\n" + std::to_string(MB_OK) +
                                  "\nowner\n" + c.text;
        EXPECT_EQ(expectedBox, child.box);
        EXPECT_EQ(kHalfWritten, child.imageFile) << "open streams are written out before the end";
    }
}
