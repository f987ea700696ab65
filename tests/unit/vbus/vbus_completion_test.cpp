/* Asynchronous completion, faults and the request trace. */
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include "child_process.h"
#include "vbus_client.h"

namespace {

SRB_ExecSCSICmd readBlock(uint8_t target, uint32_t lba, uint16_t count, uint8_t *buffer)
{
    SRB_ExecSCSICmd srb;
    memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Flags = SRB_DIR_IN;
    srb.SRB_Target = target;
    srb.SRB_BufLen = count * 512u;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = kSenseLength;
    srb.SRB_CDBLen = 10;
    std::vector<uint8_t> cdb = readCdb(lba, count);
    memcpy(srb.CDBByte, cdb.data(), cdb.size());
    return srb;
}

class VbusAsync : public testing::Test {
protected:
    ScratchFolder scratch;
    VbusClient bus;

    void SetUp() override
    {
        writeFileText(scratch.file("vbus.ini"),
                      "[bus]\n"
                      "completion = async\n"
                      "delay_ms = 300\n"
                      "[adapter 0]\n"
                      "[device 0:1]\n"
                      "size = 1M\n"
                      "image = disk.img\n"
                      "fill = lba\n"
                      "[device 0:2]\n"
                      "size = 1M\n"
                      "image = quick.img\n"
                      "fill = lba\n"
                      "delay_ms = 0\n"
                      "[device 0:3]\n"
                      "size = 64K\n"
                      "completion = immediate\n");
        ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));
        ASSERT_EQ(bus.supportInfo(), 0x0101u);
    }
};

TEST_F(VbusAsync, StatusStaysPendingUntilTheWorkerHasMovedTheData)
{
    std::vector<uint8_t> buffer(4 * 512, 0xEE);
    SRB_ExecSCSICmd srb = readBlock(1, 7, 4, buffer.data());
    DWORD start = GetTickCount();
    EXPECT_EQ(bus.send(&srb), SS_PENDING);
    EXPECT_EQ(srb.SRB_Status, SS_PENDING);
    EXPECT_EQ(buffer[0], 0xEE) << "data moved before the delay";
    EXPECT_EQ(waitForStatus(&srb), SS_COMP);
    EXPECT_GE(GetTickCount() - start, 250u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&buffer[3 * 512]), 16), lbaStamp(10));
}

TEST_F(VbusAsync, EveryCommandOfAnAsyncDeviceCompletesLater)
{
    SRB_HAInquiry q = {};
    q.SRB_Cmd = SC_HA_INQUIRY;
    EXPECT_EQ(bus.send(&q), SS_PENDING);
    EXPECT_EQ(q.HA_Unique[3], 0);
    EXPECT_EQ(waitForStatus(&q), SS_COMP);
    EXPECT_EQ(q.HA_Unique[3], 8);

    SRB_GDEVBlock g = {};
    g.SRB_Cmd = SC_GET_DEV_TYPE;
    g.SRB_Target = 1;
    EXPECT_EQ(bus.send(&g), SS_PENDING);
    EXPECT_EQ(waitForStatus(&g), SS_COMP);

    /* A failure comes late too, with its sense data in place. */
    uint8_t buffer[1024];
    SRB_ExecSCSICmd srb = readBlock(1, 2047, 2, buffer);
    EXPECT_EQ(bus.send(&srb), SS_PENDING);
    EXPECT_EQ(waitForStatus(&srb), SS_ERR);
    EXPECT_EQ(srb.SenseArea[2], 0x05);

    /* Refusals and immediate devices are finished on return. */
    SRB_ExecSCSICmd none = readBlock(5, 0, 1, buffer);
    EXPECT_EQ(bus.send(&none), SS_NO_DEVICE);
    EXPECT_EQ(none.SRB_Status, SS_NO_DEVICE);
    SRB_ExecSCSICmd now = readBlock(3, 0, 1, buffer);
    EXPECT_EQ(bus.send(&now), SS_COMP);
    EXPECT_EQ(now.SRB_Status, SS_COMP);
}

