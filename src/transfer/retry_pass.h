/*
 * The retry pass of Disk to file. With "skip unreadable sectors" on, when the image already
 * exists and its map (<image>.map) names the source device, at the same place and with the same
 * INQUIRY texts and geometry, and lists unreadable sectors, the user is asked whether to read
 * only those sectors again. Yes: each is read again (with the same tries), those that now read
 * are written into the image in place, and the map is written anew; the report, when asked
 * for, is written anew from the patched file. No: the copy goes on as without a map.
 */
#ifndef KESTROVA_RETRY_PASS_H
#define KESTROVA_RETRY_PASS_H

#include <windows.h>
#include <cstdint>
#include "aspi.h"

enum class RetryOffer {
    NotOffered,   /* no such map: nothing was asked */
    Declined,     /* the user wants the whole copy */
    Done,         /* the retry ran (or stopped after its message): the copy must not run */
};

/* Before the free-space and overwrite checks of Disk to file, on the absolute image path. */
RetryOffer offerRetryPass(HWND owner, SendASPI32CommandFn sendCommand, uint64_t bufferBytes);

#endif
