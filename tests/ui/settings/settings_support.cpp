/* Helpers of the settings tests. */
#include "settings_support.h"

#include <map>
#include <vector>

#include "ui_language.h"

void deleteSettingKey()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingKey);
}

void storeSettingBytes(const char *valueName, DWORD type, const void *bytes, DWORD length)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, valueName, 0, type, static_cast<const BYTE *>(bytes), length);
    RegCloseKey(key);
}

void storeSettingText(const char *valueName, const std::string &text)
{
    storeSettingBytes(valueName, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

std::optional<std::string> storedSettingText(const char *valueName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<char> data(1024);
    DWORD type = 0, length = static_cast<DWORD>(data.size());
    LONG result = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &length);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return std::nullopt;
    if (type != REG_SZ || length == 0 || data[length - 1] != '\0')
        return "<not a terminated REG_SZ>";
    return std::string(data.data(), length - 1);
}

void selectUiLanguage(LANGID language)
{
    typedef LANGID(WINAPI * SetThreadUILanguageFn)(LANGID);
    auto setUiLanguage = reinterpret_cast<SetThreadUILanguageFn>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadUILanguage")));
    if (setUiLanguage)
        setUiLanguage(language);
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
}

UiLanguageScope::UiLanguageScope(LANGID language) : previous_(LANGIDFROMLCID(GetThreadLocale()))
{
    selectUiLanguage(language);
}

UiLanguageScope::~UiLanguageScope()
{
    selectUiLanguage(previous_);
}

HWND createStandInForm()
{
    HWND form = CreateWindowExA(0, "STATIC", "Stand-in form", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400,
                                300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetForegroundWindow(form);
    return form;
}

bool pumpUntil(const std::function<bool()> &done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

namespace {
std::map<UINT_PTR, WhenWindowAppears *> &timers()
{
    static std::map<UINT_PTR, WhenWindowAppears *> active;
    return active;
}
}  // namespace

WhenWindowAppears::WhenWindowAppears(std::function<HWND()> find, std::function<void(HWND)> action)
    : find_(std::move(find)), action_(std::move(action))
{
    timer_ = SetTimer(nullptr, 0, 50, tick);
    timers()[timer_] = this;
}

WhenWindowAppears::~WhenWindowAppears()
{
    if (timer_) {
        KillTimer(nullptr, timer_);
        timers().erase(timer_);
    }
}

void CALLBACK WhenWindowAppears::tick(HWND, UINT, UINT_PTR id, DWORD)
{
    auto found = timers().find(id);
    if (found == timers().end())
        return;
    WhenWindowAppears *self = found->second;
    HWND window = self->find_();
    if (!window)
        return;
    KillTimer(nullptr, id);
    timers().erase(id);
    self->timer_ = 0;
    self->ran_ = true;
    self->action_(window);
}

namespace {
struct CaptionSearch {
    const char *caption;
    HWND found;
};

BOOL CALLBACK matchCaption(HWND window, LPARAM data)
{
    auto *search = reinterpret_cast<CaptionSearch *>(data);
    if (IsWindowVisible(window) && windowText(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND findThreadWindow(const char *caption)
{
    CaptionSearch search = {caption, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), matchCaption, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string windowText(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string controlText(HWND dialog, int id)
{
    return windowText(GetDlgItem(dialog, id));
}
