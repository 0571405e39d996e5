#pragma once
// The mirror of one form: a top-level window whose flags, caption, geometry,
// state and visibility follow the form, the widgets of its controls, and its
// menu bar. The window's moves, resizes, state changes, activation and close
// requests come back to the form as the user's actions; what equals the
// kit's own request is its echo and is ignored.
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QtWidgets/QWidget>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "kit/qt/control_mirrors.h"

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
  void takeGeometry();
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
  QRect asked_;
  QElapsedTimer placed_;  // since the view last showed or re-created the window
  bool dead_ = false;
};

}  // namespace kit::qt
