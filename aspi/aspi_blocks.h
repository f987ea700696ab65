/*
 * ASPI for Win32 request blocks, command and status codes, as the library and the program
 * exchange them. Byte-packed, little-endian. In the 32-bit program the pointer fields are
 * 4 bytes wide (the published layout: 60, 12 and 116 bytes). A 64-bit build, used where Wine
 * runs only 64-bit code, widens the two pointer fields of SRB_ExecSCSICmd to 8 bytes and
 * shifts the fields after them; everything else is the same.
 */
#ifndef KESTROVA_ASPI_BLOCKS_H
#define KESTROVA_ASPI_BLOCKS_H

#include <cstddef>
#include <cstdint>

/* ASPI commands (SRB_Cmd) */
constexpr uint8_t SC_HA_INQUIRY = 0x00;
constexpr uint8_t SC_GET_DEV_TYPE = 0x01;
constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;
constexpr uint8_t SC_GETSET_TIMEOUTS = 0x08;   /* served by the bridge; the program never sends it */

/* Request flags (SRB_Flags): only the direction bits are used */
constexpr uint8_t SRB_DIR_IN = 0x08;
constexpr uint8_t SRB_DIR_OUT = 0x10;

/* ASPI status codes (SRB_Status, and bits 8-15 of GetASPI32SupportInfo) */
constexpr uint8_t SS_PENDING = 0x00;
constexpr uint8_t SS_COMP = 0x01;
constexpr uint8_t SS_ABORTED = 0x02;
constexpr uint8_t SS_ABORT_FAIL = 0x03;
constexpr uint8_t SS_ERR = 0x04;
constexpr uint8_t SS_INVALID_CMD = 0x80;       /* an ASPI command the library does not offer */
constexpr uint8_t SS_INVALID_HA = 0x81;
constexpr uint8_t SS_NO_DEVICE = 0x82;
constexpr uint8_t SS_INVALID_SRB = 0xE0;
constexpr uint8_t SS_BUFFER_ALIGN = 0xE1;
constexpr uint8_t SS_ILLEGAL_MODE = 0xE2;
constexpr uint8_t SS_NO_ASPI = 0xE3;
constexpr uint8_t SS_FAILED_INIT = 0xE4;
constexpr uint8_t SS_ASPI_IS_BUSY = 0xE5;
constexpr uint8_t SS_BUFFER_TO_BIG = 0xE6;
constexpr uint8_t SS_MISMATCHED_COMPONENTS = 0xE7;
constexpr uint8_t SS_NO_ADAPTERS = 0xE8;
constexpr uint8_t SS_INSUFFICIENT_RESOURCES = 0xE9;
constexpr uint8_t SS_ASPI_IS_SHUTDOWN = 0xEA;
constexpr uint8_t SS_BAD_INSTALL = 0xEB;

/* Host adapter status (SRB_HaStat), which the program never examines; the bridge reports these */
constexpr uint8_t HASTAT_OK = 0x00;
constexpr uint8_t HASTAT_COMMAND_TIMEOUT = 0x0B;   /* the command ran out of time */
constexpr uint8_t HASTAT_DO_DU = 0x12;             /* data overrun or underrun */

/* SRB_HaId, SRB_Target or SRB_Lun of an SC_GETSET_TIMEOUTS that sets: every one */
constexpr uint8_t kAspiEveryone = 0xFF;

/* SCSI operation codes of the CDBs */
constexpr uint8_t SCSI_TEST_UNIT_READY = 0x00;
constexpr uint8_t SCSI_INQUIRY = 0x12;
constexpr uint8_t SCSI_START_STOP_UNIT = 0x1B;
constexpr uint8_t SCSI_READ_CAPACITY = 0x25;
constexpr uint8_t SCSI_READ10 = 0x28;
constexpr uint8_t SCSI_WRITE10 = 0x2A;
constexpr uint8_t SCSI_SYNCHRONIZE_CACHE10 = 0x35;

constexpr int kInquiryReplyLength = 36;
constexpr int kReadCapacityReplyLength = 8;
constexpr int kSenseLength = 50;       /* SRB_SenseLen asked for */
constexpr int kSenseAreaSize = 52;     /* room for it in the block */

#pragma pack(push, 1)

struct SRB_Header {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;      /* written by the library, possibly from another thread */
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t HA_Count;
    uint8_t HA_SCSI_ID;
    uint8_t HA_ManagerId[16];
    uint8_t HA_Identifier[16];   /* not necessarily NUL-terminated */
    uint8_t HA_Unique[16];       /* byte 3: number of targets supported */
    uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint8_t SRB_DeviceType;
    uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t *SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void *SRB_PostProc;          /* always null: completion is polled */
    uint8_t SRB_Rsvd2[20];
    uint8_t CDBByte[16];
    uint8_t SenseArea[kSenseAreaSize];
};

/* SC_GETSET_TIMEOUTS: SRB_Flags SRB_DIR_IN reads a unit's timeout, SRB_DIR_OUT sets it. */
struct SRB_GetSetTimeouts {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint32_t SRB_Timeout;        /* in half seconds */
};

#pragma pack(pop)

static_assert(sizeof(SRB_Header) == 8, "SRB header");
static_assert(sizeof(SRB_HAInquiry) == 60, "SRB_HAInquiry");
static_assert(offsetof(SRB_HAInquiry, HA_SCSI_ID) == 9, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42, "SRB_HAInquiry layout");
static_assert(offsetof(SRB_HAInquiry, HA_Rsvd1) == 58, "SRB_HAInquiry layout");
static_assert(sizeof(SRB_GDEVBlock) == 12, "SRB_GDEVBlock");
static_assert(sizeof(SRB_GetSetTimeouts) == 14 && offsetof(SRB_GetSetTimeouts, SRB_Timeout) == 10,
              "SRB_GetSetTimeouts");
static_assert(offsetof(SRB_GDEVBlock, SRB_Target) == 8, "SRB_GDEVBlock layout");
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10, "SRB_GDEVBlock layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16, "SRB_ExecSCSICmd layout");

/* Offsets after the first pointer field depend on the pointer width. */
constexpr size_t kPointerGrowth = sizeof(void *) - 4;
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20 + kPointerGrowth, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21 + kPointerGrowth, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22 + kPointerGrowth, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23 + kPointerGrowth, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24 + kPointerGrowth, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) == 28 + 2 * kPointerGrowth, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48 + 2 * kPointerGrowth, "SRB_ExecSCSICmd layout");
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64 + 2 * kPointerGrowth, "SRB_ExecSCSICmd layout");
static_assert(sizeof(SRB_ExecSCSICmd) == 116 + 2 * kPointerGrowth, "SRB_ExecSCSICmd size");

/* The library's two entry points (__cdecl, undecorated names). */
extern "C" {
typedef uint32_t(__cdecl *GetASPI32SupportInfoFn)(void);
typedef uint32_t(__cdecl *SendASPI32CommandFn)(void *requestBlock);
}

#endif
