/* The INI file: what it can say, how errors are reported, and reading it again on a new load. */
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include "vbus_client.h"

namespace {

SRB_HAInquiry adapterInquiry(VbusClient &bus, uint8_t ha)
{
    SRB_HAInquiry q;
    memset(&q, 0, sizeof q);
    q.SRB_Cmd = SC_HA_INQUIRY;
    q.SRB_HaId = ha;
    bus.send(&q);
    waitForStatus(&q);
    return q;
}

TEST(VbusConfig, BadLinesNameFileAndLineAndFailTheSupportInfo)
{
    struct Case { const char *text; int line; const char *says; };
    const Case cases[] = {
        {"[bus]\nfoo = 1\n", 2, "unknown key \"foo\""},
        {"sectors = 5\n", 1, "before any [section]"},
        {"[device 0]\n", 1, "[device ADAPTER:TARGET]"},
        {"[device 0:x]\n", 1, "[device ADAPTER:TARGET]"},
        {"[bus\n", 1, "must end with ]"},
        {"[printer 1]\n", 1, "unknown section"},
        {"; fine\n\ngarbage line\n", 3, "expected key = value"},
        {"\x01\x02\xff=\xfe\n", 1, "before any [section]"},
        {"[bus]\n\x01\x02\xff=\xfe\n", 2, "unknown key"},
        {"[adapter 0]\nscsi_id = 300\n", 2, "scsi_id"},
        {"[adapter 0]\n[adapter 0]\n", 2, "twice"},
        {"[adapter 0]\nidentifier = 12345678901234567\n", 2, "longer than 16"},
        {"[bus]\nstatus = XYZ\n", 2, "status"},
        {"[bus]\nadapters = 256\n", 2, "adapters"},
        {"[bus]\ndelay_ms = soon\n", 2, "delay_ms"},
        {"[bus]\nrefusal_status = sometimes\n", 2, "written or returned"},
        {"[device 0:1]\nsectors = 4\n[device 0:1]\n", 3, "twice"},
        {"[device 0:1]\nvendor = TOOLONGVENDOR\n", 2, "vendor is longer than 8"},
        {"[device 0:1]\nrevision = 12345\n", 2, "revision is longer than 4"},
        {"[device 0:1]\nvendor = \"abc\n", 2, "missing closing quote"},
        {"[device 0:1]\nvendor = \"a\\qb\"\n", 2, "unknown escape"},
        {"[device 0:1]\nvendor = \"ab\" cd\n", 2, "after the closing quote"},
        {"[device 0:1]\nremovable = perhaps\n", 2, "removable must be yes or no"},
        {"[device 0:1]\ntype = floppy\n", 2, "type"},
        {"[device 0:1]\nsector_size = 0\n", 2, "sector_size"},
        {"[device 0:1]\nsize = 1000\n", 2, "multiple of the sector size"},
        {"[device 0:1]\nsize = 1M\nsector_size = 3000\n", 2, "multiple of the sector size"},
        {"[device 0:1]\nsector_size = 1048576\nsectors = 0x1000000000000\n", 1, "larger than 4 EiB"},
        {"[device 0:1]\nsectors = -5\n", 2, "sectors"},
        {"[device 0:1]\ncapacity_reply = 00 11\n", 2, "capacity_reply"},
        {"[device 0:1]\ndev_type_status = 00\n", 2, "dev_type_status"},
        {"[device 0:1]\ninquiry_length = 4\n", 2, "inquiry_length must be a number from 5 to 36"},
        {"[device 0:1]\nsectors = 10\nfault = read lba 5-2\n", 3, "fault"},
        {"[device 0:1]\nsectors = 10\nfault = sometimes\n", 3, "fault"},
        {"[device 0:1]\nsectors = 10\nfault = read after 3 status 00\n", 3, "cannot be 0"},
        {"[device 0:1]\ncompletion = later\n", 2, "immediate or async"},
        {"[device 0:1]\nfill = ones\n", 2, "fill"},
        {"[device 0:1]\nsize = 1K\nimage = no-such-folder\\x.img\n", 3, "no-such-folder\\x.img (error"},
        {"[device 0:1]\nimage = missing.img\n", 2, "no size is given"},
        {"[device 0:1]\nvendor = X\n", 1, "no image and no size"},
        {"[bus]\nadapters = 1\n[device 1:0]\nsectors = 1\n", 3, "beyond adapters = 1"},
        {"[adapter 0]\nscsi_id = 5\n[device 0:5]\nsectors = 1\n", 3, "own SCSI id"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ScratchFolder scratch;
        std::string ini = scratch.file("vbus.ini");
        writeFileText(ini, c.text);
        VbusClient bus;
        ASSERT_TRUE(bus.load(ini));
        uint32_t support = 0;
        std::string log = captureStderr(scratch, [&] { support = bus.supportInfo(); });
        EXPECT_EQ(support, 0xEB00u);
        std::string where = ini + ":" + std::to_string(c.line) + ": ";
        EXPECT_NE(log.find("vbus: " + where), std::string::npos) << log;
        EXPECT_NE(log.find(c.says), std::string::npos) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;

        /* Requests are refused, each with the status in its block. */
        SRB_HAInquiry q = {};
        q.SRB_Cmd = SC_HA_INQUIRY;
        EXPECT_EQ(bus.send(&q), SS_BAD_INSTALL);
        EXPECT_EQ(q.SRB_Status, SS_BAD_INSTALL);
    }
}

TEST(VbusConfig, MissingFileIsNamed)
{
    ScratchFolder scratch;
    VbusClient bus;
    ASSERT_TRUE(bus.load(scratch.file("absent.ini")));
    uint32_t support = 0;
    std::string log = captureStderr(scratch, [&] { support = bus.supportInfo(); });
    EXPECT_EQ(support, 0xEB00u);
    EXPECT_NE(log.find(scratch.file("absent.ini") + ": cannot open the configuration"), std::string::npos) << log;
}

TEST(VbusConfig, WithoutVbusConfigTheIniBesideTheLibraryIsRead)
{
    std::string beside = VBUS_DLL_PATH;
    beside = beside.substr(0, beside.find_last_of('\\')) + "\\vbus.ini";
    if (fileExists(beside))
        GTEST_SKIP() << beside << " exists";
    ScratchFolder scratch;
    VbusClient bus;
    ASSERT_TRUE(bus.load(""));
    SetEnvironmentVariableA("VBUS_CONFIG", nullptr);
    uint32_t support = 0;
    std::string log = captureStderr(scratch, [&] { support = bus.supportInfo(); });
    EXPECT_EQ(support, 0xEB00u);
    EXPECT_NE(log.find(beside), std::string::npos) << log;
}

TEST(VbusConfig, SupportStatusAndAdapterCountAsConfigured)
{
    struct Case { const char *text; uint32_t support; int lastAdapter; };
    const Case cases[] = {
        {"", 0x0100, -1},
        {"[bus]\nstatus = E4\nadapters = 0\n", 0xE400, -1},
        {"[bus]\nstatus = 0xE8\nadapters = 0\n", 0xE800, -1},
        {"[bus]\nadapters = 6\n", 0x0106, 5},
        {"[adapter 2]\n", 0x0103, 2},
        {"[adapter 1]\n[device 3:0]\nsectors = 1\n", 0x0104, 3},
        {"[bus]\nadapters = 255\n", 0x01FF, 254},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ScratchFolder scratch;
        writeFileText(scratch.file("vbus.ini"), c.text);
        VbusClient bus;
        ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));
        EXPECT_EQ(bus.supportInfo(), c.support);
        if (c.lastAdapter >= 0) {
            SRB_HAInquiry q = adapterInquiry(bus, uint8_t(c.lastAdapter));
            EXPECT_EQ(q.SRB_Status, SS_COMP);
            EXPECT_EQ(q.HA_SCSI_ID, 7);
            EXPECT_EQ(q.HA_Unique[3], 8);
            EXPECT_EQ(std::string(reinterpret_cast<char *>(q.HA_Identifier)), "VBUS ADAPTER");
        }
        EXPECT_EQ(adapterInquiry(bus, uint8_t(c.lastAdapter + 1)).SRB_Status, SS_INVALID_HA);
    }
}

