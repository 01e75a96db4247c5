#include "picture_label.h"

#include <QMouseEvent>

#include "dialog_template.h"

namespace plombix {

PictureLabel::PictureLabel(QWidget* parent) : QLabel(parent) {
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void PictureLabel::setBitmap(const QPixmap& pixmap) {
  if (pixmap.isNull()) {
    clear();
    return;
  }
  setPixmap(pixmap);
  // A bitmap control takes the size of its bitmap (device-independent size,
  // so a high-density pixmap keeps its logical size).
  resize(pixmap.deviceIndependentSize().toSize());
}

void PictureLabel::setBitmapId(int id) {
  bitmapId_ = id;
  setBitmap(BitmapPixmap(id));
}

void PictureLabel::mousePressEvent(QMouseEvent* event) {
  if (notify_ && event->button() == Qt::LeftButton) {
    pressed_ = true;
    event->accept();
    return;
  }
  QLabel::mousePressEvent(event);
}

void PictureLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (notify_ && event->button() == Qt::LeftButton && pressed_) {
    pressed_ = false;
    event->accept();
    if (rect().contains(event->position().toPoint())) emit clicked();
    return;
  }
  QLabel::mouseReleaseEvent(event);
}

}  // namespace plombix
