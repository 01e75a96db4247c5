// Settings across restarts, the slideshow, the file watch and the game
// controller, driven through the main window.
#include <QAction>
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "ccol_button.h"
#include "dialog_fixture.h"
#include "qt_test_app.h"

namespace plombix::testing {
namespace {

QString Caption(CNDIPlombixDlg& dlg, int id) {
  if (auto* label = qobject_cast<QLabel*>(dlg.control(id))) return label->text();
  return qobject_cast<QAbstractButton*>(dlg.control(id))->text();
}

// Sets a file's last-write time to `seconds` past the epoch.
void SetWriteTime(const std::string& path, time_t seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

uint8_t CentreOfLastFrame() {
  const std::vector<FakeNdiCall> sends = FrameSends(FakeState()->snapshot());
  const NDIlib_video_frame_v2_t& f = sends.back().frame;
  return sends.back().pixels.at((size_t(f.yres / 2) * size_t(f.xres) + size_t(f.xres / 2)) * 4);
}

class SettingsTest : public DialogTest {
 protected:
  CNDIPlombixDlg& Restart() {
    dialog.reset();
    return OpenAndStart();
  }
  // After the restore tick, the sequence base`first`..`last` set up and the
  // slideshow stepping by hand from `current`.
  void StepByHand(CNDIPlombixDlg& dlg, const std::string& base, int first, int last, int current) {
    dlg.onTimer(TIMER_RESTORE);
    dlg.waitForLoads();
    PressStartAndEnd(dlg, base, first, last);
    dlg.config.live.slideshow.currentNumber = uint8_t(current);
    qobject_cast<CColButton*>(dlg.control(1056))->click();
  }
};

TEST_F(SettingsTest, UseLastBringsSettingsAndPictureBackAtTheNextStart) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string picture = WritePicture("onair.png", 100, 50, Qt::darkCyan);
  ASSERT_TRUE(Drop(dlg, {picture}));
  for (const char* entry : {"1920 x 1080", "50p", "Black"})
    for (int menu : {1002, 1003, 1052})
      if (QAction* action = MenuAction(dlg, menu, entry)) action->trigger();
  for (int toggle : {1021, 1000}) qobject_cast<CColButton*>(dlg.control(toggle))->click();  // Fade, Watch
  dlg.OnSysCommand(IDM_USELAST);
  dlg.OnSysCommand(IDM_USEIMAGE);
  dlg.ExitConfirmation();  // saves, since "Use Last" is on
  ASSERT_EQ(QFileInfo(QString::fromStdString(settingsDir + "/last.plq")).size(), 2364);

  CNDIPlombixDlg& again = Restart();
  EXPECT_EQ(again.core.backgroundMode, 0);
  EXPECT_EQ(Caption(again, 1021) + Caption(again, 1000), "FadeWatching");
  EXPECT_TRUE(again.optionsAction(IDM_USELAST)->isChecked());
  // The menu buttons keep their captions; the format is on air all the same.
  EXPECT_EQ(Caption(again, 1002), "Resolution");
  const NDIlib_video_frame_v2_t f = FrameSends(Calls()).back().frame;
  EXPECT_EQ(std::tuple(f.xres, f.frame_rate_N, f.frame_rate_D), std::tuple(1920, 60000, 1200));
  again.onTimer(TIMER_RESTORE);
  again.waitForLoads();
  EXPECT_EQ(again.core.mainPicture.fileName, "onair.png");
  EXPECT_EQ(again.config.currentFileName, picture);
}

// Saved without "Use Last", only the paths come back unless "/force_last";
// a damaged file is reported and start-up goes on with the defaults.
TEST_F(SettingsTest, WithoutUseLastOnlyThePathsComeBackUnlessForcedAndADamagedFileIsSaid) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string picture = WritePicture("kept.png", 64, 36, Qt::yellow);
  ASSERT_TRUE(Drop(dlg, {picture}));
  MenuAction(dlg, 1003, QStringLiteral("30p"))->trigger();
  dlg.OnSysCommand(IDM_SAVECONFIG);  // useLast is 0 in the file
  EXPECT_EQ(Restart().core.output.frameRateD, 1200);  // not applied
  EXPECT_EQ(dialog->config.imagePath.toUtf8(), picture);
  commandLine = QStringLiteral("/FORCE_LAST");
  EXPECT_EQ(Restart().core.output.frameRateD, 1000);  // applied

