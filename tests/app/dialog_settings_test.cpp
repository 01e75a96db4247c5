// Settings across restarts, the slideshow, the file watch and the game
// controller, driven through the main window.
#include <QAction>
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <fcntl.h>

#include <atomic>
#include <thread>
#include <sys/stat.h>

#include "ccol_button.h"
#include "dialog_fixture.h"
#include "qt_test_app.h"

namespace plombix::testing {
namespace {

QString Caption(CNDIPlombixDlg& dlg, int id) {
  return qobject_cast<QAbstractButton*>(dlg.control(id))->text();
}

// Sets a file's last-write time to `seconds` past the epoch.
void SetWriteTime(const std::string& path, time_t seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class SettingsTest : public DialogTest {
 protected:
  void Restart() {
    dialog.reset();
    OpenAndStart();
  }
};

TEST_F(SettingsTest, UseLastBringsSettingsAndPictureBackAtTheNextStart) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string picture = WritePicture("onair.png", 100, 50, Qt::darkCyan);
  ASSERT_TRUE(Drop(dlg, {picture}));
  MenuAction(dlg, 1002, QStringLiteral("1920 x 1080"))->trigger();
  MenuAction(dlg, 1003, QStringLiteral("50p"))->trigger();
  MenuAction(dlg, 1052, QStringLiteral("Black"))->trigger();
  qobject_cast<CColButton*>(dlg.control(1021))->click();  // Fade
  dlg.OnSysCommand(IDM_USELAST);
  dlg.OnSysCommand(IDM_USEIMAGE);
  dlg.ExitConfirmation();  // saves, since "Use Last" is on
  ASSERT_EQ(QFileInfo(QString::fromStdString(settingsDir + "/last.plq")).size(), 2364);

  Restart();
  CNDIPlombixDlg& again = *dialog;
  EXPECT_EQ(again.core.output.outputWidth, 1920);
  EXPECT_EQ(again.core.output.frameRateN, 60000);
  EXPECT_EQ(again.core.output.frameRateD, 1200);
  EXPECT_EQ(again.core.backgroundMode, 0);
  EXPECT_EQ(Caption(again, 1021), "Fade");
  EXPECT_TRUE(again.optionsAction(IDM_USELAST)->isChecked());
  // The menu buttons keep their captions; the format is on air all the same.
  EXPECT_EQ(Caption(again, 1002), "Resolution");
  const NDIlib_video_frame_v2_t f = FrameSends(Calls()).back().frame;
  EXPECT_EQ(f.xres, 1920);
  EXPECT_EQ(f.frame_rate_N, 60000);

  again.onTimer(TIMER_RESTORE);

  again.waitForLoads();
  EXPECT_EQ(again.core.mainPicture.fileName, "onair.png");
  EXPECT_EQ(again.config.currentFileName, picture);
}

TEST_F(SettingsTest, WithoutUseLastOnlyThePathsComeBackUnlessForced) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string picture = WritePicture("kept.png", 64, 36, Qt::yellow);
  ASSERT_TRUE(Drop(dlg, {picture}));
  MenuAction(dlg, 1003, QStringLiteral("30p"))->trigger();
  dlg.OnSysCommand(IDM_SAVECONFIG);  // useLast is 0 in the file

  Restart();
  EXPECT_EQ(dialog->core.output.frameRateD, 1200);  // not applied
  EXPECT_EQ(dialog->config.imagePath.toUtf8(), picture);

  dialog.reset();
  commandLine = QStringLiteral("/FORCE_LAST");
  OpenAndStart();
  EXPECT_EQ(dialog->core.output.frameRateD, 1000);  // applied
}

TEST_F(SettingsTest, SecondCopyReadsAndWritesOnlyItsOwnFile) {
  InstanceLock first;
  ASSERT_TRUE(first.Acquire());
  CNDIPlombixDlg& dlg = OpenAndStart();
  EXPECT_EQ(dlg.configFileName, "last2.plq");
  dlg.OnSysCommand(IDM_SAVECONFIG);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(settingsDir + "/last2.plq")));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(settingsDir + "/last.plq")));
}

