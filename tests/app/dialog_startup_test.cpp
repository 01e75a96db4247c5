// Start-up, instance numbers, the restore tick and shutdown of the main
// window, against the recording fake NDI runtime.
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <sys/stat.h>

#include <cstring>

#include "about_dialog.h"
#include "ad_dialog.h"
#include "dialog_fixture.h"
#include "ndi_output.h"
#include "qt_test_app.h"
#include "vid_box.h"

namespace plombix::testing {
namespace {

std::vector<std::string> FunctionNames(const std::vector<FakeNdiCall>& calls) {
  std::vector<std::string> names;
  for (const FakeNdiCall& c : calls) names.push_back(c.function);
  return names;
}

TEST_F(DialogTest, StartTickPublishesTheStartUpPictureAsSourceOne) {
  CNDIPlombixDlg& dlg = Open();
  EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("Vora  Plombix for NDI\u00ae"));
  EXPECT_EQ(dlg.timerPeriod(TIMER_START), 2500);
  EXPECT_FALSE(dlg.isTimerActive(TIMER_TICK));
  // Nothing is published before the start tick.
  EXPECT_EQ(FunctionNames(Calls()), std::vector<std::string>{"NDIlib_initialize"});

  dlg.onTimer(TIMER_START);

  // The sender is made, then re-made by the reconfiguration, which sends.
  const std::vector<FakeNdiCall> calls = Calls();
  EXPECT_EQ(FunctionNames(calls),
            (std::vector<std::string>{"NDIlib_initialize", "NDIlib_send_create",
                                      "NDIlib_send_add_connection_metadata",
                                      "NDIlib_send_destroy", "NDIlib_send_create",
                                      "NDIlib_send_add_connection_metadata",
                                      "NDIlib_send_send_video_async_v2"}));
  for (const FakeNdiCall& create : CallsOf(calls, "NDIlib_send_create")) {
    EXPECT_EQ(create.name, "Vora Plombix 1");
    EXPECT_TRUE(create.groupsNull);
    EXPECT_TRUE(create.clockVideo);
    EXPECT_FALSE(create.clockAudio);
  }
  const FakeNdiCall metadata = CallsOf(calls, "NDIlib_send_add_connection_metadata").back();
  const std::string product =
      "<ndi_product long_name=\"Vora Plombix - signal generator\"              "
      "short_name=\"Vora Plombix\"              manufacturer=\"Voracraft\"              "
      "version=\"1.0.3\"              session=\"default\"              model_name=\"V1\"    "
      "          serial=\"00001\"/>";
  EXPECT_EQ(metadata.metadataText, product);
  EXPECT_EQ(metadata.metadataLength, int(product.size()));  // without the terminating zero
  EXPECT_EQ(metadata.metadataTimecode, INT64_MAX);

  const NDIlib_video_frame_v2_t f = FrameSends(calls).back().frame;
  EXPECT_EQ(f.xres, 1280);
  EXPECT_EQ(f.yres, 720);
  EXPECT_EQ(f.FourCC, NdiFourCC::BGRA);
  EXPECT_EQ(uint32_t(f.FourCC), 0x41524742u);
  EXPECT_EQ(f.frame_rate_N, 30000);
  EXPECT_EQ(f.frame_rate_D, 1200);
  uint32_t aspectBits = 0;
  std::memcpy(&aspectBits, &f.picture_aspect_ratio, 4);
  EXPECT_EQ(aspectBits, 0x3FE38E39u);  // 16:9
  EXPECT_EQ(f.frame_format_type, NdiFrameFormat::Progressive);
  EXPECT_EQ(f.timecode, INT64_MAX);
  EXPECT_EQ(f.line_stride_in_bytes, 1280 * 4);
  EXPECT_EQ(f.p_metadata, nullptr);
  EXPECT_EQ(f.timestamp, 0);

  EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("Vora Plombix for NDI\u00ae - No 1"));
  EXPECT_EQ(dlg.configFileName, "last.plq");
  EXPECT_TRUE(dlg.core.splashPending);
  EXPECT_FALSE(dlg.isTimerActive(TIMER_START));
  EXPECT_EQ(dlg.timerPeriod(TIMER_TICK), 40);
  EXPECT_EQ(dlg.timerPeriod(TIMER_RESTORE), 10000);
  EXPECT_EQ(qobject_cast<QLabel*>(dlg.control(1015))->text(), "1280 x 720 - 25.00 fps");
}

TEST_F(DialogTest, NewCopyTakesTheFreeNumberBetweenRunningCopies) {
  InstanceLock zero, one, two;
  ASSERT_TRUE(zero.Acquire());
  ASSERT_TRUE(one.Acquire());
  ASSERT_TRUE(two.Acquire());
  one.Release();  // copies 0 and 2 run

  CNDIPlombixDlg& dlg = OpenAndStart();
  EXPECT_EQ(dlg.instanceNumber, 1);
  EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("Vora Plombix for NDI\u00ae - No 2"));
  EXPECT_EQ(dlg.configFileName, "last2.plq");
  EXPECT_EQ(CallsOf(Calls(), "NDIlib_send_create").back().name, "Vora Plombix 2");
}

TEST_F(DialogTest, NinthCopyAsksToExitNeverPublishesAndHasNoSettingsFile) {
  std::array<InstanceLock, 8> running;
  for (InstanceLock& lock : running) ASSERT_TRUE(lock.Acquire());

  prompter.answer = false;  // the operator keeps the window open
  CNDIPlombixDlg& dlg = OpenAndStart();
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_TRUE(prompter.boxes[0].confirm);
  EXPECT_EQ(prompter.boxes[0].text, "OK to exit?");
  EXPECT_EQ(prompter.boxes[0].title, "Quit Plombix");
  EXPECT_FALSE(dlg.isTimerActive(TIMER_START));
  EXPECT_TRUE(dlg.isTimerActive(TIMER_TICK));
  EXPECT_FALSE(dlg.isTimerActive(TIMER_RESTORE));
  EXPECT_TRUE(CallsOf(Calls(), "NDIlib_send_create").empty());
  EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("Vora  Plombix for NDI\u00ae"));
  for (int i = 0; i < 30; ++i) dlg.onTimer(TIMER_TICK);
  EXPECT_TRUE(FrameSends(Calls()).empty());

  // It has no number and so no settings file: saving says so and never
  // writes another copy's file.
  prompter.boxes.clear();
  dlg.OnSysCommand(IDM_SAVECONFIG);
  dlg.OnSysCommand(IDM_USELAST);
  prompter.answer = true;
  dlg.ExitConfirmation();
  ASSERT_EQ(prompter.boxes.size(), 3u);  // save refused, exit question, save refused
  for (size_t i : {0u, 2u}) {
    EXPECT_TRUE(prompter.boxes[i].text.startsWith("This copy has no settings file")) << i;
    EXPECT_EQ(prompter.boxes[i].title, "Save File");
  }
  EXPECT_TRUE(dlg.ended);
  EXPECT_TRUE(QDir(QString::fromStdString(settingsDir)).isEmpty());
}

// A folder for the copies' locks that cannot be used is not "eight copies":
// the window says which folder and why, and ends without the exit question.
TEST_F(DialogTest, UnusableLockFolderIsNamedAndTheCopyEnds) {
  const std::string file = dir.path().toStdString() + "/not-a-folder";
  QFile plain(QString::fromStdString(file));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  ::setenv("PLOMBIX_RUNTIME_DIR", file.c_str(), 1);
  CNDIPlombixDlg& dlg = OpenAndStart();
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_FALSE(prompter.boxes[0].confirm);
  EXPECT_TRUE(prompter.boxes[0].text.contains(QString::fromStdString(file)));
  EXPECT_TRUE(prompter.boxes[0].text.contains("not a directory"));
  EXPECT_TRUE(dlg.ended);
  EXPECT_TRUE(CallsOf(Calls(), "NDIlib_send_create").empty());
}

