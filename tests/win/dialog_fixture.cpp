#include "dialog_fixture.h"

#include <fstream>
#include <iterator>

using namespace harness;

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

bool ValidWholeBlocks(const std::string& file, uint32_t bits, uint32_t& blocks)
{
    if (file.size() < 140 || file.compare(0, 4, "RIFF") != 0) return false;
    const uint32_t data = U32(file, 136);
    const uint32_t blockBytes = 512 * 2 * bits / 8;
    blocks = data / blockBytes;
    return U32(file, 4) == file.size() - 8 && data == file.size() - 140 && data % blockBytes == 0 &&
           uint32_t(uint8_t(file[34])) == bits;
}

HWND FindStatic(HWND dialog, const char* text)
{
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (WindowText(c) == text) return c;
    return nullptr;
}

Dialog::Dialog()
{
    dlg.Create();
    hwnd = dlg.m_hWnd;
    CHECK(PumpUntil(
        hwnd, [&] { return GetFocus() == Item(IDOK); }, 5000));
    PumpPending(hwnd);
}

Dialog::~Dialog()
{
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    PumpPending(nullptr);
}

bool Dialog::WaitForJob(DWORD ms) const
{
    return PumpUntil(
        hwnd, [&] { return CreateEnabled() && !dlg.bBusy; }, ms);
}

void PressKey(WORD key, bool shift)
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

HeldJob::HeldJob(CCalyxDlg& dialog) : dlg(dialog)
{
    dlg.jobIo.write = [this](const void* bytes, size_t size, std::FILE* file) {
        ++writes;
        while (!release && dlg.bBusy)
            Sleep(1);
        return std::fwrite(bytes, 1, size, file);
    };
}

HeldJob::~HeldJob()
{
    release = true;
    PumpUntil(
        dlg.m_hWnd, [&] { return !dlg.hThread || WaitForSingleObject(dlg.hThread, 0) == WAIT_OBJECT_0; },
        10000);
}
