// NameLabel: a one-line label for texts that carry a file name of any
// length (the picture on air or its failure, the overlay, the slideshow's
// base name).
//
// A text wider than the label loses the middle of its name ("IMG_2026…
// phone.heic"), so that the name's start and its extension stay readable;
// the text before and after the name ("Cannot show " and ": not a picture")
// stays whole. Only when that text alone is too wide is the whole elided at
// its start, which keeps the reason. The line is drawn inside the label's
// height whole, descenders and underscores included, even where the label
// is shorter than the font's line. text() is always the whole text.
#pragma once

#include <QLabel>
#include <QString>

class QFontMetrics;

namespace plombix {

class NameLabel : public QLabel {
  Q_OBJECT
 public:
  explicit NameLabel(QWidget* parent = nullptr);

  // Shows before + name + after, eliding the name first. QLabel::setText
  // shows a text whose whole is taken as the name.
  void setParts(const QString& before, const QString& name, const QString& after);

  // What the label shows of the parts in `widthPx` pixels with `metrics`.
  static QString Shown(const QFontMetrics& metrics, int widthPx, const QString& before,
                       const QString& name, const QString& after);
  // What it shows now, at its width.
  QString shownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString before_, name_, after_;
};

}  // namespace plombix
