/* The parts of a transfer that the three directions share. */
#include "transfer_loop.h"
#include "app_state.h"
#include "messages.h"
#include "chunk_rule.h"
#include "progress_box.h"
#include "resource_ids.h"
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kQuestionSize = 512;
}  // namespace

int acceptSectorSize(HWND owner, int32_t sectorSize, uint64_t bufferBytes)
{
    switch (sectorSizeFit(sectorSize, bufferBytes)) {
    case SectorSizeFit::Fits:
        return 1;
    case SectorSizeFit::NoSectorSize:
        std::snprintf(appState.scratchText, kScratchTextSize,
                      "The device reports no sector size (%d bytes/sector). Nothing was transferred.",
                      sectorSize);
        break;
    case SectorSizeFit::LargerThanBuffer:
        std::snprintf(appState.scratchText, kScratchTextSize,
                      "A sector of %d bytes does not fit in the I/O buffer of %" PRIu64
                      " bytes. Choose a larger buffer size. Nothing was transferred.",
                      sectorSize, bufferBytes);
        break;
    }
    showMessage(owner, appState.scratchText, "ERROR", MB_ICONERROR);
    return 0;
}

int acceptCappedSource(HWND owner, int32_t transferSectors)
{
    const DeviceRecord &source = sourceDeviceRecord();
    if (!adapterTable.capacityCapped[appState.sourceAdapter % kMaxAdapters][appState.sourceDevice % kMaxDevices] ||
        transferSectors != source.sectorCount)
        return 1;
    char format[kQuestionSize], text[kQuestionSize];
    std::snprintf(text, sizeof text, loadText(IDS_SOURCE_LARGER_THAN_COUNT, format, sizeof format), transferSectors,
                  sizeInMegabytes(transferSectors, source.sectorSize));
    return showMessage(owner, text, "WARNING", MB_YESNO | MB_ICONWARNING) == IDYES;
}

uint8_t *allocateIoBuffer(HWND owner, uint64_t bufferBytes)
{
    void *buffer = bufferBytes <= SIZE_MAX ? std::malloc(size_t(bufferBytes)) : nullptr;
    if (!buffer)
        showMessage(owner, "Can't allocate I/O buffer", "ERROR", MB_ICONERROR);
    return static_cast<uint8_t *>(buffer);
}

void releaseIoBuffer(uint8_t *buffer)
{
    std::free(buffer);
}

SendASPI32CommandFn lookupCommandEntry(HWND owner)
{
    SendASPI32CommandFn sendCommand = lookupSendCommand();
    if (!sendCommand)
        showMessage(owner, "ASPI for Windows is not loaded. Nothing was transferred.", "ERROR", MB_ICONERROR);
    return sendCommand;
}

int startTransfer(HWND owner, const char *description, const char *failureText)
{
    if (openProgressBox(description))
        return 1;
    showMessage(owner, failureText ? failureText : "Can't open the progress window. Nothing was transferred.", "ERROR",
                MB_ICONERROR);
    return 0;
}

bool pumpOneMessage(MSG &message)
{
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (appState.progressBox && IsDialogMessageA(appState.progressBox, &message))
        return true;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}
