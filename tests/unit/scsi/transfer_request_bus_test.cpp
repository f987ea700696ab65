/* executeTransfer against the virtual bus: the data that moves and the status that comes back. */
#include <cstring>
#include <string>
#include <vector>
#include "aspi.h"
#include "bus_fixture.h"

namespace {

const char kDisk[] = R"(
[bus]
trace = trace.txt
[adapter 0]
scsi_id = 7
[device 0:2]
sectors = 400
image = disk.img
fill = lba
fault = read lba 350 status E5
fault = write lba 360
[device 0:4]
sectors = 400
image = slow.img
fill = lba
completion = async
delay_ms = 30
)";

std::string lbaRow(unsigned lba)
{
    char row[17];
    std::snprintf(row, sizeof row, "LBA %010u\r\n", lba);
    return row;
}

}  // namespace

using TransferOnBus = AspiBusTest;

TEST_F(TransferOnBus, ReadsAndWritesWholeSectors)
{
    useBus("bus.ini", kDisk);
    ASSERT_EQ(1, bindAspi(owner_));
    SendASPI32CommandFn send = lookupSendCommand();
    ASSERT_NE(nullptr, send);

    for (uint8_t target : {2, 4}) {
        SCOPED_TRACE(target);
        std::vector<uint8_t> buffer(3 * 512, 0);
        ASSERT_EQ(SS_COMP, executeTransfer(send, TransferDirection::Read, 0, target, 300, 3, buffer.data(),
                                           static_cast<uint32_t>(buffer.size())));
        for (unsigned sector = 0; sector < 3; ++sector)
            EXPECT_EQ(lbaRow(300 + sector), std::string(reinterpret_cast<char *>(&buffer[sector * 512 + 496]), 16));

        std::vector<uint8_t> written(512, 0xC3);
        ASSERT_EQ(SS_COMP, executeTransfer(send, TransferDirection::Write, 0, target, 0, 1, written.data(), 512));
        std::vector<uint8_t> readBack(512, 0);
        ASSERT_EQ(SS_COMP, executeTransfer(send, TransferDirection::Read, 0, target, 0, 1, readBack.data(), 512));
        EXPECT_EQ(written, readBack);
    }

    std::vector<std::string> trace = traceLines("trace.txt");
    ASSERT_GE(trace.size(), 1u);
    EXPECT_EQ("EXEC ha=0 target=2 lun=0 flags=08 cdb=28 00 00 00 01 2C 00 00 03 00 len=1536 status=01", trace[0]);
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ("EXEC ha=0 target=2 lun=0 flags=10 cdb=2A 00 00 00 00 00 00 00 01 00 len=512 status=01", trace[1]);
}

TEST_F(TransferOnBus, FailedRequestsReturnTheirStatus)
{
    useBus("bus.ini", kDisk);
    ASSERT_EQ(1, bindAspi(owner_));
    SendASPI32CommandFn send = lookupSendCommand();
    ASSERT_NE(nullptr, send);
    std::vector<uint8_t> buffer(8 * 512, 0);
    uint32_t bytes = static_cast<uint32_t>(buffer.size());

    struct Case {
        const char *name;
        TransferDirection direction;
        uint8_t target;
        uint32_t sectorAddress;
        uint8_t status;
    } cases[] = {
        {"read over a faulty spot", TransferDirection::Read, 2, 345, SS_ASPI_IS_BUSY},
        {"write over a faulty spot", TransferDirection::Write, 2, 355, SS_ERR},
        {"read beyond the last sector", TransferDirection::Read, 2, 396, SS_ERR},
        {"no device at the target", TransferDirection::Read, 3, 0, SS_NO_DEVICE},
        {"read beyond the last sector, completed later", TransferDirection::Read, 4, 396, SS_ERR},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.status, executeTransfer(send, c.direction, 0, c.target, c.sectorAddress, 8, buffer.data(), bytes));
    }
    EXPECT_EQ(SS_INVALID_HA, executeTransfer(send, TransferDirection::Read, 1, 2, 0, 8, buffer.data(), bytes));
}

/* A library that refuses a request at once and only returns the status, leaving the block's
   status byte pending: the returned value is the result, and nothing waits for the byte. */
TEST_F(TransferOnBus, RefusalsOnlyReturnedStillEndTheRequest)
{
    std::string ini = kDisk;
    ini.replace(ini.find("[bus]\n"), 6, "[bus]\nrefusal_status = returned\n");
    useBus("bus.ini", ini);
    ASSERT_EQ(1, bindAspi(owner_));
    SendASPI32CommandFn send = lookupSendCommand();
    ASSERT_NE(nullptr, send);
    std::vector<uint8_t> buffer(8 * 512, 0);
    uint32_t bytes = static_cast<uint32_t>(buffer.size());

    EXPECT_EQ(SS_NO_DEVICE, executeTransfer(send, TransferDirection::Read, 0, 3, 0, 8, buffer.data(), bytes));
    EXPECT_EQ(SS_INVALID_HA, executeTransfer(send, TransferDirection::Write, 1, 2, 0, 8, buffer.data(), bytes));
    /* Requests that are carried out still end through the status byte. */
    EXPECT_EQ(SS_ERR, executeTransfer(send, TransferDirection::Read, 0, 4, 396, 8, buffer.data(), bytes));
    EXPECT_EQ(SS_COMP, executeTransfer(send, TransferDirection::Read, 0, 2, 0, 8, buffer.data(), bytes));
    EXPECT_EQ(lbaRow(7), std::string(reinterpret_cast<char *>(&buffer[7 * 512 + 496]), 16));
}
