#pragma once
// Start-up options of korvena-view that the user would otherwise set on the
// toolbar. Each one works the toolbar's own controls as a click or typing
// would, so the toolbar's buttons, boxes and the component stay in step.
// The toolbar must be loaded (Application::ShowForm with "pbMDILoading").
// Header-only, so the tests drive the same code on the headless platform.
#include <cstdint>
#include <string>

#include "component/basView.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena::host {

// Clicks the window-mode button: same-window mode becomes new-window mode.
inline void SwitchToNewWindowMode() {
  frmNavToolbar::Controls& k = NavToolbar().c();
  kit::Toolbar::Button* button = k.Toolbar.findButton(buttons::kNewWindow);
  if (button && button->tag == kit::image::kSameWindow) k.Toolbar.userClick(buttons::kNewWindow);
}

// Clicks the details button when the panel is collapsed: the toolbar widens to show
// the zoom box, the image list and the option pages.
inline void ExpandDetails() {
  frmNavToolbar::Controls& k = NavToolbar().c();
  kit::Toolbar::Button* button = k.Toolbar.findButton(buttons::kDetails);
  if (button && button->image == kit::image::kMoreDetails) k.Toolbar.userClick(buttons::kDetails);
}

// Checks "Blank Screen" on the Screen page when it is not checked.
inline void CheckBlankScreen() {
  kit::CheckBox& box = NavToolbar().c().chkBlankBack;
  if (box.value() == 0) box.userClick();
}

// Types the interval (whole seconds, at least 1) into the minute and second
// boxes of the Auto Slide page and chooses "Start Slideshow".
inline void StartSlideshow(uint32_t seconds) {
  frmNavToolbar::Controls& k = NavToolbar().c();
  // The interval is minutes plus seconds; the seconds box's up-down goes to 59.
  k.txtMinute.userSetText(std::to_string(seconds / 60));
  k.txtSecond.userSetText(std::to_string(seconds % 60));
  k.mnuPopOptionStartSlideshow.userClick();
}

}  // namespace korvena::host
