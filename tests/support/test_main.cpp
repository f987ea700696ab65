/*
 * Entry point of every test program: the program's language rule and instance, then GoogleTest.
 * A failed transfer request ends the program with exit status 0 after its message; a test that
 * meets one by mistake would end the run with status 0 as if every test had passed. Outside the
 * children of runTestsInChild, whose tests end the process on purpose, an end of the process
 * during a test is a failure.
 */
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include "app_state.h"
#include "child_process.h"
#include "ui_language.h"

namespace {

std::string runningTest;

class RunningTestWatch : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &test) override
    {
        runningTest = std::string(test.test_suite_name()) + "." + test.name();
    }
    void OnTestEnd(const testing::TestInfo &) override { runningTest.clear(); }
};

void failWhenEndedDuringATest()
{
    if (runningTest.empty())
        return;
    std::fprintf(stderr, "FAILED: the process ended during %s\n", runningTest.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

int main(int argc, char **argv)
{
    applyUiLanguage();
    appState.instance = GetModuleHandleA(nullptr);
    testing::InitGoogleTest(&argc, argv);
    if (!GetEnvironmentVariableA(kChildRunVariable, nullptr, 0)) {
        testing::UnitTest::GetInstance()->listeners().Append(new RunningTestWatch);
        std::atexit(failWhenEndedDuringATest);
    }
    return RUN_ALL_TESTS();
}
