// Units of the stand-in runtime: discovery entries, remembered ports, the
// choice of a listening port, URL parsing, frame validation, and PNG and
// JPEG encoding.
#include <gtest/gtest.h>
#include <spng.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>

#include "discovery.h"
#include "frame_store.h"
#include "http_client.h"
#include "jpeg_encode.h"
#include "listen_socket.h"
#include "png_encode.h"
#include "port_memory.h"
#include "small_files.h"
#include "standin_test_support.h"
#include "temp_dir.h"

using namespace plombix::standin;
using standin_test::ListenOn;
using standin_test::PortIsFree;

namespace {

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(Discovery, EntriesParseOnlyWhenComplete) {
  const struct {
    const char* label;
    std::string text;
    bool ok;
  } rows[] = {
      {"complete", "name=A\nurl=http://127.0.0.1:5961/\npid=1\nstart=5\n", true},
      {"no start time", "name=A\nurl=http://127.0.0.1:5961/\npid=1\n", true},
      {"unknown keys ignored", "x=y\nname=A\nurl=http://h:1/\npid=1\n", true},
      {"empty", "", false},
      {"no name", "url=http://127.0.0.1:5961/\npid=1\n", false},
      {"no url", "name=A\npid=1\n", false},
      {"not http", "name=A\nurl=ftp://x/\npid=1\n", false},
      {"no pid", "name=A\nurl=http://h:1/\n", false},
      {"pid zero", "name=A\nurl=http://h:1/\npid=0\n", false},
      {"pid negative", "name=A\nurl=http://h:1/\npid=-4\n", false},
      {"pid huge", "name=A\nurl=http://h:1/\npid=99999999999999999999999\n", false},
      {"pid words", "name=A\nurl=http://h:1/\npid=12ab\n", false},
      {"start words", "name=A\nurl=http://h:1/\npid=1\nstart=x\n", false},
      {"control character in name", "name=A\tB\nurl=http://h:1/\npid=1\n", false},
      {"binary", std::string("\0\1\2\3", 4), false},
  };
  for (const auto& row : rows) {
    SourceEntry e;
    EXPECT_EQ(ParseSourceEntry(row.text, &e), row.ok) << row.label;
  }
}

TEST(Discovery, ListSkipsDeadAndCorruptEntries) {
  const plombix::testing::TempDir temp;
  const std::string& dir = temp.path();
  std::string error;
  ASSERT_EQ(ClaimSource(dir, "Live one", "http://127.0.0.1:6000/", &error), ClaimResult::Claimed) << error;
  // A process that has ended: a child that exited and was reaped.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  writeFile(dir + "/" + SourceFileName("Dead one"),
            "name=Dead one\nurl=http://127.0.0.1:6001/\npid=" + std::to_string(child) + "\n");
  // This process, but started at another time: its pid was reused.
  writeFile(dir + "/" + SourceFileName("Reused"),
            "name=Reused\nurl=http://127.0.0.1:6002/\npid=" + std::to_string(::getpid()) + "\nstart=1\n");
  writeFile(dir + "/" + SourceFileName("Corrupt"), "garbage\n");
  writeFile(dir + "/" + SourceFileName("Huge"), std::string(10000, 'x'));
  writeFile(dir + "/notes.txt", "name=Other\nurl=http://h:1/\npid=1\n");  // not an entry file
  const std::vector<SourceEntry> live = ListSources(dir);
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(live[0].name, "Live one");
  EXPECT_EQ(live[0].url, "http://127.0.0.1:6000/");
  EXPECT_EQ(live[0].pid, long(::getpid()));
  // A dead entry's name can be claimed; a live one's cannot.
  EXPECT_EQ(ClaimSource(dir, "Dead one", "http://127.0.0.1:6003/", &error), ClaimResult::Claimed);
  EXPECT_EQ(ClaimSource(dir, "Live one", "http://127.0.0.1:6004/", &error), ClaimResult::NameInUse);
  // Releasing with another URL leaves the entry alone; with its own, removes it.
  ReleaseSource(dir, "Live one", "http://127.0.0.1:9999/");
  EXPECT_EQ(ListSources(dir).size(), 2u);
  ReleaseSource(dir, "Live one", "http://127.0.0.1:6000/");
  ReleaseSource(dir, "Dead one", "http://127.0.0.1:6003/");
  EXPECT_TRUE(ListSources(dir).empty());
}

