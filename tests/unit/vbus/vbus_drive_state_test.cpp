/* Devices that get ready as real drives do: a unit attention, a stopped motor, a spin-up, and a
 * cartridge swapped by describing the bus again. */
#include <gtest/gtest.h>
#include "vbus_client.h"

namespace {

struct Answer {
    uint8_t status, key, asc, ascq;
    bool operator==(const Answer &o) const
    {
        return status == o.status && key == o.key && asc == o.asc && ascq == o.ascq;
    }
};

std::ostream &operator<<(std::ostream &out, const Answer &a)
{
    return out << "status " << int(a.status) << " sense " << int(a.key) << "/" << std::hex << int(a.asc) << "/"
               << int(a.ascq) << std::dec;
}

Answer ask(VbusClient &bus, uint8_t target, const std::vector<uint8_t> &cdb, uint8_t flags = 0,
           uint32_t length = 0)
{
    uint8_t data[512] = {};
    ExecResult r = execute(bus, 0, target, cdb, flags, length ? data : nullptr, length);
    if (r.status != SS_ERR)
        return {r.status, 0, 0, 0};
    return {r.status, uint8_t(r.srb.SenseArea[2] & 0x0F), r.srb.SenseArea[12], r.srb.SenseArea[13]};
}

Answer readCapacity(VbusClient &bus, uint8_t target)
{
    return ask(bus, target, readCapacityCdb(), SRB_DIR_IN, 8);
}

const std::vector<uint8_t> kTestUnitReady = {0x00, 0, 0, 0, 0, 0};
const std::vector<uint8_t> kStartUnit = {0x1B, 0, 0, 0, 0x01, 0};
const Answer kGood = {SS_COMP, 0, 0, 0};

std::string bus(const std::string &cartridge)
{
    return "[device 0:1]\nsectors = 16\nunit_attention = power_on\n"
           "[device 0:2]\nsectors = 16\nstopped = yes\nspin_up_ms = 300\n"
           "[device 0:3]\nsectors = 16\nspin_up_ms = 600000\n"
           "[device 0:4]\nremovable = yes\nreport_medium_change = yes\nimage = " + cartridge + "\n"
           "[device 0:5]\nremovable = yes\nimage = " + cartridge + "\n";
}

}  // namespace

TEST(VbusDriveStates, DevicesAnswerAsRealDrivesDo)
{
    ScratchFolder scratch;
    writeFileText(scratch.file("small.img"), std::string(16 * 512, 's'));
    writeFileText(scratch.file("large.img"), std::string(64 * 512, 'l'));
    writeFileText(scratch.file("vbus.ini"), bus("small.img"));
    VbusClient client;
    ASSERT_TRUE(client.load(scratch.file("vbus.ini")));
    ASSERT_EQ(client.supportInfo() >> 8, SS_COMP);

    /* Just switched on: INQUIRY works and leaves the condition; the next command reports it, once. */
    EXPECT_EQ(ask(client, 1, inquiryCdb(), SRB_DIR_IN, 36), kGood);
    EXPECT_EQ(readCapacity(client, 1), (Answer{SS_ERR, 6, 0x29, 0}));
    EXPECT_EQ(readCapacity(client, 1), kGood);

    /* Stopped: waits for START STOP UNIT, whose answer comes once the motor runs. */
    EXPECT_EQ(ask(client, 2, kTestUnitReady), (Answer{SS_ERR, 2, 0x04, 0x02}));
    EXPECT_EQ(readCapacity(client, 2), (Answer{SS_ERR, 2, 0x04, 0x02}));
    EXPECT_EQ(ask(client, 2, kStartUnit), kGood);
    EXPECT_EQ(ask(client, 2, kTestUnitReady), kGood);
    EXPECT_EQ(readCapacity(client, 2), kGood);

    /* Spinning up (for ten minutes): media commands wait, INQUIRY does not. */
    EXPECT_EQ(ask(client, 3, inquiryCdb(), SRB_DIR_IN, 36), kGood);
    EXPECT_EQ(ask(client, 3, kTestUnitReady), (Answer{SS_ERR, 2, 0x04, 0x01}));
    EXPECT_EQ(ask(client, 3, readCdb(0, 1), SRB_DIR_IN, 512), (Answer{SS_ERR, 2, 0x04, 0x01}));

    /* Another cartridge in both removable drives: the one that reports it says 28h once; the
       drives that stay keep their state (no new power-on, still spinning). */
    EXPECT_EQ(readCapacity(client, 4), kGood);
    writeFileText(scratch.file("vbus.ini"), bus("large.img"));
    ASSERT_EQ(client.supportInfo() >> 8, SS_COMP);
    EXPECT_EQ(readCapacity(client, 4), (Answer{SS_ERR, 6, 0x28, 0}));
    uint8_t capacity[8] = {};
    ASSERT_EQ(execute(client, 0, 4, readCapacityCdb(), SRB_DIR_IN, capacity, 8).status, SS_COMP);
    EXPECT_EQ(capacity[3], 63) << "the new cartridge's last sector";
    EXPECT_EQ(readCapacity(client, 5), kGood);
    EXPECT_EQ(readCapacity(client, 1), kGood);
    EXPECT_EQ(ask(client, 3, kTestUnitReady), (Answer{SS_ERR, 2, 0x04, 0x01}));
}
