/* The image file chooser: the platform's open-file dialog with the program's settings. */
#ifndef KESTROVA_FILE_CHOOSER_H
#define KESTROVA_FILE_CHOOSER_H

#include <windows.h>
#include <commdlg.h>

extern OPENFILENAMEA chooserRequest;

void initFileChooser(HWND owner);
BOOL chooseImageFile(HWND owner, char *path, const char *title);

#endif
