// Message boxes sized for their title; see message_box.h for the width rule.
#include "message_box.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

#include <algorithm>

namespace plombix {
namespace {

constexpr qreal kMinimumTitlePoints = 11.0;
constexpr int kTitleButtonsPerSide = 3;
constexpr int kTitleButtonPadding = 8;

}  // namespace

QFont TitleBarFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
  font.setBold(true);
  // A font given in pixels reports no point size; it is taken as it is.
  if (font.pointSizeF() > 0 && font.pointSizeF() < kMinimumTitlePoints)
    font.setPointSizeF(kMinimumTitlePoints);
  return font;
}

int TitleBarWidth(const QString& title) {
  const QFontMetrics fm(TitleBarFont());
  const int button = fm.height() + kTitleButtonPadding;
  return 2 * kTitleButtonsPerSide * button + fm.horizontalAdvance(title);
}

void SetUpMessageBox(QMessageBox& box, BoxButtons buttons, const QString& title,
                     const QString& text) {
  box.setIcon(buttons == BoxButtons::OkCancel ? QMessageBox::Question : QMessageBox::Information);
  box.setWindowTitle(title);
  box.setText(text);
  if (buttons == BoxButtons::OkCancel) {
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
  }
  // The box fixes its own size from its layout's minimum each time it lays
  // itself out, so the minimum width goes into the layout: a spacer row
  // across every column, as wide as the title needs less the margins.
  QLayout* layout = box.layout();
  if (layout == nullptr) return;
  const QMargins margins = layout->contentsMargins();
  const int spacerWidth = std::max(0, TitleBarWidth(title) - margins.left() - margins.right());
  auto* spacer = new QSpacerItem(spacerWidth, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
  if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
    grid->addItem(spacer, grid->rowCount(), 0, 1, std::max(1, grid->columnCount()));
  } else {
    layout->addItem(spacer);
  }
}

}  // namespace plombix
