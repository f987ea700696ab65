/* Loading wnaspi32.dll, sending a request and waiting for it, the transfer request, failure report. */
#include "aspi.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "app_state.h"
#include "drive_state.h"
#include "messages.h"

namespace {

constexpr int kStatusOffset = 1;   /* SRB_Status, the same place in every block */

/* GetProcAddress hands back a generic pointer; go through void * to reach the real type. */
template <typename Fn>
Fn entryPoint(HMODULE library, const char *name)
{
    FARPROC address = GetProcAddress(library, name);
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(address));
}

void releaseLibrary()
{
    FreeLibrary(appState.aspiLibrary);
    appState.aspiLibrary = nullptr;
}

void showBindingError(HWND owner, const char *text)
{
    showMessage(owner, text, "ERROR", MB_ICONERROR | MB_OK);
}

uint8_t readStatus(const void *requestBlock)
{
    /* The library writes this byte from its own thread: read it from memory every time. */
    return *(static_cast<const volatile uint8_t *>(requestBlock) + kStatusOffset);
}

struct StatusText {
    uint8_t status;
    const char *text;
};

constexpr StatusText kStatusTexts[] = {
    {SS_ABORTED, "(ASPI command aborted)"},
    {SS_ABORT_FAIL, "(ASPI command abort failed)"},
    {SS_ERR, "(ASPI command completed with an error)"},
    {SS_INVALID_HA, "(Invalid host adapter)"},
    {SS_NO_DEVICE, "(No device)"},
    {SS_INVALID_SRB, "(Scsi command parameters incorrect)"},
    {SS_BUFFER_ALIGN, "(Buffer misaligned)"},
    {SS_ILLEGAL_MODE, "(Unsupported windows mode)"},
    {SS_NO_ASPI, "(No aspi manager resident)"},
    {SS_FAILED_INIT, "(Unable to initialize or aspi not available)"},
    {SS_ASPI_IS_BUSY, "(ASPI too busy to handle request)"},
    {SS_BUFFER_TO_BIG, "(Can't negociate tranfert buffer size)"},
    {SS_MISMATCHED_COMPONENTS, "(DLL/EXE of aspi don't version check)"},
    {SS_NO_ADAPTERS, "(No ASPI adpaters installed)"},
    {SS_INSUFFICIENT_RESOURCES, "(Could not allocate resources)"},
    {SS_ASPI_IS_SHUTDOWN, "(Call came to ASPI after PROCESS_DETACH)"},
    {SS_BAD_INSTALL, "(The DLL or other components are installed wrong)"},
};

}  // namespace

int bindAspi(HWND owner)
{
    appState.aspiLibrary = LoadLibraryA("wnaspi32.dll");
    if (!appState.aspiLibrary) {
        showBindingError(owner, "Can't load or initialize ASPI for Windows");
        return 0;
    }

    auto supportInfo = entryPoint<GetASPI32SupportInfoFn>(appState.aspiLibrary, "GetASPI32SupportInfo");
    if (!supportInfo) {
        releaseLibrary();
        return 0;
    }

    uint32_t support = supportInfo();
    uint8_t status = static_cast<uint8_t>(support >> 8);
    uint8_t count = static_cast<uint8_t>(support);

    if (status == SS_COMP) {
        appState.adapterCount = count > kMaxAdapters ? kMaxAdapters : count;
        return 1;
    }
    if (status == SS_FAILED_INIT)
        showBindingError(owner, "ASPI for WIN32 is not initialized or not present");
    else
        showBindingError(owner, "Host Adapter Inquiry returned an supported status");
    releaseLibrary();
    return 0;
}

SendASPI32CommandFn lookupSendCommand()
{
    if (!appState.aspiLibrary)
        return nullptr;
    return entryPoint<SendASPI32CommandFn>(appState.aspiLibrary, "SendASPI32Command");
}

void waitForRequest(void *requestBlock)
{
    while (readStatus(requestBlock) == SS_PENDING)
        YieldProcessor();   /* a CPU hint only: the wait has no pause and no time limit */
    /* The reply fields were written before the status: read them only after it. */
    std::atomic_thread_fence(std::memory_order_acquire);
}

uint8_t sendAndWait(SendASPI32CommandFn sendCommand, void *requestBlock, uint32_t *returnedValue)
{
    uint32_t returned = sendCommand(requestBlock);
    if (returnedValue)
        *returnedValue = returned;

    /* A request that the library refuses at once may leave the status byte at SS_PENDING
     * (Wine's own ASPI layer does): its returned value is then the final status, and
     * waiting for the byte would never end. */
    if (returned != SS_PENDING && readStatus(requestBlock) == SS_PENDING) {
        uint8_t status = static_cast<uint8_t>(returned);
        static_cast<uint8_t *>(requestBlock)[kStatusOffset] = status;
        return status;
    }
    waitForRequest(requestBlock);
    return readStatus(requestBlock);
}

