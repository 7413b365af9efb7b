// Drives Calyx's real main dialog under Wine: the templates, a fresh dialog,
// its colours read back from the screen, jobs against files made without the
// dialog, every refusal, Quit during a job, the system menu and clean-up.
//
// dialog_test WORKDIR [REFDIR]: WORKDIR takes the files; REFDIR, when given,
// holds cli16.wav, cli24.wav and cli32.wav made by calyx-cli from the same
// requests as the jobs below.

#include <windows.h>
#include <commctrl.h>
#include <direct.h>
#include <float.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "harness.h"
#include "job/generation_worker.h"
#include "resource.h"
#include "ui/about_dlg.h"
#include "ui/calyx_dlg.h"
#include "ui/colors.h"

using namespace harness;

namespace {

#define CHECK_COLOR(actual, expected) CHECK_EQ(ColorText(actual), ColorText(expected))

std::string workDir;
std::string refDir;

std::string WorkPath(const std::string& name) { return workDir + "\\" + name; }

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint32_t U32(const std::string& bytes, size_t at)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v |= uint32_t(uint8_t(bytes[at + i])) << (8 * i);
    return v;
}

// ---- the brushes: every DeleteObject of the program goes through the
// import slot, so the test counts the handles passed to it.

#ifdef _WIN64
extern "C" void* importDeleteObject __asm__("__imp_DeleteObject");
#else
extern "C" void* importDeleteObject __asm__("__imp__DeleteObject@4");
#endif
using DeleteObjectFn = BOOL(WINAPI*)(HGDIOBJ);
DeleteObjectFn realDeleteObject = nullptr;
std::vector<HGDIOBJ> deleted;

BOOL WINAPI CountingDeleteObject(HGDIOBJ object)
{
    deleted.push_back(object);
    return realDeleteObject(object);
}

void HookDeleteObject()
{
    DWORD old;
    VirtualProtect(&importDeleteObject, sizeof(void*), PAGE_READWRITE, &old);
    realDeleteObject = reinterpret_cast<DeleteObjectFn>(importDeleteObject);
    importDeleteObject = reinterpret_cast<void*>(&CountingDeleteObject);
    VirtualProtect(&importDeleteObject, sizeof(void*), old, &old);
}

// ---- the dialog under test: the real class, opened modeless.

struct Dialog {
    CCalyxDlg dlg;
    HWND hwnd = nullptr;
    Dialog()
    {
        dlg.Create();
        hwnd = dlg.m_hWnd;
        Pump(hwnd, 30);
    }
    ~Dialog()
    {
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
        Pump(nullptr, 10);
    }
    HWND Item(int id) const { return GetDlgItem(hwnd, id); }
    std::string Text(int id) const { return WindowText(Item(id)); }
    void SetText(int id, const std::string& text) const { SetDlgItemTextA(hwnd, id, text.c_str()); }
    uint32_t ProgressPos() const { return uint32_t(SendMessageA(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0)); }
    uint32_t ProgressHigh() const
    {
        return uint32_t(SendMessageA(Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0));
    }
    int ProgressLow() const { return int(SendMessageA(Item(IDC_PROGRESS), PBM_GETRANGE, TRUE, 0)); }
    void Click(int id) const { SendMessageA(Item(id), BM_CLICK, 0, 0); }
    bool CreateEnabled() const { return IsWindowEnabled(Item(IDOK)) != FALSE; }
    // Waits for the running job's end, as the user would: serving messages.
    bool WaitForJob(DWORD ms) const
    {
        return PumpUntil(
            hwnd, [&] { return CreateEnabled() && !dlg.bBusy; }, ms);
    }
};

HWND FindStatic(HWND dialog, const char* text)
{
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (WindowText(c) == text) return c;
    return nullptr;
}

// ---- the templates, against the tables of the design

struct ItemRow {
    uint32_t id;
    const char* cls;  // "#128" is an ordinal
    const char* text;
    uint32_t style;
    int x, y, w, h;
};

struct TemplateTable {
    int id;
    uint32_t style;
    uint32_t exStyle;
    int w, h;
    const char* caption;
    std::vector<ItemRow> items;
};

const TemplateTable MAIN_TEMPLATE = {102,
                                     0x90C800C8,
                                     0x00040000,
                                     201,
                                     182,
                                     "Calyx",
                                     {
                                         {1, "#128", "Create file", 0x50010001, 46, 126, 50, 14},
                                         {2, "#128", "Quit", 0x50010000, 101, 126, 50, 14},
                                         {0xFFFFFFFF, "#130", "Sample rate", 0x50020000, 19, 12, 52, 8},
                                         {0xFFFFFFFF, "#130", "Attenuation dB", 0x50020000, 135, 12, 55, 8},
                                         {0xFFFFFFFF, "#130", "Frequency Hz", 0x50020000, 16, 48, 51, 8},
                                         {0xFFFFFFFF, "#130", "Duration seconds", 0x50020000, 131, 48, 62, 8},
                                         {0xFFFFFFFF, "#130", "Path\\filename", 0x50020000, 77, 85, 51, 8},
                                         {1000, "#129", "", 0x50812080, 18, 24, 40, 14},
                                         {1001, "#129", "", 0x50810080, 18, 60, 40, 14},
                                         {1002, "#129", "", 0x50812080, 139, 24, 40, 14},
                                         {1003, "#129", "", 0x50812080, 139, 60, 40, 14},
                                         {1004, "#129", "", 0x50810080, 18, 97, 162, 14},
                                         {1005, "msctls_progress32", "", 0x50800001, 18, 153, 162, 14},
                                         {0xFFFFFFFF, "#128", "Bit width", 0x50000007, 75, 12, 48, 63},
                                         {1007, "#128", "16", 0x50000009, 89, 24, 24, 10},
                                         {1008, "#128", "24", 0x50000009, 89, 42, 24, 10},
                                         {1009, "#128", "32", 0x50000009, 89, 60, 24, 10},
                                     }};

