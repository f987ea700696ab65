/*
 * What a drive's answer says about its state, and the wait for a drive that is getting ready.
 * Real drives do not always answer at once (SCSI-2 and SPC: the unit attention condition and
 * TEST UNIT READY; SBC: START STOP UNIT; the drive manuals say the same):
 *   - after power-on or a reset (ASC 29h), a cartridge put in (28h) or a MODE SELECT by another
 *     program (2Ah), the first command other than INQUIRY ends with UNIT ATTENTION. Being
 *     reported clears the condition: the same command sent again works;
 *   - while the motor spins up (seconds, up to 30 for some CD and MO drives), media commands end
 *     with NOT READY 04h/01h;
 *   - a stopped drive answers NOT READY 04h/02h until START STOP UNIT starts it;
 *   - a drive without its cartridge answers NOT READY 3Ah.
 *
 * The first requests of a transfer: a transfer names the devices it is about to use, and the
 * first READ(10) or WRITE(10) that reaches each of them and is answered with UNIT ATTENTION 29h
 * or 2Ah is sent once more (executeTransfer does it). Nothing has been moved yet and the medium
 * is the one the scan saw. 28h, or a unit attention later in the transfer, stays a failure: the
 * program's knowledge of the device is stale, and going on could put two cartridges into one
 * image.
 */
#ifndef KESTROVA_DRIVE_STATE_H
#define KESTROVA_DRIVE_STATE_H

#include <windows.h>
#include <cstdint>
#include "aspi.h"

enum class DriveCondition {
    Answered,            /* the request completed */
    PoweredOnOrReset,    /* UNIT ATTENTION 29h */
    MediumChanged,       /* UNIT ATTENTION 28h */
    ParametersChanged,   /* UNIT ATTENTION 2Ah */
    OtherAttention,      /* any other UNIT ATTENTION */
    BecomingReady,       /* NOT READY 04h/01h: ask again a little later */
    NeedsStart,          /* NOT READY 04h/02h: the drive waits for START STOP UNIT */
    NoMedium,            /* NOT READY 3Ah */
    OtherNotReady,
    Failed,              /* anything else: no device, an error of the medium, of the request, ... */
};

/* What the outcome of one request says; only a CHECK CONDITION with its sense data says more
   than Answered or Failed. */
DriveCondition classifyDriveCondition(const RequestOutcome &outcome);

bool isUnitAttention(DriveCondition condition);

/* A unit attention after which the medium is still the one the program knows: 29h, 2Ah. */
bool attentionKeepsMedium(DriveCondition condition);

/* TEST UNIT READY, which moves no data; returns the final status, outcome when given. */
uint8_t testUnitReady(SendASPI32CommandFn sendCommand, uint8_t adapter, uint8_t target,
                      RequestOutcome *outcome = nullptr);

/* START STOP UNIT with Start set and Immed clear: the drive answers once it is running (or
   could not start). The program's wait has no time limit; the ASPI layer's own timeout applies. */
uint8_t startUnit(SendASPI32CommandFn sendCommand, uint8_t adapter, uint8_t target,
                  RequestOutcome *outcome = nullptr);

/* How often a question is asked again after unit attentions: each report clears one condition,
   and a drive rarely holds more than two (a reset, then a cartridge). */
constexpr int kAttentionTries = 4;

/* Pause between two questions to a drive that is becoming ready, and how long it is waited for
   in all: half a minute, what a slow CD or MO drive takes to spin up. */
constexpr DWORD kReadyPollMs = 250;
constexpr DWORD kReadyBoundMs = 30000;

/*
 * For a drive that answered NOT READY 04h/01h: pauses, then asks TEST UNIT READY, again and
 * again, until the drive is ready (Answered), answers anything but "becoming ready" or a unit
 * attention (which the asking clears), or boundMs have passed. Returns the last condition seen.
 */
DriveCondition waitUntilReady(SendASPI32CommandFn sendCommand, uint8_t adapter, uint8_t target, DWORD boundMs);

/* The devices a transfer is about to use (the same device twice for one); replaces any earlier. */
void expectFirstRequests(uint8_t adapterA, uint8_t targetA, uint8_t adapterB, uint8_t targetB);
/* After the transfer, whether or not each device was reached. */
void endFirstRequests();
/* Whether this is the first request of the running transfer to the device; it no longer is after. */
bool takeFirstRequest(uint8_t adapter, uint8_t target);

#endif
