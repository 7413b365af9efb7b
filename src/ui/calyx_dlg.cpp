#include "ui/calyx_dlg.h"

#include <commctrl.h>
#include <direct.h>
#include <float.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <string>

#include "ui/about_dlg.h"
#include "job/create_check.h"
#include "job/generation_worker.h"
#include "resource.h"
#include "ui/colors.h"

namespace {

// Sent by the worker when a job ends without a stop request, so that the
// dialog's thread, which owns the keyboard focus, handles the end.
constexpr UINT WM_JOB_ENDED = WM_APP + 1;

// The dialog's side of a job: progress to the bar, messages owned by the
// dialog, the job's end to the dialog. Called on the worker's thread;
// every call is a synchronous message to a window of the dialog's thread.
class DialogJobHost final : public JobHost {
public:
    explicit DialogJobHost(CCalyxDlg& dialog) : dialog(dialog) {}
    void SetProgressRange(uint32_t upper) override
    {
        RECT area{};
        GetClientRect(dialog.progressBar, &area);
        width = uint32_t(area.right > area.left ? area.right - area.left : 0);
        range = upper;
        drawn = UINT32_MAX;  // whatever comes next is sent
        sent = {};
        dialog.progressBar.SetRange32(0, int(upper));
    }
    // Each position is a round trip to the dialog's thread and a repaint,
    // which costs far more than the block it reports (bench/win/dialog_speed
    // measures it). So a position goes to the bar only when it changes the
    // filled length in pixels, at most 50 times a second; the end of the
    // range always goes.
    void SetProgressPos(uint32_t pos) override
    {
        const uint32_t length = range ? uint32_t(uint64_t(pos < range ? pos : range) * width / range) : 0;
        const auto now = std::chrono::steady_clock::now();
        if (pos != range && (length == drawn || now - sent < std::chrono::milliseconds(20))) return;
        drawn = length;
        sent = now;
        dialog.progressBar.SetPos(int(pos));
    }
    void ShowMessage(const char* text, const char* caption) override
    {
        ShowMessageBox(dialog, text, caption);
    }
    void JobEnded() override
    {
        dialog.bBusy = false;
        SendMessageA(dialog, WM_JOB_ENDED, 0, 0);
    }

private:
    CCalyxDlg& dialog;
    uint32_t range = 0;
    uint32_t width = 0;
    uint32_t drawn = UINT32_MAX;
    std::chrono::steady_clock::time_point sent;
};

}  // namespace

BEGIN_MESSAGE_MAP(CCalyxDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_CTLCOLOR()
    ON_WM_DESTROY()
    ON_MESSAGE(WM_JOB_ENDED, OnJobEnded)
    ON_BN_CLICKED(IDOK, OnCreateFile)
    ON_BN_CLICKED(IDCANCEL, OnQuit)
    ON_BN_CLICKED(IDC_BITS16, OnBitWidth16)
    ON_BN_CLICKED(IDC_BITS24, OnBitWidth24)
    ON_BN_CLICKED(IDC_BITS32, OnBitWidth32)
END_MESSAGE_MAP()

CCalyxDlg::CCalyxDlg()
    : CDialog(IDD_CALYX_DIALOG), hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME)))
{
    const ToneRequest defaults;
    Frequency = defaults.frequency;
    nSampleRate = defaults.sampleRate;
    nSeconds = defaults.seconds;
    nBitWidth = defaults.bitWidth;
    nAttenuation = defaults.attenuation;
}

// The worker's handle is the only thing left; the brushes went with the window.
CCalyxDlg::~CCalyxDlg()
{
    if (hThread) CloseHandle(hThread);
}

