#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "colour_picker_button.h"
#include "qt_test_app.h"

namespace plombix {
namespace {

// The red, green and blue of the picks `spy` recorded.
std::vector<QColor> Picks(const QSignalSpy& spy) {
  std::vector<QColor> out;
  for (const QList<QVariant>& a : spy) out.emplace_back(a.at(0).toInt(), a.at(1).toInt(), a.at(2).toInt());
  return out;
}

TEST(ColourPalette, FiveColumnsOfColoursAndOneOtherEntry) {
  QWidget window;
  auto* button = new ColourPickerButton(&window);
  button->setGeometry(0, 0, 50, 23);
  window.show();
  button->openPopup();
  ColourPalettePopup* popup = button->popup();
  ASSERT_TRUE(popup->isVisible());
  EXPECT_EQ(popup->columns(), 5);
  ASSERT_EQ(popup->entryCount(), ColourPickerButton::PaletteColours().size());
  ASSERT_EQ(popup->entryCount() % 5, 0);
  // Laid out in rows of five: entry i sits in column i % 5.
  for (int i = 0; i < popup->entryCount(); ++i) {
    EXPECT_EQ(popup->entry(i)->x(), popup->entry(i % 5)->x()) << i;
    EXPECT_EQ(popup->entry(i)->y(), popup->entry(i - i % 5)->y()) << i;
  }
  std::set<int> columnsX;
  for (int i = 0; i < 5; ++i) columnsX.insert(popup->entry(i)->x());
  EXPECT_EQ(columnsX.size(), 5u);
  EXPECT_EQ(popup->entry(-1), nullptr);
  EXPECT_EQ(popup->entry(popup->entryCount()), nullptr);
  // Colours and "Other…" are the only entries: no automatic colour.
  EXPECT_EQ(popup->otherButton()->text(), QStringLiteral("Other\u2026"));
  EXPECT_EQ(popup->findChildren<QAbstractButton*>().size(), popup->entryCount() + 1);
  EXPECT_GT(popup->otherButton()->y(), popup->entry(popup->entryCount() - 1)->y());
}

TEST(ColourPalette, PickingEmitsRedGreenBlueAndCloses) {
  QWidget window;
  auto* button = new ColourPickerButton(&window);
  window.show();
  QSignalSpy spy(button, &ColourPickerButton::colourPicked);

  button->openPopup();
  // Through the swatch itself, as a mouse click would.
  const int index = 7;
  const QColor expected = ColourPickerButton::PaletteColours()[index];
  button->popup()->entry(index)->click();
  EXPECT_EQ(Picks(spy), std::vector<QColor>{expected});
  EXPECT_EQ(button->colour(), expected);
  EXPECT_FALSE(button->popup()->isVisible());
  // "Other…" with a colour from the dialog.
  button->openPopup();
  button->pickOther(QColor(0x20, 0x30, 0x80));
  EXPECT_EQ(Picks(spy), (std::vector<QColor>{expected, QColor(0x20, 0x30, 0x80)}));
  EXPECT_FALSE(button->popup()->isVisible());

  // A cancelled dialog and entries out of range change nothing.
  button->pickOther(QColor());
  EXPECT_FALSE(button->pickEntry(-1));
  EXPECT_FALSE(button->pickEntry(int(ColourPickerButton::PaletteColours().size())));
  EXPECT_EQ(spy.count(), 2);
  EXPECT_EQ(button->colour(), QColor(0x20, 0x30, 0x80));

  // Setting the colour from the window emits nothing; alpha is dropped.
  button->setColour(QColor(1, 2, 3, 4));
  EXPECT_EQ(spy.count(), 2);
  EXPECT_EQ(button->colour(), QColor(1, 2, 3));
}

TEST(ColourPickerButton, ShowsItsColour) {
  QWidget window;
  auto* button = new ColourPickerButton(&window);
  button->setGeometry(0, 0, 50, 23);
  button->setColour(QColor(0x20, 0x30, 0x80));
  const QImage image = button->grab().toImage().convertToFormat(QImage::Format_RGB32);
  // The swatch covers (4,4) to (35,18); its middle shows the colour.
  EXPECT_EQ(image.pixel(20, 11), qRgb(0x20, 0x30, 0x80));
  EXPECT_EQ(image.pixel(8, 8), qRgb(0x20, 0x30, 0x80));
  button->setColour(QColor(255, 255, 255));
  EXPECT_EQ(button->grab().toImage().pixel(20, 11) & 0xffffff, 0xffffffu);
}

}  // namespace
}  // namespace plombix
