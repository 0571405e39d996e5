#pragma once
// Conversions between the kit's twips and Qt's logical pixels, and the
// kit's codes for the user's keys, mouse buttons and modifier keys.
#include <QKeyEvent>
#include <QRect>

#include "kit/platform.h"

namespace kit::qt {

// Twips to the nearest pixel; values no window can take are clamped.
int toPixels(float twips);
inline float toTwips(int pixels) { return static_cast<float>(pixels) * kTwipsPerPixel; }
QRect pixelRect(float left, float top, float width, float height);

// The virtual-key code of a key (kit::key), key::None for keys without one.
int virtualKey(const QKeyEvent& event);
// The character code the key types (kit::ascii): Enter, Esc, Backspace or a
// printable character of one byte; -1 when the key types none.
int keyAscii(const QKeyEvent& event);
// The kit::shift bits of the modifier keys.
int shiftState(Qt::KeyboardModifiers modifiers);
// The kit::mouse code of a button; mouse::None for other buttons.
int mouseButton(Qt::MouseButton button);

// UTF-8 byte offsets (the kit's text positions) and QString indexes.
int byteOffset(const QString& text, int index);
int stringIndex(const std::string& text, int offset);

}  // namespace kit::qt