TEST_F(SettingsTest, DamagedSettingsFileIsReportedAndDefaultsKept) {
  QFile file(QString::fromStdString(settingsDir + "/last.plq"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("QLVPLMX1 but far too short");
  file.close();
  CNDIPlombixDlg& dlg = OpenAndStart();
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_EQ(prompter.boxes[0].text, "Something went wrong reading data");
  EXPECT_EQ(prompter.boxes[0].title, "Load File");
  EXPECT_EQ(dlg.core.output.outputWidth, 1280);
  EXPECT_FALSE(FrameSends(Calls()).empty());  // start-up goes on
}

TEST_F(SettingsTest, AutomaticSlideshowAdvancesAndWraps) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string base = WriteSeries(3);
  auto* slideshowButton = qobject_cast<CColButton*>(dlg.control(1056));
  slideshowButton->click();  // locked until the restore tick
  EXPECT_EQ(dlg.config.live.slideshow.mode, 0);
  dlg.onTimer(TIMER_RESTORE);
  dlg.waitForLoads();

  PressStartAndEnd(dlg, base, 1, 3);
  EXPECT_EQ(Caption(dlg, 1058), "Start at:- 1");
  EXPECT_EQ(Caption(dlg, 1059), "End at:- 3");
  EXPECT_EQ(qobject_cast<QLabel*>(dlg.control(1069))->text(), QString::fromStdString(base));

  dlg.config.live.slideshow.currentNumber = 1;
  slideshowButton->click();  // by hand
  EXPECT_EQ(slideshowButton->colourState, 1);
  slideshowButton->click();  // automatic
  EXPECT_EQ(slideshowButton->colourState, 2);
  EXPECT_EQ(dlg.timerPeriod(TIMER_SLIDESHOW), 2000);

  const std::vector<std::string> expected = {"shot2.png", "shot3.png", "shot1.png", "shot2.png"};
  for (const std::string& name : expected) {
    dlg.onTimer(TIMER_SLIDESHOW);
    dlg.waitForLoads();
    EXPECT_EQ(dlg.core.mainPicture.fileName, name);
  }
  EXPECT_EQ(slideshowButton->text(), "S/Show 2");

  slideshowButton->click();  // off
  EXPECT_FALSE(dlg.isTimerActive(TIMER_SLIDESHOW));
  EXPECT_EQ(slideshowButton->text(), "SlideShow");
}

TEST_F(SettingsTest, SavedAutomaticSlideshowResumesAtItsStartAfterTheRestore) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string base = WriteSeries(4);
  dlg.onTimer(TIMER_RESTORE);
  dlg.waitForLoads();
  PressStartAndEnd(dlg, base, 2, 4);
  ASSERT_EQ(dlg.config.live.slideshow.sequenceValid, 1);
  dlg.config.live.slideshow.currentNumber = 3;
  dlg.config.live.slideshow.mode = 2;
  dlg.OnSysCommand(IDM_USELAST);
  dlg.ExitConfirmation();

  Restart();
  CNDIPlombixDlg& again = *dialog;
  EXPECT_EQ(again.config.live.slideshow.currentNumber, 4);  // so that the first advance wraps
  EXPECT_FALSE(again.isTimerActive(TIMER_SLIDESHOW));
  again.onTimer(TIMER_RESTORE);
  again.waitForLoads();
  EXPECT_EQ(again.core.mainPicture.fileName, "shot2.png");
  EXPECT_EQ(again.timerPeriod(TIMER_SLIDESHOW), 2000);
  EXPECT_EQ(qobject_cast<QLabel*>(again.control(1069))->text(), QString::fromStdString(base));
}

