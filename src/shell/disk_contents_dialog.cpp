/* The disk contents dialog: the three descriptions and the button that sets the size. */
#include "disk_contents_dialog.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include "app_state.h"
#include "contents_text.h"
#include "disk_contents.h"
#include "messages.h"
#include "resource_ids.h"

namespace {

constexpr int kTextSize = 512;
const char kIndent[] = "    ";
const char kLineEnd[] = "\r\n";

/* What the dialog shows and what its button needs. */
struct ContentsView {
    HWND form;
    std::string text;
    int32_t usedSectors;   /* the source's, in sectors of the size field's device; 0: none known */
};

std::string heading(UINT id, ...)
{
    char format[kTextSize], text[kTextSize];
    loadText(id, format, sizeof format);
    va_list arguments;
    va_start(arguments, id);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return std::string(text) + kLineEnd;
}

DiskContents describeDevice(std::string &text, UINT headingId, int adapter, int target)
{
    const DeviceRecord &device = adapterTable.adapters[adapter].devices[target];
    text += heading(headingId, device.label, adapter, int(device.sectorCount), int(device.sectorSize));
    DiskContents contents = probeDevice(lookupSendCommand(), adapter, target);
    text += describeContents(contents, kIndent, kLineEnd) + kLineEnd;
    return contents;
}

DiskContents describeImage(std::string &text)
{
    DiskContents contents;
    const bool opened = probeImageFile(appState.imagePath, -1, contents);
    text += heading(IDS_CT_IMAGE, appState.imagePath, numberText(contents.mediumBytes).c_str());
    text += opened ? describeContents(contents, kIndent, kLineEnd) : kIndent + heading(IDS_CT_NO_FILE);
    return contents;
}

void readAll(ContentsView &view)
{
    DiskContents source, image;
    if (appState.adapterCount == 0) {
        view.text += heading(IDS_CT_NO_DEVICE) + kLineEnd;
    } else {
        source = describeDevice(view.text, IDS_CT_SOURCE, appState.sourceAdapter, appState.sourceDevice);
        describeDevice(view.text, IDS_CT_TARGET, appState.targetAdapter, appState.targetDevice);
    }
    image = describeImage(view.text);
    /* The source of the copy the form is set for; its size is counted in the field's sectors. */
    const DiskContents &copied = appState.mode == TransferMode::FileToDisk ? image : source;
    view.usedSectors = sectorsInUse(copied, referenceDevice().sectorSize);
}

/* As if typed: the field's change handler applies its rule (the device's bounds, the box). */
void useSourceSize(HWND dialog, const ContentsView &view)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", int(view.usedSectors));
    SetDlgItemTextA(view.form, IDC_MAIN_SIZE, digits);
    EndDialog(dialog, IDC_CONTENTS_USED);
}

}  // namespace

void runDiskContentsDialog(HWND form)
{
    ContentsView view{form, "", 0};
    readAll(view);   /* a few milliseconds: no wait cursor */
    DialogBoxParamA(appState.instance, CONTENTS_DIALOG_NAME, form, DiskContentsDialogProc,
                    reinterpret_cast<LPARAM>(&view));
}

INT_PTR CALLBACK DiskContentsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto *view = reinterpret_cast<const ContentsView *>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        view = reinterpret_cast<const ContentsView *>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        /* A disk of 18 Akai partitions of 100 volumes each says more than the 32 KB an edit
           control takes by default. */
        SendDlgItemMessageA(dialog, IDC_CONTENTS_TEXT, EM_SETLIMITTEXT, 0, 0);
        SetDlgItemTextA(dialog, IDC_CONTENTS_TEXT, view->text.c_str());
        EnableWindow(GetDlgItem(dialog, IDC_CONTENTS_USED), view->usedSectors > 0);
        /* The focus on Close: given to the text, the dialog manager would select all of it and
           show its end. */
        SetFocus(GetDlgItem(dialog, IDCANCEL));
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED)
            return FALSE;
        if (LOWORD(wParam) == IDC_CONTENTS_USED && view) {
            useSourceSize(dialog, *view);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