const TemplateTable ABOUT_TEMPLATE = {
    100,
    0x80C800C8,
    0,
    170,
    62,
    "About Calyx",
    {
        {0xFFFFFFFF, "#130", "#128", 0x50000003, 14, 14, 20, 20},
        {0xFFFFFFFF, "#130", "Calyx, Version 1.05", 0x50020080, 42, 14, 114, 8},
        {0xFFFFFFFF, "#130", nullptr, 0x50020000, 42, 26, 114, 8},
        {1, "#128", "OK", 0x50030001, 113, 41, 50, 14},
        {0xFFFFFFFF, "#130", nullptr, 0x50020000, 11, 43, 99, 8},
    }};

struct Reader {
    const uint8_t* p;
    uint16_t Word()
    {
        uint16_t v;
        std::memcpy(&v, p, 2);
        p += 2;
        return v;
    }
    uint32_t Dword()
    {
        uint32_t v;
        std::memcpy(&v, p, 4);
        p += 4;
        return v;
    }
    int16_t Short() { return int16_t(Word()); }
    std::string SzOrOrd()
    {
        const uint16_t first = Word();
        if (first == 0x0000) return "";
        if (first == 0xFFFF) return "#" + std::to_string(Word());
        std::string s(1, char(first));
        for (uint16_t c; (c = Word()) != 0;)
            s += char(c);
        return s;
    }
    void AlignDword(const uint8_t* base) { p += (4 - (p - base) % 4) % 4; }
};

void TestTemplate(const TemplateTable& table)
{
    HRSRC res = FindResourceExA(nullptr, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(table.id),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    CHECK(res != nullptr);
    if (!res) return;
    const auto* base = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, res)));
    Reader r{base};
    CHECK_EQ(r.Word(), 1);       // DLGTEMPLATEEX version
    CHECK_EQ(r.Word(), 0xFFFF);  // signature
    CHECK_EQ(r.Dword(), 0u);     // help id
    CHECK_EQ(r.Dword(), table.exStyle);
    CHECK_EQ(r.Dword(), table.style);
    const uint16_t count = r.Word();
    CHECK_EQ(size_t(count), table.items.size());
    CHECK_EQ(r.Short(), 0);
    CHECK_EQ(r.Short(), 0);
    CHECK_EQ(r.Short(), table.w);
    CHECK_EQ(r.Short(), table.h);
    CHECK_EQ(r.SzOrOrd(), "");  // no menu
    CHECK_EQ(r.SzOrOrd(), "");  // default dialog class
    CHECK_EQ(r.SzOrOrd(), table.caption);
    CHECK_EQ(r.Word(), 8);     // points
    CHECK_EQ(r.Word(), 0);     // weight
    CHECK_EQ(int(*r.p++), 0);  // not italic
    CHECK_EQ(int(*r.p++), 1);  // DEFAULT_CHARSET
    CHECK_EQ(r.SzOrOrd(), "MS Shell Dlg");
    for (size_t i = 0; i < count && i < table.items.size(); ++i) {
        const ItemRow& e = table.items[i];
        r.AlignDword(base);
        CHECK_EQ(r.Dword(), 0u);  // help id
        CHECK_EQ(r.Dword(), 0u);  // extended style
        CHECK_EQ(r.Dword(), e.style);
        CHECK_EQ(r.Short(), e.x);
        CHECK_EQ(r.Short(), e.y);
        CHECK_EQ(r.Short(), e.w);
        CHECK_EQ(r.Short(), e.h);
        CHECK_EQ(r.Dword(), e.id);
        CHECK_EQ(r.SzOrOrd(), e.cls);
        const std::string text = r.SzOrOrd();
        if (e.text)
            CHECK_EQ(text, e.text);
        else
            CHECK(!text.empty());
        CHECK_EQ(r.Word(), 0);  // no creation data
    }
}

