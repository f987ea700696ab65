/* The archiving options: registry values, and the dialog that changes them. */
#include "archive_options.h"

#include "messages.h"
#include "resource_ids.h"

const char *const kSkipUnreadableValue = "Skip unreadable sectors";
const char *const kVerifyValue = "Verify after copying";
const char *const kReportValue = "Write image report";
const char *const kExactLengthValue = "Exact-length images";
const char *const kStartStoppedDrivesValue = "Start stopped drives";
const char *const kGuardRestoreValue = "Ask before overwriting a recognised disk";

namespace {

constexpr int kKeyTextSize = 64;

struct OptionField {
    const char *const *valueName;
    bool ArchiveOptions::*flag;
    int checkBox;
};

const OptionField kOptionFields[] = {
    {&kSkipUnreadableValue, &ArchiveOptions::skipUnreadable, IDC_ARCHIVE_SKIP},
    {&kVerifyValue, &ArchiveOptions::verify, IDC_ARCHIVE_VERIFY},
    {&kReportValue, &ArchiveOptions::report, IDC_ARCHIVE_REPORT},
    {&kExactLengthValue, &ArchiveOptions::exactLength, IDC_ARCHIVE_EXACT},
    {&kStartStoppedDrivesValue, &ArchiveOptions::startStoppedDrives, IDC_ARCHIVE_START_DRIVES},
    {&kGuardRestoreValue, &ArchiveOptions::guardRestore, IDC_ARCHIVE_GUARD},
};

bool readSwitch(HKEY key, const char *name)
{
    DWORD type = 0, value = 0, length = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &length) != ERROR_SUCCESS)
        return false;
    return type == REG_DWORD && length == sizeof value && value == 1;
}

}  // namespace

void restoreArchiveOptions()
{
    appState.archive = ArchiveOptions();
    char keyPath[kKeyTextSize];
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, loadText(IDS_REGISTRY_KEY, keyPath, sizeof keyPath), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return;
    for (const OptionField &field : kOptionFields)
        appState.archive.*field.flag = readSwitch(key, *field.valueName);
    RegCloseKey(key);
}

void storeArchiveOptions()
{
    char keyPath[kKeyTextSize];
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, loadText(IDS_REGISTRY_KEY, keyPath, sizeof keyPath), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        showMessage(appState.mainForm, loadResourceText(IDS_REGISTRY_OPEN_FAIL), "Error", MB_ICONERROR);
        return;
    }
    for (const OptionField &field : kOptionFields) {
        DWORD value = appState.archive.*field.flag ? 1 : 0;
        if (RegSetValueExA(key, *field.valueName, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                           sizeof value) != ERROR_SUCCESS) {
            showMessage(appState.mainForm, loadResourceText(IDS_REGISTRY_SAVE_FAIL), "Error", MB_ICONERROR);
            break;
        }
    }
    RegCloseKey(key);
}

void runArchiveOptionsDialog(HWND owner)
{
    DialogBoxParamA(appState.instance, ARCHIVE_DIALOG_NAME, owner, ArchiveOptionsDialogProc, 0);
}

INT_PTR CALLBACK ArchiveOptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        for (const OptionField &field : kOptionFields)
            CheckDlgButton(dialog, field.checkBox, appState.archive.*field.flag ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED)
            return FALSE;
        if (LOWORD(wParam) == IDOK) {
            for (const OptionField &field : kOptionFields)
                appState.archive.*field.flag = IsDlgButtonChecked(dialog, field.checkBox) == BST_CHECKED;
            storeArchiveOptions();
            EndDialog(dialog, IDOK);
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
