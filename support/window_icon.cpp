#include "support/window_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace korvena {

QIcon ComponentIcon() {
  // Drawn at the sizes window managers and task switchers ask for, so that
  // no image-format plug-in is needed to read the picture.
  QSvgRenderer picture(QStringLiteral(":/korvena/korvena-view.svg"));
  QIcon icon;
  if (!picture.isValid()) return icon;
  for (int size : {16, 24, 32, 48, 64, 128}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    picture.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace korvena
