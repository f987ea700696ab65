/*
 * The archiving options: six switches, each stored under the program's registry key next to
 * the buffer size as a REG_DWORD (1 on, 0 off; a missing or unreadable value is off), held in
 * appState.archive, and changed in a small modal dialog (template ARCHIVE) reached from the
 * "Options" menu. The value names are the same in every language, so a user who changes the
 * language keeps the options. The fifth, "Start drives that are stopped", is for the bus scan:
 * old drives wait for it, and it belongs with the other aids for old media.
 */
#ifndef KESTROVA_ARCHIVE_OPTIONS_H
#define KESTROVA_ARCHIVE_OPTIONS_H

#include <windows.h>
#include "app_state.h"

/* The registry value of each option. */
extern const char *const kSkipUnreadableValue;
extern const char *const kVerifyValue;
extern const char *const kReportValue;
extern const char *const kExactLengthValue;
extern const char *const kStartStoppedDrivesValue;
extern const char *const kGuardRestoreValue;

/* Reads the stored options into appState.archive; every one that is not stored as 1 is off. */
void restoreArchiveOptions();
/* Stores appState.archive; a failure shows the registry message, as for the buffer size. */
void storeArchiveOptions();
/* Runs the dialog; OK stores what is ticked, Cancel changes nothing. */
void runArchiveOptionsDialog(HWND owner);
INT_PTR CALLBACK ArchiveOptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
