// Driving the real window without the mouse: the remote-control API over
// real HTTP, Open and Recent pictures through the menu, the command line's
// FILE, and the web remote in a real headless chromium.
#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QRadioButton>
#include <QToolButton>

#include <chrono>
#include <future>
#include <thread>

#include "ccol_button.h"
#include "control_test_support.h"
#include "dialog_fixture.h"
#include "headless_chromium.h"
#include "qt_test_app.h"

namespace plombix::testing {
namespace {

using control_test::HttpReply;

class RemoteTest : public DialogTest {
 protected:
  // Opens the window with the API on a free port and starts it.
  CNDIPlombixDlg& OpenRemote() {
    remote = control_test::LoopbackSettings();
    CNDIPlombixDlg& dlg = OpenAndStart();
    const std::string url = dlg.controlUrl();
    port = std::atoi(url.substr(url.rfind(':') + 1).c_str());
    EXPECT_GT(port, 0) << url;
    return dlg;
  }

  // One request on another thread while this one, the window's, runs its
  // events: the API's commands are posted to it.
  HttpReply Request(const std::string& method, const std::string& path, const std::string& body = {}) {
    auto reply = std::async(std::launch::async,
                            [=, this] { return control_test::Http(port, method, path, body); });
    while (reply.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return reply.get();
  }

  static QString Text(CNDIPlombixDlg& dlg, int id) {
    if (auto* label = qobject_cast<QLabel*>(dlg.control(id))) return label->text();
    return qobject_cast<QAbstractButton*>(dlg.control(id))->text();
  }

  int port = 0;
};

// Every endpoint through the real window: its answer, the state it reports,
// what the window shows and what the runtime receives.
TEST_F(RemoteTest, EveryEndpointActsThroughTheWindowsOwnHandlers) {
  CNDIPlombixDlg& dlg = OpenRemote();
  const std::string good = WritePicture("card.png", 320, 180, QColor(10, 200, 30));
  const std::string text = dir.path().toStdString() + "/notes.png";
  QFile notes(QString::fromStdString(text));
  ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
  notes.write("no picture here");
  notes.close();

  const struct {
    const char* name;
    std::string path, body;
    int status;
    std::function<void(const QJsonObject& state)> check;
  } rows[] = {
      {"show a picture", "/api/v1/show", R"({"path":")" + good + R"("})", 200,
       [&](const QJsonObject& state) {
         EXPECT_EQ(state["picture"].toObject()["path"].toString().toStdString(), good);
         EXPECT_EQ(state["picture"].toObject()["width"].toInt(), 320);
         EXPECT_EQ(Text(dlg, 1051), "card.png");
         EXPECT_EQ(FrameSends(Calls()).back().frame.xres, 1280);
       }},
      {"a missing file", "/api/v1/show", R"({"path":")" + dir.path().toStdString() + R"(/gone.png"})", 404,
       [&](const QJsonObject&) { EXPECT_EQ(dlg.core.onAirPath, good); }},
      {"a file that is no picture", "/api/v1/show", R"({"path":")" + text + R"("})", 422,
       [&](const QJsonObject&) {
         EXPECT_EQ(dlg.core.onAirPath, good);
         EXPECT_EQ(Text(dlg, 1051), "Cannot show notes.png: not a picture");
       }},
      {"output", "/api/v1/output", R"({"resolution":"1920x1080","frameRate":"50","alpha":false})", 200,
       [&](const QJsonObject& state) {
         const QJsonObject output = state["output"].toObject();
         EXPECT_EQ(output["width"].toInt(), 1920);
         EXPECT_EQ(output["frameRateN"].toInt(), 60000);
         EXPECT_EQ(output["frameRateD"].toInt(), 1200);
         EXPECT_FALSE(output["alpha"].toBool());
         EXPECT_EQ(Text(dlg, 1002), "1920 x 1080");
         EXPECT_EQ(Text(dlg, 1003), "50p");
         EXPECT_TRUE(dlg.optionsAction(IDM_NOALPHA)->isChecked());
         EXPECT_EQ(FrameSends(Calls()).back().frame.FourCC, NdiFourCC::BGRX);
       }},
      {"an unknown resolution changes nothing", "/api/v1/output", R"({"resolution":"1234x5"})", 400,
       [&](const QJsonObject& state) { EXPECT_EQ(state["output"].toObject()["width"].toInt(), 1920); }},
      {"background", "/api/v1/background", R"({"mode":"grad5","colours":["#102030","#405060"]})", 200,
       [&](const QJsonObject& state) {
         EXPECT_EQ(state["background"].toString(), "grad5");
         EXPECT_EQ(state["colours"].toArray()[0].toString(), "#102030");
         EXPECT_EQ(Text(dlg, 1052), "Grad Fill 5");
         EXPECT_EQ(dlg.config.live.fillColour2, 0x405060u);
       }},
      {"scaling", "/api/v1/scaling", R"({"mode":"fill"})", 200,
       [&](const QJsonObject& state) {
         EXPECT_EQ(state["scaling"].toString(), "fill");
         EXPECT_TRUE(qobject_cast<QRadioButton*>(dlg.control(1006))->isChecked());
         EXPECT_EQ(Text(dlg, 1016), "Fill screen, crop where needed");
       }},
      {"transition", "/api/v1/transition", R"({"mode":"fade"})", 200,
       [&](const QJsonObject& state) {
         EXPECT_EQ(state["transition"].toString(), "fade");
         EXPECT_EQ(Text(dlg, 1021), "Fade");
       }},
      {"range", "/api/v1/range", R"({"mode":"video"})", 200,
       [&](const QJsonObject& state) {
         EXPECT_EQ(state["range"].toString(), "video");
         EXPECT_EQ(Text(dlg, 1049), "16-235");
       }},
      {"watch", "/api/v1/watch", R"({"on":true})", 200,
       [&](const QJsonObject& state) {
         EXPECT_TRUE(state["watch"].toBool());
         EXPECT_EQ(Text(dlg, 1000), "Watching");
       }},
      {"grab", "/api/v1/grab", "{}", 200, [&](const QJsonObject&) { EXPECT_EQ(Text(dlg, 1048), "Grabbed"); }},
      {"overlay use without an overlay", "/api/v1/overlay", R"({"use":true})", 409,
       [&](const QJsonObject& state) { EXPECT_FALSE(state["overlay"].toObject()["use"].toBool()); }},
      {"overlay from a file", "/api/v1/overlay", R"({"path":")" + good + R"("})", 200,
       [&](const QJsonObject& state) {
         EXPECT_EQ(state["overlay"].toObject()["path"].toString().toStdString(), good);
         EXPECT_EQ(Text(dlg, 1068).toStdString(), good);
       }},
      {"overlay use", "/api/v1/overlay", R"({"use":true})", 200,
       [&](const QJsonObject& state) {
         EXPECT_TRUE(state["overlay"].toObject()["use"].toBool());
         EXPECT_TRUE(qobject_cast<QCheckBox*>(dlg.control(1066))->isChecked());
       }},
      {"a step while the slideshow is off", "/api/v1/slideshow/next", "{}", 409,
       [&](const QJsonObject& state) { EXPECT_EQ(state["slideshow"].toObject()["mode"].toString(), "off"); }},
  };
  for (const auto& row : rows) {
    const HttpReply reply = Request("POST", row.path, row.body);
    EXPECT_EQ(reply.status, row.status) << row.name << ": " << reply.body;
    dlg.waitForLoads();
    const HttpReply state = Request("GET", "/api/v1/state");
    ASSERT_EQ(state.status, 200) << row.name;
    row.check(Json(state));
  }
  const QJsonObject state = Json(Request("GET", "/api/v1/state"));
  EXPECT_EQ(state["instance"].toInt(), 1);
  EXPECT_EQ(state["source"].toString(), "Vora Plombix 1");
  EXPECT_FALSE(state["busy"].toBool());
}

// Open picture, Open overlay and Recent pictures through the menu, the file
// dialog answered by the test.
TEST_F(RemoteTest, OpenAndRecentPicturesGoThroughTheMenu) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string first = WritePicture("first.png", 64, 36, Qt::red);
  const std::string second = WritePicture("second.png", 64, 36, Qt::blue);
  const auto action = [&](const QString& text) -> QAction* {
    for (QAction* a : dlg.optionsMenu()->actions())
      if (a->text() == text) return a;
    return nullptr;
  };
  QAction* open = action(QString::fromUtf8("Open picture\u2026"));
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->shortcut(), QKeySequence(QKeySequence::Open));

