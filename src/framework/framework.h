#pragma once

// The least of a dialog framework that Calyx's classes need, over plain
// Win32: a dialog run from a resource template, message maps, attaching a
// class to a template's control, data exchange of numeric fields, message
// boxes and the application object. Nothing here throws.

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>

class CWnd;
class CDataExchange;

// The message-map key that stands for every WM_CTLCOLOR* message.
inline constexpr UINT WM_CTLCOLOR_ANY = 0x0019;

// One message-map entry. For WM_COMMAND, code and id select the notification.
struct MessageEntry {
    UINT message;
    UINT code;
    UINT id;
    LRESULT (*handler)(CWnd& wnd, WPARAM wParam, LPARAM lParam);
};

// Entries in order, ended by one with a null handler; then the base's map.
struct MessageMap {
    const MessageMap* base;
    const MessageEntry* entries;
};

// clang-format off
#define DECLARE_MESSAGE_MAP(Class)                        \
public:                                                   \
    static const MessageMap messageMap;                   \
    const MessageMap* GetMessageMap() const override;     \
                                                          \
protected:                                                \
    using ThisClass = Class;                              \
    static const MessageEntry messageEntries[];

#define BEGIN_MESSAGE_MAP(Class, Base)                                               \
    const MessageMap* Class::GetMessageMap() const { return &Class::messageMap; }   \
    const MessageMap Class::messageMap = {&Base::messageMap, Class::messageEntries}; \
    const MessageEntry Class::messageEntries[] = {
#define END_MESSAGE_MAP() {0, 0, 0, nullptr}};

#define ON_WM_SYSCOMMAND()                                                   \
    {WM_SYSCOMMAND, 0, 0, [](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {   \
         static_cast<ThisClass&>(w).OnSysCommand(UINT(wp), lp);             \
         return 0;                                                          \
     }},
#define ON_WM_PAINT()                                                       \
    {WM_PAINT, 0, 0, [](CWnd& w, WPARAM, LPARAM) -> LRESULT {              \
         static_cast<ThisClass&>(w).OnPaint();                              \
         return 0;                                                          \
     }},
#define ON_WM_QUERYDRAGICON()                                               \
    {WM_QUERYDRAGICON, 0, 0, [](CWnd& w, WPARAM, LPARAM) -> LRESULT {      \
         return LRESULT(static_cast<ThisClass&>(w).OnQueryDragIcon());      \
     }},
// The handler gets the kind, CTLCOLOR_MSGBOX (0) ... CTLCOLOR_STATIC (6).
#define ON_WM_CTLCOLOR()                                                    \
    {WM_CTLCOLOR_ANY, 0, 0, [](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {     \
         auto& self = static_cast<ThisClass&>(w);                           \
         return LRESULT(self.OnCtlColor(HDC(wp), HWND(lp), self.CtlColorKind())); \
     }},
#define ON_WM_DESTROY()                                                     \
    {WM_DESTROY, 0, 0, [](CWnd& w, WPARAM, LPARAM) -> LRESULT {            \
         static_cast<ThisClass&>(w).OnDestroy();                            \
         return 0;                                                          \
     }},
// Any other message, private ones included: LRESULT memberFn(WPARAM, LPARAM).
#define ON_MESSAGE(msg, memberFn)                                           \
    {UINT(msg), 0, 0, [](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {       \
         return static_cast<ThisClass&>(w).memberFn(wp, lp);                \
     }},
#define ON_BN_CLICKED(ctrlId, memberFn)                                     \
    {WM_COMMAND, BN_CLICKED, UINT(ctrlId), [](CWnd& w, WPARAM, LPARAM) -> LRESULT { \
         static_cast<ThisClass&>(w).memberFn();                             \
         return 0;                                                          \
     }},
// clang-format on

// A window the program's classes talk to; attached to an existing HWND.
class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    HWND m_hWnd = nullptr;
    operator HWND() const { return m_hWnd; }

    BOOL EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
    HWND SetFocus() { return ::SetFocus(m_hWnd); }
    void SetIcon(HICON icon, BOOL big)
    {
        SendMessageA(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, LPARAM(icon));
    }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

    // Attaches this object to a control a dialog template created and routes
    // the control's messages through it.
    bool SubclassWindow(HWND hwnd);

    // The owner-draw request of a control attached to this object.
    virtual void DrawItem(DRAWITEMSTRUCT* item);

    static const MessageMap messageMap;
    virtual const MessageMap* GetMessageMap() const;

    // Kind of the WM_CTLCOLOR* message being handled (CTLCOLOR_MSGBOX ...).
    UINT CtlColorKind() const;

protected:
    // Runs while attaching, before the control's first paint.
    virtual void PreSubclassWindow() {}
    // The window's own processing of the message being handled.
    LRESULT Default();

    void OnPaint() { Default(); }
    void OnSysCommand(UINT, LPARAM) { Default(); }
    void OnDestroy() { Default(); }
    HBRUSH OnCtlColor(HDC, HWND, UINT) { return HBRUSH(Default()); }

    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void OnNcDestroy();

    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static CWnd* FromHandle(HWND hwnd);

private:
    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    WNDPROC superProc = nullptr;
    CurrentMessage current = {};
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    static const MessageEntry messageEntries[];
};

// The controls: one message each, and nothing else.
class CButton : public CWnd {};
class CEdit : public CWnd {};
class CProgressCtrl : public CWnd {
public:
    void SetRange(short lower, short upper)
    {
        SendMessageA(m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
    }
    void SetRange32(int lower, int upper)
    {
        SendMessageA(m_hWnd, PBM_SETRANGE32, WPARAM(lower), LPARAM(upper));
    }
    void SetPos(int pos) { SendMessageA(m_hWnd, PBM_SETPOS, WPARAM(pos), 0); }
    void SetStep(int step) { SendMessageA(m_hWnd, PBM_SETSTEP, WPARAM(step), 0); }
    void SetBkColor(COLORREF color) { SendMessageA(m_hWnd, PBM_SETBKCOLOR, 0, LPARAM(color)); }
    void SetBarColor(COLORREF color) { SendMessageA(m_hWnd, PBM_SETBARCOLOR, 0, LPARAM(color)); }
};

// A modal dialog from a resource template; modeless through Create.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    INT_PTR DoModal();
    // Opens the dialog modeless; the caller runs the message loop.
    bool Create(CWnd* parent = nullptr);
    // The data exchange; false when a field did not convert.
    bool UpdateData(bool saveAndValidate = true);
    void EndDialog(INT_PTR result);
    // The result given to EndDialog, or -1 while the dialog runs.
    INT_PTR Result() const { return result; }

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* dx);
    virtual void OnOK();
    virtual void OnCancel();

    DECLARE_MESSAGE_MAP(CDialog)

private:
    UINT templateId;
    CWnd* parent;
    INT_PTR result = -1;
    HWND OwnerWindow() const;
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// One run of the data exchange: the direction and whether a field failed.
// After a failure the remaining DDX calls do nothing.
class CDataExchange {
public:
    CDataExchange(CWnd* dialog, bool saveAndValidate) : dialog(dialog), saveAndValidate(saveAndValidate) {}
    CWnd* const dialog;
    const bool saveAndValidate;
    bool failed = false;
    // Reports a field that did not convert and stops the exchange.
    void Fail(int controlId, const char* message);
};

// What the report of a numeric field whose text does not convert says:
// "<the label's text>: enter <values>." The values are those the program
// accepts in the field, not merely those its type holds.
struct FieldHint {
    int labelId;  // the static text that names the field on the dialog
    std::string values;
};

void DDX_Control(CDataExchange* dx, int controlId, CWnd& control);
void DDX_Text(CDataExchange* dx, int controlId, int32_t& value, const FieldHint& hint);
void DDX_Text(CDataExchange* dx, int controlId, uint32_t& value, const FieldHint& hint);
void DDX_Text(CDataExchange* dx, int controlId, double& value, const FieldHint& hint);

// A modal message box owned by the window: one OK button, no icon.
int ShowMessageBox(HWND owner, const char* text, const char* caption);

// The application: InitInstance runs the program; returning FALSE ends it.
class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr) : appName(appName) {}
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp() = default;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    // Kept as text only: Calyx stores no settings.
    void SetRegistryKey(const char* key) { registryKey = key; }

    CWnd* m_pMainWnd = nullptr;
    const char* appName;
    const char* registryKey = nullptr;
};

// The framework's entry point: initialise the application and, if it asks
// for one, run a message loop.
int RunApplication(CWinApp& app);
