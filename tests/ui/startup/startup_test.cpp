/*
 * Start-up, message loop and shutdown. Each journey runs the program's WinMain in a child
 * process (journey_child.cpp) on the virtual bus, with a time-out, and is judged by its exit
 * status, its report and what it left in the registry. The class registration is looked at
 * in this process.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "app_state.h"
#include "main_form.h"
#include "resource_ids.h"
#include "startup.h"

namespace {

constexpr char kSettingKey[] = "SOFTWARE\\Talvenor\\Kestrova";
constexpr char kValueName[] = "IO buffer size";

std::string thisProgram()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

std::string temporaryFolder(const char *name)
{
    char base[MAX_PATH] = "";
    GetTempPathA(sizeof base, base);
    std::string folder = std::string(base) + name + "-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

/* A bus with one adapter and one disk, so that the binding and the scan succeed. */
std::string virtualBusConfig()
{
    static std::string path;
    if (path.empty()) {
        path = temporaryFolder("kestrova-startup-bus") + "\\vbus.ini";
        writeFile(path, "[adapter 0]\r\nscsi_id = 7\r\n\r\n[device 0:1]\r\nsize = 1M\r\n");
    }
    return path;
}

/* The same disk on a bus that completes every request after 2 ms. */
std::string slowBusConfig()
{
    static std::string path;
    if (path.empty()) {
        path = temporaryFolder("kestrova-startup-bus") + "\\slow-vbus.ini";
        writeFile(path, "[bus]\r\ncompletion = async\r\ndelay_ms = 2\r\n[adapter 0]\r\nscsi_id = 7\r\n\r\n"
                        "[device 0:1]\r\nsize = 1M\r\n");
    }
    return path;
}

std::optional<std::string> storedSetting()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    char text[256] = "";
    DWORD type = 0, length = sizeof text;
    LONG result = RegQueryValueExA(key, kValueName, nullptr, &type, reinterpret_cast<BYTE *>(text), &length);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    return std::string(text);
}

void storeSetting(const char *text)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                   static_cast<DWORD>(lstrlenA(text) + 1));
    RegCloseKey(key);
}

struct Journey {
    bool finished = false;
    DWORD exitCode = 0xFFFFFFFF;
    std::vector<std::pair<std::string, std::string>> report;

    std::string operator[](const std::string &key) const
    {
        for (const auto &entry : report)
            if (entry.first == key)
                return entry.second;
        return "<missing>";
    }
};

