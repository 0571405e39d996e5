// The public class: stores the host's name and style, shows the toolbar,
// opens images into photo windows and raises ThumbNav to the host.
#include "korvena/Application.h"

#include "component/basView.h"
#include "kit/platform.h"
#include "photo/frmPhoto.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {

Application::Application() { kit::platform().helpFile = "Lumastra.HLP"; }

Application::~Application() {
  // The toolbar must not call through an object that is gone.
  if (frmNavToolbar* toolbar = navToolbarIfCreated())
    if (toolbar->eventObject() == this) toolbar->SetEventObject(nullptr);
}

void Application::ShowForm() {
  NavToolbar().SetEventObject(this);
  if (view().sViewStyle == "pbMDILoading") NavToolbar().load();
}

bool Application::FireEventThumbNav(uint8_t MoveDirection) {
  bool bFirstLast = false;
  if (sink_) sink_->ThumbNav(MoveDirection, bFirstLast);
  if (handler_) {
    auto handler = handler_;
    handler(MoveDirection, bFirstLast);
  }
  return bFirstLast;
}

void Application::FireEventNewWin(bool bVal) {
  bNewWindow = bVal;
  if (newWinObserver_) newWinObserver_(bVal);
}

void Application::UnloadForm() {
  if (!kit::isFormLoaded("frmNavToolbar")) return;
  frmNavToolbar& toolbar = NavToolbar();
  toolbar.unload(kit::unloadMode::Code);
  if (auto error = toolbar.takeUnloadError()) throw *error;
}

void Application::Style(const std::optional<std::string>& style) { view().sViewStyle = style.value_or(""); }

void Application::srcAppName(const std::string& sAppName) { view().sHostAppName = sAppName; }

void Application::OpenImage(const std::string& FolderFile, const std::string& FileName) {
  ViewState& v = view();
  // NOTE: the toolbar holds the image list and loads on first use. Its load
  // fails when the host has not called ShowForm yet; that must happen before a slot
  // is handed out, or the slot would be neither open nor free.
  kit::ComboBox& list = NavToolbar().c().cboImageName;
  const SlotChoice choice = ChooseSlot(bNewWindow);
  int16_t slot = choice.slot;
  {
    // The list's Click handlers stay quiet while code fills the list, also
    // when filling fails part-way.
    v.bFillingList = true;
    struct Restore {
      ~Restore() { view().bFillingList = false; }
    } restore;
    if (choice.newEntry) {
      const int index = list.addItem(FileName);
      list.setItemData(index, slot);
      list.setListIndex(index);
    } else {
      for (int i = 0; i < list.listCount(); ++i) {
        if (list.itemData(i) == slot) {
          list.setItemText(i, FileName);
          list.setListIndex(i);
          break;
        }
      }
    }
  }
  frmPhoto& window = *photoWindow(slot);
  window.load();
  window.SetID(slot);
  window.SetImage(FolderFile);
  window.show();
  kit::platform().changed();
}

}  // namespace korvena
