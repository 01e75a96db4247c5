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

CColButton* ColButton(CNDIPlombixDlg& dlg, int id) {
  return qobject_cast<CColButton*>(dlg.control(id));
}

// Counts the key presses that reach a widget after the window's key map.
class KeySpy : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) keys.push_back(static_cast<QKeyEvent*>(event)->key());
    return false;
  }
  std::vector<int> keys;
};

TEST_F(DialogTest, BackgroundMenuSetsCaptionModeAndStoredId) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  auto* button = qobject_cast<QToolButton*>(dlg.control(1052));
  for (const BackgroundEntry& entry : BackgroundEntries()) {
    if (!entry.menuText) {
      EXPECT_EQ(MenuAction(dlg, 1052, QStringLiteral("Grad Fill -")), nullptr);
      continue;
    }
    QAction* action = MenuAction(dlg, 1052, QString::fromUtf8(entry.menuText));
    ASSERT_NE(action, nullptr) << entry.menuText;
    action->trigger();
    EXPECT_EQ(button->text(), QString::fromUtf8(entry.caption));
    EXPECT_EQ(dlg.core.backgroundMode, entry.backgroundMode);
    EXPECT_EQ(dlg.config.live.backgroundId, uint32_t(entry.id));
  }
  MenuAction(dlg, 1052, QStringLiteral("None"))->trigger();
  EXPECT_EQ(button->text(), "Transparent");
  const PictureBuffer& bg = dlg.core.backgroundPicture;
  for (int i = 0; i < bg.byteCount; i += 4099) EXPECT_EQ(bg.pixelData[size_t(i)], 0);
}

TEST_F(DialogTest, ColourPickOnBlackChangesOnlyTheStoredColourUntilAFillIsChosen) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  MenuAction(dlg, 1052, QStringLiteral("Black"))->trigger();
  const size_t sends = FrameSends(Calls()).size();
  auto* first = qobject_cast<ColourPickerButton*>(dlg.control(1053));
  first->pickOther(QColor(10, 200, 30));
  EXPECT_EQ(dlg.config.live.fillColour1, 0x000AC81Eu);  // top byte 0 after a pick
  EXPECT_EQ(FrameSends(Calls()).size(), sends);         // Black: nothing rebuilt

  MenuAction(dlg, 1052, QStringLiteral("v1 Vertical Grad"))->trigger();
  const PictureBuffer& bg = dlg.core.backgroundPicture;
  EXPECT_EQ(bg.pixelData[0], 30);   // blue of the new first colour at the top
  EXPECT_EQ(bg.pixelData[1], 200);  // green
  EXPECT_EQ(bg.pixelData[2], 10);   // red

  // In a gradient mode a pick rebuilds the output at once.
  auto* second = qobject_cast<ColourPickerButton*>(dlg.control(1054));
  second->pickOther(QColor(255, 255, 255));
  EXPECT_EQ(dlg.config.live.fillColour2, 0x00FFFFFFu);
  EXPECT_EQ(FrameSends(Calls()).size(), sends + 2);
}

TEST_F(DialogTest, ScalingRadioChangesTheCaptionNotThePictureOnAir) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  auto* caption = qobject_cast<QLabel*>(dlg.control(1016));
  EXPECT_EQ(caption->text(), "Fill height/width & add borders");
  const size_t sends = FrameSends(Calls()).size();
  const int width = dlg.core.mainPicture.width;
  qobject_cast<QRadioButton*>(dlg.control(1004))->click();
  EXPECT_EQ(caption->text(), "1:1 pixel sizing");
  EXPECT_EQ(dlg.config.live.scalingMode, 0);
  qobject_cast<QRadioButton*>(dlg.control(1006))->click();
  EXPECT_EQ(caption->text(), "Fill screen, crop where needed");
  EXPECT_EQ(FrameSends(Calls()).size(), sends);
  EXPECT_EQ(dlg.core.mainPicture.width, width);
}

