#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "ccol_button.h"
#include "qt_test_app.h"

namespace plombix {
namespace {

QImage Render(CColButton& button) { return button.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QRgb ToRgb(Rgb c) { return qRgb(c.red, c.green, c.blue); }

// Bounding box of the pixels inside `area` that differ from `background`.
QRect InkBox(const QImage& image, const QRect& area, QRgb background) {
  QRect box;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (image.pixel(x, y) != background) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

int DarkestGrey(const QImage& image, const QRect& area) {
  int darkest = 255;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) darkest = std::min(darkest, qGray(image.pixel(x, y)));
  }
  return darkest;
}

// A button with the shared colour table, in a window so that it paints.
struct ButtonFixture {
  QWidget window;
  CColButton* button = new CColButton(&window);
  explicit ButtonFixture(QSize size) {
    button->setGeometry(QRect(QPoint(0, 0), size));
    button->faceColours = StandardFaceColours();
    window.resize(size + QSize(10, 10));
  }
};

TEST(ColButtonLayout, HandWorkedPositions) {
  // A 56 x 49 button: face (2,2)-(54,47), centre (28, 24) (49/2 = 24).
  const IntRect face = ColButtonFace({0, 0, 56, 49});
  EXPECT_EQ(face, (IntRect{2, 2, 54, 47}));
  // One line 20 x 13: (28 - 10, 24 - 6) = (18, 18); pressed (19, 19).
  EXPECT_EQ(ColButtonSingleLine(face, 20, 13, false), (TextOrigin{18, 18}));
  EXPECT_EQ(ColButtonSingleLine(face, 20, 13, true), (TextOrigin{19, 19}));
  // Odd width 21: 21 / 2 = 10 -> still 18.
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
  EXPECT_EQ(t[1], (Rgb{252, 184, 184}));
  EXPECT_EQ(t[2], (Rgb{184, 252, 184}));
  EXPECT_EQ(t[3], (Rgb{252, 236, 236}));
  EXPECT_EQ(t[4], (Rgb{0, 0, 0}));
  EXPECT_EQ(t[5], (Rgb{0, 0, 0}));

  CColButton grab, cut, watch;
  grab.faceColours = t;
  grab.faceColours[4] = {164, 184, 252};
  grab.CopyColoursTo({&cut, &watch, nullptr});
  EXPECT_EQ(cut.faceColours, grab.faceColours);
  EXPECT_EQ(watch.faceColours, grab.faceColours);
}

TEST(ColButtonPaint, FaceColourPerState) {
  ButtonFixture f(QSize(60, 30));
  const QPoint inside(30, 15);
  f.button->colourState = 2;
  QImage image = Render(*f.button);
  EXPECT_EQ(image.pixel(inside), qRgb(184, 252, 184));
  // The fill starts inside the two-pixel edge: (2,2) filled, (1,1) not.
  EXPECT_EQ(image.pixel(2, 2), qRgb(184, 252, 184));
  EXPECT_NE(image.pixel(1, 1), qRgb(184, 252, 184));
  EXPECT_EQ(image.pixel(57, 27), qRgb(184, 252, 184));
  EXPECT_NE(image.pixel(58, 28), qRgb(184, 252, 184));

  for (int state = 1; state <= 3; ++state) {
    f.button->colourState = state;
    EXPECT_EQ(Render(*f.button).pixel(inside), ToRgb(f.button->faceColours[size_t(state)])) << state;
  }

  // State 0: the frame's own face shows, none of the state colours.
  f.button->colourState = 0;
  image = Render(*f.button);
  const QRgb unfilled = image.pixel(inside);
  EXPECT_EQ(unfilled, f.button->palette().color(QPalette::Button).rgb());
  for (int state = 1; state <= 3; ++state) EXPECT_NE(unfilled, ToRgb(f.button->faceColours[size_t(state)]));

  // Out-of-range states paint like 0 and do not read past the table.
  for (const int bad : {-1, 6, 1000}) {
    f.button->colourState = bad;
    EXPECT_EQ(Render(*f.button).pixel(inside), unfilled) << bad;
  }
}

TEST(ColButtonPaint, EmptyTextDrawsFrameAndFillOnly) {
  ButtonFixture f(QSize(60, 30));
  f.button->colourState = 3;
  f.button->setText(QString());
  const QImage image = Render(*f.button);
  const QRect face(2, 2, 56, 26);
  EXPECT_TRUE(InkBox(image, face, qRgb(252, 236, 236)).isNull());
  // The same with a text does draw inside the face.
  f.button->setText(QStringLiteral("Grab"));
  EXPECT_FALSE(InkBox(Render(*f.button), face, qRgb(252, 236, 236)).isNull());
}

TEST(ColButtonPaint, PressedShiftsTheTextByOnePixel) {
  ButtonFixture f(QSize(70, 30));
  f.button->colourState = 3;
  f.button->setText(QStringLiteral("Grab"));
  const QRect face(2, 2, 66, 26);
  const QRgb fill = qRgb(252, 236, 236);
  const QRect up = InkBox(Render(*f.button), face, fill);
  f.button->setDown(true);
  const QRect down = InkBox(Render(*f.button), face, fill);
  ASSERT_FALSE(up.isNull());
  EXPECT_EQ(down, up.translated(1, 1));
  // Centred: ink within a pixel or two of the face's centre on both sides.
  f.button->setDown(false);
  const int cx = (2 + 68) / 2;
  EXPECT_LE(std::abs((up.left() + up.right() + 1) / 2 - cx), 2);
}

TEST(ColButtonPaint, TwoLinesLeaveTheGapAroundTheCentre) {
  ButtonFixture f(QSize(56, 49));
  f.button->colourState = 4;
  f.button->faceColours[4] = {164, 184, 252};
  f.button->textMode = CColButton::kTextTwoLines;
  f.button->upperText = QStringLiteral("X");
  f.button->lowerText = QStringLiteral("Home");
  const QRgb fill = qRgb(164, 184, 252);
  const QImage image = Render(*f.button);
  // Face (2,2)-(54,47), centre row 24: the upper line's box ends at row 22
  // (exclusive), the lower line's starts at row 26.
  const QRect face(2, 2, 52, 45);
  const QRect gap(2, 22, 52, 4);  // rows 22..25
  EXPECT_TRUE(InkBox(image, gap, fill).isNull());
  const QRect upper = InkBox(image, QRect(2, 2, 52, 20), fill);
  const QRect lower = InkBox(image, QRect(2, 26, 52, 21), fill);
  ASSERT_FALSE(upper.isNull());
  ASSERT_FALSE(lower.isNull());
  // "Home" is wider than "X"; both centred on column 28.
  EXPECT_GT(lower.width(), upper.width());
  EXPECT_LE(std::abs((upper.left() + upper.right() + 1) / 2 - 28), 2);
  EXPECT_LE(std::abs((lower.left() + lower.right() + 1) / 2 - 28), 2);
  // Text mode 3 ignores the window text; unknown modes draw no text.
  f.button->setText(QStringLiteral("ignored"));
  EXPECT_EQ(Render(*f.button), image);
  f.button->textMode = 1;
  EXPECT_TRUE(InkBox(Render(*f.button), face, fill).isNull());
}

TEST(ColButtonPaint, DisabledTextIsGreyed) {
  ButtonFixture f(QSize(56, 49));
  f.button->colourState = 3;
  f.button->textMode = CColButton::kTextTwoLines;
  f.button->upperText = QStringLiteral("X");
  f.button->lowerText = QStringLiteral("Home");
  const QRect face(2, 2, 52, 45);
  EXPECT_LT(DarkestGrey(Render(*f.button), face), 80);  // plain dark text
  f.button->setEnabled(false);
  const QImage disabled = Render(*f.button);
  EXPECT_GE(DarkestGrey(disabled, face), 80);  // nothing near black
  // Both lines are still drawn.
  EXPECT_FALSE(InkBox(disabled, QRect(2, 2, 52, 20), qRgb(252, 236, 236)).isNull());
  EXPECT_FALSE(InkBox(disabled, QRect(2, 26, 52, 21), qRgb(252, 236, 236)).isNull());
}

TEST(ColButtonMouse, RightReleaseSignalsAndLeftClicks) {
  ButtonFixture f(QSize(60, 30));
  f.window.show();
  QSignalSpy right(f.button, &CColButton::rightClicked);
  QSignalSpy left(f.button, &QAbstractButton::clicked);
  QTest::mouseClick(f.button, Qt::RightButton);
  EXPECT_EQ(right.count(), 1);
  EXPECT_EQ(left.count(), 0);
  QTest::mouseClick(f.button, Qt::LeftButton);
  EXPECT_EQ(right.count(), 1);
  EXPECT_EQ(left.count(), 1);
}

}  // namespace
}  // namespace plombix
