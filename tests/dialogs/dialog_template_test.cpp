// Dialog templates: the tables' shape, dialog units, the fit of every
// caption with the real font, number read-back, and what the builder makes.
#include <QButtonGroup>
#include <QFontInfo>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ccol_button.h"
#include "dialog_template.h"
#include "name_label.h"
#include "qt_test_app.h"

namespace plombix {
namespace {

using K = ControlKind;

QRect Du(const ControlSpec& c) { return QRect(c.x, c.y, c.w, c.h); }

// Every template: ids unique, every control inside the client area, no two
// overlapping except with a group box; the main window's fold line crosses
// no control.
TEST(DialogTemplate, EveryTableIsWellFormed) {
  for (const DialogTemplate* tmpl : {&MainWindowTemplate(), &AboutTemplate(), &SupportTemplate()}) {
    const DialogTemplate& t = *tmpl;
    SCOPED_TRACE(t.id);
    std::set<int> ids;
    for (const ControlSpec& c : t.controls) {
      EXPECT_TRUE(c.id == kNoId || ids.insert(c.id).second) << c.id;
      EXPECT_TRUE(QRect(0, 0, t.widthDu, t.heightDu).contains(Du(c))) << c.text;
      EXPECT_TRUE(t.foldDu == 0 || c.y + c.h <= t.foldDu || c.y >= t.foldDu) << c.text;
      for (const ControlSpec& d : t.controls)
        EXPECT_TRUE(&c >= &d || c.kind == K::GroupBox || d.kind == K::GroupBox || !Du(c).intersects(Du(d)))
            << c.text << " / " << d.text;
    }
  }
}

TEST(DialogUnits, ConvertLikeThePlatform) {
  // An 8-point dialog font at 96 dpi: 6 x 13 px = 96 x 208 sixteenths.
  const DialogBaseUnits u = DialogBaseUnits::Pixels(6, 13), raised{118, 208};
  EXPECT_EQ(u, (DialogBaseUnits{96, 208}));
  // Halves away from zero (481.5, 370.5, -10.5); -1 for a zero divisor or a
  // result outside int; average width: 52 letters' advance / 26, + 1, halved.
  const struct { int got, want; } rows[] = {
      {DuToPixelsX(321, u), 482},       {DuToPixelsY(228, u), 371},      {DuToPixelsY(78, u), 127},
      {DuToPixelsY(1, u), 2},           {DuToPixelsX(0, u), 0},          {DuToPixelsX(321, raised), 592},
      {DuToPixelsX(33, raised), 61},    {MulDiv(-7, 6, 4), -11},         {MulDiv(-7, -6, 4), 11},
      {MulDiv(5, 1, 4), 1},             {MulDiv(1, 1, 0), -1},           {MulDiv(1 << 30, 8, 4), -1},
      {MulDiv(1 << 30, 4, 4), 1 << 30}, {AverageCharWidth(337), 6},      {AverageCharWidth(338), 7},
  };
  for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].got, rows[i].want) << "row " << i;
}

TEST(DialogUnits, FitRaisesEachUnitToTheSmallestThatFits) {
  const DialogBaseUnits start = DialogBaseUnits::Pixels(6, 13);  // 96 x 208
  const struct { const char* name; std::vector<ControlNeed> needs; DialogBaseUnits want; } rows[] = {
      {"nothing to fit", {}, start},
      {"met needs keep the start", {{28, 10, QSize(40, 16)}}, start},  // 28 DU = 42 px
      // 51 px in 28 DU: 28u/64 >= 50.5 -> u = 116 (115 gives 50.31 -> 50).
      {"one wide text", {{28, 10, QSize(51, 0)}}, {116, 208}},
      // 61 px in 33 DU needs 118 (117 gives 60.33 -> 60): the widest decides.
      {"the widest decides", {{28, 10, QSize(51, 0)}, {33, 14, QSize(61, 0)}}, {118, 208}},
      {"a tall text", {{50, 8, QSize(10, 14)}}, {96, 216}},  // 8u/128 >= 13.5
      {"nothing for zero rectangles", {{0, 0, QSize(30, 30)}}, start},
      {"bounded at four times the start", {{1, 8, QSize(1000, 0)}}, {384, 208}},
  };
  for (const auto& r : rows) EXPECT_EQ(FitBaseUnits(start, r.needs), r.want) << r.name;
}

