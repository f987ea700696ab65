/*
 * The commands of the main form: every WM_COMMAND of its lists, fields, buttons, menu and
 * accelerators. A handler either changes the shared state and then refreshes the whole form, or
 * starts an action of another area (a transfer, the bus scan, a dialog, the help reader, the
 * shutdown). The handlers keep no state of their own.
 */
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include "about_help.h"
#include "archive_options.h"
#include "buffer_setting.h"
#include "bus_scan.h"
#include "disk_contents_dialog.h"
#include "file_chooser.h"
#include "main_form.h"
#include "main_form_fields.h"
#include "resource_ids.h"
#include "transfers.h"

namespace {

/* Notification codes as they arrive in the high word of wParam. */
constexpr int kButtonClicked = BN_CLICKED;   /* 0: also every menu entry */
constexpr int kAccelerator = 1;              /* the same value as CBN_SELCHANGE of the lists */
constexpr int kListChoiceConfirmed = CBN_SELENDOK;
constexpr int kFieldChanged = EN_CHANGE;

/* A number read from the size field as "%d" reads it, without overflow: digits beyond what an
   int32_t holds only keep the value above every sector count. */
struct SizeText {
    bool found;
    int64_t value;
};

SizeText parseSizeText(const char *text)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (std::isspace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!std::isdigit(*p))
        return {false, 0};
    constexpr int64_t kAboveEveryCount = int64_t{INT32_MAX} + 1;
    int64_t value = 0;
    for (; std::isdigit(*p); ++p)
        value = std::min(value * 10 + (*p - '0'), kAboveEveryCount);
    return {true, negative ? -value : value};
}

/* The most sectors a device offers to the size field; a count it never reports (below 0) offers none. */
int32_t sizeBound(const DeviceRecord &device)
{
    return std::max<int32_t>(device.sectorCount, 0);
}

/* Puts a corrected size into the field. The field reports the change, so onSizeChanged runs
   again, inside this call, on the new text. */
void rewriteSizeField(HWND form, int32_t sectors)
{
    appState.transferSectors = sectors;
    std::snprintf(appState.scratchText, kScratchTextSize, "%d", static_cast<int>(sectors));
    SendDlgItemMessageA(form, IDC_MAIN_SIZE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(appState.scratchText));
}

/* A confirmed choice in one of the four lists. A new adapter starts at its first device. */
void onListChoice(HWND form, int listId)
{
    uint8_t *selection = nullptr;
    uint8_t *deviceOfAdapter = nullptr;
    switch (listId) {
    case IDC_MAIN_SOURCE_ADAPTER: selection = &appState.sourceAdapter; deviceOfAdapter = &appState.sourceDevice; break;
    case IDC_MAIN_SOURCE_DEVICE:  selection = &appState.sourceDevice; break;
    case IDC_MAIN_TARGET_ADAPTER: selection = &appState.targetAdapter; deviceOfAdapter = &appState.targetDevice; break;
    case IDC_MAIN_TARGET_DEVICE:  selection = &appState.targetDevice; break;
    default: return;
    }
    LRESULT position = SendDlgItemMessageA(form, listId, CB_GETCURSEL, 0, 0);
    if (position == CB_ERR)
        return;   /* nothing chosen: keep the selection the form shows */
    *selection = static_cast<uint8_t>(position);
    if (deviceOfAdapter)
        *deviceOfAdapter = 0;
    requestRefresh(form);
}

void onFieldChanged(HWND form, int fieldId)
{
    if (fieldId == IDC_MAIN_PATH)
        SendDlgItemMessageA(form, IDC_MAIN_PATH, WM_GETTEXT, kPathBufferSize,
                            reinterpret_cast<LPARAM>(appState.imagePath));
    else if (fieldId == IDC_MAIN_SIZE)
        onSizeChanged(form);
}

void chooseFile(HWND form)
{
    chooseImageFile(form, appState.imagePath, "Select a image file");
    requestRefresh(form);   /* also after a cancel */
}

void proceed(HWND form)
{
    if (appState.transferSectors > 0) {
        switch (appState.mode) {
        case TransferMode::FileToDisk: copyFileToDisk(form); break;
        case TransferMode::DiskToFile: copyDiskToFile(form); break;
        case TransferMode::DiskToDisk: copyDiskToDisk(form); break;
        }
    }
    SetFocus(form);
}

void rescan(HWND form)
{
    scanBus(form);
    requestRefresh(form);
}

/* Runs the shutdown without destroying the window; the loop ends at its next turn. */
void quit(HWND form)
{
    SendMessageA(form, WM_DESTROY, 0, 0);
}

void setMode(HWND form, TransferMode mode)
{
    appState.mode = mode;
    requestRefresh(form);
}

