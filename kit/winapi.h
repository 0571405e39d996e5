#pragma once
// Window-handle calls of the platform, for code written against them: style
// words, outer rectangles, positioning, the cursor and the desktop window.
// An invalid handle makes every call do nothing.
namespace kit::win {

struct Rect {
  long left = 0, top = 0, right = 0, bottom = 0;  // pixels
};

inline constexpr int GWL_STYLE = -16;
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr long HWND_TOP = 0;
inline constexpr long HWND_TOPMOST = -1;
inline constexpr long HWND_NOTOPMOST = -2;
inline constexpr unsigned SWP_NOSIZE = 0x1;
inline constexpr unsigned SWP_NOMOVE = 0x2;
inline constexpr unsigned SWP_NOZORDER = 0x4;
inline constexpr unsigned SWP_NOACTIVATE = 0x10;
inline constexpr unsigned SWP_SHOWWINDOW = 0x40;

long GetWindowLongA(long hwnd, int index);
long SetWindowLongA(long hwnd, int index, long value);  // returns the previous value
bool GetWindowRect(long hwnd, Rect& rect);
bool GetClientRect(long hwnd, Rect& rect);
bool SetWindowPos(long hwnd, long insertAfter, long x, long y, long cx, long cy, unsigned flags);
long GetDesktopWindow();
int ShowCursor(bool show);

}  // namespace kit::win