  chosenFile = QString::fromStdString(first);
  open->trigger();
  dlg.waitForLoads();
  EXPECT_EQ(dlg.core.onAirPath, first);
  ASSERT_EQ(chooserCalls.size(), 1u);
  EXPECT_TRUE(chooserCalls[0].filter.contains("*.png"));
  EXPECT_TRUE(chooserCalls[0].filter.contains("*.jpg"));
  chosenFile = QString::fromStdString(second);
  open->trigger();
  dlg.waitForLoads();
  EXPECT_EQ(chooserCalls[1].folder, dir.path());  // the folder of the last picture
  chosenFile.clear();                              // cancelled: nothing changes
  open->trigger();
  dlg.waitForLoads();
  EXPECT_EQ(dlg.core.onAirPath, second);

  chosenFile = QString::fromStdString(first);
  action(QString::fromUtf8("Open overlay\u2026"))->trigger();
  dlg.waitForLoads();
  EXPECT_TRUE(dlg.core.overlayLoaded);
  EXPECT_EQ(dlg.config.overlayName, first);

  QMenu* recent = action("Recent pictures")->menu();
  emit recent->aboutToShow();
  ASSERT_EQ(recent->actions().size(), 2);
  EXPECT_EQ(recent->actions()[0]->text().toStdString(), second);  // newest first
  recent->actions()[1]->trigger();
  dlg.waitForLoads();
  EXPECT_EQ(dlg.core.onAirPath, first);
  // Kept in its own file for the next start, never in the settings file.
  RecentFiles kept(dir.path().toStdString() + "/recent.txt");
  const std::vector<std::string> newestFirst{first, second};
  for (int i = 0; i < 1000 && kept.entries() != newestFirst; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    (void)kept.load();
  }
  EXPECT_EQ(kept.entries(), newestFirst);
}

// The command line's FILE goes on air after the start-up period in place of
// the restored picture; one that does not load says so.
TEST_F(RemoteTest, CommandLineFileShowsAfterTheStartUp) {
  const std::string photo = WritePicture("photo.png", 64, 36, Qt::yellow);
  for (const bool loads : {true, false}) {
    startFile = loads ? photo : dir.path().toStdString() + "/missing.png";
    CNDIPlombixDlg& dlg = OpenAndStart();
    EXPECT_TRUE(dlg.core.onAirPath.empty());
    dlg.onTimer(TIMER_RESTORE);
    dlg.waitForLoads();
    EXPECT_EQ(dlg.config.imagePath.toUtf8(), startFile);
    if (loads) {
      EXPECT_EQ(dlg.core.onAirPath, photo);
    } else {
      EXPECT_TRUE(dlg.core.onAirPath.empty());
      EXPECT_EQ(Text(dlg, 1051), "Cannot show missing.png: file not found");
    }
    dialog.reset();
  }
}

// The web remote in a real browser: clicking "next" steps the slideshow.
TEST_F(RemoteTest, WebRemoteStepsTheSlideshowInARealBrowser) {
  if (HeadlessChromium::Executable().empty()) GTEST_SKIP() << "chromium is not installed";
  CNDIPlombixDlg& dlg = OpenRemote();
  const std::string base = WriteSeries(3);
  dlg.onTimer(TIMER_RESTORE);
  dlg.waitForLoads();
  PressStartAndEnd(dlg, base, 1, 3);
  dlg.config.live.slideshow.currentNumber = 1;
  qobject_cast<QAbstractButton*>(dlg.control(1056))->click();  // by hand

  // The browser is driven from its own thread: this one is the window's.
  auto browsing = std::async(std::launch::async, [url = dlg.controlUrl()]() -> std::string {
    HeadlessChromium browser;
    std::string error;
    if (!browser.start(&error) || !browser.open(url, &error)) return "browser: " + error;
    if (!browser.waitFor("document.body.dataset.ready === '1'", 20000)) return "page not ready";
    if (!browser.click("#next")) return "no next button";
    if (!browser.waitFor("document.querySelector('#slideshow').textContent.includes('2')", 20000))
      return "the page did not follow the state";
    return {};
  });
  while (browsing.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (dlg.core.busy()) dlg.waitForLoads();
  }
  EXPECT_EQ(browsing.get(), "");
  EXPECT_EQ(dlg.config.live.slideshow.currentNumber, 2);
  EXPECT_EQ(dlg.core.onAirPath, base + "2.png");
}

}  // namespace
}  // namespace plombix::testing
