#include "kit/winapi.h"

#include <cmath>

#include "kit/form.h"

namespace kit::win {

namespace {
constexpr long kDesktop = 0x10;

Form* formOf(long hwnd) {
  if (hwnd == 0) return nullptr;
  for (Form* f : platform().forms())
    if (f->hwnd() == hwnd) return f;
  return nullptr;
}

long toPixels(float twips) { return std::lround(twips / kTwipsPerPixel); }
}  // namespace

long GetWindowLongA(long hwnd, int index) {
  Form* f = formOf(hwnd);
  if (!f) return 0;
  if (index == GWL_STYLE) return f->style();
  if (index == GWL_EXSTYLE) return f->exStyle();
  return 0;
}

long SetWindowLongA(long hwnd, int index, long value) {
  Form* f = formOf(hwnd);
  if (!f) return 0;
  const long old = GetWindowLongA(hwnd, index);
  if (index == GWL_STYLE) f->setStyle(value);
  if (index == GWL_EXSTYLE) f->setExStyle(value);
  return old;
}

bool GetWindowRect(long hwnd, Rect& rect) {
  Form* f = formOf(hwnd);
  if (!f) return false;
  rect.left = toPixels(f->left());
  rect.top = toPixels(f->top());
  rect.right = rect.left + toPixels(f->width());
  rect.bottom = rect.top + toPixels(f->height());
  return true;
}

bool GetClientRect(long hwnd, Rect& rect) {
  if (hwnd == kDesktop) {
    rect = {0, 0, toPixels(platform().screenWidth()), toPixels(platform().screenHeight())};
    return true;
  }
  Form* f = formOf(hwnd);
  if (!f) return false;
  rect = {0, 0, toPixels(f->scaleWidth()), toPixels(f->scaleHeight())};
  return true;
}

bool SetWindowPos(long hwnd, long insertAfter, long x, long y, long cx, long cy, unsigned flags) {
  Form* f = formOf(hwnd);
  if (!f) return false;
  float left = f->left(), top = f->top(), width = f->width(), height = f->height();
  if (!(flags & SWP_NOMOVE)) {
    left = static_cast<float>(x) * kTwipsPerPixel;
    top = static_cast<float>(y) * kTwipsPerPixel;
  }
  if (!(flags & SWP_NOSIZE)) {
    width = static_cast<float>(cx) * kTwipsPerPixel;
    height = static_cast<float>(cy) * kTwipsPerPixel;
  }
  if (!(flags & SWP_NOZORDER)) {
    if (insertAfter == HWND_TOPMOST) f->setTopmost(true);
    if (insertAfter == HWND_NOTOPMOST) f->setTopmost(false);
  }
  f->move(left, top, width, height);
  if (flags & SWP_SHOWWINDOW) f->showWithoutActivating();
  if (!(flags & SWP_NOZORDER) && insertAfter != HWND_BOTTOM) f->zOrder(zorder::Front);
  if (!(flags & (SWP_NOACTIVATE | SWP_NOZORDER)) && f->visible() && insertAfter == HWND_TOP) f->setFocus();
  return true;
}

long GetDesktopWindow() { return kDesktop; }

int ShowCursor(bool show) { return platform().showCursor(show); }

}  // namespace kit::win
