// The main window's controls, menus and keys: each does what the operator
// expects, with the exact captions.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include "ccol_button.h"
#include "colour_picker_button.h"
#include "dialog_fixture.h"
#include "output_formats.h"
#include "qt_test_app.h"

namespace plombix::testing {
namespace {

CColButton* ColButton(CNDIPlombixDlg& dlg, int id) { return qobject_cast<CColButton*>(dlg.control(id)); }
template <class T>
T* Control(CNDIPlombixDlg& dlg, int id) { return qobject_cast<T*>(dlg.control(id)); }

// The entries of a menu button's menu that carry a tick.
QStringList Ticked(CNDIPlombixDlg& dlg, int buttonId) {
  QStringList texts;
  QList<QMenu*> menus{Control<QToolButton>(dlg, buttonId)->menu()};
  while (!menus.isEmpty())
    for (QAction* action : menus.takeFirst()->actions()) {
      if (action->menu()) menus.push_back(action->menu());
      if (action->isChecked()) texts << action->text();
    }
  return texts;
}

// Every Background entry sets its caption, mode and stored id and ticks
// itself ("None" shows "Transparent" and a transparent frame); the three
// menus tick the defaults at start and each choice.
TEST_F(DialogTest, MenusSetCaptionModeAndStoredIdAndTickTheEntryInForce) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  EXPECT_EQ(Ticked(dlg, 1002) + Ticked(dlg, 1003) + Ticked(dlg, 1052),
            (QStringList{"1280 x 720", "25p", "v1 Vertical Grad"}));
  for (const BackgroundEntry& entry : BackgroundEntries()) {
    if (!entry.menuText) continue;  // 32787 has no entry
    QAction* action = MenuAction(dlg, 1052, QString::fromUtf8(entry.menuText));
    ASSERT_NE(action, nullptr) << entry.menuText;
    action->trigger();
    EXPECT_EQ(Control<QToolButton>(dlg, 1052)->text(), QString::fromUtf8(entry.caption));
    EXPECT_EQ(dlg.core.backgroundMode, entry.backgroundMode);
    EXPECT_EQ(dlg.config.live.backgroundId, uint32_t(entry.id));
    EXPECT_EQ(Ticked(dlg, 1052), QStringList{QString::fromUtf8(entry.menuText)});
  }
  EXPECT_EQ(Control<QToolButton>(dlg, 1052)->text(), "Transparent");
  const PictureBuffer& bg = dlg.core.backgroundPicture;
  for (int i = 0; i < bg.byteCount; i += 4099) EXPECT_EQ(bg.pixelData[size_t(i)], 0);
  MenuAction(dlg, 1002, "1920 x 1080")->trigger();
  MenuAction(dlg, 1003, "50p")->trigger();
  dlg.waitForLoads();
  EXPECT_EQ(Ticked(dlg, 1002) + Ticked(dlg, 1003), (QStringList{"1920 x 1080", "50p"}));
}

TEST_F(DialogTest, ColourPickOnBlackChangesOnlyTheStoredColourUntilAFillIsChosen) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  MenuAction(dlg, 1052, QStringLiteral("Black"))->trigger();
  const size_t sends = FrameSends(Calls()).size();
  Control<ColourPickerButton>(dlg, 1053)->pickOther(QColor(10, 200, 30));
  EXPECT_EQ(dlg.config.live.fillColour1, 0x000AC81Eu);  // top byte 0 after a pick
  EXPECT_EQ(FrameSends(Calls()).size(), sends);         // Black: nothing rebuilt
  MenuAction(dlg, 1052, QStringLiteral("v1 Vertical Grad"))->trigger();
  const uint8_t* top = dlg.core.backgroundPicture.pixelData.get();  // the new first colour at the top
  EXPECT_EQ(std::tuple(top[0], top[1], top[2]), std::tuple(30, 200, 10));
  // In a gradient mode a pick rebuilds the output at once.
  Control<ColourPickerButton>(dlg, 1054)->pickOther(QColor(255, 255, 255));
  EXPECT_EQ(dlg.config.live.fillColour2, 0x00FFFFFFu);
  EXPECT_EQ(FrameSends(Calls()).size(), sends + 2);
}

