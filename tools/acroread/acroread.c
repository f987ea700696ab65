/*
 * acroread: opens a PDF document in the system's own PDF viewer.
 *
 * Kestrova's Help command starts a program called "acroread" with the manual's path as its one
 * argument (argument 0 is "winhelp"). This launcher passes that path on:
 *   - under Wine, to winebrowser, which hands the file to the Linux desktop (xdg-open);
 *   - on Windows, or when winebrowser cannot be started, to the program registered for PDF files.
 * The arguments after argument 0 are joined by blanks, so that a path split at its blanks by a
 * caller that did not quote it still arrives whole. It does not wait for the viewer.
 * Exit status: 0 when a viewer was started, 1 when there was nothing to open, 2 when no viewer
 * could be started.
 */
#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>
#include <wchar.h>

static int runningUnderWine(void)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
}

/* The document: every argument after argument 0, joined by single blanks. Caller frees. */
static wchar_t *documentFromArguments(void)
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == NULL || count < 2) {
        if (arguments != NULL)
            LocalFree(arguments);
        return NULL;
    }
    size_t length = 0;
    for (int i = 1; i < count; ++i)
        length += wcslen(arguments[i]) + 1;
    wchar_t *document = calloc(length + 1, sizeof *document);
    if (document != NULL) {
        for (int i = 1; i < count; ++i) {
            if (i > 1)
                wcscat(document, L" ");
            wcscat(document, arguments[i]);
        }
    }
    LocalFree(arguments);
    return document;
}

/* Starts winebrowser with the document as one quoted argument; does not wait for it. */
static int openWithWinebrowser(const wchar_t *document)
{
    size_t length = wcslen(document) + 32;
    wchar_t *commandLine = calloc(length, sizeof *commandLine);
    if (commandLine == NULL)
        return 0;
    /* A path cannot hold a double quote, so plain quoting is enough. */
    _snwprintf(commandLine, length - 1, L"winebrowser.exe \"%ls\"", document);
    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {0};
    BOOL started = CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                                  &process);
    free(commandLine);
    if (!started)
        return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

static int openWithAssociation(const wchar_t *document)
{
    /* ShellExecute reports success with a value above 32. */
    return (INT_PTR)ShellExecuteW(NULL, L"open", document, NULL, NULL, SW_SHOWNORMAL) > 32;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    wchar_t *document = documentFromArguments();
    if (document == NULL || document[0] == L'\0') {
        free(document);
        return 1;
    }
    int opened = (runningUnderWine() && openWithWinebrowser(document)) ||
                 openWithAssociation(document);
    free(document);
    return opened ? 0 : 2;
}
