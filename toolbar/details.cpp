// The details panel: the toolbar's collapsed and expanded sizes, and the
// tab strip's pages.
#include "toolbar/frmNavToolbar.h"

namespace korvena {

float frmNavToolbar::collapsedWidth() {
  kit::Toolbar& bar = c().Toolbar;
  const kit::Toolbar::Button& details = bar.button(buttons::kDetails);
  return details.left + details.width + bar.button(buttons::kSeparator).width;
}

float frmNavToolbar::collapsedHeight() {
  const float NC = height() - scaleHeight();
  return NC + c().Toolbar.rowHeight() + 20;
}

void frmNavToolbar::ToggleDetails(bool bCollapseOnly) {
  Controls& k = c();
  kit::Toolbar::Button& details = k.Toolbar.button(buttons::kDetails);
  if (details.image != kit::image::kMoreDetails) {
    setWidth(collapsedWidth());
    setHeight(collapsedHeight());
    k.Toolbar.setButtonImage(details, kit::image::kMoreDetails);
  } else if (!bCollapseOnly) {
    setWidth(k.cboImageName.left() + k.cboImageName.width() + 200);
    const float NC = height() - scaleHeight();
    setHeight(k.TabStrip.top() + k.TabStrip.height() + 1.5f * NC);
    k.Toolbar.setButtonImage(details, kit::image::kLessDetails);
  }
}

void frmNavToolbar::TabStrip_Click() {
  Controls& k = c();
  for (auto& [index, page] : k.fraTabStrip) page->setVisible(false);
  auto page = k.fraTabStrip.find(k.TabStrip.selectedIndex());
  if (page != k.fraTabStrip.end()) page->second->setVisible(true);
}

}  // namespace korvena
