/*
 * The three copy directions. Each runs to its end (or to ABORT) inside the call, on the
 * user-interface thread, with owner (the main form) owning every message box.
 */
#ifndef KESTROVA_TRANSFERS_H
#define KESTROVA_TRANSFERS_H

#include <windows.h>
#include <cstdint>

void copyDiskToFile(HWND owner);
void copyFileToDisk(HWND owner);
void copyDiskToDisk(HWND owner);

/* Length of the file at path; 0 when it is missing, unreadable or empty. */
int64_t imageFileSize(const char *path);

#endif
