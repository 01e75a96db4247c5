// The stand-in source with the clients operators use: a real browser
// (Debian's chromium, headless) on the page at "/", and ffmpeg on
// /stream.mjpg. Each test is skipped, saying why, where its program is not
// installed (CI installs both; a user's set-up need not).
#include <QJsonValue>
#include <stdlib.h>
#include <sys/wait.h>

#include <atomic>
#include <fstream>
#include <future>
#include <optional>
#include <thread>

#include "headless_chromium.h"
#include "standin_test_support.h"

using namespace standin_test;
using StandInClients = StandInTest;
using plombix::testing::HeadlessChromium;

namespace {

// The string value of a JavaScript expression in the page; empty (with
// `*error`) when there is none.
std::string Text(HeadlessChromium& browser, const char* expression, std::string* error) {
  const std::optional<QJsonValue> value = browser.evaluate(expression, error);
  return value ? value->toString().toStdString() : std::string();
}

// A frame of one colour (bytes blue, green, red, alpha).
TestFrame solidFrame(int width, int height, NdiFourCC fourcc, uint8_t b, uint8_t g, uint8_t r, uint8_t a = 255) {
  TestFrame t = MakeFrame(width, height, width * 4, fourcc, 0);
  for (size_t i = 0; i < t.bytes.size(); i += 4) t.bytes[i] = b, t.bytes[i + 1] = g, t.bytes[i + 2] = r, t.bytes[i + 3] = a;
  return t;
}

// What the page shows, read from its DOM: "state|width|height|centre pixel
// RGBA|format line|frame class|receivers line".
constexpr const char* kPageState = R"((() => {
  const c = document.getElementById("picture");
  let pixel = "";
  if (c.width > 0 && c.height > 0)
    pixel = Array.from(c.getContext("2d").getImageData(c.width >> 1, c.height >> 1, 1, 1).data).join(",");
  const text = id => document.getElementById(id).textContent;
  return [document.body.dataset.state, c.width, c.height, pixel, text("format"),
          document.getElementById("frame").className, text("receivers")].join("|");
})())";

}  // namespace

TEST_F(StandInClients, BrowserPageFollowsFormatChangesAndARestartAndTheBarePageIsThePictureAlone) {
  if (HeadlessChromium::Executable().empty()) GTEST_SKIP() << "chromium is not installed (CI installs it)";
  const std::string name = "Browser source";
  auto [s, port] = open(name);
  const TestFrame red = solidFrame(64, 36, NdiFourCC::BGRA, 0, 0, 255);
  ndi().sendVideoAsyncV2(s, &red.frame);

  HeadlessChromium browser;
  std::string error;
  ASSERT_TRUE(browser.start(&error) &&
              browser.open("http://127.0.0.1:" + std::to_string(port) + "/", &error))
      << error;
  std::string shown;
  std::vector<std::string> states;  // every state seen, in order
  // Reads the page until it shows `expected` (a prefix of kPageState's text).
  auto pageShows = [&](const std::string& expected, int timeoutMs) {
    return Eventually([&] {
      shown = Text(browser, kPageState, &error);
      if (const std::string state = shown.substr(0, shown.find('|')); states.empty() || states.back() != state)
        states.push_back(state);
      return shown.rfind(expected, 0) == 0;
    }, timeoutMs);
  };
  const std::string redShown = "live|64|36|255,0,0,255|64 \u00d7 36 \u00b7 29.97 fps \u00b7 BGRA|";
  ASSERT_TRUE(pageShows(redShown, 20000)) << shown << error;

  // A second receiver puts the source on program: the page's frame turns red.
  RawStream other;
  ASSERT_TRUE(other.open(port, "/stream.bgra"));
  const std::string id = other.head().headers.at("x-receiver-id");
  ASSERT_EQ(RawPost(port, "/tally?receiver=" + id + "&program=1&preview=0").status, 204);
  EXPECT_TRUE(pageShows(redShown + "program|2 receivers \u00b7 on program", 5000)) << shown;
  other.close();

  // An output change (size, alpha): the sender is destroyed and created
  // again; the page shows the new frame without reconnecting.
  states.clear();
  destroy(s);
  s = create(name);
  ASSERT_NE(s, nullptr);
  const TestFrame green = solidFrame(96, 54, NdiFourCC::BGRX, 0, 255, 0);
  ndi().sendVideoAsyncV2(s, &green.frame);
  EXPECT_TRUE(pageShows("live|96|54|0,255,0,255|96 \u00d7 54 \u00b7 29.97 fps \u00b7 BGRX|", 10000)) << shown;
  EXPECT_EQ(states, std::vector<std::string>{"live"});

  // A restart: the source goes away (its runtime ends), the page says it is
  // reconnecting, and comes back by itself once the source is published
  // again at its address.
  states.clear();
  destroy(s);
  ndi().destroy();
  EXPECT_TRUE(pageShows("reconnecting|96|54|0,255,0,255|", 10000)) << shown;
  // Meanwhile another source takes its address: the page never shows it
  // (it tries again after a second, and again after two more).
  std::ofstream(folder_ + "/ports/Intruder.port") << "name=Intruder\nport=" << port << "\n";
  NDIlib_send_instance_t intruder = create("Intruder");
  ASSERT_EQ(portOf("Intruder"), port);
  const TestFrame yellow = solidFrame(32, 18, NdiFourCC::BGRA, 0, 255, 255);
  ndi().sendVideoAsyncV2(intruder, &yellow.frame);
  EXPECT_FALSE(pageShows("live|32|18|255,255,0,255|", 2500)) << shown;
  destroy(intruder);
  ndi().destroy();
  s = create(name);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(portOf(name), port);
  const TestFrame blue = solidFrame(32, 18, NdiFourCC::BGRA, 255, 0, 0);
  ndi().sendVideoAsyncV2(s, &blue.frame);
  EXPECT_TRUE(pageShows("live|32|18|0,0,255,255|32 \u00d7 18 \u00b7 29.97 fps \u00b7 BGRA|", 20000)) << shown;
  // (The first look may still find it live, before it noticed the end.)
  if (!states.empty() && states.front() == "live") states.erase(states.begin());
  EXPECT_EQ(states, (std::vector<std::string>{"reconnecting", "live"}));

  // The bare page is the picture alone: its canvas holds a wholly transparent
  // frame, the page around it is transparent too, and nothing else is shown.
  const TestFrame clear = solidFrame(40, 20, NdiFourCC::BGRA, 0, 0, 255, 0);
  ndi().sendVideoAsyncV2(s, &clear.frame);
  ASSERT_TRUE(browser.open("http://127.0.0.1:" + std::to_string(port) + "/?bare=1", &error)) << error;
  constexpr const char* kBareState = R"((() => {
    const c = document.getElementById("picture");
    const pixel = c.width ? Array.from(c.getContext("2d").getImageData(20, 10, 1, 1).data).join(",") : "";
    const shown = id => getComputedStyle(document.getElementById(id)).display;
    return [c.width, pixel, getComputedStyle(document.body).backgroundColor, shown("info"), shown("state"),
            getComputedStyle(document.getElementById("frame")).borderTopWidth].join("|");
  })())";
  EXPECT_TRUE(Eventually([&] {
    shown = Text(browser, kBareState, &error);
    return shown == "40|0,0,0,0|rgba(0, 0, 0, 0)|none|none|0px";
  }, 20000)) << shown << error;
  ndi().sendVideoAsyncV2(s, nullptr);  // the frames' buffers are let go of before they are freed
}

