/*
 * What looking at the volumes again costs a 64 KB write, measured, not judged: writes of 128
 * sectors to the XP machine's ZIP drive with 24 volumes on its other disks, first with the media
 * change count steady (the volumes are looked at once), then with the count moving before every
 * write (every write checks its held volume and lists all of them again). It prints the calls into
 * the storage stack and the time per write over the emulated stack. Disabled: run it with
 *   bridge_test.exe --gtest_also_run_disabled_tests --gtest_filter=*VolumeListing*
 */
#include "machine_journey.h"
#include "bridge.h"
#include <cstdio>

TEST_F(MachineJourney, DISABLED_VolumeListingPerWrite)
{
    MachineProfile machine = windowsXp();
    for (int i = 0; i < 20; i++) {
        static std::string names[20];
        names[i] = "\\\\?\\Volume{x" + std::to_string(i) + "}";
        machine.volumes.push_back({names[i].c_str(), "\\Device\\HarddiskVolume20", 0, {"swap disk"}, false, true});
    }
    load(machine);
    ASSERT_EQ(supportInfo(), uint32_t(SS_COMP) << 8 | 1);
    std::vector<uint8_t> chunk(64 * 1024, 0x5A);
    const auto write = [&] {
        return execute(0, 5, {0x2A, 0, 0, 0, 0, 0, 0, 0, 128, 0}, SRB_DIR_OUT, chunk.data(), uint32_t(chunk.size()));
    };
    ASSERT_EQ(write().SRB_Status, SS_COMP);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    constexpr int kWrites = 500;
    for (bool moving : {false, true}) {
        const int callsBefore = emulatedStack().calls;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        for (int i = 0; i < kWrites; i++) {
            if (moving)
                emulatedStack().unit("zip").mediaChanges++;
            ASSERT_EQ(write().SRB_Status, SS_COMP);
        }
        QueryPerformanceCounter(&end);
        printf("%s: %.1f calls into the storage stack and %.1f us per 64 KB write\n",
               moving ? "media count moving before every write" : "media count steady",
               double(emulatedStack().calls - callsBefore) / kWrites,
               double(end.QuadPart - start.QuadPart) * 1e6 / double(frequency.QuadPart) / kWrites);
    }
}
