#include "kit/qt/button_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "kit/button_images.h"

namespace kit::qt {

namespace {

const QColor kInk(32, 74, 135);
const QColor kPaper(250, 250, 250);

// A triangle pointing left or right, between x0 and x1.
void arrowHead(QPainter& p, double x0, double x1, bool right) {
  QPainterPath path;
  const double tip = right ? x1 : x0, back = right ? x0 : x1;
  path.moveTo(tip, 12);
  path.lineTo(back, 5);
  path.lineTo(back, 19);
  path.closeSubpath();
  p.fillPath(path, kInk);
}

void bar(QPainter& p, double x) { p.fillRect(QRectF(x, 5, 2.5, 14), kInk); }

// A small window: a frame with a title strip.
void windowShape(QPainter& p, const QRectF& r) {
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(kPaper);
  p.drawRect(r);
  p.fillRect(QRectF(r.left(), r.top(), r.width(), 3), kInk);
}

// A chevron pointing down or up.
void chevron(QPainter& p, double y, bool down) {
  QPainterPath path;
  const double dy = down ? 5 : -5;
  path.moveTo(6, y);
  path.lineTo(12, y + dy);
  path.lineTo(18, y);
  p.strokePath(path, QPen(kInk, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void draw(QPainter& p, const std::string& key) {
  if (key == image::kMoveFirst) {
    bar(p, 4);
    arrowHead(p, 7, 19, false);
  } else if (key == image::kMovePrevious) {
    arrowHead(p, 6, 18, false);
  } else if (key == image::kMoveNext) {
    arrowHead(p, 6, 18, true);
  } else if (key == image::kMoveLast) {
    arrowHead(p, 5, 17, true);
    bar(p, 17.5);
  } else if (key == image::kNewWindow) {
    windowShape(p, QRectF(2.5, 3.5, 13, 10));
    windowShape(p, QRectF(8.5, 10.5, 13, 10));
  } else if (key == image::kSameWindow) {
    windowShape(p, QRectF(3.5, 4.5, 17, 15));
    QPainterPath loop;
    loop.moveTo(8, 15);
    loop.cubicTo(8, 9, 16, 9, 16, 13);
    p.strokePath(loop, QPen(kInk, 1.6));
    p.fillRect(QRectF(14.5, 13, 3, 3), kInk);
  } else if (key == image::kMoreDetails) {
    chevron(p, 6, true);
    chevron(p, 12, true);
  } else if (key == image::kLessDetails) {
    chevron(p, 12, false);
    chevron(p, 18, false);
  }
}

bool known(const std::string& key) {
  for (const char* k : image::kAll)
    if (key == k) return true;
  return false;
}

}  // namespace

QIcon buttonIcon(const std::string& key) {
  if (!known(key)) return {};
  // Drawn on each request: pixmaps must not outlive the application object.
  QPixmap pixmap(kButtonImageSize, kButtonImageSize);
  pixmap.fill(Qt::transparent);
  {
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, key);
  }
  return QIcon(pixmap);
}

}  // namespace kit::qt
