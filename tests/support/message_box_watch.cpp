#include "message_box_watch.h"

namespace {
MessageBoxWatch *activeWatch = nullptr;

constexpr int kMessageTextId = 0xFFFF;
/* The icon control of a message box: 20 on Windows, 1088 in Wine's template. */
constexpr int kIconIds[] = {20, 1088};

UINT iconOf(HWND box)
{
    for (int id : kIconIds) {
        HWND control = GetDlgItem(box, id);
        if (!control)
            continue;
        HICON icon = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
        if (!icon)
            continue;
        if (icon == LoadIconA(nullptr, IDI_ERROR)) return MB_ICONERROR;
        if (icon == LoadIconA(nullptr, IDI_WARNING)) return MB_ICONWARNING;
        if (icon == LoadIconA(nullptr, IDI_INFORMATION)) return MB_ICONINFORMATION;
        if (icon == LoadIconA(nullptr, IDI_QUESTION)) return MB_ICONQUESTION;
    }
    return 0;
}

bool hasButton(HWND box, int id)
{
    /* The button's own style: the box itself may not be visible yet when it is activated. */
    HWND button = GetDlgItem(box, id);
    return button && (GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE);
}

UINT buttonsOf(HWND box)
{
    bool ok = hasButton(box, IDOK), cancel = hasButton(box, IDCANCEL);
    bool yes = hasButton(box, IDYES), no = hasButton(box, IDNO);
    if (yes && no && cancel) return MB_YESNOCANCEL;
    if (yes && no) return MB_YESNO;
    if (ok && cancel) return MB_OKCANCEL;
    if (hasButton(box, IDRETRY) && cancel) return MB_RETRYCANCEL;
    return MB_OK;
}

std::string textOf(HWND window)
{
    char text[2048] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}
}  // namespace

MessageBoxWatch::MessageBoxWatch()
{
    activeWatch = this;
    hook_ = SetWindowsHookExA(WH_CBT, hookProc, nullptr, GetCurrentThreadId());
}

MessageBoxWatch::~MessageBoxWatch()
{
    if (hook_)
        UnhookWindowsHookEx(hook_);
    if (activeWatch == this)
        activeWatch = nullptr;
}

LRESULT CALLBACK MessageBoxWatch::hookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && activeWatch) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[32] = "";
        GetClassNameA(window, className, sizeof className);
        if (lstrcmpA(className, "#32770") == 0 && GetDlgItem(window, kMessageTextId))
            activeWatch->handle(window);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MessageBoxWatch::handle(HWND box)
{
    /* A box is activated more than once when focus moves; record each box once. */
    if (GetPropA(box, "KestrovaTestSeen"))
        return;
    SetPropA(box, "KestrovaTestSeen", reinterpret_cast<HANDLE>(1));

    CapturedBox captured;
    captured.caption = textOf(box);
    captured.text = textOf(GetDlgItem(box, kMessageTextId));
    captured.icon = iconOf(box);
    captured.buttons = buttonsOf(box);
    captured.owner = GetWindow(box, GW_OWNER);
    if (!answers_.empty()) {
        captured.answer = answers_.front();
        answers_.pop_front();
    } else {
        captured.answer = (captured.buttons == MB_YESNO || captured.buttons == MB_YESNOCANCEL) ? IDYES : IDOK;
    }
    boxes_.push_back(captured);
    if (callback_)
        callback_(captured);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(captured.answer, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, captured.answer)));
}

std::string describe(const CapturedBox &box)
{
    return "[" + box.caption + "] " + box.text + " (icon " + std::to_string(box.icon) + ", buttons " +
           std::to_string(box.buttons) + ")";
}
