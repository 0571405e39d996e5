#pragma once
// Start-up options of korvena-view that the user would otherwise set on the
// toolbar. Each one works the toolbar's own controls as a click or typing
// would, so the toolbar's buttons, boxes and the component stay in step.
// The toolbar must be loaded (Application::ShowForm with "pbMDILoading").
#include <cstdint>

namespace korvena::host {

// Clicks the window-mode button: same-window mode becomes new-window mode.
void SwitchToNewWindowMode();
// Clicks "Details" when the panel is collapsed: the toolbar widens to show
// the zoom box, the image list and the option pages.
void ExpandDetails();
// Checks "Blank Screen" on the Screen page when it is not checked.
void CheckBlankScreen();
// Types the interval (whole seconds, at least 1) into the minute and second
// boxes of the Auto Slide page and chooses "Start Slideshow".
void StartSlideshow(uint32_t seconds);

}  // namespace korvena::host
