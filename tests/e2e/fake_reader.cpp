/*
 * A stand-in for the PDF reader that the help command starts. The journeys copy it into a folder
 * on the Wine PATH under the reader's name; it appends one line per start to the file named by
 * KESTROVA_E2E_RECORD: the command line it received, then each argument as the C runtime split
 * it, separated by tabs. It shows no window and ends at once.
 */
#include <windows.h>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    const char *record = std::getenv("KESTROVA_E2E_RECORD");
    if (!record || !*record) return 1;
    FILE *file = std::fopen(record, "ab");
    if (!file) return 1;
    std::fprintf(file, "%s", GetCommandLineA());
    for (int i = 0; i < argc; ++i) std::fprintf(file, "\t%s", argv[i]);
    std::fprintf(file, "\n");
    std::fclose(file);
    return 0;
}
