/* Every command of the virtual bus and every error it gives, as a client sees them. */
#include <gtest/gtest.h>
#include <cstring>
#include "vbus_client.h"

namespace {

const char *const kBusConfig =
    "; two adapters, devices of every kind\n"
    "[bus]\n"
    "manager = \"TEST MANAGER\"\n"
    "[adapter 0]\n"
    "scsi_id = 7\n"
    "identifier = \"VIRTUAL ADAPTER0\"\n"
    "max_targets = 8\n"
    "[adapter 1]\n"
    "scsi_id = 3\n"
    "identifier = SHORT\n"
    "max_targets = 0\n"
    "[device 0:1]\n"
    "type = disk\n"
    "vendor = VENDOR1\n"
    "product = \"Disk One\"\n"
    "revision = 1.23\n"
    "sectors = 2048\n"
    "image = disk1.img\n"
    "fill = lba\n"
    "[device 0:2]\n"
    "type = cdrom\n"
    "removable = yes\n"
    "sector_size = 2048\n"
    "sectors = 100\n"
    "image = cd.img\n"
    "fill = lba\n"
    "read_only = yes\n"
    "[device 0:4]\n"
    "removable = yes\n"
    "no_medium = yes\n"
    "[device 0:5]\n"
    "vendor = \"AB\\0CD\"\n"
    "sectors = 16\n"
    "capacity_reply = 00 00 00 FF 00 00 02 00\n"
    "[device 0:6]\n"
    "vendor = SHORT\n"
    "inquiry_length = 16\n"
    "sectors = 16\n"
    "[device 1:12]\n"
    "type = 0x1F\n"
    "sectors = 64\n"
    "image = short.img\n";

class VbusCommands : public testing::Test {
protected:
    ScratchFolder scratch;
    VbusClient bus;

    void SetUp() override
    {
        /* A 10-sector image behind a 64-sector device: the rest reads as zeros. */
        writeFileText(scratch.file("short.img"), std::string(10 * 512, '\xAB'));
        writeFileText(scratch.file("vbus.ini"), kBusConfig);
        ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));
        ASSERT_EQ(bus.supportInfo(), 0x0102u);
    }

    SRB_HAInquiry haInquiry(uint8_t ha, uint32_t &returned)
    {
        SRB_HAInquiry q;
        memset(&q, 0, sizeof q);
        q.SRB_Cmd = SC_HA_INQUIRY;
        q.SRB_HaId = ha;
        returned = bus.send(&q);
        waitForStatus(&q);
        return q;
    }

    SRB_GDEVBlock devType(uint8_t ha, uint8_t target, uint8_t lun, uint32_t &returned)
    {
        SRB_GDEVBlock g;
        memset(&g, 0, sizeof g);
        g.SRB_Cmd = SC_GET_DEV_TYPE;
        g.SRB_HaId = ha;
        g.SRB_Target = target;
        g.SRB_Lun = lun;
        returned = bus.send(&g);
        waitForStatus(&g);
        return g;
    }
};

TEST_F(VbusCommands, AdapterInquiryReportsIdIdentifierAndTargets)
{
    uint32_t returned;
    SRB_HAInquiry a0 = haInquiry(0, returned);
    EXPECT_EQ(returned, SS_COMP);
    EXPECT_EQ(a0.SRB_Status, SS_COMP);
    EXPECT_EQ(a0.HA_Count, 2);
    EXPECT_EQ(a0.HA_SCSI_ID, 7);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(a0.HA_ManagerId), 13), std::string("TEST MANAGER\0", 13));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(a0.HA_Identifier), 16), "VIRTUAL ADAPTER0");
    EXPECT_EQ(a0.HA_Unique[3], 8);
    uint32_t largestTransfer;
    memcpy(&largestTransfer, a0.HA_Unique + 4, 4);
    EXPECT_EQ(largestTransfer, 16u << 20);

    SRB_HAInquiry a1 = haInquiry(1, returned);
    EXPECT_EQ(a1.SRB_Status, SS_COMP);
    EXPECT_EQ(a1.HA_SCSI_ID, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(a1.HA_Identifier), 16), std::string("SHORT", 5) + std::string(11, '\0'));
    EXPECT_EQ(a1.HA_Unique[3], 0);

    SRB_HAInquiry a2 = haInquiry(2, returned);
    EXPECT_EQ(returned, SS_INVALID_HA);
    EXPECT_EQ(a2.SRB_Status, SS_INVALID_HA);
    EXPECT_EQ(a2.HA_SCSI_ID, 0);
}

