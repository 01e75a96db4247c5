// Start-up, copy numbers, the restore tick and the ending of the main
// window, against the recording fake NDI runtime.
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
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
#include "qt_test_app.h"
#include "vid_box.h"

namespace plombix::testing {
namespace {

std::string Names(const std::vector<FakeNdiCall>& calls) {
  std::string names;
  for (const FakeNdiCall& c : calls) names += c.function.substr(7) + " ";  // without "NDIlib_"
  return names;
}

TEST_F(DialogTest, StartTickPublishesTheStartUpPictureAsSourceOne) {
  CNDIPlombixDlg& dlg = Open();
  EXPECT_EQ(dlg.timerPeriod(TIMER_START), 2500);
  EXPECT_EQ(Names(Calls()), "initialize ");  // nothing published before the start tick
  dlg.onTimer(TIMER_START);
  // The sender is made, then re-made by the reconfiguration, which sends.
  const std::vector<FakeNdiCall> calls = Calls();
  EXPECT_EQ(Names(calls), "initialize send_create send_add_connection_metadata send_destroy send_create "
                          "send_add_connection_metadata send_send_video_async_v2 ");
  for (const FakeNdiCall& create : CallsOf(calls, "NDIlib_send_create"))
    EXPECT_TRUE(create.name == "Vora Plombix 1" && create.groupsNull && create.clockVideo && !create.clockAudio);
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
  uint32_t aspect = 0;
  std::memcpy(&aspect, &f.picture_aspect_ratio, 4);
  EXPECT_EQ(std::vector<int64_t>({f.xres, f.yres, int64_t(f.FourCC), f.frame_rate_N, f.frame_rate_D, aspect,
                                  int64_t(f.frame_format_type), f.timecode, f.line_stride_in_bytes, f.timestamp}),
            std::vector<int64_t>({1280, 720, 0x41524742, 30000, 1200, 0x3FE38E39 /* 16:9 */,
                                  int64_t(NdiFrameFormat::Progressive), INT64_MAX, 1280 * 4, 0}));
  EXPECT_EQ(f.p_metadata, nullptr);
  EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("Vora Plombix for NDI\u00ae - No 1"));
  EXPECT_TRUE(dlg.configFileName == "last.plq" && dlg.core.splashPending && !dlg.isTimerActive(TIMER_START));
  EXPECT_EQ(std::pair(dlg.timerPeriod(TIMER_TICK), dlg.timerPeriod(TIMER_RESTORE)), std::pair(40, 10000));
  EXPECT_TRUE(dlg.control(1015)->toolTip().startsWith("Vora Plombix 1"));  // where receivers find it
  EXPECT_EQ(dlg.control(1014)->size(), QSize(30, 30));  // the lamp takes its bitmap's size
}

TEST_F(DialogTest, NewCopyTakesTheFreeNumberBetweenRunningCopiesAndItsOwnSettingsFile) {
  InstanceLock zero, one, two;
  ASSERT_TRUE(zero.Acquire() && one.Acquire() && two.Acquire());
  one.Release();  // copies 0 and 2 run
  CNDIPlombixDlg& dlg = OpenAndStart();
  EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("Vora Plombix for NDI\u00ae - No 2"));
  EXPECT_EQ(CallsOf(Calls(), "NDIlib_send_create").back().name, "Vora Plombix 2");
  dlg.OnSysCommand(IDM_SAVECONFIG);  // its own settings file only
  EXPECT_TRUE(QFile::exists(QString::fromStdString(settingsDir + "/last2.plq")));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(settingsDir + "/last.plq")));
}

TEST_F(DialogTest, NinthCopyAsksToExitNeverPublishesAndHasNoSettingsFile) {
  std::array<InstanceLock, 8> running;
  for (InstanceLock& lock : running) ASSERT_TRUE(lock.Acquire());
  prompter.answer = false;  // the operator keeps the window open
  CNDIPlombixDlg& dlg = OpenAndStart();
  EXPECT_EQ(prompter.boxes.at(0).text + "|" + prompter.boxes[0].title, "OK to exit?|Quit Plombix");
  EXPECT_TRUE(!dlg.isTimerActive(TIMER_START) && dlg.isTimerActive(TIMER_TICK) && !dlg.isTimerActive(TIMER_RESTORE));
  for (int i = 0; i < 30; ++i) dlg.onTimer(TIMER_TICK);
  EXPECT_TRUE(CallsOf(Calls(), "NDIlib_send_create").empty());
  // No number, no settings file: saving (from the menu, and at the exit with
  // Use Last on) says so and never writes another copy's file.
  dlg.OnSysCommand(IDM_SAVECONFIG);
  dlg.OnSysCommand(IDM_USELAST);
  prompter.answer = true;
  dlg.ExitConfirmation();
  ASSERT_EQ(prompter.boxes.size(), 4u);  // exit question, save refused, exit question, save refused
  for (size_t i : {1u, 3u}) EXPECT_TRUE(prompter.boxes[i].text.startsWith("This copy has no settings file")) << i;
  EXPECT_TRUE(dlg.ended);
  EXPECT_TRUE(QDir(QString::fromStdString(settingsDir)).isEmpty());
}

