/*
 * winspy: prints every window of the desktop it runs in, one JSON object per line, so that the
 * end-to-end journeys can see what a person would see: the windows' classes, ids, texts,
 * positions on the screen, check marks, list contents and selections, progress positions.
 *
 *   winspy.exe            all top-level windows and their children
 *   winspy.exe --title T  only the top-level windows titled T (repeatable) and their children
 *   winspy.exe --quick    sends no message: texts of edit fields and lists, check marks and
 *                         selections are left out (for a program busy copying)
 *   winspy.exe serve      answers requests (the arguments above, tab-separated) read from its
 *                         standard input, each answer ending in {"end": STATUS}
 *   winspy.exe reg KEY    the values of a registry key (HKLM\... or HKCU\...), one a line:
 *                         name, type, and data (text for REG_SZ, hexadecimal bytes otherwise);
 *                         exit status 1 when the key does not exist
 *
 * Fields: hwnd, parent (0 for a top-level window), owner, top (the top-level window it belongs
 * to), class, id, style, exstyle, visible, enabled, rect [left, top, right, bottom] in screen
 * coordinates, text; check for buttons, sel and items for combo boxes and list boxes, pos for
 * progress bars. A first line gives the foreground window and the window with the keyboard focus.
 * Texts are read through the wide-character messages and written as JSON \u escapes, so that the
 * French texts arrive intact whatever the console code page.
 */
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

/* A window whose thread is busy (a bus scan or a SCSI request awaited by polling) does not answer;
 * after one unanswered message its thread is left alone for the rest of the listing, so that
 * the listing stays quick, and its windows are marked "busy". */
constexpr UINT kTimeoutMs = 400;
std::vector<DWORD> busyThreads;

bool quick = false;   /* --quick: no message at all, only what the system itself holds */

bool isBusy(HWND window) {
    if (quick) return true;
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    for (DWORD t : busyThreads) {
        if (t == thread) return true;
    }
    return false;
}

std::string jsonText(const std::wstring &text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'"': out += "\\\""; break;
        case L'\\': out += "\\\\"; break;
        case L'\n': out += "\\n"; break;
        case L'\r': out += "\\r"; break;
        case L'\t': out += "\\t"; break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                out += static_cast<char>(c);
            } else {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c) & 0xffff);
                out += esc;
            }
        }
    }
    return out + "\"";
}

/* A message that answers with a number; a hung window gives -1 instead of blocking the spy. */
LONG_PTR ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (isBusy(window)) return -1;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kTimeoutMs, &result)) {
        busyThreads.push_back(GetWindowThreadProcessId(window, nullptr));
        return -1;
    }
    return static_cast<LONG_PTR>(result);
}

/* Edit fields and combo boxes keep their text themselves and must be asked; the other windows'
 * texts are read without a message, so that a busy program does not slow the listing. */
std::wstring windowText(HWND window, bool ask_window) {
    if (!ask_window || quick) {
        wchar_t text[1024] = L"";
        InternalGetWindowText(window, text, 1024);
        return text;
    }
    LONG_PTR length = ask(window, WM_GETTEXTLENGTH);
    if (length <= 0) return L"";
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
    DWORD_PTR copied = 0;
    if (isBusy(window)) return L"";
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kTimeoutMs, &copied)) {
        return L"";
    }
    return std::wstring(buffer.data());
}

std::wstring listItemText(HWND list, bool combo, LONG_PTR index) {
    LONG_PTR length = ask(list, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, static_cast<WPARAM>(index));
    if (length < 0) return L"";
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
    DWORD_PTR ignored = 0;
    if (isBusy(list)) return L"";
    SendMessageTimeoutW(list, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(index),
                        reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG, kTimeoutMs, &ignored);
    return std::wstring(buffer.data());
}

std::wstring className(HWND window) {
    wchar_t name[128] = L"";
    GetClassNameW(window, name, 128);
    return name;
}

bool isClass(const std::wstring &name, const wchar_t *wanted) {
    return lstrcmpiW(name.c_str(), wanted) == 0;
}

void printWindow(HWND window, HWND top) {
    std::wstring cls = className(window);
    LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    LONG_PTR exstyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    HWND parent = (style & WS_CHILD) ? GetParent(window) : nullptr;
    RECT rect{};
    GetWindowRect(window, &rect);
    std::string line = "{";
    char buffer[512];
    std::snprintf(buffer, sizeof buffer,
                  "\"hwnd\": %llu, \"parent\": %llu, \"owner\": %llu, \"top\": %llu, \"class\": %s, "
                  "\"id\": %ld, \"style\": %lu, \"exstyle\": %lu, \"visible\": %d, \"enabled\": %d, "
                  "\"rect\": [%ld, %ld, %ld, %ld]",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(parent)),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(GetWindow(window, GW_OWNER))),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(top)),
                  jsonText(cls).c_str(),
                  (style & WS_CHILD) ? static_cast<long>(static_cast<short>(GetDlgCtrlID(window))) : 0L,
                  static_cast<unsigned long>(style), static_cast<unsigned long>(exstyle),
                  IsWindowVisible(window) ? 1 : 0, IsWindowEnabled(window) ? 1 : 0,
                  rect.left, rect.top, rect.right, rect.bottom);
    line += buffer;
    bool owns_text = isClass(cls, L"Edit") || isClass(cls, L"ComboBox");
    line += ", \"text\": " + jsonText(windowText(window, owns_text));
    if (isBusy(window) && !quick) line += ", \"busy\": 1";

    LONG_PTR type = style & BS_TYPEMASK;
    bool checkable = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                     type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE;
    if (isClass(cls, L"Button") && checkable) {
        std::snprintf(buffer, sizeof buffer, ", \"check\": %ld", static_cast<long>(ask(window, BM_GETCHECK)));
        line += buffer;
    } else if (isClass(cls, L"ComboBox") || isClass(cls, L"ListBox") || isClass(cls, L"ComboLBox")) {
        bool combo = isClass(cls, L"ComboBox");
        LONG_PTR count = ask(window, combo ? CB_GETCOUNT : LB_GETCOUNT);
        LONG_PTR selection = ask(window, combo ? CB_GETCURSEL : LB_GETCURSEL);
        std::snprintf(buffer, sizeof buffer, ", \"sel\": %ld, \"items\": [", static_cast<long>(selection));
        line += buffer;
        for (LONG_PTR i = 0; i < count; ++i) {
            if (i) line += ", ";
            line += jsonText(listItemText(window, combo, i));
        }
        line += "]";
        if (combo) {
            std::snprintf(buffer, sizeof buffer, ", \"dropped\": %ld",
                          static_cast<long>(ask(window, CB_GETDROPPEDSTATE)));
            line += buffer;
        }
    } else if (isClass(cls, PROGRESS_CLASSW)) {
        std::snprintf(buffer, sizeof buffer, ", \"pos\": %ld", static_cast<long>(ask(window, PBM_GETPOS)));
        line += buffer;
    }
    line += "}\n";
    std::fputs(line.c_str(), stdout);
}