TEST_F(DialogTest, MoreAndLessFoldTheWindowByTheirArithmetic) {
  CNDIPlombixDlg& dlg = Open();
  const int full = dlg.fullHeight();
  const int folded = full * 2 / 3;
  EXPECT_EQ(dlg.height(), folded);
  auto* more = qobject_cast<QPushButton*>(dlg.control(1061));
  // Folded: the More row shows whole; the lower groups (here the Border
  // size box's "Equal" and the Simple Slideshow's "Start number") and the
  // step buttons are hidden whole, never cut.
  const auto lowerHidden = [&dlg] {
    int hidden = 0;
    for (int id : {1019, 1058, 1060, 1070}) hidden += dlg.control(id)->isHidden();
    return hidden;
  };
  EXPECT_LE(more->mapTo(&dlg, QPoint(0, more->height())).y(), dlg.height());
  EXPECT_EQ(lowerHidden(), 4);
  more->click();
  EXPECT_TRUE(dlg.expanded);
  EXPECT_EQ(more->text(), "Less");
  EXPECT_EQ(dlg.height(), folded / 2 * 3);
  EXPECT_EQ(lowerHidden(), 0);
  more->click();
  EXPECT_EQ(more->text(), "More");
  EXPECT_EQ(dlg.height(), folded / 2 * 3 * 2 / 3);
  EXPECT_EQ(lowerHidden(), 4);

  // From an odd height, Less then More loses one pixel.
  dlg.setFixedHeight(301);
  dlg.expanded = true;
  dlg.OnMoreLess();
  EXPECT_EQ(dlg.height(), 200);
  dlg.OnMoreLess();
  EXPECT_EQ(dlg.height(), 300);
}

TEST_F(DialogTest, CutFadeAndRangeButtonsCaptionTheirState) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  CColButton* cut = ColButton(dlg, 1021);
  EXPECT_EQ(cut->text(), "Cut");
  EXPECT_EQ(cut->colourState, 3);
  cut->click();
  EXPECT_EQ(cut->text(), "Fade");
  EXPECT_EQ(cut->colourState, 2);
  EXPECT_EQ(dlg.config.live.fadeOn, 1);
  cut->click();
  EXPECT_EQ(cut->text(), "Cut");
  EXPECT_EQ(cut->colourState, 3);

  // A video-range picture (16,16,16) is shown as black after "16-235".
  fake->keepPixels = true;
  const std::string grey = WritePicture("grey.png", 1280, 720, QColor(16, 16, 16));
  ASSERT_TRUE(Drop(dlg, {grey}));
  auto* range = qobject_cast<QPushButton*>(dlg.control(1049));
  range->click();
  dlg.waitForLoads();
  EXPECT_EQ(range->text(), "16-235");
  EXPECT_EQ(dlg.config.live.limitedRange, 1);
  const std::vector<uint8_t> frame = FrameSends(Calls()).back().pixels;
  ASSERT_FALSE(frame.empty());
  const size_t centre = (size_t(360) * 1280 + 640) * 4;
  EXPECT_EQ(frame[centre + 0], 0);
  EXPECT_EQ(frame[centre + 1], 0);
  EXPECT_EQ(frame[centre + 2], 0);
  EXPECT_EQ(frame[centre + 3], 255);
  range->click();
  dlg.waitForLoads();
  EXPECT_EQ(range->text(), "0-255");
  EXPECT_EQ(FrameSends(Calls()).back().pixels[centre], 16);
}

TEST_F(DialogTest, GrabThenCopyFromGrabbedUsesTheGrabbedFrame) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  CColButton* grab = ColButton(dlg, 1048);
  grab->click();
  EXPECT_EQ(grab->text(), "Grabbed");
  EXPECT_EQ(grab->colourState, 1);
  const PictureBuffer& grabbed = dlg.core.grabbedPicture;
  ASSERT_EQ(grabbed.byteCount, dlg.core.composedPicture.byteCount);

  MenuAction(dlg, 1052, QStringLiteral("Copy from grabbed"))->trigger();
  EXPECT_EQ(grab->text(), "Grab used");
  EXPECT_EQ(grab->colourState, 2);
  EXPECT_EQ(std::memcmp(dlg.core.backgroundPicture.pixelData.get(), grabbed.pixelData.get(),
                        size_t(grabbed.byteCount)),
            0);

  // A grab while mode 20 is on rebuilds the background from the new grab.
  grab->click();
  EXPECT_EQ(grab->text(), "Grab used");
}

TEST_F(DialogTest, GrabWithNothingComposedResetsItsCaption) {
  fake->initializeResult = false;  // start-up stops before anything is composed
  CNDIPlombixDlg& dlg = Open();
  CColButton* grab = ColButton(dlg, 1048);
  grab->click();
  EXPECT_EQ(grab->text(), "Grab");
  EXPECT_EQ(grab->colourState, 3);
}