/* Sets environment variables of this process for as long as it lives (a child inherits them). */
class EnvironmentScope {
public:
    void set(const char *name, const std::string &value)
    {
        char old[2048] = "";
        DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
        saved_.emplace_back(name, length ? std::optional<std::string>(old) : std::nullopt);
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~EnvironmentScope()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            SetEnvironmentVariableA(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string pathWithoutVirtualBus()
{
    char path[8192] = "";
    GetEnvironmentVariableA("PATH", path, sizeof path);
    std::string kept, entry;
    std::string all = std::string(path) + ";";
    for (char c : all) {
        if (c != ';') {
            entry += c;
            continue;
        }
        if (!entry.empty() && entry.find("\\bin\\vbus") == std::string::npos)
            kept += (kept.empty() ? "" : ";") + entry;
        entry.clear();
    }
    return kept;
}

Journey runJourney(const std::string &name, const std::string &folder = "", bool withAspi = true,
                   const std::string &busConfig = virtualBusConfig())
{
    Journey journey;
    std::string reportPath = temporaryFolder("kestrova-startup-report") + "\\" + name + ".txt";
    DeleteFileA(reportPath.c_str());

    EnvironmentScope environment;
    environment.set("KESTROVA_JOURNEY", name);
    environment.set("KESTROVA_JOURNEY_REPORT", reportPath);
    environment.set("VBUS_CONFIG", busConfig);
    if (!withAspi) {
        /* The virtual bus is found along PATH (and only a native library is accepted): without
         * its folder there is no ASPI layer. */
        environment.set("PATH", pathWithoutVirtualBus());
    }

    ChildRun child = runTestsInChild("StartupJourney.RunsInChild", 60000, folder);
    if (!child.started) {
        ADD_FAILURE() << "the child could not be started, error " << GetLastError();
        return journey;
    }
    journey.finished = child.finished;
    journey.exitCode = child.exitCode;

    std::ifstream in(reportPath);
    std::string line;
    while (std::getline(in, line)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            journey.report.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return journey;
}

std::string currentFolder()
{
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof folder, folder);
    return folder;
}

/* Every journey that ends the program ends it the same way. */
void expectOrderlyEnd(const Journey &journey)
{
    ASSERT_TRUE(journey.finished) << "the program did not end";
    EXPECT_EQ(journey.exitCode, 0u);
    EXPECT_EQ(journey["timedOut"], "<missing>") << "the loop did not end by itself";
    EXPECT_EQ(journey["loopEnded"], "1");
    EXPECT_EQ(journey["status"], "0");
    EXPECT_EQ(journey["buffersHeldAfterLoop"], "0") << "the text buffers were not released";
    EXPECT_EQ(journey["aspiLibraryHeldAfterLoop"], "0") << "the ASPI library was not released";
    EXPECT_EQ(journey["boxes"], "0") << journey["boxCaption"] << ": " << journey["boxText"];
}

TEST(Startup, StartsOnTheBusAndEndsByQuitWithStatusZero)
{
    Journey journey = runJourney("quit-button");
    expectOrderlyEnd(journey);
    EXPECT_EQ(journey["aspiLibraryHeld"], "1");
    EXPECT_EQ(journey["adapterCount"], "1");
    EXPECT_EQ(journey["imagePath"], ".\\NewFile.iso");
    EXPECT_EQ(journey["mode"], "1") << "mode starts as Disk -> File";
    EXPECT_EQ(journey["helpDocPath"], journey["currentFolder"] + "\\Kestrova v1.31.pdf");
    /* Quit leaves the form in place; what arrives before the loop ends is harmless. */
    EXPECT_EQ(journey["formAfterQuit"], "1");
    EXPECT_EQ(journey["messagesAfterQuit"], "survived");
}

TEST(Startup, CtrlQAndCtrlXEndTheProgramThroughTheAccelerators)
{
    for (const char *name : {"ctrl-q", "ctrl-x"}) {
        SCOPED_TRACE(name);
        expectOrderlyEnd(runJourney(name));
    }
}

/* The transfer's pump is no message loop of the program: keys and Quit wait until it ends. */
TEST(Startup, CtrlQAndCtrlXDuringATransferDoNothing)
{
    Journey journey = runJourney("keys-during-transfer", "", true, slowBusConfig());
    expectOrderlyEnd(journey);
    EXPECT_EQ(journey["sameTransferAfterKeys"], "1") << "the copy did not go on after the keys";
    EXPECT_EQ(journey["buffersHeldAfterKeys"], "1") << "the text buffers were released during the copy";
    EXPECT_EQ(journey["aspiLibraryHeldAfterKeys"], "1") << "the ASPI library was released during the copy";
    EXPECT_EQ(journey["transferEnded"], "1");
}

TEST(Startup, CloseBoxReleasesTheSameAndEndsWithStatusZero)
{
    Journey journey = runJourney("close-box");
    expectOrderlyEnd(journey);
    EXPECT_EQ(journey["formExistsAfterLoop"], "0");
}

TEST(Startup, NoDialogKeysInTheFormOrTheBufferDialog)
{
    storeSetting("32");
    Journey journey = runJourney("keys");
    expectOrderlyEnd(journey);
    EXPECT_EQ(journey["focusAfterTabInForm"], std::to_string(IDC_MAIN_PATH)) << "Tab moved the focus";
    EXPECT_EQ(journey["dialogOpened"], "1") << "Ctrl+B did not open the buffer-size dialog";
    EXPECT_EQ(journey["focusAfterTabInDialog"], std::to_string(IDC_BUFFER_LIST));
    EXPECT_EQ(journey["dialogAfterEnterAndEscape"], "1") << "Enter or Escape closed the dialog";
    EXPECT_EQ(journey["focusInDialog"], "1");
    EXPECT_EQ(journey["bufferBlocksAfterKeys"], "64");
    EXPECT_EQ(storedSetting(), "32");
}

TEST(Startup, HelpDocumentPathFromADriveRootHasTwoBackslashes)
{
    std::string root = currentFolder().substr(0, 3);   /* "Z:\" */
    Journey journey = runJourney("close-box", root);
    expectOrderlyEnd(journey);
    EXPECT_EQ(journey["currentFolder"], root);
    EXPECT_EQ(journey["helpDocPath"], root + "\\Kestrova v1.31.pdf");
}

TEST(Startup, WithoutAnAspiLayerItShowsTheMessageReadsTheSettingAndEndsWithZero)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingKey);
    Journey journey = runJourney("no-aspi", "", false);
    ASSERT_TRUE(journey.finished) << "the program did not end";
    EXPECT_EQ(journey.exitCode, 0u);
    EXPECT_EQ(journey["status"], "0");
    EXPECT_EQ(journey["boxes"], "1");
    EXPECT_EQ(journey["boxIcon"], std::to_string(MB_ICONERROR));
    EXPECT_EQ(journey["bufferBlocks"], "<missing>") << "the loop must end before the form is served";
    EXPECT_EQ(journey["formExistsAfterLoop"], "1");
    EXPECT_EQ(storedSetting(), "16") << "the default is stored also when the program ends at once";

    storeSetting("64");
    journey = runJourney("no-aspi", "", false);
    EXPECT_EQ(journey.exitCode, 0u);
    EXPECT_EQ(storedSetting(), "64");
}

TEST(Startup, StoredSettingIsReadDuringCreation)
{
    storeSetting("8");
    Journey journey = runJourney("close-box");
    expectOrderlyEnd(journey);
    EXPECT_EQ(journey["bufferBlocks"], "16");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingKey);
    journey = runJourney("close-box");
    expectOrderlyEnd(journey);
    EXPECT_EQ(journey["bufferBlocks"], "32");
    EXPECT_EQ(storedSetting(), "16");
}

