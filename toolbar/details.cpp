// The details panel: the toolbar's collapsed and expanded sizes, and the
// tab strip's pages.
#include "toolbar/frmNavToolbar.h"

namespace korvena {

void frmNavToolbar::ToggleDetails(bool bCollapseOnly) {
  Controls& k = c();
  kit::Toolbar::Button& details = k.Toolbar.button("Details");
  if (details.image != "MoreDetails") {
    const float DL = details.left, DW = details.width, SW = k.Toolbar.button("Separator1").width;
    setWidth(DL + DW + SW);
    const float NC = height() - scaleHeight();
    setHeight(NC + k.Toolbar.rowHeight() + 20);
    k.Toolbar.setButtonImage(details, "MoreDetails");
  } else if (!bCollapseOnly) {
    setWidth(k.cboImageName.left() + k.cboImageName.width() + 200);
    const float NC = height() - scaleHeight();
    setHeight(k.TabStrip.top() + k.TabStrip.height() + 1.5f * NC);
    k.Toolbar.setButtonImage(details, "LessDetails");
  }
}

void frmNavToolbar::TabStrip_Click() {
  Controls& k = c();
  for (auto& [index, page] : k.fraTabStrip) page->setVisible(false);
  auto page = k.fraTabStrip.find(k.TabStrip.selectedIndex());
  if (page != k.fraTabStrip.end()) page->second->setVisible(true);
}

}  // namespace korvena
