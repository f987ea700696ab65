/* What a failed read means to a rescue and to the verify pass, from its status and sense. */
#include <gtest/gtest.h>
#include "archive.h"

namespace {

TEST(ReadFailure, OnlyTheMediumOrTheDriveFailingToReadIsSkipped)
{
    struct Case {
        const char *what;
        RequestOutcome outcome;   /* status, host status, target status, sense key, ASC, ASCQ */
        ReadFailure expected;
    };
    const Case cases[] = {
        {"MEDIUM ERROR, unrecovered read", {0x04, 0x00, 0x02, 0x03, 0x11, 0x00}, ReadFailure::Unreadable},
        {"HARDWARE ERROR, a track following error", {0x04, 0x00, 0x02, 0x04, 0x09, 0x00}, ReadFailure::Unreadable},
        {"HARDWARE ERROR, internal target failure", {0x04, 0x00, 0x02, 0x04, 0x44, 0x00}, ReadFailure::DriveFailed},
        {"HARDWARE ERROR, mechanical positioning", {0x04, 0x00, 0x02, 0x04, 0x15, 0x01}, ReadFailure::DriveFailed},
        {"MEDIUM ERROR with a positioning code", {0x04, 0x00, 0x02, 0x03, 0x15, 0x00}, ReadFailure::Unreadable},
        {"MEDIUM ERROR with a data underrun", {0x04, 0x12, 0x02, 0x03, 0x11, 0x00}, ReadFailure::Unreadable},
        {"RECOVERED ERROR", {0x04, 0x00, 0x02, 0x01, 0x18, 0x00}, ReadFailure::Recovered},
        {"ABORTED COMMAND", {0x04, 0x00, 0x02, 0x0B, 0x47, 0x00}, ReadFailure::Aborted},
        {"a reset reported after a hard error", {0x04, 0x00, 0x02, 0x06, 0x29, 0x00}, ReadFailure::Aborted},
        {"medium changed", {0x04, 0x00, 0x02, 0x06, 0x28, 0x00}, ReadFailure::Fatal},
        {"NOT READY, no medium", {0x04, 0x00, 0x02, 0x02, 0x3A, 0x00}, ReadFailure::Fatal},
        {"ILLEGAL REQUEST", {0x04, 0x00, 0x02, 0x05, 0x21, 0x00}, ReadFailure::Fatal},
        {"MEDIUM ERROR sense after a selection timeout", {0x04, 0x11, 0x02, 0x03, 0x11, 0x00}, ReadFailure::Fatal},
        {"sense without CHECK CONDITION", {0x04, 0x00, 0x00, 0x03, 0x11, 0x00}, ReadFailure::Fatal},
        {"no device", {0x82, 0x00, 0x00, 0x00, 0x00, 0x00}, ReadFailure::Fatal},
        {"aborted by the ASPI layer", {0x02, 0x00, 0x00, 0x00, 0x00, 0x00}, ReadFailure::Fatal},
    };
    for (const Case &c : cases)
        EXPECT_EQ(int(classifyReadFailure(c.outcome)), int(c.expected)) << c.what;
}

/* Which replies make a rescue wait for the drive, refuse to go on from a map, or read back
   without the FUA bit. */
TEST(ReadFailure, WaitingMediumChangeAndForceUnitAccess)
{
    struct Case {
        const char *what;
        RequestOutcome outcome;
        bool wait, changed, withoutFua;
    };
    const Case cases[] = {
        {"NOT READY, becoming ready", {0x04, 0x00, 0x02, 0x02, 0x04, 0x01}, true, false, false},
        {"NOT READY, START UNIT needed", {0x04, 0x00, 0x02, 0x02, 0x04, 0x02}, false, false, false},
        {"NOT READY, no medium", {0x04, 0x00, 0x02, 0x02, 0x3A, 0x00}, false, false, false},
        {"becoming ready without CHECK CONDITION", {0x04, 0x00, 0x00, 0x02, 0x04, 0x01}, false, false, false},
        {"UNIT ATTENTION, medium changed", {0x04, 0x00, 0x02, 0x06, 0x28, 0x00}, false, true, false},
        {"UNIT ATTENTION, reset", {0x04, 0x00, 0x02, 0x06, 0x29, 0x00}, false, false, false},
        {"ILLEGAL REQUEST, invalid field", {0x04, 0x00, 0x02, 0x05, 0x24, 0x00}, false, false, true},
        {"a SCSI-1 drive's CHECK CONDITION without sense", {0x04, 0x00, 0x02, 0x00, 0x00, 0x00}, false, false, true},
        {"selection timeout: no sense key either", {0x04, 0x11, 0x00, 0x00, 0x00, 0x00}, false, false, false},
        {"a host adapter error with CHECK CONDITION", {0x04, 0x11, 0x02, 0x00, 0x00, 0x00}, false, false, false},
        {"MEDIUM ERROR", {0x04, 0x00, 0x02, 0x03, 0x11, 0x00}, false, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(becomingReady(c.outcome), c.wait);
        EXPECT_EQ(mediumChanged(c.outcome), c.changed);
        EXPECT_EQ(forceUnitAccessRefused(c.outcome), c.withoutFua);
    }
}

}  // namespace
