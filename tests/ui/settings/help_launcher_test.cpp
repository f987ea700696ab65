/*
 * The help launcher: where the reader is looked for, the command line it gets, and real starts
 * of a recording reader (an .exe and a .bat) that write down the arguments they received.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "about_help.h"
#include "app_state.h"
#include "message_box_watch.h"
#include "settings_support.h"

namespace {

std::string folderOfThisProgram()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
}

/* A fresh folder under the temporary folder (its name may hold blanks). */
std::string freshFolder(const std::string &name)
{
    char base[MAX_PATH] = "";
    GetTempPathA(sizeof base, base);
    static int counter = 0;
    std::string folder = std::string(base) + "kestrova help " + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(++counter) + " " + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

void placeReaders(const std::string &folder, std::initializer_list<const char *> extensions)
{
    for (const char *extension : extensions)
        writeFile(folder + "\\acroread" + extension, "");
}

std::vector<std::string> recordsIn(const std::string &folder)
{
    std::vector<std::string> records;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\run-*.txt").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return records;
    do
        records.push_back(folder + "\\" + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return records;
}

std::vector<std::string> linesOf(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

TEST(HelpReaderSearch, CurrentFolderFirstThenPathWithExtensionsInOrder)
{
    std::string current = freshFolder("current");
    std::string first = freshFolder("path one");
    std::string second = freshFolder("path two");
    std::string searchPath = first + ";" + second;

    struct Case {
        const char *what;
        std::vector<const char *> inCurrent, inFirst, inSecond;
        std::string expected;
    };
    const Case cases[] = {
        {".exe before .bat", {".bat", ".exe"}, {".com"}, {}, current + "\\acroread.exe"},
        {".com before .exe", {".exe", ".com", ".cmd"}, {}, {}, current + "\\acroread.com"},
        {".bat before .cmd", {".cmd", ".bat"}, {}, {}, current + "\\acroread.bat"},
        {"current folder before PATH", {".cmd"}, {".exe"}, {".com"}, current + "\\acroread.cmd"},
        {"first PATH folder that holds one", {}, {}, {".cmd", ".exe"}, second + "\\acroread.exe"},
        {"earlier PATH folder wins", {}, {".bat"}, {".com"}, first + "\\acroread.bat"},
        {"no reader anywhere", {}, {}, {}, ""},
        {"the name without extension is not tried", {""}, {}, {}, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string &folder : {current, first, second})
            for (const char *extension : {"", ".com", ".exe", ".bat", ".cmd"})
                DeleteFileA((folder + "\\acroread" + extension).c_str());
        for (const char *extension : c.inCurrent) writeFile(current + "\\acroread" + extension, "");
        for (const char *extension : c.inFirst) writeFile(first + "\\acroread" + extension, "");
        for (const char *extension : c.inSecond) writeFile(second + "\\acroread" + extension, "");
        EXPECT_EQ(findHelpReader(current, searchPath), c.expected);
    }
}

TEST(HelpReaderSearch, SeparatorOnlyWhereTheFolderHasNone)
{
    std::string folder = freshFolder("separators");
    placeReaders(folder, {".exe"});
    EXPECT_EQ(findHelpReader("", folder + "\\"), folder + "\\acroread.exe");
    EXPECT_EQ(findHelpReader("", folder + "/"), folder + "/acroread.exe");
    EXPECT_EQ(findHelpReader("", ";;" + folder + ";"), folder + "\\acroread.exe") << "empty PATH entries";
    CreateDirectoryA((folder + "\\sub").c_str(), nullptr);
    CreateDirectoryA((folder + "\\sub\\acroread.com").c_str(), nullptr);
    EXPECT_EQ(findHelpReader(folder + "\\sub", ""), "") << "a folder is no reader";
}

TEST(HelpCommandLine, DocumentIsOneQuotedArgumentAfterWinhelp)
{
    struct Case { const char *document; const char *expected; };
    const Case cases[] = {
        {"C:\\Kestrova\\Kestrova v1.31.pdf", "winhelp \"C:\\Kestrova\\Kestrova v1.31.pdf\""},
        {"C:\\\\Kestrova v1.31.pdf", "winhelp \"C:\\\\Kestrova v1.31.pdf\""},
        {"C:\\My Samples\\Kestrova v1.31.pdf", "winhelp \"C:\\My Samples\\Kestrova v1.31.pdf\""},
        {"Kestrova v1.31.pdf", "winhelp \"Kestrova v1.31.pdf\""},
        {"", "winhelp \"\""},
        {"C:\\folder\\", "winhelp \"C:\\folder\\\\\""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(helpCommandLine(c.document), c.expected);
}

/* A real reader started by launchHelp, in a folder with blanks. */
class HelpLaunchTest : public testing::Test {
protected:
    void SetUp() override
    {
        char previous[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof previous, previous);
        previousFolder = previous;
        char path[8192] = "";
        GetEnvironmentVariableA("PATH", path, sizeof path);
        previousPath = path;

        records = freshFolder("records");
        SetEnvironmentVariableA("KESTROVA_READER_RECORDS", records.c_str());
        current = freshFolder("current");
        SetCurrentDirectoryA(current.c_str());

        std::strcpy(document, "C:\\My Sampler Disks\\Kestrova v1.31.pdf");
        appState.helpDocPath = document;
        form = createStandInForm();
        appState.mainForm = form;
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(previousFolder.c_str());
        SetEnvironmentVariableA("PATH", previousPath.c_str());
        appState.helpDocPath = nullptr;
        DestroyWindow(form);
        EXPECT_TRUE(watch.boxes().empty()) << describe(watch.boxes().front());
    }

    void placeExeReader(const std::string &folder)
    {
        ASSERT_TRUE(CopyFileA((folderOfThisProgram() + "\\recording_reader.exe").c_str(),
                              (folder + "\\acroread.exe").c_str(), FALSE));
    }
    void placeBatReader(const std::string &folder)
    {
        /* %~1 is the first argument without its quotes; [%~2] shows whether there was a second. */
        writeFile(folder + "\\acroread.bat",
                  "@echo off\r\n"
                  "echo bat> \"%KESTROVA_READER_RECORDS%\\run-bat.part\"\r\n"
                  "echo %~1>> \"%KESTROVA_READER_RECORDS%\\run-bat.part\"\r\n"
                  "echo [%~2]>> \"%KESTROVA_READER_RECORDS%\\run-bat.part\"\r\n"
                  "move \"%KESTROVA_READER_RECORDS%\\run-bat.part\" \"%KESTROVA_READER_RECORDS%\\run-bat.txt\" > NUL\r\n");
    }

    /* Waits until count records are there (the launcher does not wait for the reader). */
    std::vector<std::string> awaitRecords(size_t count)
    {
        pumpUntil([&] { return recordsIn(records).size() >= count; }, 20000);
        return recordsIn(records);
    }

    MessageBoxWatch watch;
    std::string previousFolder, previousPath, records, current;
    char document[kPathBufferSize];
    HWND form = nullptr;
};

TEST_F(HelpLaunchTest, ExeReaderGetsWinhelpAndTheDocumentAsOneArgument)
{
    placeExeReader(current);
    placeBatReader(current);
    SetFocus(nullptr);
    launchHelp(form);
    EXPECT_EQ(GetFocus(), form) << "the focus goes back to the form";

    std::vector<std::string> found = awaitRecords(1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(linesOf(found[0]), (std::vector<std::string>{"exe", "winhelp", document}))
        << "the .exe wins over the .bat; the path with blanks arrives whole";
}

TEST_F(HelpLaunchTest, BatReaderOnPathGetsTheDocumentAsOneArgument)
{
    std::string empty = freshFolder("empty path folder");
    std::string onPath = freshFolder("reader on path");
    placeBatReader(onPath);
    SetEnvironmentVariableA("PATH", (empty + ";" + onPath + ";" + previousPath).c_str());
    launchHelp(form);

    std::vector<std::string> found = awaitRecords(1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(linesOf(found[0]), (std::vector<std::string>{"bat", document, "[]"}));
}

TEST_F(HelpLaunchTest, DriveRootDocumentPathIsPassedUnchanged)
{
    std::strcpy(document, "Z:\\\\Kestrova v1.31.pdf");
    placeExeReader(current);
    launchHelp(form);
    std::vector<std::string> found = awaitRecords(1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(linesOf(found[0]), (std::vector<std::string>{"exe", "winhelp", "Z:\\\\Kestrova v1.31.pdf"}));
}

TEST_F(HelpLaunchTest, HelpTwiceStartsTwoReaders)
{
    placeExeReader(current);
    launchHelp(form);
    launchHelp(form);
    EXPECT_EQ(awaitRecords(2).size(), 2u);
}

/* Neither the current folder nor PATH holds a reader; the program's own folder, where a
   process start by name would also look, does, and must not be used. */
TEST_F(HelpLaunchTest, NoReaderShowsNothingAndGivesTheFocusBack)
{
    SetEnvironmentVariableA("PATH", freshFolder("nothing here").c_str());
    placeExeReader(folderOfThisProgram());
    SetFocus(nullptr);
    launchHelp(form);
    EXPECT_EQ(GetFocus(), form);
    pumpUntil([] { return false; }, 1000);
    DeleteFileA((folderOfThisProgram() + "\\acroread.exe").c_str());
    EXPECT_TRUE(recordsIn(records).empty()) << "a reader outside the current folder and PATH was started";
}

TEST_F(HelpLaunchTest, BatReaderStartsWithoutComSpec)
{
    placeBatReader(current);
    char comSpec[MAX_PATH] = "";
    const bool hadComSpec = GetEnvironmentVariableA("ComSpec", comSpec, sizeof comSpec) > 0;
    SetEnvironmentVariableA("ComSpec", nullptr);
    launchHelp(form);
    SetEnvironmentVariableA("ComSpec", hadComSpec ? comSpec : nullptr);
    std::vector<std::string> found = awaitRecords(1);
    ASSERT_EQ(found.size(), 1u) << "the command interpreter of the system folder did not run the reader";
    EXPECT_EQ(linesOf(found[0]), (std::vector<std::string>{"bat", document, "[]"}));
}

/* Quotes in the document, one after a backslash, reach the reader as they are, in one argument. */
TEST_F(HelpLaunchTest, DocumentHoldingQuotesArrivesWhole)
{
    std::strcpy(document, "C:\\Samples\\\"Quoted\\\" Disks\\Say \"hi\".pdf");
    placeExeReader(current);
    launchHelp(form);
    std::vector<std::string> found = awaitRecords(1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(linesOf(found[0]),
              (std::vector<std::string>{"exe", "winhelp", "C:\\Samples\\\"Quoted\\\" Disks\\Say \"hi\".pdf"}));
}

}  // namespace