TEST_F(DialogTest, GrabOverlayCopiesOrReloadsByTheBordersOfTheShownPicture) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string picture = WritePicture("card.png", 400, 300, QColor(90, 10, 200));
  ASSERT_TRUE(Drop(dlg, {picture}));
  ColButton(dlg, 1067)->click();
  EXPECT_TRUE(dlg.core.overlayLoaded);
  EXPECT_EQ(dlg.config.overlayPath.toUtf8(), picture);
  EXPECT_EQ(qobject_cast<QLabel*>(dlg.control(1068))->text(), QString::fromStdString(picture));
  const PictureBuffer& overlay = dlg.core.overlayPicture;
  const PictureBuffer& main = dlg.core.mainPicture;
  ASSERT_EQ(overlay.byteCount, main.byteCount);
  EXPECT_EQ(std::memcmp(overlay.pixelData.get(), main.pixelData.get(), size_t(main.byteCount)), 0);

  // With borders the picture was scaled inside them; the overlay is the file
  // scaled to the whole output: 4:3 in a 16:9 frame -> 960 x 720.
  auto* topBottom = qobject_cast<QLineEdit*>(dlg.control(1063));
  topBottom->setText("10");
  emit topBottom->editingFinished();
  qobject_cast<QCheckBox*>(dlg.control(1020))->click();
  ASSERT_EQ(dlg.config.live.borderUse, 1);
  ASSERT_TRUE(Drop(dlg, {picture}));
  EXPECT_EQ(dlg.core.mainPicture.height, 720 - 2 * 36);
  ColButton(dlg, 1067)->click();
  dlg.waitForLoads();
  EXPECT_EQ(overlay.width, 960);
  EXPECT_EQ(overlay.height, 720);
}

TEST_F(DialogTest, OverlayUseCannotBeTickedWithoutAnOverlay) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  auto* use = qobject_cast<QCheckBox*>(dlg.control(1066));
  use->click();
  EXPECT_FALSE(use->isChecked());
  EXPECT_EQ(dlg.config.live.overlayOn, 0);
}

TEST_F(DialogTest, OutOfRangeBorderValueIsRefusedAndTheOldValueKept) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  auto* sides = qobject_cast<QLineEdit*>(dlg.control(1062));
  sides->setText("12");
  emit sides->editingFinished();
  EXPECT_EQ(dlg.config.live.borderSidesPct, 12);
  sides->setText("150");
  emit sides->editingFinished();
  ASSERT_FALSE(prompter.boxes.empty());
  EXPECT_EQ(prompter.boxes.back().text, "Please enter an integer between 0 and 99.");
  EXPECT_EQ(dlg.config.live.borderSidesPct, 12);
  EXPECT_EQ(sides->text(), "12");

  auto* duration = qobject_cast<QLineEdit*>(dlg.control(1074));
  duration->setText("1");
  emit duration->editingFinished();
  EXPECT_EQ(prompter.boxes.back().text, "Please enter an integer between 2 and 240.");
  EXPECT_EQ(dlg.config.live.slideshow.durationSecs, 2);
}

TEST_F(DialogTest, EqualTakesTheSidesFieldOutOfPlay) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  qobject_cast<QCheckBox*>(dlg.control(1019))->click();
  EXPECT_EQ(dlg.config.live.borderEqual, 1);
  for (int id : {1062, 1064, 1065}) EXPECT_FALSE(dlg.control(id)->isEnabled()) << id;
  qobject_cast<QLineEdit*>(dlg.control(1063))->setText("10");
  qobject_cast<QLineEdit*>(dlg.control(1062))->setText("50");
  qobject_cast<QCheckBox*>(dlg.control(1020))->click();
  emit qobject_cast<QLineEdit*>(dlg.control(1063))->editingFinished();
  EXPECT_EQ(dlg.core.borderTopBottomPx, 36);  // 10 x 720 / 200
  EXPECT_EQ(dlg.core.borderSidesPx, 36);      // the same pixels, not 50 %
}

TEST_F(DialogTest, KeysAskToExitMoveTheFocusAndStepTheSlideshow) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  dlg.show();
  dlg.OnMoreLess();  // unfolded: the Sides field is in the lower third
  QApplication::setActiveWindow(&dlg);
  auto* sides = qobject_cast<QLineEdit*>(dlg.control(1062));
  sides->setFocus();

  prompter.answer = false;
  QTest::keyClick(sides, Qt::Key_Escape);
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_EQ(prompter.boxes[0].text, "OK to exit?");
  EXPECT_EQ(prompter.boxes[0].title, "Quit Plombix");
  EXPECT_FALSE(dlg.ended);

  QTest::keyClick(sides, Qt::Key_Return);
  EXPECT_FALSE(sides->hasFocus());      // moved on like Tab
  EXPECT_EQ(prompter.boxes.size(), 1u); // Exit was not pressed

  // PgDn steps a numbered series and still reaches the focused field.
  for (int n = 1; n <= 3; ++n) WritePicture("shot" + std::to_string(n) + ".png", 32, 32, Qt::gray);
  const std::string first = dir.path().toStdString() + "/shot1.png";
  ASSERT_TRUE(Drop(dlg, {first}));
  qobject_cast<QPushButton*>(dlg.control(1058))->click();  // Start number: 1
  dlg.waitForLoads();
  dlg.config.live.slideshow.endNumber = 3;
  dlg.config.live.slideshow.currentNumber = 1;
  dlg.config.live.slideshow.mode = 1;
  sides->setFocus();
  KeySpy spy;
  sides->installEventFilter(&spy);
  QTest::keyClick(sides, Qt::Key_PageDown);
  dlg.waitForLoads();
  EXPECT_EQ(dlg.config.live.slideshow.currentNumber, 2);
  EXPECT_EQ(dlg.core.mainPicture.fileName, "shot2.png");
  EXPECT_EQ(spy.keys, std::vector<int>{Qt::Key_PageDown});
  sides->removeEventFilter(&spy);
}

