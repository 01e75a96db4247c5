// Driving the real window without the mouse: the remote-control API over
// real HTTP, Open and Recent pictures through the menu, and the command
// line's FILE.
#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QImage>
#include <QJsonDocument>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "ccol_button.h"
#include "file_bytes.h"
#include "control_test_support.h"
#include "dialog_fixture.h"
#include "headless_chromium.h"
#include "step_controls.h"
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
    auto reply = std::async(std::launch::async, [=, this] { return control_test::Http(port, method, path, body); });
    while (reply.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return reply.get();
  }

  static std::string Text(CNDIPlombixDlg& dlg, int id) {
    if (auto* label = qobject_cast<QLabel*>(dlg.control(id))) return label->text().toStdString();
    return qobject_cast<QAbstractButton*>(dlg.control(id))->text().toStdString();
  }
  static std::string EditText(CNDIPlombixDlg& dlg, int id) {
    return qobject_cast<QLineEdit*>(dlg.control(id))->text().toStdString();
  }
  static bool On(CNDIPlombixDlg& dlg, int id) { return qobject_cast<QAbstractButton*>(dlg.control(id))->isChecked(); }

  int port = 0;
};

// Every endpoint through the real window: its answer, the state it reports,
// what the window shows and what the runtime receives.
TEST_F(RemoteTest, EveryEndpointActsThroughTheWindowsOwnHandlers) {
  CNDIPlombixDlg& dlg = OpenRemote();
  const std::string good = WritePicture("card.png", 320, 180, QColor(10, 200, 30));
  const std::string cued = WritePicture("next.png", 64, 36, Qt::blue);
  const std::string second = WritePicture("second.png", 160, 90, QColor(200, 10, 30));
  const std::string text = dir.path().toStdString() + "/notes.png";
  QFile notes(QString::fromStdString(text));
  ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write("no picture here") > 0);
  notes.close();
  const auto str = [](const QJsonValue& v) { return v.toString().toStdString(); };
  using control_test::PathBody;
  using S = std::string;
  const struct { std::string path, body; int status; std::function<void(const QJsonObject& state)> check; } rows[] = {
      {"/api/v1/show", PathBody(good), 200, [&](const QJsonObject& s) {
         EXPECT_EQ(std::tuple(str(s["picture"]["path"]), s["picture"]["width"].toInt(), Text(dlg, 1051)),
                   std::tuple(good, 320, S("card.png")));
         EXPECT_EQ(FrameSends(Calls()).back().frame.xres, 1280);
       }},
      {"/api/v1/show", PathBody(text), 422, [&](const QJsonObject&) {
         EXPECT_EQ(dlg.core.onAirPath + " " + Text(dlg, 1051), good + " Cannot show notes.png: not a picture");
       }},
      {"/api/v1/output", R"({"resolution":"1920x1080","frameRate":"50","alpha":false})", 200,
       [&](const QJsonObject& s) {
         const QJsonValue o = s["output"];
         EXPECT_EQ(std::tuple(o["width"].toInt(), o["frameRateN"].toInt(), o["frameRateD"].toInt(), o["alpha"]),
                   std::tuple(1920, 60000, 1200, QJsonValue(false)));
         EXPECT_EQ(Text(dlg, 1002) + ", " + Text(dlg, 1003), "1920 x 1080, 50p");
         EXPECT_TRUE(dlg.optionsAction(IDM_NOALPHA)->isChecked());
         EXPECT_EQ(FrameSends(Calls()).back().frame.FourCC, NdiFourCC::BGRX);
       }},
      {"/api/v1/background", R"({"mode":"grad5","colours":["#102030","#405060"]})", 200, [&](const QJsonObject& s) {
         EXPECT_EQ(std::tuple(str(s["background"]), str(s["colours"][0]), Text(dlg, 1052), dlg.config.live.fillColour2),
                   std::tuple(S("grad5"), S("#102030"), S("Grad Fill 5"), 0x405060u));
       }},
      {"/api/v1/scaling", R"({"mode":"fill"})", 200, [&](const QJsonObject& s) {
         EXPECT_EQ(std::tuple(str(s["scaling"]), On(dlg, 1006), Text(dlg, 1016)),
                   std::tuple(S("fill"), true, S("Fill screen, crop where needed")));
       }},
      {"/api/v1/transition", R"({"mode":"fade"})", 200,
       [&](const QJsonObject& s) { EXPECT_EQ(str(s["transition"]) + " " + Text(dlg, 1021), "fade Fade"); }},
      {"/api/v1/range", R"({"mode":"video"})", 200,
       [&](const QJsonObject& s) { EXPECT_EQ(str(s["range"]) + " " + Text(dlg, 1049), "video 16-235"); }},
      {"/api/v1/watch", R"({"on":true})", 200,
       [&](const QJsonObject& s) { EXPECT_TRUE(s["watch"].toBool() && Text(dlg, 1000) == "Watching"); }},
      {"/api/v1/grab", "{}", 200, [&](const QJsonObject&) { EXPECT_EQ(Text(dlg, 1048), "Grabbed"); }},
      {"/api/v1/overlay", R"({"use":true})", 409,  // no overlay yet
       [&](const QJsonObject& s) { EXPECT_FALSE(s["overlay"]["use"].toBool()); }},
      {"/api/v1/overlay", PathBody(good), 200,
       [&](const QJsonObject& s) { EXPECT_EQ(str(s["overlay"]["path"]) + " " + Text(dlg, 1068), good + " " + good); }},
      {"/api/v1/overlay", R"({"use":true})", 200,
       [&](const QJsonObject& s) { EXPECT_TRUE(s["overlay"]["use"].toBool() && On(dlg, 1066)); }},
      {"/api/v1/cue", PathBody(cued), 200,  // ready, not on air
       [&](const QJsonObject& s) { EXPECT_EQ(str(s["cued"]) + " " + str(s["picture"]["path"]), cued + " " + good); }},
      {"/api/v1/cue", PathBody(text), 422, [&](const QJsonObject& s) { EXPECT_EQ(str(s["cued"]), cued); }},
      {"/api/v1/take", "{}", 200,
       [&](const QJsonObject& s) { EXPECT_EQ(str(s["cued"]) + str(s["picture"]["path"]), cued); }},
      {"/api/v1/take", "{}", 409, [&](const QJsonObject& s) { EXPECT_TRUE(s["cued"].isNull()); }},
      {"/api/v1/slideshow/next", "{}", 409,  // the slideshow is off
       [&](const QJsonObject& s) { EXPECT_EQ(str(s["slideshow"]["mode"]), "off"); }},
      {"/api/v1/overlay", R"({"use":false})", 200, [&](const QJsonObject& s) {
         EXPECT_FALSE(s["overlay"]["use"].toBool() || On(dlg, 1066) || dlg.config.live.overlayOn);
       }},
      {"/api/v1/show", PathBody(second), 200, [&](const QJsonObject&) {}},
      {"/api/v1/overlay/grab", "", 200,
       [&](const QJsonObject& s) { EXPECT_EQ(str(s["overlay"]["path"]) + " " + Text(dlg, 1068), second + " " + second); }},
      {"/api/v1/borders", R"({"sides":5,"topBottom":10,"use":true})", 200, [&](const QJsonObject& s) {
         const QJsonValue b = s["borders"];
         EXPECT_EQ(std::tuple(b["sides"].toInt(), b["topBottom"].toInt(), b["use"].toBool(), EditText(dlg, 1062), On(dlg, 1020)),
                   std::tuple(5, 10, true, S("5"), true));
       }},
      {"/api/v1/borders", R"({"equal":true,"topBottom":100})", 422,  // nothing done
       [&](const QJsonObject& s) { EXPECT_FALSE(s["borders"]["equal"].toBool() || On(dlg, 1019)); }},
      {"/api/v1/config/save", "", 200, [&](const QJsonObject&) {
         EXPECT_TRUE(QFile::exists(QString::fromStdString(settingsDir + "/last.plq")));
         EXPECT_TRUE(prompter.boxes.empty());  // no box confirms it
       }},
  };
  const auto run = [&](const auto& table) {
    for (const auto& row : table) {
      const HttpReply reply = Request("POST", row.path, row.body);
      EXPECT_EQ(reply.status, row.status) << row.path << " " << row.body << ": " << reply.body;
      dlg.waitForLoads();
      const HttpReply state = Request("GET", "/api/v1/state");
      ASSERT_EQ(state.status, 200) << row.path;
      row.check(control_test::Json(state));
    }
  };
  run(rows);
  // After the start-up period, the slideshow's own controls, then a step by hand.
  EXPECT_EQ(Request("POST", "/api/v1/cue", control_test::PathBody(good)).status, 200);
  EXPECT_EQ(Request("DELETE", "/api/v1/cue").status, 200);
  EXPECT_TRUE(control_test::Json(Request("GET", "/api/v1/state"))["cued"].isNull());
  const std::string base = WriteSeries(3);
  dlg.onTimer(TIMER_RESTORE);
  PressStartAndEnd(dlg, base, 1, 3);
  const auto number = [&](const QJsonObject& s, const char* key) { return s["slideshow"][key].toVariant().toString().toStdString(); };
  const std::remove_cvref_t<decltype(rows[0])> slideshowRows[] = {
      {"/api/v1/slideshow/goto", R"({"number":2})", 409, [&](const QJsonObject&) {}},  // the slideshow is off
      {"/api/v1/slideshow/mode", R"({"mode":"manual"})", 200,
       [&](const QJsonObject& s) { EXPECT_EQ(number(s, "mode") + " " + Text(dlg, 1056), "manual S/Show 0"); }},
      {"/api/v1/slideshow/goto", R"({"number":3})", 200,
       [&](const QJsonObject& s) { EXPECT_EQ(std::pair(number(s, "current"), dlg.core.onAirPath), std::pair(S("3"), base + "3.png")); }},
      {"/api/v1/slideshow/goto", R"({"number":4})", 422,  // outside 1..3: nothing moves
       [&](const QJsonObject& s) { EXPECT_EQ(std::pair(number(s, "current"), dlg.core.onAirPath), std::pair(S("3"), base + "3.png")); }},
      {"/api/v1/slideshow/duration", R"({"seconds":7})", 200,
       [&](const QJsonObject& s) { EXPECT_EQ(number(s, "duration") + " " + EditText(dlg, 1074), "7 7"); }},
      {"/api/v1/slideshow/duration", R"({"seconds":1})", 422, [&](const QJsonObject& s) { EXPECT_EQ(number(s, "duration"), "7"); }},
      {"/api/v1/slideshow/mode", R"({"mode":"auto"})", 200,
       [&](const QJsonObject& s) { EXPECT_EQ(std::pair(number(s, "mode"), dlg.timerPeriod(TIMER_SLIDESHOW)), std::pair(S("auto"), 7000)); }},
      {"/api/v1/slideshow/mode", R"({"mode":"manual"})", 200, [&](const QJsonObject&) {}},
      {"/api/v1/slideshow/end", "{}", 200,  // from the picture on air, shot3
       [&](const QJsonObject& s) { EXPECT_EQ(number(s, "end") + " " + Text(dlg, 1059), "3 End at:- 3"); }},
      {"/api/v1/slideshow/format", R"({"format":"01"})", 200,
       [&](const QJsonObject& s) { EXPECT_TRUE(number(s, "format") == "01" && On(dlg, 1008)); }},
      {"/api/v1/slideshow/format", R"({"format":"1"})", 200, [&](const QJsonObject&) {}},
  };
  run(slideshowRows);
  dlg.config.live.slideshow.currentNumber = 1;
  const QJsonObject stepped = control_test::Json(Request("POST", "/api/v1/slideshow/next"));  // once on air
  EXPECT_EQ(std::pair(stepped["slideshow"]["current"].toInt(), str(stepped["picture"]["path"])), std::pair(2, base + "2.png"));
  const QJsonObject state = control_test::Json(Request("GET", "/api/v1/state"));
  EXPECT_EQ(std::tuple(state["instance"].toInt(), str(state["source"]), state["busy"].toBool()),
            std::tuple(1, S("Vora Plombix 1"), false));
}

