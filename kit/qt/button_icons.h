#pragma once
// The toolbar's button images, drawn here at 24 x 24: first, previous,
// next, last, new window, same window, more details and less details.
#include <QIcon>
#include <string>

namespace kit::qt {

inline constexpr int kButtonImageSize = 24;

// The image of a key of the toolbar's image list; a null icon for a key
// that has none (a separator, an unknown key).
QIcon buttonIcon(const std::string& key);

}  // namespace kit::qt
