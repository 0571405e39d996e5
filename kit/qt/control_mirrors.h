#pragma once
// The widget factory: each kit control becomes its Qt counterpart, mirrors
// the control's state once per turn, and turns the user's actions on the
// widget into the control's user entry points.
#include <QObject>
#include <QPointer>
#include <QtWidgets/QWidget>
#include <functional>
#include <map>
#include <memory>

#include "kit/controls.h"

namespace kit::qt {

class FormMirror;

class ControlMirror : public QObject {
 public:
  ControlMirror(FormMirror& owner, Control& control, QWidget* widget);
  ~ControlMirror() override;

  Control& control() const { return control_; }
  QWidget* widget() const { return widget_; }
  // Where the controls that sit in this one are placed.
  virtual QWidget* clientArea() const { return widget_; }

  // Parent, geometry (pixels), visibility, enabled state and tool tip.
  void place(QWidget* parent, const QRect& rect);
  // Everything else the control shows.
  virtual void apply() {}
  // Keys typed into this control are handled by the control itself.
  virtual bool editsText() const { return false; }
  // Paint the cheap way while the view is being scrolled.
  virtual void setFastPaint(bool /*fast*/) {}

 protected:
  // Runs a user action through the view, unless the form has gone.
  void user(const std::function<void()>& action);
  FormMirror& owner_;
  Control& control_;
  QPointer<QWidget> widget_;

 private:
  // Keyboard focus only while the user can see the control.
  void followSight();
  bool focusable_ = true;
  std::map<QWidget*, Qt::FocusPolicy> policies_;
};

// The mirror of a control, or null for controls without a widget (timers,
// menus, image lists).
std::unique_ptr<ControlMirror> makeControlMirror(FormMirror& owner, Control& control, QWidget* parent);

}  // namespace kit::qt