/* The options are read before the scan that the form's creation runs: a drive that waits for
   START STOP UNIT is listed at once when the user allowed starting it. */
TEST(Startup, AStoredStartOptionStartsAStoppedDriveAtTheFirstScan)
{
    const std::string bus = temporaryFolder("kestrova-startup-bus") + "\\stopped-vbus.ini";
    writeFile(bus, "[adapter 0]\r\nscsi_id = 7\r\n[device 0:1]\r\nsize = 1M\r\nstopped = yes\r\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD on = 1;
    RegSetValueExA(key, "Start stopped drives", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&on), sizeof on);
    RegCloseKey(key);
    Journey journey = runJourney("close-box", "", true, bus);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingKey);
    expectOrderlyEnd(journey);
    EXPECT_EQ(journey["sectorsOf0:1"], "2048");
}

struct WindowSearch {
    DWORD processId;
    const char *className;
    const char *caption;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM data)
{
    auto *search = reinterpret_cast<WindowSearch *>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[64] = "", text[128] = "";
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, text, sizeof text);
    if (owner == search->processId && IsWindowVisible(window) && lstrcmpiA(name, search->className) == 0 &&
        (!search->caption || lstrcmpA(text, search->caption) == 0)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

/* kestrova.exe itself, as the build makes it, started and ended from outside. */
class KestrovaProgram : public testing::Test {
protected:
    void TearDown() override
    {
        if (process) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }

    void start(bool withAspi)
    {
        std::string program = thisProgram();
        program = program.substr(0, program.find_last_of('\\')) + "\\..\\bin\\kestrova.exe";
        EnvironmentScope environment;
        environment.set("VBUS_CONFIG", virtualBusConfig());
        if (!withAspi)
            environment.set("PATH", pathWithoutVirtualBus());
        std::string commandLine = "\"" + program + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        ASSERT_TRUE(CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &started))
            << program << ": error " << GetLastError();
        CloseHandle(started.hThread);
        process = started.hProcess;
        processId = started.dwProcessId;
    }

    /* A visible top-level window of the program with that class (and caption, when given). */
    HWND awaitWindow(const char *className, const char *caption = nullptr)
    {
        WindowSearch search = {processId, className, caption, nullptr};
        for (int attempt = 0; attempt < 300 && !search.found; ++attempt) {
            EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
            if (!search.found)
                Sleep(100);
        }
        return search.found;
    }

    DWORD awaitExit()
    {
        DWORD code = 0xFFFFFFFF;
        if (WaitForSingleObject(process, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process, &code);
        return code;
    }

    HANDLE process = nullptr;
    DWORD processId = 0;
};

TEST_F(KestrovaProgram, ClosedByItsCloseBoxEndsWithStatusZero)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingKey);
    start(true);
    HWND form = awaitWindow("Kestrova");
    ASSERT_NE(form, nullptr) << "no main form appeared";
    EXPECT_EQ(storedSetting(), "16") << "the first start stores the default";
    PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(awaitExit(), 0u);
}

