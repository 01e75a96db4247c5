// What the main window publishes: the one-second resend, tally, the
// cross-fade, every output format, alpha output, and dropped pictures.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QJsonObject>
#include <QLabel>
#include <QToolButton>

#include <future>

#include "background.h"
#include "ccol_button.h"
#include "compose.h"
#include "control_test_support.h"
#include "dialog_fixture.h"
#include "output_formats.h"
#include "picture_label.h"
#include "qt_test_app.h"
#include "vid_box.h"

namespace plombix::testing {
namespace {

int LampOf(CNDIPlombixDlg& dlg) { return qobject_cast<PictureLabel*>(dlg.control(1014))->bitmapId(); }
size_t Sends() { return FrameSends(FakeState()->snapshot()).size(); }

// Without receivers nothing is resent and tally is not asked; with one,
// exactly one frame a second, the lamp blinks red and amber, and tally shows
// within a tick once the receivers were counted; when the last leaves, it
// all stops and the lamp goes grey.
TEST_F(DialogTest, OneReceiverGetsOneFramePerSecondTallyAndABlinkingLamp) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::vector<FakeNdiCall> before = FrameSends(Calls());
  for (int i = 0; i < 100; ++i) dlg.onTimer(TIMER_TICK);  // four seconds
  EXPECT_EQ(Sends(), before.size());
  EXPECT_TRUE(CallsOf(Calls(), "NDIlib_send_get_tally").empty());
  EXPECT_EQ(LampOf(dlg), 131);  // grey: no receiver ever seen

  fake->connections = 1;
  fake->tally = NDIlib_tally_t{false, true};
  for (int i = 0; i < 24; ++i) dlg.onTimer(TIMER_TICK);
  EXPECT_EQ(dlg.vidBox()->tallyState, TallyNone);  // receivers not counted yet
  EXPECT_EQ(Sends(), before.size());
  dlg.onTimer(TIMER_TICK);  // the 25th tick is the one-second check
  ASSERT_EQ(Sends(), before.size() + 1);
  EXPECT_EQ(FrameSends(Calls()).back().frame.p_data, before.back().frame.p_data);  // the same frame again
  EXPECT_EQ(LampOf(dlg), 132);  // red
  dlg.onTimer(TIMER_TICK);  // within 40 ms of the count
  EXPECT_EQ(dlg.vidBox()->tallyState, TallyPreview);
  for (const auto& [program, preview, state] : {std::tuple{true, true, TallyProgram}, {false, false, TallyNone}}) {
    fake->tally = NDIlib_tally_t{program, preview};  // program wins
    dlg.onTimer(TIMER_TICK);
    EXPECT_EQ(dlg.vidBox()->tallyState, state);
  }
  for (int i = 0; i < 22; ++i) dlg.onTimer(TIMER_TICK);
  EXPECT_EQ(Sends(), before.size() + 2);
  EXPECT_EQ(LampOf(dlg), 133);  // amber

  fake->connections = 0;  // at the next check; then nothing more at all
  for (int i = 0; i < 25; ++i) dlg.onTimer(TIMER_TICK);
  const size_t queries = CallsOf(Calls(), "NDIlib_send_get_tally").size();
  const size_t count = Sends();
  for (int i = 0; i < 50; ++i) dlg.onTimer(TIMER_TICK);
  EXPECT_EQ(Sends(), count);
  EXPECT_EQ(CallsOf(Calls(), "NDIlib_send_get_tally").size(), queries);
  EXPECT_EQ(LampOf(dlg), 131);
}

TEST_F(DialogTest, FadeAt25pSendsTwelveBlendedFramesIntoTheFreeFrame) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  fake->keepPixels = true;
  dlg.core.ChooseResolution(32776);  // 640 x 360 keeps the recorded pixels small
  dlg.waitForLoads();
  qobject_cast<CColButton*>(dlg.control(1021))->click();  // Fade
  const std::vector<FakeNdiCall> before = FrameSends(Calls());
  const std::vector<uint8_t> previous = before.back().pixels;  // what is on air