void TestResources()
{
    TestTemplate(MAIN_TEMPLATE);
    TestTemplate(ABOUT_TEMPLATE);

    char about[64] = "";
    LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, about, sizeof about);
    CHECK_EQ(std::string(about), "&About Calyx...");

    // Icon group 128: 32x32 and 16x16, 16 colours, as icon images of the
    // sizes a 4-bit image with its mask has.
    HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_MAINFRAME), MAKEINTRESOURCEA(14));
    CHECK(group != nullptr);
    if (group) {
        Reader r{static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, group)))};
        CHECK_EQ(r.Word(), 0);
        CHECK_EQ(r.Word(), 1);
        CHECK_EQ(r.Word(), 2);
        const int sizes[] = {32, 16};
        const uint32_t bytes[] = {40 + 64 + 32 * 16 + 32 * 4, 40 + 64 + 16 * 8 + 16 * 4};
        for (int i = 0; i < 2; ++i) {
            CHECK_EQ(int(*r.p++), sizes[i]);
            CHECK_EQ(int(*r.p++), sizes[i]);
            CHECK_EQ(int(*r.p++), 16);
            r.p++;
            CHECK_EQ(r.Word(), 1);  // planes
            CHECK_EQ(r.Word(), 4);  // bits per pixel
            CHECK_EQ(r.Dword(), bytes[i]);
            r.Word();  // image id
        }
    }

    // The manifest names no assembly the program depends on.
    HRSRC manifest = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    CHECK(manifest != nullptr);
    if (manifest) {
        const std::string text(static_cast<const char*>(LockResource(LoadResource(nullptr, manifest))),
                               SizeofResource(nullptr, manifest));
        CHECK(text.find("dependentAssembly") == std::string::npos);
        CHECK(text.find("Common-Controls") == std::string::npos);
    }

    // The version record's fixed part and its description.
    HRSRC version = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
    CHECK(version != nullptr);
    if (version) {
        const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, version)));
        const std::string raw(reinterpret_cast<const char*>(data), SizeofResource(nullptr, version));
        const uint32_t signature = 0xFEEF04BD;
        const size_t at = raw.find(std::string(reinterpret_cast<const char*>(&signature), 4));
        CHECK(at != std::string::npos);
        if (at != std::string::npos) {
            CHECK_EQ(U32(raw, at + 8), 0x00010000u);   // file version 1.0
            CHECK_EQ(U32(raw, at + 12), 0x00000001u);  // .0.1
            CHECK_EQ(U32(raw, at + 16), 0x00010000u);  // product version
            CHECK_EQ(U32(raw, at + 20), 0x00000001u);
            CHECK_EQ(U32(raw, at + 24), 0x3Fu);
            CHECK_EQ(U32(raw, at + 28), 0u);
            CHECK_EQ(U32(raw, at + 32), 4u);  // VOS__WINDOWS32
            CHECK_EQ(U32(raw, at + 36), 1u);  // VFT_APP
        }
        std::wstring wide;
        for (size_t i = 0; i + 1 < raw.size(); i += 2)
            wide += wchar_t(uint8_t(raw[i]) | uint8_t(raw[i + 1]) << 8);
        const std::wstring description = L"FileDescription";
        const size_t d = wide.find(description);
        CHECK(d != std::wstring::npos);
        // The value follows its key after the padding to a 32-bit boundary.
        const size_t value = wide.find(L"Calyx MFC Application", d);
        CHECK(d != std::wstring::npos && value != std::wstring::npos && value - d <= description.size() + 2);
        CHECK(wide.find(L"040904e4") != std::wstring::npos);
    }
}

// ---- the fields read numbers with the request's one grammar (the same as
// calyx-cli's); a text that does not convert is reported and changes nothing.

void TestFieldGrammar()
{
    const struct {
        int field;
        const char* text;
        bool converts;
        double value;
    } cases[] = {
        {IDC_FREQUENCY, " 997.5 ", true, 997.5},
        {IDC_FREQUENCY, "1e3", true, 1000.0},
        {IDC_FREQUENCY, "0x10", false, 0},
        {IDC_FREQUENCY, "inf", false, 0},
        {IDC_FREQUENCY, "", false, 0},
        {IDC_ATTENUATION, "+5", true, 5},
        {IDC_ATTENUATION, "-5", false, 0},
        {IDC_ATTENUATION, "4294967295", true, 4294967295.0},
        {IDC_SAMPLE_RATE, "044100", true, 44100},
        {IDC_SAMPLE_RATE, "2147483648", false, 0},
        {IDC_DURATION, "1.5", false, 0},
    };
    for (const auto& c : cases) {
        Dialog d;
        const auto member = [&]() -> double {
            switch (c.field) {
                case IDC_FREQUENCY:
                    return d.dlg.Frequency;
                case IDC_ATTENUATION:
                    return d.dlg.nAttenuation;
                case IDC_SAMPLE_RATE:
                    return d.dlg.nSampleRate;
                default:
                    return d.dlg.nSeconds;
            }
        };
        const double before = member();
        d.SetText(c.field, c.text);
        ModalWatcher boxes(d.hwnd);
        const bool converted = d.dlg.UpdateData(true);
        Pump(d.hwnd, 20);
        CHECK_EQ(converted, c.converts);
        CHECK_EQ(boxes.seen.size(), size_t(c.converts ? 0 : 1));
        CHECK(member() == (c.converts ? c.value : before));
    }
}

// ---- a fresh dialog

void TestFreshDialog()
{
    char cwd[MAX_PATH];
    _getcwd(cwd, sizeof cwd);
    Dialog d;
    CHECK(IsWindowVisible(d.hwnd));
    CHECK_EQ(d.Text(IDC_SAMPLE_RATE), "384000");
    CHECK_EQ(d.Text(IDC_FREQUENCY), "1000");
    CHECK_EQ(d.Text(IDC_ATTENUATION), "0");
    CHECK_EQ(d.Text(IDC_DURATION), "30");
    std::string expected = std::string(cwd) + "\\Test.wav";
    expected[0] = char(toupper(expected[0]));
    CHECK_EQ(d.Text(IDC_PATH), expected);
    CHECK_EQ(IsDlgButtonChecked(d.hwnd, IDC_BITS16), 0u);
    CHECK_EQ(IsDlgButtonChecked(d.hwnd, IDC_BITS24), 0u);
    CHECK_EQ(IsDlgButtonChecked(d.hwnd, IDC_BITS32), 1u);
    CHECK_EQ(d.dlg.nBitWidth, 32);
    CHECK_EQ(d.ProgressLow(), 0);
    CHECK_EQ(d.ProgressHigh(), 10u);
    CHECK_EQ(d.ProgressPos(), 0u);
    CHECK(GetFocus() == d.Item(IDOK));
    CHECK(!d.dlg.bBusy);
    CHECK(d.dlg.hThread == nullptr);

    // Both push buttons became owner-drawn when they were attached.
    CHECK_EQ(GetWindowLongA(d.Item(IDOK), GWL_STYLE) & 0xF, BS_OWNERDRAW);
    CHECK_EQ(GetWindowLongA(d.Item(IDCANCEL), GWL_STYLE) & 0xF, BS_OWNERDRAW);

    HMENU menu = GetSystemMenu(d.hwnd, FALSE);
    const int n = GetMenuItemCount(menu);
    CHECK(n >= 2);
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID;
    GetMenuItemInfoA(menu, UINT(n - 2), TRUE, &info);
    CHECK(info.fType & MFT_SEPARATOR);
    char text[64] = "";
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof text;
    GetMenuItemInfoA(menu, UINT(n - 1), TRUE, &info);
    CHECK_EQ(info.wID, UINT(IDM_ABOUTBOX));
    CHECK_EQ(std::string(text), "&About Calyx...");

    // One icon for both sizes and for dragging.
    CHECK(d.dlg.hIcon != nullptr);
    CHECK(HICON(SendMessageA(d.hwnd, WM_GETICON, ICON_BIG, 0)) == d.dlg.hIcon);
    CHECK(HICON(SendMessageA(d.hwnd, WM_GETICON, ICON_SMALL, 0)) == d.dlg.hIcon);
    CHECK(HICON(SendMessageA(d.hwnd, WM_QUERYDRAGICON, 0, 0)) == d.dlg.hIcon);

    RECT client;
    GetClientRect(d.hwnd, &client);
    RECT dlu = {0, 0, 201, 182};
    MapDialogRect(d.hwnd, &dlu);
    std::printf("dialog 201 x 182 DLU = %ld x %ld px client (base units %ld x %ld)\n", client.right,
                client.bottom, dlu.right * 4 / 201, dlu.bottom * 8 / 182);
    CHECK_EQ(client.right, dlu.right);
    CHECK_EQ(client.bottom, dlu.bottom);
}

