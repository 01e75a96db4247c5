#include "name_label.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace plombix {

NameLabel::NameLabel(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

void NameLabel::setParts(const QString& before, const QString& name, const QString& after) {
  before_ = before;
  name_ = name;
  after_ = after;
  setText(before + name + after);
}

QString NameLabel::Shown(const QFontMetrics& fm, int widthPx, const QString& before,
                         const QString& name, const QString& after) {
  const QString whole = before + name + after;
  if (fm.horizontalAdvance(whole) <= widthPx) return whole;
  const QString ellipsis(QChar(0x2026));
  const int room = widthPx - fm.horizontalAdvance(before) - fm.horizontalAdvance(after);
  if (room >= fm.horizontalAdvance(ellipsis)) {
    QString middle = fm.elidedText(name, Qt::ElideMiddle, room);
    if (middle.isEmpty()) middle = ellipsis;
    return before + middle + after;
  }
  return fm.elidedText(whole, Qt::ElideLeft, widthPx);
}

QString NameLabel::shownText() const {
  // A text set through QLabel::setText is a name as a whole.
  const bool parts = text() == before_ + name_ + after_;
  return Shown(QFontMetrics(font()), contentsRect().width(), parts ? before_ : QString(),
               parts ? name_ : text(), parts ? after_ : QString());
}

void NameLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect r = contentsRect();
  const QFontMetrics fm(font());
  // One line from the top; where the label is shorter than the line, the
  // baseline rises so that the lowest ink (an underscore sits at or below
  // the descent) stays inside: the top of tall letters gives way first.
  const int depth = std::max(fm.descent(), fm.underlinePos() + fm.lineWidth());
  const int top = std::min(r.top(), r.top() + r.height() - fm.ascent() - depth);
  const QRect line(r.left(), top, r.width(), fm.ascent() + depth);
  const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
  style()->drawItemText(&painter, line, int(horizontal | Qt::AlignTop | Qt::TextSingleLine), palette(),
                        isEnabled(), shownText(), foregroundRole());
}

}  // namespace plombix