// Each change reaches a real WebSocket client (chromium's) from its cause, as
// one message with the whole state, the picture's with its trigger and a
// failed load's with its reason; a change made with the window's own
// controls within 50 ms of the tick that finds it.
TEST_F(RemoteTest, EveryChangeReachesAWebSocketClient) {
  if (HeadlessChromium::Executable().empty()) GTEST_SKIP() << "chromium is not installed";
  CNDIPlombixDlg& dlg = OpenRemote();
  const std::string good = WritePicture("card.png", 64, 36, Qt::green), base = WriteSeries(2);
  QCoreApplication::processEvents();  // the first state, read on the window's thread
  HeadlessChromium browser;
  std::string error;
  ASSERT_TRUE(browser.start(&error) && browser.open(dlg.controlUrl(), &error)) << error;
  ASSERT_TRUE(browser.evaluate(R"(window.got = []; window.mark = 0;
    window.has = (type, extra) => got.slice(mark).some((m) => m.type === type && m.extra.includes(extra));
    new Promise((ok, fail) => {
      const ws = new WebSocket('ws://' + location.host + '/api/v1/events');
      ws.onmessage = (e) => { const m = JSON.parse(e.data);
                              got.push({type: m.type, at: Date.now(), extra: m.trigger || m.reason || ''}); };
      ws.onopen = () => ok(true);
      ws.onerror = () => fail(new Error('refused'));
    }))", &error)) << error;
  ASSERT_TRUE(browser.waitFor("got.length > 0 && got[0].type === 'state'", 5000));
  const auto click = [&](int id) { qobject_cast<QAbstractButton*>(dlg.control(id))->click(); };
  const auto now = [] {
    return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch()).count());
  };
  // Cut and Fade pressed six times, each change timed from the tick that
  // finds it to its arrival: half of them within 50 ms (one alone may wait
  // for a busy machine's processor; a client served late waits every time).
  std::vector<qint64> late;
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(browser.evaluate("mark = got.length"));
    click(1021);
    const qint64 tick = now();
    dlg.onTimer(TIMER_TICK);
    ASSERT_TRUE(browser.waitFor("has('transition', '')", 5000));
    late.push_back(qint64(browser.evaluate("got[mark].at")->toDouble()) - tick);
  }
  std::sort(late.begin(), late.end());
  EXPECT_LE(late[2], 50) << "changes reached the client late: " << late[0] << " ... " << late[5] << " ms";
  const struct { const char* expect; std::function<void()> cause; } rows[] = {
      {"has('transition', '')", [&] { click(1021); }},
      {"has('range', '') && has('watch', '') && has('borders', '') && has('scaling', '')", [&] {
         for (int id : {1049, 1000, 1020, 1006, 1021}) click(id);  // and back to Cut
       }},
      {"has('loading', '') && has('picture', 'drop')", [&] { dlg.OnDropFiles({QString::fromStdString(good)}); }},
      {"has('loadFailed', 'gone.png: file not found')", [&] { dlg.OnDropFiles({dir.path() + "/gone.png"}); }},
      {"has('picture', 'api')", [&] { Request("POST", "/api/v1/show", control_test::PathBody(good)); }},
      {"has('overlay', '')", [&] { dlg.LoadOverlayFile(good); }},
      {"has('background', '') && has('output', '')", [&] {
         MenuAction(dlg, 1052, "White")->trigger();
         MenuAction(dlg, 1002, "1920 x 1080")->trigger();
       }},
      {"has('receivers', '') && has('tally', '')", [&] {
         fake->connections = 1;
         fake->tally = {true, false};
         for (int tick = 0; tick < 30; ++tick) dlg.onTimer(TIMER_TICK);
       }},
      {"has('slideshowRange', '') && has('slideshowMode', '')", [&] {
         dlg.onTimer(TIMER_RESTORE);
         PressStartAndEnd(dlg, base, 1, 2);
         click(1056);  // by hand
       }},
      {"has('slideshowNumber', '') && has('picture', 'key')", [&] { dlg.onStep(StepNext); }},
      {"has('picture', 'pad')", [&] { dlg.onStep(StepLast, "pad"); }},
      {"has('slideshowMode', '') && has('picture', 'timer')", [&] {
         click(1056);  // automatic
         dlg.onTimer(TIMER_SLIDESHOW);
       }},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(browser.evaluate("mark = got.length"));
    row.cause();
    dlg.waitForLoads();
    dlg.onTimer(TIMER_TICK);
    EXPECT_TRUE(browser.waitFor(row.expect, 5000)) << row.expect << "\n"
        << browser.evaluate("JSON.stringify(got.slice(mark))")->toString().toStdString();
  }
}

