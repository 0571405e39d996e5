#include "kit/qt/placement.h"

#include <algorithm>

namespace kit::qt {

std::optional<QMargins> builtFrame(const QMargins& reported) {
  if (reported.left() < 0 || reported.top() < 0 || reported.right() < 0 || reported.bottom() < 0) return std::nullopt;
  if (reported.isNull()) return std::nullopt;
  return reported;
}

void PlaceRequests::ask(const QRect& rect) {
  rects_.push_back(rect);
  if (rects_.size() > kKept) rects_.erase(rects_.begin(), rects_.end() - kKept);
}

void PlaceRequests::settle(const QRect& rect) { rects_.assign(1, rect); }

bool PlaceRequests::answering(const QRect& now, std::optional<QPoint> offset) {
  // The newest request each part of the report could come from.
  auto newest = [this](auto matches) -> std::ptrdiff_t {
    for (std::ptrdiff_t i = static_cast<std::ptrdiff_t>(rects_.size()) - 1; i >= 0; --i)
      if (matches(rects_[static_cast<std::size_t>(i)])) return i;
    return -1;
  };
  const std::ptrdiff_t place = newest([&](const QRect& r) {
    if (r.topLeft() == now.topLeft()) return true;
    return offset && (r.topLeft() + *offset == now.topLeft() || r.topLeft() - *offset == now.topLeft());
  });
  const std::ptrdiff_t size = newest([&](const QRect& r) { return r.size() == now.size(); });
  if (place < 0 || size < 0) return false;
  // The window manager has come at least this far: what was asked before is answered.
  rects_.erase(rects_.begin(), rects_.begin() + std::min(place, size));
  return true;
}

}  // namespace kit::qt