// ---- colours on screen

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

// ---- jobs

// Records what a job tells its host, for the reference files.
struct RecordingHost final : JobHost {
    uint32_t upper = 0, pos = 0;
    int ended = 0;
    void SetProgressRange(uint32_t u) override { upper = u; }
    void SetProgressPos(uint32_t p) override { pos = p; }
    void ShowMessage(const char*, const char*) override {}
    void JobEnded() override { ++ended; }
};

struct JobCase {
    int bits;
    int radio;
    const char* rate;
    const char* frequency;
    const char* attenuation;
    const char* seconds;
};

const JobCase JOBS[] = {
    {16, IDC_BITS16, "8000", "440", "3", "1"},
    {24, IDC_BITS24, "11025", "1234.5", "20", "1"},
    {32, IDC_BITS32, "48000", "1000", "0", "1"},
};

void TestJobs()
{
    Dialog d;
    for (const JobCase& job : JOBS) {
        const std::string path = WorkPath("dlg" + std::to_string(job.bits) + ".wav");
        DeleteFileA(path.c_str());
        d.SetText(IDC_SAMPLE_RATE, job.rate);
        d.SetText(IDC_FREQUENCY, job.frequency);
        d.SetText(IDC_ATTENUATION, job.attenuation);
        d.SetText(IDC_DURATION, job.seconds);
        d.SetText(IDC_PATH, path);
        d.Click(job.radio);
        CHECK_EQ(d.dlg.nBitWidth, job.bits);
        ModalWatcher boxes(d.hwnd);
        HANDLE previous = d.dlg.hThread;
        d.Click(IDOK);
        CHECK(!d.CreateEnabled());
        CHECK(d.dlg.bBusy);
        CHECK(d.dlg.hThread != nullptr);
        // The finished job's thread handle was let go (its value may have
        // been given to the new thread: it cannot be while still open).
        DWORD flags = 0;
        if (previous) CHECK(d.dlg.hThread == previous || !GetHandleInformation(previous, &flags));
        CHECK(d.WaitForJob(20000));
        CHECK(boxes.seen.empty());

        ToneRequest request;
        request.sampleRate = std::atoi(job.rate);
        request.frequency = std::atof(job.frequency);
        request.attenuation = uint32_t(std::atoi(job.attenuation));
        request.seconds = std::atoi(job.seconds);
        request.bitWidth = job.bits;
        const uint32_t blocks = RequestBlocks(request);
        CHECK_EQ(d.ProgressLow(), 0);
        CHECK_EQ(d.ProgressHigh(), blocks + 1);
        CHECK_EQ(d.ProgressPos(), blocks + 1);

        // The same request without the dialog: the file must be the same.
        const std::string direct = WorkPath("direct" + std::to_string(job.bits) + ".wav");
        request.path = direct;
        Stop stop;
        RecordingHost host;
        JobGenerate(request, stop, host);
        const std::string made = ReadFile(path);
        CHECK(made.size() > 140);
        CHECK(made == ReadFile(direct));
        CHECK_EQ(made.size(), size_t(140) + blocks * 512u * 2u * uint32_t(job.bits / 8));
        if (!refDir.empty()) {
            const std::string cli = ReadFile(refDir + "\\cli" + std::to_string(job.bits) + ".wav");
            CHECK(cli.size() > 140);
            CHECK(made == cli);
        }
    }
}

// ---- progress: a position reaches the bar only when it changes the
// filled length, so a long job sends at most one per pixel, not one per block.

WNDPROC progressProc = nullptr;
uint32_t progressPositions = 0;

LRESULT CALLBACK CountingProgressProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == PBM_SETPOS) ++progressPositions;
    return CallWindowProcA(progressProc, hwnd, msg, wp, lp);
}

void TestProgressMessages()
{
    Dialog d;
    const HWND bar = d.Item(IDC_PROGRESS);
    RECT area{};
    GetClientRect(bar, &area);
    progressPositions = 0;
    progressProc = WNDPROC(SetWindowLongPtrA(bar, GWLP_WNDPROC, LONG_PTR(CountingProgressProc)));
    d.SetText(IDC_DURATION, "4");  // 3000 blocks at 384000 Hz
    d.SetText(IDC_PATH, WorkPath("progress.wav"));
    d.Click(IDOK);
    CHECK(d.WaitForJob(20000));
    SetWindowLongPtrA(bar, GWLP_WNDPROC, LONG_PTR(progressProc));
    CHECK(progressPositions >= 2);
    CHECK(progressPositions <= uint32_t(area.right - area.left) + 2);
    CHECK_EQ(d.ProgressPos(), 3001u);
    std::printf("progress: %u positions for 3000 blocks on a bar of %ld px\n", progressPositions,
                long(area.right - area.left));
}

