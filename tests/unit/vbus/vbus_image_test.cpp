/* Image files: created at the configured size, sizes beyond 4 GiB, and what the file already
 * holds. (What a request costs beside the file operation: `make bench`.) */
#include <gtest/gtest.h>
#include <cstring>
#include "vbus_client.h"

namespace {

uint32_t bigEndian32(const uint8_t *p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

TEST(VbusImage, ImageOfMoreThan4GiBIsCreatedSparseAndAddressedBeyond4GiB)
{
    ScratchFolder scratch;
    writeFileText(scratch.file("vbus.ini"), "[adapter 0]\n[device 0:0]\nsize = 5G\nimage = big.img\n");
    VbusClient bus;
    ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));
    ASSERT_EQ(bus.supportInfo(), 0x0101u);
    EXPECT_EQ(fileSizeOf(scratch.file("big.img")), 5ull << 30);

    uint8_t capacity[8];
    ASSERT_EQ(execute(bus, 0, 0, readCapacityCdb(), SRB_DIR_IN, capacity, 8).status, SS_COMP);
    EXPECT_EQ(bigEndian32(capacity), (5u << 21) - 1);
    EXPECT_EQ(bigEndian32(capacity + 4), 512u);

    /* Sector 9,000,000 lies at byte 4,608,000,000, beyond 4 GiB. */
    const uint32_t lba = 9000000;
    std::vector<uint8_t> data(8 * 512);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = uint8_t(i % 251);
    ASSERT_EQ(execute(bus, 0, 0, writeCdb(lba, 8), SRB_DIR_OUT, data.data(), 4096).status, SS_COMP);
    std::vector<uint8_t> back(4096);
    ASSERT_EQ(execute(bus, 0, 0, readCdb(lba, 8), SRB_DIR_IN, back.data(), 4096).status, SS_COMP);
    EXPECT_EQ(back, data);
    /* Nothing landed at the 32-bit wrapped offset. */
    ASSERT_EQ(execute(bus, 0, 0, readCdb(lba - (1u << 23), 8), SRB_DIR_IN, back.data(), 4096).status, SS_COMP);
    EXPECT_EQ(back, std::vector<uint8_t>(4096, 0));
    ASSERT_EQ(execute(bus, 0, 0, readCdb((5u << 21) - 1, 1), SRB_DIR_IN, back.data(), 512).status, SS_COMP);
    EXPECT_EQ(execute(bus, 0, 0, readCdb(5u << 21, 1), SRB_DIR_IN, back.data(), 512).status, SS_ERR);

    /* The bytes are in the file at the 64-bit offset. */
    HANDLE h = CreateFileA(scratch.file("big.img").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(lba) * 512;
    SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    DWORD got = 0;
    std::vector<uint8_t> raw(4096);
    ReadFile(h, raw.data(), 4096, &got, nullptr);
    CloseHandle(h);
    EXPECT_EQ(raw, data);
}

TEST(VbusImage, SizesFromTheConfigurationOrTheImage)
{
    ScratchFolder scratch;
    writeFileText(scratch.file("given.img"), std::string(5 * 512 + 100, 'x'));
    writeFileText(scratch.file("vbus.ini"),
                  "[adapter 0]\n"
                  "[device 0:0]\n"
                  "image = given.img\n"            /* 5 whole sectors */
                  "[device 0:1]\n"
                  "sectors = 3\n"
                  "image = given.img\n"            /* larger file than device */
                  "read_only = yes\n"
                  "[device 0:2]\n"
                  "sector_size = 2048\n"
                  "sectors = 7\n"
                  "image = new.img\n"
                  "[device 0:3]\n"
                  "sectors = 0x100000005\n");      /* beyond 32-bit addresses, no image */
    VbusClient bus;
    ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));
    ASSERT_EQ(bus.supportInfo(), 0x0101u);
    EXPECT_EQ(fileSizeOf(scratch.file("new.img")), 7u * 2048);
    EXPECT_EQ(fileSizeOf(scratch.file("given.img")), 5u * 512 + 100);
    struct Case { uint8_t target; uint32_t last; uint32_t size; };
    const Case cases[] = {{0, 4, 512}, {1, 2, 512}, {2, 6, 2048}, {3, 0xFFFFFFFFu, 512}};
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.target));
        uint8_t capacity[8];
        ASSERT_EQ(execute(bus, 0, c.target, readCapacityCdb(), SRB_DIR_IN, capacity, 8).status, SS_COMP);
        EXPECT_EQ(bigEndian32(capacity), c.last);
        EXPECT_EQ(bigEndian32(capacity + 4), c.size);
    }
    std::vector<uint8_t> buffer(2048, 1);
    ASSERT_EQ(execute(bus, 0, 2, readCdb(6, 1), SRB_DIR_IN, buffer.data(), 2048).status, SS_COMP);
    EXPECT_EQ(buffer, std::vector<uint8_t>(2048, 0));
    ASSERT_EQ(execute(bus, 0, 1, readCdb(2, 1), SRB_DIR_IN, buffer.data(), 512).status, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer.data()), 512), std::string(512, 'x'));
}

