/*
 * Watches the message boxes that the code under test shows on this thread, records what each
 * said and answers it, so that tests run without anyone at the screen. It hooks window
 * activation (WH_CBT), as user32's own tests do; the program needs no seam for it.
 */
#ifndef KESTROVA_MESSAGE_BOX_WATCH_H
#define KESTROVA_MESSAGE_BOX_WATCH_H

#include <windows.h>
#include <deque>
#include <functional>
#include <string>
#include <vector>

struct CapturedBox {
    std::string caption;
    std::string text;
    UINT icon = 0;      /* MB_ICONERROR, MB_ICONWARNING, MB_ICONINFORMATION, MB_ICONQUESTION or 0 */
    UINT buttons = 0;   /* MB_OK, MB_OKCANCEL, MB_YESNO, MB_YESNOCANCEL, ... */
    HWND owner = nullptr;
    int answer = 0;     /* the button pressed */
};

class MessageBoxWatch {
public:
    MessageBoxWatch();
    ~MessageBoxWatch();
    MessageBoxWatch(const MessageBoxWatch &) = delete;
    MessageBoxWatch &operator=(const MessageBoxWatch &) = delete;

    /* Answers for the next boxes, in order (IDOK, IDCANCEL, IDYES, IDNO). When none is queued
     * the box gets its first button (OK, or Yes). */
    void answer(int button) { answers_.push_back(button); }
    /* Called when a box comes up, before it is answered (for example to look at other windows). */
    void onBox(std::function<void(const CapturedBox &)> callback) { callback_ = std::move(callback); }

    const std::vector<CapturedBox> &boxes() const { return boxes_; }
    void clear() { boxes_.clear(); }

private:
    static LRESULT CALLBACK hookProc(int code, WPARAM wParam, LPARAM lParam);
    void handle(HWND box);

    HHOOK hook_ = nullptr;
    std::deque<int> answers_;
    std::vector<CapturedBox> boxes_;
    std::function<void(const CapturedBox &)> callback_;
};

/* Readable form of a box for assertion messages. */
std::string describe(const CapturedBox &box);

#endif
