#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ccol_button.h"
#include "colour_picker_button.h"
#include "dialog_template.h"
#include "picture_label.h"
#include "qt_test_app.h"

namespace plombix {
namespace {

using K = ControlKind;

// The main window's controls as the product's layout table lists them:
// id, kind, text, rectangle in dialog units. Written out again here so that
// a slip in the template table shows up.
struct Expected {
  int id;
  K kind;
  const char* text;
  int x, y, w, h;
};
const Expected kMainExpected[] = {
    {1002, K::MenuButton, "Resolution", 7, 6, 59, 14},
    {1003, K::MenuButton, "Framerate", 72, 6, 53, 14},
    {1014, K::Picture, "", 130, 4, 20, 18},
    {1015, K::Label, "output info", 156, 9, 85, 8},
    {1052, K::MenuButton, "Background", 245, 6, 69, 14},
    {1016, K::Label, "1:1 pixel size", 62, 27, 99, 8},
    {1055, K::Label, "", 172, 27, 72, 8},
    {1054, K::ColourPicker, "", 246, 24, 33, 14},
    {1053, K::ColourPicker, "", 281, 24, 33, 14},
    {1004, K::Radio, "None", 7, 38, 45, 10},
    {1005, K::Radio, "Contain", 7, 49, 41, 10},
    {1006, K::Radio, "Crop && Fill", 7, 60, 48, 10},
    {1026, K::PreviewBox, "", 68, 41, 144, 78},
    {1056, K::ColButton, "Slideshow", 226, 41, 53, 14},
    {1048, K::ColButton, "Grab", 281, 41, 33, 14},
    {1049, K::PushButton, "0-255", 7, 73, 41, 14},
    {1021, K::ColButton, "Cut", 7, 89, 41, 14},
    {1000, K::ColButton, "Watch", 7, 106, 41, 14},
    {1001, K::PushButton, "Inf", 50, 106, 16, 14},
    {1061, K::PushButton, "More", 7, 123, 25, 13},
    {1051, K::Label, "Drag && Drop images onto the window", 44, 123, 173, 8},
    {1017, K::PushButton, "www.voracraft.example", 226, 69, 88, 14},
    {1018, K::PushButton, "ndi.video", 226, 94, 88, 14},
    {1024, K::Picture, "", 226, 113, 25, 18},
    {1025, K::Picture, "", 251, 113, 25, 18},
    {1, K::DefaultPushButton, "Exit", 280, 117, 34, 14},
    {1019, K::CheckBox, "Equal", 12, 157, 28, 10},
    {1062, K::NumberEdit, "", 74, 156, 16, 12},
    {1064, K::Label, "Sides", 53, 158, 18, 10},
    {1065, K::Label, "%", 92, 158, 8, 8},
    {1020, K::CheckBox, "Use", 12, 172, 22, 10},
    {1063, K::NumberEdit, "", 74, 171, 16, 12},
    {1058, K::PushButton, "Start number", 113, 156, 54, 12},
    {1059, K::PushButton, "End number", 174, 156, 54, 12},
    {1007, K::Radio, "1", 290, 151, 15, 10},
    {1008, K::Radio, "01", 290, 163, 19, 10},
    {1009, K::Radio, "001", 290, 175, 24, 10},
    {1074, K::NumberEdit, "", 237, 172, 22, 12},
    {1069, K::Label, "Slideshow base-name", 113, 173, 123, 8},
    {1066, K::CheckBox, "Use", 12, 196, 24, 10},
    {1067, K::ColButton, "Grab Overlay", 40, 194, 48, 14},
    {1060, K::PushButton, "Find GamePad", 95, 191, 55, 17},
    {1068, K::Label, "Overlay image name", 11, 210, 137, 8},
    {1070, K::ColButton, "X\n\nHome", 155, 191, 37, 30},
    {1050, K::ColButton, "Y\n\nEnd", 196, 191, 37, 30},
    {1072, K::ColButton, "A\n\nPgDown", 237, 191, 37, 30},
    {1071, K::ColButton, "B\n\nPgUp", 278, 191, 37, 30},
};

TEST(DialogTemplate, MainWindowHasEveryControlWithItsKindTextAndRectangle) {
  const DialogTemplate& t = MainWindowTemplate();
  EXPECT_EQ(t.id, 102);
  EXPECT_EQ(t.widthDu, 321);
  EXPECT_EQ(t.heightDu, 228);
  EXPECT_STREQ(t.caption, "Vora  Plombix for NDI\u00ae");
  for (const Expected& e : kMainExpected) {
    SCOPED_TRACE(e.id);
    const ControlSpec* c = FindControl(t, e.id);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->kind, e.kind);
    EXPECT_STREQ(c->text, e.text);
    EXPECT_EQ(c->x, e.x);
    EXPECT_EQ(c->y, e.y);
    EXPECT_EQ(c->w, e.w);
    EXPECT_EQ(c->h, e.h);
  }
  // Nothing else carries an id, and no id appears twice.
  std::set<int> ids;
  for (const ControlSpec& c : t.controls) {
    if (c.id == kNoId) continue;
    EXPECT_TRUE(ids.insert(c.id).second) << "duplicate id " << c.id;
  }
  EXPECT_EQ(ids.size(), std::size(kMainExpected));
}

TEST(DialogTemplate, MainWindowFlagsBitmapsAndControlsWithoutId) {
  const DialogTemplate& t = MainWindowTemplate();
  struct Flagged {
    int id;
    unsigned flags;
  };
  for (const Flagged f : {Flagged{1004, kGroupStart}, Flagged{1007, kGroupStart},
                          Flagged{1051, kTextCentre}, Flagged{1069, kTextCentre},
                          Flagged{1068, kTextCentre}, Flagged{1064, kTextRight},
                          Flagged{1017, kUnderlined}, Flagged{1018, kUnderlined},
                          Flagged{1024, kNotify}, Flagged{1025, kNotify}, Flagged{1026, kNotify},
                          Flagged{1070, kTwoLine}, Flagged{1071, kTwoLine}}) {
    EXPECT_TRUE(FindControl(t, f.id)->flags & f.flags) << f.id;
  }
  EXPECT_EQ(FindControl(t, 1014)->bitmapId, 131);
  EXPECT_EQ(FindControl(t, 1024)->bitmapId, 145);
  EXPECT_EQ(FindControl(t, 1025)->bitmapId, 147);

  // The plain labels and group boxes: text and position as listed (group
  // boxes also with their size; w 0 = any).
  struct Plain {
    K kind;
    const char* text;
    int x, y, w, h;
  };
  const Plain plain[] = {
      {K::Label, "Image scaling - ", 8, 27, 0, 0},      {K::Label, "Plombix is from", 226, 59, 0, 0},
      {K::Label, "NDI\u00ae is from", 226, 85, 0, 0},   {K::GroupBox, "Border size", 7, 145, 95, 41},
      {K::Label, "Top/Bot", 45, 173, 0, 0},             {K::Label, "%", 92, 173, 0, 0},
      {K::GroupBox, "Simple Slideshow", 108, 145, 206, 41}, {K::Label, "Number format", 238, 152, 0, 0},
      {K::Label, "Duration", 238, 163, 0, 0},           {K::Label, "Secs", 262, 174, 0, 0},
      {K::GroupBox, "Overlay", 7, 187, 143, 34},
  };
  for (const Plain& p : plain) {
    int matches = 0;
    for (const ControlSpec& c : t.controls) {
      matches += c.id == kNoId && c.kind == p.kind && std::string(c.text) == p.text && c.x == p.x &&
                 c.y == p.y && (p.w == 0 || (c.w == p.w && c.h == p.h));
    }
    EXPECT_EQ(matches, 1) << p.text;
  }
}

TEST(DialogTemplate, AboutAndSupportTemplates) {
  const DialogTemplate& about = AboutTemplate();
  EXPECT_EQ(about.id, 100);
  EXPECT_EQ(about.widthDu, 227);
  EXPECT_EQ(about.heightDu, 44);
  EXPECT_STREQ(about.caption, "About NDI\u00ae Plombix");
  ASSERT_NE(FindControl(about, 1022), nullptr);
  ASSERT_NE(FindControl(about, 1023), nullptr);
  EXPECT_EQ(FindControl(about, 1)->kind, K::DefaultPushButton);
  EXPECT_STREQ(FindControl(about, 1)->text, "OK");

  const DialogTemplate& support = SupportTemplate();
  EXPECT_EQ(support.id, 122);
  EXPECT_EQ(support.widthDu, 441);
  EXPECT_EQ(support.heightDu, 266);
  EXPECT_STREQ(support.caption, "How you can support development of this NDI software...");
  EXPECT_TRUE(FindControl(support, 1)->flags & kHidden);
  EXPECT_TRUE(FindControl(support, 2102)->flags & kHidden);
  EXPECT_STREQ(FindControl(support, 2)->text, "Cancel");
  EXPECT_STREQ(FindControl(support, 2101)->text, "Browse Online Store");
  EXPECT_STREQ(FindControl(support, 2103)->text, "");
  EXPECT_STREQ(FindControl(support, 2104)->text, "");
  EXPECT_EQ(FindControl(support, 2105)->bitmapId, 195);
  EXPECT_EQ(FindControl(support, 2106)->bitmapId, 196);
  EXPECT_EQ(FindControl(support, 9999), nullptr);
}

TEST(DialogUnits, ConvertLikeThePlatform) {
  // An 8-point dialog font at 96 dpi has base units 6 x 13.
  const DialogBaseUnits u{6, 13};
  // 321 * 6 / 4 = 481.5 -> 482; 228 * 13 / 8 = 370.5 -> 371 (halves up).
  EXPECT_EQ(DuToPixelsX(321, u), 482);
  EXPECT_EQ(DuToPixelsY(228, u), 371);
  // The preview box 144 x 78 DU: 216 x 126.75 -> 216 x 127.
  EXPECT_EQ(DuToPixelsX(144, u), 216);
  EXPECT_EQ(DuToPixelsY(78, u), 127);
  // 7 * 6 / 4 = 10.5 -> 11; 4 * 13 / 8 = 6.5 -> 7; 1 * 13 / 8 = 1.625 -> 2.
  EXPECT_EQ(DuToPixelsX(7, u), 11);
  EXPECT_EQ(DuToPixelsY(4, u), 7);
  EXPECT_EQ(DuToPixelsY(1, u), 2);
  EXPECT_EQ(DuToPixelsX(0, u), 0);
  // MulDiv rounds halves away from zero on both sides.
  EXPECT_EQ(MulDiv(-7, 6, 4), -11);
  EXPECT_EQ(MulDiv(7, -6, 4), -11);
  EXPECT_EQ(MulDiv(-7, -6, 4), 11);
  EXPECT_EQ(MulDiv(5, 1, 4), 1);  // 1.25
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  // A result outside int gives -1, as the platform's MulDiv does.
  EXPECT_EQ(MulDiv(1 << 30, 8, 4), -1);
  EXPECT_EQ(MulDiv(1 << 30, 4, 4), 1 << 30);
  // Average width: the 52 letters' advance / 26, plus 1, halved.
  EXPECT_EQ(AverageCharWidth(312), 6);  // 312/26 = 12 -> 13/2 = 6
  EXPECT_EQ(AverageCharWidth(337), 6);  // 12 -> 6
  EXPECT_EQ(AverageCharWidth(338), 7);  // 13 -> 14/2 = 7
  EXPECT_EQ(AverageCharWidth(0), 0);
}

TEST(DialogUnits, DialogFontGivesPlausibleBaseUnits) {
  const DialogBaseUnits u = BaseUnitsOf(DialogFont());
  // An 8-point sans face: between 5 and 8 pixels a character, 10 to 16 high.
  EXPECT_GE(u.avgCharWidth, 5);
  EXPECT_LE(u.avgCharWidth, 8);
  EXPECT_GE(u.charHeight, 10);
  EXPECT_LE(u.charHeight, 16);
}

TEST(LabelText, AmpersandsFollowThePlatformRule) {
  struct Row {
    const char* name;
    const char* in;
    const char* shown;
  };
  for (const Row r : {Row{"double", "Drag && Drop", "Drag & Drop"}, Row{"mnemonic", "&About", "About"},
                      Row{"triple", "a&&&b", "a&b"}, Row{"trailing", "end&", "end"},
                      Row{"empty", "", ""}, Row{"none", "Sides", "Sides"}}) {
    EXPECT_EQ(ShownLabelText(QString::fromUtf8(r.in)), QString::fromUtf8(r.shown)) << r.name;
  }
  // Buttons keep the text as written: Qt's own rule shows "&&" as one "&"
  // and makes no shortcut of it.
  EXPECT_TRUE(QKeySequence::mnemonic(QStringLiteral("Crop && Fill")).isEmpty());
  EXPECT_FALSE(QKeySequence::mnemonic(QStringLiteral("&Save")).isEmpty());
}

TEST(NumberReadBack, RangesAndMessages) {
  struct Row {
    const char* name;
    const char* text;
    NumberRange range;
    bool ok;
    int value;
  };
  const Row rows[] = {
      {"lowest", "0", kPercentRange, true, 0},     {"highest", "99", kPercentRange, true, 99},
      {"above", "100", kPercentRange, false, 0},   {"negative", "-1", kPercentRange, false, 0},
      {"blanks", "  7 ", kPercentRange, true, 7},  {"sign", "+5", kPercentRange, true, 5},
      {"empty", "", kPercentRange, false, 0},      {"letters", "12a", kPercentRange, false, 0},
      {"inner blank", "1 2", kPercentRange, false, 0},
      {"overflow", "99999999999", kPercentRange, false, 0},
      {"duration low", "2", kDurationRange, true, 2}, {"duration high", "240", kDurationRange, true, 240},
      {"duration below", "1", kDurationRange, false, 0},
      {"duration above", "241", kDurationRange, false, 0},
  };
  for (const Row& r : rows) {
    const NumberReadBack got = ReadNumber(QString::fromUtf8(r.text), r.range);
    EXPECT_EQ(got.ok, r.ok) << r.name;
    if (r.ok) {
      EXPECT_EQ(got.value, r.value) << r.name;
      EXPECT_TRUE(got.message.isEmpty()) << r.name;
    } else {
      EXPECT_EQ(got.message, RangeMessage(r.range)) << r.name;
    }
  }
  EXPECT_EQ(RangeMessage(kPercentRange), QStringLiteral("Please enter an integer between 0 and 99."));
  EXPECT_EQ(RangeMessage(kDurationRange),
            QStringLiteral("Please enter an integer between 2 and 240."));
}

TEST(DialogBuilder, MakesTheRightWidgetForEveryControl) {
  QWidget parent;
  const BuiltDialog built = BuildDialog(MainWindowTemplate(), &parent);
  const auto className = [](K kind) {
    switch (kind) {
      case K::Label: return "QLabel";
      case K::PushButton:
      case K::DefaultPushButton: return "QPushButton";
      case K::CheckBox: return "QCheckBox";
      case K::Radio: return "QRadioButton";
      case K::NumberEdit: return "QLineEdit";
      case K::GroupBox: return "QGroupBox";
      case K::Picture: return "plombix::PictureLabel";
      case K::MenuButton: return "QToolButton";
      case K::ColourPicker: return "plombix::ColourPickerButton";
      case K::ColButton: return "plombix::CColButton";
      case K::PreviewBox: return "QFrame";  // the placeholder
    }
    return "";
  };
  for (const Expected& e : kMainExpected) {
    QWidget* w = built.control(e.id);
    ASSERT_NE(w, nullptr) << e.id;
    EXPECT_EQ(w->parentWidget(), &parent) << e.id;
    EXPECT_TRUE(w->inherits(className(e.kind))) << e.id;
    const QString text = QString::fromUtf8(e.text);
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(label->text(), ShownLabelText(text)) << e.id;
    }
    auto* button = qobject_cast<QAbstractButton*>(w);
    if (button != nullptr && e.kind != K::ColourPicker) {
      EXPECT_EQ(button->text(), text) << e.id;
    }
    if (auto* push = qobject_cast<QPushButton*>(w); push != nullptr && e.kind != K::ColourPicker) {
      EXPECT_EQ(push->isDefault(), e.kind == K::DefaultPushButton) << e.id;
    }
  }
  EXPECT_EQ(built.as<QToolButton>(1002)->popupMode(), QToolButton::InstantPopup);
  // Geometry in pixels from the builder's base units, worked per control.
  const DialogBaseUnits u = built.baseUnits();
  EXPECT_EQ(built.clientSize(), QSize(MulDiv(321, u.avgCharWidth, 4), MulDiv(228, u.charHeight, 8)));
  EXPECT_EQ(built.control(1026)->geometry(),
            QRect(MulDiv(68, u.avgCharWidth, 4), MulDiv(41, u.charHeight, 8),
                  MulDiv(144, u.avgCharWidth, 4), MulDiv(78, u.charHeight, 8)));
  // Label shows one "&"; link buttons underlined; two-line buttons split.
  EXPECT_EQ(built.as<QLabel>(1051)->text(), QStringLiteral("Drag & Drop images onto the window"));
  EXPECT_TRUE(built.control(1017)->font().underline());
  EXPECT_FALSE(built.control(1049)->font().underline());
  auto* home = built.as<CColButton>(1070);
  EXPECT_EQ(home->textMode, CColButton::kTextTwoLines);
  EXPECT_EQ(home->upperText, QStringLiteral("X"));
  EXPECT_EQ(home->lowerText, QStringLiteral("Home"));
  EXPECT_EQ(built.as<CColButton>(1021)->textMode, CColButton::kTextWindow);
  EXPECT_EQ(built.as<QLabel>(1051)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(built.as<QLabel>(1064)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  EXPECT_EQ(built.control(1026)->objectName(), QStringLiteral("ctl_1026"));
  EXPECT_EQ(built.control(4242), nullptr);
  EXPECT_EQ(built.widgets().size(), qsizetype(std::size(MainWindowTemplate().controls)));
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
  EXPECT_EQ(built.radioGroup(1004)->checkedId(), 1);
  EXPECT_FALSE(built.as<QRadioButton>(1006)->isChecked());
  // The other group is independent.
  built.as<QRadioButton>(1009)->setChecked(true);
  EXPECT_EQ(built.radioGroup(1004)->checkedId(), 1);
  EXPECT_EQ(built.radioGroup(1007)->checkedId(), 2);
}

TEST(DialogBuilder, GroupBoxesDoNotCoverTheirControls) {
  QWidget parent;
  const BuiltDialog built = BuildDialog(MainWindowTemplate(), &parent);
  parent.resize(built.clientSize());
  parent.show();
  for (const int id : {1019, 1062, 1020, 1058, 1007, 1074, 1066, 1060}) {
    QWidget* control = built.control(id);
    const QPoint centre = control->geometry().center();
    QWidget* hit = parent.childAt(centre);
    // The hit may be a child of the control (e.g. a line edit's parts).
    while (hit != nullptr && hit != control && hit->parentWidget() != &parent) hit = hit->parentWidget();
    EXPECT_EQ(hit, control) << id;
  }
  auto* equal = built.as<QCheckBox>(1019);
  QTest::mouseClick(equal, Qt::LeftButton);
  EXPECT_TRUE(equal->isChecked());

  // Also when a table lists the group box after the controls it frames.
  const ControlSpec late[] = {
      {7, K::CheckBox, "Inside", 10, 10, 40, 10},
      {kNoId, K::GroupBox, "Frame", 5, 2, 60, 30},
  };
  QWidget other;
  const BuiltDialog b = BuildDialog(DialogTemplate{1, "", 80, 40, late}, &other);
  other.resize(b.clientSize());
  other.show();
  EXPECT_EQ(other.childAt(b.control(7)->geometry().center()), b.control(7));
}

TEST(DialogBuilder, NumberEditTakesDigitsOnly) {
  QWidget parent;
  const BuiltDialog built = BuildDialog(MainWindowTemplate(), &parent);
  auto* edit = built.as<QLineEdit>(1062);
  QTest::keyClicks(edit, QStringLiteral("1a-2 "));
  EXPECT_EQ(edit->text(), QStringLiteral("12"));
}

TEST(DialogBuilder, HiddenControlsAndPreviewFactory) {
  QWidget parent;
  int calls = 0;
  BuildOptions options;
  options.previewFactory = [&calls](QWidget* p, const ControlSpec& spec) -> QWidget* {
    ++calls;
    EXPECT_EQ(spec.id, 1026);
    auto* made = new QWidget(p);
    made->setObjectName(QStringLiteral("made"));
    return made;
  };
  const BuiltDialog built = BuildDialog(MainWindowTemplate(), &parent, options);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(built.control(1026)->objectName(), QStringLiteral("ctl_1026"));
  EXPECT_EQ(built.control(1026)->metaObject(), &QWidget::staticMetaObject);

  QWidget support;
  const BuiltDialog s = BuildDialog(SupportTemplate(), &support);
  EXPECT_TRUE(s.control(1)->isHidden());
  EXPECT_TRUE(s.control(2102)->isHidden());
  EXPECT_FALSE(s.control(2)->isHidden());
}

TEST(DialogBuilder, ReplaceTakesThePlaceOfAControl) {
  QWidget parent;
  BuiltDialog built = BuildDialog(MainWindowTemplate(), &parent);
  const QRect where = built.control(1026)->geometry();
  auto* replacement = new QWidget(&parent);
  ASSERT_TRUE(built.replace(1026, replacement));
  EXPECT_EQ(built.control(1026), replacement);
  EXPECT_EQ(replacement->geometry(), where);
  EXPECT_TRUE(built.widgets().contains(replacement));
  EXPECT_FALSE(built.replace(4242, new QWidget(&parent)));
  EXPECT_FALSE(built.replace(1026, nullptr));
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
  EXPECT_EQ(clicks.count(), 0);
  picture->setNotify(true);
  QTest::mouseClick(picture, Qt::LeftButton);
  EXPECT_EQ(clicks.count(), 1);
  QTest::mouseClick(picture, Qt::RightButton);
  EXPECT_EQ(clicks.count(), 1);
}

}  // namespace
}  // namespace plombix