// A folder for the copies' locks that cannot be used is not "eight copies":
// the window says which folder and why, and ends without the exit question.
TEST_F(DialogTest, UnusableLockFolderIsNamedAndTheCopyEnds) {
  const std::string file = dir.path().toStdString() + "/not-a-folder";
  QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly);
  ::setenv("PLOMBIX_RUNTIME_DIR", file.c_str(), 1);
  CNDIPlombixDlg& dlg = OpenAndStart();
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_TRUE(!prompter.boxes[0].confirm && prompter.boxes[0].text.contains("not-a-folder': not a directory"));
  EXPECT_TRUE(dlg.ended && CallsOf(Calls(), "NDIlib_send_create").empty());
}

TEST_F(DialogTest, UnusableRuntimeIsReportedAndTheWindowStaysUsable) {
  fake->initializeResult = false;
  CNDIPlombixDlg& dlg = Open();
  EXPECT_EQ(prompter.boxes.at(0).text, "Cannot run NDI.");
  EXPECT_TRUE(dlg.startupFailed && !dlg.isTimerActive(TIMER_START));
  const std::string picture = WritePicture("red.png", 64, 48, Qt::red);
  EXPECT_FALSE(Drop(dlg, {picture}));  // nothing takes a drop, the preview included
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(QString::fromStdString(picture))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(dlg.vidBox(), &enter);
  EXPECT_FALSE(enter.isAccepted());
  EXPECT_TRUE(FrameSends(Calls()).empty());
  dlg.ExitConfirmation();  // still asks, and releases only what exists
  EXPECT_TRUE(dlg.ended && CallsOf(Calls(), "NDIlib_destroy").empty());
}

TEST_F(DialogTest, SenderThatCannotBeCreatedIsTriedAgainAtTheNextReconfiguration) {
  fake->sendCreateFails = true;
  CNDIPlombixDlg& dlg = OpenAndStart();
  for (int i = 0; i < 30; ++i) dlg.onTimer(TIMER_TICK);  // no sender: no queries, no crash
  EXPECT_TRUE(!dlg.core.output.hasSender() && FrameSends(Calls()).empty());
  fake->sendCreateFails = false;
  dlg.core.ChooseFrameRate(32778);  // 30p
  ASSERT_EQ(FrameSends(Calls()).size(), 1u);
  EXPECT_EQ(FrameSends(Calls()).back().frame.frame_rate_D, 1000);
}

TEST_F(DialogTest, RestoreTickTakesTheStartUpPictureOffTheAir) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const size_t sendsBefore = FrameSends(Calls()).size();
  dlg.onTimer(TIMER_RESTORE);
  dlg.waitForLoads();
  EXPECT_TRUE(!dlg.core.splashPending && !dlg.isTimerActive(TIMER_RESTORE) && !dlg.slideshow.slideshowLocked);
  EXPECT_EQ(dlg.timerPeriod(TIMER_WATCH), 2500);
  const std::vector<FakeNdiCall> sends = FrameSends(Calls());  // only the background is on air
  const PictureBuffer& bg = dlg.core.backgroundPicture;
  ASSERT_EQ(sends.size(), sendsBefore + 1);
  EXPECT_EQ(sends.back().pixelHash, FakeNdiHash(bg.pixelData.get(), bg.width * 4, bg.height, bg.width * 4));
}

TEST_F(DialogTest, ExitAsksFlushesBeforeFreeingThenDestroysSenderAndRuntime) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  dlg.show();
  dlg.close();  // a close request from the desktop is ignored
  prompter.answer = false;
  dlg.ExitConfirmation();
  EXPECT_TRUE(dlg.isVisible() && !dlg.ended && CallsOf(Calls(), "NDIlib_destroy").empty());
  const size_t before = Calls().size();
  prompter.answer = true;
  dlg.ExitConfirmation();
  const std::vector<FakeNdiCall> calls = Calls();
  EXPECT_EQ(Names({calls.begin() + long(before), calls.end()}), "send_send_video_async_v2 send_destroy destroy ");
  EXPECT_TRUE(calls.at(before).frameNull);  // the flush
  EXPECT_TRUE(dlg.ended && !dlg.core.output.ndiFrames[0].p_data && !dlg.core.output.ndiFrames[1].p_data);
  InstanceLock next;  // the number is free for the next copy at once
  EXPECT_TRUE(next.Acquire() && next.index() == 0);
}

TEST_F(DialogTest, SupportWindowComesUpUnderTheWindowAtItsFirstShowingOnly) {
  auto options = MakeOptions();
  options.supportWindow = true;
  options.pictureChoice = 3;
  dialog = std::make_unique<CNDIPlombixDlg>(std::move(options));
  CNDIPlombixDlg& dlg = *dialog;
  EXPECT_FALSE(dlg.supportDialog()->isVisible());
  dlg.move(300, 400);
  const int top = dlg.geometry().top();  // the frame is only known once shown
  dlg.show();
  EXPECT_TRUE(!dlg.supportDialogPending && dlg.supportDialog()->isVisible());
  EXPECT_EQ(dlg.supportDialog()->shownBitmapId(), 190);  // choices 3, 4 and 8 show 190 throughout
  EXPECT_EQ(dlg.geometry().top(), top - 250);  // 250 up; the support window 10 below
  EXPECT_EQ(dlg.supportDialog()->frameGeometry().top(), dlg.frameGeometry().bottom() + 1 + 10);
  dlg.hide();
  dlg.supportDialog()->hide();
  dlg.show();  // later showings change nothing
  EXPECT_FALSE(dlg.supportDialog()->isVisible());
}

