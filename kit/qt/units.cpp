#include "kit/qt/units.h"

#include <algorithm>
#include <cmath>

#include "kit/platform_numbers.h"

namespace kit::qt {

int toPixels(float twips) {
  const double pixels = static_cast<double>(twips) / kTwipsPerPixel;
  if (!std::isfinite(pixels)) return 0;
  return static_cast<int>(std::lround(std::clamp(pixels, -kLargestCoordinate, kLargestCoordinate)));
}

QRect pixelRect(float left, float top, float width, float height) {
  return {toPixels(left), toPixels(top), std::max(0, toPixels(width)), std::max(0, toPixels(height))};
}

int virtualKey(const QKeyEvent& event) {
  const int k = event.key();
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return key::F1 + (k - Qt::Key_F1);
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return key::A + (k - Qt::Key_A);
  if (k >= Qt::Key_0 && k <= Qt::Key_9)
    return ((event.modifiers() & Qt::KeypadModifier) ? key::Numpad0 : key::Digit0) + (k - Qt::Key_0);
  switch (k) {
    case Qt::Key_Backspace:
      return key::Backspace;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return key::Tab;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return key::Enter;
    case Qt::Key_Shift:
      return key::Shift;
    case Qt::Key_Control:
      return key::Control;
    case Qt::Key_Alt:
      return key::Alt;
    case Qt::Key_Pause:
      return key::Pause;
    case Qt::Key_Escape:
      return key::Escape;
    case Qt::Key_Space:
      return key::Space;
    case Qt::Key_PageUp:
      return key::PageUp;
    case Qt::Key_PageDown:
      return key::PageDown;
    case Qt::Key_End:
      return key::End;
    case Qt::Key_Home:
      return key::Home;
    case Qt::Key_Left:
      return key::Left;
    case Qt::Key_Up:
      return key::Up;
    case Qt::Key_Right:
      return key::Right;
    case Qt::Key_Down:
      return key::Down;
    case Qt::Key_Insert:
      return key::Insert;
    case Qt::Key_Delete:
      return key::Delete;
    case Qt::Key_Plus:
      return key::Add;
    case Qt::Key_Minus:
      return key::Subtract;
    default:
      return key::None;
  }
}

int keyAscii(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return ascii::Enter;
    case Qt::Key_Escape:
      return ascii::Escape;
    case Qt::Key_Backspace:
      return ascii::Backspace;
    default:
      break;
  }
  const QString text = event.text();
  if (text.size() != 1) return -1;
  const char16_t ch = text.at(0).unicode();
  return ch < 256 ? static_cast<int>(ch) : -1;
}

int shiftState(Qt::KeyboardModifiers modifiers) {
  return ((modifiers & Qt::ShiftModifier) ? shift::Shift : 0) | ((modifiers & Qt::ControlModifier) ? shift::Ctrl : 0) |
         ((modifiers & Qt::AltModifier) ? shift::Alt : 0);
}

int mouseButton(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return mouse::Left;
    case Qt::RightButton:
      return mouse::Right;
    case Qt::MiddleButton:
      return mouse::Middle;
    default:
      return mouse::None;
  }
}

int byteOffset(const QString& text, int index) {
  return static_cast<int>(text.left(std::max(0, index)).toUtf8().size());
}

int stringIndex(const std::string& text, int offset) {
  const auto bytes = static_cast<size_t>(std::clamp(offset, 0, static_cast<int>(text.size())));
  return static_cast<int>(QString::fromUtf8(text.data(), static_cast<qsizetype>(bytes)).size());
}

}  // namespace kit::qt