TEST_F(DialogTest, ForceLastIsTheWholeCommandLineInAnyCase) {
  const struct {
    const char* commandLine;
    bool forced;
  } rows[] = {{"/force_last", true}, {"/FORCE_LAST", true}, {"/Force_Last", true},
              {"/force_last now", false}, {"/force", false}, {"", false}, {"other", false}};
  for (const auto& row : rows) {
    commandLine = QString::fromUtf8(row.commandLine);
    EXPECT_EQ(Open().forceLast, row.forced) << row.commandLine;
    dialog.reset();
  }
}

TEST_F(DialogTest, UnusableRuntimeIsReportedAndTheWindowStaysUsable) {
  fake->initializeResult = false;
  CNDIPlombixDlg& dlg = Open();
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_EQ(prompter.boxes[0].text, "Cannot run NDI.");
  EXPECT_TRUE(dlg.startupFailed);
  EXPECT_FALSE(dlg.isTimerActive(TIMER_START));

  // Nothing takes a drop after a failed start, the preview included.
  const std::string picture = WritePicture("red.png", 64, 48, Qt::red);
  EXPECT_FALSE(Drop(dlg, {picture}));
  EXPECT_FALSE(dlg.core.busy());
  EXPECT_NE(dlg.core.mainPicture.filePath, picture);
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(QString::fromStdString(picture))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(dlg.vidBox(), &enter);
  EXPECT_FALSE(enter.isAccepted());
  EXPECT_TRUE(FrameSends(Calls()).empty());
  // Grab with nothing composed on air just resets its caption... and exit
  // still asks and releases only what exists.
  dlg.ExitConfirmation();
  EXPECT_TRUE(dlg.ended);
  EXPECT_TRUE(CallsOf(Calls(), "NDIlib_destroy").empty());
}

TEST_F(DialogTest, SenderThatCannotBeCreatedIsTriedAgainAtTheNextReconfiguration) {
  fake->sendCreateFails = true;
  CNDIPlombixDlg& dlg = OpenAndStart();
  EXPECT_FALSE(dlg.core.output.hasSender());
  EXPECT_TRUE(FrameSends(Calls()).empty());
  EXPECT_TRUE(CallsOf(Calls(), "NDIlib_send_add_connection_metadata").empty());
  for (int i = 0; i < 30; ++i) dlg.onTimer(TIMER_TICK);  // no sender: no queries, no crash

  fake->sendCreateFails = false;
  dlg.core.ChooseFrameRate(32778);  // 30p
  EXPECT_TRUE(dlg.core.output.hasSender());
  ASSERT_EQ(FrameSends(Calls()).size(), 1u);
  EXPECT_EQ(FrameSends(Calls()).back().frame.frame_rate_D, 1000);
}

TEST_F(DialogTest, RestoreTickTakesTheStartUpPictureOffTheAir) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const size_t sendsBefore = FrameSends(Calls()).size();
  dlg.onTimer(TIMER_RESTORE);
  dlg.waitForLoads();

  EXPECT_FALSE(dlg.core.splashPending);
  EXPECT_FALSE(dlg.isTimerActive(TIMER_RESTORE));
  EXPECT_EQ(dlg.timerPeriod(TIMER_WATCH), 2500);
  EXPECT_FALSE(dlg.slideshow.slideshowLocked);
  const PictureBuffer& main = dlg.core.mainPicture;
  ASSERT_GT(main.byteCount, 0);
  for (int i = 0; i < main.byteCount; i += 4) ASSERT_EQ(main.pixelData[size_t(i) + 3], 0);
  // Only the background is on air now: the frame sent is the background.
  const std::vector<FakeNdiCall> sends = FrameSends(Calls());
  ASSERT_EQ(sends.size(), sendsBefore + 1);
  const PictureBuffer& bg = dlg.core.backgroundPicture;
  EXPECT_EQ(sends.back().pixelHash, FakeNdiHash(bg.pixelData.get(), bg.width * 4, bg.height,
                                                bg.width * 4));
}

