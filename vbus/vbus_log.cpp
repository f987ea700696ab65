/* Configuration errors: one line on the standard error handle and on the debugger output. */
#include "vbus_bus.h"

void logLine(const std::string &text)
{
    std::string line = "vbus: " + text + "\r\n";
    OutputDebugStringA(line.c_str());
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(err, line.data(), DWORD(line.size()), &written, nullptr);
    }
}
