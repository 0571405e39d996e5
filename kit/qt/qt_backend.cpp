#include "kit/qt/qt_backend.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "kit/controls.h"
#include "kit/qt/form_mirror.h"
#include "kit/qt/menus.h"
#include "kit/qt/sync_loop.h"
#include "kit/qt/units.h"

namespace kit::qt {

MessageBoxLook messageBoxLook(long flags) {
  MessageBoxLook look;
  using B = QMessageBox;
  switch (flags & msgbox::ButtonsMask) {
    case msgbox::OkCancel:
      look.buttons = B::Ok | B::Cancel;
      break;
    case msgbox::AbortRetryIgnore:
      look.buttons = B::Abort | B::Retry | B::Ignore;
      break;
    case msgbox::YesNoCancel:
      look.buttons = B::Yes | B::No | B::Cancel;
      break;
    case msgbox::YesNo:
      look.buttons = B::Yes | B::No;
      break;
    case msgbox::RetryCancel:
      look.buttons = B::Retry | B::Cancel;
      break;
    default:
      look.buttons = B::Ok;
      break;
  }
  switch (flags & msgbox::IconMask) {
    case msgbox::Critical:
      look.icon = B::Critical;
      break;
    case msgbox::Question:
      look.icon = B::Question;
      break;
    case msgbox::Exclamation:
      look.icon = B::Warning;
      break;
    case msgbox::Information:
      look.icon = B::Information;
      break;
    default:
      look.icon = B::NoIcon;
      break;
  }
  // The default button: the first, second or third of the set, in this order.
  std::vector<B::StandardButton> order;
  for (B::StandardButton b : {B::Ok, B::Yes, B::No, B::Abort, B::Retry, B::Ignore, B::Cancel})
    if (look.buttons & b) order.push_back(b);
  const size_t which = std::min<size_t>(
      static_cast<size_t>((flags & msgbox::DefaultButtonMask) >> msgbox::DefaultButtonShift), order.size() - 1);
  look.defaultButton = order[which];
  return look;
}

int messageBoxAnswer(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Ok:
      return msgbox::Ok;
    case QMessageBox::Cancel:
      return msgbox::Cancel;
    case QMessageBox::Abort:
      return msgbox::Abort;
    case QMessageBox::Retry:
      return msgbox::Retry;
    case QMessageBox::Ignore:
      return msgbox::Ignore;
    case QMessageBox::Yes:
      return msgbox::Yes;
    case QMessageBox::No:
      return msgbox::No;
    default:
      return msgbox::Cancel;
  }
}

QtBackend::QtBackend() = default;
QtBackend::~QtBackend() { releaseCursor(); }

int QtBackend::messageBox(const std::string& text, const std::string& title, long flags) {
  if (abandoned_ || !loop_) return msgbox::Ok;
  // The windows show the kit's state before the modal loop runs.
  loop_->flush();
  const MessageBoxLook look = messageBoxLook(flags);
  QMessageBox box(look.icon, QString::fromStdString(title), QString::fromStdString(text), look.buttons);
  box.setDefaultButton(look.defaultButton);
  if (!loop_->windowIcon().isNull()) box.setWindowIcon(loop_->windowIcon());
  box.setWindowModality(Qt::ApplicationModal);
  loop_->enterModal();
  box.exec();
  loop_->leaveModal();
  QAbstractButton* clicked = box.clickedButton();
  QMessageBox::StandardButton answer = clicked ? box.standardButton(clicked) : QMessageBox::NoButton;
  if (answer == QMessageBox::NoButton) answer = look.buttons == QMessageBox::Ok ? QMessageBox::Ok : QMessageBox::Cancel;
  return messageBoxAnswer(answer);
}

void QtBackend::htmlHelp(const std::string& file, int command, long data) {
  if (!abandoned_ && onHelp) onHelp(file, command, data);
}

void QtBackend::popupMenu(Form& form, Menu& menu, float x, float y) {
  if (abandoned_ || !loop_) return;
  loop_->flush();
  FormMirror* mirror = loop_->mirror(form);
  if (!mirror || !mirror->window()) return;
  QMenu popup;
  popup.setObjectName(QString::fromStdString(menu.name()));
  Menu* picked = nullptr;
  fillMenu(popup, menu, [&picked](Menu& item) { picked = &item; });
  if (popup.isEmpty()) return;
  // Set when the form unloads (or its object goes) while the menu is open.
  QPointer<FormMirror> owner(mirror);
  const QPoint at = mirror->window()->mapToGlobal(QPoint(toPixels(x), toPixels(y)));
  loop_->enterModal();
  popup.exec(at);
  loop_->leaveModal();
  // The pick runs as its own event once the menu has closed, if the form
  // that showed it is still loaded.
  if (picked && owner && !owner->dead()) {
    loop_->enterModal();
    loop_->dispatch([picked] { picked->userClick(); });
    loop_->leaveModal();
  }
}

void QtBackend::stateChanged() {
  if (!abandoned_ && loop_) loop_->schedule();
}

void QtBackend::formDestroyed(Form& form) {
  if (!abandoned_ && loop_) loop_->formDestroyed(form);
}

void QtBackend::applyCursor() {
  if (abandoned_) return;
  const Platform& p = platform();
  const bool hidden = p.cursorCounter() < 0, busy = p.mousePointer() == pointer::Hourglass;
  if (!hidden && !busy) {
    releaseCursor();
    return;
  }
  const Qt::CursorShape shape = hidden ? Qt::BlankCursor : Qt::WaitCursor;
  if (!cursorSet_) {
    QGuiApplication::setOverrideCursor(QCursor(shape));
    cursorSet_ = true;
  } else if (shape != cursorShape_) {
    QGuiApplication::changeOverrideCursor(QCursor(shape));
  }
  cursorShape_ = shape;
}

void QtBackend::releaseCursor() {
  if (!cursorSet_ || abandoned_) return;
  QGuiApplication::restoreOverrideCursor();
  cursorSet_ = false;
}

}  // namespace kit::qt