TEST(Discovery, FileNamesAreSafeAndDistinct) {
  EXPECT_EQ(SourceFileName("Vora Plombix 1"), "Vora%20Plombix%201.source");
  EXPECT_EQ(SourceFileName("../x"), "%2E%2E%2Fx.source");
  const std::string a = SourceFileName(std::string(200, 'a') + "1");
  const std::string b = SourceFileName(std::string(200, 'a') + "2");
  EXPECT_NE(a, b);
  EXPECT_LT(a.size(), 200u);
  EXPECT_EQ(a.find('/'), std::string::npos);
  EXPECT_FALSE(IsValidSourceName(""));
  EXPECT_FALSE(IsValidSourceName(std::string(256, 'a')));
  EXPECT_TRUE(IsValidSourceName(std::string(255, 'a')));
  EXPECT_TRUE(IsValidSourceName("Größe ✓"));
}

TEST(HttpUrl, ParsesOnlyPlainHttpUrls) {
  const struct {
    const char* url;
    bool ok;
    const char* host;
    int port;
  } rows[] = {
      {"http://127.0.0.1:5961/", true, "127.0.0.1", 5961},
      {"http://example:80", true, "example", 80},
      {"http://host/", true, "host", 80},
      {"http://[::1]:5962/x", true, "::1", 5962},
      {"https://host/", false, "", 0},
      {"http://:5961/", false, "", 0},
      {"http://h:0/", false, "", 0},
      {"http://h:65536/", false, "", 0},
      {"http://h:12x/", false, "", 0},
      {"http://[::1/", false, "", 0},
      {"", false, "", 0},
  };
  for (const auto& row : rows) {
    HttpUrl u;
    ASSERT_EQ(ParseHttpUrl(row.url, &u), row.ok) << row.url;
    if (!row.ok) continue;
    EXPECT_EQ(u.host, row.host) << row.url;
    EXPECT_EQ(u.port, row.port) << row.url;
  }
  EXPECT_EQ(HeaderParameter("multipart/x-mixed-replace; boundary=abc", "boundary"), "abc");
  EXPECT_EQ(HeaderParameter("a; Boundary=\"q r\" ; x=1", "boundary"), "q r");
  EXPECT_EQ(HeaderParameter("text/plain", "boundary"), "");
}

TEST(FrameValidation, AcceptsSidesUpToTheLargest) {
  uint8_t pixels[64] = {};
  NDIlib_video_frame_v2_t f{};
  f.xres = kMaxFrameSide;
  f.yres = 4;
  f.FourCC = NdiFourCC::BGRA;
  f.p_data = pixels;
  FrameInfo info;
  int stride = 0;
  EXPECT_TRUE(ValidateFrame(f, &info, &stride));
  f.xres = kMaxFrameSide + 1;
  EXPECT_FALSE(ValidateFrame(f, &info, &stride));
}

TEST(FrameStore, CopiesOnlyWhenAskedAndKeepsTheLastFrame) {
  FrameStore store;
  EXPECT_EQ(store.latest(), nullptr);
  std::vector<uint8_t> a(24, 1), b(24, 2);
  FrameInfo info;
  info.width = 2;
  info.height = 3;
  EXPECT_EQ(store.submit(info, a.data(), 8), 1u);
  EXPECT_EQ(store.submit(info, b.data(), 8), 2u);
  std::shared_ptr<const Frame> f = store.latest();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->info().sequence, 2u);
  EXPECT_EQ(std::vector<uint8_t>(f->pixels(), f->pixels() + 24), b);
  b.assign(24, 9);  // after the copy the caller's buffer no longer matters
  EXPECT_EQ(f->pixels()[0], 2);
  EXPECT_EQ(store.latest(), f);  // one copy, shared
  FrameCursor viewer{2, {}};
  EXPECT_EQ(store.next(&viewer, std::chrono::milliseconds(1)), nullptr);
  store.close();
  EXPECT_EQ(store.next(&viewer, std::chrono::milliseconds(1000)), nullptr);
}

// Clocked: a viewer gets every frame in turn, each a frame period after the
// one before (2 fps here: not within 100 ms); a viewer that takes nothing
// while more frames come than are kept gets the newest next. Unclocked, the
// newest at once.
TEST(FrameStore, ClockedViewersGetEveryFrameInTurnAndLaggardsTheNewest) {
  for (const bool clocked : {true, false}) {
    SCOPED_TRACE(clocked ? "clocked" : "unclocked");
    FrameStore store;
    store.setClocked(clocked);
    FrameCursor fast, slow;
    store.addViewer(&fast);
    store.addViewer(&slow);
    FrameInfo info;
    info.width = 2;
    info.height = 1;
    std::vector<uint8_t> pixels(8);
    auto send = [&](int k, int rateN) {
      info.frameRateN = rateN;
      info.frameRateD = 1;
      pixels.assign(8, uint8_t(k));
      store.submit(info, pixels.data(), 8);
      store.flush();
    };
    auto take = [&](FrameCursor* c, int waitMs) {
      std::shared_ptr<const Frame> f = store.next(c, std::chrono::milliseconds(waitMs));
      return f ? int(f->pixels()[0]) : 0;
    };
    send(1, 2);
    EXPECT_EQ(take(&fast, 0), 1);
    EXPECT_EQ(take(&slow, 0), 1);
    send(2, 0);  // no rate: no period after it
    EXPECT_EQ(take(&fast, 100), clocked ? 0 : 2);
    EXPECT_EQ(take(&fast, clocked ? 1000 : 0), clocked ? 2 : 0);
    const int last = int(kMaxKeptFrames) + 8;
    for (int k = 3; k <= last; ++k) {
      send(k, 0);
      EXPECT_EQ(take(&fast, 0), k);
    }
    EXPECT_EQ(take(&slow, 1000), last);
    EXPECT_EQ(take(&slow, 0), 0);
  }
}