TEST_F(VbusAsync, ManyRequestsInFlightAllFinish)
{
    constexpr int kCount = 24;
    std::vector<std::vector<uint8_t>> buffers(kCount, std::vector<uint8_t>(512));
    std::vector<SRB_ExecSCSICmd> blocks;
    for (int i = 0; i < kCount; i++)
        blocks.push_back(readBlock(2, uint32_t(i * 50), 1, buffers[i].data()));
    for (SRB_ExecSCSICmd &b : blocks)
        bus.send(&b);
    for (int i = 0; i < kCount; i++) {
        EXPECT_EQ(waitForStatus(&blocks[i]), SS_COMP);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(buffers[i].data()), 16), lbaStamp(uint64_t(i) * 50));
    }
}

TEST_F(VbusAsync, UnloadingWithARequestInFlightIsSafe)
{
    std::vector<uint8_t> buffer(512, 0);
    SRB_ExecSCSICmd srb = readBlock(1, 42, 1, buffer.data());
    EXPECT_EQ(bus.send(&srb), SS_PENDING);
    bus.unload();
    EXPECT_NE(GetModuleHandleA(VBUS_DLL_PATH), nullptr) << "the worker keeps the library loaded";
    EXPECT_EQ(waitForStatus(&srb), SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer.data()), 16), lbaStamp(42));
    DWORD start = GetTickCount();
    while (GetModuleHandleA(VBUS_DLL_PATH) && GetTickCount() - start < 5000)
        Sleep(10);
    EXPECT_EQ(GetModuleHandleA(VBUS_DLL_PATH), nullptr) << "the worker let go of the library";

    /* Loaded again, with another configuration. */
    writeFileText(scratch.file("other.ini"), "[bus]\nadapters = 3\n");
    ASSERT_TRUE(bus.load(scratch.file("other.ini")));
    EXPECT_EQ(bus.supportInfo(), 0x0103u);
}

/* The child side of ProcessEndsCleanlyWithARequestInFlight. */
TEST(VbusAsyncChild, ExitWhileARequestIsInFlight)
{
    const char *config = getenv("VBUS_CHILD_CONFIG");
    if (!config)
        GTEST_SKIP() << "runs only as the child process of another test";
    VbusClient bus;
    ASSERT_TRUE(bus.load(config));
    static uint8_t buffer[512];
    static SRB_ExecSCSICmd srb = readBlock(1, 0, 1, buffer);
    bus.send(&srb);
    ExitProcess(srb.SRB_Status == SS_PENDING ? 0 : 7);
}

TEST_F(VbusAsync, ProcessEndsCleanlyWithARequestInFlight)
{
    SetEnvironmentVariableA("VBUS_CHILD_CONFIG", scratch.file("vbus.ini").c_str());
    ChildRun child = runTestsInChild("VbusAsyncChild.*", 20000);
    SetEnvironmentVariableA("VBUS_CHILD_CONFIG", nullptr);
    ASSERT_TRUE(child.started);
    EXPECT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0u);
}

class VbusFaults : public testing::Test {
protected:
    ScratchFolder scratch;
    VbusClient bus;

    void load(const std::string &deviceLines)
    {
        writeFileText(scratch.file("vbus.ini"), "[bus]\ntrace = trace.log\n[adapter 0]\n[device 0:1]\nsize = 1M\n"
                                                "image = disk.img\n" + deviceLines);
        ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));
        ASSERT_EQ(bus.supportInfo(), 0x0101u);
    }

    ExecResult transfer(bool write, uint32_t lba, uint16_t count)
    {
        std::vector<uint8_t> buffer(count * 512u);
        return execute(bus, 0, 1, write ? writeCdb(lba, count) : readCdb(lba, count),
                       write ? SRB_DIR_OUT : SRB_DIR_IN, buffer.data(), uint32_t(buffer.size()));
    }
};

