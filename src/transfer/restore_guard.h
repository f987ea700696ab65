/*
 * The question before File to disk and Disk to disk write, with the archiving option "ask before
 * overwriting a recognised disk" on: what the target holds, named in its file system's terms,
 * and whether the source's file system fits the target.
 */
#ifndef KESTROVA_RESTORE_GUARD_H
#define KESTROVA_RESTORE_GUARD_H

#include <windows.h>
#include "app_state.h"
#include "aspi.h"

/*
 * 1 when the copy of mode may write, 0 when the user answered No. With the option off it reads
 * nothing, asks nothing and returns 1. The source is the image file (File to disk) or the source
 * device (Disk to disk); the target is the target device.
 */
int confirmRestore(HWND owner, TransferMode mode, SendASPI32CommandFn sendCommand);

#endif
