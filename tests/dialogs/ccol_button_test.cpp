#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "ccol_button.h"
#include "qt_test_app.h"

namespace plombix {
namespace {

// A button with the shared colour table, in a window so that it paints.
struct ButtonFixture {
  QWidget window;
  CColButton* button = new CColButton(&window);
  explicit ButtonFixture(QSize size) {
    button->setGeometry(QRect(QPoint(0, 0), size));
    button->faceColours = StandardFaceColours();
    window.resize(size + QSize(10, 10));
  }
  QImage render() { return button->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // Bounding box of the pixels inside `area` that differ from `fill`, and
  // the darkest grey there.
  QRect ink(const QRect& area, QRgb fill, int* darkest = nullptr) {
    const QImage image = render();
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x) {
        if (image.pixel(x, y) != fill) box |= QRect(x, y, 1, 1);
        if (darkest) *darkest = std::min(*darkest, qGray(image.pixel(x, y)));
      }
    return box;
  }
};

int CentreX(const QRect& r) { return (r.left() + r.right() + 1) / 2; }

TEST(ColButtonLayout, HandWorkedPositions) {
  // A 56 x 49 button: face (2,2)-(54,47), centre (28, 24) (49/2 = 24).
  const IntRect face = ColButtonFace({0, 0, 56, 49});
  EXPECT_EQ(face, (IntRect{2, 2, 54, 47}));
  // One line 20 x 13: (28 - 10, 24 - 6) = (18, 18); pressed (19, 19); odd
  // width 21: 21 / 2 = 10 -> still 18.
  EXPECT_EQ(ColButtonSingleLine(face, 20, 13, false), (TextOrigin{18, 18}));
  EXPECT_EQ(ColButtonSingleLine(face, 20, 13, true), (TextOrigin{19, 19}));
  EXPECT_EQ(ColButtonSingleLine(face, 21, 13, false), (TextOrigin{18, 18}));
  // Two lines, 13 high: upper top 24 - 13 - 2 = 9, lower top 24 + 2 = 26.
  EXPECT_EQ(ColButtonUpperLine(face, 8, 13, false), (TextOrigin{24, 9}));
  EXPECT_EQ(ColButtonLowerLine(face, 30, 13, false), (TextOrigin{13, 26}));
  EXPECT_EQ(ColButtonUpperLine(face, 8, 13, true), (TextOrigin{25, 10}));
  EXPECT_EQ(ColButtonLowerLine(face, 30, 13, true), (TextOrigin{14, 27}));
  // A text wider than the face starts left of it (the platform clips).
  EXPECT_EQ(ColButtonSingleLine(face, 80, 13, false).left, 28 - 40);
}

TEST(ColButtonColours, SharedTableAndCopy) {
  const FaceColourTable t = StandardFaceColours();
  EXPECT_EQ(t, (FaceColourTable{Rgb{}, {252, 184, 184}, {184, 252, 184}, {252, 236, 236}, {}, {}}));
  CColButton grab, cut, watch;
  grab.faceColours = t;
  grab.faceColours[4] = {164, 184, 252};
  grab.CopyColoursTo({&cut, &watch, nullptr});
  EXPECT_EQ(cut.faceColours, grab.faceColours);
  EXPECT_EQ(watch.faceColours, grab.faceColours);
}

TEST(ColButtonPaint, FaceColourPerStateInsideTheEdge) {
  ButtonFixture f(QSize(60, 30));
  const QPoint inside(30, 15);
  f.button->colourState = 2;
  const QImage image = f.render();
  // The fill covers (2,2) to (57,27), inside the two-pixel edge.
  for (const auto& [p, filled] : {std::pair{QPoint(2, 2), true},
                                  {QPoint(57, 27), true},
                                  {QPoint(1, 1), false},
                                  {QPoint(58, 28), false}})
    EXPECT_EQ(image.pixel(p) == qRgb(184, 252, 184), filled) << p.x() << "," << p.y();
  for (int state = 1; state <= 3; ++state) {
    f.button->colourState = state;
    const Rgb c = f.button->faceColours[size_t(state)];
    EXPECT_EQ(f.render().pixel(inside), qRgb(c.red, c.green, c.blue)) << state;
  }
  // State 0 shows the frame's own face; out-of-range states paint like 0
  // and do not read past the table.
  f.button->colourState = 0;
  const QRgb unfilled = f.render().pixel(inside);
  EXPECT_EQ(unfilled, f.button->palette().color(QPalette::Button).rgb());
  for (const int bad : {-1, 6, 1000}) {
    f.button->colourState = bad;
    EXPECT_EQ(f.render().pixel(inside), unfilled) << bad;
  }
}

TEST(ColButtonPaint, OneLineIsCentredAndShiftsWhenPressed) {
  ButtonFixture f(QSize(70, 30));
  f.button->colourState = 3;
  const QRect face(2, 2, 66, 26);
  const QRgb fill = qRgb(252, 236, 236);
  EXPECT_TRUE(f.ink(face, fill).isNull());  // no text: frame and fill only
  f.button->setText(QStringLiteral("Grab"));
  const QRect up = f.ink(face, fill);
  ASSERT_FALSE(up.isNull());
  EXPECT_LE(std::abs(CentreX(up) - 35), 2);  // face centre (2 + 68) / 2
  f.button->setDown(true);
  EXPECT_EQ(f.ink(face, fill), up.translated(1, 1));
}

TEST(ColButtonPaint, TwoLinesLeaveTheGapAroundTheCentreAndGreyWhenDisabled) {
  ButtonFixture f(QSize(56, 49));
  f.button->colourState = 4;
  f.button->faceColours[4] = {164, 184, 252};
  f.button->textMode = CColButton::kTextTwoLines;
  f.button->upperText = QStringLiteral("X");
  f.button->lowerText = QStringLiteral("Home");
  const QRgb fill = qRgb(164, 184, 252);
  // Face (2,2)-(54,47), centre row 24: the upper line's box ends at row 22
  // (exclusive), the lower line's starts at row 26.
  const QRect face(2, 2, 52, 45), upperArea(2, 2, 52, 20), lowerArea(2, 26, 52, 21);
  EXPECT_TRUE(f.ink(QRect(2, 22, 52, 4), fill).isNull());
  const QRect upper = f.ink(upperArea, fill), lower = f.ink(lowerArea, fill);
  ASSERT_FALSE(upper.isNull() || lower.isNull());
  EXPECT_GT(lower.width(), upper.width());  // "Home" is wider than "X"; both centred on 28
  EXPECT_LE(std::abs(CentreX(upper) - 28), 2);
  EXPECT_LE(std::abs(CentreX(lower) - 28), 2);
  int darkest = 255;
  f.ink(face, fill, &darkest);
  EXPECT_LT(darkest, 80);  // plain dark text
  // Text mode 3 ignores the window text.
  const QImage image = f.render();
  f.button->setText(QStringLiteral("ignored"));
  EXPECT_EQ(f.render(), image);
  // Disabled: nothing near black, both lines still drawn.
  f.button->setEnabled(false);
  darkest = 255;
  f.ink(face, fill, &darkest);
  EXPECT_GE(darkest, 80);
  EXPECT_FALSE(f.ink(upperArea, fill).isNull() || f.ink(lowerArea, fill).isNull());
  // Unknown text modes draw no text.
  f.button->textMode = 1;
  EXPECT_TRUE(f.ink(face, fill).isNull());
}

TEST(ColButtonMouse, RightReleaseSignalsAndLeftClicks) {
  ButtonFixture f(QSize(60, 30));
  f.window.show();
  QSignalSpy right(f.button, &CColButton::rightClicked);
  QSignalSpy left(f.button, &QAbstractButton::clicked);
  QTest::mouseClick(f.button, Qt::RightButton);
  using Counts = std::pair<qsizetype, qsizetype>;  // right, left
  EXPECT_EQ(Counts(right.count(), left.count()), Counts(1, 0));
  QTest::mouseClick(f.button, Qt::LeftButton);
  EXPECT_EQ(Counts(right.count(), left.count()), Counts(1, 1));
}

}  // namespace
}  // namespace plombix
