/*
 * The help command: starts the external PDF reader "acroread" on the manual, without waiting
 * for it. Whether a reader was found or started is not reported.
 */
#include <array>
#include <vector>

#include "about_help.h"
#include "app_state.h"

namespace {

constexpr char kReaderName[] = "acroread";
/* The reader's name in its own argument vector. */
constexpr char kReaderArgument0[] = "winhelp";
constexpr std::array<const char *, 4> kReaderExtensions = {".com", ".exe", ".bat", ".cmd"};

bool isFile(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string readerInFolder(std::string folder)
{
    if (folder.empty())
        return {};
    char last = folder.back();
    if (last != '\\' && last != '/')
        folder += '\\';
    for (const char *extension : kReaderExtensions) {
        std::string candidate = folder + kReaderName + extension;
        if (isFile(candidate))
            return candidate;
    }
    return {};
}

bool hasExtension(const std::string &path, const char *extension)
{
    size_t length = std::char_traits<char>::length(extension);
    return path.size() >= length && lstrcmpiA(path.c_str() + path.size() - length, extension) == 0;
}

/* One argument as the C runtime splits a command line: quoted, backslashes before a quote doubled. */
std::string quotedArgument(const char *argument)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char *p = argument; *p; ++p) {
        if (*p == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(*p == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += *p;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string environmentVariable(const char *name)
{
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0)
        return {};
    std::vector<char> value(size);
    DWORD length = GetEnvironmentVariableA(name, value.data(), size);
    return length < size ? std::string(value.data(), length) : std::string();
}

std::string currentFolder()
{
    DWORD size = GetCurrentDirectoryA(0, nullptr);
    if (size == 0)
        return {};
    std::vector<char> folder(size);
    DWORD length = GetCurrentDirectoryA(size, folder.data());
    return length < size ? std::string(folder.data(), length) : std::string();
}

/* A batch file runs inside the command interpreter; /s takes the outer quotes off the rest. */
bool startBatchReader(const std::string &reader, const char *document, STARTUPINFOA &startup,
                      PROCESS_INFORMATION &process)
{
    std::string interpreter = environmentVariable("ComSpec");
    if (interpreter.empty()) {
        char system[MAX_PATH] = "";
        GetSystemDirectoryA(system, sizeof system);
        interpreter = std::string(system) + "\\cmd.exe";
    }
    std::string commandLine = "cmd.exe /s /c \"" + quotedArgument(reader.c_str()) + " " +
                              quotedArgument(document) + "\"";
    return CreateProcessA(interpreter.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                          nullptr, &startup, &process) != 0;
}

}  // namespace

std::string findHelpReader(const std::string &folder, const std::string &searchPath)
{
    std::string reader = readerInFolder(folder);
    size_t start = 0;
    while (reader.empty() && start <= searchPath.size()) {
        size_t end = searchPath.find(';', start);
        if (end == std::string::npos)
            end = searchPath.size();
        reader = readerInFolder(searchPath.substr(start, end - start));
        start = end + 1;
    }
    return reader;
}

std::string helpCommandLine(const char *document)
{
    return std::string(kReaderArgument0) + " " + quotedArgument(document);
}

void launchHelp(HWND owner)
{
    std::string reader = findHelpReader(currentFolder(), environmentVariable("PATH"));
    const char *document = appState.helpDocPath ? appState.helpDocPath : "";
    if (!reader.empty()) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        bool started;
        if (hasExtension(reader, ".bat") || hasExtension(reader, ".cmd")) {
            started = startBatchReader(reader, document, startup, process);
        } else {
            std::string commandLine = helpCommandLine(document);
            started = CreateProcessA(reader.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                     nullptr, &startup, &process) != 0;
        }
        /* The reader runs on its own: nothing waits for it. */
        if (started) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    SetFocus(owner);
}
