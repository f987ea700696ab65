/*
 * Helpers of the settings tests: the stored buffer value in the test prefix's registry, the
 * user-interface language of the thread, an owner window standing in for the main form, and
 * message pumping while a modal dialog or a child process is awaited.
 */
#ifndef KESTROVA_TEST_SETTINGS_SUPPORT_H
#define KESTROVA_TEST_SETTINGS_SUPPORT_H

#include <windows.h>
#include <functional>
#include <optional>
#include <string>

constexpr char kSettingKey[] = "SOFTWARE\\Talvenor\\Kestrova";
constexpr char kEnglishValueName[] = "IO buffer size";
constexpr char kFrenchValueName[] = "Buffer d'entr\xE9" "es sortie";

/* Removes the program's key with every value in it. */
void deleteSettingKey();
/* Stores raw bytes under the key, with the given type. */
void storeSettingBytes(const char *valueName, DWORD type, const void *bytes, DWORD length);
/* Stores text with its NUL as REG_SZ. */
void storeSettingText(const char *valueName, const std::string &text);
/* The stored value as text (its type and length are checked: REG_SZ, NUL counted), if any. */
std::optional<std::string> storedSettingText(const char *valueName);

/* Selects the resources of a language for this thread until it goes out of scope. */
class UiLanguageScope {
public:
    explicit UiLanguageScope(LANGID language);
    ~UiLanguageScope();
    UiLanguageScope(const UiLanguageScope &) = delete;
    UiLanguageScope &operator=(const UiLanguageScope &) = delete;

private:
    LANGID previous_;
};
void selectUiLanguage(LANGID language);

/* A visible top-level window that stands in for the main form (appState.mainForm). */
HWND createStandInForm();

/* Handles the thread's messages until done() or timeoutMs has passed; returns done(). */
bool pumpUntil(const std::function<bool()> &done, DWORD timeoutMs = 5000);

/*
 * Runs action from a thread timer inside whatever message loop runs next (a modal dialog's
 * included), once find() returns a window; the action gets that window.
 */
class WhenWindowAppears {
public:
    WhenWindowAppears(std::function<HWND()> find, std::function<void(HWND)> action);
    ~WhenWindowAppears();
    bool ran() const { return ran_; }

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR id, DWORD);
    std::function<HWND()> find_;
    std::function<void(HWND)> action_;
    UINT_PTR timer_ = 0;
    bool ran_ = false;
};

/* The top-level window of this thread with that caption, if any. */
HWND findThreadWindow(const char *caption);

std::string windowText(HWND window);
std::string controlText(HWND dialog, int id);

#endif