  ASSERT_TRUE(Drop(dlg, {WritePicture("blue.png", 640, 360, QColor(0, 0, 255))}));
  EXPECT_EQ(Sends(), before.size());  // the fade steps send
  EXPECT_EQ(dlg.timerPeriod(TIMER_FADE), 10);
  EXPECT_EQ(LampOf(dlg), 134);  // green
  EXPECT_EQ(dlg.core.fadeSteps, 12);
  for (int step = 0; step < 12; ++step) dlg.onTimer(TIMER_FADE);
  const std::vector<FakeNdiCall> sends = FrameSends(Calls());
  ASSERT_EQ(sends.size(), before.size() + 12);
  EXPECT_TRUE(dlg.isTimerActive(TIMER_FADE));
  dlg.onTimer(TIMER_FADE);  // copies the new composition and stops
  EXPECT_FALSE(dlg.isTimerActive(TIMER_FADE));
  EXPECT_EQ(Sends(), before.size() + 12);
  for (size_t i = before.size(); i < sends.size(); ++i)  // each step into the frame not in flight
    EXPECT_NE(sends[i].frame.p_data, sends[i - 1].frame.p_data) << i;

  // Weights: first step (11 x 256) / 12 = 234 of the old frame, last 0.
  const PictureBuffer& composed = dlg.core.composedPicture;
  const std::vector<uint8_t>& first = sends[before.size()].pixels;
  ASSERT_EQ(first.size(), size_t(640 * 360 * 4));
  ASSERT_EQ(previous.size(), first.size());
  for (size_t i = 0; i < first.size(); i += 997) {
    EXPECT_EQ(first[i], uint8_t((previous[i] * 234 + composed.pixelData[i] * 22) >> 8)) << i;
    EXPECT_EQ(sends.back().pixels[i], composed.pixelData[i]) << i;
  }
  EXPECT_EQ(LampOf(dlg), 131);  // grey again: no receiver is connected
}

TEST_F(DialogTest, ResolutionChangeWhileFadingSendsTheNewBackgroundNotAStaleFrame) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  ASSERT_TRUE(Drop(dlg, {WritePicture("wide.png", 320, 180, QColor(10, 20, 30))}));
  qobject_cast<CColButton*>(dlg.control(1021))->click();  // Fade
  dlg.core.ChooseResolution(32776);                       // 640 x 360: re-shows, a fade is due
  dlg.waitForLoads();
  ASSERT_NE(dlg.core.fadeStepsLeft, 0);
  const FakeNdiCall sent = FrameSends(Calls()).back();
  EXPECT_EQ(sent.frame.xres, 640);
  const PictureBuffer& background = dlg.core.backgroundPicture;
  ASSERT_EQ(background.width, 640);
  EXPECT_EQ(sent.pixelHash, FakeNdiHash(background.pixelData.get(), 640 * 4, 360, 640 * 4));
}

// Each Resolution and Framerate entry: the frame's size, stride and aspect
// (9:16 for the portrait size, 4:3 for 720 and 4096 wide, else 16:9), rate,
// the button's caption and the output line.
TEST_F(DialogTest, EveryOutputFormatSetsSizeRateAspectAndOutputLine) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const auto line = [&] { return qobject_cast<QLabel*>(dlg.control(1015))->text(); };
  for (const ResolutionEntry& entry : ResolutionEntries()) {
    MenuAction(dlg, 1002, QString::fromUtf8(entry.menuText))->trigger();
    dlg.waitForLoads();
    const NDIlib_video_frame_v2_t f = FrameSends(Calls()).back().frame;
    EXPECT_EQ(std::tuple(f.xres, f.yres, f.line_stride_in_bytes), std::tuple(entry.width, entry.height, entry.width * 4));
    EXPECT_EQ(qobject_cast<QToolButton*>(dlg.control(1002))->text(), QString::fromUtf8(entry.caption));
    EXPECT_EQ(dlg.config.live.resolutionId, uint32_t(entry.id));
    EXPECT_TRUE(line().startsWith(QStringLiteral("%1 x %2 - ").arg(entry.width).arg(entry.height)));
    const float aspect = entry.width == 1080 ? 0.5625f : (entry.width == 720 || entry.width == 4096) ? 4.0f / 3.0f
                                                                                                     : 16.0f / 9.0f;
    EXPECT_EQ(f.picture_aspect_ratio, aspect) << entry.menuText;
  }
  MenuAction(dlg, 1002, "1280 x 720")->trigger();
  dlg.waitForLoads();
  const struct { const char* text; int n, d; const char* line; } rows[] = {
      {"25p", 30000, 1200, "1280 x 720 - 25.00 fps"}, {"29.97p", 30000, 1001, "1280 x 720 - 29.97 fps"},
      {"30p", 30000, 1000, "1280 x 720 - 30.00 fps"}, {"50p", 60000, 1200, "1280 x 720 - 50.00 fps"},
      {"60p", 60000, 1000, "1280 x 720 - 60.00 fps"}};
  for (const auto& row : rows) {
    MenuAction(dlg, 1003, QString::fromUtf8(row.text))->trigger();
    const NDIlib_video_frame_v2_t f = FrameSends(Calls()).back().frame;
    EXPECT_EQ(std::pair(f.frame_rate_N, f.frame_rate_D), std::pair(row.n, row.d));
    EXPECT_EQ(line(), row.line);
    EXPECT_EQ(qobject_cast<QToolButton*>(dlg.control(1003))->text(), row.text);
  }
}