TEST(VbusImage, LbaFillStampsNewImagesOnly)
{
    ScratchFolder scratch;
    writeFileText(scratch.file("old.img"), std::string(4 * 512, 'o'));
    writeFileText(scratch.file("vbus.ini"),
                  "[adapter 0]\n"
                  "[device 0:0]\nsize = 300K\nimage = new.img\nfill = lba\n"
                  "[device 0:1]\nsectors = 4\nimage = old.img\nfill = lba\n"
                  "[device 0:2]\nsector_size = 2056\nsectors = 3\nimage = odd.img\nfill = lba\n");
    VbusClient bus;
    ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));
    ASSERT_EQ(bus.supportInfo(), 0x0101u);
    std::string image = readFileText(scratch.file("new.img"));
    ASSERT_EQ(image.size(), 600u * 512);
    for (uint64_t lba : {0ull, 1ull, 299ull, 599ull})
        for (size_t row = 0; row < 512; row += 16)
            ASSERT_EQ(image.substr(lba * 512 + row, 16), lbaStamp(lba)) << lba << " " << row;
    EXPECT_EQ(lbaStamp(599), "LBA 0000000599\r\n");
    EXPECT_EQ(readFileText(scratch.file("old.img")), std::string(4 * 512, 'o'));
    /* A sector size that is no multiple of 16 ends with part of a stamp. */
    std::string odd = readFileText(scratch.file("odd.img"));
    ASSERT_EQ(odd.size(), 3u * 2056);
    EXPECT_EQ(odd.substr(2056 + 2048, 8), lbaStamp(1).substr(0, 8));
    EXPECT_EQ(odd.substr(2 * 2056, 16), lbaStamp(2));
}

}  // namespace

namespace {

/* The demo bus of `make run`, loaded from a copy so that its images land in a scratch folder. */
TEST(VbusDemo, DemoBusHasTheDevicesItPromises)
{
    ScratchFolder scratch;
    std::string text = readFileText(VBUS_DEMO_INI);
    ASSERT_FALSE(text.empty()) << VBUS_DEMO_INI;
    writeFileText(scratch.file("vbus.ini"), text);
    VbusClient bus;
    ASSERT_TRUE(bus.load(scratch.file("vbus.ini")));
    ASSERT_EQ(bus.supportInfo(), 0x0102u);

    for (uint8_t ha = 0; ha < 2; ha++) {
        SRB_HAInquiry q = {};
        q.SRB_Cmd = SC_HA_INQUIRY;
        q.SRB_HaId = ha;
        bus.send(&q);
        ASSERT_EQ(waitForStatus(&q), SS_COMP);
        EXPECT_EQ(q.HA_SCSI_ID, 7);
    }
    struct Case { uint8_t ha, target, inquiry, type, removable, capacity; uint32_t last, size; };
    const Case cases[] = {
        {0, 0, SS_COMP, 0, 0x00, SS_COMP, 204799, 512},      /* 100 MB hard disk */
        {0, 1, SS_COMP, 0, 0x80, SS_COMP, 204799, 512},      /* removable 100 MB */
        {0, 2, SS_COMP, 5, 0x80, SS_COMP, 32767, 2048},      /* CD-ROM */
        {0, 3, SS_NO_DEVICE, 0, 0, 0, 0, 0},                 /* nothing */
        {0, 4, SS_COMP, 0, 0x80, SS_ERR, 0, 0},              /* no medium */
        {0, 5, SS_COMP, 0, 0x80, SS_ERR, 0, 0},              /* cartridge just put in: UNIT ATTENTION first */
        {1, 0, SS_COMP, 0, 0x00, SS_COMP, 409599, 512},      /* blank 200 MB */
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.ha) << ":" << int(c.target));
        uint8_t reply[36] = {};
        ASSERT_EQ(execute(bus, c.ha, c.target, inquiryCdb(), SRB_DIR_IN, reply, 36).status, c.inquiry);
        if (c.inquiry != SS_COMP)
            continue;
        EXPECT_EQ(reply[0], c.type);
        EXPECT_EQ(reply[1], c.removable);
        uint8_t capacity[8] = {};
        ASSERT_EQ(execute(bus, c.ha, c.target, readCapacityCdb(), SRB_DIR_IN, capacity, 8).status, c.capacity);
        if (c.capacity == SS_COMP) {
            EXPECT_EQ(bigEndian32(capacity), c.last);
            EXPECT_EQ(bigEndian32(capacity + 4), c.size);
        }
    }
    std::vector<uint8_t> sector(2048);
    ASSERT_EQ(execute(bus, 0, 0, readCdb(204799, 1), SRB_DIR_IN, sector.data(), 512).status, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(sector.data()), 16), lbaStamp(204799));
    ASSERT_EQ(execute(bus, 0, 2, readCdb(100, 1), SRB_DIR_IN, sector.data(), 2048).status, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(sector.data() + 2032), 16), lbaStamp(100));
    EXPECT_EQ(execute(bus, 0, 2, writeCdb(100, 1), SRB_DIR_OUT, sector.data(), 2048).status, SS_ERR);
    ASSERT_EQ(execute(bus, 1, 0, readCdb(409599, 1), SRB_DIR_IN, sector.data(), 512).status, SS_COMP);
    EXPECT_EQ(std::vector<uint8_t>(sector.begin(), sector.begin() + 512), std::vector<uint8_t>(512, 0));
}

}  // namespace
