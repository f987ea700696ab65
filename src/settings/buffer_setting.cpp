/*
 * The I/O buffer size: kept in the registry as kilobytes in decimal text, held in memory as
 * bufferBlocks (units of 512 bytes), and changed in the modeless buffer-size dialog.
 */
#include "buffer_setting.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app_state.h"
#include "messages.h"
#include "resource_ids.h"

namespace {

constexpr int kSettingTextSize = 64;
constexpr int kDefaultKilobytes = 16;
constexpr int kDefaultListIndex = 2;

struct BufferChoice {
    const char *text;
    int kilobytes;
};

/* The dialog's list, the same in both languages; the first two begin with a blank. */
constexpr std::array<BufferChoice, 5> kBufferChoices = {{
    {" 4 Kbytes", 4},
    {" 8 Kbytes", 8},
    {"16 Kbytes", 16},
    {"32 Kbytes", 32},
    {"64 Kbytes", 64},
}};

void showRegistryError(UINT stringId)
{
    showMessage(appState.mainForm, loadResourceText(stringId), "Error", MB_ICONERROR);
}

}  // namespace

int storedKilobytes(const char *text, int size)
{
    /* A value of exactly 64 bytes arrives without its NUL: it is not read beyond the buffer. */
    if (!std::memchr(text, '\0', static_cast<size_t>(size)))
        return 0;
    char *end = nullptr;
    long kilobytes = std::strtol(text, &end, 10);
    if (end == text || kilobytes < 1 || kilobytes > INT_MAX / 2)
        return 0;
    return static_cast<int>(kilobytes);
}

int bufferListIndex(int bufferBlocks)
{
    int kilobytes = bufferBlocks / 2;
    for (size_t index = 0; index < kBufferChoices.size(); ++index) {
        if (kBufferChoices[index].kilobytes == kilobytes)
            return static_cast<int>(index);
    }
    return kDefaultListIndex;
}

void readBufferSetting(char *text)
{
    char name[kSettingTextSize] = "";
    LoadStringA(appState.instance, IDS_REGISTRY_KEY, name, sizeof name);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    LoadStringA(appState.instance, IDS_REGISTRY_VALUE, name, sizeof name);
    DWORD length = kSettingTextSize;
    LONG result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(text), &length);
    /* A value too long for the buffer leaves its content undefined: read it as no value. */
    if (result != ERROR_SUCCESS)
        std::memset(text, 0, kSettingTextSize);
    RegCloseKey(key);
}

void writeBufferSetting(const char *text)
{
    char name[kSettingTextSize] = "";
    LoadStringA(appState.instance, IDS_REGISTRY_KEY, name, sizeof name);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, name, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        showRegistryError(IDS_REGISTRY_OPEN_FAIL);
        return;
    }
    LoadStringA(appState.instance, IDS_REGISTRY_VALUE, name, sizeof name);
    /* The stored length counts the terminating NUL. */
    DWORD length = static_cast<DWORD>(std::strlen(text) + 1);
    if (RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), length) != ERROR_SUCCESS)
        showRegistryError(IDS_REGISTRY_SAVE_FAIL);
    RegCloseKey(key);
}

void restoreBufferSize()
{
    char text[kSettingTextSize] = {};
    readBufferSetting(text);
    int kilobytes = storedKilobytes(text, sizeof text);
    if (kilobytes > 0) {
        appState.bufferBlocks = kilobytes * 2;
        return;
    }
    /* Nothing usable is stored: use and store the default. */
    std::snprintf(text, sizeof text, "%d", kDefaultKilobytes);
    appState.bufferBlocks = kDefaultKilobytes * 2;
    writeBufferSetting(text);
}

void openBufferDialog()
{
    HWND dialog = CreateDialogParamA(appState.instance, BUFFER_DIALOG_NAME, appState.mainForm,
                                     BufferDialogProc, 0);
    appState.bufferDialog = dialog;
    SendDlgItemMessageA(dialog, IDC_BUFFER_LIST, CB_RESETCONTENT, 0, 0);
    for (const BufferChoice &choice : kBufferChoices)
        SendDlgItemMessageA(dialog, IDC_BUFFER_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.text));
    SendDlgItemMessageA(dialog, IDC_BUFFER_LIST, CB_SETCURSEL, bufferListIndex(appState.bufferBlocks), 0);
    /* The template is not visible by itself: the dialog appears already filled. */
    ShowWindow(dialog, SW_SHOWNORMAL);
}

namespace {

void confirmBufferDialog(HWND dialog)
{
    LRESULT index = SendDlgItemMessageA(dialog, IDC_BUFFER_LIST, CB_GETCURSEL, 0, 0);
    if (index < 0 || index >= static_cast<LRESULT>(kBufferChoices.size()))
        return;
    int kilobytes = kBufferChoices[static_cast<size_t>(index)].kilobytes;
    char text[kSettingTextSize] = "";
    std::snprintf(text, sizeof text, "%d", kilobytes);
    appState.bufferBlocks = kilobytes * 2;
    /* Written on every OK, also when the size has not changed. */
    writeBufferSetting(text);
}

/* A modeless dialog is closed by destroying it (EndDialog would only hide it). */
void closeBufferDialog(HWND dialog)
{
    if (appState.bufferDialog == dialog)
        appState.bufferDialog = nullptr;
    DestroyWindow(dialog);
}

}  // namespace

INT_PTR CALLBACK BufferDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetFocus(dialog);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED)
            return FALSE;
        if (LOWORD(wParam) == IDC_OK) {
            confirmBufferDialog(dialog);
            closeBufferDialog(dialog);
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_CANCEL) {
            closeBufferDialog(dialog);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
