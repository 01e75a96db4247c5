// Painting of CColButton; the placement arithmetic is in ccol_button.h.
#include "ccol_button.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

namespace plombix {

FaceColourTable StandardFaceColours() {
  FaceColourTable table{};
  table[1] = {252, 184, 184};
  table[2] = {184, 252, 184};
  table[3] = {252, 236, 236};
  return table;
}

IntRect ColButtonFace(IntRect item) {
  return {item.left + kColButtonEdge, item.top + kColButtonEdge, item.right - kColButtonEdge,
          item.bottom - kColButtonEdge};
}

namespace {

int CentreX(IntRect r) { return (r.left + r.right) / 2; }
int CentreY(IntRect r) { return (r.top + r.bottom) / 2; }

TextOrigin Pressed(TextOrigin origin, bool pressed) {
  if (pressed) {
    ++origin.left;
    ++origin.top;
  }
  return origin;
}

}  // namespace

TextOrigin ColButtonSingleLine(IntRect face, int textWidth, int textHeight, bool pressed) {
  return Pressed({CentreX(face) - textWidth / 2, CentreY(face) - textHeight / 2}, pressed);
}

TextOrigin ColButtonUpperLine(IntRect face, int textWidth, int textHeight, bool pressed) {
  return Pressed({CentreX(face) - textWidth / 2, CentreY(face) - textHeight - 2}, pressed);
}

TextOrigin ColButtonLowerLine(IntRect face, int textWidth, int /*textHeight*/, bool pressed) {
  return Pressed({CentreX(face) - textWidth / 2, CentreY(face) + 2}, pressed);
}

CColButton::CColButton(QWidget* parent) : QAbstractButton(parent) {}

void CColButton::CopyColoursTo(std::initializer_list<CColButton*> others) const {
  for (CColButton* other : others) {
    if (other != nullptr && other != this) other->faceColours = faceColours;
  }
}

QSize CColButton::sizeHint() const {
  const QFontMetrics fm(font());
  const QString widest =
      textMode == kTextTwoLines
          ? (fm.horizontalAdvance(upperText) > fm.horizontalAdvance(lowerText) ? upperText
                                                                                 : lowerText)
          : text();
  const int lines = textMode == kTextTwoLines ? 2 : 1;
  return {fm.horizontalAdvance(widest) + 4 * kColButtonEdge + 8,
          lines * fm.height() + 4 + 4 * kColButtonEdge};
}

void CColButton::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QPalette& pal = palette();
  const IntRect item{0, 0, width(), height()};

  // Flat push-button frame: a one-pixel dark outline around the button's
  // own face colour; the edge is kColButtonEdge wide.
  painter.fillRect(rect(), pal.color(QPalette::Button));
  painter.setPen(pal.color(QPalette::Shadow));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRect(0, 0, width() - 1, height() - 1));

  const IntRect face = ColButtonFace(item);
  if (colourState >= 1 && colourState < int(faceColours.size())) {
    const Rgb c = faceColours[size_t(colourState)];
    painter.fillRect(QRect(QPoint(face.left, face.top), QPoint(face.right - 1, face.bottom - 1)),
                     QColor(c.red, c.green, c.blue));
  }

  const QFontMetrics fm(font());
  const bool pressed = isDown();
  const bool enabled = isEnabled();
  const auto drawLine = [&](const QString& line, TextOrigin at) {
    if (line.isEmpty()) return;
    const QPoint baseline(at.left, at.top + fm.ascent());
    if (enabled) {
      painter.setPen(pal.color(QPalette::Active, QPalette::ButtonText));
      painter.drawText(baseline, line);
      return;
    }
    // The disabled style: an embossed line, highlight below-right, grey on top.
    painter.setPen(pal.color(QPalette::Light));
    painter.drawText(baseline + QPoint(1, 1), line);
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawText(baseline, line);
  };

  painter.setFont(font());
  if (textMode == kTextWindow) {
    const QString line = text();
    if (line.isEmpty()) return;
    drawLine(line, ColButtonSingleLine(face, fm.horizontalAdvance(line), fm.height(), pressed));
  } else if (textMode == kTextTwoLines) {
    drawLine(upperText,
             ColButtonUpperLine(face, fm.horizontalAdvance(upperText), fm.height(), pressed));
    drawLine(lowerText,
             ColButtonLowerLine(face, fm.horizontalAdvance(lowerText), fm.height(), pressed));
  }
}

void CColButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    // Taken so that the release comes back to this button.
    event->accept();
    return;
  }
  QAbstractButton::mousePressEvent(event);
}

void CColButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    event->accept();
    emit rightClicked();
    return;
  }
  QAbstractButton::mouseReleaseEvent(event);
}

}  // namespace plombix