void buildTransferRequest(SRB_ExecSCSICmd &request, TransferDirection direction, uint8_t adapter,
                          uint8_t target, uint32_t sectorAddress, uint16_t sectorCount, void *buffer,
                          uint32_t byteLength)
{
    std::memset(&request, 0, sizeof request);
    bool read = direction == TransferDirection::Read;
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_HaId = adapter;
    request.SRB_Flags = read ? SRB_DIR_IN : SRB_DIR_OUT;
    request.SRB_Target = target;
    request.SRB_Lun = 0;
    request.SRB_BufLen = byteLength;
    request.SRB_BufPointer = static_cast<uint8_t *>(buffer);
    request.SRB_SenseLen = kSenseLength;
    request.SRB_CDBLen = 10;
    request.SRB_PostProc = nullptr;

    uint8_t *cdb = request.CDBByte;
    cdb[0] = read ? SCSI_READ10 : SCSI_WRITE10;
    cdb[2] = static_cast<uint8_t>(sectorAddress >> 24);
    cdb[3] = static_cast<uint8_t>(sectorAddress >> 16);
    cdb[4] = static_cast<uint8_t>(sectorAddress >> 8);
    cdb[5] = static_cast<uint8_t>(sectorAddress);
    cdb[7] = static_cast<uint8_t>(sectorCount >> 8);
    cdb[8] = static_cast<uint8_t>(sectorCount);
}

RequestOutcome requestOutcome(const SRB_ExecSCSICmd &request, uint8_t status)
{
    RequestOutcome outcome = {status, request.SRB_HaStat, request.SRB_TargStat, 0, 0, 0};
    if (status == SS_ERR)
        readSenseData(request.SenseArea, kSenseLength, outcome);
    return outcome;
}

uint8_t executeTransfer(SendASPI32CommandFn sendCommand, TransferDirection direction, uint8_t adapter,
                        uint8_t target, uint32_t sectorAddress, uint32_t sectorCount, void *buffer,
                        uint32_t byteLength, RequestOutcome *outcome)
{
    /* The CDB holds 16 bits of count: a larger one would move fewer sectors than asked. */
    if (sectorCount > 0xFFFF) {
        if (outcome)
            *outcome = RequestOutcome{SS_INVALID_SRB, 0, 0, 0, 0, 0};
        return SS_INVALID_SRB;
    }

    SRB_ExecSCSICmd request;
    buildTransferRequest(request, direction, adapter, target, sectorAddress,
                         static_cast<uint16_t>(sectorCount), buffer, byteLength);
    uint8_t status = sendAndWait(sendCommand, &request);
    RequestOutcome result = requestOutcome(request, status);
    if (takeFirstRequest(adapter, target) && attentionKeepsMedium(classifyDriveCondition(result))) {
        /* Reported, the condition is gone; nothing of this transfer has moved yet. */
        buildTransferRequest(request, direction, adapter, target, sectorAddress,
                             static_cast<uint16_t>(sectorCount), buffer, byteLength);
        status = sendAndWait(sendCommand, &request);
        result = requestOutcome(request, status);
    }
    if (outcome)
        *outcome = result;
    return status;
}

void readSenseData(const uint8_t *sense, size_t length, RequestOutcome &outcome)
{
    outcome.senseKey = outcome.asc = outcome.ascq = 0;
    if (length < 4)
        return;
    uint8_t format = sense[0] & 0x7F;
    if ((format == 0x70 || format == 0x71) && length >= 14) {
        outcome.senseKey = sense[2] & 0x0F;
        outcome.asc = sense[12];
        outcome.ascq = sense[13];
    } else if (format == 0x72 || format == 0x73) {
        outcome.senseKey = sense[1] & 0x0F;
        outcome.asc = sense[2];
        outcome.ascq = sense[3];
    }
}

uint8_t synchronizeCache(SendASPI32CommandFn sendCommand, uint8_t adapter, uint8_t target)
{
    SRB_ExecSCSICmd request;
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_HaId = adapter;
    request.SRB_Flags = 0;   /* no data moves */
    request.SRB_Target = target;
    request.SRB_SenseLen = kSenseLength;
    request.SRB_CDBLen = 10;
    request.CDBByte[0] = SCSI_SYNCHRONIZE_CACHE10;   /* LBA 0 and count 0: the whole medium */
    return sendAndWait(sendCommand, &request);
}

const char *aspiStatusText(uint8_t status)
{
    for (const StatusText &entry : kStatusTexts)
        if (entry.status == status)
            return entry.text;
    return "(Unprocessed error)";
}

void formatScsiFailure(char *text, size_t size, uint8_t status)
{
    std::snprintf(text, size, "SCSI Command Failed.\nASPI returned status=%02Xh\n%s", status,
                  aspiStatusText(status));
}

void reportScsiFailure(HWND owner, uint8_t status)
{
    static char fallback[kScratchTextSize];
    char *text = appState.scratchText ? appState.scratchText : fallback;
    formatScsiFailure(text, kScratchTextSize, status);
    showMessage(owner, text, "Error", MB_ICONERROR | MB_OK);
    /* The ordinary exit path, so that open image files get their buffered data written. */
    std::exit(0);
}
