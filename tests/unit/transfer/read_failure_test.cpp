/* Which failed reads a rescue may skip as unreadable sectors, and which still end the copy. */
#include <gtest/gtest.h>
#include "rescue_read.h"

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
        {"HARDWARE ERROR", {0x04, 0x00, 0x02, 0x04, 0x44, 0x00}, ReadFailure::Unreadable},
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

}  // namespace
