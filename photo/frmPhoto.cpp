// The photo window's life: load, activation, resizing, keys, its pop-up
// menu, loading a picture, the opening animation and unload.
#include "photo/frmPhoto.h"

#include <new>

#include "component/basView.h"
#include "kit/numbers.h"
#include "kit/picture.h"
#include "kit/picture_messages.h"
#include "kit/picture_prefetch.h"
#include "support/basHTMLHelp.h"
#include "support/basWindow.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {

namespace {
constexpr float kBarThickness = 240;
}

frmPhoto::Controls::Controls(frmPhoto& f)
    : picForm(f, "picForm"),
      picPhoto(f, "picPhoto"),
      HScroll(f, "HScroll", kit::ScrollBar::Orientation::Horizontal),
      VScroll(f, "VScroll", kit::ScrollBar::Orientation::Vertical),
      tmrOpen(f, "tmrOpen"),
      mnuPop(f, "mnuPop", "PopMenu"),
      mnuPopClose(mnuPop.addItem("mnuPopClose", "&Close")) {
  picPhoto.setContainer(&picForm);
  HScroll.move(0, 3000, 4470, kBarThickness);
  VScroll.move(4470, 0, kBarThickness, 3000);
  for (kit::ScrollBar* bar : {&HScroll, &VScroll}) {
    bar->setVisible(false);
    bar->setEnabled(false);
  }
  tmrOpen.setInterval(30);
  mnuPop.setVisible(false);
}

frmPhoto::frmPhoto() : kit::Form("frmPhoto") {
  design.borderStyle = kit::border::Sizable;
  design.left = 0;
  design.top = 0;
  design.width = 4800;
  design.height = 3600;
  design.keyPreview = true;
  design.helpContextId = 15;
}

std::unique_ptr<kit::ControlSet> frmPhoto::createControls() {
  auto controls = std::make_unique<Controls>(*this);
  controls->picPhoto.onMouseUp = [this](int b, int s, float x, float y) { picPhoto_MouseUp(b, s, x, y); };
  controls->picForm.onMouseWheel = [this](int delta, int shift) { picForm_MouseWheel(delta, shift); };
  controls->mnuPopClose.onClick = [this] { mnuPopClose_Click(); };
  controls->tmrOpen.onTimer = [this] { tmrOpen_Timer(); };
  controls->VScroll.onScroll = [this] { VScroll_Scroll(); };
  controls->VScroll.onChange = [this] { VScroll_Change(); };
  controls->HScroll.onScroll = [this] { HScroll_Scroll(); };
  controls->HScroll.onChange = [this] { HScroll_Change(); };
  return controls;
}

int16_t frmPhoto::slotFromTag() const { return num::round16(num::leadingNumber(tag())); }

void frmPhoto::Form_Load() {
  ResizeGuard = 1;
  FrameHeight = num::round16(height() - scaleHeight());
  FrameWidth = num::round16(width() - scaleWidth());
  c().picForm.move(0, 0, scaleWidth(), scaleHeight());
  hide();
  if (NavToolbar().c().chkNoBorder.value() != 0)
    ChangeBorderStyle(hwnd(), static_cast<uint8_t>(borderStyle()), kit::border::None);
}

void frmPhoto::Form_Activate() {
  view().CurrentIndex = slotFromTag();
  frmNavToolbar& toolbar = NavToolbar();
  if (!toolbar.slideshowRunning()) toolbar.show();
}

void frmPhoto::Form_Resize() {
  if (ResizeGuard != 0) return;
  if (windowState() == kit::windowState::Minimized) return;
  c().picForm.move(0, 0, scaleWidth(), scaleHeight());
  ScrollBar();
}

void frmPhoto::Form_KeyDown(int& KeyCode, int /*Shift*/) {
  if (KeyCode == kit::key::F1) ShowHelp(helpContextId());
}

void frmPhoto::Form_KeyPress(int& KeyAscii) {
  if (KeyAscii == kit::ascii::Escape) StopSlideshowFromPhoto();
}

void frmPhoto::picPhoto_MouseUp(int Button, int /*Shift*/, float X, float Y) {
  if (Button != kit::mouse::Right) return;
  // The menu opens at the pointer: the point on the picture, taken to the
  // window by the picture's offset in the view (negative when scrolled).
  const Controls& k = c();
  popupMenu(c().mnuPop, X + k.picPhoto.left() + k.picForm.left(), Y + k.picPhoto.top() + k.picForm.top());
}

void frmPhoto::userRightClick(float x, float y) {
  if (!loaded()) return;
  kit::ImageControl& pic = c().picPhoto;
  // Only the part of the view that the picture covers answers the click.
  if (x >= pic.left() && x < pic.left() + pic.width() && y >= pic.top() && y < pic.top() + pic.height())
    pic.userMouseUp(kit::mouse::Right, 0, x - pic.left(), y - pic.top());
}

void frmPhoto::mnuPopClose_Click() { unload(kit::unloadMode::Code); }

