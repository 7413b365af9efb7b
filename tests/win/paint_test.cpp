// What the dialog looks like on screen: colours, buttons and labels.

#include <algorithm>

#include "dialog_fixture.h"
#include "ui/about_dlg.h"
#include "ui/colors.h"

using namespace harness;

namespace {

struct Box {
    int left, top, right, bottom;
    bool empty() const { return right < left; }
};

// Bounding box of the dark (text) pixels inside r, in r's coordinates.
Box DarkBox(const Grab& g, const RECT& r, int inset)
{
    Box b{INT32_MAX, INT32_MAX, -1, -1};
    for (int y = r.top + inset; y < r.bottom - inset; ++y)
        for (int x = r.left + inset; x < r.right - inset; ++x) {
            const COLORREF c = g.At(x, y);
            if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 200) {
                b = {std::min(b.left, x - int(r.left)), std::min(b.top, y - int(r.top)),
                     std::max(b.right, x - int(r.left)), std::max(b.bottom, y - int(r.top))};
            }
        }
    return b;
}

Box ColorBox(const Grab& g, const RECT& r, COLORREF color)
{
    Box b{INT32_MAX, INT32_MAX, -1, -1};
    for (int y = r.top + 3; y < r.bottom - 3; ++y)
        for (int x = r.left + 3; x < r.right - 3; ++x)
            if (g.At(x, y) == color)
                b = {std::min(b.left, x - int(r.left)), std::min(b.top, y - int(r.top)),
                     std::max(b.right, x - int(r.left)), std::max(b.bottom, y - int(r.top))};
    return b;
}

}  // namespace

void TestColors()
{
    Dialog d;
    Grab g = GrabClient(d.hwnd);
    CHECK_COLOR(g.At(3, 3), DIALOG_COLOR);
    CHECK_COLOR(g.At(g.width - 4, g.height - 4), DIALOG_COLOR);

    for (int id : {IDC_SAMPLE_RATE, IDC_FREQUENCY, IDC_ATTENUATION, IDC_DURATION, IDC_PATH}) {
        const RECT r = ChildRect(d.hwnd, d.Item(id));
        CHECK_COLOR(g.At(r.left + 3, r.bottom - 3), FIELD_COLOR);
        CHECK(!DarkBox(g, r, 2).empty());  // the text is there, in black
    }
    for (const char* label : {"Sample rate", "Frequency Hz", "Path\\filename", "16", "24", "32"}) {
        HWND c = FindStatic(d.hwnd, label);
        CHECK(c != nullptr);
        const RECT r = ChildRect(d.hwnd, c);
        CHECK_COLOR(g.At(r.right - 2, r.top + 1), DIALOG_COLOR);
    }
    const RECT group = ChildRect(d.hwnd, FindStatic(d.hwnd, "Bit width"));
    CHECK_COLOR(g.At(group.left + 6, group.bottom - 5), DIALOG_COLOR);

    // The progress bar: the filled part in the face colour, the rest in the
    // field colour.
    const RECT bar = ChildRect(d.hwnd, d.Item(IDC_PROGRESS));
    const int barY = (bar.top + bar.bottom) / 2;
    const int quarter = bar.left + (bar.right - bar.left) / 4;
    const int threeQuarters = bar.left + (bar.right - bar.left) * 3 / 4;
    CHECK_COLOR(g.At(quarter, barY), FIELD_COLOR);
    SendMessageA(d.Item(IDC_PROGRESS), PBM_SETPOS, 5, 0);
    g = GrabClient(d.hwnd);
    CHECK_COLOR(g.At(quarter, barY), FACE_COLOR);
    CHECK_COLOR(g.At(threeQuarters, barY), FIELD_COLOR);
    SendMessageA(d.Item(IDC_PROGRESS), PBM_SETPOS, 0, 0);

    // "Quit" at rest: light lines along the top and the left edge, the face
    // inside the edge, the text centred.
    HWND quit = d.Item(IDCANCEL);
    const RECT q = ChildRect(d.hwnd, quit);
    const int w = q.right - q.left, h = q.bottom - q.top;
    g = GrabClient(d.hwnd);
    CHECK_COLOR(g.At(q.left + w / 2, q.top), FIELD_COLOR);
    CHECK_COLOR(g.At(q.left, q.top + h / 2), FIELD_COLOR);
    CHECK(g.At(q.left + w / 2, q.bottom - 1) != FIELD_COLOR);
    CHECK_COLOR(g.At(q.left + 2, q.top + 2), FACE_COLOR);
    CHECK_COLOR(g.At(q.right - 3, q.bottom - 3), FACE_COLOR);
    const Box rest = DarkBox(g, q, 3);
    CHECK(!rest.empty());
    if (!rest.empty()) {
        const int centre = w / 2, textCentre = (rest.left + rest.right + 1) / 2;
        std::printf("Quit: %d x %d px, text ink from x %d to %d\n", w, h, rest.left, rest.right);
        CHECK(std::abs(textCentre - centre) <= 2);
    }
    const Box restFace = {2, 2, w - 3, h - 3};
    CHECK(restFace.right > rest.right);

    // Pressed: the lines move to the bottom and the right edge, and the text
    // one pixel right and down.
    SendMessageA(quit, BM_SETSTATE, TRUE, 0);
    g = GrabClient(d.hwnd);
    CHECK_COLOR(g.At(q.left + w / 2, q.bottom - 1), FIELD_COLOR);
    CHECK_COLOR(g.At(q.right - 1, q.top + h / 2), FIELD_COLOR);
    CHECK(g.At(q.left + w / 2, q.top) != FIELD_COLOR);
    const Box pressed = DarkBox(g, q, 3);
    CHECK_EQ(pressed.left, rest.left + 1);
    CHECK_EQ(pressed.top, rest.top + 1);
    CHECK_EQ(pressed.right, rest.right + 1);
    CHECK_EQ(pressed.bottom, rest.bottom + 1);
    SendMessageA(quit, BM_SETSTATE, FALSE, 0);

    // Disabled: no black text; embossed in the system's shadow colour at
    // the place of the text at rest.
    EnableWindow(quit, FALSE);
    g = GrabClient(d.hwnd);
    CHECK(DarkBox(g, q, 3).empty());
    const Box shadow = ColorBox(g, q, GetSysColor(COLOR_BTNSHADOW));
    CHECK_EQ(shadow.left, rest.left);
    CHECK_EQ(shadow.top, rest.top);
    CHECK(!ColorBox(g, q, GetSysColor(COLOR_BTNHIGHLIGHT)).empty());
    EnableWindow(quit, TRUE);

    // The focus rectangle on "Create file", two edges inside the button.
    const RECT c = ChildRect(d.hwnd, d.Item(IDOK));
    g = GrabClient(d.hwnd);
    int dotted = 0;
    for (int x = 4; x < 12; ++x)
        dotted += g.At(c.left + x, c.top + 4) != FACE_COLOR;
    CHECK(dotted > 0);
    int clear = 0;
    for (int x = 4; x < 12; ++x)
        clear += g.At(q.left + x, q.top + 4) == FACE_COLOR;
    CHECK_EQ(clear, 8);
}

