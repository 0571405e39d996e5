#include "support/basWindow.h"

#include <cstdint>

#include "component/basView.h"
#include "kit/winapi.h"
#include "korvena/RuntimeError.h"

namespace korvena {

namespace {
using namespace kit::win;

void toggle(long hWnd, int index, long mask) {
  if (mask == 0) return;
  const long word = GetWindowLongA(hWnd, index);
  SetWindowLongA(hWnd, index, word ^ mask);
}

void toggleStyle(long hWnd, int32_t code) {
  using namespace kit;
  switch (code) {
    case border::None:
      break;
    case border::FixedSingle:
    case border::FixedToolWindow:
      toggle(hWnd, GWL_STYLE, ws::Caption);
      break;
    case border::FixedDialog:
      toggle(hWnd, GWL_EXSTYLE, ws::ExDlgModalFrame | ws::ExWindowEdge);
      toggle(hWnd, GWL_STYLE, ws::Caption | ws::SysMenu | ws::DlgModalFrame);
      break;
    default:
      toggle(hWnd, GWL_STYLE, ws::Caption | ws::ThickFrame);
      break;
  }
}

long checkedDifference(long a, long b) {
  const int64_t d = static_cast<int64_t>(a) - b;
  if (d < INT32_MIN || d > INT32_MAX) throw RuntimeError(err::Overflow, "Overflow");
  return static_cast<long>(d);
}
}  // namespace

void ChangeBorderStyle(long hWnd, uint8_t OldStyle, int32_t NewStyle) {
  toggleStyle(hWnd, OldStyle);
  toggleStyle(hWnd, NewStyle);
  Rect r;
  GetWindowRect(hWnd, r);
  const long width = checkedDifference(r.right, r.left);
  const long height = checkedDifference(r.bottom, r.top);
  // A one-pixel wider size and back makes the platform apply the new frame.
  SetWindowPos(hWnd, HWND_TOP, 0, 0, checkedDifference(width, -1), height, SWP_NOMOVE);
  SetWindowPos(hWnd, HWND_TOP, 0, 0, width, height, SWP_NOMOVE);
}

void ShowMouseCursor(bool bShow) {
  ShowCursor(bShow);
  view().bCursorShown = bShow;
}

}  // namespace korvena