// The scaling radios caption their mode and leave the picture on air; Cut /
// Fade and the range button caption their state.
TEST_F(DialogTest, ScalingRadiosCutFadeAndRangeCaptionTheirState) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  auto* caption = Control<QLabel>(dlg, 1016);
  EXPECT_EQ(caption->text(), "Fill height/width & add borders");
  const size_t sends = FrameSends(Calls()).size();
  const int width = dlg.core.mainPicture.width;
  Control<QRadioButton>(dlg, 1004)->click();
  EXPECT_EQ(caption->text(), "1:1 pixel sizing");
  EXPECT_EQ(dlg.config.live.scalingMode, 0);
  Control<QRadioButton>(dlg, 1006)->click();
  EXPECT_EQ(caption->text(), "Fill screen, crop where needed");
  EXPECT_EQ(FrameSends(Calls()).size(), sends);
  EXPECT_EQ(dlg.core.mainPicture.width, width);

  CColButton* cut = ColButton(dlg, 1021);
  auto* range = Control<QPushButton>(dlg, 1049);
  for (const auto& [fade, state, limited] : {std::tuple{"Cut", 3, "0-255"}, {"Fade", 2, "16-235"}, {"Cut", 3, "0-255"}}) {
    EXPECT_EQ(std::pair(cut->text(), cut->colourState), std::pair(QString(fade), state));
    EXPECT_EQ(range->text(), limited);
    EXPECT_EQ(dlg.config.live.fadeOn + dlg.config.live.limitedRange, state == 2 ? 2 : 0);
    cut->click();
    range->click();
    dlg.waitForLoads();
  }
}

TEST_F(DialogTest, GrabThenCopyFromGrabbedUsesTheGrabbedFrame) {
  fake->initializeResult = false;  // start-up stops before anything is composed
  CColButton* grab = ColButton(Open(), 1048);
  grab->click();
  EXPECT_EQ(std::pair(grab->text(), grab->colourState), std::pair(QString("Grab"), 3));
  fake->initializeResult = true;
  CNDIPlombixDlg& dlg = OpenAndStart();
  grab = ColButton(dlg, 1048);
  grab->click();
  EXPECT_EQ(std::pair(grab->text(), grab->colourState), std::pair(QString("Grabbed"), 1));
  const PictureBuffer& grabbed = dlg.core.grabbedPicture;
  ASSERT_EQ(grabbed.byteCount, dlg.core.composedPicture.byteCount);
  MenuAction(dlg, 1052, QStringLiteral("Copy from grabbed"))->trigger();
  EXPECT_EQ(std::pair(grab->text(), grab->colourState), std::pair(QString("Grab used"), 2));
  EXPECT_EQ(std::memcmp(dlg.core.backgroundPicture.pixelData.get(), grabbed.pixelData.get(),
                        size_t(grabbed.byteCount)), 0);
  grab->click();  // a grab while it is in use rebuilds the background from the new grab
  EXPECT_EQ(grab->text(), "Grab used");
}

// "Use" cannot be ticked without an overlay; Grab Overlay copies the shown
// picture, or loads its file again at output scale when it was shown inside
// borders.
TEST_F(DialogTest, GrabOverlayCopiesOrReloadsByTheBordersOfTheShownPicture) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  auto* use = Control<QCheckBox>(dlg, 1066);
  use->click();
  EXPECT_FALSE(use->isChecked());
  EXPECT_EQ(dlg.config.live.overlayOn, 0);
  const std::string picture = WritePicture("card.png", 400, 300, QColor(90, 10, 200));
  ASSERT_TRUE(Drop(dlg, {picture}));
  ColButton(dlg, 1067)->click();
  EXPECT_TRUE(dlg.core.overlayLoaded);
  EXPECT_EQ(dlg.config.overlayPath.toUtf8(), picture);
  EXPECT_EQ(Control<QLabel>(dlg, 1068)->text(), QString::fromStdString(picture));
  const PictureBuffer& overlay = dlg.core.overlayPicture;
  const PictureBuffer& main = dlg.core.mainPicture;
  ASSERT_EQ(overlay.byteCount, main.byteCount);
  EXPECT_EQ(std::memcmp(overlay.pixelData.get(), main.pixelData.get(), size_t(main.byteCount)), 0);

  // With borders the picture was scaled inside them; the overlay is the file
  // scaled to the whole output: 4:3 in a 16:9 frame -> 960 x 720.
  Control<QLineEdit>(dlg, 1063)->setText("10");
  emit Control<QLineEdit>(dlg, 1063)->editingFinished();
  Control<QCheckBox>(dlg, 1020)->click();
  ASSERT_TRUE(Drop(dlg, {picture}));
  EXPECT_EQ(dlg.core.mainPicture.height, 720 - 2 * 36);
  ColButton(dlg, 1067)->click();
  dlg.waitForLoads();
  EXPECT_EQ(std::pair(overlay.width, overlay.height), std::pair(960, 720));
}

