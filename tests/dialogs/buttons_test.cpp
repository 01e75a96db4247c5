// The window's buttons: the state-coloured CColButton (layout, faces and
// text) and the colour picker button with its palette.
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "ccol_button.h"
#include "colour_picker_button.h"
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
  }
  QImage render() { return button->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // Bounding box of the pixels in `area` other than `fill`; the darkest grey.
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
  // A 56 x 49 button: face (2,2)-(54,47), centre (28, 24) (49 / 2 = 24).
  const IntRect face = ColButtonFace({0, 0, 56, 49});
  EXPECT_EQ(face, (IntRect{2, 2, 54, 47}));
  const struct { TextOrigin got, want; } rows[] = {
      {ColButtonSingleLine(face, 20, 13, false), {18, 18}},  // (28 - 10, 24 - 6)
      {ColButtonSingleLine(face, 20, 13, true), {19, 19}},   // pressed: one pixel on
      {ColButtonSingleLine(face, 21, 13, false), {18, 18}},  // 21 / 2 = 10
      {ColButtonUpperLine(face, 8, 13, false), {24, 9}},     // top 24 - 13 - 2
      {ColButtonLowerLine(face, 30, 13, false), {13, 26}},   // top 24 + 2
      {ColButtonUpperLine(face, 8, 13, true), {25, 10}},
      {ColButtonLowerLine(face, 30, 13, true), {14, 27}},
      {ColButtonSingleLine(face, 80, 13, false), {-12, 18}},  // wider than the face
  };
  for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].got, rows[i].want) << "row " << i;
  CColButton grab, cut;  // the shared table, copied to the others
  grab.faceColours[4] = {164, 184, 252};
  grab.CopyColoursTo({&cut, nullptr});
  EXPECT_EQ(cut.faceColours, grab.faceColours);
}

TEST(ColButtonPaint, FaceColourPerStateInsideTheEdge) {
  ButtonFixture f(QSize(60, 30));
  f.button->colourState = 2;
  const QImage image = f.render();  // filled (2,2) to (57,27), inside the two-pixel edge
  EXPECT_TRUE(image.pixel(2, 2) == qRgb(184, 252, 184) && image.pixel(57, 27) == qRgb(184, 252, 184));
  EXPECT_TRUE(image.pixel(1, 1) != qRgb(184, 252, 184) && image.pixel(58, 28) != qRgb(184, 252, 184));
  // States 1..3 pink, green and pale; 0 and states out of the table the frame's own.
  const QRgb own = f.button->palette().color(QPalette::Button).rgb();
  for (const auto& [state, colour] : {std::pair{1, qRgb(252, 184, 184)}, {2, qRgb(184, 252, 184)},
                                      {3, qRgb(252, 236, 236)}, {0, own}, {-1, own}, {6, own}, {1000, own}}) {
    f.button->colourState = state;
    EXPECT_EQ(f.render().pixel(30, 15), colour) << state;
  }
}

TEST(ColButtonPaint, TextsCentredShiftedWhenPressedGreyWhenDisabled) {
  ButtonFixture one(QSize(70, 30));
  one.button->colourState = 3;
  const QRgb pale = qRgb(252, 236, 236);
  one.button->setText(QStringLiteral("Grab"));
  const QRect up = one.ink(QRect(2, 2, 66, 26), pale);
  EXPECT_LE(std::abs(CentreX(up) - 35), 2);
  one.button->setDown(true);
  EXPECT_EQ(one.ink(QRect(2, 2, 66, 26), pale), up.translated(1, 1));

  ButtonFixture two(QSize(56, 49));
  two.button->colourState = 4;
  two.button->faceColours[4] = {164, 184, 252};
  two.button->textMode = CColButton::kTextTwoLines;
  two.button->upperText = QStringLiteral("X");
  two.button->lowerText = QStringLiteral("Home");
  two.button->setText(QStringLiteral("ignored in text mode 3"));
  const QRgb blue = qRgb(164, 184, 252);
  // Centre row 24: the upper line ends above row 22, the lower starts at 26.
  EXPECT_TRUE(two.ink(QRect(2, 22, 52, 4), blue).isNull());
  const QRect upper = two.ink(QRect(2, 2, 52, 20), blue), lower = two.ink(QRect(2, 26, 52, 21), blue);
  EXPECT_GT(lower.width(), upper.width());
  EXPECT_LE(std::abs(CentreX(upper) - 28), 2);
  EXPECT_LE(std::abs(CentreX(lower) - 28), 2);
  for (const bool enabled : {true, false}) {
    two.button->setEnabled(enabled);
    int darkest = 255;
    two.ink(QRect(2, 2, 52, 45), blue, &darkest);
    EXPECT_EQ(darkest < 80, enabled);  // plain dark text, grey when disabled
  }
}

std::vector<QColor> Picks(const QSignalSpy& spy) {
  std::vector<QColor> out;
  for (const QList<QVariant>& a : spy) out.emplace_back(a.at(0).toInt(), a.at(1).toInt(), a.at(2).toInt());
  return out;
}

// The palette: five columns of colours and "Other…", nothing else; a pick
// (a swatch clicked or a colour from the dialog) is reported as red, green,
// blue and closes it; a cancelled dialog or a colour set by the window
// reports nothing; the button shows its colour.
TEST(ColourPicker, PaletteAndPicks) {
  QWidget window;
  auto* button = new ColourPickerButton(&window);
  button->setGeometry(0, 0, 50, 23);
  window.show();
  QSignalSpy spy(button, &ColourPickerButton::colourPicked);
  button->openPopup();
  ColourPalettePopup* popup = button->popup();
  ASSERT_TRUE(popup->isVisible());
  ASSERT_EQ(popup->entryCount(), ColourPickerButton::PaletteColours().size());
  std::set<int> columns;  // rows of five: entry i in column i % 5
  for (int i = 0; i < popup->entryCount(); ++i) {
    EXPECT_EQ(popup->entry(i)->pos(), QPoint(popup->entry(i % 5)->x(), popup->entry(i - i % 5)->y())) << i;
    columns.insert(popup->entry(i)->x());
  }
  EXPECT_EQ(columns.size(), 5u);
  EXPECT_EQ(popup->findChildren<QAbstractButton*>().size(), popup->entryCount() + 1);  // + "Other…"
  EXPECT_EQ(popup->entry(popup->entryCount()), nullptr);

  const QColor seventh = ColourPickerButton::PaletteColours()[7];
  popup->entry(7)->click();
  EXPECT_FALSE(popup->isVisible());
  button->openPopup();
  button->pickOther(QColor(0x20, 0x30, 0x80));
  EXPECT_FALSE(popup->isVisible());
  button->pickOther(QColor());  // cancelled
  EXPECT_FALSE(button->pickEntry(-1) || button->pickEntry(popup->entryCount()));
  button->setColour(QColor(1, 2, 3, 4));
  EXPECT_EQ(Picks(spy), (std::vector<QColor>{seventh, QColor(0x20, 0x30, 0x80)}));
  EXPECT_EQ(button->colour(), QColor(1, 2, 3));  // alpha dropped

  button->setColour(QColor(0x20, 0x30, 0x80));
  const QImage image = button->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_TRUE(image.pixel(20, 11) == qRgb(0x20, 0x30, 0x80) && image.pixel(8, 8) == qRgb(0x20, 0x30, 0x80));
}

}  // namespace
}  // namespace plombix
