/* Test side of the virtual bus: scratch folders, loading the library, sending requests. */
#include "vbus_client.h"

#include <cstdio>
#include <cstring>

ScratchFolder::ScratchFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    static unsigned serial;
    for (;;) {
        char name[MAX_PATH + 64];
        snprintf(name, sizeof name, "%svbus-test-%lu-%u", temp, GetCurrentProcessId(), serial++);
        if (CreateDirectoryA(name, nullptr)) {
            path = name;
            return;
        }
    }
}

ScratchFolder::~ScratchFolder()
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(file(found.cFileName).c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

std::string readFileText(const std::string &path)
{
    std::string text;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return text;
    char chunk[4096];
    DWORD got;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    CloseHandle(h);
    return text;
}

void writeFileText(const std::string &path, const std::string &text)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(h);
}

bool fileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint64_t fileSizeOf(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

HANDLE openCaptureFile(const std::string &path)
{
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

bool VbusClient::load(const std::string &configPath)
{
    unload();
    SetEnvironmentVariableA("VBUS_CONFIG", configPath.c_str());
    module = LoadLibraryA(VBUS_DLL_PATH);
    if (!module)
        return false;
    supportInfo = reinterpret_cast<GetASPI32SupportInfoFn>(
        reinterpret_cast<void *>(GetProcAddress(module, "GetASPI32SupportInfo")));
    send = reinterpret_cast<SendASPI32CommandFn>(
        reinterpret_cast<void *>(GetProcAddress(module, "SendASPI32Command")));
    return supportInfo && send;
}

void VbusClient::unload()
{
    if (module)
        FreeLibrary(module);
    module = nullptr;
    supportInfo = nullptr;
    send = nullptr;
}

uint8_t waitForStatus(const void *block)
{
    const volatile uint8_t *status = static_cast<const volatile uint8_t *>(block) + 1;
    DWORD start = GetTickCount();
    while (*status == SS_PENDING && GetTickCount() - start < 10000)
        Sleep(0);
    return *status;
}

ExecResult execute(VbusClient &bus, uint8_t ha, uint8_t target, const std::vector<uint8_t> &cdb, uint8_t flags,
                   void *buffer, uint32_t length)
{
    ExecResult r;
    memset(&r.srb, 0, sizeof r.srb);
    r.srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    r.srb.SRB_HaId = ha;
    r.srb.SRB_Flags = flags;
    r.srb.SRB_Target = target;
    r.srb.SRB_BufLen = length;
    r.srb.SRB_BufPointer = static_cast<uint8_t *>(buffer);
    r.srb.SRB_SenseLen = kSenseLength;
    r.srb.SRB_CDBLen = uint8_t(cdb.size());
    memcpy(r.srb.CDBByte, cdb.data(), cdb.size() < 16 ? cdb.size() : 16);
    r.returned = bus.send(&r.srb);
    r.status = waitForStatus(&r.srb);
    return r;
}

static std::vector<uint8_t> readWriteCdb(uint8_t op, uint32_t lba, uint16_t count)
{
    return {op, 0, uint8_t(lba >> 24), uint8_t(lba >> 16), uint8_t(lba >> 8), uint8_t(lba), 0,
            uint8_t(count >> 8), uint8_t(count), 0};
}

std::vector<uint8_t> readCdb(uint32_t lba, uint16_t count) { return readWriteCdb(SCSI_READ10, lba, count); }
std::vector<uint8_t> writeCdb(uint32_t lba, uint16_t count) { return readWriteCdb(SCSI_WRITE10, lba, count); }
std::vector<uint8_t> inquiryCdb() { return {SCSI_INQUIRY, 0, 0, 0, 36, 0}; }
std::vector<uint8_t> readCapacityCdb() { return {SCSI_READ_CAPACITY, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }

std::string lbaStamp(uint64_t lba)
{
    char row[17];
    snprintf(row, sizeof row, "LBA %010llu\r\n", (unsigned long long)lba);
    return row;
}