TEST_F(DialogTest, NoAlphaOutputSwitchesBothFramesAndRecreatesTheSource) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  for (const NdiFourCC fourCC : {NdiFourCC::BGRX, NdiFourCC::BGRA}) {
    const size_t creates = CallsOf(Calls(), "NDIlib_send_create").size();
    dlg.OnSysCommand(IDM_NOALPHA);
    EXPECT_EQ(dlg.optionsAction(IDM_NOALPHA)->isChecked(), fourCC == NdiFourCC::BGRX);
    EXPECT_EQ(dlg.config.live.noAlpha, fourCC == NdiFourCC::BGRX ? 1 : 0);
    EXPECT_EQ(std::pair(dlg.core.output.ndiFrames[0].FourCC, dlg.core.output.ndiFrames[1].FourCC),
              std::pair(fourCC, fourCC));
    EXPECT_EQ(FrameSends(Calls()).back().frame.FourCC, fourCC);
    EXPECT_EQ(CallsOf(Calls(), "NDIlib_send_create").size(), creates + 1);
  }
}

TEST_F(DialogTest, DroppedPictureIsComposedOverTheGradientAndSent) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string first = WritePicture("first.png", 320, 240, QColor(200, 40, 10));
  const size_t before = Sends();
  ASSERT_TRUE(Drop(dlg, {first, WritePicture("second.png", 16, 16, Qt::green)}));

  // The same composition made directly with the picture engine: the
  // placeholder at output size under the first gradient, the picture
  // scaled to 960 x 720 (Contain) over it.
  PictureBuffer background, picture, composed, grabbed;
  ASSERT_TRUE(background.LoadResourceBitmap(148));
  ASSERT_TRUE(background.ScaleFrom(1280, 720, *background.resourceBitmap));
  FillBackground(background, 11, 0xFF203080, 0xFF000000, grabbed);
  ASSERT_TRUE(picture.LoadFile(first));
  picture.SetAlpha(255);
  ASSERT_TRUE(picture.ScaleTo(960, 720));
  ComposeFrame(composed, background, picture, nullptr, 1280, 720);
  ASSERT_EQ(Sends(), before + 1);
  EXPECT_EQ(FrameSends(Calls()).back().pixelHash, FakeNdiHash(composed.pixelData.get(), 1280 * 4, 720, 1280 * 4));
  EXPECT_EQ(qobject_cast<QLabel*>(dlg.control(1051))->text(), "first.png");
  EXPECT_EQ(qobject_cast<QLabel*>(dlg.control(1055))->text(), "from 320 x 240");
  EXPECT_EQ(dlg.config.imagePath.toUtf8(), first);
  EXPECT_FALSE(dlg.core.splashPending);
}

