/* Runs this test program again as a child process, for tests whose subject ends the process
 * or must start from a fresh one. The caller sets the child's environment beforehand. */
#ifndef CHILD_PROCESS_H
#define CHILD_PROCESS_H

#include <windows.h>
#include <string>

/* Set in a child's environment: its tests may end the process. */
constexpr char kChildRunVariable[] = "KESTROVA_TEST_CHILD";

struct ChildRun {
    bool started = false;
    bool finished = false;   /* ended within the time given; else it was ended with status 99 */
    DWORD exitCode = 99;
};

/* Runs only the tests FILTER selects (--gtest_filter), in FOLDER (empty: the current one), and
 * waits for the end up to TIMEOUT_MS. */
ChildRun runTestsInChild(const std::string &filter, DWORD timeoutMs = 60000, const std::string &folder = "");

#endif