TEST_F(VbusCommands, DeviceTypeOfEveryKindOfTarget)
{
    struct Case { uint8_t ha, target, lun, status, type; };
    const Case cases[] = {
        {0, 1, 0, SS_COMP, 0x00},
        {0, 2, 0, SS_COMP, 0x05},
        {1, 12, 0, SS_COMP, 0x1F},
        {0, 4, 0, SS_COMP, 0x00},          /* no medium still answers */
        {0, 3, 0, SS_NO_DEVICE, 0},
        {0, 7, 0, SS_NO_DEVICE, 0},        /* the adapter's own id */
        {0, 1, 1, SS_NO_DEVICE, 0},        /* only logical unit 0 exists */
        {2, 1, 0, SS_INVALID_HA, 0},
        {255, 0, 0, SS_INVALID_HA, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.ha) << ":" << int(c.target) << " lun " << int(c.lun));
        uint32_t returned;
        SRB_GDEVBlock g = devType(c.ha, c.target, c.lun, returned);
        EXPECT_EQ(g.SRB_Status, c.status);
        EXPECT_EQ(returned, c.status);
        EXPECT_EQ(g.SRB_DeviceType, c.type);
    }
}

TEST_F(VbusCommands, InquiryGivesTheStandardReply)
{
    struct Case { uint8_t ha, target, status, byte0, byte1; const char *text; };
    const Case cases[] = {
        {0, 1, SS_COMP, 0x00, 0x00, "VENDOR1 Disk One        1.23"},
        {0, 2, SS_COMP, 0x05, 0x80, "VBUS    VIRTUAL DISK    1.0 "},
        {0, 4, SS_COMP, 0x00, 0x80, "VBUS    VIRTUAL DISK    1.0 "},
        {0, 3, SS_NO_DEVICE, 0, 0, nullptr},
        {1, 2, SS_NO_DEVICE, 0, 0, nullptr},
        {3, 1, SS_INVALID_HA, 0, 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.ha) << ":" << int(c.target));
        uint8_t reply[36] = {};
        ExecResult r = execute(bus, c.ha, c.target, inquiryCdb(), SRB_DIR_IN, reply, 36);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.returned, c.status);
        if (!c.text)
            continue;
        EXPECT_EQ(reply[0], c.byte0);
        EXPECT_EQ(reply[1], c.byte1);
        EXPECT_EQ(reply[4], 31);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(reply + 8), 28), c.text);
    }
    uint8_t reply[36];
    execute(bus, 0, 5, inquiryCdb(), SRB_DIR_IN, reply, 36);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(reply + 8), 8), std::string("AB\0CD   ", 8));

    /* 16 bytes of INQUIRY data: byte 4 says 11 more follow, and nothing beyond them arrives. */
    std::memset(reply, 0x5A, sizeof reply);
    EXPECT_EQ(execute(bus, 0, 6, inquiryCdb(), SRB_DIR_IN, reply, 36).status, SS_COMP);
    EXPECT_EQ(reply[4], 11);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(reply + 8), 8), "SHORT   ");
    EXPECT_EQ(reply[16], 0x5A);
    EXPECT_EQ(reply[35], 0x5A);
}

TEST_F(VbusCommands, ReadCapacityGivesLastAddressAndSectorSize)
{
    struct Case { uint8_t target; uint8_t status; std::vector<uint8_t> reply; };
    const Case cases[] = {
        {1, SS_COMP, {0x00, 0x00, 0x07, 0xFF, 0x00, 0x00, 0x02, 0x00}},
        {2, SS_COMP, {0x00, 0x00, 0x00, 0x63, 0x00, 0x00, 0x08, 0x00}},
        {5, SS_COMP, {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x02, 0x00}},   /* raw reply of the INI */
        {4, SS_ERR, {0, 0, 0, 0, 0, 0, 0, 0}},                             /* no medium */
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.target));
        std::vector<uint8_t> reply(36, 0);
        ExecResult r = execute(bus, 0, c.target, readCapacityCdb(), SRB_DIR_IN, reply.data(), 8);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(std::vector<uint8_t>(reply.begin(), reply.begin() + 8), c.reply);
        EXPECT_EQ(reply[8], 0) << "nothing beyond the 8 bytes is written";
    }
}

