// Scroll bars of a photo window: which bars the picture needs, the view's
// size, centring what needs no bar, and each bar's range and step.
#include <algorithm>
#include <cmath>

#include "kit/numbers.h"
#include "photo/frmPhoto.h"

namespace korvena {

int32_t CentreOffset(int32_t inner, int32_t outer) { return num::round32((static_cast<double>(outer) - inner) / 2.0); }

namespace {
// A bar is needed when it has something to scroll: an overflow of a whole
// twip or more. Single-precision sizes leave a fitted picture a hair (a
// thousandth of a twip) past a view made for it, which needs no bar.
bool overflows(double picture, double view) { return num::round32(picture - view) > 0; }

// Range, scale and bar settings of one direction. A bar's Max is 16 bits, so
// an overflow beyond 32000 twips is mapped onto 32000 units.
// A click on the track pages by the view's extent.
void layoutBar(kit::ScrollBar& bar, int32_t& range, float& scale, double overflow, double client, double page) {
  scale = 1;
  range = num::round32(std::fabs(overflow));
  if (range > 32000) scale = num::toSingle(range / 32000.0);
  bar.setMax(num::round16(range / static_cast<double>(scale)));
  const int16_t step = std::max(num::round16(bar.max() / 10.0), num::round16(client / 10.0));
  bar.setSmallChange(std::max<int16_t>(1, num::round16(step / static_cast<double>(scale))));
  bar.setLargeChange(std::max<int16_t>(1, num::round16(std::min<double>(page / scale, kit::ScrollBar::kMaxValue))));
}
}  // namespace

void frmPhoto::ScrollBar() {
  fitViewToBars();
  Controls& k = c();
  const kit::PictureBox& view = k.picForm;
  const double Pw = k.picPhoto.width(), Ph = k.picPhoto.height();
  if (!k.VScroll.enabled())
    k.picPhoto.setTop(static_cast<float>(CentreOffset(num::round32(Ph), num::round32(view.height()))));
  if (!k.HScroll.enabled())
    k.picPhoto.setLeft(static_cast<float>(CentreOffset(num::round32(Pw), num::round32(view.width()))));
  showBars();
}

void frmPhoto::fitViewToBars() {
  Controls& k = c();
  const double Cw = scaleWidth(), Ch = scaleHeight();
  const double Pw = k.picPhoto.width(), Ph = k.picPhoto.height();
  kit::PictureBox& view = k.picForm;
  // A window narrower than a bar keeps an empty view rather than a negative one.
  auto setViewWidth = [&](double w) { view.setWidth(num::toSingle(std::max(0.0, w))); };
  auto setViewHeight = [&](double h) { view.setHeight(num::toSingle(h)); };

  if (overflows(Ph, view.height())) {
    setViewWidth(Cw - k.VScroll.width());
    k.VScroll.setEnabled(true);
  } else {
    setViewWidth(Cw);
    k.VScroll.setEnabled(false);
  }
  if (overflows(Pw, view.width())) {
    if (Ch > k.HScroll.height()) {
      setViewHeight(Ch - k.HScroll.height());
      k.HScroll.setEnabled(true);
      if (overflows(Ph, view.height()) && !k.VScroll.enabled()) {
        setViewWidth(Cw - k.VScroll.width());
        k.VScroll.setEnabled(true);
      }
    }
  } else {
    setViewHeight(Ch);
    k.HScroll.setEnabled(false);
  }
}

void frmPhoto::showBars() {
  Controls& k = c();
  const double Cw = scaleWidth(), Ch = scaleHeight();
  const double Pw = k.picPhoto.width(), Ph = k.picPhoto.height();
  const kit::PictureBox& view = k.picForm;
  if (!k.VScroll.enabled()) {
    k.VScroll.setVisible(false);
  } else {
    k.VScroll.setVisible(true);
    k.VScroll.move(view.width(), view.top(), k.VScroll.width(), view.height());
    layoutBar(k.VScroll, VScrollRange, VScrollScale, Ph - view.height(), Ch, view.height());
    if (k.picPhoto.top() > 0) k.picPhoto.setTop(0);
    k.VScroll.setValue(num::round16(-k.picPhoto.top() / static_cast<double>(VScrollScale)));
  }
  if (!k.HScroll.enabled()) {
    k.HScroll.setVisible(false);
  } else {
    k.HScroll.setVisible(true);
    k.HScroll.move(0, view.height(), view.width(), k.HScroll.height());
    layoutBar(k.HScroll, HScrollRange, HScrollScale, Pw - view.width(), Cw, view.width());
    if (k.picPhoto.left() > 0) k.picPhoto.setLeft(0);
    k.HScroll.setValue(num::round16(-k.picPhoto.left() / static_cast<double>(HScrollScale)));
  }
}

void frmPhoto::picForm_MouseWheel(int Delta, int Shift) {
  // Shift turns the wheel sideways. Notches (120 each) move the bar by its
  // arrow step, the way the user's own use of the bar does; what is left of
  // a fine-grained wheel's turn waits for the next one.
  kit::ScrollBar& bar = (Shift & kit::shift::Shift) != 0 ? c().HScroll : c().VScroll;
  if (!bar.enabled()) return;
  wheelTurn_ += Delta;
  const int notches = wheelTurn_ / kit::kWheelNotch;
  wheelTurn_ %= kit::kWheelNotch;
  if (notches != 0) bar.userScroll(bar.value() - notches * bar.smallChange());
}

void frmPhoto::VScroll_Scroll() {
  Controls& k = c();
  k.picPhoto.setTop(num::toSingle(-(k.VScroll.value() * static_cast<double>(VScrollScale))));
}

void frmPhoto::HScroll_Scroll() {
  Controls& k = c();
  k.picPhoto.setLeft(num::toSingle(-(k.HScroll.value() * static_cast<double>(HScrollScale))));
}

}  // namespace korvena