void CCalyxDlg::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDOK, btnCreate);
    DDX_Control(dx, IDCANCEL, btnQuit);
    DDX_Control(dx, IDC_SAMPLE_RATE, editSampleRate);
    DDX_Control(dx, IDC_FREQUENCY, editFrequency);
    DDX_Control(dx, IDC_ATTENUATION, editAttenuation);
    DDX_Control(dx, IDC_DURATION, editDuration);
    DDX_Control(dx, IDC_PROGRESS, progressBar);
    // A report names the values the request's checks accept: counts from 1
    // (no zero, nothing negative) up to what the field holds, since the
    // checks' size limit depends on the other fields; the attenuation up to
    // the chosen width's maximum.
    const std::string count = "a whole number from 1 to " + std::to_string(INT32_MAX);
    const std::string attenuation = "a whole number from 0 to " + std::to_string(MaxAttenuation(nBitWidth));
    DDX_Text(dx, IDC_SAMPLE_RATE, nSampleRate, {IDC_SAMPLE_RATE_LABEL, count});
    DDX_Text(dx, IDC_FREQUENCY, Frequency,
             {IDC_FREQUENCY_LABEL, "a number of at least 1 and below half the sample rate, such as 997.5"});
    DDX_Text(dx, IDC_ATTENUATION, nAttenuation, {IDC_ATTENUATION_LABEL, attenuation});
    DDX_Text(dx, IDC_DURATION, nSeconds, {IDC_DURATION_LABEL, count});
}

BOOL CCalyxDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    if (HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE)) {
        char about[64] = "";
        if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, about, sizeof about) > 0 && about[0]) {
            AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }

    SetIcon(hIcon, TRUE);
    SetIcon(hIcon, FALSE);

    SetDefaultPath();
    CheckRadioButton(m_hWnd, IDC_BITS16, IDC_BITS32, IDC_BITS32);

    progressBar.SetRange(0, 10);
    progressBar.SetStep(1);
    progressBar.SetPos(0);

    hDialogBrush = CreateSolidBrush(DIALOG_COLOR);
    hFieldBrush = CreateSolidBrush(FIELD_COLOR);

    progressBar.SetBkColor(FIELD_COLOR);
    progressBar.SetBarColor(FACE_COLOR);
    return TRUE;
}

// The request's default path in the current directory; just the file name
// when the directory is unknown or leaves the path field no room for it.
void CCalyxDlg::SetDefaultPath()
{
    std::string path = RequestDefaultPath(_getcwd(szCurrentDir, sizeof szCurrentDir) ? szCurrentDir : "");
    if (path.size() > PATH_FIELD_CHARS) path = DEFAULT_FILE_NAME;
    SetDlgItemTextA(m_hWnd, IDC_PATH, path.c_str());
}

void CCalyxDlg::OnSysCommand(UINT id, LPARAM lParam)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

void CCalyxDlg::OnPaint()
{
    if (!IsIconic(m_hWnd)) {
        CDialog::OnPaint();
        return;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    const int x = (rect.right - rect.left - iconWidth + 1) / 2;
    const int y = (rect.bottom - rect.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, hIcon);
    EndPaint(m_hWnd, &paint);
}

HCURSOR CCalyxDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(hIcon); }

HBRUSH CCalyxDlg::OnCtlColor(HDC dc, HWND control, UINT kind)
{
    CDialog::OnCtlColor(dc, control, kind);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, DIALOG_COLOR);
    if (kind == CTLCOLOR_EDIT || kind == CTLCOLOR_LISTBOX) {
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkMode(dc, TRANSPARENT);
        return hFieldBrush;
    }
    return hDialogBrush;
}

void CCalyxDlg::OnDestroy()
{
    if (hDialogBrush) DeleteObject(hDialogBrush);
    if (hFieldBrush) DeleteObject(hFieldBrush);
    CDialog::OnDestroy();
}

ToneRequest CCalyxDlg::CurrentRequest() const
{
    ToneRequest request;
    request.frequency = Frequency;
    request.sampleRate = nSampleRate;
    request.seconds = nSeconds;
    request.bitWidth = nBitWidth;
    request.attenuation = nAttenuation;
    return request;
}

