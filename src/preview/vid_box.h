// VidBox: the preview box of the main window. It owns the preview image
// (PreviewFrame) and paints it fitted into the box by its picture aspect
// ratio, with a red (program) or green (preview) tally border.
//
// The box is a QFrame: the window's layout table gives it a thin line
// border (one pixel, the frame's own colour), drawn around the client area
// on every paint. Everything else happens in the client area inside that
// border (contentsRect(); the whole widget when it has no frame), whose
// width and height are the W and H of the fit arithmetic.
//
// Painting of the client area, in this order:
//  1. needsClear set: clear it and fill the whole area with RGB(100,100,100).
//     Otherwise the bars beside the picture keep what was painted before.
//  2. After the first Present(): the image stretched smoothly into
//     PreviewFrame::DestinationRect(width, height) (the box taken as 16:9).
//  3. Tally other than none: the outline of the client area in a pen
//     `borderWidth` wide centred on its edge, so its inner half,
//     borderWidth / 2 rounded up, shows inside; red for program (also when
//     both are reported), green for preview.
// Steps 1 and 2 paint into a canvas the box keeps between paints (that is
// what lets the bars keep their pixels); the border is drawn over the
// canvas on every paint and never stays in it, so a border that goes away
// leaves no stale colour in the bars. A new canvas (first paint, resize)
// starts filled with the bar colour.
//
// Drops: the box accepts file drops and hands the local paths of the drop,
// in order and uncut, to its own main window through filesDropped().
#pragma once

#include <QImage>
#include <QList>
#include <QStringList>
#include <QFrame>
#include <QUrl>

#include <cstdint>

#include "preview_frame.h"

namespace plombix {

class VidBox : public QFrame {
  Q_OBJECT
 public:
  explicit VidBox(QWidget* parent = nullptr);

  // Border width from the client area's height (height / 64, at least 2),
  // tally none, the preview buffer. Call after the box has its size and
  // frame. False when the buffer could not be allocated
  // (the box then shows no picture; nothing else fails).
  [[nodiscard]] bool Setup();

  // Copies a published frame into the preview image (PreviewFrame::LoadFrame);
  // never repaints.
  void LoadFrame(const uint8_t* frameBits, int width, int height, int strideBytes, uint32_t fourCC,
                 float pictureAspect);
  // From now on paint the preview image; schedules a repaint.
  void Present();

  int tallyState = TallyNone;  // written by the tick; read when painting
  int borderWidth = 0;         // set by Setup
  static constexpr QRgb kBackgroundColour = 0xff646464;  // RGB(100, 100, 100)

  PreviewFrame& frame() { return frame_; }
  const PreviewFrame& frame() const { return frame_; }
  bool presented() const { return presented_; }

  // Pixels of the tally border that show inside the client area for
  // `borderWidth`.
  static int BorderInset(int borderWidth);
  // The client area: inside the frame's border.
  QRect clientRect() const { return contentsRect(); }

 signals:
  // Local file paths of a drop on the box, in drop order.
  void filesDropped(const QStringList& paths);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void drawIntoCanvas();

  PreviewFrame frame_;
  QImage canvas_;
  bool presented_ = false;
};

// The local file paths among `urls` (non-local URLs skipped), in order.
QStringList LocalDropPaths(const QList<QUrl>& urls);

}  // namespace plombix