/* A refused request always returns its status; whether SRB_Status shows it too is configured.
   Requests that are carried out write their status either way. */
TEST(VbusConfig, RefusalStatusWrittenOrOnlyReturned)
{
    struct Setting { const char *line; bool written; };
    for (const Setting &c : {Setting{"", true}, Setting{"refusal_status = written\n", true},
                             Setting{"refusal_status = Returned\n", false}}) {
        const char *setting = c.line;
        const bool written = c.written;
        SCOPED_TRACE(*setting ? setting : "(default)");
        ScratchFolder scratch;
        writeFileText(scratch.file("vbus.ini"),
                      std::string("[bus]\n") + setting + "[device 0:1]\nsectors = 8\nfill = lba\n");
        VbusClient bus;
        ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));

        struct Refusal { uint8_t ha, target; uint8_t status; };
        for (const Refusal &r : {Refusal{5, 1, SS_INVALID_HA}, Refusal{0, 3, SS_NO_DEVICE}}) {
            SRB_GDEVBlock g;
            memset(&g, 0, sizeof g);
            g.SRB_Cmd = SC_GET_DEV_TYPE;
            g.SRB_HaId = r.ha;
            g.SRB_Target = r.target;
            EXPECT_EQ(bus.send(&g), r.status);
            EXPECT_EQ(g.SRB_Status, written ? r.status : SS_PENDING);
        }
        EXPECT_EQ(bus.send(nullptr), SS_INVALID_SRB);

        uint8_t sector[512];
        ExecResult beyond = execute(bus, 0, 1, readCdb(8, 1), SRB_DIR_IN, sector, 512);
        EXPECT_EQ(beyond.returned, SS_ERR) << "an error found while carrying out is no refusal";
        EXPECT_EQ(beyond.status, SS_ERR);
        ExecResult read = execute(bus, 0, 1, readCdb(0, 1), SRB_DIR_IN, sector, 512);
        EXPECT_EQ(read.status, SS_COMP);
    }
}

