#include "framework/framework.h"

#include <algorithm>
#include <string>

#include "job/request_text.h"

namespace {

// The window property that leads from an HWND to its attached object.
constexpr const char* WND_PROP = "CalyxWnd";

// A control's whole text.
std::string ItemText(CDataExchange* dx, int controlId)
{
    HWND item = GetDlgItem(dx->dialog->m_hWnd, controlId);
    std::string text(size_t(GetWindowTextLengthA(item)) + 1, '\0');
    text.resize(size_t(GetWindowTextA(item, text.data(), int(text.size()))));
    return text;
}

// The report names the field as the user reads it: its label without the
// mnemonic's ampersand.
std::string FailureText(CDataExchange* dx, const FieldHint& hint)
{
    std::string label = ItemText(dx, hint.labelId);
    label.erase(std::remove(label.begin(), label.end(), '&'), label.end());
    return label + ": enter " + hint.values + ".";
}

// One numeric field, either way, in the request's number grammar.
template <class T>
void ExchangeNumber(CDataExchange* dx, int controlId, T& value, const FieldHint& hint)
{
    if (dx->failed) return;
    if (!dx->saveAndValidate)
        SetDlgItemTextA(dx->dialog->m_hWnd, controlId, RequestFormatNumber(value).c_str());
    else if (!RequestParseNumber(ItemText(dx, controlId), value))
        dx->Fail(controlId, FailureText(dx, hint).c_str());
}

}  // namespace

// ---- CWnd

const MessageMap CWnd::messageMap = {nullptr, CWnd::messageEntries};

const MessageEntry CWnd::messageEntries[] = {
    // Owner-draw requests go back to the control's own object.
    {WM_DRAWITEM, 0, 0,
     [](CWnd& w, WPARAM, LPARAM lp) -> LRESULT {
         auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
         CWnd* control = item->CtlType == ODT_MENU ? nullptr : FromHandle(item->hwndItem);
         if (!control) return w.Default();
         control->DrawItem(item);
         return TRUE;
     }},
    {0, 0, 0, nullptr}};

CWnd::~CWnd()
{
    if (m_hWnd && IsWindow(m_hWnd)) OnNcDestroy();
}

const MessageMap* CWnd::GetMessageMap() const { return &CWnd::messageMap; }

void CWnd::DrawItem(DRAWITEMSTRUCT*) {}

CWnd* CWnd::FromHandle(HWND hwnd) { return hwnd ? static_cast<CWnd*>(GetPropA(hwnd, WND_PROP)) : nullptr; }

bool CWnd::SubclassWindow(HWND hwnd)
{
    if (!hwnd || m_hWnd) return false;
    m_hWnd = hwnd;
    SetPropA(hwnd, WND_PROP, this);
    PreSubclassWindow();
    superProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StaticWndProc)));
    return true;
}

UINT CWnd::CtlColorKind() const { return current.message - WM_CTLCOLORMSGBOX; }

LRESULT CWnd::Default()
{
    if (!superProc) return DefWindowProcA(m_hWnd, current.message, current.wParam, current.lParam);
    return CallWindowProcA(superProc, m_hWnd, current.message, current.wParam, current.lParam);
}

LRESULT CALLBACK CWnd::StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd = FromHandle(hwnd);
    if (!wnd) return DefWindowProcA(hwnd, message, wParam, lParam);
    return wnd->WindowProc(message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // Handlers may send messages to their own window; keep the outer one.
    const CurrentMessage outer = current;
    current = {message, wParam, lParam};
    LRESULT result = 0;
    if (!Dispatch(message, wParam, lParam, result)) result = Default();
    current = outer;
    if (message == WM_NCDESTROY) OnNcDestroy();
    return result;
}

bool CWnd::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    UINT key = message;
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) key = WM_CTLCOLOR_ANY;
    for (const MessageMap* map = GetMessageMap(); map; map = map->base) {
        for (const MessageEntry* e = map->entries; e->handler; ++e) {
            if (e->message != key) continue;
            if (message == WM_COMMAND && (e->code != HIWORD(wParam) || e->id != LOWORD(wParam))) continue;
            result = e->handler(*this, wParam, lParam);
            return true;
        }
    }
    return false;
}

void CWnd::OnNcDestroy()
{
    if (superProc) SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(superProc));
    RemovePropA(m_hWnd, WND_PROP);
    superProc = nullptr;
    m_hWnd = nullptr;
}

// ---- CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_BN_CLICKED(IDOK, OnOK)
    ON_BN_CLICKED(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : templateId(templateId), parent(parent) {}

// Without a parent the dialog belongs to the window the user is working in.
HWND CDialog::OwnerWindow() const
{
    HWND owner = parent ? parent->m_hWnd : GetActiveWindow();
    return owner ? GetAncestor(owner, GA_ROOT) : nullptr;
}

INT_PTR CDialog::DoModal()
{
    result = -1;
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), OwnerWindow(), DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create(CWnd* parentWnd)
{
    if (parentWnd) parent = parentWnd;
    result = -1;
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), OwnerWindow(),
                              DialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

// The system's dialog procedure only hands over the window: from then on its
// messages reach the message map through the subclassed window procedure.
INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG) return FALSE;
    auto* dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->SubclassWindow(hwnd);
    return dialog->OnInitDialog();
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(false);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::UpdateData(bool saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return !dx.failed;
}

void CDialog::EndDialog(INT_PTR dialogResult)
{
    result = dialogResult;
    ::EndDialog(m_hWnd, dialogResult);
}

void CDialog::OnOK()
{
    if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

// ---- data exchange

void CDataExchange::Fail(int controlId, const char* message)
{
    failed = true;
    char caption[128] = "";
    GetWindowTextA(dialog->m_hWnd, caption, sizeof caption);
    ShowMessageBox(dialog->m_hWnd, message, caption);
    // Put the user back into the field with its text selected.
    HWND field = GetDlgItem(dialog->m_hWnd, controlId);
    SendMessageA(dialog->m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
    SendMessageA(field, EM_SETSEL, 0, -1);
}

void DDX_Control(CDataExchange* dx, int controlId, CWnd& control)
{
    if (dx->failed || control.m_hWnd) return;
    control.SubclassWindow(GetDlgItem(dx->dialog->m_hWnd, controlId));
}

void DDX_Text(CDataExchange* dx, int controlId, int32_t& value, const FieldHint& hint)
{
    ExchangeNumber(dx, controlId, value, hint);
}

void DDX_Text(CDataExchange* dx, int controlId, uint32_t& value, const FieldHint& hint)
{
    ExchangeNumber(dx, controlId, value, hint);
}

void DDX_Text(CDataExchange* dx, int controlId, double& value, const FieldHint& hint)
{
    ExchangeNumber(dx, controlId, value, hint);
}

// ---- message boxes and the application

int ShowMessageBox(HWND owner, const char* text, const char* caption)
{
    return MessageBoxA(owner, text, caption, MB_OK);
}

int RunApplication(CWinApp& app)
{
    if (app.InitInstance()) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return app.ExitInstance();
}
