#include <gtest/gtest.h>
#include "app_state.h"
#include "main_form.h"
#include "resource_ids.h"

TEST(MainForm, CreatedFromItsTemplateAsAWindowOfItsClass)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_TRUE(registerMainFormClass(instance, "Kestrova"));
    ASSERT_TRUE(createMainForm(instance, SW_SHOWNORMAL, "Kestrova"));
    HWND form = appState.mainForm;
    char className[32] = "";
    GetClassNameA(form, className, sizeof className);
    EXPECT_STREQ(className, "Kestrova");
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_NE(GetDlgItem(form, IDC_MAIN_TITLE), nullptr);

    PostMessageA(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_FALSE(IsWindow(form));
}
