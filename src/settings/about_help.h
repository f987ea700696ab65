/* The About box and the help launcher. */
#ifndef KESTROVA_ABOUT_HELP_H
#define KESTROVA_ABOUT_HELP_H

#include <windows.h>
#include <string>

void showAboutBox(HWND owner);
INT_PTR CALLBACK AboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
void launchHelp(HWND owner);

/* The help reader's file: "acroread" with .com, .exe, .bat or .cmd, first in currentFolder,
 * then in each folder of searchPath (a PATH value). Empty when none exists. */
std::string findHelpReader(const std::string &currentFolder, const std::string &searchPath);
/* The command line of the reader: its name "winhelp", then the document as one argument. */
std::string helpCommandLine(const char *document);

#endif