// A value out of range gets the range message and keeps the last good one;
// "Equal" takes the Sides field out of play: the sides take the top/bottom
// pixels, not the percentage.
TEST_F(DialogTest, BorderAndDurationFieldsKeepTheirRangesAndEqualTakesTheSidesOutOfPlay) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  auto* sides = Control<QLineEdit>(dlg, 1062);
  const struct { QLineEdit* field; const char* text; int value; const char* message; } rows[] = {
      {sides, "12", 12, nullptr},
      {sides, "150", 12, "Please enter an integer between 0 and 99."},
      {Control<QLineEdit>(dlg, 1074), "1", 2, "Please enter an integer between 2 and 240."}};
  for (const auto& row : rows) {
    row.field->setText(row.text);
    emit row.field->editingFinished();
    const int value = row.field == sides ? dlg.config.live.borderSidesPct : dlg.config.live.slideshow.durationSecs;
    EXPECT_EQ(value, row.value) << row.text;
    EXPECT_EQ(row.field->text(), QString::number(row.value)) << row.text;
    if (row.message) { EXPECT_EQ(prompter.boxes.back().text, row.message); }
  }
  Control<QCheckBox>(dlg, 1019)->click();
  EXPECT_EQ(dlg.config.live.borderEqual, 1);
  for (int id : {1062, 1064, 1065}) EXPECT_FALSE(dlg.control(id)->isEnabled()) << id;
  Control<QLineEdit>(dlg, 1063)->setText("10");
  sides->setText("50");
  Control<QCheckBox>(dlg, 1020)->click();
  emit Control<QLineEdit>(dlg, 1063)->editingFinished();
  EXPECT_EQ(std::pair(dlg.core.borderTopBottomPx, dlg.core.borderSidesPx), std::pair(36, 36));  // 10 x 720 / 200
}

// Folded, the More row shows whole and the lower groups (the Border size
// box's "Equal", the Simple Slideshow's "Start number") and the step buttons
// are hidden whole, never cut; the heights follow the fold's arithmetic.
TEST_F(DialogTest, MoreAndLessFoldTheWindowByTheirArithmetic) {
  CNDIPlombixDlg& dlg = Open();
  const int folded = dlg.fullHeight() * 2 / 3;
  auto* more = Control<QPushButton>(dlg, 1061);
  EXPECT_LE(more->mapTo(&dlg, QPoint(0, more->height())).y(), dlg.height());
  for (const auto& [height, hidden, caption] : {std::tuple{folded, 4, "More"}, {folded / 2 * 3, 0, "Less"},
                                               {folded / 2 * 3 * 2 / 3, 4, "More"}}) {
    if (height != folded) more->click();
    EXPECT_EQ(std::pair(dlg.height(), dlg.expanded), std::pair(height, hidden == 0));
    EXPECT_EQ(more->text(), caption);
    for (int id : {1019, 1058, 1060, 1070}) EXPECT_EQ(dlg.control(id)->isHidden(), hidden != 0) << id;
  }
  dlg.setFixedHeight(301);  // from an odd height, Less then More loses one pixel
  dlg.expanded = true;
  dlg.OnMoreLess();
  EXPECT_EQ(dlg.height(), 200);
  dlg.OnMoreLess();
  EXPECT_EQ(dlg.height(), 300);
}

// Esc asks to exit; Enter moves the focus like Tab instead of pressing Exit.
TEST_F(DialogTest, EscapeAsksToExitAndEnterMovesTheFocus) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  dlg.show();
  dlg.OnMoreLess();  // unfolded: the Duration field is in the lower third
  QApplication::setActiveWindow(&dlg);
  auto* field = Control<QLineEdit>(dlg, 1074);
  field->setFocus();
  prompter.answer = false;
  QTest::keyClick(field, Qt::Key_Escape);
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_EQ(std::pair(prompter.boxes[0].text, prompter.boxes[0].title), std::pair(QString("OK to exit?"), QString("Quit Plombix")));
  EXPECT_FALSE(dlg.ended);
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_FALSE(field->hasFocus());
  EXPECT_EQ(prompter.boxes.size(), 1u);
}