// Start number and End number check the sequence's files; neither the
// picture on air nor the file that the watch and the range button use may
// change by it.
TEST_F(SettingsTest, CheckingASequenceNeverChangesWhatIsOnAir) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string base = WriteSeries(5);
  SetWriteTime(base + "1.png", 1'000'000);
  SetWriteTime(base + "5.png", 2'000'000);
  dlg.onTimer(TIMER_RESTORE);
  dlg.waitForLoads();
  ASSERT_TRUE(Drop(dlg, {base + "5.png"}));
  qobject_cast<QPushButton*>(dlg.control(1059))->click();  // End number: 5
  dlg.waitForLoads();
  ASSERT_TRUE(Drop(dlg, {base + "1.png"}));
  qobject_cast<CColButton*>(dlg.control(1000))->click();  // Watch
  dlg.onTimer(TIMER_WATCH);                                // records shot1's time
  qobject_cast<QPushButton*>(dlg.control(1058))->click();  // Start number: 1
  dlg.waitForLoads();
  EXPECT_EQ(qobject_cast<QLabel*>(dlg.control(1069))->text(), QString::fromStdString(base));
  const size_t sends = FrameSends(Calls()).size();
  for (int poll = 0; poll < 3; ++poll) {
    dlg.onTimer(TIMER_WATCH);
    dlg.waitForLoads();
  }
  EXPECT_EQ(FrameSends(Calls()).size(), sends);
  EXPECT_EQ(dlg.core.mainPicture.fileName, "shot1.png");
  EXPECT_EQ(dlg.config.currentFileName, base + "1.png");
  qobject_cast<QPushButton*>(dlg.control(1049))->click();  // 16-235 re-shows the same file
  dlg.waitForLoads();
  EXPECT_EQ(dlg.core.mainPicture.fileName, "shot1.png");
}

// Quick steps over a missing file land where slow ones would, and only
// the last picture reaches the output.
TEST_F(SettingsTest, QuickStepsLandWhereSlowOnesLandAndOnlyTheLastGoesOnAir) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string base = WriteSeries(5);
  ASSERT_TRUE(QFile::remove(QString::fromStdString(base + "2.png")));
  dlg.onTimer(TIMER_RESTORE);
  dlg.waitForLoads();
  PressStartAndEnd(dlg, base, 1, 5);
  dlg.config.live.slideshow.currentNumber = 1;
  qobject_cast<CColButton*>(dlg.control(1056))->click();  // by hand
  fake->keepPixels = true;
  const size_t sends = FrameSends(Calls()).size();
  for (int i = 0; i < 3; ++i) dlg.onStep(StepNext);  // slowly: 3, 4, 5
  EXPECT_TRUE(dlg.core.busy());
  dlg.waitForLoads();
  const std::vector<FakeNdiCall> after = FrameSends(Calls());
  ASSERT_EQ(after.size(), sends + 1);
  EXPECT_EQ(dlg.core.mainPicture.fileName, "shot5.png");
  EXPECT_EQ(dlg.config.live.slideshow.currentNumber, 5);
  EXPECT_EQ(qobject_cast<QLabel*>(dlg.control(1051))->text(), "shot5.png");
  EXPECT_EQ(after.back().pixels[(size_t(360) * 1280 + 640) * 4], 100);  // shot5's grey (5 x 20)
}

// A load that has finished but not yet been applied never goes on air once
// a newer show was asked for, whichever kinds the two are.
TEST_F(SettingsTest, AFinishedLoadOvertakenBeforeItIsAppliedNeverGoesOnAir) {
  const struct { const char* name; char first, second; int grey; } rows[] = {
      {"step, step", 'N', 'N', 60}, {"step, drop", 'N', 'D', 200}, {"drop, step", 'D', 'N', 40}};
  for (const auto& row : rows) {
    CNDIPlombixDlg& dlg = OpenAndStart();
    const std::string base = WriteSeries(4);
    const std::string dropped = WritePicture("drop.png", 32, 18, QColor(200, 200, 200));
    dlg.onTimer(TIMER_RESTORE);
    dlg.waitForLoads();
    PressStartAndEnd(dlg, base, 1, 4);
    dlg.config.live.slideshow.currentNumber = 1;
    qobject_cast<CColButton*>(dlg.control(1056))->click();  // by hand
    fake->keepPixels = true;
    const size_t sends = FrameSends(Calls()).size();
    const auto act = [&](char what) {
      what == 'N' ? dlg.onStep(StepNext) : (void)dlg.OnDropFiles({QString::fromStdString(dropped)});
    };
    act(row.first);
    dlg.core.WaitForLoader();  // finished, its result not yet taken in
    act(row.second);
    dlg.waitForLoads();
    const std::vector<FakeNdiCall> after = FrameSends(Calls());
    ASSERT_EQ(after.size(), sends + 1) << row.name;
    EXPECT_EQ(after.back().pixels[(size_t(360) * 1280 + 640) * 4], row.grey) << row.name;
    fake->keepPixels = false;
    dialog.reset();
  }
}

