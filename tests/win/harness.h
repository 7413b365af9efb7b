#pragma once

// A small harness for driving windows under Wine: checks that count
// failures, a message pump with a time limit, a watcher that reads and
// closes the modal windows a dialog opens, and a screen grab of a window.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace harness {

extern int checks;
extern int failures;

void Fail(const char* file, int line, const std::string& what);

template <class A, class B>
void CheckEqual(const A& actual, const B& expected, const char* expr, const char* file, int line)
{
    ++checks;
    if (actual == expected) return;
    std::string what = std::string(expr) + ": got ";
    if constexpr (std::is_convertible_v<A, std::string>)
        what += "\"" + std::string(actual) + "\", expected \"" + std::string(expected) + "\"";
    else
        what += std::to_string(actual) + ", expected " + std::to_string(expected);
    Fail(file, line, what);
}

#define CHECK(cond) (++harness::checks, (cond) ? void() : harness::Fail(__FILE__, __LINE__, #cond))
#define CHECK_EQ(actual, expected) harness::CheckEqual((actual), (expected), #actual, __FILE__, __LINE__)

// Ends the process with a failure if the run takes longer than the limit.
void StartWatchdog(DWORD seconds);

// Dispatches this thread's messages (dialog keys through the dialog) until
// done() holds; false when the time limit passed first.
bool PumpUntil(HWND dialog, const std::function<bool()>& done, DWORD milliseconds);
// Dispatches the messages already waiting, those they make included, and
// returns when none is left.
void PumpPending(HWND dialog);

// Counts the times one message reaches a window while the counter lives,
// by putting a counting window procedure in front of the window's own.
class MessageCounter {
public:
    MessageCounter(HWND window, UINT message);
    ~MessageCounter();
    MessageCounter(const MessageCounter&) = delete;
    MessageCounter& operator=(const MessageCounter&) = delete;
    unsigned count = 0;

private:
    static LRESULT CALLBACK Count(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window;
    UINT message;
    WNDPROC previous;
};

// A modal window seen by the watcher: its caption, its static texts, its
// buttons, whether it showed an icon, its owner.
struct ModalWindow {
    std::string caption;
    std::vector<std::string> texts;
    std::vector<std::string> buttons;
    bool icon = false;
    HWND owner = nullptr;
    bool ownerEnabled = true;  // the owner takes input while this is up
    std::string Text() const { return texts.empty() ? std::string() : texts.front(); }
};

// While alive, a timer on this thread finds each dialog-class window owned by
// the given window (on any thread), records it and closes it with IDOK. The
// timer also runs inside modal loops, so it works for boxes opened by a
// SendMessage of the test itself.
class ModalWatcher {
public:
    explicit ModalWatcher(HWND owner);
    ~ModalWatcher();
    std::vector<ModalWindow> seen;

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    void Poll();
    HWND owner;
    UINT_PTR timer;
    std::vector<HWND> handled;
};

// The client area of a window as it is on screen, children included.
struct Grab {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB
    COLORREF At(int x, int y) const;
};
// Painted whole first unless redraw is false: then as the window's own
// paints left it.
Grab GrabClient(HWND window, bool redraw = true);
// A control's rectangle in its dialog's client coordinates.
RECT ChildRect(HWND dialog, HWND control);

std::string WindowText(HWND window);
std::string ColorText(COLORREF c);

}  // namespace harness
