#pragma once
// The component's own icon, which every window of it carries: drawn from
// the picture that is also installed into the desktop's icon theme.
#include <QIcon>

namespace korvena {

// Needs the QGuiApplication.
QIcon ComponentIcon();

}  // namespace korvena