// With Start 3 and End 8 a step never leaves the sequence: Next from below
// the start goes to the start and Previous there stays; First after a drop
// shows the start file although the number is on it.
TEST_F(SettingsTest, StepsStayInTheSequenceAndFirstShowsItsFileAfterADrop) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string base = WriteSeries(8);
  dlg.onTimer(TIMER_RESTORE);
  dlg.waitForLoads();
  PressStartAndEnd(dlg, base, 3, 8);
  dlg.config.live.slideshow.currentNumber = 1;
  qobject_cast<CColButton*>(dlg.control(1056))->click();  // by hand
  const struct { int step; std::string drop, onAir; int number; } script[] = {
      {StepNext, "", "shot3.png", 3}, {StepPrevious, "", "shot3.png", 3}, {0, "5", "shot5.png", 3},
      {StepFirst, "", "shot3.png", 3}, {StepNext, "", "shot4.png", 4}, {StepLast, "", "shot8.png", 8}};
  for (const auto& s : script) {
    if (s.step) dlg.onStep(s.step);
    else ASSERT_TRUE(Drop(dlg, {base + s.drop + ".png"}));
    dlg.waitForLoads();
    EXPECT_EQ(dlg.core.mainPicture.fileName, s.onAir) << s.step;
    EXPECT_EQ(dlg.config.live.slideshow.currentNumber, s.number) << s.step;
  }
}

// The watch re-shows the file on air whenever its time changes, checking
// the read itself: a rewrite right after Watch is turned on is seen at the
// first poll; a half-written file is refused (it does not decode whole) and
// tried again shortly while it keeps changing; the whole goes on air. PNG
// and JPEG alike (Qt's own JPEG reader would have shown the half with a
// grey lower part).
TEST_F(SettingsTest, WatchShowsEveryCompleteRewriteAndNeverAHalfOne) {
  for (const char* format : {"PNG", "JPEG"}) {
    CNDIPlombixDlg& dlg = OpenAndStart();
    dlg.onTimer(TIMER_RESTORE);
    dlg.waitForLoads();
    const std::string picture = WritePicture(std::string("live.") + format, 320, 180, Qt::red);
    SetWriteTime(picture, 1'000'000);
    ASSERT_TRUE(Drop(dlg, {picture})) << format;
    qobject_cast<CColButton*>(dlg.control(1000))->click();
    EXPECT_EQ(Caption(dlg, 1000), "Watching");
    EXPECT_EQ(dlg.timerPeriod(TIMER_WATCH), 2500);
    const size_t sends = FrameSends(Calls()).size();
    const auto write = [&](QColor colour, double part, time_t seconds, int timer) {
      QImage image(320, 180, QImage::Format_RGB32);
      image.fill(colour);
      QByteArray whole;
      QBuffer buffer(&whole);
      ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
      ASSERT_TRUE(image.save(&buffer, format));
      QFile file(QString::fromStdString(picture));
      ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
      file.write(whole.left(qsizetype(whole.size() * part)));
      file.close();
      SetWriteTime(picture, seconds);
      dlg.onTimer(timer);
      dlg.waitForLoads();
    };
    write(Qt::blue, 1, 1'000'100, TIMER_WATCH);  // the first poll after turning Watch on
    EXPECT_EQ(FrameSends(Calls()).size(), sends + 1) << format;
    EXPECT_GT(dlg.core.mainPicture.pixelData[0], 200) << format;  // blue
    write(Qt::red, 0.6, 1'000'200, TIMER_WATCH);
    EXPECT_EQ(FrameSends(Calls()).size(), sends + 1) << format;
    EXPECT_GT(dlg.core.mainPicture.pixelData[0], 200) << format;  // still blue
    EXPECT_TRUE(qobject_cast<QLabel*>(dlg.control(1051))->text().startsWith("Cannot show live.")) << format;
    EXPECT_EQ(dlg.timerPeriod(TIMER_WATCH_RETRY), 250) << format;
    write(Qt::red, 1, 1'000'300, TIMER_WATCH_RETRY);
    EXPECT_EQ(FrameSends(Calls()).size(), sends + 2) << format;
    EXPECT_GT(dlg.core.mainPicture.pixelData[2], 200) << format;  // red
    dialog.reset();
  }
}