// ---- refusals

struct Refusal {
    const char* name;
    bool badPath;
    int radio;
    const char* rate;
    const char* frequency;
    const char* attenuation;
    const char* seconds;
    const char* message;
    const char* caption;
};

constexpr const char* PATH_MESSAGE =
    "Something wrong with the path or filename, or maybe you don't have permission to put it there.";
constexpr const char* ZERO_MESSAGE = "nSeconds = 0 or nSampleRate = 0 or Frequency = 0";
constexpr const char* NYQUIST_MESSAGE = "The frequency you requested is greater than the Nyquist rate!";

const Refusal REFUSALS[] = {
    {"missing directory", true, IDC_BITS32, "384000", "1000", "0", "1", PATH_MESSAGE,
     "Can't create that file..."},
    {"path before numbers", true, IDC_BITS16, "0", "1000", "100", "1", PATH_MESSAGE,
     "Can't create that file..."},
    {"16 bits, 91 dB", false, IDC_BITS16, "8000", "1000", "91", "1",
     "At bit width of 16 maximum attenuation is 90 dB", "Invalid parameter..."},
    {"attenuation before zero", false, IDC_BITS16, "0", "1000", "100", "1",
     "At bit width of 16 maximum attenuation is 90 dB", "Invalid parameter..."},
    {"24 bits, 139 dB", false, IDC_BITS24, "8000", "1000", "139", "1",
     "At bit width of 24 maximum attenuation is 138 dB", "Invalid parameter..."},
    {"32 bits, 187 dB", false, IDC_BITS32, "8000", "1000", "187", "1",
     "At bit width of 32 maximum attenuation is 186 dB", "Invalid parameter..."},
    {"no seconds", false, IDC_BITS32, "8000", "1000", "0", "0", ZERO_MESSAGE, "Invalid parameter..."},
    {"no sample rate", false, IDC_BITS32, "0", "1000", "0", "1", ZERO_MESSAGE, "Invalid parameter..."},
    {"frequency 0.9", false, IDC_BITS32, "8000", "0.9", "0", "1", ZERO_MESSAGE, "Invalid parameter..."},
    {"frequency -0.9", false, IDC_BITS32, "8000", "-0.9", "0", "1", ZERO_MESSAGE, "Invalid parameter..."},
    {"192000.5 at 384000", false, IDC_BITS32, "384000", "192000.5", "0", "1", NYQUIST_MESSAGE,
     "Invalid parameter..."},
    {"1e12", false, IDC_BITS32, "384000", "1e12", "0", "1", NYQUIST_MESSAGE, "Invalid parameter..."},
    {"22051 at 44101", false, IDC_BITS32, "44101", "22051", "0", "1", NYQUIST_MESSAGE,
     "Invalid parameter..."},
};

void TestRefusals()
{
    Dialog d;
    // A file already at the path stays as it was when a check fails.
    const std::string existing = WorkPath("refused.wav");
    {
        std::ofstream(existing, std::ios::binary) << "keep me";
    }
    for (const Refusal& c : REFUSALS) {
        d.SetText(IDC_SAMPLE_RATE, c.rate);
        d.SetText(IDC_FREQUENCY, c.frequency);
        d.SetText(IDC_ATTENUATION, c.attenuation);
        d.SetText(IDC_DURATION, c.seconds);
        d.SetText(IDC_PATH, c.badPath ? WorkPath("no such folder\\x.wav") : existing);
        d.Click(c.radio);
        ModalWatcher boxes(d.hwnd);
        d.Click(IDOK);
        std::printf("  refusal: %s\n", c.name);
        CHECK_EQ(boxes.seen.size(), size_t(1));
        if (boxes.seen.size() == 1) {
            const ModalWindow& m = boxes.seen[0];
            CHECK_EQ(m.Text(), c.message);
            CHECK_EQ(m.caption, c.caption);
            CHECK(m.owner == d.hwnd);
            CHECK(!m.ownerEnabled);
            CHECK(m.buttons == std::vector<std::string>{"OK"});
            CHECK(!m.icon);
        }
        CHECK(!d.dlg.bBusy);
        CHECK(d.CreateEnabled());
        CHECK(d.dlg.hThread == nullptr);
        CHECK_EQ(ReadFile(existing), "keep me");
        CHECK(!FileExists(WorkPath("no such folder")));
    }

    // A path longer than the request holds is refused, not cut short.
    {
        d.SetText(IDC_SAMPLE_RATE, "8000");
        d.SetText(IDC_FREQUENCY, "1000");
        d.SetText(IDC_ATTENUATION, "0");
        d.SetText(IDC_DURATION, "1");
        const std::string longName = WorkPath(std::string(300 - workDir.size(), 'n') + ".wav");
        d.SetText(IDC_PATH, longName);
        ModalWatcher boxes(d.hwnd);
        d.Click(IDOK);
        CHECK_EQ(boxes.seen.size(), size_t(1));
        if (!boxes.seen.empty()) CHECK_EQ(boxes.seen[0].Text(), PATH_MESSAGE);
        CHECK(!d.dlg.bBusy);
        CHECK(d.CreateEnabled());
    }

    // Letters in the frequency: the framework's report, then the checks with
    // the new sample rate and the old frequency, attenuation and duration.
    d.SetText(IDC_SAMPLE_RATE, "44100");
    d.SetText(IDC_FREQUENCY, "12 Hz");
    d.SetText(IDC_ATTENUATION, "5");
    d.SetText(IDC_DURATION, "1");
    d.SetText(IDC_PATH, WorkPath("no such folder\\x.wav"));
    const double frequency = d.dlg.Frequency;
    const uint32_t attenuation = d.dlg.nAttenuation;
    const int32_t seconds = d.dlg.nSeconds;
    ModalWatcher boxes(d.hwnd);
    d.Click(IDOK);
    CHECK_EQ(boxes.seen.size(), size_t(2));
    if (boxes.seen.size() == 2) {
        CHECK_EQ(boxes.seen[0].caption, "Calyx");
        CHECK_EQ(boxes.seen[0].Text(), "Enter a number, such as 1000 or 997.5.");
        CHECK(!boxes.seen[0].icon);
        CHECK_EQ(boxes.seen[1].Text(), PATH_MESSAGE);
    }
    CHECK_EQ(d.dlg.nSampleRate, 44100);
    CHECK(d.dlg.Frequency == frequency);
    CHECK_EQ(d.dlg.nAttenuation, attenuation);
    CHECK_EQ(d.dlg.nSeconds, seconds);
    CHECK(GetFocus() == d.Item(IDC_FREQUENCY));
    CHECK(!d.dlg.bBusy);
}

