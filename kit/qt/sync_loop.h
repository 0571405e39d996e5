#pragma once
// The sync loop: applies the kit's state to the windows once per turn of the
// event loop (and before any nested modal loop), and runs the user's actions
// as kit events: a runtime error is shown as a message box, never unwound
// through Qt, and the remains of unloaded forms are freed afterwards.
#include <QElapsedTimer>
#include <QIcon>
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "kit/form.h"

class QWidget;

namespace kit::qt {

class FormMirror;
class QtBackend;

class SyncLoop : public QObject {
 public:
  // How long after the view shows, hides or re-flags a window an activation
  // that the kit did not ask for is taken as the window system's own.
  static constexpr qint64 kSettleMs = 400;

  // The view acts while `backend` is the kit platform's backend.
  explicit SyncLoop(QtBackend& backend);
  ~SyncLoop() override;

  bool installed() const;
  // A state change: apply it at the end of this turn.
  void schedule();
  // A turn is due: state waits to be applied.
  bool pending() const { return turn_.isActive(); }
  // Applies the kit's state now (before a modal loop, after a user action).
  void flush();
  bool applying() const { return applying_; }
  // Runs a user action as a kit event.
  void dispatch(const std::function<void()>& action);
  // A modal loop of the view runs while kit code waits for it.
  void enterModal() { ++busy_; }
  void leaveModal() { --busy_; }

  // The form unloaded: its window goes at the next turn.
  void formDestroyed(Form& form);
  // Every window goes; frame insets start again from the platform's values.
  void reset();
  // The application object is gone: never touch Qt again.
  void abandon();

  FormMirror* mirror(const Form& form) const;
  FormMirror* mirrorOfWindow(const QWidget* window) const;

  // Frame insets (pixels) of a window of this form's kind: seeded from the
  // platform's extents, or from what the window manager says beforehand it
  // will draw (so the first window is sized by the real frame), then taken
  // from the decorated windows the window manager has finished framing.
  QMargins insets(const Form& form) const;
  // The same, whether the form is framed now or not.
  QMargins frameInsets(const Form& form) const { return insets_[kind(form)]; }
  void learnFrame(const Form& form, const QMargins& insets);
  void learnFrame(bool toolWindow, const QMargins& insets);

  // The icon every window of the view carries, its forms and message boxes
  // (none: the application's).
  void setWindowIcon(const QIcon& icon) { windowIcon_ = icon; }
  const QIcon& windowIcon() const { return windowIcon_; }

  // Activation the window system reports for a form's window.
  void windowActivated(FormMirror& mirror);
  // A window was shown, hidden or re-created: activations the window system
  // makes on its own for a moment are not the user's.
  void noteVisibilityChange() { settle_.start(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void turn();
  void drop(FormMirror* mirror);
  void retire();
  void applyZOrder();
  void applyActivation();
  void requestActivation(FormMirror& mirror);
  void windowSystemActivated(Form& form);
  void report(const std::string& description);
  bool settling() const;
  static int kind(const Form& form);
  // The frame the window manager says it will draw around a window of the kind, if it says.
  std::optional<QMargins> askedFrame(bool toolWindow);

  QtBackend& backend_;
  QIcon windowIcon_;
  QTimer turn_;
  std::map<const Form*, FormMirror*> mirrors_;
  std::vector<QPointer<QWidget>> retired_;
  std::vector<QPointer<QWidget>> pendingActivations_;
  std::vector<Form*> appliedZOrder_;
  Form* appliedActive_ = nullptr;
  QMargins insets_[2];
  std::optional<QMargins> askedFrames_[2];
  bool framesAsked_[2] = {false, false};
  QElapsedTimer settle_;
  int busy_ = 0;
  bool applying_ = false;
  bool reconciling_ = false;
  bool abandoned_ = false;
};

}  // namespace kit::qt
