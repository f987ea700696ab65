/*
 * The SCSI side of what an ASPI request brings back: the target's status byte (SRB_TargStat)
 * and fixed-format sense data (SenseArea) with the sense keys and additional sense codes that
 * the virtual bus and the bridge report.
 */
#ifndef SCSI_STATUS_H
#define SCSI_STATUS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr uint8_t kScsiGood = 0x00;
constexpr uint8_t kScsiCheckCondition = 0x02;
constexpr size_t kFixedSenseLength = 18;

constexpr uint8_t kSenseRecoveredError = 0x01;
constexpr uint8_t kSenseNotReady = 0x02;
constexpr uint8_t kSenseMediumError = 0x03;
constexpr uint8_t kSenseHardwareError = 0x04;
constexpr uint8_t kSenseIllegalRequest = 0x05;
constexpr uint8_t kSenseUnitAttention = 0x06;
constexpr uint8_t kSenseDataProtect = 0x07;
constexpr uint8_t kSenseAbortedCommand = 0x0B;
constexpr uint8_t kAscWriteError = 0x0C;
constexpr uint8_t kAscReadError = 0x11;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscLbaOutOfRange = 0x21;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscWriteProtected = 0x27;
constexpr uint8_t kAscMediumMayHaveChanged = 0x28;   /* not ready to ready change */
constexpr uint8_t kAscPowerOnOrReset = 0x29;         /* power on, reset or bus device reset occurred */
constexpr uint8_t kAscParametersChanged = 0x2A;      /* with ASCQ 01h: mode parameters changed */
constexpr uint8_t kAscNoMedium = 0x3A;
constexpr uint8_t kAscNotReady = 0x04;               /* logical unit not ready, with: */
constexpr uint8_t kAscqBecomingReady = 0x01;         /*   in process of becoming ready */
constexpr uint8_t kAscqStartRequired = 0x02;         /*   initializing command required */
constexpr uint8_t kAscqModeParametersChanged = 0x01;

/* Fixed-format sense data (current error) with a key, additional sense code and qualifier. */
inline void buildSense(uint8_t (&sense)[kFixedSenseLength], uint8_t key, uint8_t asc, uint8_t ascq = 0)
{
    memset(sense, 0, sizeof sense);
    sense[0] = 0x70;       /* current error, fixed format */
    sense[2] = key;
    sense[7] = 10;         /* additional length */
    sense[12] = asc;
    sense[13] = ascq;
}

#endif
