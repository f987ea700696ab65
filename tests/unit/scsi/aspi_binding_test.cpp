/* Binding wnaspi32.dll: the support status and adapter count, and every way the binding fails. */
#include <cstring>
#include "aspi.h"
#include "bus_fixture.h"
#include "bus_scan.h"
#include "message_box_watch.h"

namespace {

void expectErrorBox(const MessageBoxWatch &watch, const char *text, const char *caption, HWND owner)
{
    ASSERT_EQ(1u, watch.boxes().size());
    const CapturedBox &box = watch.boxes()[0];
    EXPECT_EQ(text, box.text) << describe(box);
    EXPECT_EQ(caption, box.caption) << describe(box);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.icon) << describe(box);
    EXPECT_EQ(static_cast<UINT>(MB_OK), box.buttons) << describe(box);
    EXPECT_EQ(owner, box.owner) << describe(box);
}

}  // namespace

using BindAspi = AspiBusTest;

TEST_F(BindAspi, SupportStatusAndAdapterCount)
{
    struct Case {
        const char *name;
        const char *ini;
        int result;
        int adapterCount;
        const char *message;   /* null: no box */
    } cases[] = {
        {"usable, no adapter", "[bus]\nstatus = 01\nadapters = 0\n", 1, 0, nullptr},
        {"usable, two adapters", "[bus]\nstatus = 01\nadapters = 2\n", 1, 2, nullptr},
        {"usable, four adapters", "[bus]\nstatus = 01\nadapters = 4\n", 1, 4, nullptr},
        {"usable, six adapters: four are used", "[bus]\nstatus = 01\nadapters = 6\n", 1, 4, nullptr},
        {"ASPI failed to start", "[bus]\nstatus = E4\nadapters = 1\n", 0, 0,
         "ASPI for WIN32 is not initialized or not present"},
        {"no adapters installed", "[bus]\nstatus = E8\nadapters = 0\n", 0, 0,
         "Host Adapter Inquiry returned an supported status"},
        {"pending as a support status", "[bus]\nstatus = 00\nadapters = 1\n", 0, 0,
         "Host Adapter Inquiry returned an supported status"},
        {"no ASPI manager", "[bus]\nstatus = E3\nadapters = 1\n", 0, 0,
         "Host Adapter Inquiry returned an supported status"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        useBus("bus.ini", c.ini);
        appState.adapterCount = 0;
        watch_.clear();
        EXPECT_EQ(c.result, bindAspi(owner_));
        EXPECT_EQ(c.adapterCount, appState.adapterCount);
        if (c.message) {
            expectErrorBox(watch_, c.message, "ERROR", owner_);
            EXPECT_EQ(nullptr, appState.aspiLibrary);
            EXPECT_EQ(nullptr, GetModuleHandleA("wnaspi32.dll")) << "the library is released";
        } else {
            EXPECT_TRUE(watch_.boxes().empty());
            EXPECT_NE(nullptr, appState.aspiLibrary);
            EXPECT_EQ(appState.aspiLibrary, GetModuleHandleA("wnaspi32.dll"));
        }
        releaseAspiLibrary();
    }
}

TEST_F(BindAspi, LibraryThatCannotBeLoaded)
{
    useBrokenLibrary("refuses_to_load");
    watch_.clear();
    EXPECT_EQ(0, bindAspi(owner_));
    expectErrorBox(watch_, "Can't load or initialize ASPI for Windows", "ERROR", owner_);
    EXPECT_EQ(nullptr, appState.aspiLibrary);
    EXPECT_EQ(0, appState.adapterCount);
}

TEST_F(BindAspi, LibraryWithoutSupportInfoIsReleasedSilently)
{
    useBrokenLibrary("no_exports");
    watch_.clear();
    EXPECT_EQ(0, bindAspi(owner_));
    EXPECT_TRUE(watch_.boxes().empty());
    EXPECT_EQ(nullptr, appState.aspiLibrary);
    EXPECT_EQ(nullptr, GetModuleHandleA("wnaspi32.dll"));
}

TEST_F(BindAspi, ScanWithoutSendCommandLeavesTheTableAlone)
{
    useBrokenLibrary("support_info_only");
    watch_.clear();
    ASSERT_EQ(1, bindAspi(owner_));
    EXPECT_EQ(2, appState.adapterCount);
    EXPECT_EQ(nullptr, lookupSendCommand());

    std::memset(&adapterTable, 0x3C, sizeof adapterTable);
    AdapterTable before = adapterTable;
    EXPECT_EQ(0, scanBus(owner_));
    expectErrorBox(watch_, "Adapter Inquiry did no answer.", "Error", owner_);
    EXPECT_EQ(0, std::memcmp(&before, &adapterTable, sizeof adapterTable));
}
