// Commands on all photo windows at once, in slot order. Slots whose window
// was closed keep their object in the table and are skipped.
#include "component/basView.h"
#include "photo/frmPhoto.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {

void frmNavToolbar::cmdBringToFront_Click() {
  ForEachLoadedPhotoWindow([](frmPhoto& w) {
    if (w.windowState() == kit::windowState::Minimized) w.setWindowState(kit::windowState::Normal);
    w.zOrder(kit::zorder::Front);
  });
}

void frmNavToolbar::cmdSendBack_Click() {
  ForEachLoadedPhotoWindow([](frmPhoto& w) { w.zOrder(kit::zorder::Back); });
}

void frmNavToolbar::cmdMinimise_Click() {
  ForEachLoadedPhotoWindow([](frmPhoto& w) { w.setWindowState(kit::windowState::Minimized); });
}

void frmNavToolbar::cmdCloseAll_Click() {
  ForEachLoadedPhotoWindow([](frmPhoto& w) { w.unload(kit::unloadMode::Code); });
}

}  // namespace korvena
