/* The one persistent setting, the I/O buffer size, and the modeless dialog that changes it. */
#ifndef KESTROVA_BUFFER_SETTING_H
#define KESTROVA_BUFFER_SETTING_H

#include <windows.h>

void readBufferSetting(char *text);          /* text: the caller's 64-byte buffer */
void writeBufferSetting(const char *text);
void restoreBufferSize();
void openBufferDialog();
INT_PTR CALLBACK BufferDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/*
 * The kilobytes a stored text stands for: the number at its start (blanks and a sign allowed,
 * as "%d" reads it). 0 when the text is not usable: no number of at least 1, a number too big
 * for bufferBlocks, or no NUL within its size bytes.
 */
int storedKilobytes(const char *text, int size);
/* The dialog's list entry preselected for a buffer size: the entry of its size, else 16 KB. */
int bufferListIndex(int bufferBlocks);

#endif