// A picture or overlay that cannot be loaded changes nothing at all: the
// output, the names and paths (so what a re-show, a resolution change, the
// watch and the saved settings use), the overlay in use and the API's state.
// The label says why for a few seconds, without a box to dismiss. Through
// the real API, as a remote client does; the API answers a missing file
// itself, so the window meets one by a drop or "Open overlay..." (status 0).
TEST_F(DialogTest, ARefusedPictureOrOverlayChangesNothing) {
  const std::string text = dir.path().toStdString() + "/notes.txt", gone = dir.path().toStdString() + "/gone.png";
  QFile file(QString::fromStdString(text));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("not a picture") > 0);
  file.close();
  const std::string cut = WritePicture("cut.jpg", 640, 360, Qt::blue);  // a JPEG cut at 60 %
  ASSERT_TRUE(QFile::resize(QString::fromStdString(cut), QFileInfo(QString::fromStdString(cut)).size() * 6 / 10));
  const struct { const char* endpoint; std::string path; int status; const char* label; } rows[] = {
      {"show", text, 422, "Cannot show notes.txt: not a picture"},
      {"show", cut, 422, "Cannot show cut.jpg: damaged or incomplete"},
      {"show", gone, 0, "Cannot show gone.png: file not found"},
      {"overlay", gone, 0, "Cannot load overlay gone.png: file not found"},
      {"overlay", text, 422, "Cannot load overlay notes.txt: not a picture"},
  };
  const std::string good = WritePicture("good.png", 400, 300, QColor(16, 16, 16));  // 4:3, video black
  const std::string logo = WritePicture("logo.png", 320, 180, QColor(0, 0, 0, 0), QImage::Format_ARGB32);
  for (const auto& row : rows) {
    remote = control_test::LoopbackSettings();
    CNDIPlombixDlg& dlg = OpenAndStart();
    const int port = std::atoi(dlg.controlUrl().substr(dlg.controlUrl().rfind(':') + 1).c_str());
    const auto api = [&](const std::string& method, const std::string& path, const std::string& body = {}) {
      auto reply = std::async(std::launch::async, [=] { return control_test::Http(port, method, path, body); });
      while (reply.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      dlg.waitForLoads();
      return reply.get();
    };
    const auto post = [&](const std::string& path, const std::string& body) {
      return api("POST", "/api/v1/" + path, body).status;
    };
    ASSERT_EQ(post("show", R"({"path":")" + good + R"("})"), 200);
    ASSERT_EQ(post("overlay", R"({"path":")" + logo + R"(","use":true})"), 200);
    const size_t sends = Sends();
    if (row.status != 0) {
      EXPECT_EQ(post(row.endpoint, R"({"path":")" + row.path + R"("})"), row.status) << row.path;
    } else {
      row.endpoint[0] == 's' ? (void)dlg.OnDropFiles({QString::fromStdString(row.path)})
                             : dlg.LoadOverlayFile(row.path);
      dlg.waitForLoads();
    }
    auto* label = qobject_cast<QLabel*>(dlg.control(1051));
    EXPECT_EQ(label->text(), row.label);
    EXPECT_EQ(Sends(), sends) << row.path;
    EXPECT_TRUE(prompter.boxes.empty());
    dlg.onTimer(TIMER_NOTICE);
    EXPECT_EQ(label->text(), "good.png");
    const QJsonObject state = control_test::Json(api("GET", "/api/v1/state"));
    EXPECT_EQ(state["picture"].toObject()["path"].toString().toStdString(), good) << row.path;
    EXPECT_EQ(state["overlay"].toObject()["path"].toString().toStdString(), logo) << row.path;
    EXPECT_EQ(dlg.config.imagePath.toUtf8() + dlg.config.overlayPath.toUtf8(), good + logo) << row.path;

    // The good picture and overlay are laid out for the new size, the range
    // toggle converts the good picture, and the overlay's "Use" works.
    fake->keepPixels = true;
    ASSERT_EQ(post("output", R"({"resolution":"1920x1080"})"), 200);
    EXPECT_EQ(std::pair(dlg.core.mainPicture.width, dlg.core.mainPicture.height), std::pair(1440, 1080)) << row.path;
    EXPECT_EQ(dlg.core.overlayPicture.width, 1920) << row.path;
    ASSERT_EQ(post("range", R"({"mode":"video"})"), 200);
    EXPECT_EQ(FrameSends(Calls()).back().pixels[(size_t(540) * 1920 + 960) * 4], 0) << row.path;
    EXPECT_EQ(post("overlay", R"({"use":false})") + post("overlay", R"({"use":true})"), 400) << row.path;
    dialog.reset();
    fake->reset();
  }
}

TEST_F(DialogTest, LongDroppedPathIsShownWholeAndStoredEmptyRatherThanCut) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  std::string deep = dir.path().toStdString();
  while (deep.size() < 420) deep += "/" + std::string(60, 'd');
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(deep)));
  QImage image(8, 8, QImage::Format_RGB32);
  image.fill(Qt::white);
  const std::string path = deep + "/long.png";
  ASSERT_TRUE(image.save(QString::fromStdString(path)));
  ASSERT_TRUE(Drop(dlg, {path}));
  EXPECT_EQ(dlg.config.currentFileName, path);
  EXPECT_TRUE(dlg.config.imagePath.empty());
  EXPECT_EQ(dlg.core.mainPicture.filePath, path);
}

}  // namespace
}  // namespace plombix::testing