TEST_F(VbusCommands, ReadGivesTheImageAndWriteChangesIt)
{
    std::vector<uint8_t> buffer(128 * 512);
    ExecResult r = execute(bus, 0, 1, readCdb(300, 128), SRB_DIR_IN, buffer.data(), uint32_t(buffer.size()));
    ASSERT_EQ(r.status, SS_COMP);
    EXPECT_EQ(r.returned, SS_COMP);
    for (int s = 0; s < 128; s += 17)
        EXPECT_EQ(std::string(reinterpret_cast<char *>(&buffer[s * 512 + 496]), 16), lbaStamp(300 + s));

    std::vector<uint8_t> data(2 * 512);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = uint8_t(i * 7);
    r = execute(bus, 0, 1, writeCdb(2046, 2), SRB_DIR_OUT, data.data(), uint32_t(data.size()));
    ASSERT_EQ(r.status, SS_COMP);
    std::vector<uint8_t> back(2 * 512, 0);
    r = execute(bus, 0, 1, readCdb(2046, 2), SRB_DIR_IN, back.data(), uint32_t(back.size()));
    ASSERT_EQ(r.status, SS_COMP);
    EXPECT_EQ(back, data);
    std::string image = readFileText(scratch.file("disk1.img"));
    ASSERT_EQ(image.size(), 2048u * 512);
    EXPECT_EQ(0, memcmp(image.data() + 2046 * 512, data.data(), data.size()));

    std::vector<uint8_t> cd(3 * 2048);
    r = execute(bus, 0, 2, readCdb(97, 3), SRB_DIR_IN, cd.data(), uint32_t(cd.size()));
    ASSERT_EQ(r.status, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&cd[2 * 2048]), 16), lbaStamp(99));
}

TEST_F(VbusCommands, ReadPastTheImageEndGivesZeros)
{
    std::vector<uint8_t> buffer(4 * 512, 0x55);
    ExecResult r = execute(bus, 1, 12, readCdb(8, 4), SRB_DIR_IN, buffer.data(), uint32_t(buffer.size()));
    ASSERT_EQ(r.status, SS_COMP);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 1024), std::vector<uint8_t>(1024, 0xAB));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 1024, buffer.end()), std::vector<uint8_t>(1024, 0));

    /* A device without an image reads zeros and takes writes. */
    std::vector<uint8_t> none(512, 0x55);
    EXPECT_EQ(execute(bus, 0, 5, writeCdb(0, 1), SRB_DIR_OUT, none.data(), 512).status, SS_COMP);
    EXPECT_EQ(execute(bus, 0, 5, readCdb(15, 1), SRB_DIR_IN, none.data(), 512).status, SS_COMP);
    EXPECT_EQ(none, std::vector<uint8_t>(512, 0));
}

