#include "framework/framework.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The window property that leads from an HWND to its attached object.
constexpr const char* WND_PROP = "CalyxWnd";

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

const char* SkipSpaces(const char* p)
{
    while (IsSpace(*p))
        ++p;
    return p;
}

// Digits with an optional sign into 64 bits; false on anything else or on
// more digits than any 32-bit value has.
bool ParseWhole(const char* text, bool allowMinus, int64_t& value)
{
    const char* p = SkipSpaces(text);
    bool negative = false;
    if (*p == '+' || (allowMinus && *p == '-'))
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return false;
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > 0xFFFFFFFFLL)
            return false;
    }
    if (*SkipSpaces(p) != '\0')
        return false;
    value = negative ? -v : v;
    return true;
}

// Reads a field's whole text; false when it is too long to be a number.
bool ReadField(CDataExchange* dx, int controlId, char* text, int size)
{
    HWND field = GetDlgItem(dx->dialog->m_hWnd, controlId);
    if (GetWindowTextLengthA(field) >= size)
        return false;
    GetWindowTextA(field, text, size);
    return true;
}

constexpr int FIELD_CHARS = 128;

}  // namespace

// ---- CWnd

const MessageMap CWnd::messageMap = {nullptr, CWnd::messageEntries};

const MessageEntry CWnd::messageEntries[] = {
    // Owner-draw requests go back to the control's own object.
    {WM_DRAWITEM, 0, 0, [](CWnd& w, WPARAM, LPARAM lp) -> LRESULT {
         auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
         CWnd* control = item->CtlType == ODT_MENU ? nullptr : FromHandle(item->hwndItem);
         if (!control)
             return w.Default();
         control->DrawItem(item);
         return TRUE;
     }},
    {0, 0, 0, nullptr}};

CWnd::~CWnd()
{
    if (m_hWnd && IsWindow(m_hWnd))
        OnNcDestroy();
}

const MessageMap* CWnd::GetMessageMap() const { return &CWnd::messageMap; }

void CWnd::DrawItem(DRAWITEMSTRUCT*) {}

CWnd* CWnd::FromHandle(HWND hwnd)
{
    return hwnd ? static_cast<CWnd*>(GetPropA(hwnd, WND_PROP)) : nullptr;
}

bool CWnd::SubclassWindow(HWND hwnd)
{
    if (!hwnd || m_hWnd)
        return false;
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
    if (!superProc)
        return DefWindowProcA(m_hWnd, current.message, current.wParam, current.lParam);
    return CallWindowProcA(superProc, m_hWnd, current.message, current.wParam, current.lParam);
}

LRESULT CALLBACK CWnd::StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd = FromHandle(hwnd);
    if (!wnd)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    return wnd->WindowProc(message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // Handlers may send messages to their own window; keep the outer one.
    const CurrentMessage outer = current;
    current = {message, wParam, lParam};
    LRESULT result = 0;
    if (!Dispatch(message, wParam, lParam, result))
        result = Default();
    current = outer;
    if (message == WM_NCDESTROY)
        OnNcDestroy();
    return result;
}

bool CWnd::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    UINT key = message;
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)
        key = WM_CTLCOLOR_ANY;
    for (const MessageMap* map = GetMessageMap(); map; map = map->base) {
        for (const MessageEntry* e = map->entries; e->handler; ++e) {
            if (e->message != key)
                continue;
            if (message == WM_COMMAND && (e->code != HIWORD(wParam) || e->id != LOWORD(wParam)))
                continue;
            result = e->handler(*this, wParam, lParam);
            return true;
        }
    }
    return false;
}

void CWnd::OnNcDestroy()
{
    if (superProc)
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(superProc));
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
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), OwnerWindow(),
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create(CWnd* parentWnd)
{
    if (parentWnd)
        parent = parentWnd;
    result = -1;
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId),
                              OwnerWindow(), DialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

// The system's dialog procedure only hands over the window: from then on its
// messages reach the message map through the subclassed window procedure.
INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE;
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
    if (UpdateData(true))
        EndDialog(IDOK);
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
    if (dx->failed || control.m_hWnd)
        return;
    control.SubclassWindow(GetDlgItem(dx->dialog->m_hWnd, controlId));
}

void DDX_Text(CDataExchange* dx, int controlId, int32_t& value)
{
    if (dx->failed)
        return;
    char text[FIELD_CHARS];
    if (!dx->saveAndValidate) {
        std::snprintf(text, sizeof text, "%ld", long(value));
        SetDlgItemTextA(dx->dialog->m_hWnd, controlId, text);
    } else if (!ReadField(dx, controlId, text, sizeof text) || !ParseInt32(text, value)) {
        dx->Fail(controlId, "Enter a whole number from -2147483648 to 2147483647.");
    }
}

void DDX_Text(CDataExchange* dx, int controlId, uint32_t& value)
{
    if (dx->failed)
        return;
    char text[FIELD_CHARS];
    if (!dx->saveAndValidate) {
        std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value));
        SetDlgItemTextA(dx->dialog->m_hWnd, controlId, text);
    } else if (!ReadField(dx, controlId, text, sizeof text) || !ParseUInt32(text, value)) {
        dx->Fail(controlId, "Enter a whole number from 0 to 4294967295.");
    }
}

void DDX_Text(CDataExchange* dx, int controlId, double& value)
{
    if (dx->failed)
        return;
    char text[FIELD_CHARS];
    if (!dx->saveAndValidate) {
        std::snprintf(text, sizeof text, "%.15g", value);
        SetDlgItemTextA(dx->dialog->m_hWnd, controlId, text);
    } else if (!ReadField(dx, controlId, text, sizeof text) || !ParseDouble(text, value)) {
        dx->Fail(controlId, "Enter a number, such as 1000 or 997.5.");
    }
}

bool ParseInt32(const char* text, int32_t& value)
{
    int64_t v = 0;
    if (!ParseWhole(text, true, v) || v < INT32_MIN || v > INT32_MAX)
        return false;
    value = int32_t(v);
    return true;
}

bool ParseUInt32(const char* text, uint32_t& value)
{
    int64_t v = 0;
    if (!ParseWhole(text, false, v))
        return false;
    value = uint32_t(v);
    return true;
}

bool ParseDouble(const char* text, double& value)
{
    // Decimal notation only: no hexadecimal, no "inf" or "nan".
    const char* p = SkipSpaces(text);
    if (*p == '\0' || std::strspn(p, "0123456789+-.eE \t") != std::strlen(p))
        return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(p, &end);
    if (end == p || *SkipSpaces(end) != '\0' || !std::isfinite(v))
        return false;
    value = v;
    return true;
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
