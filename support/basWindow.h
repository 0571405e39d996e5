#pragma once
// Window-style and cursor helpers.
#include <cstdint>

namespace korvena {

// Turns a window's frame from one border style into another by toggling its
// style bits, then makes the platform lay it out again (0 none, 1 fixed
// single, 2 sizable, 3 fixed dialog, 4 fixed tool window, 5 sizable tool).
void ChangeBorderStyle(long hWnd, uint8_t OldStyle, int32_t NewStyle);

// Shows or hides the mouse cursor and records the request in bCursorShown.
void ShowMouseCursor(bool bShow);

}  // namespace korvena