TEST(PngEncode, RoundTripsThroughADecoder) {
  std::mt19937 random(77);
  const int w = 37, h = 11, stride = w * 4 + 8;
  std::vector<uint8_t> bgra(size_t(stride) * h);
  for (uint8_t& byte : bgra) byte = uint8_t(random());
  for (PngAlpha alpha : {PngAlpha::Keep, PngAlpha::Drop}) {
    std::string png;
    ASSERT_TRUE(EncodeBgraPng(bgra.data(), w, h, stride, alpha, &png));
    uint32_t width = 0;
    int colourType = 0;
    const std::vector<uint8_t> rgba = standin_test::DecodePng(png, &width, &colourType);
    ASSERT_EQ(rgba.size(), size_t(w) * h * 4);
    EXPECT_EQ(width, uint32_t(w));
    EXPECT_EQ(colourType,
              alpha == PngAlpha::Keep ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* in = &bgra[size_t(y) * stride + size_t(x) * 4];
        const uint8_t* out = &rgba[(size_t(y) * w + size_t(x)) * 4];
        ASSERT_EQ(out[0], in[2]);
        ASSERT_EQ(out[1], in[1]);
        ASSERT_EQ(out[2], in[0]);
        ASSERT_EQ(out[3], alpha == PngAlpha::Keep ? in[3] : 255);
      }
  }
  std::string png;
  EXPECT_FALSE(EncodeBgraPng(bgra.data(), 0, h, stride, PngAlpha::Keep, &png));
  EXPECT_FALSE(EncodeBgraPng(bgra.data(), w, h, w * 4 - 1, PngAlpha::Keep, &png));
  EXPECT_FALSE(EncodeBgraPng(nullptr, w, h, stride, PngAlpha::Keep, &png));
}

TEST(PortMemory, RemembersEachNamesPortAndIgnoresFilesItCannotTrust) {
  const plombix::testing::TempDir temp;
  const std::string& dir = temp.path();
  const PortRange range{5961, 200};
  EXPECT_EQ(RememberedPort(dir, "A", range), 0);  // nothing yet
  ASSERT_TRUE(RememberPort(dir, "A", 5963));
  ASSERT_TRUE(RememberPort(dir, "B", 5961));
  ASSERT_TRUE(RememberPort(dir, "C d/e", 5961));
  EXPECT_EQ(RememberedPort(dir, "A", range), 5963);
  EXPECT_EQ(RememberedPort(dir, "C d/e", range), 5961);
  EXPECT_EQ(PortsRememberedByOthers(dir, "A", range), std::vector<int>{5961});  // B and "C d/e": once
  EXPECT_EQ(PortsRememberedByOthers(dir, "B", range), (std::vector<int>{5961, 5963}));

  // A's file, spoiled: never a port to take, nor one to leave to others.
  const std::string fileOfA = dir + "/" + plombix::EncodedFileStem("A") + ".port";
  const struct {
    const char* label;
    std::string text;
  } rows[] = {
      {"empty", ""},
      {"no port", "name=A\n"},
      {"no name", "port=5963\n"},
      {"below the range", "name=A\nport=5960\n"},
      {"above the range", "name=A\nport=6161\n"},
      {"not a number", "name=A\nport=59x3\n"},
      {"too many digits", "name=A\nport=0000005963\n"},
      {"another name's entry", "name=B\nport=5963\n"},
      {"too long to be ours", "name=A\nport=5963\n" + std::string(5000, '#')},
      {"binary", std::string("\0\xff\n", 3)},
  };
  for (const auto& row : rows) {
    writeFile(fileOfA, row.text);
    EXPECT_EQ(RememberedPort(dir, "A", range), 0) << row.label;
    EXPECT_EQ(PortsRememberedByOthers(dir, "B", range), std::vector<int>{5961}) << row.label;
  }
  // A link planted in its place is not followed.
  writeFile(dir + "/good", "name=A\nport=5970\n");
  std::filesystem::remove(fileOfA);
  ASSERT_EQ(::symlink((dir + "/good").c_str(), fileOfA.c_str()), 0);
  EXPECT_EQ(RememberedPort(dir, "A", range), 0);
  // Remembering again replaces whatever was there.
  std::filesystem::remove(fileOfA);
  writeFile(fileOfA, "garbage");
  ASSERT_TRUE(RememberPort(dir, "A", 5964));
  EXPECT_EQ(RememberedPort(dir, "A", range), 5964);
  EXPECT_FALSE(RememberPort(dir + "/missing", "A", 5964));
}