TEST_F(KestrovaProgram, WithoutAnAspiLayerShowsTheMessageAndEndsWithStatusZero)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingKey);
    start(false);
    HWND box = awaitWindow("#32770", "ERROR");
    ASSERT_NE(box, nullptr) << "no message box appeared";
    char text[256] = "";
    GetWindowTextA(GetDlgItem(box, 0xFFFF), text, sizeof text);
    EXPECT_STREQ(text, "Can't load or initialize ASPI for Windows");
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(awaitExit(), 0u);
    EXPECT_EQ(storedSetting(), "16") << "the setting is read, and the default stored, before the end";
}

TEST(Startup, MainFormClassAsTheProgramRegistersIt)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_TRUE(registerMainFormClass(instance, "Kestrova"));
    ASSERT_NE(appState.accelerators, nullptr);
    EXPECT_EQ(CopyAcceleratorTableA(appState.accelerators, nullptr, 0), 8);

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    ASSERT_TRUE(GetClassInfoExA(instance, "Kestrova", &windowClass));
    EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(windowClass.lpfnWndProc, MainFormProc);
    EXPECT_EQ(windowClass.cbClsExtra, 0);
    EXPECT_EQ(windowClass.cbWndExtra, DLGWINDOWEXTRA);
    EXPECT_EQ(windowClass.hbrBackground, reinterpret_cast<HBRUSH>(1));
    EXPECT_NE(windowClass.hIcon, nullptr);
    EXPECT_EQ(windowClass.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(windowClass.lpszMenuName, nullptr);
    UnregisterClassA("Kestrova", instance);
}

TEST(Startup, HelpDocumentPathIsAlwaysATerminatedPathThatFits)
{
    struct Case { std::string folder; std::string expected; bool fits; };
    const std::string name = "Kestrova v1.31.pdf";
    const std::string longest(kPathBufferSize - 2 - name.size(), 'a');   /* + "\" + name + NUL = 260 */
    const Case cases[] = {
        {"C:\\Program Files\\Kestrova", "C:\\Program Files\\Kestrova\\" + name, true},
        {"C:\\", "C:\\\\" + name, true},
        {"", "\\" + name, true},
        {longest, longest + "\\" + name, true},
        {longest + "a", name, false},
        {std::string(1000, 'b'), name, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.folder.substr(0, 40));
        char path[kPathBufferSize + 16];
        std::fill(std::begin(path), std::end(path), '#');
        EXPECT_EQ(composeHelpDocPath(path, c.folder.c_str()), c.fits);
        EXPECT_EQ(std::string(path), c.expected);
        for (int i = kPathBufferSize; i < kPathBufferSize + 16; ++i)
            ASSERT_EQ(path[i], '#') << "written beyond the buffer";
    }
}

}  // namespace
