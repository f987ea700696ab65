/* Asking a drive who it is now: a reset on the way is asked through, a medium change is told. */
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <vector>
#include "archive.h"

namespace {

/* A drive of 1000 sectors of 512 bytes whose READ CAPACITY first meets the unit attentions
   queued in pendingAsc (each report clears one, as on a real drive). */
int pendingAsc[4];
int pendingCount, capacityAsks;

uint32_t __cdecl scriptedDrive(void *block)
{
    auto &request = *static_cast<SRB_ExecSCSICmd *>(block);
    if (request.CDBByte[0] == 0x12) {
        std::memset(request.SRB_BufPointer, 0, request.SRB_BufLen);
        std::memcpy(request.SRB_BufPointer + 8, "MAKER   DRIVE           1.00", 28);
        request.SRB_Status = SS_COMP;
        return SS_COMP;
    }
    capacityAsks++;
    if (pendingCount > 0) {
        std::memset(request.SenseArea, 0, sizeof request.SenseArea);
        request.SenseArea[0] = 0x70;
        request.SenseArea[2] = 0x06;
        request.SenseArea[7] = 10;
        request.SenseArea[12] = uint8_t(pendingAsc[0]);
        std::memmove(pendingAsc, pendingAsc + 1, sizeof pendingAsc - sizeof pendingAsc[0]);
        pendingCount--;
        request.SRB_TargStat = 0x02;
        request.SRB_Status = SS_ERR;
        return SS_ERR;
    }
    const uint8_t reply[8] = {0, 0, 0x03, 0xE7, 0, 0, 0x02, 0};   /* last LBA 999, 512 bytes */
    std::memcpy(request.SRB_BufPointer, reply, sizeof reply);
    request.SRB_Status = SS_COMP;
    return SS_COMP;
}

TEST(DeviceIdentity, ResetsAreAskedThroughAMediumChangeIsToldAndChangesNothing)
{
    struct Case {
        const char *what;
        std::vector<int> attentions;
        bool answers;
        int asks;
    };
    const Case cases[] = {
        {"a ready drive", {}, true, 1},
        {"a reset, then parameters changed", {0x29, 0x2A}, true, 3},
        {"a medium change", {0x28}, false, 1},
        {"a reset, then a medium change", {0x29, 0x28}, false, 2},
        {"resets without end", {0x29, 0x29, 0x29, 0x29}, false, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        pendingCount = int(c.attentions.size());
        std::copy(c.attentions.begin(), c.attentions.end(), pendingAsc);
        capacityAsks = 0;
        DeviceIdentity identity = {};
        identity.sectorCount = 77;   /* what the scan saw */
        RequestOutcome failure = {};
        EXPECT_EQ(identifyDeviceNow(scriptedDrive, DeviceAddress{0, 3}, identity, failure), c.answers);
        EXPECT_EQ(capacityAsks, c.asks);
        if (c.answers) {
            EXPECT_EQ(identity.sectorCount, 1000);
            EXPECT_EQ(identity.sectorSize, 512);
            EXPECT_STREQ(identity.inquiry, "MAKER   DRIVE           1.00");
        } else {
            EXPECT_EQ(identity.sectorCount, 77) << "a half answer replaced the scan's";
            EXPECT_EQ(mediumChanged(failure), c.attentions.back() == 0x28);
        }
    }
}

}  // namespace