  QFile file(QString::fromStdString(settingsDir + "/last.plq"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("QLVPLMX1 but far too short") > 0);
  file.close();
  prompter.boxes.clear();
  CNDIPlombixDlg& damaged = Restart();
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_EQ(std::pair(prompter.boxes[0].text, prompter.boxes[0].title),
            std::pair(QString("Something went wrong reading data"), QString("Load File")));
  EXPECT_EQ(damaged.core.output.outputWidth, 1280);
  EXPECT_FALSE(FrameSends(Calls()).empty());
}

// A stored scaling mode no radio has scales nothing, as None does, and a
// drop (which reads the radios back) keeps it.
TEST_F(SettingsTest, AStoredScalingModeNoRadioHasScalesNothing) {
  ViewerConfig block;
  block.useLast = 1;
  block.scalingMode = 3;
  const PathBuffer none;
  ASSERT_TRUE(SaveConfigFile(settingsDir + "/last.plq", block, none, none, none).ok());
  CNDIPlombixDlg& dlg = OpenAndStart();
  ASSERT_TRUE(Drop(dlg, {WritePicture("small.png", 400, 300, Qt::green)}));
  EXPECT_EQ(std::pair(dlg.core.mainPicture.width, dlg.core.mainPicture.height), std::pair(400, 300));
  EXPECT_EQ(dlg.config.live.scalingMode, 3);
  EXPECT_EQ(Caption(dlg, 1016), "1:1 pixel sizing");
}

// The Slideshow button is locked until the restore; automatic advances every
// two seconds and wraps; saved so, it resumes at its start after a restart.
TEST_F(SettingsTest, AutomaticSlideshowAdvancesWrapsAndResumesAfterARestart) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string base = WriteSeries(4);
  auto* button = qobject_cast<CColButton*>(dlg.control(1056));
  button->click();
  EXPECT_EQ(dlg.config.live.slideshow.mode, 0);  // locked
  StepByHand(dlg, base, 2, 4, 2);
  EXPECT_EQ(Caption(dlg, 1058) + Caption(dlg, 1059), "Start at:- 2End at:- 4");
  EXPECT_EQ(Caption(dlg, 1069).toStdString(), base);
  EXPECT_EQ(button->colourState, 1);
  button->click();  // automatic
  EXPECT_EQ(button->colourState, 2);
  EXPECT_EQ(dlg.timerPeriod(TIMER_SLIDESHOW), 2000);
  for (const char* name : {"shot3.png", "shot4.png", "shot2.png", "shot3.png"}) {
    dlg.onTimer(TIMER_SLIDESHOW);
    dlg.waitForLoads();
    EXPECT_EQ(dlg.core.mainPicture.fileName, name);
  }
  EXPECT_EQ(button->text(), "S/Show 3");
  dlg.OnSysCommand(IDM_USELAST);
  dlg.ExitConfirmation();

