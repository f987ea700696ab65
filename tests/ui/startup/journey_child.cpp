/*
 * The child side of the start-up journeys: runs the program's own WinMain in this process, drives
 * it from a thread timer inside its message loop, writes what it saw into a report file and ends
 * the process with WinMain's result as its exit status. Started by startup_test.cpp.
 */
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app_state.h"
#include "main_form.h"
#include "message_box_watch.h"
#include "resource_ids.h"
#include "startup.h"

namespace {

std::string environment(const char *name)
{
    char value[1024] = "";
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length < sizeof value ? std::string(value, length) : std::string();
}

FILE *reportFile = nullptr;

void report(const std::string &key, const std::string &value)
{
    if (reportFile) {
        std::fprintf(reportFile, "%s=%s\n", key.c_str(), value.c_str());
        std::fflush(reportFile);
    }
}

void report(const std::string &key, long long value) { report(key, std::to_string(value)); }

/* Keys go in through the system's input queue, as typed keys do. */
void sendKey(WORD key, bool control)
{
    std::vector<INPUT> inputs;
    auto add = [&](WORD vk, bool up) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (control)
        add(VK_CONTROL, false);
    add(key, false);
    add(key, true);
    if (control)
        add(VK_CONTROL, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

int focusId()
{
    HWND focus = GetFocus();
    return focus ? GetDlgCtrlID(focus) : 0;
}

HWND focusTopLevel()
{
    HWND focus = GetFocus();
    return focus ? GetAncestor(focus, GA_ROOT) : nullptr;
}

/* Steps run one per timer tick; a step that returns false is tried again at the next tick. */
struct Driver {
    std::vector<std::function<bool()>> steps;
    size_t next = 0;
    int ticks = 0;
};
Driver driver;

void CALLBACK driveTick(HWND, UINT, UINT_PTR, DWORD)
{
    ++driver.ticks;
    if (driver.next < driver.steps.size() && driver.steps[driver.next]())
        ++driver.next;
}

bool formReady()
{
    return appState.mainForm && textBuffersHeld() && IsWindowVisible(appState.mainForm);
}

void reportStartState()
{
    report("helpDocPath", appState.helpDocPath);
    report("imagePath", appState.imagePath);
    report("bufferBlocks", appState.bufferBlocks);
    report("adapterCount", appState.adapterCount);
    report("mode", static_cast<int>(appState.mode));
    report("aspiLibraryHeld", appState.aspiLibrary != nullptr);
    report("sectorsOf0:1", adapterTable.adapters[0].devices[1].sectorCount);
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof folder, folder);
    report("currentFolder", folder);
}

/* Waits for the form and its buffers, then reports the state start-up left. */
void addStartSteps()
{
    driver.steps.push_back([] {
        if (!formReady())
            return false;
        reportStartState();
        SetForegroundWindow(appState.mainForm);
        SetFocus(GetDlgItem(appState.mainForm, IDC_MAIN_PATH));
        return true;
    });
}

/* Presses a key now and goes on when the key has had time to arrive. */
void addKeyStep(WORD key, bool control)
{
    driver.steps.push_back([key, control] {
        sendKey(key, control);
        return true;
    });
    driver.steps.push_back([] { return true; });   /* one tick for the key to be handled */
}

void addJourneySteps(const std::string &journey)
{
    addStartSteps();
    if (journey == "quit-button") {
        driver.steps.push_back([] {
            SendDlgItemMessageA(appState.mainForm, IDC_MAIN_QUIT, BM_CLICK, 0, 0);
            /* The Quit command does not destroy the form: it still gets messages before the
             * loop ends, and none of them may touch the released buffers. */
            report("formAfterQuit", IsWindow(appState.mainForm) != FALSE);
            SendMessageA(appState.mainForm, WM_PAINT, 0, 0);
            SendMessageA(appState.mainForm, WM_COMMAND, MAKEWPARAM(IDM_SCAN_BUS, 1), 0);
            SendMessageA(appState.mainForm, WM_COMMAND, MAKEWPARAM(IDC_MAIN_SIZE, EN_CHANGE), 0);
            InvalidateRect(appState.mainForm, nullptr, TRUE);
            report("messagesAfterQuit", "survived");
            return true;
        });
    } else if (journey == "ctrl-q") {
        addKeyStep('Q', true);
    } else if (journey == "ctrl-x") {
        addKeyStep('X', true);
    } else if (journey == "close-box") {
        driver.steps.push_back([] {
            PostMessageA(appState.mainForm, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        });
    } else if (journey == "keys-during-transfer") {
        /* Disk to disk on the bus's disk, one sector per chunk on a bus that completes slowly, so
           the copy outlasts a few timer ticks. Ctrl+Q and Ctrl+X reach it through the transfer's
           own pump, which must not act on the accelerators. */
        static HWND box = nullptr;
        driver.steps.push_back([] {
            appState.mode = TransferMode::DiskToDisk;
            appState.sourceDevice = appState.targetDevice = 1;
            appState.transferSectors = 400;
            appState.bufferBlocks = 1;
            PostMessageA(appState.mainForm, WM_COMMAND, MAKEWPARAM(IDC_MAIN_PROCEED, BN_CLICKED), 0);
            return true;
        });
        driver.steps.push_back([] {
            if (!appState.progressBox)
                return false;
            box = appState.progressBox;
            SetForegroundWindow(box);
            sendKey('Q', true);
            sendKey('X', true);
            return true;
        });
        driver.steps.push_back([] {   /* input comes before the next tick: the keys are handled */
            report("sameTransferAfterKeys", box && appState.progressBox == box);
            report("buffersHeldAfterKeys", textBuffersHeld());
            report("aspiLibraryHeldAfterKeys", appState.aspiLibrary != nullptr);
            return true;
        });
        driver.steps.push_back([] {
            if (appState.progressBox)
                return false;
            report("transferEnded", 1);
            SetForegroundWindow(appState.mainForm);
            SetFocus(appState.mainForm);
            return true;
        });
        /* After the transfer the same key ends the program. */
        addKeyStep('Q', true);
    } else if (journey == "keys") {
        /* Tab, Enter and Escape in the main form. */
        addKeyStep(VK_TAB, false);
        addKeyStep(VK_TAB, false);
        driver.steps.push_back([] {
            report("focusAfterTabInForm", focusId());
            return true;
        });
        /* Ctrl+B opens a buffer-size dialog; Enter, Escape and Tab do nothing there either. */
        addKeyStep('B', true);
        driver.steps.push_back([] {
            HWND dialog = appState.bufferDialog;
            if (!dialog || !IsWindowVisible(dialog))
                return false;
            SetForegroundWindow(dialog);
            SetFocus(GetDlgItem(dialog, IDC_BUFFER_LIST));
            report("dialogOpened", 1);
            return true;
        });
        addKeyStep(VK_TAB, false);
        driver.steps.push_back([] {
            report("focusAfterTabInDialog", focusId());
            return true;
        });
        addKeyStep(VK_RETURN, false);
        addKeyStep(VK_ESCAPE, false);
        driver.steps.push_back([] {
            report("dialogAfterEnterAndEscape", IsWindow(appState.bufferDialog) && IsWindowVisible(appState.bufferDialog));
            report("focusInDialog", focusTopLevel() == appState.bufferDialog);
            report("bufferBlocksAfterKeys", appState.bufferBlocks);
            return true;
        });
        /* The accelerators act while the dialog has the focus. */
        addKeyStep('Q', true);
    }
    /* Nothing has ended the loop after a while: say so, and end it so the parent sees it. */
    driver.steps.push_back([] {
        if (driver.ticks < 200)
            return false;
        report("timedOut", 1);
        PostQuitMessage(99);
        return true;
    });
}

}  // namespace

TEST(StartupJourney, RunsInChild)
{
    std::string journey = environment("KESTROVA_JOURNEY");
    if (journey.empty())
        GTEST_SKIP() << "run by the start-up tests in a child process";
    reportFile = std::fopen(environment("KESTROVA_JOURNEY_REPORT").c_str(), "w");
    ASSERT_NE(reportFile, nullptr);

    /* For the reader of a failed journey: where the ASPI library comes from. */
    report("env.WINEDLLOVERRIDES", environment("WINEDLLOVERRIDES"));
    report("env.PATH", environment("PATH"));
    report("env.VBUS_CONFIG", environment("VBUS_CONFIG"));

    MessageBoxWatch watch;
    addJourneySteps(journey);
    SetTimer(nullptr, 0, 50, driveTick);

    char commandLine[] = "";
    int status = WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWNORMAL);

    report("loopEnded", 1);
    report("buffersHeldAfterLoop", textBuffersHeld());
    report("aspiLibraryHeldAfterLoop", appState.aspiLibrary != nullptr);
    report("formExistsAfterLoop", IsWindow(appState.mainForm) != FALSE);
    report("boxes", static_cast<long long>(watch.boxes().size()));
    for (const CapturedBox &box : watch.boxes()) {
        report("boxCaption", box.caption);
        report("boxText", box.text);
        report("boxIcon", box.icon);
    }
    report("status", status);
    std::fclose(reportFile);
    ExitProcess(static_cast<UINT>(status));
}
