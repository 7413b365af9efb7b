// The templates and the other resources, against the tables of the design.

#include <cstring>

#include "dialog_fixture.h"

using namespace harness;

namespace {

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

// Beyond the design's table: WS_GROUP on "Create file" and on "16", so that
// the bit-width buttons are one group for the arrow keys, and ids on the
// labels that name the number fields in their reports.
const TemplateTable MAIN_TEMPLATE = {102,
                                     0x90C800C8,
                                     0x00040000,
                                     201,
                                     182,
                                     "Calyx",
                                     {
                                         {1, "#128", "Create file", 0x50030001, 46, 126, 50, 14},
                                         {2, "#128", "Quit", 0x50010000, 101, 126, 50, 14},
                                         {1010, "#130", "Sample rate", 0x50020000, 19, 12, 52, 8},
                                         {1011, "#130", "Attenuation dB", 0x50020000, 135, 12, 55, 8},
                                         {1012, "#130", "Frequency Hz", 0x50020000, 16, 48, 51, 8},
                                         {1013, "#130", "Duration seconds", 0x50020000, 131, 48, 62, 8},
                                         {0xFFFFFFFF, "#130", "Path\\filename", 0x50020000, 77, 85, 51, 8},
                                         {1000, "#129", "", 0x50812080, 18, 24, 40, 14},
                                         {1001, "#129", "", 0x50810080, 18, 60, 40, 14},
                                         {1002, "#129", "", 0x50812080, 139, 24, 40, 14},
                                         {1003, "#129", "", 0x50812080, 139, 60, 40, 14},
                                         {1004, "#129", "", 0x50810080, 18, 97, 162, 14},
                                         {1005, "msctls_progress32", "", 0x50800001, 18, 153, 162, 14},
                                         {0xFFFFFFFF, "#128", "Bit width", 0x50000007, 75, 12, 48, 63},
                                         {1007, "#128", "16", 0x50020009, 89, 24, 24, 10},
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

}  // namespace

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