TEST_F(VbusFaults, RangeFaultHitsRequestsTouchingIt)
{
    load("fault = read lba 100-109\nfault = any lba 500 status 02\n");
    struct Case { bool write; uint32_t lba; uint16_t count; uint8_t status; };
    const Case cases[] = {
        {false, 90, 10, SS_COMP},
        {false, 95, 5, SS_COMP},
        {false, 95, 6, SS_ERR},
        {false, 109, 1, SS_ERR},
        {false, 110, 100, SS_COMP},
        {false, 0, 2048, SS_ERR},
        {true, 100, 10, SS_COMP},       /* the first fault is for reads only */
        {true, 499, 2, SS_ABORTED},
        {false, 500, 1, SS_ABORTED},
        {false, 501, 1, SS_COMP},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.write ? "write " : "read ") << c.lba << "+" << c.count);
        ExecResult r = transfer(c.write, c.lba, c.count);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.returned, c.status);
        if (c.status == SS_ERR) {
            EXPECT_EQ(r.srb.SenseArea[2], 0x03);   /* MEDIUM ERROR */
            EXPECT_EQ(r.srb.SRB_TargStat, 0x02);
        }
        if (c.status == SS_ABORTED) {
            EXPECT_EQ(r.srb.SenseArea[0], 0);
            EXPECT_EQ(r.srb.SRB_TargStat, 0);
        }
    }
}

TEST_F(VbusFaults, CountFaultHitsFromTheNextRequestOn)
{
    load("fault = write after 2 status E5\n");
    EXPECT_EQ(transfer(true, 0, 1).status, SS_COMP);
    EXPECT_EQ(transfer(false, 0, 1).status, SS_COMP);   /* reads are not counted */
    EXPECT_EQ(transfer(true, 1, 1).status, SS_COMP);
    EXPECT_EQ(transfer(true, 2, 1).status, SS_ASPI_IS_BUSY);
    EXPECT_EQ(transfer(true, 3, 1).status, SS_ASPI_IS_BUSY);
    EXPECT_EQ(transfer(false, 3, 1).status, SS_COMP);

    /* The count starts again with the configuration. */
    ASSERT_EQ(bus.supportInfo(), 0x0101u);
    EXPECT_EQ(transfer(true, 0, 1).status, SS_COMP);
}

TEST_F(VbusFaults, FaultsThatPassLaterOrChangeTheDataSilently)
{
    load("fill = lba\n"
         "fault = read lba 10 times 2 sense 4/44\n"   /* reads on the third try, HARDWARE ERROR */
         "fault = read lba 20 alter times 1\n"        /* a flaky read: wrong once, then right */
         "fault = write lba 30 lose\n"
         "fault = write lba 31 alter\n");
    std::vector<uint8_t> buffer(4 * 512);
    for (int attempt = 1; attempt <= 3; attempt++) {
        SCOPED_TRACE(attempt);
        ExecResult r = execute(bus, 0, 1, readCdb(9, 2), SRB_DIR_IN, buffer.data(), 1024);
        EXPECT_EQ(r.status, attempt < 3 ? SS_ERR : SS_COMP);
        if (attempt < 3) {
            EXPECT_EQ(r.srb.SenseArea[2], 0x04);
            EXPECT_EQ(r.srb.SenseArea[12], 0x44);
        }
    }
    ASSERT_EQ(transfer(false, 21, 1).status, SS_COMP);   /* outside the range: not counted */
    ASSERT_EQ(execute(bus, 0, 1, readCdb(20, 1), SRB_DIR_IN, buffer.data(), 512).status, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer.data()) + 1, 15), lbaStamp(20).substr(1));
    EXPECT_NE(buffer[0], uint8_t(lbaStamp(20)[0]));
    ASSERT_EQ(execute(bus, 0, 1, readCdb(20, 1), SRB_DIR_IN, buffer.data(), 512).status, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer.data()), 16), lbaStamp(20));

    /* Writes of 29-30 and 31-32: 30 lost, 31 stored with its first byte inverted. */
    std::vector<uint8_t> written(2 * 512, 0x5A);
    ASSERT_EQ(execute(bus, 0, 1, writeCdb(29, 2), SRB_DIR_OUT, written.data(), 1024).status, SS_COMP);
    ASSERT_EQ(execute(bus, 0, 1, writeCdb(31, 2), SRB_DIR_OUT, written.data(), 1024).status, SS_COMP);
    EXPECT_EQ(written[0], 0x5A) << "the caller's buffer is left as it was sent";
    ASSERT_EQ(execute(bus, 0, 1, readCdb(29, 4), SRB_DIR_IN, buffer.data(), 2048).status, SS_COMP);
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer.data()) + 512, 16), lbaStamp(30));
    EXPECT_EQ(buffer[2 * 512], 0xA5);
    EXPECT_EQ(buffer[2 * 512 + 1], 0x5A);
    EXPECT_EQ(buffer[3 * 512], 0x5A);
}

