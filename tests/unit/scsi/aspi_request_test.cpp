/* The transfer request block and its CDB, the wait for a request, and the status texts. */
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>
#include "aspi.h"

namespace {

/* A stand-in for SendASPI32Command whose behaviour each test picks. */
enum class FakeMode { CompleteAtOnce, RefuseWithoutStatus, RefuseWithStatus, CompleteLater };

FakeMode fakeMode = FakeMode::CompleteAtOnce;
uint8_t fakeStatus = SS_COMP;
int fakeCalls = 0;
std::vector<uint8_t> fakeSeenBlock;
std::thread fakeLibraryThread;

uint32_t __cdecl fakeSendCommand(void *requestBlock)
{
    ++fakeCalls;
    auto *bytes = static_cast<uint8_t *>(requestBlock);
    fakeSeenBlock.assign(bytes, bytes + sizeof(SRB_ExecSCSICmd));
    switch (fakeMode) {
    case FakeMode::CompleteAtOnce:
        bytes[1] = fakeStatus;
        return fakeStatus;
    case FakeMode::RefuseWithoutStatus:   /* as Wine's own ASPI layer does */
        return fakeStatus;
    case FakeMode::RefuseWithStatus:
        bytes[1] = fakeStatus;
        return fakeStatus;
    case FakeMode::CompleteLater:
        fakeLibraryThread = std::thread([bytes] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::atomic_thread_fence(std::memory_order_release);
            *static_cast<volatile uint8_t *>(bytes + 1) = fakeStatus;
        });
        return SS_PENDING;
    }
    return SS_PENDING;
}

void useFake(FakeMode mode, uint8_t status)
{
    fakeMode = mode;
    fakeStatus = status;
    fakeCalls = 0;
    fakeSeenBlock.clear();
}

void joinFakeLibrary()
{
    if (fakeLibraryThread.joinable())
        fakeLibraryThread.join();
}

struct TransferCase {
    const char *name;
    TransferDirection direction;
    uint32_t sectorAddress;
    uint32_t sectorCount;
    uint8_t flags;
    uint8_t cdb[10];
};

const TransferCase kTransferCases[] = {
    {"read 128 at 300", TransferDirection::Read, 300, 128, SRB_DIR_IN,
     {0x28, 0x00, 0x00, 0x00, 0x01, 0x2C, 0x00, 0x00, 0x80, 0x00}},
    {"write 1 at 0", TransferDirection::Write, 0, 1, SRB_DIR_OUT,
     {0x2A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}},
    {"read at the last 32-bit address", TransferDirection::Read, 0xFFFFFFFFu, 0xFFFF, SRB_DIR_IN,
     {0x28, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x00}},
    {"write with every address byte different", TransferDirection::Write, 0x12345678u, 0x0102,
     SRB_DIR_OUT, {0x2A, 0x00, 0x12, 0x34, 0x56, 0x78, 0x00, 0x01, 0x02, 0x00}},
};

}  // namespace

TEST(TransferRequest, BlockAndCdbOfEachDirection)
{
    uint8_t buffer[16];
    for (const TransferCase &c : kTransferCases) {
        SCOPED_TRACE(c.name);
        SRB_ExecSCSICmd request;
        std::memset(&request, 0xA5, sizeof request);   /* a block used before is cleared */
        buildTransferRequest(request, c.direction, 2, 5, c.sectorAddress,
                             static_cast<uint16_t>(c.sectorCount), buffer, 65536);

        SRB_ExecSCSICmd expected;
        std::memset(&expected, 0, sizeof expected);
        expected.SRB_Cmd = SC_EXEC_SCSI_CMD;
        expected.SRB_HaId = 2;
        expected.SRB_Flags = c.flags;
        expected.SRB_Target = 5;
        expected.SRB_BufLen = 65536;
        expected.SRB_BufPointer = buffer;
        expected.SRB_SenseLen = 50;
        expected.SRB_CDBLen = 10;
        std::memcpy(expected.CDBByte, c.cdb, sizeof c.cdb);
        EXPECT_EQ(0, std::memcmp(&expected, &request, sizeof request));
        EXPECT_EQ(0, std::memcmp(c.cdb, request.CDBByte, 10));
        EXPECT_EQ(c.flags, request.SRB_Flags);
    }
}

TEST(TransferRequest, SentAsBuiltAndItsStatusReturned)
{
    uint8_t buffer[512];
    useFake(FakeMode::CompleteAtOnce, SS_COMP);
    EXPECT_EQ(SS_COMP, executeTransfer(fakeSendCommand, TransferDirection::Read, 1, 3, 300, 128,
                                       buffer, sizeof buffer));
    ASSERT_EQ(1, fakeCalls);
    SRB_ExecSCSICmd sent;
    std::memcpy(&sent, fakeSeenBlock.data(), sizeof sent);
    EXPECT_EQ(SS_PENDING, sent.SRB_Status);   /* cleared before it was sent */
    EXPECT_EQ(1, sent.SRB_HaId);
    EXPECT_EQ(3, sent.SRB_Target);
    EXPECT_EQ(0, sent.SRB_Lun);
    EXPECT_EQ(buffer, sent.SRB_BufPointer);
    EXPECT_EQ(sizeof buffer, sent.SRB_BufLen);
    const uint8_t cdb[10] = {0x28, 0, 0, 0, 0x01, 0x2C, 0, 0, 0x80, 0};
    EXPECT_EQ(0, std::memcmp(cdb, sent.CDBByte, 10));

    useFake(FakeMode::CompleteAtOnce, SS_ERR);
    EXPECT_EQ(SS_ERR, executeTransfer(fakeSendCommand, TransferDirection::Write, 0, 0, 0, 1, buffer,
                                      sizeof buffer));
}

