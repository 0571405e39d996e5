// The zoom box: a picked or typed rate resizes the current photo window.
#include <algorithm>

#include "component/basView.h"
#include "kit/numbers.h"
#include "photo/frmPhoto.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {

int16_t frmNavToolbar::shownZoomRate() {
  Controls& k = c();
  const int16_t rate = num::round16(num::leadingNumber(k.cboZoomRate.text()));
  return slideshowRunning() || k.chkNoBorder.value() != 0 ? 0 : rate;
}

void frmNavToolbar::cboZoomRate_Click() {
  if (view().bFillingList) return;
  kit::ComboBox& zoom = c().cboZoomRate;
  if (num::leadingNumber(zoom.text()) == 0) zoom.setText(kFitToWindow);
  if (view().CurrentIndex > 0)
    if (frmPhoto* window = loadedPhotoWindow(view().CurrentIndex)) window->ResizeImage();
  takeFocusBack();
}

void frmNavToolbar::cboZoomRate_KeyPress(int& KeyAscii) {
  if (KeyAscii == kit::ascii::Enter) {
    KeyAscii = kit::ascii::None;
    kit::ComboBox& zoom = c().cboZoomRate;
    // A longer number than a rate can be is written back as the highest rate.
    const double rate = std::min(num::leadingNumber(zoom.text()), kHighestZoomRate);
    zoom.setText(num::plainDecimal(rate) + "%");
    zoom.setSelStart(0);
    zoom.setSelLength(static_cast<int>(zoom.text().size()));
    cboZoomRate_Click();
  } else if (KeyAscii == kit::ascii::Backspace || (KeyAscii >= '0' && KeyAscii <= '9')) {
    // Backspace and digits go through.
  } else {
    KeyAscii = kit::ascii::None;
  }
}

}  // namespace korvena
