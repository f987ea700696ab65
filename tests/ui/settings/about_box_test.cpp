/*
 * The About box: its two labels, filled on every paint from the current state, and its only
 * way out, OK (a click or Enter); Escape and a close request leave it open.
 */
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "about_help.h"
#include "app_state.h"
#include "message_box_watch.h"
#include "resource_ids.h"
#include "settings_support.h"
#include "ui_language.h"

namespace {

/* Steps run one per timer tick inside the box's own modal loop, once the box is there. */
std::vector<std::function<void(HWND)>> steps;
size_t nextStep = 0;
HWND aboutBox = nullptr;

void CALLBACK stepTick(HWND, UINT, UINT_PTR, DWORD)
{
    if (!aboutBox)
        aboutBox = findThreadWindow("About Kestrova");
    if (!aboutBox && !(aboutBox = findThreadWindow("A propos de Kestrova")))
        return;
    if (nextStep < steps.size())
        steps[nextStep++](aboutBox);
}

void postKey(HWND box, WORD key)
{
    HWND target = GetFocus();
    if (!target || GetAncestor(target, GA_ROOT) != box)
        target = box;
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

class AboutBoxTest : public testing::Test {
protected:
    void SetUp() override
    {
        form = createStandInForm();
        appState.mainForm = form;
        steps.clear();
        nextStep = 0;
        aboutBox = nullptr;
    }
    void TearDown() override
    {
        DestroyWindow(form);
        EXPECT_TRUE(watch.boxes().empty()) << describe(watch.boxes().front());
    }

    /* Runs the box with the steps; fails when not every step ran or the box stayed open. */
    void runAboutBox()
    {
        UINT_PTR timer = SetTimer(nullptr, 0, 100, stepTick);
        DWORD start = GetTickCount();
        showAboutBox(form);
        KillTimer(nullptr, timer);
        EXPECT_EQ(nextStep, steps.size()) << "the box closed before every step ran";
        EXPECT_LT(GetTickCount() - start, 20000u);
        EXPECT_FALSE(IsWindow(aboutBox)) << "the box is still there";
    }

    MessageBoxWatch watch;
    HWND form = nullptr;
};

TEST_F(AboutBoxTest, ShowsVersionAndBufferSizeAndClosesByOk)
{
    appState.bufferBlocks = 32;
    std::string version, buffer;
    bool modal = false;
    steps.push_back([&](HWND box) {
        UpdateWindow(box);
        version = controlText(box, IDC_ABOUT_VERSION);
        buffer = controlText(box, IDC_ABOUT_BUFFER);
        modal = !IsWindowEnabled(form);
        SendDlgItemMessageA(box, IDC_OK, BM_CLICK, 0, 0);
    });
    runAboutBox();
    EXPECT_EQ(version, "Kestrova V1.31");
    EXPECT_EQ(buffer, "Buffer: 16K");
    EXPECT_TRUE(modal) << "the form takes no input while the box is open";
}

TEST_F(AboutBoxTest, BufferLineFollowsTheStateAtEveryPaint)
{
    appState.bufferBlocks = 200;   /* a stored 100 KB, which the dialog does not offer */
    std::vector<std::string> lines;
    steps.push_back([&](HWND box) {
        UpdateWindow(box);
        lines.push_back(controlText(box, IDC_ABOUT_BUFFER));
        appState.bufferBlocks = 7;   /* 3.5 KB shows as 3 */
        InvalidateRect(box, nullptr, TRUE);
        UpdateWindow(box);
        lines.push_back(controlText(box, IDC_ABOUT_BUFFER));
        SendDlgItemMessageA(box, IDC_OK, BM_CLICK, 0, 0);
    });
    runAboutBox();
    EXPECT_EQ(lines, (std::vector<std::string>{"Buffer: 100K", "Buffer: 3K"}));
}

TEST_F(AboutBoxTest, EscapeAndCloseRequestsDoNothingEnterCloses)
{
    appState.bufferBlocks = 32;
    std::vector<bool> open;
    steps.push_back([&](HWND box) { postKey(box, VK_ESCAPE); });
    steps.push_back([&](HWND box) {
        open.push_back(IsWindowVisible(box) != FALSE);
        PostMessageA(box, WM_CLOSE, 0, 0);
    });
    steps.push_back([&](HWND box) {
        open.push_back(IsWindowVisible(box) != FALSE);
        /* Cancel's command, which Escape and a close request produce, is left alone. */
        SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED), 0);
        open.push_back(IsWindowVisible(box) != FALSE);
        postKey(box, VK_RETURN);
    });
    runAboutBox();
    EXPECT_EQ(open, (std::vector<bool>{true, true, true}));
}

TEST_F(AboutBoxTest, FrenchBoxShowsTheSameLines)
{
    UiLanguageScope french(kLanguageFrench);
    appState.bufferBlocks = 128;
    std::string caption, version, buffer;
    steps.push_back([&](HWND box) {
        UpdateWindow(box);
        caption = windowText(box);
        version = controlText(box, IDC_ABOUT_VERSION);
        buffer = controlText(box, IDC_ABOUT_BUFFER);
        SendDlgItemMessageA(box, IDC_OK, BM_CLICK, 0, 0);
    });
    runAboutBox();
    EXPECT_EQ(caption, "A propos de Kestrova");
    EXPECT_EQ(version, "Kestrova V1.31");
    EXPECT_EQ(buffer, "Buffer: 64K");
}

}  // namespace
