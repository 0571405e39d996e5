#pragma once
// A photo window: shows one image, sized by the fit rule or the zoom rate,
// placed by the position code, with scroll bars when the picture is larger
// than its view.
#include <cstdint>
#include <string>

#include "kit/controls.h"

namespace korvena {

// The offset of a window along one screen axis for one digit of the
// position code: 1 start, 2 centre, 3 end, anything else 0.
int32_t AlignOffset(int32_t screenExtent, int32_t windowExtent, uint8_t digit);
// The offset that centres an extent of size inner in one of size outer.
int32_t CentreOffset(int32_t inner, int32_t outer);

// The size (twips) a picture is shown at for a zoom rate (0 or less: fit to
// the screen, roomWidth being the screen's width less the window's border),
// and the zoom factors that go with it. WidthFitPercent comes back unchanged
// unless the rate fits the picture.
struct PictureSize {
  float height;
  float width;
  float ZoomPercent;
  float WidthFitPercent;
};
PictureSize ShownPictureSize(int16_t rate, int32_t PictureHeight, int32_t PictureWidth, float HeightPercent,
                             float WidthPercent, double screenHeight, double roomWidth, float WidthFitPercent);

class frmPhoto : public kit::Form {
 public:
  struct Controls : kit::ControlSet {
    explicit Controls(frmPhoto& f);
    kit::PictureBox picForm;
    kit::ImageControl picPhoto;
    kit::ScrollBar HScroll;
    kit::ScrollBar VScroll;
    kit::Timer tmrOpen;
    kit::Menu mnuPop;
    kit::Menu& mnuPopClose;
  };

  frmPhoto();
  Controls& c() { return static_cast<Controls&>(controlSet()); }
  // The controls of a loaded window, without loading it (for snapshots).
  const Controls* peek() const { return static_cast<const Controls*>(controlSetIfLoaded()); }

  void SetID(int16_t& ControlIndex);
  bool SetImage(const std::string& sFileName);
  void ResizeImage();
  void ScrollBar();
  // Moves the window to its place on the screen by the position code.
  void PlaceOnScreen();

  // The user's right-button release at a point of the view (twips).
  void userRightClick(float x, float y);

  int16_t ResizeGuard = 0;
  int16_t FrameHeight = 0;
  int16_t FrameWidth = 0;
  int32_t PictureHeight = 0;
  int32_t PictureWidth = 0;
  float HeightPercent = 0;
  float WidthPercent = 0;
  float ZoomPercent = 0;
  float WidthFitPercent = 0;
  int32_t VScrollRange = 0;
  float VScrollScale = 0;
  int32_t HScrollRange = 0;
  float HScrollScale = 0;

 protected:
  std::unique_ptr<kit::ControlSet> createControls() override;
  void Form_Load() override;
  void Form_Activate() override;
  void Form_Resize() override;
  void Form_KeyDown(int& KeyCode, int Shift) override;
  void Form_KeyPress(int& KeyAscii) override;
  void Form_Unload(int& Cancel) override;

 private:
  void picPhoto_MouseUp(int Button, int Shift, float X, float Y);
  void picForm_MouseWheel(int Delta, int Shift);
  void mnuPopClose_Click();
  void tmrOpen_Timer();
  void VScroll_Scroll();
  void VScroll_Change() { VScroll_Scroll(); }
  void HScroll_Scroll();
  void HScroll_Change() { HScroll_Scroll(); }
  void StopSlideshowFromPhoto();
  // ResizeImage's steps. The picture's size for a rate (0: fit, the fitted
  // picture taking roomWidth, the screen's width less the border, so that its
  // window is never wider than the screen nor its view narrower than the
  // picture), with what that size shows decoded.
  PictureSize sizePicture(int16_t rate, double Sh, double roomWidth);
  // The window's height, then width, each at most the screen; a bar's
  // thickness is added where the other direction overflows.
  void fitWindowTo(float picWidth, float picHeight, double Sh, double Sw, double bh, double bw);
  // In a slideshow, the opening animation: the window grows from nothing
  // downward, sideways or both, the show paused meanwhile.
  void startOpening();
  // ScrollBar's steps: the bars each direction needs and the view beside
  // them; then each bar shown with its range, or hidden.
  void fitViewToBars();
  void showBars();
  int16_t slotFromTag() const;

  // The full size the opening animation grows the window back to.
  float openTargetWidth_ = 0;
  float openTargetHeight_ = 0;
  // The wheel's turn not yet spent on a whole notch.
  int wheelTurn_ = 0;
};

// Decodes the picture of `path` ahead, on the workers, for the size the
// current photo window would show it at, so that opening it there later
// paints at once (kit/picture_prefetch.h). Nothing without a photo window.
void PrefetchPhoto(const std::string& path);

}  // namespace korvena
