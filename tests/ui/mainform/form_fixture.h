/*
 * A main form created from its real template ("KESTROVA"), as a window of the program's class
 * whose procedure routes messages as the program's does: WM_PAINT to the refresh, WM_COMMAND to
 * the commands. WM_DESTROY is only counted, so that a test sees the Quit command arrive. The
 * text buffers and the device table are the test's own and are reset for every test.
 */
#ifndef KESTROVA_TEST_FORM_FIXTURE_H
#define KESTROVA_TEST_FORM_FIXTURE_H

#include <gtest/gtest.h>
#include <string>
#include <windows.h>
#include "app_state.h"

/* The whole content of a file; empty when it cannot be read. */
std::string readFile(const std::string &path);

class MainFormTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /* Adapter a with its name and number of device entries; its devices stay as they are. */
    static void setAdapter(int a, const char *name, uint8_t maxTargets);
    static DeviceRecord &setDevice(int a, int d, const char *label, int32_t sectors, int32_t sectorSize = 512,
                                   int32_t deviceType = 0, int32_t removable = 0);
    /* Two adapters of eight entries; adapter 0 device 0 has sourceSectors, adapter 1 device 0 targetSectors. */
    static void twoDisks(int32_t sourceSectors, int32_t targetSectors);

    void refresh() const { SendMessageA(form, WM_PAINT, 0, 0); }
    void command(int id, int code = BN_CLICKED) const;
    void click(int id) const { SendDlgItemMessageA(form, id, BM_CLICK, 0, 0); }
    void setText(int id, const char *text) const { SendDlgItemMessageA(form, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); }
    void type(int id, const char *keys) const;

    std::string text(int id) const;
    int selection(int id) const { return static_cast<int>(SendDlgItemMessageA(form, id, CB_GETCURSEL, 0, 0)); }
    int itemCount(int id) const { return static_cast<int>(SendDlgItemMessageA(form, id, CB_GETCOUNT, 0, 0)); }
    std::string item(int id, int index) const;
    bool checked(int id) const { return IsDlgButtonChecked(form, id) == BST_CHECKED; }
    bool enabled(int id) const { return IsWindowEnabled(GetDlgItem(form, id)) != FALSE; }

    HWND form = nullptr;

public:
    static int paints;     /* WM_PAINT messages the form received */
    static int destroys;   /* WM_DESTROY messages the form received */
};

#endif