// Whether `text` shows whole in `widget` at its size, judged by where its
// style (or its own painting) puts the text: written apart from NeededPixels.
bool TextFits(const ControlSpec& spec, QWidget& widget, const QString& text) {
  const QFontMetrics fm(widget.font());
  const QStyle* style = widget.style();
  const int advance = fm.horizontalAdvance(text);
  QStyleOptionButton button;
  button.initFrom(&widget);
  button.text = text;
  const auto inside = [&](const QRect& r, int margin = 0) {
    return r.width() >= advance + margin && r.height() >= fm.height();
  };
  switch (spec.kind) {
    case K::Label: return inside(widget.contentsRect());
    case K::PushButton:
    case K::DefaultPushButton:
      return inside(style->subElementRect(QStyle::SE_PushButtonContents, &button, &widget),
                    style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &widget));
    case K::CheckBox: return inside(style->subElementRect(QStyle::SE_CheckBoxContents, &button, &widget));
    case K::Radio: return inside(style->subElementRect(QStyle::SE_RadioButtonContents, &button, &widget));
    case K::GroupBox: {
      QStyleOptionGroupBox box;
      box.initFrom(&widget);
      box.text = text;
      box.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
      const QRect title = style->subControlRect(QStyle::CC_GroupBox, &box, QStyle::SC_GroupBoxLabel, &widget);
      return title.width() >= advance && title.right() < widget.width() - title.left();
    }
    case K::MenuButton:  // centred, clear of the arrow in the right-hand corner
      return (widget.width() - advance) / 2 >= style->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, &widget);
    case K::NumberEdit:  // 2 px between frame and text, 1 px for the cursor
      return widget.width() - 2 * (style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &widget) + 2) - 1 >=
             advance;
    case K::ColButton: {
      // Each line on the face (a pressed button's one-pixel shift stays on
      // its edge); two lines 2 px either side of the centre.
      const IntRect face = ColButtonFace({0, 0, widget.width(), widget.height()});
      const QStringList lines = text.split(QStringLiteral("\n\n"));
      int widest = 0;
      for (const QString& line : lines) widest = std::max(widest, fm.horizontalAdvance(line));
      return face.right - face.left >= widest &&
             face.bottom - face.top >= int(lines.size()) * fm.height() + (int(lines.size()) - 1) * 4;
    }
    case K::Picture:
    case K::ColourPicker:
    case K::PreviewBox: return text.isEmpty();
  }
  return false;
}

// Places every control at `units`; the "id text" of each text that then
// does not fit.
std::vector<std::string> Cut(const DialogTemplate& tmpl, const BuiltDialog& built, DialogBaseUnits units) {
  std::vector<std::string> cut;
  for (size_t i = 0; i < tmpl.controls.size(); ++i) {
    const ControlSpec& c = tmpl.controls[i];
    QWidget* widget = built.widgets()[qsizetype(i)];
    widget->setGeometry(DuToPixelsX(c.x, units), DuToPixelsY(c.y, units), DuToPixelsX(c.w, units),
                        DuToPixelsY(c.h, units));
    for (const QString& text : ShownTexts(tmpl, c))
      if (!TextFits(c, *widget, text))
        cut.push_back(std::to_string(c.id) + " " + text.toStdString());
  }
  return cut;
}

