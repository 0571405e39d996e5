#include "support/frmBackGround.h"

#include "component/basView.h"
#include "kit/winapi.h"
#include "photo/frmPhoto.h"

namespace korvena {

frmBackGround::frmBackGround() : kit::Form("frmBackGround") {
  design.borderStyle = kit::border::None;
  design.width = 4800;
  design.height = 3600;
}

void frmBackGround::Form_Load() {
  using namespace kit::win;
  setWindowState(kit::windowState::Normal);
  Rect desktop;
  GetClientRect(GetDesktopWindow(), desktop);
  SetWindowPos(hwnd(), HWND_TOP, 0, 0, desktop.right, desktop.bottom, SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOZORDER);
}

void frmBackGround::Form_Activate() {
  // Closed windows keep their object in the table; only loaded ones come back.
  ForEachLoadedPhotoWindow([](frmPhoto& w) { w.show(); });
}

}  // namespace korvena