// ---- Quit

bool ValidWholeBlocks(const std::string& file, uint32_t bits, uint32_t& blocks)
{
    if (file.size() < 140 || file.compare(0, 4, "RIFF") != 0) return false;
    const uint32_t data = U32(file, 136);
    const uint32_t blockBytes = 512 * 2 * bits / 8;
    blocks = data / blockBytes;
    return U32(file, 4) == file.size() - 8 && data == file.size() - 140 && data % blockBytes == 0 &&
           uint32_t(uint8_t(file[34])) == bits;
}

void TestQuitDuringJob()
{
    Dialog d;
    const std::string path = WorkPath("quit.wav");
    DeleteFileA(path.c_str());
    d.SetText(IDC_SAMPLE_RATE, "384000");
    d.SetText(IDC_DURATION, "60");
    d.SetText(IDC_PATH, path);
    d.Click(IDOK);
    CHECK(PumpUntil(
        d.hwnd, [&] { return d.ProgressPos() >= 20; }, 20000));
    HANDLE job = d.dlg.hThread;

    // While the job runs, "Create file" re-reads the fields and does nothing
    // else; a bit-width click changes the member, not the job.
    ModalWatcher boxes(d.hwnd);
    d.SetText(IDC_SAMPLE_RATE, "44100");
    SendMessageA(d.hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(d.Item(IDOK)));
    CHECK_EQ(d.dlg.nSampleRate, 44100);
    CHECK(d.dlg.hThread == job);
    CHECK(d.dlg.bBusy);
    d.Click(IDC_BITS16);
    CHECK_EQ(d.dlg.nBitWidth, 16);

    // A "Create file" that arrives while Quit waits starts nothing.
    PostMessageA(d.hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(d.Item(IDOK)));
    const DWORD start = GetTickCount();
    d.Click(IDCANCEL);
    const DWORD took = GetTickCount() - start;
    std::printf("Quit during a job returned after %lu ms\n", static_cast<unsigned long>(took));
    CHECK(took < 5000);
    CHECK_EQ(WaitForSingleObject(job, 0), WAIT_OBJECT_0);
    CHECK(d.dlg.hThread == job);
    CHECK_EQ(int(d.dlg.Result()), IDCANCEL);
    CHECK(!d.CreateEnabled());
    CHECK(!d.dlg.bBusy);
    CHECK(boxes.seen.empty());
    uint32_t blocks = 0;
    CHECK(ValidWholeBlocks(ReadFile(path), 32, blocks));
    CHECK(blocks >= 20);
    CHECK(blocks < 45000);
}

// Escape and the close box end the same way as "Quit", with no job running.
void TestCloseWays()
{
    {
        Dialog d;
        SendMessageA(d.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        CHECK(PumpUntil(
            d.hwnd, [&] { return d.dlg.Result() == IDCANCEL; }, 3000));
    }
    {
        Dialog d;
        PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
        CHECK(PumpUntil(
            d.hwnd, [&] { return d.dlg.Result() == IDCANCEL; }, 3000));
    }
    {
        // "Quit" after a finished job closes at once.
        Dialog d;
        d.SetText(IDC_SAMPLE_RATE, "8000");
        d.SetText(IDC_DURATION, "1");
        d.SetText(IDC_PATH, WorkPath("after.wav"));
        d.Click(IDOK);
        CHECK(d.WaitForJob(10000));
        d.Click(IDCANCEL);
        CHECK_EQ(int(d.dlg.Result()), IDCANCEL);
    }
}

// ---- the keyboard around a job: a disabled "Create file" with the focus
// would leave every key dead, so "Quit" holds it during the job and gives it
// back at the end; focus the user put elsewhere stays there.

// A key as the user types it: through the system's input queue to the
// focused window, and into the dialog through the pump's IsDialogMessage.
void PressKey(WORD key, bool shift = false)
{
    std::vector<INPUT> input;
    const auto add = [&](WORD k, DWORD flags) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = k;
        i.ki.dwFlags = flags;
        input.push_back(i);
    };
    if (shift) add(VK_SHIFT, 0);
    add(key, 0);
    add(key, KEYEVENTF_KEYUP);
    if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
    SendInput(UINT(input.size()), input.data(), sizeof(INPUT));
}

