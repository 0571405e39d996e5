#pragma once
// What holds between any two calls or user actions, whatever a host did: the
// photo-window table, the free list and the toolbar's image list agree.
#include <set>
#include <string>

#include "component/basView.h"
#include "photo/frmPhoto.h"
#include "toolbar/frmNavToolbar.h"

namespace korvena::invariants {

// The first rule broken, or empty when the component is consistent:
//  - a loaded photo window carries its slot as its tag;
//  - no photo window is loaded while the toolbar (which holds the list) is not;
//  - the image list holds each loaded window's slot once, and nothing else;
//  - the free list starts with 0; when it has a highest slot, that is the
//    table's upper bound, and every slot up to it is either loaded or listed
//    free exactly once;
//  - the current window is 0 or a loaded window.
inline std::string inconsistency() {
  const ViewState& v = view();
  const int ub = photoWindowsUpperBound();
  std::set<long> loaded;
  for (int slot = 1; slot <= ub; ++slot) {
    if (const frmPhoto* w = loadedPhotoWindow(slot)) {
      loaded.insert(slot);
      if (w->tag() != std::to_string(slot))
        return "photo window " + std::to_string(slot) + " has the tag '" + w->tag() + "'";
    }
  }
  const frmNavToolbar* bar = navToolbarIfCreated();
  const frmNavToolbar::Controls* controls = bar ? bar->peek() : nullptr;
  if (!controls) {
    if (!loaded.empty()) return "photo windows are loaded while the toolbar is not";
  } else {
    const kit::ComboBox& list = controls->cboImageName;
    std::set<long> listed;
    for (int i = 0; i < list.listCount(); ++i)
      if (!listed.insert(list.itemData(i)).second)
        return "slot " + std::to_string(list.itemData(i)) + " is listed twice";
    if (listed != loaded)
      return "the image list holds " + std::to_string(listed.size()) + " slots for " + std::to_string(loaded.size()) +
             " loaded windows";
    if (list.listIndex() < -1 || list.listIndex() >= list.listCount()) return "the list index is out of range";
  }
  const auto& free = v.FreeSlots;
  if (free.empty()) {
    if (ub != 0) return "a window table without a free list";
  } else {
    if (free[0] != 0) return "the free list does not start with 0";
    if (free.size() == 1) {
      for (int slot = 1; slot <= ub; ++slot)
        if (photoWindow(slot)) return "a window left in an emptied table";
    } else {
      if (free[1] != ub)
        return "the highest slot " + std::to_string(free[1]) + " is not the table's bound " + std::to_string(ub);
      std::set<long> freed;
      for (size_t i = 2; i < free.size(); ++i) {
        const long slot = free[i];
        if (slot < 1 || slot > ub) return "a freed slot out of range: " + std::to_string(slot);
        if (!freed.insert(slot).second) return "slot " + std::to_string(slot) + " freed twice";
        if (loaded.count(slot)) return "slot " + std::to_string(slot) + " is both free and loaded";
      }
      if (static_cast<int>(freed.size() + loaded.size()) != ub)
        return std::to_string(ub - static_cast<int>(freed.size() + loaded.size())) +
               " slots are neither loaded nor free";
    }
  }
  if (v.CurrentIndex != 0 && !loaded.count(v.CurrentIndex))
    return "the current window " + std::to_string(v.CurrentIndex) + " is not loaded";
  return {};
}

}  // namespace korvena::invariants