  CNDIPlombixDlg& again = Restart();
  EXPECT_EQ(again.config.live.slideshow.currentNumber, 4);  // so that the first advance wraps
  EXPECT_FALSE(again.isTimerActive(TIMER_SLIDESHOW));
  again.onTimer(TIMER_RESTORE);
  again.waitForLoads();
  EXPECT_EQ(again.core.mainPicture.fileName, "shot2.png");
  EXPECT_EQ(again.timerPeriod(TIMER_SLIDESHOW), 2000);
  EXPECT_EQ(Caption(again, 1069).toStdString(), base);
  qobject_cast<CColButton*>(again.control(1056))->click();  // off
  EXPECT_FALSE(again.isTimerActive(TIMER_SLIDESHOW));
  EXPECT_EQ(Caption(again, 1056), "SlideShow");
}

// Steps over shot1..shot5 without shot2, from 1. '|': the loads asked for
// so far have finished but are not taken in yet when the next comes; 'D' a
// drop. Quick steps land where slow ones would, and only the newest picture
// reaches the output: a finished load overtaken before it is applied never
// does.
TEST_F(SettingsTest, OnlyTheNewestPictureGoesOnAirAndQuickStepsLandWhereSlowOnesLand) {
  const struct { const char* actions; int grey, number; } rows[] = {
      {"NNN", 100, 5}, {"N|N", 80, 4}, {"N|D", 200, 3}, {"D|N", 60, 3}};
  for (const auto& row : rows) {
    CNDIPlombixDlg& dlg = OpenAndStart();
    const std::string base = WriteSeries(5);
    const std::string dropped = WritePicture("drop.png", 32, 18, QColor(200, 200, 200));
    ASSERT_TRUE(QFile::remove(QString::fromStdString(base + "2.png")));
    StepByHand(dlg, base, 1, 5, 1);
    fake->keepPixels = true;
    const size_t sends = FrameSends(Calls()).size();
    for (const char* a = row.actions; *a; ++a) {
      if (*a == 'N') dlg.onStep(StepNext);
      if (*a == 'D') dlg.OnDropFiles({QString::fromStdString(dropped)});
      if (*a == '|') dlg.core.WaitForLoader();
    }
    EXPECT_TRUE(dlg.core.busy());
    dlg.waitForLoads();
    ASSERT_EQ(FrameSends(Calls()).size(), sends + 1) << row.actions;
    EXPECT_EQ(CentreOfLastFrame(), row.grey) << row.actions;
    EXPECT_EQ(dlg.config.live.slideshow.currentNumber, row.number) << row.actions;
    fake->keepPixels = false;
    dialog.reset();
  }
}

// With Start 3 and End 8 a step never leaves the sequence: Next from below
// the start goes to the start and Previous there stays; First after a drop
// shows the start file although the number is on it. Checking the sequence
// never changed the file on air.
TEST_F(SettingsTest, StepsStayInTheSequenceAndFirstShowsItsFileAfterADrop) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string base = WriteSeries(8);
  StepByHand(dlg, base, 3, 8, 1);
  EXPECT_EQ(dlg.config.currentFileName, base + "3.png");
  const struct { int step; const char* onAir; int number; } script[] = {
      {StepNext, "shot3.png", 3}, {StepPrevious, "shot3.png", 3}, {0, "shot5.png", 3},
      {StepFirst, "shot3.png", 3}, {StepNext, "shot4.png", 4}, {StepLast, "shot8.png", 8}};
  for (const auto& s : script) {
    if (s.step) dlg.onStep(s.step);
    else ASSERT_TRUE(Drop(dlg, {base + "5.png"}));
    dlg.waitForLoads();
    EXPECT_EQ(dlg.core.mainPicture.fileName, s.onAir) << s.step;
    EXPECT_EQ(dlg.config.live.slideshow.currentNumber, s.number) << s.step;
  }
}

// The watch re-shows the file on air whenever its time changes, checking
// the read itself: a rewrite right after the picture went on air is seen at
// the first poll; a half-written file is refused (it does not decode whole) and
// tried again shortly once it has changed; the whole goes on air. PNG and
// JPEG alike (Qt's own JPEG reader would show a half with a grey lower part).
TEST_F(SettingsTest, WatchShowsEveryCompleteRewriteAndNeverAHalfOne) {
  for (const char* format : {"PNG", "JPEG"}) {
    CNDIPlombixDlg& dlg = OpenAndStart();
    dlg.onTimer(TIMER_RESTORE);
    qobject_cast<CColButton*>(dlg.control(1000))->click();
    EXPECT_EQ(Caption(dlg, 1000), "Watching");
    const std::string picture = WritePicture(std::string("live.") + format, 320, 180, Qt::red);
    ASSERT_TRUE(Drop(dlg, {picture})) << format;
    EXPECT_EQ(dlg.timerPeriod(TIMER_WATCH), 2500);
    const size_t sends = FrameSends(Calls()).size();
    const struct { QColor colour; double part; int timer; size_t sent; int channel; } writes[] = {
        {Qt::blue, 1, TIMER_WATCH, 1, 0}, {Qt::red, 0.6, TIMER_WATCH, 1, 0}, {Qt::red, 1, TIMER_WATCH_RETRY, 2, 2}};
    // Rewritten right after it went on air: the first poll sees it.
    for (const auto& w : writes) {
      QImage image(320, 180, QImage::Format_RGB32);
      image.fill(w.colour);
      QByteArray whole;
      QBuffer buffer(&whole);
      ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format));
      QFile file(QString::fromStdString(picture));
      ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
      file.write(whole.left(qsizetype(whole.size() * w.part)));
      file.close();
      SetWriteTime(picture, 1'000'000 + time_t(100 * (&w - writes)));
      dlg.onTimer(w.timer);
      dlg.waitForLoads();
      EXPECT_EQ(FrameSends(Calls()).size(), sends + w.sent) << format;
      EXPECT_GT(dlg.core.mainPicture.pixelData[size_t(w.channel)], 200) << format;  // blue (0) or red (2)
      if (w.part < 1) {
        EXPECT_TRUE(Caption(dlg, 1051).startsWith("Cannot show live.")) << format;
        EXPECT_EQ(dlg.timerPeriod(TIMER_WATCH_RETRY), 250) << format;
      }
    }
    dialog.reset();
  }
}