// Holds the dialog's job in its first write until the test releases it or
// the dialog clears busy, so that keys arrive while the job runs on any
// machine. Going out of scope, it lets the job end and waits for it.
struct HeldJob {
    CCalyxDlg& dlg;
    std::atomic<int> writes{0};
    std::atomic<bool> release{false};
    explicit HeldJob(CCalyxDlg& dialog) : dlg(dialog)
    {
        dlg.jobIo.write = [this](const void* bytes, size_t size, std::FILE* file) {
            ++writes;
            while (!release && dlg.bBusy)
                Sleep(1);
            return std::fwrite(bytes, 1, size, file);
        };
    }
    ~HeldJob()
    {
        release = true;
        PumpUntil(
            dlg.m_hWnd, [&] { return !dlg.hThread || WaitForSingleObject(dlg.hThread, 0) == WAIT_OBJECT_0; },
            10000);
    }
};

void TestKeysAroundJobs()
{
    const struct {
        const char* name;
        int enterIn;  // the control with the focus when Enter starts the job
        bool tab;     // Tab pressed while the job runs
        int during;   // the focus while the job runs
        int after;    // and once it has ended
    } cases[] = {
        {"Enter on Create file", IDOK, false, IDCANCEL, IDOK},
        {"Enter in the duration field", IDC_DURATION, false, IDC_DURATION, IDC_DURATION},
        {"Tab during the job", IDOK, true, IDC_SAMPLE_RATE, IDC_SAMPLE_RATE},
    };
    for (const auto& c : cases) {
        std::printf("  keys: %s\n", c.name);
        Dialog d;
        HeldJob hold(d.dlg);
        d.SetText(IDC_SAMPLE_RATE, "8000");
        d.SetText(IDC_DURATION, "1");
        d.SetText(IDC_PATH, WorkPath("keys1.wav"));
        SendMessageA(d.hwnd, WM_NEXTDLGCTL, WPARAM(d.Item(c.enterIn)), TRUE);
        PressKey(VK_RETURN);
        CHECK(PumpUntil(
            d.hwnd, [&] { return hold.writes > 0; }, 5000));
        if (c.tab) PressKey(VK_TAB);
        CHECK(PumpUntil(
            d.hwnd, [&] { return GetFocus() == d.Item(c.during); }, 2000));
        CHECK(!d.CreateEnabled());
        hold.release = true;
        CHECK(d.WaitForJob(10000));
        CHECK(GetFocus() == d.Item(c.after));

        // The keyboard works after the job: Tab away and back, then Enter
        // starts another.
        PressKey(VK_TAB);
        CHECK(PumpUntil(
            d.hwnd, [&] { return GetFocus() != d.Item(c.after); }, 2000));
        PressKey(VK_TAB, true);
        CHECK(PumpUntil(
            d.hwnd, [&] { return GetFocus() == d.Item(c.after); }, 2000));
        const std::string again = WorkPath("keys2.wav");
        DeleteFileA(again.c_str());
        d.SetText(IDC_PATH, again);
        const int written = hold.writes;
        PressKey(VK_RETURN);
        CHECK(PumpUntil(
            d.hwnd, [&] { return hold.writes > written; }, 5000));
        CHECK(d.WaitForJob(10000));
        uint32_t blocks = 0;
        CHECK(ValidWholeBlocks(ReadFile(again), 32, blocks));
        CHECK_EQ(blocks, 16u);
    }

    // A dialog left for another window during its job stays behind it when
    // the job ends; back in front, it has its keyboard: Escape closes it.
    {
        Dialog d;
        HeldJob hold(d.dlg);
        d.SetText(IDC_SAMPLE_RATE, "8000");
        d.SetText(IDC_DURATION, "1");
        d.SetText(IDC_PATH, WorkPath("keys1.wav"));
        PressKey(VK_RETURN);
        CHECK(PumpUntil(
            d.hwnd, [&] { return hold.writes > 0; }, 5000));
        Dialog other;
        CHECK(GetActiveWindow() == other.hwnd);
        hold.release = true;
        CHECK(d.WaitForJob(10000));
        CHECK(GetActiveWindow() == other.hwnd);
        SetActiveWindow(d.hwnd);
        PressKey(VK_ESCAPE);
        CHECK(PumpUntil(
            d.hwnd, [&] { return d.dlg.Result() == IDCANCEL; }, 5000));
    }

    // Started with Enter, stopped with Escape: the dialog closes and the
    // file holds the blocks made so far, finished.
    Dialog d;
    HeldJob hold(d.dlg);
    const std::string path = WorkPath("escape.wav");
    DeleteFileA(path.c_str());
    d.SetText(IDC_SAMPLE_RATE, "8000");
    d.SetText(IDC_DURATION, "60");  // 938 blocks; held in the first run of 64
    d.SetText(IDC_PATH, path);
    PressKey(VK_RETURN);
    CHECK(PumpUntil(
        d.hwnd, [&] { return hold.writes > 0; }, 5000));
    CHECK(GetFocus() == d.Item(IDCANCEL));
    PressKey(VK_ESCAPE);
    CHECK(PumpUntil(
        d.hwnd, [&] { return d.dlg.Result() == IDCANCEL; }, 5000));
    CHECK(!d.dlg.bBusy);
    CHECK_EQ(WaitForSingleObject(d.dlg.hThread, 0), WAIT_OBJECT_0);
    uint32_t blocks = 0;
    CHECK(ValidWholeBlocks(ReadFile(path), 32, blocks));
    CHECK(blocks >= 64);
    CHECK(blocks < 938);
}

// ---- system menu, icon, clean-up

