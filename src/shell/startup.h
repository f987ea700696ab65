/*
 * Pieces of the start-up and the shutdown that WinMain and the main form share: the three text
 * buffers and the path of the help document.
 */
#ifndef KESTROVA_STARTUP_H
#define KESTROVA_STARTUP_H

#include <windows.h>

/* The name of the help document, looked for in the working folder at start-up. */
constexpr char kHelpDocumentName[] = "Kestrova v1.31.pdf";

/*
 * Takes scratchText, imagePath and helpDocPath from the heap, in this order. Returns 1, or 0
 * when one of them could not be taken (those already taken are released again).
 */
int takeTextBuffers();
/* Releases the three buffers (released ones are null afterwards; releasing twice is harmless). */
void releaseTextBuffers();
/* 1 while the three buffers are held: from start-up to shutdown. */
bool textBuffersHeld();

/*
 * helpDocPath (kPathBufferSize bytes) = folder, a backslash (always, so a drive's root gives two
 * in a row) and the document name. Returns false when that does not fit; helpDocPath then holds
 * the document name alone. helpDocPath is terminated either way.
 */
bool composeHelpDocPath(char *helpDocPath, const char *folder);
/* helpDocPath from the current working folder (its short form when the long one does not fit). */
void fillHelpDocPath(char *helpDocPath);

#endif
