// Dialog-unit arithmetic, label texts, number read-back and the builder
// that turns a template table into widgets. See dialog_template.h for the
// conversion rules.
#include "dialog_template.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QToolButton>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "ccol_button.h"
#include "colour_picker_button.h"
#include "name_label.h"
#include "picture_label.h"

namespace plombix {

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = int64_t(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const int64_t num = product < 0 ? -product : product;
  const int64_t den = c < 0 ? -int64_t(c) : c;
  const int64_t q = (num + den / 2) / den;  // halves away from zero
  if (q > INT32_MAX) return -1;               // as the platform reports overflow
  return int(negative ? -q : q);
}

int AverageCharWidth(int widthOf52Letters) { return (widthOf52Letters / 26 + 1) / 2; }

int DuToPixelsX(int du, DialogBaseUnits units) {
  return MulDiv(du, units.avgCharWidth, 4 * kUnitSteps);
}
int DuToPixelsY(int du, DialogBaseUnits units) {
  return MulDiv(du, units.charHeight, 8 * kUnitSteps);
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics fm(font);
  const int width =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return DialogBaseUnits::Pixels(AverageCharWidth(width), fm.height());
}

namespace {

// The smallest unit from `start` (up to four times it) at which every need
// of `needs` fits along one axis; `toPixels` converts a size in DU.
template <class NeedOf, class ToPixels>
int FitUnit(int start, std::span<const ControlNeed> needs, NeedOf needOf, ToPixels toPixels) {
  const int limit = 4 * start;
  int unit = start;
  for (const ControlNeed& need : needs) {
    const auto [du, pixels] = needOf(need);
    if (pixels <= 0 || du <= 0) continue;
    // Units only grow, so every need already met stays met.
    while (unit < limit && toPixels(du, unit) < pixels) ++unit;
  }
  return unit;
}

}  // namespace

DialogBaseUnits FitBaseUnits(DialogBaseUnits start, std::span<const ControlNeed> needs) {
  DialogBaseUnits units = start;
  units.avgCharWidth = FitUnit(
      start.avgCharWidth, needs,
      [](const ControlNeed& n) { return std::pair{n.widthDu, n.pixels.width()}; },
      [](int du, int unit) { return DuToPixelsX(du, DialogBaseUnits{unit, 0}); });
  units.charHeight = FitUnit(
      start.charHeight, needs,
      [](const ControlNeed& n) { return std::pair{n.heightDu, n.pixels.height()}; },
      [](int du, int unit) { return DuToPixelsY(du, DialogBaseUnits{0, unit}); });
  return units;
}

namespace {

// The pixels beside the contents rectangle `element` of a button-like
// widget: its width minus that of the contents, for a wide trial rectangle.
int ButtonDecorationWidth(const QWidget& widget, QStyle::SubElement element, int height) {
  QStyleOptionButton option;
  option.initFrom(&widget);
  option.rect = QRect(0, 0, 1000, height);
  const QRect contents = widget.style()->subElementRect(element, &option, &widget);
  return option.rect.width() - contents.width();
}

}  // namespace

QSize NeededPixels(const ControlSpec& spec, const QWidget& widget, const QString& text) {
  if (text.isEmpty()) return {};
  const QFontMetrics fm(widget.font());
  const QStyle* style = widget.style();
  const int lineHeight = fm.height();
  const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &widget);
  switch (spec.kind) {
    case ControlKind::Label:
      return {fm.horizontalAdvance(text), lineHeight};
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: {
      // The label is centred in the contents rectangle; the button margin
      // keeps it off the frame.
      const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &widget);
      const int beside = ButtonDecorationWidth(widget, QStyle::SE_PushButtonContents, lineHeight);
      return {fm.horizontalAdvance(text) + beside + margin, lineHeight + 2 * frame};
    }
    case ControlKind::CheckBox:
    case ControlKind::Radio: {
      const bool radio = spec.kind == ControlKind::Radio;
      const int beside = ButtonDecorationWidth(
          widget, radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents, lineHeight);
      const int indicator = style->pixelMetric(
          radio ? QStyle::PM_ExclusiveIndicatorHeight : QStyle::PM_IndicatorHeight, nullptr, &widget);
      return {fm.horizontalAdvance(text) + beside, std::max(indicator, lineHeight)};
    }
    case ControlKind::GroupBox: {
      QStyleOptionGroupBox option;
      option.initFrom(&widget);
      option.text = text;
      option.rect = QRect(0, 0, 1000, 1000);
      option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
      option.textAlignment = Qt::AlignLeft;
      option.lineWidth = 1;
      const QRect title =
          style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &widget);
      const int inset = std::max(title.left(), 0);
      return {inset + std::max(title.width(), fm.horizontalAdvance(text)) + inset,
              std::max(title.bottom() + 1, lineHeight)};
    }
    case ControlKind::MenuButton: {
      // The text stays centred; the arrow sits in the right-hand corner, so
      // the same room is kept on both sides.
      const int arrow = style->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, &widget);
      return {fm.horizontalAdvance(text) + 2 * arrow + 2 * frame, lineHeight + 2 * frame};
    }
    case ControlKind::NumberEdit: {
      // A line edit keeps 2 pixels each side between its frame and the text
      // and 1 above and below (Qt's fixed line-edit margins).
      constexpr int kEditMarginX = 2, kEditMarginY = 1;
      return {fm.horizontalAdvance(text) + 2 * (frame + kEditMarginX) + 1,  // + the cursor
              lineHeight + 2 * (frame + kEditMarginY)};
    }
    case ControlKind::ColButton: {
      const int edges = 2 * kColButtonEdge;
      if (spec.flags & kTwoLine) {
        const qsizetype split = text.indexOf(QStringLiteral("\n\n"));
        const QString upper = split < 0 ? text : text.left(split);
        const QString lower = split < 0 ? QString() : text.mid(split + 2);
        const int widest = std::max(fm.horizontalAdvance(upper), fm.horizontalAdvance(lower));
        // Each line lies 2 pixels off the face's centre, and a pressed
        // button moves them 1 pixel down.
        return {widest + edges, edges + 2 * (lineHeight + 2) + 1};
      }
      return {fm.horizontalAdvance(text) + edges, lineHeight + edges};
    }
    case ControlKind::Picture:
    case ControlKind::ColourPicker:
    case ControlKind::PreviewBox:
      return {};
  }
  return {};
}

