// PictureLabel: a picture control showing a built-in bitmap. Like a static
// bitmap control it takes the size of its bitmap once one is set (the
// template rectangle only places its top-left corner); without a bitmap it
// keeps the template size and shows nothing. A picture that notifies clicks
// emits clicked() on a left-button release inside it.
#pragma once

#include <QLabel>

namespace plombix {

class PictureLabel : public QLabel {
  Q_OBJECT
 public:
  explicit PictureLabel(QWidget* parent = nullptr);

  // Shows `pixmap` and resizes to it; a null pixmap clears the picture and
  // keeps the current size.
  void setBitmap(const QPixmap& pixmap);
  // Shows the built-in bitmap `id` (see BitmapPixmap) and remembers the id.
  void setBitmapId(int id);
  // The id last given to setBitmapId, 0 when none.
  int bitmapId() const { return bitmapId_; }

  void setNotify(bool on) { notify_ = on; }
  bool notify() const { return notify_; }

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int bitmapId_ = 0;
  bool notify_ = false;
  bool pressed_ = false;
};

}  // namespace plombix