TEST(VbusConfig, CommentsQuotesCaseAndCrLf)
{
    ScratchFolder scratch;
    writeFileText(scratch.file("vbus.ini"),
                  "# comment\r\n"
                  "[ADAPTER 0]\r\n"
                  "  Scsi_ID =  0x0F   ; own id fifteen\r\n"
                  "IDENTIFIER = \"ID;\\\"Q\\\"\\x41\" ; quoted\r\n"
                  "[Device 0:3]\r\n"
                  "Vendor = \"A;B\" ; a comment after a quoted text\r\n"
                  "PRODUCT = with;semicolon\r\n"
                  "type = CDROM\r\n"
                  "removable = TRUE\r\n"
                  "size=1m\r\n"
                  "sector_size=2048\r\n");
    VbusClient bus;
    ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));
    ASSERT_EQ(bus.supportInfo(), 0x0101u);
    SRB_HAInquiry q = adapterInquiry(bus, 0);
    EXPECT_EQ(q.HA_SCSI_ID, 15);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(q.HA_Identifier)), "ID;\"Q\"A");
    uint8_t reply[36] = {};
    execute(bus, 0, 3, inquiryCdb(), SRB_DIR_IN, reply, 36);
    EXPECT_EQ(reply[0], 5);
    EXPECT_EQ(reply[1], 0x80);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(reply + 8), 24), "A;B     with;semicolon  ");
    uint8_t capacity[8] = {};
    execute(bus, 0, 3, readCapacityCdb(), SRB_DIR_IN, capacity, 8);
    EXPECT_EQ(capacity[3], 0xFF);   /* 512 sectors of 2048 bytes: last address 511 */
    EXPECT_EQ(capacity[2], 0x01);
    EXPECT_EQ(capacity[6], 0x08);
}