TEST_F(VbusCommands, RefusedRequestsEndWithSsErrAndSense)
{
    struct Case {
        const char *what;
        uint8_t target;
        std::vector<uint8_t> cdb;
        uint8_t flags;
        uint32_t length;
        uint8_t senseKey;
        uint8_t asc;
    };
    const Case cases[] = {
        {"read beyond the last sector", 1, readCdb(2047, 2), SRB_DIR_IN, 1024, 0x05, 0x21},
        {"read starting past the end", 1, readCdb(5000, 1), SRB_DIR_IN, 512, 0x05, 0x21},
        {"write beyond the last sector", 1, writeCdb(2040, 9), SRB_DIR_OUT, 9 * 512, 0x05, 0x21},
        {"write to a read-only device", 2, writeCdb(0, 1), SRB_DIR_OUT, 2048, 0x07, 0x27},
        {"read without medium", 4, readCdb(0, 1), SRB_DIR_IN, 512, 0x02, 0x3A},
        {"write without medium", 4, writeCdb(0, 1), SRB_DIR_OUT, 512, 0x02, 0x3A},
        {"length short of count x sector size", 1, readCdb(0, 2), SRB_DIR_IN, 512, 0x05, 0x24},
        {"length beyond count x sector size", 1, writeCdb(0, 1), SRB_DIR_OUT, 1024, 0x05, 0x24},
        {"length in 512-byte units on a CD", 2, readCdb(0, 1), SRB_DIR_IN, 512, 0x05, 0x24},
        {"READ(10) with a 6-byte CDB length", 1, {0x28, 0, 0, 0, 0, 1}, SRB_DIR_IN, 512, 0x05, 0x24},
        {"INQUIRY with a 10-byte CDB length", 1, {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0}, SRB_DIR_IN, 36, 0x05, 0x24},
        {"READ CAPACITY with a 6-byte CDB length", 1, {0x25, 0, 0, 0, 0, 0}, SRB_DIR_IN, 8, 0x05, 0x24},
        {"read flagged as data out", 1, readCdb(0, 1), SRB_DIR_OUT, 512, 0x05, 0x24},
        {"START STOP UNIT that would eject", 1, {0x1B, 0, 0, 0, 0x02, 0}, 0, 0, 0x05, 0x24},
        {"REQUEST SENSE", 1, {0x03, 0, 0, 0, 18, 0}, SRB_DIR_IN, 18, 0x05, 0x20},
        {"MODE SENSE", 1, {0x1A, 0, 0x3F, 0, 36, 0}, SRB_DIR_IN, 36, 0x05, 0x20},
        {"READ(6)", 1, {0x08, 0, 0, 0, 1, 0}, SRB_DIR_IN, 512, 0x05, 0x20},
        {"READ(16)", 1, {0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, SRB_DIR_IN, 512, 0x05, 0x20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> buffer(c.length + 16, 0);
        ExecResult r = execute(bus, 0, c.target, c.cdb, c.flags, buffer.data(), c.length);
        EXPECT_EQ(r.status, SS_ERR);
        EXPECT_EQ(r.returned, SS_ERR);
        EXPECT_EQ(r.srb.SRB_TargStat, 0x02);
        EXPECT_EQ(r.srb.SenseArea[0], 0x70);
        EXPECT_EQ(r.srb.SenseArea[2], c.senseKey);
        EXPECT_EQ(r.srb.SenseArea[12], c.asc);
    }
}

TEST_F(VbusCommands, MalformedRequestBlocksAreRefusedAtOnce)
{
    EXPECT_EQ(bus.send(nullptr), SS_INVALID_SRB);

    uint8_t buffer[512];
    struct Case { const char *what; uint8_t flags; uint8_t cdbLen; bool nullBuffer; };
    const Case cases[] = {
        {"both directions", SRB_DIR_IN | SRB_DIR_OUT, 10, false},
        {"posting asked for", SRB_DIR_IN | 0x01, 10, false},
        {"event notification asked for", SRB_DIR_IN | 0x40, 10, false},
        {"no CDB", SRB_DIR_IN, 0, false},
        {"CDB longer than the block holds", SRB_DIR_IN, 17, false},
        {"no buffer for the data", SRB_DIR_IN, 10, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ExecResult r = execute(bus, 0, 1, readCdb(0, 1), c.flags, c.nullBuffer ? nullptr : buffer, 512);
        r.srb.SRB_CDBLen = c.cdbLen;
        r.srb.SRB_Status = 0;
        uint32_t returned = bus.send(&r.srb);
        EXPECT_EQ(returned, SS_INVALID_SRB);
        EXPECT_EQ(r.srb.SRB_Status, SS_INVALID_SRB);
    }

    uint8_t unknown[60] = {};
    unknown[0] = 0x05;   /* an ASPI command the bus does not offer */
    EXPECT_EQ(bus.send(unknown), SS_INVALID_SRB);
    EXPECT_EQ(unknown[1], SS_INVALID_SRB);
}

TEST_F(VbusCommands, ZeroSectorTransferMovesNothing)
{
    ExecResult r = execute(bus, 0, 1, readCdb(10, 0), SRB_DIR_IN, nullptr, 0);
    EXPECT_EQ(r.status, SS_COMP);
}

}  // namespace