TEST_F(VbusFaults, SynchronizeCacheIsAcceptedUnlessTheDeviceDoesNotKnowIt)
{
    const std::vector<uint8_t> sync = {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    load("");
    EXPECT_EQ(execute(bus, 0, 1, sync, 0, nullptr, 0).status, SS_COMP);
    load("sync_cache = no\n");
    ExecResult refused = execute(bus, 0, 1, sync, 0, nullptr, 0);
    EXPECT_EQ(refused.status, SS_ERR);
    EXPECT_EQ(refused.srb.SenseArea[2], 0x05);
    EXPECT_EQ(refused.srb.SenseArea[12], 0x20);
}

TEST_F(VbusFaults, TraceHasOneLinePerRequest)
{
    load("completion = async\ndelay_ms = 1\n");
    SRB_HAInquiry q = {};
    q.SRB_Cmd = SC_HA_INQUIRY;
    bus.send(&q);
    waitForStatus(&q);
    std::vector<uint8_t> buffer(65536);
    execute(bus, 0, 1, readCdb(300, 128), SRB_DIR_IN, buffer.data(), 65536);
    execute(bus, 0, 1, writeCdb(0, 1), SRB_DIR_OUT, buffer.data(), 512);
    execute(bus, 0, 4, inquiryCdb(), SRB_DIR_IN, buffer.data(), 36);
    execute(bus, 1, 0, inquiryCdb(), SRB_DIR_IN, buffer.data(), 36);
    execute(bus, 0, 1, readCdb(2048, 1), SRB_DIR_IN, buffer.data(), 512);
    SRB_GDEVBlock g = {};
    g.SRB_Cmd = SC_GET_DEV_TYPE;
    g.SRB_Target = 1;
    bus.send(&g);
    waitForStatus(&g);
    bus.unload();
    Sleep(50);
    EXPECT_EQ(readFileText(scratch.file("trace.log")),
              "HA_INQUIRY ha=0 status=01\r\n"
              "EXEC ha=0 target=1 lun=0 flags=08 cdb=28 00 00 00 01 2C 00 00 80 00 len=65536 status=01\r\n"
              "EXEC ha=0 target=1 lun=0 flags=10 cdb=2A 00 00 00 00 00 00 00 01 00 len=512 status=01\r\n"
              "EXEC ha=0 target=4 lun=0 flags=08 cdb=12 00 00 00 24 00 len=36 status=82\r\n"
              "EXEC ha=1 target=0 lun=0 flags=08 cdb=12 00 00 00 24 00 len=36 status=81\r\n"
              "EXEC ha=0 target=1 lun=0 flags=08 cdb=28 00 00 00 08 00 00 00 01 00 len=512 status=04\r\n"
              "GET_DEV_TYPE ha=0 target=1 lun=0 status=01\r\n");
}

}  // namespace
