#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ccol_button.h"
#include "dialog_template.h"
#include "links.h"
#include "picture_label.h"
#include "qt_test_app.h"

namespace plombix {
namespace {

using K = ControlKind;

// Spot checks of the main window's layout table (id, kind, text, rectangle in
// dialog units) on rows of every kind; the whole table is held to the
// properties below, which a slip in any row would break.
TEST(DialogTemplate, MainWindowSpotChecksAndWholeTableProperties) {
  const DialogTemplate& t = MainWindowTemplate();
  EXPECT_STREQ(t.caption, "Vora  Plombix for NDI\u00ae");
  const struct {
    int id;
    K kind;
    const char* text;
    int x, y, w, h;
    unsigned flags;
    int bitmap;
  } rows[] = {
      {1002, K::MenuButton, "Resolution", 7, 6, 59, 14, 0, 0},
      {1014, K::Picture, "", 130, 4, 20, 18, 0, 131},
      {1053, K::ColourPicker, "", 281, 24, 33, 14, 0, 0},
      {1004, K::Radio, "None", 7, 38, 45, 10, kGroupStart, 0},
      {1006, K::Radio, "Crop && Fill", 7, 60, 48, 10, 0, 0},
      {1026, K::PreviewBox, "", 68, 41, 144, 78, kNotify, 0},
      {1051, K::Label, "Drag && Drop images onto the window", 44, 123, 173, 8, kTextCentre, 0},
      {1018, K::PushButton, nullptr, 226, 94, 88, 14, kUnderlined, 0},
      {1025, K::Picture, "", 251, 113, 25, 18, kNotify, 147},
      {1, K::DefaultPushButton, "Exit", 280, 117, 34, 14, 0, 0},
      {1064, K::Label, "Sides", 53, 158, 18, 10, kTextRight, 0},
      {1007, K::Radio, "1", 290, 151, 15, 10, kGroupStart, 0},
      {1074, K::NumberEdit, "", 237, 172, 22, 12, 0, 0},
      {1071, K::ColButton, "B\n\nPgUp", 278, 191, 37, 30, kTwoLine, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    const ControlSpec* c = FindControl(t, r.id);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->kind, r.kind);
    EXPECT_STREQ(c->text, r.text ? r.text : c->text);
    EXPECT_EQ(QRect(c->x, c->y, c->w, c->h), QRect(r.x, r.y, r.w, r.h));
    EXPECT_EQ(c->flags & r.flags, r.flags);
    EXPECT_EQ(c->bitmapId, r.bitmap);
  }
  // The labels and group boxes without id, by text and position.
  int plain = 0;
  for (const ControlSpec& c : t.controls) plain += c.id == kNoId;
  EXPECT_EQ(plain, 11);
  const auto group = std::find_if(t.controls.begin(), t.controls.end(), [](const ControlSpec& c) {
    return std::string(c.text) == "Simple Slideshow";
  });
  ASSERT_NE(group, t.controls.end());
  EXPECT_EQ(QRect(group->x, group->y, group->w, group->h), QRect(108, 145, 206, 41));

  EXPECT_EQ(FindControl(t, 9999), nullptr);

  // Every template: its size, ids unique, every control inside the client
  // area, and no two controls overlapping except inside a group box.
  const struct {
    const DialogTemplate* tmpl;
    int id, widthDu, heightDu;
    size_t ids;
  } templates[] = {
      {&t, 102, 321, 228, 47}, {&AboutTemplate(), 100, 227, 44, 3}, {&SupportTemplate(), 122, 441, 266, 9}};
  for (const auto& [tmpl, id, widthDu, heightDu, idCount] : templates) {
    SCOPED_TRACE(id);
    EXPECT_EQ(std::make_tuple(tmpl->id, tmpl->widthDu, tmpl->heightDu),
              std::make_tuple(id, widthDu, heightDu));
    std::set<int> ids;
    for (const ControlSpec& c : tmpl->controls) {
      EXPECT_TRUE(c.id == kNoId || ids.insert(c.id).second) << "duplicate id " << c.id;
      EXPECT_TRUE(QRect(0, 0, tmpl->widthDu, tmpl->heightDu).contains(QRect(c.x, c.y, c.w, c.h))) << c.text;
      for (const ControlSpec& d : tmpl->controls) {
        const bool framed = c.kind == K::GroupBox || d.kind == K::GroupBox;
        EXPECT_TRUE(&c >= &d || framed || !QRect(c.x, c.y, c.w, c.h).intersects(QRect(d.x, d.y, d.w, d.h)))
            << c.text << " / " << d.text;
      }
    }
    EXPECT_EQ(ids.size(), idCount);
  }
}

TEST(DialogUnits, ConvertLikeThePlatform) {
  // An 8-point dialog font at 96 dpi has base units 6 x 13 px, kept as
  // 96 x 208 sixteenths.
  const DialogBaseUnits u = DialogBaseUnits::Pixels(6, 13);
  EXPECT_EQ(u, (DialogBaseUnits{96, 208}));
  // 321 * 6 / 4 = 481.5 -> 482; 228 * 13 / 8 = 370.5 -> 371 (halves up);
  // 78 * 13 / 8 = 126.75 -> 127; 1 * 13 / 8 = 1.625 -> 2.
  EXPECT_EQ(DuToPixelsX(321, u), 482);
  EXPECT_EQ(DuToPixelsY(228, u), 371);
  EXPECT_EQ(DuToPixelsY(78, u), 127);
  EXPECT_EQ(DuToPixelsY(1, u), 2);
  EXPECT_EQ(DuToPixelsX(0, u), 0);
  // A unit between whole pixels: 7 3/8 px = 118 sixteenths;
  // 321 * 118 / 64 = 591.84 -> 592; 33 * 118 / 64 = 60.84 -> 61.
  EXPECT_EQ(DuToPixelsX(321, DialogBaseUnits{118, 208}), 592);
  EXPECT_EQ(DuToPixelsX(33, DialogBaseUnits{118, 208}), 61);
  // MulDiv rounds halves away from zero on both sides; -1 for a zero divisor
  // or a result outside int, as the platform's does.
  EXPECT_EQ(MulDiv(-7, 6, 4), -11);
  EXPECT_EQ(MulDiv(-7, -6, 4), 11);
  EXPECT_EQ(MulDiv(5, 1, 4), 1);  // 1.25
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(1 << 30, 8, 4), -1);
  EXPECT_EQ(MulDiv(1 << 30, 4, 4), 1 << 30);
  // Average width: the 52 letters' advance / 26, plus 1, halved.
  EXPECT_EQ(AverageCharWidth(337), 6);  // 12 -> 13/2 = 6
  EXPECT_EQ(AverageCharWidth(338), 7);  // 13 -> 14/2 = 7
  // The real dialog font: 5 to 8 pixels a character, 10 to 16 high.
  const DialogBaseUnits font = BaseUnitsOf(DialogFont());
  EXPECT_TRUE(font.avgCharWidth >= 5 * kUnitSteps && font.avgCharWidth <= 8 * kUnitSteps)
      << font.avgCharWidth;
  EXPECT_TRUE(font.charHeight >= 10 * kUnitSteps && font.charHeight <= 16 * kUnitSteps)
      << font.charHeight;
}

TEST(DialogUnits, FitRaisesEachUnitToTheSmallestThatFits) {
  const DialogBaseUnits start = DialogBaseUnits::Pixels(6, 13);  // 96 x 208
  const struct {
    const char* name;
    std::vector<ControlNeed> needs;
    DialogBaseUnits want;
  } rows[] = {
      {"nothing to fit", {}, start},
      // 28 DU at 6 px is 42 px: already 40 fit.
      {"met needs keep the start", {{28, 10, QSize(40, 16)}}, start},
      // 51 px in 28 DU: 28u/64 >= 50.5 -> u >= 115.4 -> 116 (50.75 -> 51);
      // at 115 it is 50.31 -> 50.
      {"one wide text", {{28, 10, QSize(51, 0)}}, {116, 208}},
      // The widest need decides: 61 px in 33 DU needs 118 (60.84 -> 61;
      // 117 gives 60.33 -> 60).
      {"the widest decides", {{28, 10, QSize(51, 0)}, {33, 14, QSize(61, 0)}}, {118, 208}},
      // 14 px in 8 DU: 8u/128 >= 13.5 -> u = 216 (13.5 rounds up to 14).
      {"a tall text", {{50, 8, QSize(10, 14)}}, {96, 216}},
      // A text in a rectangle 0 DU wide cannot fit; it raises nothing.
      {"nothing for zero rectangles", {{0, 0, QSize(30, 30)}}, start},
      // More than four times the start is never reached: 4 * 96 = 384.
      {"bounded", {{1, 8, QSize(1000, 0)}}, {384, 208}},
  };
  for (const auto& r : rows) EXPECT_EQ(FitBaseUnits(start, r.needs), r.want) << r.name;
}

// Whether `text` shows whole in `widget` (made for `spec`) at its built size,
// judged by the rectangle its style or its own painting puts the text in.
bool TextFits(const ControlSpec& spec, QWidget& widget, const QString& text, std::string* why) {
  const QFontMetrics fm(widget.font());
  const QStyle* style = widget.style();
  const int advance = fm.horizontalAdvance(text);
  const auto fits = [why](bool ok, int room, int need) {
    if (!ok && why) *why = "room " + std::to_string(room) + " < " + std::to_string(need);
    return ok;
  };
  QStyleOptionButton button;
  button.initFrom(&widget);
  button.text = text;
  switch (spec.kind) {
    case K::Label: {
      const QRect r = widget.contentsRect();
      return fits(r.width() >= advance, r.width(), advance) &&
             fits(r.height() >= fm.height(), r.height(), fm.height());
    }
    case K::PushButton:
    case K::DefaultPushButton: {
      // Centred in the contents, with the style's margin off the frame.
      const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &widget);
      const QRect r = style->subElementRect(QStyle::SE_PushButtonContents, &button, &widget);
      return fits(r.width() >= advance + margin, r.width(), advance + margin) &&
             fits(r.height() >= fm.height(), r.height(), fm.height());
    }
    case K::CheckBox:
    case K::Radio: {
      const QRect r = style->subElementRect(
          spec.kind == K::Radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents, &button,
          &widget);
      return fits(r.width() >= advance, r.width(), advance) &&
             fits(r.height() >= fm.height(), r.height(), fm.height());
    }
    case K::GroupBox: {
      QStyleOptionGroupBox box;
      box.initFrom(&widget);
      box.text = text;
      box.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
      box.textAlignment = Qt::AlignLeft;
      const QRect title = style->subControlRect(QStyle::CC_GroupBox, &box, QStyle::SC_GroupBoxLabel, &widget);
      return fits(title.width() >= advance, title.width(), advance) &&
             fits(title.right() < widget.width() - title.left(), widget.width() - title.left(), title.right() + 1);
    }
    case K::MenuButton: {
      // Centred, clear of the drop-down arrow in the right-hand corner.
      const int arrow = style->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, &widget);
      return fits((widget.width() - advance) / 2 >= arrow, (widget.width() - advance) / 2, arrow);
    }
    case K::NumberEdit: {
      // Qt's line edit keeps 2 px between its frame and the text; the cursor
      // takes 1 px after it.
      const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &widget);
      const int room = widget.width() - 2 * (frame + 2) - 1;
      return fits(room >= advance, room, advance);
    }
    case K::ColButton: {
      // The button's own text placement keeps the text on its face, and a
      // pressed button's text, one pixel further, inside its outline.
      const IntRect face = ColButtonFace({0, 0, widget.width(), widget.height()});
      const qsizetype split = text.indexOf(QStringLiteral("\n\n"));
      const QString upper = split < 0 ? text : text.left(split);
      const QString lower = split < 0 ? QString() : text.mid(split + 2);
      for (const bool pressed : {false, true}) {
        std::vector<std::pair<TextOrigin, int>> lines;  // origin, width
        if (spec.flags & kTwoLine) {
          lines = {{ColButtonUpperLine(face, fm.horizontalAdvance(upper), fm.height(), pressed),
                    fm.horizontalAdvance(upper)},
                   {ColButtonLowerLine(face, fm.horizontalAdvance(lower), fm.height(), pressed),
                    fm.horizontalAdvance(lower)}};
        } else {
          lines = {{ColButtonSingleLine(face, advance, fm.height(), pressed), advance}};
        }
        const QRect inside = pressed ? widget.rect().adjusted(1, 1, -1, -1)
                                     : QRect(face.left, face.top, face.right - face.left,
                                             face.bottom - face.top);
        for (const auto& [at, width] : lines) {
          const QRect ink(at.left, at.top, width, fm.height());
          if (!fits(inside.contains(ink), inside.width(), width)) return false;
        }
      }
      return true;
    }
    case K::Picture:
    case K::ColourPicker:
    case K::PreviewBox:
      return text.isEmpty();
  }
  return false;
}

