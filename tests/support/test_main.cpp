/* Entry point of every test program: the program's language rule and instance, then GoogleTest. */
#include <gtest/gtest.h>
#include "app_state.h"
#include "ui_language.h"

int main(int argc, char **argv)
{
    applyUiLanguage();
    appState.instance = GetModuleHandleA(nullptr);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