TEST_F(DialogTest, ExitFlushesBeforeFreeingThenDestroysSenderAndRuntime) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  prompter.answer = false;
  dlg.ExitConfirmation();
  EXPECT_FALSE(dlg.ended);
  EXPECT_TRUE(CallsOf(Calls(), "NDIlib_destroy").empty());

  const size_t before = Calls().size();
  prompter.answer = true;
  dlg.ExitConfirmation();
  EXPECT_TRUE(dlg.ended);
  const std::vector<FakeNdiCall> calls = Calls();
  ASSERT_EQ(calls.size(), before + 3);
  EXPECT_EQ(calls[before].function, "NDIlib_send_send_video_async_v2");
  EXPECT_TRUE(calls[before].frameNull);  // the flush
  EXPECT_EQ(calls[before + 1].function, "NDIlib_send_destroy");
  EXPECT_EQ(calls[before + 2].function, "NDIlib_destroy");
  EXPECT_EQ(dlg.core.output.ndiFrames[0].p_data, nullptr);
  EXPECT_EQ(dlg.core.output.ndiFrames[1].p_data, nullptr);
  // The number is free for the next copy at once.
  InstanceLock next;
  ASSERT_TRUE(next.Acquire());
  EXPECT_EQ(next.index(), 0);
}

TEST_F(DialogTest, CloseRequestAndEscapeNeverCloseWithoutTheQuestion) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  dlg.show();
  dlg.close();
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_FALSE(dlg.ended);
  EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(DialogTest, SupportWindowComesUpUnderTheWindowAtItsFirstShowing) {
  auto options = MakeOptions();
  options.supportWindow = true;
  options.pictureChoice = 3;
  dialog = std::make_unique<CNDIPlombixDlg>(std::move(options));
  CNDIPlombixDlg& dlg = *dialog;
  EXPECT_TRUE(dlg.supportDialogPending);
  ASSERT_NE(dlg.supportDialog(), nullptr);
  EXPECT_FALSE(dlg.supportDialog()->isVisible());
  dlg.move(300, 400);
  const QRect before = dlg.geometry();  // the frame is only known once shown
  dlg.show();
  EXPECT_FALSE(dlg.supportDialogPending);
  EXPECT_TRUE(dlg.supportDialog()->isVisible());
  EXPECT_EQ(dlg.supportDialog()->shownBitmapId(), 190);  // choices 3, 4 and 8 show 190 throughout
  // 250 pixels up; the support window 10 pixels below the window's new bottom.
  EXPECT_EQ(dlg.geometry().top(), before.top() - 250);
  const QRect after = dlg.frameGeometry();
  EXPECT_EQ(dlg.supportDialog()->frameGeometry().top(), after.top() + after.height() + 10);

  // Later showings change nothing.
  dlg.hide();
  dlg.supportDialog()->hide();
  dlg.show();
  EXPECT_FALSE(dlg.supportDialog()->isVisible());
}

