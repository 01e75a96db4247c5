// The remote-control API through real HTTP on loopback, against a fake host on
// its own "window" thread: each endpoint's effect, errors, late answers.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>

#include <future>

#include "control_test_support.h"
#include "output_formats.h"

using namespace control_test;
using namespace std::chrono_literals;
using plombix::FrameRateEntries, plombix::ResolutionEntries;

namespace {

using ControlApi = ControlServerTest;

// The value at a dotted path ("output.width", "colours.1") of a JSON answer, as text.
std::string At(const HttpReply& r, const std::string& path) {
  QJsonValue v = Json(r);
  for (const QString& key : QString::fromStdString(path).split('.'))
    v = v.isArray() ? v.toArray().at(key.toInt()) : v.toObject().value(key);
  if (v.isBool()) return v.toBool() ? "true" : "false";
  return v.isDouble() ? std::to_string(v.toInt()) : v.isNull() ? "null" : v.toString().toStdString();
}

TEST_F(ControlApi, StateAndPageAnswers) {
  HttpReply r = Http(port(), "GET", "/api/v1/state");
  EXPECT_EQ(r.header("content-type") + " " + r.header("cache-control"), "application/json; charset=utf-8 no-store");
  // The members as the README lists them, and values the window's own tests do not read back:
  EXPECT_EQ(Json(r).keys().join(' '), "background borders busy colours cued instance oscIgnored output overlay picture "
                                       "range receivers scaling slideshow source tally transition watch");
  for (const auto& [path, value] : std::map<std::string, std::string>{{"tally", "program"},
           {"picture.colourProfile", "Display P3"}})
    EXPECT_EQ(At(r, path), value) << path;
  ControlState none = SampleState();
  none.picture.reset();
  host_.setState(none);
  EXPECT_EQ(At(Http(port(), "GET", "/api/v1/state"), "picture"), "null");
  // Names with quotes, backslashes, control characters, other scripts and bytes that are not UTF-8.
  for (const auto& [name, shown] : std::map<std::string, std::string>{{"a\"b\\c\n\x01.png", "a\"b\\c\n\x01.png"},
           {"\xc3\xa9t\xc3\xa9 \xf0\x9f\x8e\xac.png", "\xc3\xa9t\xc3\xa9 \xf0\x9f\x8e\xac.png"},
           {"\xff\xc3.\xed\xa0\x80\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd.\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"}}) {
    none.source = name;
    host_.setState(none);
    EXPECT_EQ(At(Http(port(), "GET", "/api/v1/state"), "source"), shown);
  }
  // The web remote: one page, nothing from elsewhere.
  r = Http(port(), "GET", "/");
  EXPECT_EQ(r.header("content-type"), "text/html; charset=utf-8");
  EXPECT_NE(r.header("content-security-policy").find("default-src 'none'"), std::string::npos);
  for (const char* outside : {"http://", "https://", "//cdn", "src=\""}) EXPECT_EQ(r.body.find(outside), r.body.npos);
  for (const char* path : {"/", "/api/v1/state"}) EXPECT_EQ(Http(port(), "HEAD", path).status, 200) << path;
  EXPECT_EQ(UrlFor("0.0.0.0", 5982), "http://127.0.0.1:5982/");  // every interface: shown as loopback
}

using Pair = std::pair<int, int>;
Pair Figures(std::optional<ResolutionName> r) { return r ? Pair(r->width, r->height) : Pair(); }
Pair Figures(std::optional<FrameRateName> r) { return r ? Pair(r->frameRateN, r->frameRateD) : Pair(); }

// The window's menu texts name the figures of their entries, and nothing else parses.
TEST(ControlNames, TheWindowsMenuTextsGiveTheirFigures) {
  ASSERT_EQ(ResolutionNames().size() + FrameRateNames().size(), ResolutionEntries().size() + FrameRateEntries().size());
  for (const auto& menu : ResolutionEntries())
    for (const char* text : {menu.caption, menu.menuText})
      EXPECT_EQ(Figures(ParseResolution(text)), std::pair(menu.width, menu.height)) << text;
  for (const auto& menu : FrameRateEntries())  // "29.97p"
    EXPECT_EQ(Figures(ParseFrameRate(menu.text)), std::pair(menu.frameRateN, menu.frameRateD)) << menu.text;
  for (const char* bad : {"1920X1080", "1920x1080 ", "1920*1080", "24", "29.97pp", "p", ""})
    EXPECT_FALSE(ParseResolution(bad) || ParseFrameRate(bad)) << bad;
}

// Each request's answer: 200 with the window's calls (as the fake host
// records them, "; " between two), the window's refusal, or an error found
// before the window is asked.
TEST_F(ControlApi, EachRequestCallsItsHandlerOrIsRefused) {
  const std::string fifo = dir_.file("pipe.png"), p = picture_;
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  using K = HostOutcome::Kind;
  struct Row { std::string path, body; int status; std::string expected; HostOutcome window = {}; };
  std::vector<Row> rows = {
      {"/api/v1/show", show_, 200, "show " + p},
      {"/api/v1/slideshow/previous", "", 200, "step previous"},
      {"/api/v1/slideshow/last", "", 200, "step last"},
      {"/api/v1/output", R"({"resolution":"640x360","frameRate":"50p","alpha":false})", 200,
       "output 640x360 60000/1200 noalpha"},
      {"/api/v1/background", R"({"mode":"grad5","colours":["#FFaa00","#010203"]})", 200,
       "background grad5 #ffaa00 #010203"},
      {"/api/v1/background", R"({"mode":"transparent"})", 200, "background transparent -"},
      {"/api/v1/transition", R"({"mode":"fade","speed":3,"x":{"y":[]}})", 200, "transition fade"},  // unknowns ignored
      {"/api/v1/overlay", R"({"use":true})", 200, "overlay use on"},
      {"/api/v1/overlay", R"({"use":false,"path":")" + p + R"("})", 200, "overlay " + p + "; overlay use off"},
      {"/api/v1/show", show_, 404, "Cannot show slide004.png: gone", {K::NotFound, "Cannot show slide004.png: gone"}},
      {"/api/v1/grab", "", 409, "the output failed to start", {K::NotPossibleNow, "the output failed to start"}},
      // Without a reason from the window: the status's own words.
      {"/api/v1/slideshow/next", "", 409, "not possible now", {K::NotPossibleNow, ""}},
      {"/api/v1/overlay", show_, 422, "the file cannot be shown as a picture", {K::DoesNotDecode, ""}},
      {"/api/v1/nothing", "", 404, "no such endpoint"},
      {"/api/v1/state", "", 405, "GET"},  // the Allow header's first method too
      {"/api/v1/transition", R"({"mode":"fade")", 400, "malformed JSON"},
      {"/api/v1/transition", R"(["fade"])", 400, "JSON object"},
      {"/api/v1/show", std::string(20000, ' '), 413, "too large"},
      {"/api/v1/grab", std::string(5000, '[') + std::string(5000, ']'), 400, "malformed JSON"},
      {"/api/v1/show", "{\"path\":\"/tmp/\xff\xfe.png\"}", 400, "malformed JSON"},
      {"/api/v1/watch", R"({"on":"yes"})", 400, "true or false"},
      {"/api/v1/scaling", R"({"mode":1})", 400, "string"},
      {"/api/v1/watch", "{}", 400, "expected \"on\""},
      {"/api/v1/output", R"({"resolutoin":"1920x1080"})", 400, "expected"},
      {"/api/v1/output", R"({"resolution":"1921x1080","alpha":false})", 400, "unknown resolution"},
      {"/api/v1/output", R"({"frameRate":"24"})", 400, "unknown frame rate"},
      {"/api/v1/background", R"({"mode":"grad7"})", 400, "unknown background"},
      {"/api/v1/background", R"({"colours":["#20308","#000000"]})", 400, "two colours"},
      {"/api/v1/show", R"({"path":"photo.jpg"})", 400, "absolute"},
      {"/api/v1/show", R"({"path":""})", 400, "empty"},
      {"/api/v1/show", R"({"path":"/tmp/a\u0000b"})", 400, "NUL"},
      {"/api/v1/show", PathBody(std::string(1, '/').append(5000, 'a')), 400, "too long"},
      {"/api/v1/show", PathBody(dir_.file("none.png")), 404, "no such file"},
      {"/api/v1/show", PathBody(dir_.path()), 422, "folder"},
      {"/api/v1/show", PathBody(fifo), 422, "not a regular file"},
      {"/api/v1/overlay", R"({"path":"/dev/zero"})", 422, "not a regular file"},
  };
  if (::geteuid() != 0) {  // root reads every file
    ASSERT_EQ(::chmod(picture_.c_str(), 0), 0);
    rows.push_back({"/api/v1/show", show_, 422, "cannot be read"});
  }
  int done = SampleState().receivers;
  for (const Row& row : rows) {
    host_.clearCalls();
    host_.setOutcome(row.window);
    const HttpReply r = Http(port(), "POST", row.path, row.body);
    EXPECT_EQ(r.status, row.status) << row.path << " " << row.body << ": " << r.body;
    std::string calls;
    for (const std::string& call : host_.calls()) calls += (calls.empty() ? "" : "; ") + call;
    done += row.status == 200 ? int(host_.calls().size()) : 0;  // the answer's state is read after the calls
    if (row.status == 200) EXPECT_EQ(calls, row.expected) << row.body;
    else EXPECT_NE(At(r, "error").find(row.expected), std::string::npos) << row.body << ": " << r.body;
    EXPECT_EQ(At(r, "receivers"), row.status == 200 ? std::to_string(done) : "") << row.body;
    EXPECT_EQ(calls.empty(), row.status != 200 && row.window.ok()) << row.body;
    EXPECT_TRUE(row.status != 405 || r.header("allow").rfind(row.expected, 0) == 0) << row.path;
  }
}

// A show is answered once its picture is on air, or when the server stops,
// the window misses the deadline or drops it.
TEST_F(ControlApi, ShowAnswersWhenThePictureIsOnAirWithoutHoldingOthersUp) {
  host_.setAsyncMode(FakeHost::AsyncMode::Hold);
  auto pendingShow = [&] {
    host_.clearCalls();
    auto pending = std::async(std::launch::async, [&] { return Http(port(), "POST", "/api/v1/show", show_); });
    EXPECT_TRUE(host_.waitForCalls(1));
    return pending;
  };
  auto pending = pendingShow();
  // While the picture loads, the state is answered, and the show is not.
  EXPECT_EQ(Http(port(), "GET", "/api/v1/state").status, 200);
  EXPECT_EQ(pending.wait_for(100ms), std::future_status::timeout);
  host_.completeHeld(HostOutcome::done());
  EXPECT_EQ(At(pending.get(), "receivers"), std::to_string(SampleState().receivers + 1));
  // Stopping the server with a show in flight answers it and returns; the
  // late completion after the server is ignored.
  pending = pendingShow();
  ControlSettings again = LoopbackSettings();
  again.port = port();  // for the restart below
  server_.reset();
  const HttpReply stopped = pending.get();
  EXPECT_TRUE(stopped.status == 503 || stopped.closedEarly) << stopped.status;
  host_.completeHeld(HostOutcome::done());
  // Started again on the same port at once (a second server there says why
  // it cannot): a window that never answers gets the client 503; the late
  // answer goes nowhere and the server carries on.
  restart(again, ControlLimits{.hostDeadline = 300ms});
  std::string error;
  EXPECT_FALSE(ControlServer::Start(again, host_, host_.poster(), &error));
  EXPECT_NE(error.find("Address already in use"), std::string::npos) << error;
  EXPECT_EQ(Http(port(), "POST", "/api/v1/show", show_).status, 503);
  host_.completeHeld(HostOutcome::done());
  EXPECT_EQ(Http(port(), "GET", "/api/v1/state").status, 200);
  // A show the window drops (superseded, say) is answered 409.
  host_.setAsyncMode(FakeHost::AsyncMode::Drop);
  EXPECT_EQ(Http(port(), "POST", "/api/v1/show", show_).status, 409);
}

TEST_F(ControlApi, ChunkedBodyTooLargeIs413) {
  // A declared body too large is answered before it is sent (and in the
  // table above); one sent in chunks is read, dropped and answered 413.
  std::string chunked = "POST /api/v1/show HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 8; ++i) chunked += "2000\r\n" + std::string(8192, ' ') + "\r\n";
  EXPECT_EQ(plombix::testing::RawExchange(port(), chunked + "0\r\n\r\n").status, 413);
  EXPECT_TRUE(host_.calls().empty());
}

}  // namespace

// GET /api/v1/events: Server-Sent Events, or a WebSocket when asked to
// upgrade; each client first gets the state, then every change; 32 clients
// at most; a bad handshake answered; the server stops with clients open.
TEST_F(ControlApi, EventsPushEveryChangeToAtMost32Clients) {
  using plombix::testing::RawConnect, plombix::testing::RawSendAll;
  // Streams outlive the deadlines of a request: they are never cut for them.
  restart(LoopbackSettings(), {.headDeadline = std::chrono::milliseconds(200), .requestDeadline = std::chrono::milliseconds(300)});
  const std::string sse = "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const std::string ws = "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                         "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: ";
  // Reads from `fd` until `text` has arrived (or 5 s).
  const auto until = [](int fd, const std::string& text) {
    std::string got;
    char buffer[4096];
    for (ssize_t n; got.find(text) == got.npos && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) got.append(buffer, size_t(n));
    return got;
  };
  std::vector<int> clients;
  for (int i = 0; i < 32; ++i) {
    clients.push_back(RawConnect(port()));
    ASSERT_TRUE(RawSendAll(clients.back(), i % 2 ? ws + "13\r\n\r\n" : sse));
    const std::string first = until(clients.back(), "\"instance\"");
    EXPECT_NE(first.find(i % 2 ? "HTTP/1.1 101" : "text/event-stream"), first.npos) << first;
  }
  for (const std::string& request : {sse, ws + "13\r\n\r\n"})
    EXPECT_EQ(plombix::testing::RawExchange(port(), request).status, 503) << request;
  const HttpReply old = plombix::testing::RawExchange(port(), ws + "8\r\n\r\n");
  EXPECT_EQ(std::pair(old.status, old.header("sec-websocket-version")), std::pair(426, std::string("13")));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  server_->publish("tally", SampleState());
  for (size_t i = 0; i < clients.size(); ++i)
    EXPECT_NE(until(clients[i], "\"tally\",\"state\"").find("\"type\":\"tally\""), std::string::npos) << i;
  server_.reset();  // with 32 clients open
  for (int fd : clients) ::close(fd);
}

