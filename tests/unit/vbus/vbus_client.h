/* Test side of the virtual bus: writes a configuration into a scratch folder, loads
 * wnaspi32.dll with LoadLibrary/GetProcAddress as the program does, and sends requests. */
#ifndef VBUS_CLIENT_H
#define VBUS_CLIENT_H

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>
#include "aspi_blocks.h"

/* A scratch folder of its own per test, removed with its files afterwards. */
struct ScratchFolder {
    std::string path;
    ScratchFolder();
    ~ScratchFolder();
    std::string file(const std::string &name) const { return path + "\\" + name; }
};

std::string readFileText(const std::string &path);
void writeFileText(const std::string &path, const std::string &text);
bool fileExists(const std::string &path);
uint64_t fileSizeOf(const std::string &path);

/* The library, loaded with VBUS_CONFIG pointing at `configPath`. */
struct VbusClient {
    HMODULE module = nullptr;
    GetASPI32SupportInfoFn supportInfo = nullptr;
    SendASPI32CommandFn send = nullptr;

    bool load(const std::string &configPath);
    void unload();
    ~VbusClient() { unload(); }
};

/* Waits for a request block's status to leave SS_PENDING (at most 10 s); returns it. */
uint8_t waitForStatus(const void *block);

/* One SC_EXEC_SCSI_CMD, sent and awaited. */
struct ExecResult {
    uint32_t returned;
    uint8_t status;
    SRB_ExecSCSICmd srb;
};
ExecResult execute(VbusClient &bus, uint8_t ha, uint8_t target, const std::vector<uint8_t> &cdb,
                   uint8_t flags, void *buffer, uint32_t length);

std::vector<uint8_t> readCdb(uint32_t lba, uint16_t count);
std::vector<uint8_t> writeCdb(uint32_t lba, uint16_t count);
std::vector<uint8_t> inquiryCdb();
std::vector<uint8_t> readCapacityCdb();

/* Stamp that fill = lba puts in every 16 bytes of a sector. */
std::string lbaStamp(uint64_t lba);

/* Everything the library writes to the standard error handle while `action` runs. */
template <typename Action> std::string captureStderr(const ScratchFolder &scratch, Action action);

HANDLE openCaptureFile(const std::string &path);

template <typename Action> std::string captureStderr(const ScratchFolder &scratch, Action action)
{
    std::string path = scratch.file("stderr.txt");
    HANDLE capture = openCaptureFile(path);
    HANDLE saved = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, capture);
    action();
    SetStdHandle(STD_ERROR_HANDLE, saved);
    CloseHandle(capture);
    return readFileText(path);
}

#endif
