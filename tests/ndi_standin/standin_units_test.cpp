// Units of the stand-in runtime: discovery entries, remembered ports, the
// choice of a listening port, and the frames a store hands to its viewers.
// (The rest end to end: encoders against decoders of the tests' own in
// standin_http_test and monitor_test, discovery in standin_receive_test.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "discovery.h"
#include "frame_store.h"
#include "listen_socket.h"
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

TEST(Discovery, EntriesParseOnlyWhenCompleteAndNamesMakeSafeFileNames) {
  const std::pair<std::string, bool> rows[] = {
      {"name=A\nurl=http://127.0.0.1:5961/\npid=1\nstart=5\n", true},
      {"x=y\nname=A\nurl=http://h:1/\npid=1\n", true},  // unknown keys ignored, no start time
      {"", false},
      {"url=http://127.0.0.1:5961/\npid=1\n", false},
      {"name=A\nurl=ftp://x/\npid=1\n", false},
      {"name=A\nurl=http://h:1/\n", false},
      {"name=A\nurl=http://h:1/\npid=0\n", false},
      {"name=A\nurl=http://h:1/\npid=99999999999999999999999\n", false},
      {"name=A\nurl=http://h:1/\npid=12ab\n", false},
      {"name=A\nurl=http://h:1/\npid=1\nstart=x\n", false},
      {"name=A\tB\nurl=http://h:1/\npid=1\n", false},  // a control character in the name
  };
  for (const auto& [text, ok] : rows) {
    SourceEntry e;
    EXPECT_EQ(ParseSourceEntry(text, &e), ok) << text;
  }
  EXPECT_EQ(SourceFileName("Vora Plombix 1"), "Vora%20Plombix%201.source");
  EXPECT_EQ(SourceFileName("../x"), "%2E%2E%2Fx.source");
  const std::string a = SourceFileName(std::string(200, 'a') + "1");
  EXPECT_NE(a, SourceFileName(std::string(200, 'a') + "2"));
  EXPECT_LT(a.size(), 200u);
  EXPECT_FALSE(IsValidSourceName("") || IsValidSourceName(std::string(256, 'a')));
  EXPECT_TRUE(IsValidSourceName(std::string(255, 'a')));
  EXPECT_TRUE(IsValidSourceName("Größe ✓"));
}

// Clocked: a viewer gets every frame in turn, each a frame period after the
// one before (2 fps here: not within 100 ms), a viewer that takes nothing
// while more come than are kept the newest next. Unclocked, the newest at
// once, each copied once (when first asked for) and shared.
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
      EXPECT_EQ(store.submit(info, pixels.data(), 8), uint64_t(k));
      store.flush();
      pixels.assign(8, 0xAB);  // the store's copy no longer needs the buffer
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
    EXPECT_EQ(store.latest(), store.latest());
    store.close();
    EXPECT_EQ(take(&fast, 1000), 0);
  }
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
  for (const std::string& text :
       {std::string(), std::string("name=A\n"), std::string("port=5963\n"), std::string("name=A\nport=5960\n"),
        std::string("name=A\nport=6161\n"), std::string("name=A\nport=59x3\n"),
        std::string("name=A\nport=0000005963\n"), std::string("name=B\nport=5963\n"),
        "name=A\nport=5963\n" + std::string(5000, '#'), std::string("\0\xff\n", 3)}) {
    writeFile(fileOfA, text);
    EXPECT_EQ(RememberedPort(dir, "A", range), 0) << text;
    EXPECT_EQ(PortsRememberedByOthers(dir, "B", range), std::vector<int>{5961}) << text;
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
  // taken: ports another program listens on; expected -1: no port.
  const struct { const char* label; int preferred; std::vector<int> avoid, taken; int expected; } rows[] = {
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
    const int fd = OpenListenSocket("127.0.0.1", PortChoice{b, 3, row.preferred, row.avoid}, &port, &url, &error);
    if (row.expected < 0) {
      EXPECT_EQ(fd, -1) << row.label;
      EXPECT_EQ(error, "no free port from " + std::to_string(b)) << row.label;
    } else {
      EXPECT_GE(fd, 0) << row.label << ": " << error;
      EXPECT_EQ(url, "http://127.0.0.1:" + std::to_string(row.expected) + "/") << row.label;
      EXPECT_EQ(port, row.expected) << row.label;
    }
    for (int h : held) ::close(h);
    if (fd >= 0) ::close(fd);
  }
  int port = 0;
  std::string url, error;
  EXPECT_EQ(OpenListenSocket("localhost", PortChoice{b, 3, 0, {}}, &port, &url, &error), -1);
  EXPECT_EQ(error, "PLOMBIX_NDI_BIND is not a numeric IP address: localhost");
  const int any = OpenListenSocket("0.0.0.0", PortChoice{b, 3, 0, {}}, &port, &url, &error);
  EXPECT_EQ(url, "http://127.0.0.1:" + std::to_string(port) + "/");  // published as loopback
  if (any >= 0) ::close(any);
}
