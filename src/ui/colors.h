#pragma once

#include <windows.h>

// The three fixed colours of the dialog and its buttons.
inline constexpr COLORREF DIALOG_COLOR = RGB(205, 224, 228);
inline constexpr COLORREF FIELD_COLOR = RGB(227, 238, 240);
inline constexpr COLORREF FACE_COLOR = RGB(182, 209, 216);
