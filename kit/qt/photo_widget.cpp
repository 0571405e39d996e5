#include "kit/qt/photo_widget.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPointer>

#include "kit/picture_impl.h"
#include "kit/picture_prefetch.h"

namespace kit::qt {

namespace {

void drawPiece(QPainter& painter, const QImage& image, const QRectF& source, const QRectF& target, bool fast) {
  const bool shrinking = source.width() > target.width() || source.height() > target.height();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, shrinking && !fast);
  painter.drawImage(target, image, source);
}

}  // namespace

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

void paintPicture(QPainter& painter, Picture& picture, QSize shown, const QRect& exposed, bool fast) {
  if (shown.isEmpty()) return;
  for (const PicturePiece& piece : picture.impl().pieces(shown, exposed, fast))
    drawPiece(painter, piece.image, piece.source, piece.target, fast);
}

PhotoWidget::PhotoWidget(QWidget* parent) : QWidget(parent) {
  // Every visible pixel is painted from the picture.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PhotoWidget::setPicture(std::shared_ptr<Picture> picture) {
  if (picture == picture_) return;
  if (picture_) picture_->impl().setOnReady(nullptr);
  picture_ = std::move(picture);
  // A decode that finishes off the UI thread repaints what it shows.
  if (picture_)
    picture_->impl().setOnReady([widget = QPointer<PhotoWidget>(this)] {
      if (widget) widget->update();
    });
  update();
}

PhotoWidget::~PhotoWidget() {
  if (picture_) picture_->impl().setOnReady(nullptr);
}

void PhotoWidget::setFast(bool fast) {
  if (fast == fast_) return;
  fast_ = fast;
  if (!fast_) update();
}

void PhotoWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect exposed = event->rect() & visibleRegion().boundingRect();
  // A picture with nothing decoded, or a tile that did not decode with no
  // overview behind it, leaves the background.
  if (!picture_ || picture_->impl().image.isNull() || picture_->tiled()) painter.fillRect(exposed, palette().window());
  if (picture_) paintPicture(painter, *picture_, size(), exposed, fast_);
  if (picture_ && !picture_->impl().decoding()) PrefetchCache::shared().painted();
}

}  // namespace kit::qt
