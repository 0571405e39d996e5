#pragma once
// What the window system says about a window's place, read by content: the
// frame a window manager put around a window, and whether a reported client
// rectangle is only the window manager answering the view's own requests.
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <cstddef>
#include <optional>
#include <vector>

namespace kit::qt {

// The frame the window system reports around a window, if it is a frame:
// not while the window manager is still building it (a side negative, as
// with a frame one pixel wide around the whole window), nor when there is
// none (no side at all).
std::optional<QMargins> builtFrame(const QMargins& reported);

// The client rectangles the view asked for whose answers may still come.
// A window manager answers requests in order, in one or more steps (a move,
// then a resize), so a report whose place and size were each asked for is
// an answer on its way to the last request, however late it comes.
class PlaceRequests {
 public:
  // Requests kept at most; older ones count as answered.
  static constexpr std::size_t kKept = 16;

  // The view asked for this rectangle.
  void ask(const QRect& rect);
  // The window is known to be at this rectangle (the last request answered,
  // or a place taken into the form): every request before it is answered.
  void settle(const QRect& rect);
  void clear() { rects_.clear(); }

  // Whether the reported rectangle answers requests in flight. offset: while
  // a frame is being added or taken away, a place asked for moved by this
  // much either way counts too. Requests older than those it answers are
  // dropped.
  bool answering(const QRect& now, std::optional<QPoint> offset = std::nullopt);

  const std::vector<QRect>& pending() const { return rects_; }

 private:
  std::vector<QRect> rects_;  // oldest first
};

}  // namespace kit::qt
