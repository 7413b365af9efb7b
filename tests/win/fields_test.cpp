// The number fields: the request's one grammar, the reports of a field that
// does not convert, and the refusals of "Create file".

#include <cstring>
#include <fstream>

#include "dialog_fixture.h"

using namespace harness;

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
        CHECK_EQ(converted, c.converts);
        CHECK_EQ(boxes.seen.size(), size_t(c.converts ? 0 : 1));
        CHECK(member() == (c.converts ? c.value : before));
    }
}

namespace {

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
    // Exactly half the rate has no defined level: refused by the Nyquist
    // check's "at or above", which comes with the engine's branch (this row
    // fails until that is merged).
    {"192000 at 384000", false, IDC_BITS32, "384000", "192000", "0", "1", NYQUIST_MESSAGE,
     "Invalid parameter..."},
    {"1e12", false, IDC_BITS32, "384000", "1e12", "0", "1", NYQUIST_MESSAGE, "Invalid parameter..."},
    {"22051 at 44101", false, IDC_BITS32, "44101", "22051", "0", "1", NYQUIST_MESSAGE,
     "Invalid parameter..."},
};

}  // namespace

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
}

// ---- a field that does not convert ends the click: it is reported with its
// name and the values it takes, it gets the focus with its text selected,
// and no job starts from the value its member still holds.

void TestUnreadFields()
{
    constexpr const char* RATE = "Sample rate: enter a whole number from 1 to 2147483647.";
    constexpr const char* SECONDS = "Duration seconds: enter a whole number from 1 to 2147483647.";
    constexpr const char* FREQUENCY =
        "Frequency Hz: enter a number of at least 1 and below half the sample rate, such as 997.5.";
    const struct {
        int field;
        int radio;
        const char* text;
        const char* message;
    } cases[] = {
        {IDC_SAMPLE_RATE, IDC_BITS32, "", RATE},
        {IDC_SAMPLE_RATE, IDC_BITS32, "99999999999", RATE},
        {IDC_SAMPLE_RATE, IDC_BITS32, "12abc", RATE},
        {IDC_FREQUENCY, IDC_BITS32, "12 Hz", FREQUENCY},
        {IDC_ATTENUATION, IDC_BITS16, "-1", "Attenuation dB: enter a whole number from 0 to 90."},
        {IDC_ATTENUATION, IDC_BITS24, "99999999999", "Attenuation dB: enter a whole number from 0 to 138."},
        {IDC_ATTENUATION, IDC_BITS32, "", "Attenuation dB: enter a whole number from 0 to 186."},
        {IDC_DURATION, IDC_BITS32, "1.5", SECONDS},
    };
    const std::string path = WorkPath("unread.wav");
    for (const auto& c : cases) {
        Dialog d;
        d.SetShortJob(path);
        d.Click(c.radio);
        d.SetText(c.field, c.text);
        DeleteFileA(path.c_str());
        ModalWatcher boxes(d.hwnd);
        d.Click(IDOK);
        CHECK_EQ(boxes.seen.size(), size_t(1));
        if (!boxes.seen.empty()) {
            CHECK_EQ(boxes.seen[0].Text(), c.message);
            CHECK_EQ(boxes.seen[0].caption, "Calyx");
        }
        CHECK(d.dlg.hThread == nullptr);
        CHECK(!d.dlg.bBusy);
        CHECK(!FileExists(path));
        CHECK(GetFocus() == d.Item(c.field));
        DWORD from = 1, to = 0;
        SendMessageA(d.Item(c.field), EM_GETSEL, WPARAM(&from), LPARAM(&to));
        CHECK_EQ(from, DWORD(0));
        CHECK_EQ(to, DWORD(std::strlen(c.text)));
    }
}