TEST(TransferRequest, CountBeyondSixteenBitsIsNotSent)
{
    uint8_t buffer[16];
    for (uint32_t count : {0x10000u, 0x10080u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        useFake(FakeMode::CompleteAtOnce, SS_COMP);
        EXPECT_EQ(SS_INVALID_SRB, executeTransfer(fakeSendCommand, TransferDirection::Read, 0, 0, 0,
                                                  count, buffer, sizeof buffer));
        EXPECT_EQ(0, fakeCalls);
    }
    useFake(FakeMode::CompleteAtOnce, SS_COMP);
    EXPECT_EQ(SS_COMP, executeTransfer(fakeSendCommand, TransferDirection::Read, 0, 0, 0, 0xFFFF,
                                       buffer, sizeof buffer));
    EXPECT_EQ(1, fakeCalls);
}

TEST(SendAndWait, FinalStatusOfEachWayALibraryAnswers)
{
    struct Case {
        const char *name;
        FakeMode mode;
        uint8_t status;
    } cases[] = {
        {"completed during the call", FakeMode::CompleteAtOnce, SS_COMP},
        {"refused, status byte left pending", FakeMode::RefuseWithoutStatus, SS_INVALID_SRB},
        {"refused, no device, byte left pending", FakeMode::RefuseWithoutStatus, SS_NO_DEVICE},
        {"refused with the status written", FakeMode::RefuseWithStatus, SS_INVALID_HA},
        {"completed later by the library's thread", FakeMode::CompleteLater, SS_COMP},
        {"failed later by the library's thread", FakeMode::CompleteLater, SS_ERR},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        useFake(c.mode, c.status);
        SRB_ExecSCSICmd request;
        std::memset(&request, 0, sizeof request);
        uint32_t returned = 0xDEADBEEF;
        EXPECT_EQ(c.status, sendAndWait(fakeSendCommand, &request, &returned));
        joinFakeLibrary();
        EXPECT_EQ(c.status, request.SRB_Status);
        EXPECT_EQ(c.mode == FakeMode::CompleteLater ? SS_PENDING : c.status, returned);
    }
}

TEST(SendAndWait, WaitsOnTheStatusByteOfTheBlock)
{
    /* The byte is written by another thread while the wait spins on it. */
    SRB_GDEVBlock block;
    std::memset(&block, 0, sizeof block);
    std::atomic<bool> written{false};
    std::thread library([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        block.SRB_DeviceType = 5;
        written = true;
        *static_cast<volatile uint8_t *>(&block.SRB_Status) = SS_ERR;
    });
    waitForRequest(&block);
    EXPECT_TRUE(written.load());
    EXPECT_EQ(SS_ERR, block.SRB_Status);
    EXPECT_EQ(5, block.SRB_DeviceType);
    library.join();
}

TEST(StatusText, EveryCodeAndTheUnknownOnes)
{
    struct Case {
        uint8_t status;
        const char *text;
    } cases[] = {
        {0x02, "(ASPI command aborted)"},
        {0x03, "(ASPI command abort failed)"},
        {0x04, "(ASPI command completed with an error)"},
        {0x81, "(Invalid host adapter)"},
        {0x82, "(No device)"},
        {0xE0, "(Scsi command parameters incorrect)"},
        {0xE1, "(Buffer misaligned)"},
        {0xE2, "(Unsupported windows mode)"},
        {0xE3, "(No aspi manager resident)"},
        {0xE4, "(Unable to initialize or aspi not available)"},
        {0xE5, "(ASPI too busy to handle request)"},
        {0xE6, "(Can't negociate tranfert buffer size)"},
        {0xE7, "(DLL/EXE of aspi don't version check)"},
        {0xE8, "(No ASPI adpaters installed)"},
        {0xE9, "(Could not allocate resources)"},
        {0xEA, "(Call came to ASPI after PROCESS_DETACH)"},
        {0xEB, "(The DLL or other components are installed wrong)"},
        {0x05, "(Unprocessed error)"},
        {0x80, "(Unprocessed error)"},
        {0x83, "(Unprocessed error)"},
        {0xEC, "(Unprocessed error)"},
        {0xFF, "(Unprocessed error)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_STREQ(c.text, aspiStatusText(c.status));
    }
}

TEST(StatusText, FailureReportText)
{
    char text[256];
    formatScsiFailure(text, sizeof text, 0x04);
    EXPECT_STREQ("SCSI Command Failed.\nASPI returned status=04h\n(ASPI command completed with an error)", text);
    formatScsiFailure(text, sizeof text, 0x80);
    EXPECT_STREQ("SCSI Command Failed.\nASPI returned status=80h\n(Unprocessed error)", text);
    formatScsiFailure(text, sizeof text, 0xEB);
    EXPECT_STREQ("SCSI Command Failed.\nASPI returned status=EBh\n(The DLL or other components are installed wrong)", text);
}