// A signal (EndWithoutQuestion) while a message box is open: the player ends
// then and there, saving at most once and releasing its number; when the box
// returns -- even with OK, as if answered afterwards -- nothing more is
// written, shown or published.
TEST_F(DialogTest, SignalWhileABoxIsOpenEndsOnce) {
  const std::string settings = settingsDir + "/last.plq";
  const auto inode = [&] {
    struct stat st {};
    return ::stat(settings.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  // damaged, unwritable: the settings file (Use Last on) does not read, becomes a folder on air; boxes: all shown.
  const struct { const char* box; bool damaged, unwritable; size_t boxes; } rows[] = {
      {"OK to exit?", false, false, 1},
      {"Problem initiating file save", false, true, 2},  // at a confirmed exit
      {"Unrecognised file type", true, false, 1},        // at the start tick
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.box);
    QDir(QString::fromStdString(settings)).removeRecursively();
    ViewerConfig block;
    block.useLast = 1;
    ASSERT_TRUE(SaveConfigFile(settings, block, {}, {}, {}).ok());
    ASSERT_TRUE(!row.damaged || QFile::resize(QString::fromStdString(settings), 3));
    ino_t before = inode(), atEnd = 0;
    prompter.boxes.clear();
    fake->reset();
    prompter.whileOpen = [&](const RecordedBox& box) {
      if (box.text != row.box) return;
      dialog->EndWithoutQuestion();
      dialog->EndWithoutQuestion();  // a second signal's byte changes nothing
      atEnd = inode();
    };
    CNDIPlombixDlg& dlg = OpenAndStart();
    if (row.unwritable) {
      ASSERT_TRUE(QFile::remove(QString::fromStdString(settings)) && QDir().mkdir(QString::fromStdString(settings)));
      before = inode();
    }
    if (!dlg.ended) dlg.ExitConfirmation();
    prompter.whileOpen = nullptr;
    EXPECT_TRUE(dlg.ended);
    EXPECT_EQ(prompter.boxes.size(), row.boxes);
    EXPECT_EQ(inode(), atEnd);  // nothing written after the end
    EXPECT_EQ(atEnd != before, !row.unwritable && !row.damaged);  // saved by the end itself
    EXPECT_EQ(CallsOf(Calls(), "NDIlib_send_create").empty(), row.damaged);
    EXPECT_TRUE(InstanceLock().Acquire());  // the number is free
  }
}

// The About box names the settings file in full; a signal while it is open
// closes it and ends the player.
TEST_F(DialogTest, AboutNamesTheSettingsFileAndASignalClosesIt) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  QString shown;
  QTimer::singleShot(0, &dlg, [&] {
    if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()))
      shown = about->addedLine(kAboutSettingsLineId)->text();
    dlg.EndWithoutQuestion();
  });
  dlg.OnSysCommand(IDM_ABOUTBOX);  // returns when the box is closed
  EXPECT_EQ(shown, QString::fromStdString("Settings: " + settingsDir + "/last.plq"));
  EXPECT_TRUE(dlg.ended && !QApplication::activeModalWidget());
}

// After a restart the recent pictures are offered at once: the Options menu
// opened and "Recent pictures" clicked as the operator does.
TEST_F(DialogTest, RecentPicturesAreOfferedAfterARestart) {
  const std::string shown = WritePicture("recent.png", 32, 18, Qt::green);
  RecentFiles earlier(dir.path().toStdString() + "/recent.txt");
  for (int i = 1; i <= 7; ++i) ASSERT_TRUE(earlier.add("/gone/" + std::to_string(i) + ".png"));
  ASSERT_TRUE(earlier.add(shown) && earlier.save());
  CNDIPlombixDlg& dlg = OpenAndStart();
  dlg.show();
  QMenu* options = dlg.optionsMenu();
  auto* bar = dlg.findChild<QMenuBar*>();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(options->menuAction()).center());
  QMenu* recent = options->findChild<QMenu*>();
  ASSERT_TRUE(options->isVisible() && recent && recent->title() == "Recent pictures");
  QTest::mouseClick(options, Qt::LeftButton, {}, options->actionGeometry(recent->menuAction()).center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return recent->isVisible(); }, 2000));  // it opens after 20 ms
  ASSERT_EQ(recent->actions().size(), 8);
  EXPECT_EQ(recent->actions()[0]->text().toStdString(), shown);  // newest first
  QTest::mouseClick(recent, Qt::LeftButton, {}, recent->actionGeometry(recent->actions()[0]).center());
  dlg.waitForLoads();
  EXPECT_EQ(dlg.core.onAirPath, shown);
}

}  // namespace
}  // namespace plombix::testing
