/* Runs this test program again as a child process (see child_process.h). */
#include "child_process.h"

ChildRun runTestsInChild(const std::string &filter, DWORD timeoutMs, const std::string &folder)
{
    ChildRun run;
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string command = std::string("\"") + exe + "\" --gtest_filter=" + filter;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    /* The child runs a test that may end its process on purpose (see test_main.cpp). */
    SetEnvironmentVariableA(kChildRunVariable, "1");
    run.started = CreateProcessA(exe, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &child) != FALSE;
    SetEnvironmentVariableA(kChildRunVariable, nullptr);
    if (!run.started)
        return run;
    run.finished = WaitForSingleObject(child.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!run.finished)
        TerminateProcess(child.hProcess, 99);
    GetExitCodeProcess(child.hProcess, &run.exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return run;
}
