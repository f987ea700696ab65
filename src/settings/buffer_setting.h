/* The one persistent setting, the I/O buffer size, and the modeless dialog that changes it. */
#ifndef KESTROVA_BUFFER_SETTING_H
#define KESTROVA_BUFFER_SETTING_H

#include <windows.h>

void readBufferSetting(char *text);          /* text: the caller's 64-byte buffer */
void writeBufferSetting(const char *text);
void restoreBufferSize();
void openBufferDialog();
INT_PTR CALLBACK BufferDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
