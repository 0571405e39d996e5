#pragma once
// Qt menus built from kit menus, for pop-up menus and menu bars.
#include <QtWidgets/QMenu>
#include <functional>
#include <string>

#include "kit/controls.h"

namespace kit::qt {

// Adds the visible items of `source` to `target`; an item with items of its
// own becomes a submenu, a caption "-" a separator. `chosen` is called with
// the item the user picks.
void fillMenu(QMenu& target, const Menu& source, const std::function<void(Menu&)>& chosen);

// A text that changes whenever what fillMenu would build changes.
std::string menuSignature(const Menu& source);

}  // namespace kit::qt