// ---- labels: every static text of both dialogs shows whole, on one line,
// in the font the dialog gave it (a wrapped label loses its second line to
// the control's height), inside the dialog.

void TestLabels()
{
    Dialog main;
    CAboutDlg about;
    CHECK(about.Create(&main.dlg));
    const struct {
        const char* name;
        HWND dialog;
        int labels;
    } dialogs[] = {{"main", main.hwnd, 5}, {"About", about.m_hWnd, 3}};
    for (const auto& d : dialogs) {
        RECT inside;
        GetClientRect(d.dialog, &inside);
        int labels = 0;
        for (HWND c = GetWindow(d.dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            char cls[16] = "";
            GetClassNameA(c, cls, sizeof cls);
            if (_stricmp(cls, "Static") != 0 || (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                continue;
            ++labels;
            const std::string text = WindowText(c);
            RECT client;
            GetClientRect(c, &client);
            SIZE extent{};
            HDC dc = GetDC(c);
            HGDIOBJ old = SelectObject(dc, HGDIOBJ(SendMessageA(c, WM_GETFONT, 0, 0)));
            GetTextExtentPoint32A(dc, text.c_str(), int(text.size()), &extent);
            SelectObject(dc, old);
            ReleaseDC(c, dc);
            const RECT at = ChildRect(d.dialog, c);
            std::printf("  %s: \"%s\" %ld x %ld px in %ld x %ld\n", d.name, text.c_str(), extent.cx,
                        extent.cy, client.right, client.bottom);
            ++checks;
            if (extent.cx > client.right || extent.cy > client.bottom || at.left < 0 ||
                at.right > inside.right)
                Fail(__FILE__, __LINE__, "label \"" + text + "\" is cut or outside the dialog");
        }
        CHECK_EQ(labels, d.labels);
    }
    DestroyWindow(about.m_hWnd);
}