// Sets every control of `built` (made from `tmpl`) to its rectangle at
// `units`; true when every text of every control then fits.
bool EverythingFits(const DialogTemplate& tmpl, const BuiltDialog& built, DialogBaseUnits units,
                    std::vector<std::string>* failures = nullptr) {
  bool all = true;
  for (size_t i = 0; i < tmpl.controls.size(); ++i) {
    const ControlSpec& c = tmpl.controls[i];
    QWidget* widget = built.widgets()[qsizetype(i)];
    widget->setGeometry(DuToPixelsX(c.x, units), DuToPixelsY(c.y, units), DuToPixelsX(c.w, units),
                        DuToPixelsY(c.h, units));
    for (const QString& text : ShownTexts(tmpl, c)) {
      std::string why;
      if (TextFits(c, *widget, text, &why)) continue;
      all = false;
      if (failures) failures->push_back(std::to_string(c.id) + " \"" + text.toStdString() + "\": " + why);
    }
  }
  return all;
}

TEST(DialogFit, EveryTextOfEveryControlFitsWithTheRealFont) {
  ASSERT_EQ(QFontInfo(DialogFont()).family(), QStringLiteral("DejaVu Sans"));
  ASSERT_EQ(QApplication::platformName(), QStringLiteral("offscreen"));
  const struct {
    const DialogTemplate* tmpl;
    const char* name;
    // The text that needs the widest unit, by hand with DejaVu Sans 8 pt at
    // 96 dpi (platform units 7 x 13 px = 112 x 208 sixteenths), or null
    // where the platform units already fit.
    const char* decisive;
    DialogBaseUnits want;
  } rows[] = {
      // "Grab used" (57 px) on the 33 DU Grab button's face (2 px edges):
      // 61 px; 33u/64 >= 60.5 -> u = 118 (7 3/8 px). So does the "Use" box,
      // 22 DU: indicator and spacing 20 px + 21 px = 41 -> 22u/64 >= 40.5
      // -> 118 (40.56 -> 41). The platform's 112 made "Equal" 49 px.
      {&MainWindowTemplate(), "main window", "Grab used", {118, 208}},
      {&AboutTemplate(), "About box", nullptr, {112, 208}},
      {&SupportTemplate(), "support window", nullptr, {112, 208}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    QWidget parent;
    const BuiltDialog built = BuildDialog(*r.tmpl, &parent);
    EXPECT_EQ(built.platformUnits(), DialogBaseUnits::Pixels(7, 13));
    EXPECT_EQ(built.baseUnits(), r.want);
    // Every control as built: each of its texts fits.
    std::vector<std::string> failures;
    for (size_t i = 0; i < r.tmpl->controls.size(); ++i) {
      const ControlSpec& c = r.tmpl->controls[i];
      EXPECT_EQ(built.widgets()[qsizetype(i)]->geometry().topLeft(),
                QPoint(DuToPixelsX(c.x, built.baseUnits()), DuToPixelsY(c.y, built.baseUnits())));
    }
    EXPECT_TRUE(EverythingFits(*r.tmpl, built, built.baseUnits(), &failures))
        << ::testing::PrintToString(failures);
    // The smallest such unit: one sixteenth less across and something is cut.
    DialogBaseUnits less = built.baseUnits();
    --less.avgCharWidth;
    if (r.decisive) {
      failures.clear();
      EXPECT_FALSE(EverythingFits(*r.tmpl, built, less, &failures));
      EXPECT_TRUE(std::any_of(failures.begin(), failures.end(), [&](const std::string& f) {
        return f.find(r.decisive) != std::string::npos;
      })) << ::testing::PrintToString(failures);
      // With the platform units alone, "Equal" loses its last letter.
      failures.clear();
      EXPECT_FALSE(EverythingFits(*r.tmpl, built, built.platformUnits(), &failures));
      EXPECT_TRUE(std::any_of(failures.begin(), failures.end(), [](const std::string& f) {
        return f.rfind("1019 \"Equal\"", 0) == 0;
      })) << ::testing::PrintToString(failures);
    }
  }
  // The texts a control shows: its own (mnemonic rule applied) and the
  // captions its owners set, in the table's order.
  const DialogTemplate& main = MainWindowTemplate();
  EXPECT_EQ(ShownTexts(main, *FindControl(main, 1006)), QStringList{QStringLiteral("Crop & Fill")});
  EXPECT_EQ(ShownTexts(main, *FindControl(main, 1048)),
            (QStringList{QStringLiteral("Grab"), QStringLiteral("Grabbed"), QStringLiteral("Grab used")}));
  EXPECT_EQ(ShownTexts(main, *FindControl(main, 1026)), QStringList{});
  EXPECT_EQ(ShownTexts(AboutTemplate(), *FindControl(AboutTemplate(), 1023)).value(0),
            QString::fromUtf8(links::kMakerCompanyLine) + QStringLiteral(", Sep-2099"));
}

TEST(LabelText, AmpersandsFollowThePlatformRule) {
  for (const auto& [in, shown] : {std::pair{"Drag && Drop", "Drag & Drop"}, {"&About", "About"},
                                  {"a&&&b", "a&b"}, {"end&", "end"}, {"", ""}, {"Sides", "Sides"}}) {
    EXPECT_EQ(ShownLabelText(QString::fromUtf8(in)), QString::fromUtf8(shown)) << in;
  }
  // Buttons keep the text as written: Qt shows "&&" as one "&", no shortcut.
  EXPECT_TRUE(QKeySequence::mnemonic(QStringLiteral("Crop && Fill")).isEmpty());
  EXPECT_FALSE(QKeySequence::mnemonic(QStringLiteral("&Save")).isEmpty());
}

TEST(NumberReadBack, RangesAndMessages) {
  const struct {
    const char* text;
    NumberRange range;
    bool ok;
    int value;
  } rows[] = {
      {"0", kPercentRange, true, 0},    {"99", kPercentRange, true, 99},
      {"100", kPercentRange, false, 0}, {"-1", kPercentRange, false, 0},
      {"  7 ", kPercentRange, true, 7}, {"+5", kPercentRange, true, 5},
      {"", kPercentRange, false, 0},    {"12a", kPercentRange, false, 0},
      {"1 2", kPercentRange, false, 0}, {"99999999999", kPercentRange, false, 0},
      {"2", kDurationRange, true, 2},   {"240", kDurationRange, true, 240},
      {"1", kDurationRange, false, 0},  {"241", kDurationRange, false, 0},
  };
  for (const auto& r : rows) {
    const NumberReadBack got = ReadNumber(QString::fromUtf8(r.text), r.range);
    EXPECT_EQ(got.ok, r.ok) << r.text;
    EXPECT_EQ(got.value, r.ok ? r.value : got.value) << r.text;
    EXPECT_EQ(got.message, r.ok ? QString() : RangeMessage(r.range)) << r.text;
  }
  EXPECT_EQ(RangeMessage(kPercentRange), QStringLiteral("Please enter an integer between 0 and 99."));
  EXPECT_EQ(RangeMessage(kDurationRange), QStringLiteral("Please enter an integer between 2 and 240."));
}

TEST(DialogBuilder, MakesTheRightWidgetForEveryControl) {
  QWidget parent;
  const BuiltDialog built = BuildDialog(MainWindowTemplate(), &parent);
  const std::map<K, const char*> classOf = {
      {K::Label, "QLabel"},          {K::PushButton, "QPushButton"},   {K::DefaultPushButton, "QPushButton"},
      {K::CheckBox, "QCheckBox"},    {K::Radio, "QRadioButton"},       {K::NumberEdit, "QLineEdit"},
      {K::GroupBox, "QGroupBox"},    {K::Picture, "plombix::PictureLabel"}, {K::MenuButton, "QToolButton"},
      {K::ColourPicker, "plombix::ColourPickerButton"}, {K::ColButton, "plombix::CColButton"},
      {K::PreviewBox, "QFrame"}};
  for (const ControlSpec& c : MainWindowTemplate().controls) {
    if (c.id == kNoId) continue;
    QWidget* w = built.control(c.id);
    ASSERT_NE(w, nullptr) << c.id;
    EXPECT_EQ(w->parentWidget(), &parent) << c.id;
    EXPECT_TRUE(w->inherits(classOf.at(c.kind))) << c.id;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(label->text(), ShownLabelText(c.text)) << c.id;
    } else if (auto* button = qobject_cast<QAbstractButton*>(w); button && c.kind != K::ColourPicker) {
      EXPECT_EQ(button->text(), QString::fromUtf8(c.text)) << c.id;
      EXPECT_EQ(qobject_cast<QPushButton*>(w) && qobject_cast<QPushButton*>(w)->isDefault(),
                c.kind == K::DefaultPushButton) << c.id;
    }
  }
  EXPECT_EQ(built.as<QToolButton>(1002)->popupMode(), QToolButton::InstantPopup);
  // Geometry in pixels from the builder's base units, each value on its own.
  const DialogBaseUnits u = built.baseUnits();
  EXPECT_EQ(built.clientSize(), QSize(MulDiv(321, u.avgCharWidth, 64), MulDiv(228, u.charHeight, 128)));
  EXPECT_EQ(built.control(1026)->geometry(),
            QRect(MulDiv(68, u.avgCharWidth, 64), MulDiv(41, u.charHeight, 128),
                  MulDiv(144, u.avgCharWidth, 64), MulDiv(78, u.charHeight, 128)));
  // The preview placeholder has the thin border the table asks for; a frame
  // without kBorder has none.
  EXPECT_EQ(built.as<QFrame>(1026)->frameStyle(), QFrame::Box | QFrame::Plain);
  EXPECT_EQ(built.as<QFrame>(1026)->frameWidth(), 1);
  EXPECT_EQ(built.as<QFrame>(1051)->frameWidth(), 0);
  EXPECT_EQ(built.as<QLabel>(1051)->text(), QStringLiteral("Drag & Drop images onto the window"));
  EXPECT_TRUE(built.control(1017)->font().underline());
  EXPECT_FALSE(built.control(1049)->font().underline());
  auto* home = built.as<CColButton>(1070);
  EXPECT_EQ(home->textMode, CColButton::kTextTwoLines);
  EXPECT_EQ(home->upperText + "|" + home->lowerText, QStringLiteral("X|Home"));
  EXPECT_EQ(built.as<CColButton>(1021)->textMode, CColButton::kTextWindow);
  EXPECT_EQ(built.as<QLabel>(1051)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(built.as<QLabel>(1064)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  EXPECT_EQ(built.control(4242), nullptr);
  EXPECT_EQ(built.widgets().size(), qsizetype(std::size(MainWindowTemplate().controls)));
  // Number edits take digits only.
  auto* edit = built.as<QLineEdit>(1062);
  QTest::keyClicks(edit, QStringLiteral("1a-2 "));
  EXPECT_EQ(edit->text(), QStringLiteral("12"));
}

TEST(DialogBuilder, RadioGroupsNumberTheirButtonsFromZero) {
  QWidget parent;
  const BuiltDialog built = BuildDialog(MainWindowTemplate(), &parent);
  for (const int first : {1004, 1007}) {
    QButtonGroup* group = built.radioGroup(first);
    ASSERT_NE(group, nullptr) << first;
    EXPECT_TRUE(group->exclusive());
    ASSERT_EQ(group->buttons().size(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(group->button(i), built.control(first + i));
  }
  EXPECT_EQ(built.radioGroup(1005), nullptr);
  built.as<QRadioButton>(1006)->setChecked(true);
  built.as<QRadioButton>(1005)->setChecked(true);
  built.as<QRadioButton>(1009)->setChecked(true);  // the other group is independent
  EXPECT_EQ(built.radioGroup(1004)->checkedId(), 1);
  EXPECT_FALSE(built.as<QRadioButton>(1006)->isChecked());
  EXPECT_EQ(built.radioGroup(1007)->checkedId(), 2);
}

TEST(DialogBuilder, FoldHidesTheLowerGroupsWholeAndUnfoldShowsThemAgain) {
  const DialogTemplate& t = MainWindowTemplate();
  // The fold line lies in the gap under the More row: no control straddles
  // it, and below it are the three lower groups with what they frame, and
  // the four step buttons beside the Overlay group.
  ASSERT_EQ(t.foldDu, 140);
  std::vector<QRect> groups;
  for (const ControlSpec& c : t.controls) {
    EXPECT_TRUE(c.y + c.h <= t.foldDu || c.y >= t.foldDu) << c.id << " " << c.text;
    if (c.kind == K::GroupBox && c.y >= t.foldDu) groups.emplace_back(c.x, c.y, c.w, c.h);
  }
  ASSERT_EQ(groups.size(), 3u);  // Border size, Simple Slideshow, Overlay
  size_t below = 0;
  for (const ControlSpec& c : t.controls) {
    if (c.y < t.foldDu) continue;
    ++below;
    if (c.kind == K::ColButton && (c.flags & kTwoLine)) continue;
    EXPECT_TRUE(std::any_of(groups.begin(), groups.end(),
                            [&](const QRect& g) { return g.contains(QRect(c.x, c.y, c.w, c.h)); }))
        << c.id << " " << c.text;
  }
  EXPECT_EQ(below, 29u);

  QWidget parent;
  BuiltDialog built = BuildDialog(t, &parent);
  parent.show();
  built.control(1060)->hide();  // hidden for a reason of its own
  for (const bool folded : {true, true, false, false}) {
    built.setFolded(folded);
    EXPECT_EQ(built.folded(), folded);
    for (size_t i = 0; i < t.controls.size(); ++i) {
      const ControlSpec& c = t.controls[i];
      const bool hidden = (folded && c.y >= t.foldDu) || c.id == 1060;
      EXPECT_EQ(built.widgets()[qsizetype(i)]->isHidden(), hidden) << folded << " " << c.id << " " << c.text;
    }
  }
  // A template without a fold line never folds.
  QWidget about;
  BuiltDialog a = BuildDialog(AboutTemplate(), &about);
  a.setFolded(true);
  EXPECT_FALSE(a.folded());
  EXPECT_FALSE(a.control(1)->isHidden());
}

TEST(DialogBuilder, GroupBoxesDoNotCoverTheirControls) {
  QWidget parent;
  const BuiltDialog built = BuildDialog(MainWindowTemplate(), &parent);
  parent.resize(built.clientSize());
  parent.show();
  for (const int id : {1019, 1062, 1020, 1058, 1007, 1074, 1066, 1060}) {
    QWidget* control = built.control(id);
    QWidget* hit = parent.childAt(control->geometry().center());
    // The hit may be a child of the control (e.g. a line edit's parts).
    while (hit != nullptr && hit != control && hit->parentWidget() != &parent) hit = hit->parentWidget();
    EXPECT_EQ(hit, control) << id;
  }
  auto* equal = built.as<QCheckBox>(1019);
  QTest::mouseClick(equal, Qt::LeftButton);
  EXPECT_TRUE(equal->isChecked());
  // Also when a table lists the group box after the controls it frames.
  const ControlSpec late[] = {{7, K::CheckBox, "Inside", 10, 10, 40, 10},
                              {kNoId, K::GroupBox, "Frame", 5, 2, 60, 30}};
  QWidget other;
  const BuiltDialog b = BuildDialog(DialogTemplate{1, "", 80, 40, late}, &other);
  other.resize(b.clientSize());
  other.show();
  EXPECT_EQ(other.childAt(b.control(7)->geometry().center()), b.control(7));
}

TEST(DialogBuilder, PreviewFactoryHiddenControlsAndReplace) {
  QWidget parent;
  int calls = 0;
  BuildOptions options;
  options.previewFactory = [&calls](QWidget* p, const ControlSpec& spec) -> QWidget* {
    ++calls;
    EXPECT_EQ(spec.id, 1026);
    return new QWidget(p);
  };
  BuiltDialog built = BuildDialog(MainWindowTemplate(), &parent, options);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(built.control(1026)->objectName(), QStringLiteral("ctl_1026"));
  EXPECT_EQ(built.control(1026)->metaObject(), &QWidget::staticMetaObject);
  const QRect where = built.control(1026)->geometry();
  auto* replacement = new QWidget(&parent);
  ASSERT_TRUE(built.replace(1026, replacement));
  EXPECT_EQ(built.control(1026), replacement);
  EXPECT_EQ(replacement->geometry(), where);
  EXPECT_TRUE(built.widgets().contains(replacement));
  EXPECT_FALSE(built.replace(4242, new QWidget(&parent)));
  EXPECT_FALSE(built.replace(1026, nullptr));

  QWidget support;
  const BuiltDialog s = BuildDialog(SupportTemplate(), &support);
  EXPECT_TRUE(s.control(1)->isHidden());
  EXPECT_TRUE(s.control(2102)->isHidden());
  EXPECT_FALSE(s.control(2)->isHidden());
}

TEST(PictureLabel, TakesTheBitmapSizeAndReportsClicksWhenAsked) {
  QWidget parent;
  auto* picture = new PictureLabel(&parent);
  picture->setGeometry(5, 6, 30, 20);
  picture->setBitmapId(987654);  // no such bitmap: stays empty, keeps size
  EXPECT_EQ(picture->bitmapId(), 987654);
  EXPECT_EQ(picture->size(), QSize(30, 20));
  EXPECT_TRUE(picture->pixmap().isNull());
  QPixmap pixmap(38, 30);
  pixmap.fill(Qt::red);
  picture->setBitmap(pixmap);
  EXPECT_EQ(picture->geometry(), QRect(5, 6, 38, 30));
  QSignalSpy clicks(picture, &PictureLabel::clicked);
  QTest::mouseClick(picture, Qt::LeftButton);
  picture->setNotify(true);
  QTest::mouseClick(picture, Qt::LeftButton);
  QTest::mouseClick(picture, Qt::RightButton);
  EXPECT_EQ(clicks.count(), 1);  // only the left click after setNotify
}

}  // namespace
}  // namespace plombix
