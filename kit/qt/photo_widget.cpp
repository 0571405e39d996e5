#include "kit/qt/photo_widget.h"

#include <QPaintEvent>
#include <QPainter>

#include "kit/picture_impl.h"

namespace kit::qt {

void paintPicture(QPainter& painter, const QImage& image, QSize shown, const QRect& exposed, bool fast) {
  if (image.isNull() || shown.isEmpty()) return;
  const QRect target = exposed & QRect(QPoint(0, 0), shown);
  if (target.isEmpty()) return;
  const double sx = static_cast<double>(image.width()) / shown.width();
  const double sy = static_cast<double>(image.height()) / shown.height();
  const QRectF source(target.x() * sx, target.y() * sy, target.width() * sx, target.height() * sy);
  const bool shrinking = sx > 1 || sy > 1;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, shrinking && !fast);
  painter.drawImage(QRectF(target), image, source);
}

PhotoWidget::PhotoWidget(QWidget* parent) : QWidget(parent) {
  // Every visible pixel is painted from the picture.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PhotoWidget::setPicture(std::shared_ptr<Picture> picture) {
  if (picture == picture_) return;
  picture_ = std::move(picture);
  update();
}

void PhotoWidget::setFast(bool fast) {
  if (fast == fast_) return;
  fast_ = fast;
  if (!fast_) update();
}

void PhotoWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect exposed = event->rect() & visibleRegion().boundingRect();
  if (!picture_ || picture_->impl().image.isNull()) {
    painter.fillRect(exposed, palette().window());
    return;
  }
  paintPicture(painter, picture_->impl().image, size(), exposed, fast_);
}

}  // namespace kit::qt