// OSC messages sent by oscsend go through the window's handlers (a malformed
// one counted as ignored); each picture on air is one line of the as-run
// log, with its trigger, also read over the API; the thumbnails are the
// cued picture and the frame on air.
TEST_F(RemoteTest, OscAsRunAndThumbnails) {
  if (std::system("command -v oscsend >/dev/null") != 0) GTEST_SKIP() << "oscsend is not installed (liblo-tools)";
  CNDIPlombixDlg& dlg = OpenRemote();
  EXPECT_EQ(Request("GET", "/api/v1/thumbnail.jpg").status, 404);  // nothing of the operator's on air
  const std::string a = WritePicture("a.png", 64, 36, Qt::red), b = WritePicture("b.png", 64, 36, Qt::blue);
  const auto eventually = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i) {  // up to 2 s
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      QCoreApplication::processEvents();
      dlg.waitForLoads();
    }
    return done();
  };
  const struct { std::string message; std::function<bool()> done; } rows[] = {
      {"/plombix/show s " + a, [&] { return dlg.core.onAirPath == a; }},
      {"/plombix/transition s fade", [&] { return dlg.config.live.fadeOn != 0; }},
      {"/plombix/background s white", [&] { return dlg.core.backgroundMode == 1; }},
      {"/plombix/show i 5", [&] { return control_test::Json(Request("GET", "/api/v1/state"))["oscIgnored"].toInt() == 1; }},
      {"/plombix/cue s " + b, [&] { return dlg.core.cuedPicture() != nullptr; }},
      {"/plombix/take", [&] { return dlg.core.onAirPath == b; }},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(std::system(("oscsend 127.0.0.1 " + std::to_string(dlg.oscPort()) + " " + row.message).c_str()), 0);
    EXPECT_TRUE(eventually(row.done)) << row.message;
    if (row.message.starts_with("/plombix/cue")) {
      EXPECT_EQ(Request("GET", "/api/v1/thumbnail.jpg?what=cued&width=32").header("content-type"), "image/jpeg");
    }
  }
  ASSERT_TRUE(Drop(dlg, {b}));
  for (int step = 0; step < 20; ++step) dlg.onTimer(TIMER_FADE);

  // The as-run file, and the API's view of it.
  QFile file(dir.path() + "/state/vora-plombix/as-run-1.jsonl");
  QList<QByteArray> lines;
  EXPECT_TRUE(eventually([&] {
    lines = file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    file.close();
    return lines.size() == 4;  // three lines and the last line break
  }));
  QFile bytes(QString::fromStdString(b));
  ASSERT_TRUE(bytes.open(QIODevice::ReadOnly));
  const QByteArray sha = QCryptographicHash::hash(bytes.readAll(), QCryptographicHash::Sha256).toHex();
  const QJsonObject last = QJsonDocument::fromJson(lines.value(2)).object();
  EXPECT_EQ(QJsonDocument::fromJson(lines.value(0)).object()["trigger"].toString() + " " +
                QJsonDocument::fromJson(lines.value(1)).object()["trigger"].toString() + " " + last["trigger"].toString() +
                " " + last["transition"].toString() + " " + last["sha256"].toString(),
            "api take drop fade " + QString::fromLatin1(sha));
  EXPECT_EQ(std::pair(last["size"].toInteger(), last["output"]["width"].toInt()), std::pair(qint64(bytes.size()), 1280));
  const QJsonArray entries = control_test::Json(Request("GET", "/api/v1/as-run?limit=1"))["entries"].toArray();
  EXPECT_EQ(entries.size() == 1 ? entries[0]["path"].toString().toStdString() : "", b);
  for (const char* query : {"?limit=0", "?since=now", "?since=2999-01-01T00:00:00Z"})
    EXPECT_EQ(Request("GET", std::string("/api/v1/as-run") + query).status, 400) << query;
  EXPECT_EQ(control_test::Json(Request("GET", "/api/v1/as-run?since=2200-01-01T00:00:00Z"))["entries"], QJsonArray());

  // The thumbnail: the blue picture, its output's 16:9, the width asked.
  const HttpReply thumb = Request("GET", "/api/v1/thumbnail.jpg?width=64");
  const QImage image = QImage::fromData(QByteArray::fromStdString(thumb.body), "JPEG");
  EXPECT_EQ(std::tuple(thumb.status, thumb.header("content-type"), image.width(), image.height()),
            std::tuple(200, std::string("image/jpeg"), 64, 36));
  EXPECT_GT(qBlue(image.pixel(32, 18)), 200);
  for (const auto& [query, status] : {std::pair("?width=15", 400), {"?width=641", 400}, {"?what=cued", 404}})
    EXPECT_EQ(Request("GET", std::string("/api/v1/thumbnail.jpg") + query).status, status) << query;
}

