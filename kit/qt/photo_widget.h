#pragma once
// Paints a picture at the size of its image control. Only the part the
// window shows is drawn, from the picture's decoded pixels or from its tiles
// at the current scale: no scaled copy of the whole picture is ever made.
#include <QImage>
#include <QtWidgets/QWidget>
#include <memory>

#include "kit/picture.h"

namespace kit::qt {

// Draws the part `exposed` (widget pixels) of `image` shown at size `shown`.
// Smooth when the image is shrunk, unless `fast` (while the view scrolls).
void paintPicture(QPainter& painter, const QImage& image, QSize shown, const QRect& exposed, bool fast);
// The same for a picture: it hands out the pieces that show `exposed`,
// decoding the tiles of a huge picture on demand (unless `fast`: then what is
// held already, or its overview, is drawn).
void paintPicture(QPainter& painter, Picture& picture, QSize shown, const QRect& exposed, bool fast);

class PhotoWidget : public QWidget {
 public:
  explicit PhotoWidget(QWidget* parent);
  ~PhotoWidget() override;
  void setPicture(std::shared_ptr<Picture> picture);
  const std::shared_ptr<Picture>& picture() const { return picture_; }
  // The fast path while a scroll bar is dragged; back to smooth repaints.
  void setFast(bool fast);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::shared_ptr<Picture> picture_;
  bool fast_ = false;
};

}  // namespace kit::qt
