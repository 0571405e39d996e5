// The Position page: nine screen places for the photo windows.
#include <string>

#include "component/basView.h"
#include "photo/frmPhoto.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {

void frmNavToolbar::optImgPos_Click(int Index) {
  view().sImagePosition = std::to_string(Index);
  if (view().CurrentIndex <= 0) return;
  if (frmPhoto* window = loadedPhotoWindow(view().CurrentIndex)) window->PlaceOnScreen();
}

}  // namespace korvena