TEST(VbusConfig, ReadAgainWhenTheLibraryIsLoadedAnew)
{
    ScratchFolder scratch;
    writeFileText(scratch.file("one.ini"), "[adapter 0]\nscsi_id = 1\n");
    writeFileText(scratch.file("three.ini"), "[bus]\nadapters = 3\n[adapter 0]\nscsi_id = 2\n");
    VbusClient bus;
    for (int round = 0; round < 3; round++) {
        ASSERT_TRUE(bus.load(scratch.file("one.ini")));
        EXPECT_EQ(bus.supportInfo(), 0x0101u);
        EXPECT_EQ(adapterInquiry(bus, 0).HA_SCSI_ID, 1);
        bus.unload();
        for (int i = 0; i < 200 && GetModuleHandleA(VBUS_DLL_PATH); i++)
            Sleep(10);
        EXPECT_EQ(GetModuleHandleA(VBUS_DLL_PATH), nullptr);
        ASSERT_TRUE(bus.load(scratch.file("three.ini")));
        /* A request before any GetASPI32SupportInfo reads the configuration too. */
        EXPECT_EQ(adapterInquiry(bus, 0).HA_SCSI_ID, 2);
        EXPECT_EQ(bus.supportInfo(), 0x0103u);
        bus.unload();
    }

    /* Within one load, every GetASPI32SupportInfo reads the file again. */
    ASSERT_TRUE(bus.load(scratch.file("one.ini")));
    EXPECT_EQ(bus.supportInfo(), 0x0101u);
    writeFileText(scratch.file("one.ini"), "[bus]\nadapters = 2\n");
    EXPECT_EQ(bus.supportInfo(), 0x0102u);
}

}  // namespace

namespace {

/* Lines put together at random from pieces of good and bad configuration: whatever comes out,
 * the library answers with a status and never falls over. */
TEST(VbusConfig, ArbitraryLinesNeverCrash)
{
    const char *const pieces[] = {
        "[bus]", "[adapter 0]", "[adapter 3]", "[device 0:1]", "[device 0:2]", "[device 3:15]", "[device",
        "[]", "[adapter 999]", "status = 01", "status = E4", "adapters = 2", "adapters = 999", "trace = t.log",
        "completion = async", "delay_ms = 0", "scsi_id = 1", "scsi_id = 2", "identifier = \"\\0\\0\"",
        "max_targets = 0", "type = cdrom", "vendor = \"\\x", "vendor = \"", "product = \"x\\0y\"",
        "sector_size = 2048", "sector_size = 0", "sectors = 99999999999999999999", "size = 4K", "size = 7",
        "image = r.img", "image = \"\"", "fill = lba", "read_only = yes", "no_medium = 1",
        "capacity_reply = FF FF FF FF FF FF FF FF", "capacity_reply = GG", "fault = any lba 0-1",
        "fault = read after 0 status 80", "fault = write lba", "=", "= value", "key =", ";", "#", "\t",
        "\x80\x81\xfe", "[device 0:1] trailing", "sectors = 0x", "sectors = 0xFFFFFFFFFFFFFFFFF",
    };
    const size_t count = sizeof pieces / sizeof pieces[0];
    uint32_t seed = 12345;
    auto next = [&seed] { seed = seed * 1103515245u + 12345u; return (seed >> 16) & 0x7FFF; };
    int good = 0;
    for (int round = 0; round < 80; round++) {
        ScratchFolder scratch;
        std::string text;
        int lines = 1 + int(next() % 12);
        for (int i = 0; i < lines; i++)
            text += std::string(pieces[next() % count]) + (next() % 4 ? "\n" : "\r\n");
        SCOPED_TRACE(text);
        writeFileText(scratch.file("vbus.ini"), text);
        VbusClient bus;
        ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));
        uint32_t support = 0;
        std::string log = captureStderr(scratch, [&] { support = bus.supportInfo(); });
        if (support == 0xEB00u && !log.empty()) {
            EXPECT_EQ(log.rfind("vbus: " + scratch.file("vbus.ini") + ":", 0), 0u) << log;
            continue;
        }
        good++;
        EXPECT_TRUE(log.empty()) << log;
        uint8_t buffer[4096];
        ExecResult r = execute(bus, 0, 1, readCdb(0, 1), SRB_DIR_IN, buffer, 512);
        EXPECT_NE(r.status, SS_PENDING);
    }
    EXPECT_GT(good, 0);
}

}  // namespace
