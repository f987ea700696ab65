/*
 * The "Disk contents" dialog (template CONTENTS), from the Options menu: what the selected source
 * device, the selected target device and the image file of the path field hold, one line per
 * file system, partition and volume, in a text the user can select and copy. Its button puts
 * the sectors the source's file systems use into the size field, as if typed.
 */
#ifndef KESTROVA_DISK_CONTENTS_DIALOG_H
#define KESTROVA_DISK_CONTENTS_DIALOG_H

#include <windows.h>

/* Reads the three (a handful of requests each), then runs the dialog, modal, owned by form. */
void runDiskContentsDialog(HWND form);
INT_PTR CALLBACK DiskContentsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
