// Commands on all photo windows at once, in slot order. Slots whose window
// was closed keep their object in the table and are skipped.
#include "component/basView.h"
#include "photo/frmPhoto.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {


void frmNavToolbar::cmdBringToFront_Click() {
  ForEachLoadedPhotoWindow([](frmPhoto& w) {
    if (w.windowState() == 1) w.setWindowState(0);
    w.zOrder(0);
  });
}

void frmNavToolbar::cmdSendBack_Click() {
  ForEachLoadedPhotoWindow([](frmPhoto& w) { w.zOrder(1); });
}

void frmNavToolbar::cmdMinimise_Click() {
  ForEachLoadedPhotoWindow([](frmPhoto& w) { w.setWindowState(1); });
}

void frmNavToolbar::cmdCloseAll_Click() {
  ForEachLoadedPhotoWindow([](frmPhoto& w) { w.unload(1); });
}

}  // namespace korvena
