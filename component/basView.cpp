#include "component/basView.h"

#include "kit/numbers.h"
#include "kit/picture_prefetch.h"
#include "kit/platform.h"
#include "photo/frmPhoto.h"
#include "support/frmBackGround.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena {

namespace {
std::unique_ptr<frmNavToolbar>& toolbarInstance() {
  static std::unique_ptr<frmNavToolbar> instance;
  return instance;
}
std::unique_ptr<frmBackGround>& backgroundInstance() {
  static std::unique_ptr<frmBackGround> instance;
  return instance;
}
}  // namespace

ViewState& view() {
  static ViewState state;
  return state;
}

int photoWindowsUpperBound() {
  const auto& w = view().PhotoWindows;
  return w.empty() ? 0 : static_cast<int>(w.size()) - 1;
}

int freeSlotsUpperBound() {
  const auto& f = view().FreeSlots;
  return f.empty() ? 0 : static_cast<int>(f.size()) - 1;
}

frmPhoto* photoWindow(int slot) {
  if (slot < 1 || slot > photoWindowsUpperBound()) return nullptr;
  return view().PhotoWindows[static_cast<size_t>(slot)].get();
}

frmPhoto* loadedPhotoWindow(int slot) {
  frmPhoto* w = photoWindow(slot);
  return w && w->loaded() ? w : nullptr;
}

void ForEachLoadedPhotoWindow(const std::function<void(frmPhoto&)>& action) {
  const int ub = photoWindowsUpperBound();
  for (int slot = 1; slot <= ub; ++slot)
    if (frmPhoto* window = loadedPhotoWindow(slot)) action(*window);
}

frmNavToolbar& NavToolbar() {
  auto& t = toolbarInstance();
  if (!t) t = std::make_unique<frmNavToolbar>();
  return *t;
}

frmBackGround& BackGround() {
  auto& b = backgroundInstance();
  if (!b) b = std::make_unique<frmBackGround>();
  return *b;
}

frmNavToolbar* navToolbarIfCreated() { return toolbarInstance().get(); }
frmBackGround* backGroundIfCreated() { return backgroundInstance().get(); }

SlotChoice ChooseSlot(bool bNewWindow) {
  ViewState& v = view();
  if (v.CurrentIndex == 0) v.CurrentIndex = 1;
  const int u = freeSlotsUpperBound();
  if (u == 0) {
    v.FreeSlots = {0, 1};
    v.PhotoWindows.clear();
    v.PhotoWindows.resize(2);
    v.PhotoWindows[1] = std::make_unique<frmPhoto>();
    return {1, true};
  }
  // A same-window open needs a current window to replace the image of;
  // without one it opens a window of its own, so every shown window is listed.
  if (!bNewWindow && loadedPhotoWindow(v.CurrentIndex)) return {v.CurrentIndex, false};
  if (u != 1) {
    const int16_t slot = v.FreeSlots[static_cast<size_t>(u)];
    v.FreeSlots.pop_back();
    if (!photoWindow(slot)) v.PhotoWindows[static_cast<size_t>(slot)] = std::make_unique<frmPhoto>();
    return {slot, true};
  }
  const int16_t slot = num::round16(static_cast<double>(v.FreeSlots[1]) + 1);
  v.FreeSlots[1] = slot;
  v.PhotoWindows.resize(static_cast<size_t>(slot) + 1);
  v.PhotoWindows[static_cast<size_t>(slot)] = std::make_unique<frmPhoto>();
  return {slot, true};
}

void RemovePhotoWindow(int16_t slot) {
  ViewState& v = view();
  v.CurrentIndex = 0;
  if (v.FreeSlots.empty()) v.FreeSlots.push_back(0);
  v.FreeSlots.push_back(slot);
  kit::ComboBox& list = NavToolbar().c().cboImageName;
  for (int i = 0; i < list.listCount(); ++i) {
    if (list.itemData(i) == slot) {
      list.removeItem(i);
      break;
    }
  }
  if (list.listCount() > 0) v.CurrentIndex = static_cast<int16_t>(list.itemData(0));
}

void ResetPhotoWindows() {
  ViewState& v = view();
  const int ub = photoWindowsUpperBound();
  for (int slot = 1; slot <= ub; ++slot) {
    if (slot > photoWindowsUpperBound()) break;
    auto& entry = v.PhotoWindows[static_cast<size_t>(slot)];
    if (!entry) continue;
    if (entry->loaded()) entry->unload(kit::unloadMode::Code);
    entry.reset();
  }
  v.FreeSlots = {0};
}

void ResetComponent() {
  // Windows are destroyed without running their handlers.
  view() = ViewState{};
  toolbarInstance().reset();
  backgroundInstance().reset();
  kit::PrefetchCache::shared().clear();
  kit::platform().reset();
}

}  // namespace korvena
