// ColourPickerButton: a button that shows its colour; a click opens a small
// palette (5 columns of fixed colours) with an "Other…" entry that opens the
// colour dialog. Picking a colour sets it on the button and emits
// colourPicked(red, green, blue). There is no "automatic" entry.
//
// The palette is a pop-up owned by the button; tests drive it with
// pickEntry() and pickOther() instead of mouse clicks and the modal dialog.
#pragma once

#include <QColor>
#include <QFrame>
#include <QPushButton>
#include <QVector>

namespace plombix {

class ColourPalettePopup;

class ColourPickerButton : public QPushButton {
  Q_OBJECT
 public:
  static constexpr int kColumns = 5;

  explicit ColourPickerButton(QWidget* parent = nullptr);

  // The colour shown (alpha ignored); setting it emits nothing.
  void setColour(const QColor& colour);
  QColor colour() const { return colour_; }

  // The palette's fixed colours, row by row (5 a row).
  static const QVector<QColor>& PaletteColours();

  // The pop-up (created on first use), e.g. to inspect it in tests.
  ColourPalettePopup* popup();
  // Shows the palette under the button.
  void openPopup();

  // What a click on palette entry `index` does: set, emit, close the
  // palette. Out-of-range indexes do nothing and return false.
  bool pickEntry(int index);
  // What "Other…" does once the dialog returned `chosen`: an invalid colour
  // (dialog cancelled) changes nothing; otherwise set, emit, close.
  void pickOther(const QColor& chosen);

 signals:
  void colourPicked(int red, int green, int blue);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void openOtherDialog();

  QColor colour_{0, 0, 0};
  ColourPalettePopup* popup_ = nullptr;
};

// The palette pop-up: a grid of colour swatches and an "Other…" button.
class ColourPalettePopup : public QFrame {
  Q_OBJECT
 public:
  explicit ColourPalettePopup(QWidget* parent);

  int columns() const { return ColourPickerButton::kColumns; }
  int entryCount() const;
  // The swatch button of entry `index` (for tests), null when out of range.
  QAbstractButton* entry(int index) const;
  QAbstractButton* otherButton() const { return other_; }

 signals:
  void entryChosen(int index);
  void otherChosen();

 private:
  QVector<QAbstractButton*> entries_;
  QAbstractButton* other_ = nullptr;
};

}  // namespace plombix
