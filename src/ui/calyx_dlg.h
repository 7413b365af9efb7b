#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "base/stop.h"
#include "framework/framework.h"
#include "job/tone_request.h"
#include "wave/wave_writer.h"
#include "ui/my_button.h"

// The main dialog: the request's fields, "Create file", the progress bar and
// "Quit", in the program's colours. Template 102.
class CCalyxDlg : public CDialog {
public:
    CCalyxDlg();
    ~CCalyxDlg() override;

    HICON hIcon;
    char szCurrentDir[256] = {};
    HANDLE hThread = nullptr;
    HBRUSH hDialogBrush = nullptr;
    HBRUSH hFieldBrush = nullptr;
    CMyButton btnCreate;
    CMyButton btnQuit;
    double Frequency;
    int32_t nSampleRate;
    int32_t nSeconds;
    int32_t nBitWidth;
    uint32_t nAttenuation;
    // Set while a request is checked or a job runs.
    std::atomic<bool> bBusy{false};
    CEdit editSampleRate;
    CEdit editFrequency;
    CEdit editAttenuation;
    CEdit editDuration;
    CProgressCtrl progressBar;
    // How the job reaches its file; tests hold a job at a block through its
    // block write.
    WaveIo jobIo;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;

    // The About entry of the system menu; every other command as usual.
    void OnSysCommand(UINT id, LPARAM lParam);
    // Draws the icon when minimised; otherwise the dialog paints itself.
    void OnPaint();
    // The icon doubles as the drag cursor.
    HCURSOR OnQueryDragIcon();
    // Black text on the dialog colour; edits on the field colour.
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
    // Releases the two brushes.
    void OnDestroy();
    // "Create file": check the request and start the worker.
    void OnCreateFile();
    // The end of a job that was not stopped, sent by its worker.
    LRESULT OnJobEnded(WPARAM, LPARAM);
    // "Quit", Escape and the close box: stop the job, wait for it, close.
    void OnQuit();
    void OnBitWidth16();
    void OnBitWidth24();
    void OnBitWidth32();

    DECLARE_MESSAGE_MAP(CCalyxDlg)

private:
    // The running job's own copy of the request, taken before its thread starts.
    ToneRequest jobRequest;
    // The running job's stop, made afresh for each job; "Quit" requests it.
    std::optional<Stop> jobStop;
    // Set by "Quit": no job may start while the dialog closes.
    bool bQuitting = false;

    void SetDefaultPath();
    void ChooseBitWidth(int32_t bits, int buttonId);
    ToneRequest CurrentRequest() const;
    void ReleaseFinishedWorker();
    static DWORD WINAPI WorkerThread(LPVOID param);
};