// The README's recording command against a source that resends its still
// once a second, as the player does while someone receives: 8 s recorded
// make a file 8 s long (each picture stamped with the time it came, the
// file at a steady 25 frames a second), whose pictures are the one sent.
TEST_F(StandInClients, FfmpegRecordsAFileAsLongAsTheRecording) {
  if (std::system("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null") != 0)
    GTEST_SKIP() << "ffmpeg is not installed (CI installs it)";
  auto [s, port] = open("ffmpeg source");
  const TestFrame frame = MakeSmoothFrame(320, 180, 320 * 4, NdiFourCC::BGRA, 150);
  ndi().sendVideoAsyncV2(s, &frame.frame);
  std::atomic<bool> done{false};
  auto sender = std::async(std::launch::async, [&, s = s] {
    for (int tick = 0; !done; tick = (tick + 1) % 25) {
      if (tick == 0 && ndi().sendGetNoConnections(s, 0) > 0) ndi().sendVideoAsyncV2(s, &frame.frame);
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });
  const std::string out = folder_ + "/out.mkv", log = " >>'" + folder_ + "/ffmpeg.log' 2>&1";
  const std::string record =
      "timeout 20 ffmpeg -nostdin -loglevel error -reconnect 1 -reconnect_at_eof 1 -reconnect_streamed 1"
      " -reconnect_delay_max 30 -use_wallclock_as_timestamps 1 -i http://127.0.0.1:" + std::to_string(port) +
      "/stream.mjpg -fps_mode cfr -r 25 -t 8 -c:v libx264 '" + out + "'" + log;
  const int status = std::system(record.c_str());
  done = true;
  sender.get();
  ndi().sendVideoAsyncV2(s, nullptr);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(folder_ + "/ffmpeg.log");
  const std::string probe = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + out + "' >'" +
                            folder_ + "/duration'";
  ASSERT_EQ(std::system(probe.c_str()), 0);
  EXPECT_NEAR(std::stod(ReadFile(folder_ + "/duration")), 8.0, 0.5);
  // Its last picture is the one sent (within the two lossy encodings).
  const std::string last = folder_ + "/last.bgra";
  const std::string decode = "ffmpeg -nostdin -loglevel error -sseof -0.2 -i '" + out +
                             "' -frames:v 1 -f rawvideo -pix_fmt bgra '" + last + "'" + log;
  ASSERT_EQ(std::system(decode.c_str()), 0) << ReadFile(folder_ + "/ffmpeg.log");
  ASSERT_EQ(ReadFile(last).size(), frame.packed().size());
  EXPECT_LT(MeanColourError(ReadFile(last), frame.packed()), 4.0);
}
