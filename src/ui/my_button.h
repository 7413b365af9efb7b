#pragma once

#include "framework/framework.h"

// A template push button drawn in the dialog's colours: a flat face inside
// the system frame, light edge lines, the text shifted while pressed and
// embossed while disabled.
class CMyButton : public CButton {
public:
    void DrawItem(DRAWITEMSTRUCT* item) override;

protected:
    void PreSubclassWindow() override;
    // Tells the dialog manager this is a push button, the one Enter presses
    // while it has the focus.
    LRESULT OnGetDlgCode(WPARAM, LPARAM);
    // Keeps the button owner-drawn when the dialog manager moves its default.
    LRESULT OnSetStyle(WPARAM, LPARAM);

    DECLARE_MESSAGE_MAP(CMyButton)
};
