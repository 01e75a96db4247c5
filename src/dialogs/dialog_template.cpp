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
#include <QToolButton>

#include <cstdint>
#include <limits>

#include "ccol_button.h"
#include "colour_picker_button.h"
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

int DuToPixelsX(int du, DialogBaseUnits units) { return MulDiv(du, units.avgCharWidth, 4); }
int DuToPixelsY(int du, DialogBaseUnits units) { return MulDiv(du, units.charHeight, 8); }

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics fm(font);
  const int width =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {AverageCharWidth(width), fm.height()};
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

bool BuiltDialog::replace(int id, QWidget* replacement) {
  QWidget* old = control(id);
  if (old == nullptr || replacement == nullptr || old == replacement) return false;
  replacement->setGeometry(old->geometry());
  replacement->stackUnder(old);
  replacement->setHidden(old->isHidden());
  const qsizetype at = all_.indexOf(old);
  if (at >= 0) all_[at] = replacement;
  byId_.insert(id, replacement);
  old->hide();
  old->deleteLater();
  return true;
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
      auto* label = new QLabel(ShownLabelText(text), parent);
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
      auto* placeholder = new QFrame(parent);
      placeholder->setFrameStyle(QFrame::Box | QFrame::Plain);
      return placeholder;
    }
  }
  return new QWidget(parent);  // unreachable with a valid kind
}

}  // namespace

BuiltDialog BuildDialog(const DialogTemplate& tmpl, QWidget* parent, const BuildOptions& options) {
  BuiltDialog built;
  const QFont font = DialogFont();
  if (options.setParentFont && parent != nullptr) parent->setFont(font);
  const DialogBaseUnits units = BaseUnitsOf(font);
  built.units_ = units;
  built.clientSize_ = QSize(DuToPixelsX(tmpl.widthDu, units), DuToPixelsY(tmpl.heightDu, units));

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
    widget->setGeometry(DuToPixelsX(spec.x, units), DuToPixelsY(spec.y, units),
                        DuToPixelsX(spec.w, units), DuToPixelsY(spec.h, units));
    if (spec.flags & kUnderlined) {
      QFont underlined = font;
      underlined.setUnderline(true);
      widget->setFont(underlined);
    }
    if (auto* picture = qobject_cast<PictureLabel*>(widget)) picture->setBitmapId(spec.bitmapId);
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
    built.all_.append(widget);
  }
  // A group box only frames its neighbours; below them it cannot take their
  // clicks.
  for (QWidget* box : groupBoxes) box->lower();
  return built;
}

}  // namespace plombix
