/*
 * Runs the binding and the scan against the virtual bus, configured by INI texts that each
 * test writes into a folder of its own, or against one of the broken libraries.
 */
#ifndef KESTROVA_TEST_BUS_FIXTURE_H
#define KESTROVA_TEST_BUS_FIXTURE_H

#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "app_state.h"
#include "message_box_watch.h"

class AspiBusTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /* Writes an INI file into the test folder, names it in VBUS_CONFIG and returns its path. */
    std::string useBus(const std::string &name, const std::string &iniText);
    /* Makes LoadLibraryA("wnaspi32.dll") find one of the broken libraries (a folder name). */
    void useBrokenLibrary(const char *variant);
    /* Has the loaded virtual bus read its configuration again, as a bus whose devices changed. */
    void reloadBusConfiguration();
    /* The lines of a trace file in the test folder. */
    std::vector<std::string> traceLines(const std::string &name) const;
    /* The path of a file in the test folder, in a form the virtual bus's INI accepts. */
    std::string folderPath(const std::string &name) const { return folder_ + "\\" + name; }

    /* Answers every box of a test, so that none waits for a click. */
    MessageBoxWatch watch_;
    HWND owner_ = nullptr;
    std::string folder_;
};

/* Releases the library that appState holds and waits until it has left the process. */
void releaseAspiLibrary();

/* Checks every field of one device entry; the trace names the entry. */
void expectEntry(const DeviceRecord &device, const char *label, int32_t sectorCount, int32_t sectorSize,
                 int32_t deviceType, int32_t removable);

#endif