// A file that another program rewrites without pause (in two writes, so it
// is often half there) is re-shown at every poll, never with a half.
TEST_F(SettingsTest, AFileRewrittenWithoutPauseIsReShownAtEveryPoll) {
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
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(image.save(&buffer, "PNG"));
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
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // rewritten meanwhile
    dlg.onTimer(TIMER_WATCH);
    dlg.waitForLoads();
    for (int retry = 0; retry < 200 && FrameSends(Calls()).size() == sends; ++retry) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (dlg.isTimerActive(TIMER_WATCH_RETRY)) dlg.onTimer(TIMER_WATCH_RETRY);
      dlg.waitForLoads();
    }
    ASSERT_EQ(FrameSends(Calls()).size(), sends + 1) << "poll " << poll;
    const std::vector<uint8_t> frame = FrameSends(Calls()).back().pixels;
    const uint8_t* centre = frame.data() + (size_t(360) * 1280 + 640) * 4;
    EXPECT_TRUE((centre[0] == 255 && centre[2] == 0) || (centre[0] == 0 && centre[2] == 255)) << "poll " << poll;
  }
}

TEST_F(SettingsTest, GameControllerStepsTheSlideshowAndUnpluggingStopsThePoll) {
  pad.plug(0);
  CNDIPlombixDlg& dlg = OpenAndStart();
  EXPECT_EQ(Caption(dlg, 1060), "GamePad found");
  EXPECT_EQ(dlg.timerPeriod(TIMER_GAMEPAD), 50);
  EXPECT_EQ(dlg.config.live.slideshow.gamepadPresent, 1);

  const std::string base = WriteSeries(3);
  dlg.onTimer(TIMER_RESTORE);
  dlg.waitForLoads();
  PressStartAndEnd(dlg, base, 1, 3);
  dlg.config.live.slideshow.currentNumber = 1;
  qobject_cast<CColButton*>(dlg.control(1056))->click();  // by hand

  pad.setButtons(0, 0x1000);  // A
  for (int tick = 0; tick < 60; ++tick) dlg.onTimer(TIMER_GAMEPAD);  // held for 3 s
  dlg.waitForLoads();
  EXPECT_EQ(dlg.core.mainPicture.fileName, "shot2.png");
  pad.setButtons(0, 0);
  dlg.onTimer(TIMER_GAMEPAD);
  dlg.waitForLoads();
  pad.setButtons(0, 0x8000);  // Y: last
  dlg.onTimer(TIMER_GAMEPAD);
  dlg.waitForLoads();
  EXPECT_EQ(dlg.core.mainPicture.fileName, "shot3.png");

  pad.unplug(0);
  dlg.onTimer(TIMER_GAMEPAD);
  dlg.waitForLoads();
  EXPECT_FALSE(dlg.isTimerActive(TIMER_GAMEPAD));
  EXPECT_EQ(Caption(dlg, 1060), "Find GamePad");
  EXPECT_EQ(dlg.config.live.slideshow.gamepadPresent, 0);
}

}  // namespace
}  // namespace plombix::testing
