#include "apps/view/toolbar_actions.h"

#include <string>

#include "component/basView.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena::host {

void SwitchToNewWindowMode() {
  frmNavToolbar::Controls& k = NavToolbar().c();
  kit::Toolbar::Button* button = k.Toolbar.findButton("NewWindow");
  if (button && button->tag == "SameWindow") k.Toolbar.userClick("NewWindow");
}

void ExpandDetails() {
  frmNavToolbar::Controls& k = NavToolbar().c();
  kit::Toolbar::Button* button = k.Toolbar.findButton("Details");
  if (button && button->image == "MoreDetails") k.Toolbar.userClick("Details");
}

void CheckBlankScreen() {
  kit::CheckBox& box = NavToolbar().c().chkBlankBack;
  if (box.value() == 0) box.userClick();
}

void StartSlideshow(uint32_t seconds) {
  frmNavToolbar::Controls& k = NavToolbar().c();
  // The interval is minutes plus seconds; the seconds box's up-down goes to 59.
  k.txtMinute.userSetText(std::to_string(seconds / 60));
  k.txtSecond.userSetText(std::to_string(seconds % 60));
  k.mnuPopOptionStartSlideshow.userClick();
}

}  // namespace korvena::host
