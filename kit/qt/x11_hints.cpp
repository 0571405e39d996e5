#include "kit/qt/x11_hints.h"

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace kit::qt::x11 {

namespace {

// How long the window manager may take to answer a request for frame
// extents; one without an answer by then leaves the seeded extents.
constexpr qint64 kFrameAnswerMs = 250;

xcb_connection_t *connection() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t *c, const char *name) {
  ReplyPtr<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr), &std::free);
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

xcb_window_t rootOf(xcb_connection_t *c) { return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root; }

// The 32-bit items of a window's property, empty when it has none.
std::vector<uint32_t> property(xcb_connection_t *c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
  ReplyPtr<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, 1024), nullptr), &std::free);
  if (!reply || reply->format != 32 || reply->type != type) return {};
  const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply.get()));
  return std::vector<uint32_t>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

// The window manager says it answers this request (in _NET_SUPPORTED).
bool supported(xcb_connection_t *c, xcb_atom_t what) {
  const std::vector<uint32_t> atoms = property(c, rootOf(c), atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
  return what != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), what) != atoms.end();
}

void sendToRoot(xcb_connection_t *c, xcb_window_t window, xcb_atom_t type, std::initializer_list<uint32_t> data) {
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = type;
  std::copy(data.begin(), data.end(), message.data.data32);
  xcb_send_event(c, 0, rootOf(c), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                 reinterpret_cast<const char *>(&message));
}

}  // namespace

std::optional<QMargins> askFrameExtents(bool toolWindow) {
  xcb_connection_t *c = connection();
  if (!c) return std::nullopt;
  const xcb_atom_t request = atom(c, "_NET_REQUEST_FRAME_EXTENTS"), extents = atom(c, "_NET_FRAME_EXTENTS");
  if (!supported(c, request)) return std::nullopt;
  // A window of the kind, never mapped: the window manager only estimates.
  const xcb_window_t window = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, rootOf(c), 0, 0, 100, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  const xcb_atom_t type = atom(c, toolWindow ? "_NET_WM_WINDOW_TYPE_UTILITY" : "_NET_WM_WINDOW_TYPE_NORMAL");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &type);
  sendToRoot(c, window, request, {});
  xcb_flush(c);
  // Qt's event reader takes the property notice; the property itself is
  // read until it is there.
  std::optional<QMargins> answer;
  QElapsedTimer clock;
  clock.start();
  while (!answer && clock.elapsed() < kFrameAnswerMs) {
    const std::vector<uint32_t> sides = property(c, window, extents, XCB_ATOM_CARDINAL);
    // Left, right, top, bottom.
    if (sides.size() == 4)
      answer = QMargins(static_cast<int>(sides[0]), static_cast<int>(sides[2]), static_cast<int>(sides[1]),
                        static_cast<int>(sides[3]));
    else
      QThread::msleep(2);
  }
  xcb_destroy_window(c, window);
  xcb_flush(c);
  return answer;
}

void setRole(QWindow &window, Role role) {
  xcb_connection_t *c = connection();
  if (!c) return;
  const xcb_atom_t type =
      atom(c, role == Role::Palette ? "_NET_WM_WINDOW_TYPE_TOOLBAR" : "_NET_WM_WINDOW_TYPE_DESKTOP");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.winId()),
                      atom(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &type);
  xcb_flush(c);
}

void keepOffTaskBar(QWindow &window) {
  xcb_connection_t *c = connection();
  if (!c) return;
  const auto id = static_cast<xcb_window_t>(window.winId());
  const xcb_atom_t state = atom(c, "_NET_WM_STATE");
  // Qt adds its own states to what the property holds when it maps the window.
  std::vector<uint32_t> states = property(c, id, state, XCB_ATOM_ATOM);
  for (const char *name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"})
    if (const xcb_atom_t a = atom(c, name); std::find(states.begin(), states.end(), a) == states.end())
      states.push_back(a);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32, static_cast<uint32_t>(states.size()),
                      states.data());
  xcb_flush(c);
}

}  // namespace kit::qt::x11