TEST_F(DialogTest, OptionsMenuTogglesAndSaves) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  EXPECT_TRUE(dlg.optionsAction(IDM_ALWAYSONTOP)->isChecked());
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
  dlg.OnSysCommand(IDM_ALWAYSONTOP);
  EXPECT_FALSE(dlg.optionsAction(IDM_ALWAYSONTOP)->isChecked());
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);

  dlg.OnSysCommand(IDM_USELAST);
  dlg.OnSysCommand(IDM_USEIMAGE);
  EXPECT_EQ(dlg.config.live.useLast, 1);
  EXPECT_EQ(dlg.config.live.useImage, 1);
  EXPECT_TRUE(dlg.optionsAction(IDM_USELAST)->isChecked());
  dlg.OnSysCommand(IDM_USEIMAGE);
  EXPECT_EQ(dlg.config.live.useImage, 0);

  dlg.OnSysCommand(IDM_SAVECONFIG);
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_EQ(prompter.boxes[0].text, "Config file saved OK");
  EXPECT_EQ(prompter.boxes[0].title, "Save File");
  EXPECT_EQ(QFileInfo(QString::fromStdString(settingsDir + "/last.plq")).size(), 2364);

  const QStringList texts = [&] {
    QStringList out;
    for (QAction* a : dlg.optionsMenu()->actions()) out << a->text();
    return out;
  }();
  // The ways to open a picture first, then the system menu's items in order.
  EXPECT_EQ(texts, (QStringList{QString::fromUtf8("Open picture\u2026"),
                                QString::fromUtf8("Open overlay\u2026"), "Recent pictures", "",
                                "No alpha output", "Always on top", "Use Last", "Use Image",
                                "Save config now", "", "Open online help (ReadMe file)",
                                "&About NDI Plombix..."}));
}

}  // namespace
}  // namespace plombix::testing

namespace plombix::testing {
namespace {

// The three menus tick the entry in force: defaults at start, each choice.
TEST_F(DialogTest, MenusTickTheEntryInForce) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const auto ticked = [&](int buttonId) {
    QStringList texts;
    QList<QMenu*> menus{qobject_cast<QToolButton*>(dlg.control(buttonId))->menu()};
    while (!menus.isEmpty())
      for (QAction* action : menus.takeFirst()->actions()) {
        if (action->menu()) menus.push_back(action->menu());
        if (action->isChecked()) texts << action->text();
      }
    return texts;
  };
  EXPECT_EQ(ticked(1002), QStringList{"1280 x 720"});
  EXPECT_EQ(ticked(1003), QStringList{"25p"});
  EXPECT_EQ(ticked(1052), QStringList{"v1 Vertical Grad"});
  MenuAction(dlg, 1002, "1920 x 1080")->trigger();
  MenuAction(dlg, 1003, "50p")->trigger();
  MenuAction(dlg, 1052, "None")->trigger();
  dlg.waitForLoads();
  EXPECT_EQ(ticked(1002), QStringList{"1920 x 1080"});
  EXPECT_EQ(ticked(1003), QStringList{"50p"});
  EXPECT_EQ(ticked(1052), QStringList{"None"});
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
  const QRect first(600, 400, 500, 300);
  const QRect screen(0, 0, 1920, 1080);
  const struct {
    int index;
    QPoint at;
  } rows[] = {
      {0, {600, 400}},  {1, {1108, 400}}, {2, {92, 400}},  {3, {600, 708}},
      {4, {600, 92}},   {5, {1108, 708}}, {6, {92, 708}},  {7, {1108, 92}},
  };
  for (const auto& row : rows) EXPECT_EQ(CopyWindowPosition(row.index, first, screen), row.at) << row.index;
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
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted()) << id;
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    dlg.waitForLoads();
    EXPECT_EQ(dlg.core.lastShowOutcome.path, picture) << id;
    EXPECT_TRUE(dlg.core.lastShowOutcome.shown()) << id;
    if (id != 1026) {
      EXPECT_EQ(qobject_cast<QLineEdit*>(target)->text(), before) << id;
    }
    dlg.core.lastShowOutcome = {};
  }
}

}  // namespace
}  // namespace plombix::testing
