// Painting and drops of the preview box; see vid_box.h for the order of
// painting and why the border is kept out of the canvas.
#include "vid_box.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

namespace plombix {

QStringList LocalDropPaths(const QList<QUrl>& urls) {
  QStringList paths;
  for (const QUrl& url : urls) {
    if (url.isLocalFile()) paths.append(url.toLocalFile());
  }
  return paths;
}

VidBox::VidBox(QWidget* parent) : QFrame(parent) {
  // The box paints every pixel itself (its frame and, from its canvas, the
  // client area); Qt must not clear it first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAcceptDrops(true);
}

bool VidBox::Setup() {
  borderWidth = PreviewFrame::TallyBorderWidth(clientRect().height());
  tallyState = TallyNone;
  return frame_.Setup();
}

void VidBox::LoadFrame(const uint8_t* frameBits, int width, int height, int strideBytes,
                       uint32_t fourCC, float pictureAspect) {
  frame_.LoadFrame(frameBits, width, height, strideBytes, fourCC, pictureAspect);
}

void VidBox::Present() {
  presented_ = true;
  update();
}

int VidBox::BorderInset(int width) { return width <= 0 ? 0 : (width + 1) / 2; }

void VidBox::drawIntoCanvas() {
  const QSize client = clientRect().size();
  if (canvas_.size() != client) {
    canvas_ = QImage(client, QImage::Format_RGB32);
    canvas_.fill(kBackgroundColour);
  }
  QPainter painter(&canvas_);
  if (frame_.needsClear) {
    frame_.needsClear = 0;
    painter.fillRect(canvas_.rect(), QColor::fromRgb(kBackgroundColour));
  }
  if (!presented_ || frame_.pixels() == nullptr) return;
  const int sourceWidth = frame_.header.width;
  const int sourceHeight = frame_.header.height < 0 ? -frame_.header.height : frame_.header.height;
  if (sourceWidth <= 0 || sourceHeight <= 0) return;
  const PreviewRect dest = frame_.DestinationRect(client.width(), client.height());
  if (dest.width <= 0 || dest.height <= 0) return;

  // Bytes blue, green, red, ignored fourth byte: RGB32 on a little-endian
  // machine, which Qt treats as opaque whatever the fourth byte holds (the
  // alpha of a transparent output shows as colour only). The read-only
  // wrapper copies nothing.
  const QImage source(frame_.pixels(), sourceWidth, sourceHeight, sourceWidth * 4,
                      QImage::Format_RGB32);
  const QImage fitted =
      source.scaled(dest.width, dest.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  painter.drawImage(dest.x, dest.y, fitted);
}

void VidBox::paintEvent(QPaintEvent* /*event*/) {
  drawIntoCanvas();
  QPainter painter(this);
  drawFrame(&painter);
  const QRect client = clientRect();
  if (client.isEmpty()) return;
  painter.drawImage(client.topLeft(), canvas_);
  if (tallyState == TallyNone) return;
  const QColor pen = tallyState == TallyPreview ? QColor(0, 255, 0) : QColor(255, 0, 0);
  const int t = BorderInset(borderWidth);
  const int x = client.x(), y = client.y(), w = client.width(), h = client.height();
  painter.fillRect(x, y, w, t, pen);
  painter.fillRect(x, y + h - t, w, t, pen);
  painter.fillRect(x, y, t, h, pen);
  painter.fillRect(x + w - t, y, t, h, pen);
}

void VidBox::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData() != nullptr && !LocalDropPaths(event->mimeData()->urls()).isEmpty()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void VidBox::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData() != nullptr && !LocalDropPaths(event->mimeData()->urls()).isEmpty()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void VidBox::dropEvent(QDropEvent* event) {
  const QStringList paths =
      event->mimeData() != nullptr ? LocalDropPaths(event->mimeData()->urls()) : QStringList();
  if (paths.isEmpty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  emit filesDropped(paths);
}

}  // namespace plombix
