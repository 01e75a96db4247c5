#include "colour_picker_button.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QToolButton>

namespace plombix {
namespace {

constexpr int kSwatchPixels = 16;
// Room at the right of the button for the drop-down arrow.
constexpr int kArrowRoom = 10;

}  // namespace

const QVector<QColor>& ColourPickerButton::PaletteColours() {
  // Four rows of five: greys, full colours, dark colours, soft colours.
  static const QVector<QColor> kColours{
      {0, 0, 0},       {64, 64, 64},    {128, 128, 128}, {192, 192, 192}, {255, 255, 255},
      {255, 0, 0},     {255, 255, 0},   {0, 255, 0},     {0, 255, 255},   {0, 0, 255},
      {128, 0, 0},     {128, 128, 0},   {0, 128, 0},     {0, 128, 128},   {0, 0, 128},
      {255, 0, 255},   {255, 128, 0},   {128, 0, 128},   {32, 48, 128},   {166, 202, 240},
  };
  return kColours;
}

ColourPalettePopup::ColourPalettePopup(QWidget* parent) : QFrame(parent, Qt::Popup) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setSpacing(2);
  const QVector<QColor>& colours = ColourPickerButton::PaletteColours();
  for (int i = 0; i < colours.size(); ++i) {
    auto* swatch = new QToolButton(this);
    QPixmap face(kSwatchPixels, kSwatchPixels);
    face.fill(colours[i]);
    swatch->setIcon(QIcon(face));
    swatch->setIconSize(face.size());
    swatch->setAutoRaise(true);
    swatch->setToolTip(colours[i].name());
    connect(swatch, &QToolButton::clicked, this, [this, i] { emit entryChosen(i); });
    grid->addWidget(swatch, i / ColourPickerButton::kColumns, i % ColourPickerButton::kColumns);
    entries_.append(swatch);
  }
  auto* other = new QToolButton(this);
  other->setText(QStringLiteral("Other\u2026"));
  other->setToolButtonStyle(Qt::ToolButtonTextOnly);
  other->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  connect(other, &QToolButton::clicked, this, &ColourPalettePopup::otherChosen);
  const int rows = (int(colours.size()) + ColourPickerButton::kColumns - 1) /
                   ColourPickerButton::kColumns;
  grid->addWidget(other, rows, 0, 1, ColourPickerButton::kColumns);
  other_ = other;
}

int ColourPalettePopup::entryCount() const { return int(entries_.size()); }

QAbstractButton* ColourPalettePopup::entry(int index) const {
  if (index < 0 || index >= entries_.size()) return nullptr;
  return entries_[index];
}

ColourPickerButton::ColourPickerButton(QWidget* parent) : QPushButton(parent) {
  connect(this, &QPushButton::clicked, this, &ColourPickerButton::openPopup);
}

void ColourPickerButton::setColour(const QColor& colour) {
  if (!colour.isValid()) return;
  colour_ = QColor(colour.red(), colour.green(), colour.blue());
  update();
}

ColourPalettePopup* ColourPickerButton::popup() {
  if (popup_ == nullptr) {
    popup_ = new ColourPalettePopup(this);
    connect(popup_, &ColourPalettePopup::entryChosen, this, &ColourPickerButton::pickEntry);
    connect(popup_, &ColourPalettePopup::otherChosen, this, &ColourPickerButton::openOtherDialog);
  }
  return popup_;
}

void ColourPickerButton::openPopup() {
  ColourPalettePopup* palette = popup();
  palette->adjustSize();
  palette->move(mapToGlobal(QPoint(0, height())));
  palette->show();
}

bool ColourPickerButton::pickEntry(int index) {
  const QVector<QColor>& colours = PaletteColours();
  if (index < 0 || index >= colours.size()) return false;
  if (popup_ != nullptr) popup_->hide();
  setColour(colours[index]);
  emit colourPicked(colour_.red(), colour_.green(), colour_.blue());
  return true;
}

void ColourPickerButton::pickOther(const QColor& chosen) {
  if (popup_ != nullptr) popup_->hide();
  if (!chosen.isValid()) return;
  setColour(chosen);
  emit colourPicked(colour_.red(), colour_.green(), colour_.blue());
}

void ColourPickerButton::openOtherDialog() {
  if (popup_ != nullptr) popup_->hide();
  pickOther(QColorDialog::getColor(colour_, this));
}

void ColourPickerButton::paintEvent(QPaintEvent* event) {
  // The button's own bevel (no text), then the colour swatch and an arrow.
  QPushButton::paintEvent(event);
  QPainter painter(this);
  const QRect swatch = rect().adjusted(4, 4, -4 - kArrowRoom, -4);
  if (swatch.width() > 0 && swatch.height() > 0) {
    QColor fill = colour_;
    if (!isEnabled()) fill = palette().color(QPalette::Disabled, QPalette::Button);
    painter.fillRect(swatch, fill);
    painter.setPen(palette().color(QPalette::Shadow));
    painter.drawRect(swatch.adjusted(0, 0, -1, -1));
  }
  // A small down arrow in the room at the right.
  const int cx = width() - 4 - kArrowRoom / 2;
  const int cy = height() / 2;
  painter.setPen(Qt::NoPen);
  painter.setBrush(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                   QPalette::ButtonText));
  const QPoint arrow[3] = {{cx - 3, cy - 1}, {cx + 3, cy - 1}, {cx, cy + 2}};
  painter.drawPolygon(arrow, 3);
}

}  // namespace plombix