// A file that another program rewrites without pause (in two writes, so it
// is often half there) is still re-shown, poll after poll (a read that met
// a half is tried again shortly), and never with a half.
TEST_F(SettingsTest, AFileRewrittenWithoutPauseIsStillReShown) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  dlg.onTimer(TIMER_RESTORE);
  const std::string picture = WritePicture("render.png", 64, 36, Qt::red);
  ASSERT_TRUE(Drop(dlg, {picture}));
  qobject_cast<CColButton*>(dlg.control(1000))->click();
  QByteArray versions[2];
  for (int i = 0; i < 2; ++i) {
    QImage image(64, 36, QImage::Format_RGB32);
    image.fill(i ? Qt::blue : Qt::red);
    QBuffer buffer(&versions[i]);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"));
  }
  struct Renderer {
    std::atomic<bool> stop{false};
    std::thread thread;
    ~Renderer() {
      stop = true;
      thread.join();
    }
  } renderer;
  renderer.thread = std::thread([&] {
    for (int n = 0; !renderer.stop; ++n) {
      QFile file(QString::fromStdString(picture));
      if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) continue;
      const QByteArray& bytes = versions[n % 2];
      file.write(bytes.left(bytes.size() / 2));
      file.flush();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      file.write(bytes.mid(bytes.size() / 2));
      file.close();
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  fake->keepPixels = true;
  for (int poll = 0; poll < 4; ++poll) {
    const size_t sends = FrameSends(Calls()).size();
    for (int tick = 0; tick < 400 && FrameSends(Calls()).size() == sends; ++tick) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // rewritten meanwhile
      dlg.onTimer(dlg.isTimerActive(TIMER_WATCH_RETRY) ? TIMER_WATCH_RETRY : TIMER_WATCH);
      dlg.waitForLoads();
    }
    ASSERT_EQ(FrameSends(Calls()).size(), sends + 1) << "poll " << poll;
    const uint8_t blue = CentreOfLastFrame();
    EXPECT_TRUE(blue == 0 || blue == 255) << "poll " << poll;  // red or blue, whole
  }
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

// The game controller and the keys step the slideshow; unplugging the
// controller stops its poll.
TEST_F(SettingsTest, GameControllerAndKeysStepTheSlideshowAndUnpluggingStopsThePoll) {
  pad.plug(0);
  CNDIPlombixDlg& dlg = OpenAndStart();
  EXPECT_EQ(Caption(dlg, 1060), "GamePad found");
  EXPECT_EQ(dlg.timerPeriod(TIMER_GAMEPAD), 50);
  EXPECT_EQ(dlg.config.live.slideshow.gamepadPresent, 1);
  StepByHand(dlg, WriteSeries(3), 1, 3, 1);
  const struct { uint16_t buttons; int ticks; const char* onAir; } presses[] = {
      {kPadA, 60, "shot2.png"}, {0, 1, "shot2.png"}, {kPadY, 1, "shot3.png"}};  // A held for 3 s: one step
  for (const auto& p : presses) {
    pad.setButtons(0, p.buttons);
    for (int tick = 0; tick < p.ticks; ++tick) dlg.onTimer(TIMER_GAMEPAD);
    dlg.waitForLoads();
    EXPECT_EQ(dlg.core.mainPicture.fileName, p.onAir);
  }
  // PgUp steps back and still reaches the focused field.
  dlg.show();
  dlg.OnMoreLess();  // unfolded: the Duration field is in the lower third
  QApplication::setActiveWindow(&dlg);
  auto* field = qobject_cast<QLineEdit*>(dlg.control(1074));
  field->setFocus();
  KeySpy spy;
  field->installEventFilter(&spy);
  QTest::keyClick(field, Qt::Key_PageUp);
  dlg.waitForLoads();
  EXPECT_EQ(dlg.core.mainPicture.fileName, "shot2.png");
  EXPECT_EQ(spy.keys, std::vector<int>{Qt::Key_PageUp});
  field->removeEventFilter(&spy);
  pad.unplug(0);
  dlg.onTimer(TIMER_GAMEPAD);
  EXPECT_FALSE(dlg.isTimerActive(TIMER_GAMEPAD));
  EXPECT_EQ(Caption(dlg, 1060), "Find GamePad");
  EXPECT_EQ(dlg.config.live.slideshow.gamepadPresent, 0);
}

}  // namespace
}  // namespace plombix::testing