// --- The ending, and what a restart brings back -----------------------------

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A signal (EndWithoutQuestion) while a message box is open: the player ends
// then and there, saving at most once, and whatever the box's code does when
// the box returns -- even with OK, as if answered afterwards -- writes
// nothing more and shows nothing more.
TEST_F(DialogTest, SignalWhileABoxIsOpenEndsOnce) {
  const std::string settings = settingsDir + "/last.plq";
  const struct {
    const char* box;
    const char* settingsFile;  // "use last": saved settings with Use Last on
    bool madeUnwritable;       // the settings file becomes a folder once on air
    size_t boxes;              // shown in all
  } rows[] = {
      {"OK to exit?", "use last", false, 1},
      {"Problem initiating file save", "use last", true, 2},  // at a confirmed exit
      {"Unrecognised file type", "damaged", false, 1},        // at the start tick
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.box);
    QDir(QString::fromStdString(settings)).removeRecursively();
    QFile::remove(QString::fromStdString(settings));
    if (std::string(row.settingsFile) == "damaged") {
      QFile bad(QString::fromStdString(settings));
      ASSERT_TRUE(bad.open(QIODevice::WriteOnly) && bad.write("bad") == 3);
    } else {
      ViewerConfig block;
      block.useLast = 1;
      ASSERT_TRUE(SaveConfigFile(settings, block, {}, {}, {}).ok());
    }
    const ino_t before = Inode(settings);
    ino_t atEnd = 0;
    prompter.boxes.clear();
    prompter.whileOpen = [&](const RecordedBox& box) {
      if (box.text != row.box) return;
      dialog->EndWithoutQuestion();
      dialog->EndWithoutQuestion();  // a second signal's byte changes nothing
      atEnd = Inode(settings);
    };
    fake->reset();
    CNDIPlombixDlg& dlg = OpenAndStart();
    if (row.madeUnwritable) {
      ASSERT_TRUE(QFile::remove(QString::fromStdString(settings)));
      ASSERT_TRUE(QDir().mkdir(QString::fromStdString(settings)));
    }
    if (!dlg.ended) dlg.ExitConfirmation();
    prompter.whileOpen = nullptr;
    EXPECT_TRUE(dlg.ended);
    EXPECT_EQ(prompter.boxes.size(), row.boxes);
    EXPECT_EQ(Inode(settings), atEnd);  // nothing written after the end
    EXPECT_EQ(atEnd != before, std::string(row.box) == "OK to exit?");  // saved by the end itself
    EXPECT_EQ(CallsOf(Calls(), "NDIlib_send_create").empty(), std::string(row.box) == "Unrecognised file type");
    InstanceLock next;
    EXPECT_TRUE(next.Acquire());
    dialog.reset();
  }
}

// The About box names the settings file in full; a signal while it is open
// closes it and ends the player.
TEST_F(DialogTest, AboutNamesTheSettingsFileAndASignalClosesIt) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  QString shown;
  QTimer::singleShot(0, &dlg, [&] {
    auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(about, nullptr);
    shown = about->addedLine(kAboutSettingsLineId)->text();
    dlg.EndWithoutQuestion();
  });
  dlg.OnSysCommand(IDM_ABOUTBOX);  // returns when the box is closed
  EXPECT_EQ(shown, QString::fromStdString("Settings: " + settingsDir + "/last.plq"));
  EXPECT_TRUE(dlg.ended);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// After a restart the eight recent pictures are offered at once: the Options
// menu opened and "Recent pictures" clicked as the operator does.
TEST_F(DialogTest, RecentPicturesAreOfferedAfterARestart) {
  const std::string shown = WritePicture("recent.png", 32, 18, Qt::green);
  RecentFiles earlier(dir.path().toStdString() + "/recent.txt");
  for (int i = 1; i <= 7; ++i) ASSERT_TRUE(earlier.add("/gone/" + std::to_string(i) + ".png"));
  ASSERT_TRUE(earlier.add(shown));
  ASSERT_TRUE(earlier.save());
  CNDIPlombixDlg& dlg = OpenAndStart();
  dlg.show();
  auto* bar = dlg.findChild<QMenuBar*>();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(dlg.optionsMenu()->menuAction()).center());
  ASSERT_TRUE(dlg.optionsMenu()->isVisible());
  QMenu* recent = nullptr;
  for (QAction* action : dlg.optionsMenu()->actions())
    if (action->text() == "Recent pictures") recent = action->menu();
  ASSERT_NE(recent, nullptr);
  QTest::mouseClick(dlg.optionsMenu(), Qt::LeftButton, {},
                    dlg.optionsMenu()->actionGeometry(recent->menuAction()).center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return recent->isVisible(); }, 2000));  // it opens after 20 ms
  ASSERT_EQ(recent->actions().size(), 8);
  EXPECT_EQ(recent->actions()[0]->text().toStdString(), shown);  // newest first
  QTest::mouseClick(recent, Qt::LeftButton, {}, recent->actionGeometry(recent->actions()[0]).center());
  dlg.waitForLoads();
  EXPECT_EQ(dlg.core.onAirPath, shown);
}

}  // namespace
}  // namespace plombix::testing