TEST(ListenSocket, PrefersTheRememberedPortAndLeavesOthersTheirs) {
  int b = 42000;  // the first of three consecutive ports free now
  while (b < 60000 && !(PortIsFree(b) && PortIsFree(b + 1) && PortIsFree(b + 2))) b += 17;
  ASSERT_LT(b, 60000);
  const struct {
    const char* label;
    int preferred;
    std::vector<int> avoid, taken;  // taken: ports another program listens on
    int expected;                   // -1: no port
  } rows[] = {
      {"no preference: the first free", 0, {}, {}, b},
      {"the preferred port", b + 2, {}, {}, b + 2},
      {"preferred but taken: the first free", b + 2, {}, {b + 2}, b},
      {"others' ports are left to them", 0, {b, b + 1}, {}, b + 2},
      {"the preferred port even if another name remembers it", b + 1, {b + 1}, {}, b + 1},
      {"others' ports when nothing else is free", 0, {b + 1, b}, {b + 2}, b + 1},
      {"a preferred port outside the range is ignored", b + 3, {}, {}, b},
      {"everything taken", b, {}, {b, b + 1, b + 2}, -1},
  };
  for (const auto& row : rows) {
    std::vector<int> held;
    for (int p : row.taken) held.push_back(ListenOn(p));
    int port = 0;
    std::string url, error;
    const PortChoice choice{b, 3, row.preferred, row.avoid};
    const int fd = OpenListenSocket("127.0.0.1", choice, &port, &url, &error);
    if (row.expected < 0) {
      EXPECT_EQ(fd, -1) << row.label;
      EXPECT_EQ(error, "no free port from " + std::to_string(b)) << row.label;
    } else {
      EXPECT_GE(fd, 0) << row.label << ": " << error;
      EXPECT_EQ(port, row.expected) << row.label;
      EXPECT_EQ(url, "http://127.0.0.1:" + std::to_string(row.expected) + "/") << row.label;
    }
    if (fd >= 0) ::close(fd);
    for (int h : held)
      if (h >= 0) ::close(h);
  }
  int port = 0;
  std::string url, error;
  EXPECT_EQ(OpenListenSocket("localhost", PortChoice{b, 3, 0, {}}, &port, &url, &error), -1);
  EXPECT_EQ(error, "PLOMBIX_NDI_BIND is not a numeric IP address: localhost");
  const int any = OpenListenSocket("0.0.0.0", PortChoice{b, 3, 0, {}}, &port, &url, &error);
  EXPECT_EQ(url, "http://127.0.0.1:" + std::to_string(port) + "/");  // published as loopback
  if (any >= 0) ::close(any);
}

TEST(JpegEncode, DecodesToThePictureWithinJpegErrorAndRefusesBadInput) {
  const int w = 67, h = 35, stride = w * 4 + 12;  // odd sizes, padded rows
  const standin_test::TestFrame t = standin_test::MakeSmoothFrame(w, h, stride, NdiFourCC::BGRA, 120);
  std::string jpeg;
  ASSERT_TRUE(EncodeBgraJpeg(t.bytes.data(), w, h, stride, kJpegQuality, &jpeg));
  EXPECT_EQ(standin_test::JpegMismatch(jpeg, t.packed(), w, h), "");
  for (const auto& [label, pixels, width, rowBytes, quality] :
       {std::tuple{"no pixels", (const uint8_t*)nullptr, w, stride, 90},
        std::tuple{"no width", t.bytes.data(), 0, stride, 90},
        std::tuple{"stride below a row", t.bytes.data(), w, w * 4 - 1, 90},
        std::tuple{"quality 0", t.bytes.data(), w, stride, 0},
        std::tuple{"quality 101", t.bytes.data(), w, stride, 101}}) {
    EXPECT_FALSE(EncodeBgraJpeg(pixels, width, h, rowBytes, quality, &jpeg)) << label;
    EXPECT_TRUE(jpeg.empty()) << label;
  }
}
