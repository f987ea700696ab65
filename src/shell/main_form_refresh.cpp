/*
 * The refresh of the main form: every list and text rebuilt from the shared state on each
 * WM_PAINT. The form keeps nothing of its own; its controls show what appState and
 * adapterTable hold, and the size field's change report re-validates the size on the way.
 */
#include <array>
#include <cstdio>
#include <cstring>
#include "main_form.h"
#include "main_form_fields.h"
#include "messages.h"
#include "resource_ids.h"

namespace {

constexpr int kTitleBufferSize = 64;

/* Appends text to scratchText without running past its end. */
void appendScratch(const char *text)
{
    size_t used = std::strlen(appState.scratchText);
    if (used + 1 >= static_cast<size_t>(kScratchTextSize))
        return;
    std::snprintf(appState.scratchText + used, kScratchTextSize - used, "%s", text);
}

/* String ids of the SCSI peripheral device types; there is no string 13. */
UINT deviceTypeString(int32_t deviceType)
{
    constexpr std::array<UINT, 11> kLowTypes = {
        IDS_TYPE_DISK,     IDS_TYPE_TAPE,    IDS_TYPE_PRINTER, IDS_TYPE_PROCESSOR,
        IDS_TYPE_WORM,     IDS_TYPE_CDROM,   IDS_TYPE_SCANNER, IDS_TYPE_OPTICAL,
        IDS_TYPE_CHANGER,  IDS_TYPE_COMM,    IDS_TYPE_RESERVED_LOW,
    };
    if (deviceType >= 0 && deviceType < static_cast<int32_t>(kLowTypes.size()))
        return kLowTypes[deviceType];
    if (deviceType == 30)
        return IDS_TYPE_RESERVED_HIGH;
    return IDS_TYPE_UNKNOWN;
}

void fillAdapterLists(HWND form)
{
    for (int i = 0; i < appState.adapterCount && i < kMaxAdapters; ++i) {
        const char *name = adapterTable.adapters[i].name;
        SendDlgItemMessageA(form, IDC_MAIN_SOURCE_ADAPTER, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        SendDlgItemMessageA(form, IDC_MAIN_TARGET_ADAPTER, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
}

/* The labels of one adapter's devices, never beyond the 16 entries of its record. */
void fillDeviceList(HWND form, int listId, uint8_t adapter)
{
    const AdapterRecord &record = adapterTable.adapters[adapter % kMaxAdapters];
    for (int j = 0; j < record.maxTargets && j < kMaxDevices; ++j)
        SendDlgItemMessageA(form, listId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(record.devices[j].label));
}

/* One row per mode: the radio button set first, then the two cleared, and the groups' enabling. */
struct ModeControls {
    int setButton;
    int clearedButtons[2];
    bool sourceGroup;
    bool targetGroup;
    bool fileGroup;
};

constexpr std::array<ModeControls, 3> kModeControls = {{
    /* FileToDisk */ {IDC_MAIN_FILE_TO_DISK, {IDC_MAIN_DISK_TO_FILE, IDC_MAIN_DISK_TO_DISK}, false, true, true},
    /* DiskToFile */ {IDC_MAIN_DISK_TO_FILE, {IDC_MAIN_FILE_TO_DISK, IDC_MAIN_DISK_TO_DISK}, true, false, true},
    /* DiskToDisk */ {IDC_MAIN_DISK_TO_DISK, {IDC_MAIN_DISK_TO_FILE, IDC_MAIN_FILE_TO_DISK}, true, true, false},
}};

void enableControls(HWND form, std::initializer_list<int> ids, bool enabled)
{
    for (int id : ids)
        EnableWindow(GetDlgItem(form, id), enabled ? TRUE : FALSE);
}

} // namespace

void deviceInfoText(const DeviceRecord &device)
{
    char format[kResourceTextSize];
    std::snprintf(format, sizeof format, "%s", loadResourceText(IDS_DEVICE_CAPACITY));
    std::snprintf(appState.scratchText, kScratchTextSize, format,
                  sizeInMegabytes(device.sectorCount, device.sectorSize), device.sectorCount, device.sectorSize);
    if (device.removable == 1)
        appendScratch(loadResourceText(IDS_DEVICE_REMOVABLE));
    appendScratch(loadResourceText(deviceTypeString(device.deviceType)));
}

void applyModeToControls(HWND form, TransferMode mode)
{
    int index = static_cast<int>(mode);
    if (index < 0 || index >= static_cast<int>(kModeControls.size()))
        return;
    const ModeControls &row = kModeControls[index];

    SendDlgItemMessageA(form, row.setButton, BM_SETCHECK, BST_CHECKED, 0);
    for (int id : row.clearedButtons)
        SendDlgItemMessageA(form, id, BM_SETCHECK, BST_UNCHECKED, 0);

    enableControls(form, {IDC_MAIN_SOURCE_DEVICE, IDC_MAIN_SOURCE_ADAPTER, IDC_MAIN_SOURCE_INFO}, row.sourceGroup);
    enableControls(form, {IDC_MAIN_TARGET_DEVICE, IDC_MAIN_TARGET_ADAPTER, IDC_MAIN_TARGET_INFO}, row.targetGroup);
    enableControls(form, {IDC_MAIN_PATH, IDC_MAIN_BROWSE}, row.fileGroup);
}

void refreshMainForm(HWND form)
{
    /* After the shutdown the text buffers are gone; a late paint must not touch them. */
    if (!appState.scratchText || !appState.imagePath)
        return;

    for (int list : {IDC_MAIN_SOURCE_ADAPTER, IDC_MAIN_SOURCE_DEVICE, IDC_MAIN_TARGET_ADAPTER, IDC_MAIN_TARGET_DEVICE})
        SendDlgItemMessageA(form, list, CB_RESETCONTENT, 0, 0);
    fillAdapterLists(form);
    fillDeviceList(form, IDC_MAIN_SOURCE_DEVICE, appState.sourceAdapter);
    fillDeviceList(form, IDC_MAIN_TARGET_DEVICE, appState.targetAdapter);

    /* A position beyond the end of its list leaves that list without a selection. */
    SendDlgItemMessageA(form, IDC_MAIN_SOURCE_ADAPTER, CB_SETCURSEL, appState.sourceAdapter, 0);
    SendDlgItemMessageA(form, IDC_MAIN_SOURCE_DEVICE, CB_SETCURSEL, appState.sourceDevice, 0);
    SendDlgItemMessageA(form, IDC_MAIN_TARGET_ADAPTER, CB_SETCURSEL, appState.targetAdapter, 0);
    SendDlgItemMessageA(form, IDC_MAIN_TARGET_DEVICE, CB_SETCURSEL, appState.targetDevice, 0);

    deviceInfoText(sourceDeviceRecord());
    SetDlgItemTextA(form, IDC_MAIN_SOURCE_INFO, appState.scratchText);
    deviceInfoText(targetDeviceRecord());
    SetDlgItemTextA(form, IDC_MAIN_TARGET_INFO, appState.scratchText);

    /* Setting the text raises EN_CHANGE: onSizeChanged runs inside this call, may lower
       transferSectors and rewrite the field, and sets the check box and the megabyte label. */
    SendDlgItemMessageA(form, IDC_MAIN_SIZE, EM_LIMITTEXT, kSizeFieldChars, 0);
    std::snprintf(appState.scratchText, kScratchTextSize, "%d", static_cast<int>(appState.transferSectors));
    SendDlgItemMessageA(form, IDC_MAIN_SIZE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(appState.scratchText));

    std::snprintf(appState.scratchText, kScratchTextSize, "%5.1f MBytes",
                  sizeInMegabytes(appState.transferSectors, referenceDevice().sectorSize));
    SetDlgItemTextA(form, IDC_MAIN_MEGABYTES, appState.scratchText);

    /* Its change report copies the field back into imagePath, which leaves it as it was. */
    SendDlgItemMessageA(form, IDC_MAIN_PATH, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(appState.imagePath));

    char title[kTitleBufferSize] = "";
    LoadStringA(appState.instance, IDS_TITLE, title, sizeof title);
    SetDlgItemTextA(form, IDC_MAIN_TITLE, title);

    applyModeToControls(form, appState.mode);
    SetFocus(form);
}