QStringList ShownTexts(const DialogTemplate& tmpl, const ControlSpec& spec) {
  QStringList texts;
  const QString own = QString::fromUtf8(spec.text);
  // Two-line buttons draw their lines themselves, without the mnemonic rule.
  const QString shown = spec.kind == ControlKind::ColButton ? own : ShownLabelText(own);
  if (!shown.isEmpty()) texts.append(shown);
  if (spec.id == kNoId) return texts;
  for (const RunTimeText& later : tmpl.runTimeTexts) {
    if (later.id == spec.id && *later.text != '\0') texts.append(QString::fromUtf8(later.text));
  }
  return texts;
}

QFont DialogFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSize(8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QString ShownLabelText(const QString& platformText) {
  QString shown;
  shown.reserve(platformText.size());
  for (qsizetype i = 0; i < platformText.size(); ++i) {
    const QChar c = platformText[i];
    if (c == u'&') {
      // "&&" is a literal ampersand; a single one only marks the next letter.
      if (i + 1 < platformText.size() && platformText[i + 1] == u'&') {
        shown += u'&';
        ++i;
      }
      continue;
    }
    shown += c;
  }
  return shown;
}

QPixmap BitmapPixmap(int id) {
  QPixmap pixmap;
  if (id > 0) pixmap.load(QStringLiteral(":/bitmaps/%1.png").arg(id));
  return pixmap;
}

QString RangeMessage(NumberRange range) {
  return QStringLiteral("Please enter an integer between %1 and %2.").arg(range.min).arg(range.max);
}

NumberReadBack ReadNumber(const QString& text, NumberRange range) {
  NumberReadBack result;
  result.message = RangeMessage(range);
  static const QRegularExpression kInteger(QStringLiteral("^[+-]?[0-9]+$"));
  const QString trimmed = text.trimmed();
  if (!kInteger.match(trimmed).hasMatch()) return result;
  bool parsed = false;
  const int value = trimmed.toInt(&parsed);  // fails on overflow
  if (!parsed || value < range.min || value > range.max) return result;
  result.ok = true;
  result.value = value;
  result.message.clear();
  return result;
}

void BuiltDialog::setFolded(bool folded) {
  if (folded == folded_ || belowFold_.isEmpty()) return;
  folded_ = folded;
  if (folded) {
    hiddenByFold_.clear();
    for (const qsizetype at : belowFold_) {
      QWidget* widget = all_.value(at);
      // Controls hidden for their own reasons stay out of the unfold.
      if (widget == nullptr || widget->isHidden()) continue;
      widget->hide();
      hiddenByFold_.append(widget);
    }
    return;
  }
  for (const QPointer<QWidget>& widget : hiddenByFold_) {
    if (widget) widget->show();
  }
  hiddenByFold_.clear();
}

namespace {

Qt::Alignment LabelAlignment(unsigned flags) {
  Qt::Alignment horizontal = Qt::AlignLeft;
  if (flags & kTextCentre) horizontal = Qt::AlignHCenter;
  if (flags & kTextRight) horizontal = Qt::AlignRight;
  return horizontal | Qt::AlignTop;
}

QWidget* MakeControl(const ControlSpec& spec, QWidget* parent, const BuildOptions& options) {
  const QString text = QString::fromUtf8(spec.text);
  switch (spec.kind) {
    case ControlKind::Label: {
      auto* label = spec.flags & kFileName ? new NameLabel(parent) : new QLabel(parent);
      label->setText(ShownLabelText(text));
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(LabelAlignment(spec.flags));
      label->setWordWrap(false);
      return label;
    }
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: {
      auto* button = new QPushButton(text, parent);
      if (spec.kind == ControlKind::DefaultPushButton) button->setDefault(true);
      return button;
    }
    case ControlKind::CheckBox:
      return new QCheckBox(text, parent);
    case ControlKind::Radio:
      return new QRadioButton(text, parent);
    case ControlKind::NumberEdit: {
      auto* edit = new QLineEdit(parent);
      // Digits only, as a number edit takes them; the range is checked when
      // the window reads the value back (ReadNumber).
      edit->setValidator(
          new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
      return edit;
    }
    case ControlKind::GroupBox:
      return new QGroupBox(text, parent);
    case ControlKind::Picture: {
      auto* picture = new PictureLabel(parent);
      picture->setNotify((spec.flags & kNotify) != 0);
      return picture;
    }
    case ControlKind::MenuButton: {
      auto* button = new QToolButton(parent);
      button->setText(text);
      button->setPopupMode(QToolButton::InstantPopup);
      button->setToolButtonStyle(Qt::ToolButtonTextOnly);
      return button;
    }
    case ControlKind::ColourPicker:
      return new ColourPickerButton(parent);
    case ControlKind::ColButton: {
      auto* button = new CColButton(parent);
      button->setText(text);
      if (spec.flags & kTwoLine) {
        button->textMode = CColButton::kTextTwoLines;
        const qsizetype split = text.indexOf(QStringLiteral("\n\n"));
        button->upperText = split < 0 ? text : text.left(split);
        button->lowerText = split < 0 ? QString() : text.mid(split + 2);
      }
      return button;
    }
    case ControlKind::PreviewBox: {
      if (options.previewFactory) {
        if (QWidget* made = options.previewFactory(parent, spec)) return made;
      }
      return new QFrame(parent);  // framed when the table asks (kBorder)
    }
  }
  return new QWidget(parent);  // unreachable with a valid kind
}

}  // namespace

BuiltDialog BuildDialog(const DialogTemplate& tmpl, QWidget* parent, const BuildOptions& options) {
  BuiltDialog built;
  const QFont font = DialogFont();
  if (options.setParentFont && parent != nullptr) parent->setFont(font);

  QButtonGroup* group = nullptr;
  int groupFirstId = kNoId;
  int groupNextId = 0;
  QList<QWidget*> groupBoxes;

  for (const ControlSpec& spec : tmpl.controls) {
    QWidget* widget = MakeControl(spec, parent, options);
    if (spec.id != kNoId) {
      widget->setObjectName(QStringLiteral("ctl_%1").arg(spec.id));
      built.byId_.insert(spec.id, widget);
    }
    if (spec.flags & kBorder) {
      if (auto* frame = qobject_cast<QFrame*>(widget)) {
        frame->setFrameStyle(QFrame::Box | QFrame::Plain);
        frame->setLineWidth(1);
      }
    }
    if (spec.flags & kUnderlined) {
      QFont underlined = font;
      underlined.setUnderline(true);
      widget->setFont(underlined);
    }
    if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
      if ((spec.flags & kGroupStart) || group == nullptr) {
        group = new QButtonGroup(parent);
        group->setExclusive(true);
        groupFirstId = spec.id;
        groupNextId = 0;
        built.groups_.insert(groupFirstId, group);
      }
      group->addButton(radio, groupNextId++);
    }
    if (spec.kind == ControlKind::GroupBox) groupBoxes.append(widget);
    if (spec.flags & kHidden) widget->setHidden(true);
    if (tmpl.foldDu > 0 && spec.y >= tmpl.foldDu) built.belowFold_.append(built.all_.size());
    built.all_.append(widget);
  }

  // The units: the platform's for the dialog font, raised until every text
  // of every control fits (each widget measured with its own font).
  QList<ControlNeed> needs;
  for (qsizetype i = 0; i < built.all_.size(); ++i) {
    const ControlSpec& spec = tmpl.controls[size_t(i)];
    for (const QString& text : ShownTexts(tmpl, spec))
      needs.append({spec.w, spec.h, NeededPixels(spec, *built.all_[i], text)});
  }
  built.platformUnits_ = BaseUnitsOf(font);
  const DialogBaseUnits units = FitBaseUnits(built.platformUnits_, needs);
  built.units_ = units;
  built.clientSize_ = QSize(DuToPixelsX(tmpl.widthDu, units), DuToPixelsY(tmpl.heightDu, units));
  for (qsizetype i = 0; i < built.all_.size(); ++i) {
    const ControlSpec& spec = tmpl.controls[size_t(i)];
    QWidget* widget = built.all_[i];
    widget->setGeometry(DuToPixelsX(spec.x, units), DuToPixelsY(spec.y, units),
                        DuToPixelsX(spec.w, units), DuToPixelsY(spec.h, units));
    // A bitmap then gives its picture its own size.
    if (auto* picture = qobject_cast<PictureLabel*>(widget)) picture->setBitmapId(spec.bitmapId);
  }
  // A group box only frames its neighbours; below them it cannot take their
  // clicks.
  for (QWidget* box : groupBoxes) box->lower();
  return built;
}

}  // namespace plombix