TEST_F(DialogTest, OptionsMenuTogglesAndSaves) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  EXPECT_TRUE(dlg.optionsAction(IDM_ALWAYSONTOP)->isChecked());
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
  dlg.OnSysCommand(IDM_ALWAYSONTOP);
  EXPECT_FALSE(dlg.optionsAction(IDM_ALWAYSONTOP)->isChecked());
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
  for (int command : {IDM_USELAST, IDM_USEIMAGE, IDM_USEIMAGE}) dlg.OnSysCommand(command);
  EXPECT_EQ(std::pair(dlg.config.live.useLast, dlg.config.live.useImage), std::pair(uint8_t(1), uint8_t(0)));
  EXPECT_TRUE(dlg.optionsAction(IDM_USELAST)->isChecked());
  EXPECT_FALSE(dlg.optionsAction(IDM_USEIMAGE)->isChecked());
  dlg.OnSysCommand(IDM_SAVECONFIG);
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_EQ(std::pair(prompter.boxes[0].text, prompter.boxes[0].title),
            std::pair(QString("Config file saved OK"), QString("Save File")));
  EXPECT_EQ(QFileInfo(QString::fromStdString(settingsDir + "/last.plq")).size(), 2364);
  QStringList texts;
  for (QAction* a : dlg.optionsMenu()->actions()) texts << a->text();
  // The ways to open a picture first, then the system menu's items in order.
  EXPECT_EQ(texts, (QStringList{QString::fromUtf8("Open picture\u2026"), QString::fromUtf8("Open overlay\u2026"),
                                "Recent pictures", "", "No alpha output", "Always on top", "Use Last", "Use Image",
                                "Save config now", "", "Open online help (ReadMe file)", "&About NDI Plombix..."}));
}

TEST(SixteenByNineInside, CentresTheWidest16By9Inside) {
  // 266 x 127 with a 1-px frame: inside 264 x 125; 125 x 16 / 9 = 222.2 -> 222,
  // centred 21 px in.
  EXPECT_EQ(SixteenByNineInside(QRect(100, 50, 266, 127), 1), QRect(121, 50, 224, 127));
  // Too tall: 160 wide gives 90 rows, centred 15 rows down.
  EXPECT_EQ(SixteenByNineInside(QRect(0, 0, 160, 120), 0), QRect(0, 15, 160, 90));
  EXPECT_EQ(SixteenByNineInside(QRect(0, 0, 320, 180), 0), QRect(0, 0, 320, 180));
}

TEST(CopyWindowPosition, CopiesTakeTheCellsAroundTheFirstInsideTheScreen) {
  const QRect first(600, 400, 500, 300), screen(0, 0, 1920, 1080);
  const QPoint cells[] = {{600, 400}, {1108, 400}, {92, 400}, {600, 708}, {600, 92}, {1108, 708}, {92, 708}, {1108, 92}};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(CopyWindowPosition(i, first, screen), cells[i]) << i;
  // Kept inside a small screen: right and bottom edges clamp.
  EXPECT_EQ(CopyWindowPosition(5, first, QRect(0, 0, 1280, 800)), QPoint(780, 500));
  EXPECT_EQ(CopyWindowPosition(2, QRect(50, 40, 500, 300), screen), QPoint(0, 40));
}

// A file dragged onto any control is shown, even where the drag also
// carries text that a number field would otherwise take.
TEST_F(DialogTest, FileDroppedOnANumberFieldIsShown) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string picture = WritePicture("field.png", 32, 18, Qt::green);
  for (int id : {1062, 1063, 1074, 1026}) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(picture))});
    data.setText(QString::fromStdString("file://" + picture));
    QWidget* target = dlg.control(id);
    const QString before = id == 1026 ? QString() : qobject_cast<QLineEdit*>(target)->text();
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted()) << id;
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    dlg.waitForLoads();
    EXPECT_TRUE(dlg.core.lastShowOutcome.shown() && dlg.core.lastShowOutcome.path == picture) << id;
    if (id != 1026) { EXPECT_EQ(qobject_cast<QLineEdit*>(target)->text(), before) << id; }
    dlg.core.lastShowOutcome = {};
  }
}

}  // namespace
}  // namespace plombix::testing
