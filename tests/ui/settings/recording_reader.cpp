/*
 * Stands in for the PDF reader in the help tests: writes the argument vector it received, one
 * argument a line after the word "exe", into a file of its own in the folder that
 * KESTROVA_READER_RECORDS names, and ends.
 */
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    char folder[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA("KESTROVA_READER_RECORDS", folder, sizeof folder);
    if (length == 0 || length >= sizeof folder)
        return 1;
    std::string path = std::string(folder) + "\\run-exe-" + std::to_string(GetCurrentProcessId()) + ".txt";
    std::string temporary = path + ".part";
    FILE *record = std::fopen(temporary.c_str(), "w");
    if (!record)
        return 1;
    std::fprintf(record, "exe\n");
    for (int i = 0; i < argc; ++i)
        std::fprintf(record, "%s\n", argv[i]);
    std::fclose(record);
    /* The test reads only complete records. */
    MoveFileA(temporary.c_str(), path.c_str());
    return 0;
}
