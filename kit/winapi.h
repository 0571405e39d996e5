#pragma once
// Window-handle calls of the platform, for code written against them: style
// words, outer rectangles, positioning, the cursor and the desktop window.
// An invalid handle makes every call do nothing. The style words' indexes and
// the positioning flags are named in kit/platform_numbers.h.
#include "kit/platform_numbers.h"

namespace kit::win {

struct Rect {
  long left = 0, top = 0, right = 0, bottom = 0;  // pixels
};

long GetWindowLongA(long hwnd, int index);
long SetWindowLongA(long hwnd, int index, long value);  // returns the previous value
bool GetWindowRect(long hwnd, Rect& rect);
bool GetClientRect(long hwnd, Rect& rect);
bool SetWindowPos(long hwnd, long insertAfter, long x, long y, long cx, long cy, unsigned flags);
long GetDesktopWindow();
int ShowCursor(bool show);

}  // namespace kit::win