void frmPhoto::Form_Unload(int& /*Cancel*/) {
  StopSlideshowFromPhoto();
  RemovePhotoWindow(slotFromTag());
}

void frmPhoto::StopSlideshowFromPhoto() {
  frmNavToolbar& toolbar = NavToolbar();
  if (!toolbar.slideshowRunning()) return;
  ShowMouseCursor(true);
  toolbar.c().tmrSlideShow.setTimerEnabled(false);
  toolbar.setTag("");
  toolbar.show();
  kit::Toolbar& bar = toolbar.c().Toolbar;
  bar.setButtonEnabled(bar.button(buttons::kMoveNext), true);
}

void frmPhoto::SetID(int16_t& ControlIndex) { setTag(std::to_string(ControlIndex)); }

namespace {

// The size (twips) ResizeImage will show a picture at, reckoned before the
// picture is taken: the rate as the zoom box, a slideshow or borderless mode
// give it, and the picture's sizes as SetImage records them. A rate that does
// not fit 16 bits is left for ResizeImage to report; the natural size stands in.
PictureSize prospectiveSize(const kit::Picture& picture, float widthFitPercent, int16_t frameWidth) {
  frmNavToolbar& toolbar = NavToolbar();
  const float height = picture.heightTwips();
  const float width = picture.widthTwips();
  int16_t rate = 0;
  try {
    rate = toolbar.shownZoomRate();
  } catch (const RuntimeError&) {
    return {height, width, 100, widthFitPercent};
  }
  const bool noBorder = toolbar.c().chkNoBorder.value() != 0;
  const double roomWidth = kit::screenWidth() - (noBorder ? 0 : frameWidth);
  return ShownPictureSize(rate, num::round32(height), num::round32(width), num::toSingle(height / 100.0),
                          num::toSingle(width / 100.0), kit::screenHeight(), roomWidth, widthFitPercent);
}

}  // namespace

void PrefetchPhoto(const std::string& path) {
  frmPhoto* window = loadedPhotoWindow(view().CurrentIndex);
  if (!window) return;
  // The window's figures as they are now: the prefetch may start later.
  auto shownFor = [fit = window->WidthFitPercent, frame = window->FrameWidth](const kit::Picture& picture) {
    const PictureSize shown = prospectiveSize(picture, fit, frame);
    return QSize(kit::Picture::pixelsFromTwips(shown.width), kit::Picture::pixelsFromTwips(shown.height));
  };
  kit::PrefetchCache::shared().prefetch(path, shownFor, window->c().picPhoto.picture());
}

bool frmPhoto::SetImage(const std::string& sFileName) {
  kit::platform().setMousePointer(kit::pointer::Hourglass);
  kit::ImageControl& pic = c().picPhoto;
  std::string failure;
  try {
    // Read the header, then decode only what the window will show, before
    // anything changes: a file that does not decode leaves the earlier picture.
    // A neighbour decoded ahead is taken when its file is unchanged.
    std::shared_ptr<kit::Picture> picture = kit::PrefetchCache::shared().take(sFileName);
    if (!picture) picture = kit::Picture::open(sFileName);
    const PictureSize shown = prospectiveSize(*picture, WidthFitPercent, FrameWidth);
    if (!picture->ensureDecodedTwips(shown.width, shown.height))
      throw RuntimeError(kit::kInvalidPictureError, picture->lastError());
    pic.setStretch(false);
    pic.setPicture(std::move(picture));
    PictureHeight = num::round32(pic.height());
    PictureWidth = num::round32(pic.width());
    pic.setStretch(true);
    HeightPercent = num::toSingle(pic.height() / 100.0);
    WidthPercent = num::toSingle(pic.width() / 100.0);
    ResizeImage();
    return true;
  } catch (const RuntimeError& e) {
    failure = e.description();
  } catch (const std::bad_alloc&) {
    failure = kit::kOutOfMemory;
  }
  kit::platform().msgBox(failure, "Error", kit::msgbox::Exclamation);
  kit::platform().setMousePointer(kit::pointer::Default);
  return false;
}

void frmPhoto::tmrOpen_Timer() {
  frmNavToolbar& toolbar = NavToolbar();
  bool finished = true;
  if (toolbar.c().chkOpenDownway.value() != 0) {
    if (height() < openTargetHeight_) {
      setHeight(height() + 100);
      finished = false;
    } else {
      setHeight(openTargetHeight_);
    }
  }
  if (toolbar.c().chkOpenSideway.value() != 0) {
    if (width() < openTargetWidth_) {
      setWidth(width() + 100);
      finished = false;
    } else {
      setWidth(openTargetWidth_);
    }
  }
  if (finished) {
    c().tmrOpen.setTimerEnabled(false);
    ResizeGuard = 0;
    // The show goes on only if nothing stopped it while the window grew.
    if (toolbar.slideshowRunning()) toolbar.c().tmrSlideShow.setTimerEnabled(true);
  }
}

}  // namespace korvena
