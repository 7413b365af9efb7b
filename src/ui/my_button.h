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

    DECLARE_MESSAGE_MAP(CMyButton)
};