void TestSystemCommands()
{
    Dialog d;
    for (UINT id = 15; id <= 32; ++id) {
        ModalWatcher boxes(d.hwnd);
        SendMessageA(d.hwnd, WM_SYSCOMMAND, id, 0);
        const bool about = id >= 16 && id <= 31;
        CHECK_EQ(boxes.seen.size(), size_t(about ? 1 : 0));
        if (boxes.seen.size() != 1) continue;
        const ModalWindow& m = boxes.seen[0];
        CHECK_EQ(m.caption, "About Calyx");
        CHECK(m.owner == d.hwnd);
        CHECK(!m.ownerEnabled);
        CHECK(m.icon);
        CHECK(!m.texts.empty() && m.texts[0] == "Calyx, Version 1.05");
        CHECK(m.buttons == std::vector<std::string>{"OK"});
    }
    CHECK(IsWindowEnabled(d.hwnd));
    CHECK_EQ(d.dlg.Result(), -1);
}

HWND iconicDialog = nullptr;
int iconEraseCount = 0;

LRESULT CALLBACK CountIconErase(int code, WPARAM w, LPARAM l)
{
    const auto* m = reinterpret_cast<CWPSTRUCT*>(l);
    if (m->hwnd == iconicDialog && m->message == WM_ICONERASEBKGND && m->wParam) ++iconEraseCount;
    return CallNextHookEx(nullptr, code, w, l);
}

void TestIconicAndDestroy()
{
    Dialog d;
    // Painting while minimised erases the icon's background itself.
    iconicDialog = d.hwnd;
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, CountIconErase, nullptr, GetCurrentThreadId());
    ShowWindow(d.hwnd, SW_MINIMIZE);
    CHECK(IsIconic(d.hwnd));
    RECT iconic;
    GetClientRect(d.hwnd, &iconic);
    std::printf("minimised client area: %ld x %ld\n", iconic.right, iconic.bottom);
    // Wine sends no WM_PAINT to a minimised window (it has no client area),
    // so the paint is asked for directly.
    SendMessageA(d.hwnd, WM_PAINT, 0, 0);
    std::printf("painting while minimised sent WM_ICONERASEBKGND %d time(s)\n", iconEraseCount);
    CHECK(iconEraseCount >= 1);
    ShowWindow(d.hwnd, SW_RESTORE);
    iconEraseCount = 0;
    RedrawWindow(d.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Pump(d.hwnd, 50);
    CHECK_EQ(iconEraseCount, 0);
    UnhookWindowsHookEx(hook);

    // Destroying the window deletes each brush exactly once.
    HBRUSH dialogBrush = d.dlg.hDialogBrush, fieldBrush = d.dlg.hFieldBrush;
    CHECK_EQ(GetObjectType(dialogBrush), DWORD(OBJ_BRUSH));
    CHECK_EQ(GetObjectType(fieldBrush), DWORD(OBJ_BRUSH));
    deleted.clear();
    DestroyWindow(d.hwnd);
    CHECK_EQ(std::count(deleted.begin(), deleted.end(), HGDIOBJ(dialogBrush)), 1);
    CHECK_EQ(std::count(deleted.begin(), deleted.end(), HGDIOBJ(fieldBrush)), 1);
    CHECK_EQ(GetObjectType(dialogBrush), 0u);
    CHECK_EQ(GetObjectType(fieldBrush), 0u);
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

// ---- the default path from the working directory

std::string DirectoryOfLength(size_t length)
{
    std::string dir = workDir + "\\long";
    CreateDirectoryA(dir.c_str(), nullptr);
    while (dir.size() < length) {
        const size_t part = std::min<size_t>(60, length - dir.size() - 1);
        if (part == 0) {
            dir += "x";  // one character short of a separator and a name
            break;
        }
        dir += "\\" + std::string(part, 'd');
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    if (dir.back() == 'x') CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void TestDefaultPath()
{
    char saved[MAX_PATH];
    _getcwd(saved, sizeof saved);
    const struct {
        std::string dir;
        std::string expected;
    } cases[] = {
        {"c:\\", "C:\\\\Test.wav"},  // the root's backslash stays: two in a row
        {DirectoryOfLength(246), ""},
        {DirectoryOfLength(247), "Test.wav"},
    };
    for (const auto& c : cases) {
        CHECK(_chdir(c.dir.c_str()) == 0);
        char cwd[MAX_PATH] = "";
        _getcwd(cwd, sizeof cwd);
        Dialog d;
        if (c.expected.empty()) {
            CHECK_EQ(std::strlen(cwd), size_t(246));
            CHECK_EQ(d.Text(IDC_PATH), std::string(cwd) + "\\Test.wav");
        } else {
            CHECK_EQ(d.Text(IDC_PATH), c.expected);
        }
    }
    _chdir(saved);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::printf("usage: dialog_test WORKDIR [REFDIR]\n");
        return 2;
    }
    workDir = argv[1];
    if (argc > 2) refDir = argv[2];
    setvbuf(stdout, nullptr, _IONBF, 0);
    StartWatchdog(240);
    HookDeleteObject();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    _chdir(workDir.c_str());

    const struct {
        const char* name;
        void (*run)();
    } tests[] = {
        {"resources", TestResources},
        {"field grammar", TestFieldGrammar},
        {"fresh dialog", TestFreshDialog},
        {"colours", TestColors},
        {"jobs", TestJobs},
        {"progress messages", TestProgressMessages},
        {"refusals", TestRefusals},
        {"quit during a job", TestQuitDuringJob},
        {"close ways", TestCloseWays},
        {"keys around jobs", TestKeysAroundJobs},
        {"system commands", TestSystemCommands},
        {"iconic paint and destroy", TestIconicAndDestroy},
        {"default path", TestDefaultPath},
        {"labels", TestLabels},
    };
    for (const auto& t : tests) {
        const int before = failures;
        const DWORD start = GetTickCount();
        t.run();
        std::printf("%s %s (%lu ms)\n", failures == before ? "ok  " : "FAIL", t.name,
                    static_cast<unsigned long>(GetTickCount() - start));
    }
    std::printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
