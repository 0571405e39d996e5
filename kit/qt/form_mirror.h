#pragma once
// The mirror of one form: a top-level window whose flags, caption, geometry,
// state and visibility follow the form, the widgets of its controls, and its
// menu bar. The window's moves, resizes, state changes, activation and close
// requests come back to the form as the user's actions; what equals the
// kit's own request is its echo and is ignored.
//
// Echoes are told apart by what they report, never by how late they come:
// - until the window system has mapped (exposed) a window, the window
//   manager is still framing it, and the places X reports meanwhile (a
//   corner at 0,0, a frame one pixel wide) are not places at all;
// - the window manager answers the view's requests in order, so a report
//   made of a place and a size that the view asked for and that may still be
//   in flight is an answer on its way to the last request;
// - while a window's frame is added or taken away, the window manager may
//   report the asked place moved by the frame's offset;
// - anything else, once the window is mapped, is a place the window manager
//   (or the user, through it) imposed, and the form takes it.
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWindow>
#include <QtWidgets/QWidget>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "kit/qt/control_mirrors.h"
#include "kit/qt/placement.h"

class QMenuBar;

namespace kit::qt {

class SyncLoop;

class FormMirror : public QObject {
 public:
  FormMirror(SyncLoop& loop, Form& form);
  ~FormMirror() override;

  Form& form() const { return form_; }
  QWidget* window() const { return window_; }
  bool dead() const { return dead_; }

  void apply();
  // Takes what the window system imposed on the window into the form.
  void reconcile();
  // The form unloaded: the mirror stops talking to it and hands its window
  // back to be hidden and deleted.
  QPointer<QWidget> detach();

  void dispatch(const std::function<void()>& action);
  void setFastPaint(bool fast);
  // The widget belongs to a control that handles its own typed keys.
  bool editsText(const QWidget* widget) const;
  ControlMirror* controlMirror(const Control& control) const;

  // The window's client rectangle (pixels) for the form's geometry.
  QRect clientRect() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void applyFlags();
  void applyControls();
  void applyMenuBar();
  void applyGeometryAndState();
  // Asks the window system for a client rectangle and remembers it as in flight.
  void ask(const QRect& rect);
  // The window system's window is mapped: what it reports is a real place.
  bool mapped() const;
  // Watches the window-system window, which exists once the window is created.
  void watchHandle();
  // The window system mapped the window (the first time since it was shown)
  // or showed more of it.
  void windowMapped();
  // reported: a move or resize the window system delivered, not a look of the view's own.
  void takeGeometry(bool reported);
  // A maximised window's size, as the window manager made it.
  void takeMaximisedSize();
  void takeWindowState();
  void learnFrame();
  QWidget* parentFor(const Control& control, float& left, float& top) const;

  SyncLoop& loop_;
  Form& form_;
  QPointer<QWidget> window_;
  std::map<Control*, std::unique_ptr<ControlMirror>> controls_;
  QPointer<QMenuBar> menuBar_;
  std::string menuSignature_;
  std::optional<Qt::WindowFlags> appliedFlags_;
  QPointer<QWindow> handle_;
  QRect asked_;
  PlaceRequests requests_;  // asked_ and the requests before it still in flight
  // The window's frame is being added or taken away by the window manager.
  bool reframing_ = false;
  // Shown, and not mapped by the window system yet.
  bool mapping_ = false;
  bool dead_ = false;
};

}  // namespace kit::qt
