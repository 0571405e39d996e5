// Navigation: the buttons ask the host for an image through ThumbNav, switch
// between same-window and new-window opening, and the image list brings a
// window forward.
#include "component/basView.h"
#include "korvena/Application.h"
#include "photo/frmPhoto.h"
#include "support/frmBackGround.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {

namespace {
int moveDirection(const std::string& key) {
  if (key == buttons::kMoveFirst) return MoveFirst;
  if (key == buttons::kMovePrevious) return MovePrevious;
  if (key == buttons::kMoveNext) return MoveNext;
  if (key == buttons::kMoveLast) return MoveLast;
  return 0;
}
}  // namespace

void frmNavToolbar::Toolbar_ButtonClick(kit::Toolbar::Button& Button) {
  const std::string key = Button.key;  // the handlers below may rebuild the bar
  if (const int direction = moveDirection(key)) {
    if (c().chkBlankBack.value() != 0) BackGround().show();
    events().FireEventThumbNav(static_cast<uint8_t>(direction));
    takeFocusBack();
  } else if (key == buttons::kNewWindow) {
    setNewWindowMode(Button.tag == kit::image::kSameWindow);
  } else if (key == buttons::kDetails) {
    ToggleDetails(false);
  }
}

void frmNavToolbar::Toolbar_ButtonDropDown(kit::Toolbar::Button& Button) {
  if (Button.key != buttons::kDetails) return;
  Controls& k = c();
  popupMenu(k.mnuPopOption, Button.left, k.Toolbar.top() + k.Toolbar.height());
}

void frmNavToolbar::cboImageName_Click() {
  if (view().bFillingList) return;
  kit::ComboBox& list = c().cboImageName;
  if (list.listIndex() < 0) return;
  const long slot = list.itemData(list.listIndex());
  if (frmPhoto* window = loadedPhotoWindow(static_cast<int>(slot))) window->setFocus();
  takeFocusBack();
}

}  // namespace korvena
