// The Screen page: a blank background behind the photo windows, and
// photo windows without a frame.
#include "component/basView.h"
#include "photo/frmPhoto.h"
#include "support/basWindow.h"
#include "support/frmBackGround.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {

void frmNavToolbar::chkBlankBack_Click() {
  if (c().chkBlankBack.value() != 0)
    BackGround().show();
  else
    BackGround().hide();
}

void frmNavToolbar::chkNoBorder_Click() {
  if (view().CurrentIndex == 0) return;
  frmPhoto* window = loadedPhotoWindow(view().CurrentIndex);
  if (!window) return;
  ChangeBorderStyle(window->hwnd(), static_cast<uint8_t>(window->borderStyle()), kit::border::None);
  window->ResizeImage();
  takeFocusBack();
}

}  // namespace korvena