TEST(DialogFit, EveryTextFitsWithTheRealFontAndOneStepLessCutsOne) {
  ASSERT_EQ(QFontInfo(DialogFont()).family(), QStringLiteral("DejaVu Sans"));
  const struct {
    const DialogTemplate* tmpl;
    // The text that needs the widest unit, worked by hand with DejaVu Sans
    // 8 pt at 96 dpi (platform units 7 x 13 px = 112 x 208); null where the
    // platform units fit already.
    const char* decisive;
    DialogBaseUnits want;
  } rows[] = {
      // "Grab used" (57 px) on the 33 DU Grab button's face with its 2 px
      // edges: 61 px, 33u/64 >= 60.5 -> u = 118. The platform's 112 makes
      // "Equal" 49 px, one letter short.
      {&MainWindowTemplate(), "1048 Grab used", {118, 208}},
      {&AboutTemplate(), nullptr, {112, 208}},
      {&SupportTemplate(), nullptr, {112, 208}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.tmpl->id);
    QWidget parent;
    const BuiltDialog built = BuildDialog(*r.tmpl, &parent);
    EXPECT_EQ(built.platformUnits(), DialogBaseUnits::Pixels(7, 13));
    EXPECT_EQ(built.baseUnits(), r.want);
    EXPECT_EQ(Cut(*r.tmpl, built, built.baseUnits()), std::vector<std::string>{});
    if (!r.decisive) continue;
    const DialogBaseUnits less{r.want.avgCharWidth - 1, r.want.charHeight};
    const std::vector<std::string> cut = Cut(*r.tmpl, built, less);
    EXPECT_NE(std::find(cut.begin(), cut.end(), r.decisive), cut.end()) << ::testing::PrintToString(cut);
    const std::vector<std::string> platform = Cut(*r.tmpl, built, built.platformUnits());
    EXPECT_NE(std::find(platform.begin(), platform.end(), "1019 Equal"), platform.end());
  }
}

TEST(NumberReadBack, RangesAndMessages) {
  // value -1: refused.
  const struct { const char* text; NumberRange range; int value; } rows[] = {
      {"0", kPercentRange, 0},   {"99", kPercentRange, 99},  {"100", kPercentRange, -1},
      {"-1", kPercentRange, -1}, {"  7 ", kPercentRange, 7}, {"+5", kPercentRange, 5},
      {"", kPercentRange, -1},   {"12a", kPercentRange, -1}, {"1 2", kPercentRange, -1},
      {"99999999999", kPercentRange, -1},                    {"2", kDurationRange, 2},
      {"240", kDurationRange, 240}, {"1", kDurationRange, -1}, {"241", kDurationRange, -1},
  };
  for (const auto& r : rows) {
    const NumberReadBack got = ReadNumber(QString::fromUtf8(r.text), r.range);
    EXPECT_EQ(got.ok ? got.value : -1, r.value) << r.text;
    EXPECT_EQ(got.message.isEmpty(), got.ok) << r.text;
  }
  // Plain labels follow the platform's mnemonic rule; buttons leave it to Qt.
  for (const auto& [in, shown] : {std::pair{"Drag && Drop", "Drag & Drop"}, {"&About", "About"},
                                  {"a&&&b", "a&b"}, {"end&", "end"}})
    EXPECT_EQ(ShownLabelText(QString::fromUtf8(in)), QString::fromUtf8(shown)) << in;
}

TEST(DialogBuilder, PlacesEachControlAndNumbersRadioGroups) {
  QWidget parent;
  const BuiltDialog built = BuildDialog(MainWindowTemplate(), &parent);
  const DialogBaseUnits u = built.baseUnits();
  for (size_t i = 0; i < MainWindowTemplate().controls.size(); ++i) {
    const ControlSpec& c = MainWindowTemplate().controls[i];
    QWidget* w = built.widgets()[qsizetype(i)];
    EXPECT_EQ(w->inherits("plombix::NameLabel"), (c.flags & kFileName) != 0) << c.id;
    EXPECT_EQ(w->pos(), QPoint(MulDiv(c.x, u.avgCharWidth, 64), MulDiv(c.y, u.charHeight, 128))) << c.id;
  }
  EXPECT_EQ(built.clientSize(), QSize(MulDiv(321, u.avgCharWidth, 64), MulDiv(228, u.charHeight, 128)));
  EXPECT_TRUE(built.as<QPushButton>(1)->isDefault());
  EXPECT_EQ(built.as<QFrame>(1026)->frameStyle(), QFrame::Box | QFrame::Plain);
  EXPECT_TRUE(built.control(1017)->font().underline() && !built.control(1049)->font().underline());
  EXPECT_EQ(built.as<CColButton>(1070)->upperText + "|" + built.as<CColButton>(1070)->lowerText, "X|Home");
  QTest::keyClicks(built.as<QLineEdit>(1062), QStringLiteral("1a-2 "));  // digits only
  EXPECT_EQ(built.as<QLineEdit>(1062)->text(), QStringLiteral("12"));
  // Radio groups number their buttons from 0 and are independent.
  for (const int first : {1004, 1007})
    for (int i = 0; i < 3; ++i) EXPECT_EQ(built.radioGroup(first)->button(i), built.control(first + i));
  built.as<QRadioButton>(1005)->setChecked(true);
  built.as<QRadioButton>(1009)->setChecked(true);
  EXPECT_EQ(built.radioGroup(1004)->checkedId(), 1);
  EXPECT_EQ(built.radioGroup(1007)->checkedId(), 2);
  EXPECT_EQ(built.radioGroup(1005), nullptr);
}