// An as-run log that cannot be written is said once in the window, without a
// box, and the pictures still go on air.
TEST_F(RemoteTest, AsRunFailureIsSaidOnceAndChangesNothingElse) {
  const std::string blocked = dir.path().toStdString() + "/blocked";
  QFile(QString::fromStdString(blocked)).open(QIODevice::WriteOnly);
  ::setenv("XDG_STATE_HOME", blocked.c_str(), 1);  // a file where the folder should be
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string a = WritePicture("a.png", 64, 36, Qt::red), b = WritePicture("b.png", 64, 36, Qt::blue);
  ASSERT_TRUE(Drop(dlg, {a}));
  for (int i = 0; i < 400 && Text(dlg, 1051).rfind("As-run log: ", 0) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(Text(dlg, 1051).rfind("As-run log: ", 0), 0u) << Text(dlg, 1051);
  ASSERT_TRUE(Drop(dlg, {b}));
  for (int i = 0; i < 40; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(5))) QCoreApplication::processEvents();
  EXPECT_EQ(std::pair(Text(dlg, 1051), dlg.core.onAirPath), std::pair(std::string("b.png"), b));
  EXPECT_TRUE(prompter.boxes.empty());
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
  const auto choose = [&](const std::string& file, QAction* entry) {
    chosenFile = QString::fromStdString(file);  // empty: cancelled, nothing changes
    entry->trigger();
    dlg.waitForLoads();
  };
  QAction* open = action(QString::fromUtf8("Open picture\u2026"));
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->shortcut(), QKeySequence(QKeySequence::Open));
  choose(first, open);
  EXPECT_EQ(dlg.core.onAirPath, first);
  ASSERT_EQ(chooserCalls.size(), 1u);
  EXPECT_TRUE(chooserCalls[0].filter.contains("*.png") && chooserCalls[0].filter.contains("*.jpg"));
  choose(second, open);
  EXPECT_EQ(chooserCalls[1].folder, dir.path());  // the folder of the last picture
  choose("", open);
  EXPECT_EQ(dlg.core.onAirPath, second);
  choose(first, action(QString::fromUtf8("Open overlay\u2026")));
  EXPECT_TRUE(dlg.core.overlayLoaded && dlg.config.overlayName == first);

  QMenu* recent = action("Recent pictures")->menu();
  ASSERT_EQ(recent->actions().size(), 2);
  EXPECT_EQ(recent->actions()[0]->text().toStdString(), second);  // newest first
  choose("", recent->actions()[1]);
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

