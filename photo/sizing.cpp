// Sizing a photo window: the rate from the zoom box (or the fit rule), the
// window's size at most the screen, its place by the position code, its caption.
#include <cmath>

#include "component/basView.h"
#include "kit/numbers.h"
#include "kit/picture.h"
#include "photo/frmPhoto.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {

int32_t AlignOffset(int32_t screenExtent, int32_t windowExtent, uint8_t digit) {
  switch (digit) {
    case 1:
      return 0;
    case 2:
      return num::round32(screenExtent / 2.0 - windowExtent / 2.0);
    case 3: {
      const int64_t d = static_cast<int64_t>(screenExtent) - windowExtent;
      if (d < INT32_MIN || d > INT32_MAX) throw RuntimeError(err::Overflow, "Overflow");
      return static_cast<int32_t>(d);
    }
    default:
      return 0;
  }
}

namespace {
// A character of the position code read as a digit (anything else reads 0).
uint8_t positionDigit(char ch) { return ch >= '0' && ch <= '9' ? static_cast<uint8_t>(ch - '0') : 0; }

// The name of a window's own picture: the image list's entry for its slot.
// The list's selected text follows the last opened image, not activation,
// so it may name another window's picture.
std::string imageNameOf(const frmNavToolbar& toolbar, int16_t slot) {
  const kit::ComboBox& list = toolbar.peek()->cboImageName;
  for (int i = 0; i < list.listCount(); ++i)
    if (list.itemData(i) == slot) return list.itemText(i);
  return "";
}
}  // namespace

void frmPhoto::PlaceOnScreen() {
  const std::string& position = view().sImagePosition;
  const uint8_t vertical = position.empty() ? 0 : positionDigit(position.front());
  const uint8_t horizontal = position.empty() ? 0 : positionDigit(position.back());
  setTop(static_cast<float>(AlignOffset(num::round32(kit::screenHeight()), num::round32(height()), vertical)));
  setLeft(static_cast<float>(AlignOffset(num::round32(kit::screenWidth()), num::round32(width()), horizontal)));
}

PictureSize ShownPictureSize(int16_t rate, int32_t PictureHeight, int32_t PictureWidth, float HeightPercent,
                             float WidthPercent, double Sh, double Sw, float WidthFitPercent) {
  float ZoomPercent;
  float picHeight, picWidth;
  if (rate <= 0) {
    ZoomPercent = 100;
    WidthFitPercent = 100;
    if (Sh < PictureHeight + 1500.0 || Sw < PictureWidth) {
      if (Sh - 1500 < PictureHeight) ZoomPercent = num::toSingle((Sh - 1500) / PictureHeight * 100);
      if (Sw < PictureWidth) WidthFitPercent = num::toSingle(Sw / PictureWidth * 100);
      if (WidthFitPercent < ZoomPercent) ZoomPercent = WidthFitPercent;
      picHeight = num::toSingle(static_cast<double>(ZoomPercent) * HeightPercent);
      picWidth = num::toSingle(static_cast<double>(ZoomPercent) * WidthPercent);
    } else {
      picHeight = static_cast<float>(PictureHeight);
      picWidth = static_cast<float>(PictureWidth);
    }
  } else if (rate == 100) {
    ZoomPercent = 100;
    picHeight = static_cast<float>(PictureHeight);
    picWidth = static_cast<float>(PictureWidth);
  } else {
    ZoomPercent = rate;
    picHeight = num::toSingle(static_cast<double>(rate) * HeightPercent);
    picWidth = num::toSingle(static_cast<double>(rate) * WidthPercent);
  }
  return {picHeight, picWidth, ZoomPercent, WidthFitPercent};
}

void frmPhoto::ResizeImage() {
  frmNavToolbar& toolbar = NavToolbar();
  Controls& k = c();
  hide();
  k.picPhoto.move(0, 0, k.picPhoto.width(), k.picPhoto.height());

  const int16_t rate = toolbar.shownZoomRate();
  const bool slideshow = toolbar.slideshowRunning();
  const bool noBorder = toolbar.c().chkNoBorder.value() != 0;
  ResizeGuard = 1;
  const double bh = noBorder ? 0 : FrameHeight;
  const double bw = noBorder ? 0 : FrameWidth;

  const double Sh = kit::screenHeight();
  const double Sw = kit::screenWidth();
  const PictureSize shown = sizePicture(rate, Sh, Sw - bw);
  fitWindowTo(shown.width, shown.height, Sh, Sw, bh, bw);

  k.picForm.move(k.picForm.left(), k.picForm.top(), num::toSingle(width() - bw), num::toSingle(height() - bh));
  if (!slideshow && !noBorder) ScrollBar();

  PlaceOnScreen();

  if (!noBorder) setCaption(imageNameOf(toolbar, slotFromTag()) + " " + num::captionNumber(ZoomPercent) + "%");

  if (slideshow) {
    startOpening();
  } else {
    ResizeGuard = 0;
  }
  show();
  kit::platform().setMousePointer(kit::pointer::Default);
}

PictureSize frmPhoto::sizePicture(int16_t rate, double Sh, double roomWidth) {
  Controls& k = c();
  const PictureSize shown =
      ShownPictureSize(rate, PictureHeight, PictureWidth, HeightPercent, WidthPercent, Sh, roomWidth, WidthFitPercent);
  ZoomPercent = shown.ZoomPercent;
  WidthFitPercent = shown.WidthFitPercent;
  k.picPhoto.move(k.picPhoto.left(), k.picPhoto.top(), shown.width, shown.height);
  // The picture decodes what this size shows; if that fails it keeps the
  // pixels it has, which the view scales.
  if (const std::shared_ptr<kit::Picture>& picture = k.picPhoto.picture())
    picture->ensureDecodedTwips(shown.width, shown.height);
  return shown;
}

void frmPhoto::fitWindowTo(float picWidth, float picHeight, double Sh, double Sw, double bh, double bw) {
  Controls& k = c();
  int16_t v = 0;
  if (num::toSingle(Sh - bh) < picHeight) {
    setHeight(num::toSingle(Sh));
    v = num::round16(k.VScroll.width());
  } else {
    setHeight(num::toSingle(picHeight + bh));
  }
  if (num::toSingle(Sw - v - bw) < picWidth) {
    setWidth(num::toSingle(Sw));
    if (v == 0) {
      setHeight(num::toSingle(static_cast<double>(height()) + k.HScroll.height()));
      if (height() > Sh) setHeight(num::toSingle(Sh));
    }
  } else {
    setWidth(num::toSingle(v + static_cast<double>(picWidth) + bw));
  }
}

void frmPhoto::startOpening() {
  frmNavToolbar& toolbar = NavToolbar();
  const bool sideway = toolbar.c().chkOpenSideway.value() != 0;
  const bool downway = toolbar.c().chkOpenDownway.value() != 0;
  if (!sideway && !downway) return;
  toolbar.c().tmrSlideShow.setTimerEnabled(false);
  // The animation grows the window back to the whole size it has now.
  openTargetHeight_ = height();
  openTargetWidth_ = width();
  if (downway) setHeight(0);
  if (sideway) setWidth(0);
  c().tmrOpen.setTimerEnabled(true);
}

}  // namespace korvena