/* Buttons, check box, radio buttons, menu entries and accelerators. Other ids do nothing. */
void runCommand(HWND form, int id)
{
    switch (id) {
    case IDC_MAIN_SELECT_ALL:   onSelectAll(form); break;
    case IDC_MAIN_BROWSE:       chooseFile(form); break;
    case IDC_MAIN_PROCEED:      proceed(form); break;
    case IDC_MAIN_RESCAN:       rescan(form); break;
    case IDC_MAIN_ABOUT:        showAboutBox(form); break;
    case IDC_MAIN_HELP:         launchHelp(form); break;
    case IDC_MAIN_QUIT:         quit(form); break;
    case IDC_MAIN_DISK_TO_FILE: setMode(form, TransferMode::DiskToFile); break;
    case IDC_MAIN_FILE_TO_DISK: setMode(form, TransferMode::FileToDisk); break;
    case IDC_MAIN_DISK_TO_DISK: setMode(form, TransferMode::DiskToDisk); break;
    case IDM_HELP:              launchHelp(form); break;
    case IDM_ABOUT:             showAboutBox(form); break;
    case IDM_BUFFER_SIZE:       openBufferDialog(); break;
    case IDM_QUIT:              quit(form); break;
    case IDM_PROCEED:           proceed(form); break;
    case IDM_FILE_NAME:         chooseFile(form); break;
    case IDM_SCAN_BUS:          rescan(form); break;
    case IDM_ARCHIVE_OPTIONS:   runArchiveOptionsDialog(form); break;
    case IDM_DISK_CONTENTS:     runDiskContentsDialog(form); break;
    default: break;
    }
}

} // namespace

void requestRefresh(HWND form)
{
    SendMessageA(form, WM_PAINT, 0, 0);
}

LRESULT onMainFormCommand(HWND form, UINT /*message*/, WPARAM wParam, LPARAM /*lParam*/)
{
    /* After the shutdown the text buffers are gone; a late command must not touch them. */
    if (!appState.scratchText || !appState.imagePath)
        return 0;

    int code = HIWORD(wParam);
    int id = LOWORD(wParam);
    switch (code) {
    case kListChoiceConfirmed: onListChoice(form, id); break;
    case kButtonClicked:
    case kAccelerator:         runCommand(form, id); break;
    case kFieldChanged:        onFieldChanged(form, id); break;
    default: break;            /* focus notices, lists opening and closing, ... */
    }
    return 0;
}

void onSelectAll(HWND form)
{
    if (SendDlgItemMessageA(form, IDC_MAIN_SELECT_ALL, BM_GETCHECK, 0, 0) != BST_UNCHECKED)
        appState.transferSectors = referenceDevice().sectorCount;
    else
        appState.transferSectors = 0;
    /* The refresh rewrites the size field, which bounds the size and sets the box again. */
    requestRefresh(form);
}

void onSizeChanged(HWND form)
{
    if (!appState.scratchText)
        return;
    /* The whole text: WM_SETTEXT puts more than the typing limit into the field, and a number
       read cut short would differ from the one the field shows. */
    SendDlgItemMessageA(form, IDC_MAIN_SIZE, WM_GETTEXT, kScratchTextSize,
                        reinterpret_cast<LPARAM>(appState.scratchText));
    SizeText typed = parseSizeText(appState.scratchText);
    int64_t size = typed.found ? typed.value : appState.transferSectors;   /* an empty field keeps the size */

    /* Each rewrite runs this handler again on the new text, which finds it within bounds or
       lowers it once more (DiskToDisk: from the source's count to the smaller target's). */
    const int32_t referenceBound = sizeBound(referenceDevice());
    if (size > referenceBound)
        rewriteSizeField(form, referenceBound);
    else if (size < 0)
        rewriteSizeField(form, 0);   /* only pasted text can hold a sign: no negative sizes */
    else
        appState.transferSectors = static_cast<int32_t>(size);

    if (appState.mode == TransferMode::DiskToDisk) {
        const int32_t targetBound = sizeBound(targetDeviceRecord());
        if (appState.transferSectors > targetBound)
            rewriteSizeField(form, targetBound);
    }

    const DeviceRecord &reference = referenceDevice();
    SendDlgItemMessageA(form, IDC_MAIN_SELECT_ALL, BM_SETCHECK,
                        appState.transferSectors == reference.sectorCount ? BST_CHECKED : BST_UNCHECKED, 0);
    std::snprintf(appState.scratchText, kScratchTextSize, "%5.1f MBytes",
                  sizeInMegabytes(appState.transferSectors, reference.sectorSize));
    SetDlgItemTextA(form, IDC_MAIN_MEGABYTES, appState.scratchText);
}