void CCalyxDlg::OnCreateFile()
{
    // A field that did not convert has been reported and holds the focus;
    // its member still has the old value, so nothing may start from it.
    if (!UpdateData(true)) return;
    if (bBusy || bQuitting) return;
    // The whole text: a path too long for szPath is refused, not cut short.
    HWND pathField = GetDlgItem(IDC_PATH);
    std::string pathText(size_t(GetWindowTextLengthA(pathField)) + 1, '\0');
    GetWindowTextA(pathField, pathText.data(), int(pathText.size()));

    ToneRequest request = CurrentRequest();
    PathRules rules;
    rules.maxChars = PATH_FIELD_CHARS;
    const CreateCheck check = RequestBeginCreate(request, pathText.c_str(), bBusy, rules);
    if (check.alreadyBusy) return;
    if (check.refusal) {
        // Still checking while the message is up: a second click does nothing.
        bBusy = true;
        ShowMessageBox(m_hWnd, check.refusal.message, check.refusal.caption);
        bBusy = false;
        return;
    }

    ReleaseFinishedWorker();
    jobRequest = request;
    jobStop.emplace();
    // A disabled button loses the focus to nowhere, and the keyboard with it:
    // Escape could no longer stop the job. "Quit" takes it instead.
    if (GetFocus() == btnCreate.m_hWnd) SendMessageA(m_hWnd, WM_NEXTDLGCTL, WPARAM(btnQuit.m_hWnd), TRUE);
    btnCreate.EnableWindow(FALSE);
    hThread = CreateThread(nullptr, 0, WorkerThread, this, 0, nullptr);
    if (!hThread) {
        DialogJobHost host(*this);
        JobStartFailed(host);
    }
}

// "Create file" takes input again, and the focus when it is on "Quit", where
// the job's start put it. Focus the user moved elsewhere stays there, and a
// dialog in the background (no focus on this thread) is not brought forward.
LRESULT CCalyxDlg::OnJobEnded(WPARAM, LPARAM)
{
    btnCreate.EnableWindow(TRUE);
    if (GetFocus() == btnQuit.m_hWnd) SendMessageA(m_hWnd, WM_NEXTDLGCTL, WPARAM(btnCreate.m_hWnd), TRUE);
    return 0;
}

// The previous job has ended (busy is clear), so its thread is at most
// finishing its last message to this dialog: serve that, then let the handle go.
void CCalyxDlg::ReleaseFinishedWorker()
{
    if (!hThread) return;
    while (MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(hThread);
    hThread = nullptr;
}

DWORD WINAPI CCalyxDlg::WorkerThread(LPVOID param)
{
    // A new thread starts with another x87 precision than the main thread.
    // The samples do not depend on it (SSE2 doubles, the engine's own
    // maths), but every job starts from the default state all the same.
    _fpreset();
    auto* dialog = static_cast<CCalyxDlg*>(param);
    DialogJobHost host(*dialog);
    JobGenerate(dialog->jobRequest, *dialog->jobStop, host, dialog->jobIo,
                std::max(1u, std::thread::hardware_concurrency()));
    return 0;
}

void CCalyxDlg::OnQuit()
{
    UpdateData(true);
    bQuitting = true;
    if (jobStop) jobStop->Request();
    bBusy = false;
    // The worker sends its progress to this thread: keep serving messages.
    while (WaitForSingleObject(hThread, 50) == WAIT_TIMEOUT) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    CDialog::OnCancel();
}

void CCalyxDlg::OnBitWidth16() { ChooseBitWidth(16, IDC_BITS16); }
void CCalyxDlg::OnBitWidth24() { ChooseBitWidth(24, IDC_BITS24); }
void CCalyxDlg::OnBitWidth32() { ChooseBitWidth(32, IDC_BITS32); }

// An arrow key focuses a bit-width button and clicks it; under Wine the
// click's partial repaints leave its focus rectangle drawn an even number of
// times (invisible) until the button is painted whole, so it is.
void CCalyxDlg::ChooseBitWidth(int32_t bits, int buttonId)
{
    nBitWidth = bits;
    InvalidateRect(GetDlgItem(buttonId), nullptr, TRUE);
}
