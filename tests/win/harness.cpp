#include "harness.h"

#include <algorithm>
#include <cstdlib>

namespace harness {

int checks = 0;
int failures = 0;

void Fail(const char* file, int line, const std::string& what)
{
    ++failures;
    std::printf("FAIL %s:%d: %s\n", file, line, what.c_str());
    std::fflush(stdout);
}

namespace {

DWORD WINAPI Watchdog(LPVOID param)
{
    const auto seconds = static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(param));
    Sleep(seconds * 1000);
    std::printf("FAIL: watchdog: the run took longer than %lu s\n", seconds);
    std::fflush(stdout);
    ExitProcess(3);
}

}  // namespace

void StartWatchdog(DWORD seconds)
{
    CloseHandle(CreateThread(nullptr, 0, Watchdog, reinterpret_cast<LPVOID>(UINT_PTR(seconds)), 0, nullptr));
}

void PumpPending(HWND dialog)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (dialog && IsWindow(dialog) && IsDialogMessageA(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool PumpUntil(HWND dialog, const std::function<bool()>& done, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > milliseconds) return false;
        PumpPending(dialog);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

// ---- counting messages

namespace {

constexpr const char* COUNTER_PROP = "CalyxMessageCounter";

}  // namespace

MessageCounter::MessageCounter(HWND window, UINT message) : window(window), message(message)
{
    SetPropA(window, COUNTER_PROP, this);
    previous = WNDPROC(SetWindowLongPtrA(window, GWLP_WNDPROC, LONG_PTR(Count)));
}

MessageCounter::~MessageCounter()
{
    SetWindowLongPtrA(window, GWLP_WNDPROC, LONG_PTR(previous));
    RemovePropA(window, COUNTER_PROP);
}

LRESULT CALLBACK MessageCounter::Count(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* counter = static_cast<MessageCounter*>(GetPropA(hwnd, COUNTER_PROP));
    if (message == counter->message) ++counter->count;
    return CallWindowProcA(counter->previous, hwnd, message, wParam, lParam);
}

// ---- modal windows

namespace {

ModalWatcher* activeWatcher = nullptr;

struct Search {
    HWND owner;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectOwned(HWND w, LPARAM p)
{
    auto* s = reinterpret_cast<Search*>(p);
    char cls[16] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) == "#32770" && GetWindow(w, GW_OWNER) == s->owner && IsWindowVisible(w))
        s->found.push_back(w);
    return TRUE;
}

}  // namespace

ModalWatcher::ModalWatcher(HWND owner) : owner(owner)
{
    activeWatcher = this;
    timer = SetTimer(nullptr, 0, 20, OnTimer);
}

ModalWatcher::~ModalWatcher()
{
    KillTimer(nullptr, timer);
    activeWatcher = nullptr;
}

void CALLBACK ModalWatcher::OnTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (activeWatcher) activeWatcher->Poll();
}

void ModalWatcher::Poll()
{
    Search search{owner, {}};
    EnumWindows(CollectOwned, reinterpret_cast<LPARAM>(&search));

    for (HWND box : search.found) {
        if (std::find(handled.begin(), handled.end(), box) != handled.end()) continue;
        handled.push_back(box);
        ModalWindow m;
        m.caption = WindowText(box);
        m.owner = GetWindow(box, GW_OWNER);
        m.ownerEnabled = IsWindowEnabled(m.owner) != FALSE;
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (!IsWindowVisible(c)) continue;
            char cls[16] = "";
            GetClassNameA(c, cls, sizeof cls);
            const std::string kind = cls;
            const LONG style = GetWindowLongA(c, GWL_STYLE);
            if (_stricmp(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)
                m.icon = m.icon || SendMessageA(c, STM_GETICON, 0, 0) != 0;
            else if (_stricmp(cls, "Static") == 0 && !WindowText(c).empty())
                m.texts.push_back(WindowText(c));
            else if (_stricmp(cls, "Button") == 0)
                m.buttons.push_back(WindowText(c));
        }
        seen.push_back(m);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
}

// ---- pixels

COLORREF Grab::At(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height) return CLR_INVALID;
    const uint32_t p = pixels[size_t(y) * size_t(width) + size_t(x)];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

Grab GrabClient(HWND window, bool redraw)
{
    if (redraw)
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Grab g;
    RECT rc;
    GetClientRect(window, &rc);
    g.width = rc.right;
    g.height = rc.bottom;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = g.width;
    bi.bmiHeader.biHeight = -g.height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, g.width, g.height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    g.pixels.assign(p, p + size_t(g.width) * size_t(g.height));
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return g;
}

RECT ChildRect(HWND dialog, HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string WindowText(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ColorText(COLORREF c)
{
    char text[32];
    std::snprintf(text, sizeof text, "RGB(%d, %d, %d)", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

}  // namespace harness