// A show still loading (its file's read held up) when a signal ends the
// player: the client hears that the player is closing.
TEST_F(RemoteTest, ShowWaitingAtTheEndHearsThatThePlayerIsClosing) {
  CNDIPlombixDlg& dlg = OpenRemote();
  const std::string held = WritePicture("held.png", 64, 36, Qt::red);
  std::promise<void> answered;
  std::shared_future<void> heard = answered.get_future().share();
  std::atomic<bool> reading{false};
  SetFileReadHookForTesting([&](const std::string& path) {
    if (path != held) return;
    reading = true;
    heard.wait_for(std::chrono::seconds(5));
  });
  auto reply = std::async(std::launch::async, [&] {
    const HttpReply r = control_test::Http(port, "POST", "/api/v1/show", R"({"path":")" + held + R"("})");
    answered.set_value();
    return r;
  });
  while (!reading) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  dlg.EndWithoutQuestion();
  SetFileReadHookForTesting({});
  const HttpReply closing = reply.get();
  EXPECT_EQ(closing.status, 503);
  EXPECT_EQ(control_test::Json(closing)["error"].toString(), "the player is closing");
  EXPECT_TRUE(dlg.ended);
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
    EXPECT_EQ(dlg.config.imagePath.toUtf8(), loads ? startFile : "");  // a file not shown is not kept
    if (loads) {
      EXPECT_EQ(dlg.core.onAirPath, photo);
    } else {
      EXPECT_TRUE(dlg.core.onAirPath.empty());
      EXPECT_EQ(Text(dlg, 1051), "Cannot show missing.png: file not found");
    }
    dialog.reset();
  }
}

}  // namespace
}  // namespace plombix::testing
