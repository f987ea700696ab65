/* The image file chooser: the platform's open-file dialog with the program's settings. */
#ifndef KESTROVA_FILE_CHOOSER_H
#define KESTROVA_FILE_CHOOSER_H

#include <windows.h>
#include <commdlg.h>

extern OPENFILENAMEA chooserRequest;

void initFileChooser(HWND owner);
/*
 * path: a buffer of kPathBufferSize bytes, the starting name in and the chosen path out. Returns
 * non-zero when a name was confirmed; otherwise path keeps its previous content.
 */
BOOL chooseImageFile(HWND owner, char *path, const char *title);

#endif
