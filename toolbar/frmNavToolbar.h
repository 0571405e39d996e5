#pragma once
// The navigation toolbar: a single top-most tool window with the navigation
// buttons, the zoom box, the list of open images and a details panel with
// the pages "Auto Slide", "Screen", "Open" and "Position".
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "kit/button_images.h"
#include "kit/controls.h"
#include "korvena/RuntimeError.h"

namespace korvena {

class Application;

// The toolbar's tag while a slideshow runs.
inline constexpr const char* kAutoslide = "Autoslide";
// The zoom box's first entry: the picture fits the screen.
inline constexpr const char* kFitToWindow = "Fit to Window";
// The most the slideshow interval's boxes take: minutes, and seconds besides.
inline constexpr int kMostSlideMinutes = 999;
inline constexpr int kMostSlideSeconds = 59;
// The highest zoom rate a photo window can take (its rate is a 16-bit number).
inline constexpr double kHighestZoomRate = INT16_MAX;

// The toolbar's button keys. The move buttons and the window-mode button are
// named as their images.
namespace buttons {
inline constexpr const char* kMoveFirst = kit::image::kMoveFirst;
inline constexpr const char* kMovePrevious = kit::image::kMovePrevious;
inline constexpr const char* kMoveNext = kit::image::kMoveNext;
inline constexpr const char* kMoveLast = kit::image::kMoveLast;
inline constexpr const char* kSeparator = "Separator1";
inline constexpr const char* kNewWindow = kit::image::kNewWindow;
inline constexpr const char* kDetails = "Details";
}  // namespace buttons

class frmNavToolbar : public kit::Form {
 public:
  struct Controls : kit::ControlSet {
    explicit Controls(frmNavToolbar& f);
    kit::Toolbar Toolbar;
    kit::ImageList imlToolbar;
    kit::ComboBox cboZoomRate;
    kit::ComboBox cboImageName;
    kit::TabStrip TabStrip;
    std::map<int, std::unique_ptr<kit::Frame>> fraTabStrip;  // 1 to 4
    // Auto Slide page
    kit::Label lblMinute, lblSecond;
    kit::TextBox txtMinute, txtSecond;
    kit::UpDown udnMinute, udnSecond;
    kit::CheckBox chkRepeate;
    // Screen page
    kit::CheckBox chkBlankBack, chkNoBorder;
    // Open page
    kit::CheckBox chkOpenSideway, chkOpenDownway;
    // Position page
    std::map<int, std::unique_ptr<kit::OptionButton>> optImgPos;  // 11 to 33
    kit::Label lblTop, lblLeft, lblRight, lblBottom;
    // Arrangement
    kit::CommandButton cmdBringToFront, cmdSendBack, cmdMinimise, cmdCloseAll;
    kit::Timer tmrSlideShow;
    kit::Menu mnuPopOption;
    kit::Menu& mnuPopOptionStartSlideshow;
  };

  frmNavToolbar();
  Controls& c() { return static_cast<Controls&>(controlSet()); }
  const Controls* peek() const { return static_cast<const Controls*>(controlSetIfLoaded()); }

  void SetEventObject(Application* objNew) { EventObject = objNew; }
  Application* eventObject() const { return EventObject; }
  bool slideshowRunning() const { return tag() == kAutoslide; }
  // The rate photo windows are shown at: the zoom box's, or 0 (fit to the
  // screen) in a slideshow or with no border. NOTE: error 6 when the box
  // holds a number beyond 16 bits, even when the rate would be 0.
  int16_t shownZoomRate();

  // A settings-store failure met while unloading, for the caller of the unload.
  std::optional<RuntimeError> takeUnloadError();

 protected:
  std::unique_ptr<kit::ControlSet> createControls() override;
  void Form_Load() override;
  void Form_KeyDown(int& KeyCode, int Shift) override;
  void Form_QueryUnload(int& Cancel, int UnloadMode) override;
  void Form_Unload(int& Cancel) override;

 private:
  Application& events();  // EventObject, error 91 when it was never set

  // Form_Load's steps. The zoom box beside the buttons (at `left`) with its
  // entries and the stored rate; the details pages below the button row,
  // under the tab strip, the first one shown.
  void fillZoomBox(float left);
  void layOutPages();

  // Navigation
  void Toolbar_ButtonClick(kit::Toolbar::Button& Button);
  void Toolbar_ButtonDropDown(kit::Toolbar::Button& Button);
  void cboImageName_Click();
  // Details
  // The collapsed toolbar: its buttons and a separator's gap (where the zoom
  // box starts), one button row high.
  float collapsedWidth();
  float collapsedHeight();
  void ToggleDetails(bool bCollapseOnly);
  void TabStrip_Click();
  // Zoom
  void cboZoomRate_Click();
  void cboZoomRate_KeyPress(int& KeyAscii);
  // Placement
  void optImgPos_Click(int Index);
  // Slideshow
  void txtMinute_Change();
  void txtSecond_Change();
  void udnMinute_MouseDown();
  void udnSecond_MouseDown();
  void mnuPopOptionStartSlideshow_Click();
  void tmrSlideShow_Timer();
  // A tick spent on the minutes' countdown: true while minutes remain, or
  // when the seconds' interval starts now that they are over.
  bool countDownMinute();
  // Screen modes
  void chkBlankBack_Click();
  void chkNoBorder_Click();
  // Arrangement
  void cmdBringToFront_Click();
  void cmdSendBack_Click();
  void cmdMinimise_Click();
  void cmdCloseAll_Click();

  void setNewWindowMode(bool newWindow);
  // Takes the keyboard back after a command. A hidden toolbar (a host or a
  // test driving it before any photo was shown) has nothing to take back.
  void takeFocusBack();

  Application* EventObject = nullptr;
  std::optional<RuntimeError> unloadError_;
};

}  // namespace korvena
