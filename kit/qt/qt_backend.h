#pragma once
#include <functional>
// The presentation side of the kit platform in the Qt view: message boxes,
// pop-up menus, the cursor, help requests, and the notices that send the
// kit's changes to the sync loop.
#include <QtWidgets/QMessageBox>
#include <string>

#include "kit/platform.h"

namespace kit::qt {

class SyncLoop;

// What a message box's flags ask for: its icon, buttons and default button.
struct MessageBoxLook {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
};
MessageBoxLook messageBoxLook(long flags);
// The number the kit returns for a button (msgbox::Ok, Cancel, ... No).
int messageBoxAnswer(QMessageBox::StandardButton button);

class QtBackend : public Backend {
 public:
  QtBackend();
  ~QtBackend() override;
  void setLoop(SyncLoop* loop) { loop_ = loop; }

  int messageBox(const std::string& text, const std::string& title, long flags) override;
  void htmlHelp(const std::string& file, int command, long data) override;
  void popupMenu(Form& form, Menu& menu, float x, float y) override;
  void stateChanged() override;
  void cursorChanged() override { applyCursor(); }
  void formDestroyed(Form& form) override;

  // The override cursor for the platform's cursor counter and mouse pointer:
  // one entry at most, changed in place.
  void applyCursor();
  void releaseCursor();
  void abandon() { abandoned_ = true; }

  // Opens the help viewer for a request the platform has recorded; the host
  // side sets it (the forms layer knows no help file format).
  std::function<void(const std::string& file, int command, long context)> onHelp;

 private:
  SyncLoop* loop_ = nullptr;
  bool cursorSet_ = false;
  Qt::CursorShape cursorShape_ = Qt::ArrowCursor;
  bool abandoned_ = false;
};

}  // namespace kit::qt
