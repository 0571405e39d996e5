#pragma once
// The navigation toolbar: a single top-most tool window with the navigation
// buttons, the zoom box, the list of open images and a details panel with
// the pages "Auto Slide", "Screen", "Open" and "Position".
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "kit/controls.h"
#include "korvena/RuntimeError.h"

namespace korvena {

class Application;

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

  // Navigation
  void Toolbar_ButtonClick(kit::Toolbar::Button& Button);
  void Toolbar_ButtonDropDown(kit::Toolbar::Button& Button);
  void cboImageName_Click();
  // Details
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
