#include "ui/my_button.h"

#include <string>

#include "ui/colors.h"

BEGIN_MESSAGE_MAP(CMyButton, CButton)
    ON_MESSAGE(WM_GETDLGCODE, OnGetDlgCode)
    ON_MESSAGE(BM_SETSTYLE, OnSetStyle)
END_MESSAGE_MAP()

// Becomes owner-drawn before the first paint; both push-button types turn
// into BS_OWNERDRAW when its bits are added.
void CMyButton::PreSubclassWindow()
{
    CButton::PreSubclassWindow();
    SetWindowLongA(m_hWnd, GWL_STYLE, GetWindowLongA(m_hWnd, GWL_STYLE) | BS_OWNERDRAW);
}

// An owner-drawn button answers DLGC_BUTTON alone, so the dialog manager
// sent Enter on it to the dialog's default ("Create file"). A push button
// answers DLGC_DEFPUSHBUTTON while it is the one Enter presses; this one
// says so while it has the focus, however the focus came: the manager moves
// its default with the focus it moves itself (Tab), not with a mouse press
// released off the button. Elsewhere Enter goes to the dialog's default id.
LRESULT CMyButton::OnGetDlgCode(WPARAM, LPARAM)
{
    return DLGC_BUTTON | (GetFocus() == m_hWnd ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
}

// The dialog manager moving its default: the system's handling would write
// the push-button type over BS_OWNERDRAW and leave a plain button. The face
// shows no default state, so nothing changes.
LRESULT CMyButton::OnSetStyle(WPARAM, LPARAM) { return 0; }

void CMyButton::DrawItem(DRAWITEMSTRUCT* item)
{
    HDC dc = item->hDC;
    RECT rect;
    CopyRect(&rect, &item->rcItem);
    const UINT state = item->itemState;
    const bool pressed = (state & ODS_SELECTED) != 0;
    std::string text(size_t(GetWindowTextLengthA(m_hWnd)) + 1, '\0');
    text.resize(size_t(GetWindowTextA(m_hWnd, text.data(), int(text.size()))));

    DrawFrameControl(dc, &rect, DFC_BUTTON, pressed ? DFCS_BUTTONPUSH | DFCS_PUSHED : DFCS_BUTTONPUSH);

    // Light lines on the edges the frame shades: top and left at rest,
    // bottom and right (twice as wide) while pressed.
    HPEN pen = CreatePen(PS_SOLID, pressed ? 2 : 1, FIELD_COLOR);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    if (pressed) {
        MoveToEx(dc, rect.left, rect.bottom, nullptr);
        LineTo(dc, rect.right, rect.bottom);
        MoveToEx(dc, rect.right, rect.top, nullptr);
        LineTo(dc, rect.right, rect.bottom);
    } else {
        MoveToEx(dc, rect.left, rect.top, nullptr);
        LineTo(dc, rect.right, rect.top);
        MoveToEx(dc, rect.left, rect.top, nullptr);
        LineTo(dc, rect.left, rect.bottom);
    }
    SelectObject(dc, oldPen);
    DeleteObject(pen);

    const int edgeX = GetSystemMetrics(SM_CXEDGE);
    const int edgeY = GetSystemMetrics(SM_CYEDGE);
    InflateRect(&rect, -edgeX, -edgeY);
    SetBkColor(dc, FACE_COLOR);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);

    if (!text.empty()) {
        SIZE extent;
        GetTextExtentPoint32A(dc, text.c_str(), int(text.size()), &extent);
        int x = (rect.left + rect.right) / 2 - extent.cx / 2;
        int y = (rect.top + rect.bottom) / 2 - extent.cy / 2;
        if (pressed) {
            ++x;
            ++y;
        }
        const int oldMode = SetBkMode(dc, TRANSPARENT);
        if (state & ODS_DISABLED)
            DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(text.c_str()), 0, x, y, extent.cx,
                       extent.cy, DST_PREFIXTEXT | DSS_DISABLED);
        else
            TextOutA(dc, x, y, text.c_str(), int(text.size()));
        SetBkMode(dc, oldMode);
    }

    if (state & ODS_FOCUS) {
        InflateRect(&rect, -edgeX, -edgeY);
        DrawFocusRect(dc, &rect);
    }
}