BOOL CALLBACK printChild(HWND child, LPARAM top) {
    printWindow(child, reinterpret_cast<HWND>(top));
    return TRUE;
}

std::vector<std::wstring> onlyTitles;

BOOL CALLBACK printTopLevel(HWND window, LPARAM) {
    if (!onlyTitles.empty()) {
        wchar_t title[256] = L"";
        InternalGetWindowText(window, title, 256);
        bool wanted = false;
        for (const std::wstring &only : onlyTitles) wanted = wanted || only == title;
        if (!wanted) return TRUE;
    }
    printWindow(window, window);
    /* EnumChildWindows walks the whole subtree, grandchildren included. */
    EnumChildWindows(window, printChild, reinterpret_cast<LPARAM>(window));
    return TRUE;
}

int printRegistryKey(const wchar_t *path) {
    HKEY root = nullptr;
    if (_wcsnicmp(path, L"HKLM\\", 5) == 0) {
        root = HKEY_LOCAL_MACHINE;
    } else if (_wcsnicmp(path, L"HKCU\\", 5) == 0) {
        root = HKEY_CURRENT_USER;
    } else {
        return 2;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path + 5, 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        BYTE data[4096];
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
        std::string line = "{\"name\": " + jsonText(name);
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, ", \"type\": %lu, \"data\": ", static_cast<unsigned long>(type));
        line += buffer;
        if (type == REG_SZ) {
            std::wstring text(reinterpret_cast<const wchar_t *>(data), dataLength / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0') text.pop_back();
            line += jsonText(text);
        } else {
            std::string hex = "\"";
            for (DWORD i = 0; i < dataLength; ++i) {
                std::snprintf(buffer, sizeof buffer, "%02x", data[i]);
                hex += buffer;
            }
            line += hex + "\"";
        }
        std::fputs((line + "}\n").c_str(), stdout);
    }
    RegCloseKey(key);
    return 0;
}


/* One request: a listing (with its options) or a registry key; returns the exit status. */
int runRequest(const std::vector<std::wstring> &args) {
    if (args.size() >= 2 && lstrcmpiW(args[0].c_str(), L"reg") == 0) {
        return printRegistryKey(args[1].c_str());
    }
    onlyTitles.clear();
    quick = false;
    busyThreads.clear();
    for (size_t i = 0; i < args.size(); ++i) {
        if (lstrcmpiW(args[i].c_str(), L"--title") == 0 && i + 1 < args.size()) onlyTitles.push_back(args[++i]);
        else if (lstrcmpiW(args[i].c_str(), L"--quick") == 0) quick = true;
    }
    HWND foreground = GetForegroundWindow();
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    HWND focus = nullptr;
    if (foreground && GetGUIThreadInfo(GetWindowThreadProcessId(foreground, nullptr), &thread)) {
        focus = thread.hwndFocus;
    }
    std::printf("{\"foreground\": %llu, \"focus\": %llu}\n",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(foreground)),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(focus)));
    EnumWindows(printTopLevel, 0);
    return 0;
}

/* serve: one request a line on the standard input, its words separated by tabs, in UTF-8; each
 * answer ends with a line {"end": STATUS}. A Wine program takes a while to start, so the
 * journeys keep one of these running instead of starting one per look at the screen. It also
 * keeps the desktop it runs in open between two programs. */
void serve() {
    GetDesktopWindow();
    std::printf("{\"end\": 0}\n");
    std::fflush(stdout);
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        std::vector<std::wstring> args;
        char *word = line;
        for (char *p = line;; ++p) {
            if (*p == '\t' || *p == '\n' || *p == '\r' || *p == '\0') {
                char end = *p;
                *p = '\0';
                if (*word) {
                    wchar_t wide[1024];
                    int n = MultiByteToWideChar(CP_UTF8, 0, word, -1, wide, 1024);
                    args.push_back(n > 0 ? wide : L"");
                }
                word = p + 1;
                if (end == '\0' || end == '\n') break;
            }
        }
        int status = runRequest(args);
        std::printf("{\"end\": %d}\n", status);
        std::fflush(stdout);
    }
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc >= 2 && lstrcmpiW(argv[1], L"serve") == 0) {
        serve();
        return 0;
    }
    std::vector<std::wstring> args(argv + 1, argv + argc);
    int status = runRequest(args);
    std::fflush(stdout);
    return status;
}
