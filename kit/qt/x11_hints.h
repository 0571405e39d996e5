#pragma once
// What the view tells an X window manager, and asks it, beyond what Qt
// says for it: the frame it will put around a window before any window is
// shown (so that the first window is sized by the real frame), and the
// hints that keep a window out of the task bar and the task switcher.
// Everything here does nothing (or answers nothing) on another platform
// or without a window manager that speaks the extended hints.
#include <QMargins>
#include <optional>

class QWindow;

namespace kit::qt::x11 {

// The frame the window manager would put around a decorated window of
// this kind (a tool window or a normal one), asked for through
// _NET_REQUEST_FRAME_EXTENTS. Waits a short, bounded time for the answer.
std::optional<QMargins> askFrameExtents(bool toolWindow);

// The part a window plays, told to the window manager before the window is
// mapped (_NET_WM_WINDOW_TYPE):
// - a floating palette (a tool bar): a close box only, no minimise or
//   maximise box;
// - a backdrop (a desktop window): the lowest layer of all, whatever has
//   the focus, even where it covers the whole screen.
enum class Role { Palette, Backdrop };
void setRole(QWindow &window, Role role);

// Marks a window that is not mapped as one for no task bar and no pager
// (the window manager's task switcher follows the task bar's hint).
void keepOffTaskBar(QWindow &window);

}  // namespace kit::qt::x11
