#include <QButtonGroup>
#include <QCheckBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "ccol_button.h"
#include "dialog_template.h"
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
  // An 8-point dialog font at 96 dpi has base units 6 x 13.
  const DialogBaseUnits u{6, 13};
  // 321 * 6 / 4 = 481.5 -> 482; 228 * 13 / 8 = 370.5 -> 371 (halves up);
  // 78 * 13 / 8 = 126.75 -> 127; 1 * 13 / 8 = 1.625 -> 2.
  EXPECT_EQ(DuToPixelsX(321, u), 482);
  EXPECT_EQ(DuToPixelsY(228, u), 371);
  EXPECT_EQ(DuToPixelsY(78, u), 127);
  EXPECT_EQ(DuToPixelsY(1, u), 2);
  EXPECT_EQ(DuToPixelsX(0, u), 0);
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
  EXPECT_TRUE(font.avgCharWidth >= 5 && font.avgCharWidth <= 8) << font.avgCharWidth;
  EXPECT_TRUE(font.charHeight >= 10 && font.charHeight <= 16) << font.charHeight;
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
  EXPECT_EQ(built.clientSize(), QSize(MulDiv(321, u.avgCharWidth, 4), MulDiv(228, u.charHeight, 8)));
  EXPECT_EQ(built.control(1026)->geometry(),
            QRect(MulDiv(68, u.avgCharWidth, 4), MulDiv(41, u.charHeight, 8), MulDiv(144, u.avgCharWidth, 4),
                  MulDiv(78, u.charHeight, 8)));
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