TEST(DialogBuilder, FoldHidesTheLowerPartAndGroupBoxesNeverCoverTheirControls) {
  const DialogTemplate& t = MainWindowTemplate();
  QWidget parent;
  BuiltDialog built = BuildDialog(t, &parent);
  parent.resize(built.clientSize());
  parent.show();
  built.control(1060)->hide();  // hidden for a reason of its own: stays hidden
  for (const bool folded : {true, true, false, false}) {
    built.setFolded(folded);
    for (size_t i = 0; i < t.controls.size(); ++i) {
      const ControlSpec& c = t.controls[i];
      EXPECT_EQ(built.widgets()[qsizetype(i)]->isHidden(), (folded && c.y >= t.foldDu) || c.id == 1060)
          << folded << " " << c.id;
    }
  }
  for (const int id : {1019, 1062, 1020, 1058, 1007, 1074, 1066}) {
    QWidget* hit = parent.childAt(built.control(id)->geometry().center());
    while (hit && hit != built.control(id) && hit->parentWidget() != &parent) hit = hit->parentWidget();
    EXPECT_EQ(hit, built.control(id)) << id;
  }
}

// A file name too wide for its label loses its middle; the text around it
// (a failure's reason) stays whole; underscores show, also in a label a
// few pixels shorter than the font's line.
TEST(NameLabel, ElidesTheNameInItsMiddleKeepsTheReasonAndShowsUnderscores) {
  QWidget parent;
  auto* label = BuildDialog(MainWindowTemplate(), &parent).as<NameLabel>(1051);
  ASSERT_NE(label, nullptr);
  const QFontMetrics fm(label->font());
  const QString name = QStringLiteral("IMG_20261207_142233_from_my_phone_at_the_show_in_the_evening.heic");
  const QString why = QStringLiteral(": not a picture"), dots(QChar(0x2026));
  // starts empty: shown whole.
  const struct { QString before, name, after, starts, ends; } rows[] = {
      {{}, QStringLiteral("short_name.png"), {}, {}, {}},
      {QStringLiteral("Cannot show "), name, why, QStringLiteral("Cannot show IMG_2026"), ".heic" + why},
      {{}, name + name, {}, QStringLiteral("IMG_2026"), QStringLiteral("evening.heic")},
      {QString(60, u'x'), name, QString(60, u'y') + why, dots, why},  // no room for the name
  };
  for (const auto& r : rows) {
    label->setParts(r.before, r.name, r.after);
    const QString shown = label->shownText();
    EXPECT_EQ(label->text(), r.before + r.name + r.after);
    EXPECT_LE(fm.horizontalAdvance(shown), label->contentsRect().width()) << shown.toStdString();
    EXPECT_TRUE(r.starts.isEmpty() ? shown == label->text()
                                   : shown.startsWith(r.starts) && shown.endsWith(r.ends) && shown.contains(dots))
        << shown.toStdString();
  }
  for (const int shorter : {0, 1, 3}) {
    label->resize(label->width(), fm.height() - shorter);
    label->setParts({}, QStringLiteral("a_b"), {});
    const QImage underscore = label->grab().toImage();
    label->setParts({}, QStringLiteral("a b"), {});
    EXPECT_NE(underscore, label->grab().toImage()) << shorter;
  }
}

}  // namespace
}  // namespace plombix
