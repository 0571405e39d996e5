#include "kit/qt/units.h"

#include <algorithm>
#include <cmath>

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
  const int key = event.key();
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return 65 + (key - Qt::Key_A);
  if (key >= Qt::Key_0 && key <= Qt::Key_9)
    return (event.modifiers() & Qt::KeypadModifier) ? 96 + (key - Qt::Key_0) : 48 + (key - Qt::Key_0);
  switch (key) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Pause: return 19;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Plus: return 107;
    case Qt::Key_Minus: return 109;
    default: return 0;
  }
}

int keyAscii(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Backspace: return 8;
    default: break;
  }
  const QString text = event.text();
  if (text.size() != 1) return -1;
  const char16_t ch = text.at(0).unicode();
  return ch < 256 ? static_cast<int>(ch) : -1;
}

int shiftState(Qt::KeyboardModifiers modifiers) {
  return ((modifiers & Qt::ShiftModifier) ? 1 : 0) | ((modifiers & Qt::ControlModifier) ? 2 : 0) |
         ((modifiers & Qt::AltModifier) ? 4 : 0);
}

int mouseButton(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
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
