// The stand-in runtime end to end over loopback HTTP: what a browser, curl
// or any HTTP reader gets from a sender driven through the NDI entry points.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <thread>
#include <tuple>

#include "standin_test_support.h"

using namespace standin_test;
using StandInHttp = StandInTest;

// Frames byte for byte: /frame.bgra the last one's rows packed, a stream
// each as a part: the boundary line, its headers, a blank line, the body,
// and the CRLF that belongs to the next boundary (multipart framing, RFC
// 2046: strict readers find the parts by it).
TEST_F(StandInHttp, FramesArriveByteExactInExactlyFramedParts) {
  const struct { int width, height, stride; NdiFourCC fourcc; } rows[] = {
      {1, 1, 4, NdiFourCC::BGRA},
      {3, 5, 16, NdiFourCC::BGRX},  // odd size, padded rows
      {641, 359, 641 * 4 + 12, NdiFourCC::BGRA},
      {64, 2, 0, NdiFourCC::BGRX}};  // stride 0: packed rows
  const auto [s, port] = open("Exact");
  RawStream stream;  // read raw, part heads and all
  ASSERT_TRUE(stream.open(port, "/stream.bgra"));
  std::vector<TestFrame> sent;
  std::string expected;
  for (int k = 1; k <= 4; ++k) {
    const auto& row = rows[k - 1];
    TestFrame& t = sent.emplace_back(MakeFrame(row.width, row.height, row.stride ? row.stride : row.width * 4, row.fourcc, k));
    t.frame = {row.width, row.height, row.fourcc, 60000, 1200, 0.5625f, NdiFrameFormat::Progressive,
               1000 + k, t.bytes.data(), {row.stride}, nullptr, 0};
    ndi().sendVideoAsyncV2(s, &t.frame);
    const std::string fourcc = row.fourcc == NdiFourCC::BGRA ? "BGRA" : "BGRX", body = t.packed();
    const RawResponse r = RawGet(port, "/frame.bgra");
    EXPECT_TRUE(r.body == body) << k;
    EXPECT_EQ(r.header("x-fourcc") + " " + r.header("x-sequence"), fourcc + " " + std::to_string(k));
    expected += "--plombix-frame\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nX-Width: " + std::to_string(row.width) +
                "\r\nX-Height: " + std::to_string(row.height) + "\r\nX-FourCC: " + fourcc +
                "\r\nX-Frame-Rate-N: 60000\r\nX-Frame-Rate-D: 1200\r\nX-Aspect: 0.5625\r\n"
                "X-Frame-Format: 1\r\nX-Timecode: " + std::to_string(1000 + k) +
                "\r\nX-Sequence: " + std::to_string(k) + "\r\n\r\n" + body + "\r\n";
    // Each part (up to its CRLF, which a keep-alive blank line could stand
    // in for) arrives before the next frame is sent: a reader that falls
    // behind (a loaded machine) would rightly skip to the newest.
    ASSERT_TRUE(stream.readSome(expected.size() - 2)) << k;
  }
  // A fifth part begins where the fourth ends. Its timecode is synthesized:
  // the send time in 100 ns units (after 2020).
  TestFrame& t = sent.emplace_back(MakeFrame(2, 2, 8, NdiFourCC::BGRA, 5));
  ndi().sendVideoAsyncV2(s, &t.frame);
  expected += "--plombix-frame\r\n";
  ASSERT_TRUE(stream.readSome(expected.size()));
  const std::string& got = stream.unread();
  const size_t at = size_t(std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first - got.begin());
  EXPECT_EQ(at, expected.size()) << "got \"" << got.substr(at, 60) << "\" for \"" << expected.substr(at, 60) << "\"";
  EXPECT_GT(std::stoll(RawGet(port, "/frame.bgra").header("x-timecode")), 15778368000000000LL);
}

// A cross-fade as the player sends it at 25p: 12 frames 10 ms apart (or at
// once), from two buffers used alternately, the one each send released
// overwritten at once. Clocked (as the player asks), every frame reaches the
// viewer exactly as sent, in order, one frame (40 ms) apart: from the first
// send to the last frame's arrival 11 x 40 = 440 ms and a little. Unclocked,
// as they are sent, the newest winning. Never a part that was not sent.
TEST_F(StandInHttp, AFadeReachesAViewerAtItsFrameRateWhenClocked) {
  const struct {
    const char* label;
    bool clocked;
    int gapMs;
    size_t minParts;
    int minMs, maxMs;
  } rows[] = {{"clocked", true, 10, 12, 440, 520},
              {"clocked, sent at once", true, 0, 12, 440, 520},
              {"unclocked, sent at once", false, 0, 1, 0, 400}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const auto [s, port] = open(row.label, row.clocked);
    TestFrame buffers[2] = {MakeFrame(960, 540, 960 * 4, NdiFourCC::BGRA, 11),
                            MakeFrame(960, 540, 960 * 4, NdiFourCC::BGRA, 12)};
    for (TestFrame& t : buffers) t.frame.frame_rate_D = 1200;  // 30000/1200: 25p
    // On air a while before the fade, and flushed: a viewer that comes later
    // still gets it, though its buffer has been overwritten since.
    ndi().sendVideoAsyncV2(s, &buffers[0].frame);
    const std::string before = buffers[0].packed();
    ndi().sendVideoAsyncV2(s, nullptr);
    std::memset(buffers[0].bytes.data(), 0xAB, buffers[0].bytes.size());
    RawStream stream;
    ASSERT_TRUE(stream.open(port, "/stream.bgra") && stream.next());
    EXPECT_TRUE(stream.part().body == before);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    auto paint = [](TestFrame& t, int step) { std::memset(t.bytes.data(), step, t.bytes.size()); };
    std::vector<std::string> sent;
    for (int step = 1; step <= 12; ++step) sent.push_back((paint(buffers[0], step), buffers[0].packed()));
    // The player's thread sends; this one receives meanwhile.
    auto fade = std::async(std::launch::async, [&, s = s] {
      const auto start = std::chrono::steady_clock::now();
      for (int step = 1; step <= 12; ++step) {
        paint(buffers[step % 2], step);
        ndi().sendVideoAsyncV2(s, &buffers[step % 2].frame);
        std::memset(buffers[(step + 1) % 2].bytes.data(), 0xAB, buffers[0].bytes.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(row.gapMs));
      }
      return start;
    });
    size_t parts = 0;
    for (auto at = sent.begin(); at + 1 != sent.end(); ++parts) {
      ASSERT_TRUE(stream.next());
      at = std::find(at, sent.end(), stream.part().body);
      ASSERT_NE(at, sent.end()) << "part " << parts << " was not sent, or came out of order";
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                          fade.get());
    ndi().sendVideoAsyncV2(s, nullptr);  // before the buffers go
    EXPECT_GE(parts, row.minParts);
    EXPECT_GE(ms.count(), row.minMs);
    EXPECT_LE(ms.count(), row.maxMs);
  }
}

TEST_F(StandInHttp, TallyChangesAreReportedExactlyOnceAndConnectionsFollowTheStreams) {
  const auto [s, port] = open("Tally");
  NDIlib_tally_t t{};
  EXPECT_FALSE(ndi().sendGetTally(s, &t, 0));
  RawGet(port, "/status");  // plain requests are not receivers
  EXPECT_EQ(ndi().sendGetNoConnections(s, 0), 0);
  RawStream one, two, three;
  ASSERT_TRUE(one.open(port, "/stream.bgra") && two.open(port, "/stream.png") && three.open(port, "/stream.bgra"));
  EXPECT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 3; }));
  EXPECT_NE(RawGet(port, "/status").body.find("\"connections\":3"), std::string::npos);
  const std::string id1 = one.head().headers.at("x-receiver-id"), id2 = two.head().headers.at("x-receiver-id");
  EXPECT_NE(id1, id2);
  // The combined tally: program if any receiver says program, preview if any
  // says preview. Each change reported once.
  const struct {
    std::string receiver;
    const char* flags;    // program, preview
    const char* changed;  // changed, program, preview, as reported
    const char* status;
  } steps[] = {{id1, "program=0&preview=1", "1 0 1", "preview"}, {id1, "program=0&preview=1", "0 0 1", "preview"},
               {id2, "program=1&preview=0", "1 1 1", "program"}, {id1, "program=0&preview=0", "1 1 0", "program"},
               {id2, "program=1&preview=1", "1 1 1", "program"}};
  for (const auto& step : steps) {
    EXPECT_EQ(RawPost(port, "/tally?receiver=" + step.receiver + "&" + step.flags).status, 204) << step.flags;
    t = NDIlib_tally_t{};
    const bool changed = ndi().sendGetTally(s, &t, 0);
    EXPECT_EQ(std::to_string(changed) + " " + std::to_string(t.on_program) + " " + std::to_string(t.on_preview),
              step.changed);
    EXPECT_FALSE(ndi().sendGetTally(s, &t, 0)) << step.flags << ": reported twice";
    EXPECT_NE(RawGet(port, "/status").body.find(std::string("\"tally\":\"") + step.status), std::string::npos);
  }
  // Closing a stream drops its receiver, its tally and its connection.
  two.close();
  ASSERT_TRUE(ndi().sendGetTally(s, &t, 3000));
  EXPECT_FALSE(t.on_program || t.on_preview);
  EXPECT_EQ(RawPost(port, "/tally?receiver=" + id2 + "&program=1&preview=0").status, 404);
  EXPECT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 2; }));
  one.close();
  three.close();
  EXPECT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 0; }));
}

TEST_F(StandInHttp, StatusAndPageDescribeTheSource) {
  const auto [s, port] = open("Page <&> \"1\"");
  EXPECT_EQ(RawGet(port, "/status").body,
            "{\"name\":\"Page <&> \\\"1\\\"\",\"width\":0,\"height\":0,\"fourcc\":\"\","
            "\"frame_rate_n\":0,\"frame_rate_d\":0,\"connections\":0,\"tally\":\"none\","
            "\"frames_sent\":0,\"jpeg_encodes\":0}\n");
  TestFrame f = MakeFrame(4, 2, 16, NdiFourCC::BGRX, 3);
  ndi().sendVideoAsyncV2(s, &f.frame);
  ndi().sendVideoAsyncV2(s, &f.frame);
  EXPECT_EQ(RawGet(port, "/status").body,
            "{\"name\":\"Page <&> \\\"1\\\"\",\"width\":4,\"height\":2,\"fourcc\":\"BGRX\","
            "\"frame_rate_n\":30000,\"frame_rate_d\":1001,\"connections\":0,\"tally\":\"none\","
            "\"frames_sent\":2,\"jpeg_encodes\":0}\n");
  // The page (its behaviour in a real browser: standin_clients_test): the
  // name escaped, the picture from the PNG stream, full or bare.
  for (const auto& [query, bodyClass] : {std::pair{"", "full"}, std::pair{"?bare=0", "full"},
                                         std::pair{"?bare=1", "bare"}, std::pair{"?bare", "bare"}}) {
    const RawResponse page = RawGet(port, std::string("/") + query);
    EXPECT_EQ(page.status, 200) << query;
    EXPECT_EQ(page.headers.at("content-type"), "text/html; charset=utf-8") << query;
    EXPECT_NE(page.body.find(std::string("<body class=\"") + bodyClass + "\""), std::string::npos) << query;
    EXPECT_NE(page.body.find("<title>Page &lt;&amp;&gt; &quot;1&quot;</title>"), std::string::npos) << query;
    EXPECT_EQ(page.body.find("Page <&>"), std::string::npos) << query;
  }
  // Asked for by name (the page does): only this one answers.
  EXPECT_EQ(RawGet(port, "/status?source=Page%20%3C%26%3E%20%221%22").status, 200);
  EXPECT_EQ(RawGet(port, "/frame.png?source=Page").status, 404);
}

TEST_F(StandInHttp, BadRequestsGetClearAnswersInvalidFramesAndHandlesAreIgnored) {
  const auto [s, port] = open("Strict");
  RawStream stream;
  ASSERT_TRUE(stream.open(port, "/stream.bgra"));
  const std::string tally = "POST /tally?receiver=" + stream.head().headers.at("x-receiver-id");
  const std::string end = " HTTP/1.1\r\nHost: t\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
  const std::pair<std::string, int> requests[] = {  // -1: any 4xx answer, or closed without one
      {"GET /nothing", 404},
      {"GET /status/x", 404},
      {"GET /frame.png", 404},  // before any frame
      {"GET /status?source=Other", 404},
      {"POST /tally?receiver=0123456789abcdef&program=1&preview=0", 404},
      {"POST /tally?program=1&preview=0", 400},
      {tally + "&program=2&preview=0", 400},
      {tally + "&program=1", 400},
      {tally + "&program=1&preview=", 400},
      {"GET /tally?receiver=x&program=1&preview=0", 405},
      {"POST /status", 405},
      {"DELETE /frame.bgra", 405},
      {"HELLO", -1},
      {"GET /status HTTP/1.1\r\nX-Big: " + std::string(100000, 'a'), -1},
  };
  for (const auto& [request, status] : requests) {
    const RawResponse r = RawExchange(port, request + end);
    if (status == -1)
      EXPECT_TRUE(!r.complete || (r.status >= 400 && r.status < 500)) << request.substr(0, 20) << ": " << r.status;
    else
      EXPECT_EQ(r.status, status) << request;
  }
  // Nothing of that changed the tally or hurt the server.
  NDIlib_tally_t t{};
  EXPECT_FALSE(ndi().sendGetTally(s, &t, 0));
  EXPECT_EQ(RawGet(port, "/status").status, 200);

  // Frames that cannot be served leave the last good one in place.
  TestFrame good = MakeFrame(4, 4, 16, NdiFourCC::BGRA, 5), wide = MakeFrame(16385, 1, 16385 * 4, NdiFourCC::BGRA, 7);
  ndi().sendVideoAsyncV2(s, &good.frame);
  const std::function<void(NDIlib_video_frame_v2_t&)> spoil[] = {
      [](NDIlib_video_frame_v2_t& f) { f.p_data = nullptr; },
      [](NDIlib_video_frame_v2_t& f) { f.xres = 0; },
      [](NDIlib_video_frame_v2_t& f) { f.yres = -5; },
      [&](NDIlib_video_frame_v2_t& f) { f = wide.frame; },  // wider than 16384
      [](NDIlib_video_frame_v2_t& f) { f.FourCC = NdiFourCC::UYVY; },
      [](NDIlib_video_frame_v2_t& f) { f.line_stride_in_bytes = 15; },  // below a row
      [](NDIlib_video_frame_v2_t& f) { f.line_stride_in_bytes = -16; },
  };
  for (size_t i = 0; i < std::size(spoil); ++i) {
    TestFrame bad = MakeFrame(4, 4, 16, NdiFourCC::BGRA, 6);
    spoil[i](bad.frame);
    ndi().sendVideoAsyncV2(s, &bad.frame);
    const RawResponse r = RawGet(port, "/frame.bgra");
    EXPECT_TRUE(r.body == good.packed() && r.header("x-sequence") == "1") << i;
  }
  wide.frame.xres = 16384;  // the widest served
  ndi().sendVideoAsyncV2(s, &wide.frame);
  EXPECT_EQ(RawGet(port, "/frame.bgra").header("x-width"), "16384");
  // Null handles, null metadata: no effect, no crash.
  const NDIlib_metadata_frame_t noText{5, 0, nullptr};
  ndi().sendAddConnectionMetadata(s, &noText);
  ndi().sendAddConnectionMetadata(s, nullptr);
  EXPECT_EQ(RawGet(port, "/metadata").body, "");
  ndi().sendVideoAsyncV2(nullptr, &good.frame);
  t = NDIlib_tally_t{true, true};
  EXPECT_FALSE(ndi().sendGetTally(nullptr, &t, 0));
  EXPECT_EQ(ndi().sendGetNoConnections(nullptr, 0), 0);
  ndi().sendAddConnectionMetadata(nullptr, nullptr);
  ndi().sendDestroy(nullptr);
  // Names that cannot be published.
  EXPECT_EQ(create("line\nbreak"), nullptr);
  EXPECT_EQ(create(std::string(300, 'n')), nullptr);
}

// At most 32 connections from one address and 64 in all (loopback has all
// of 127.0.0.0/8, so each receiver below comes from an address of its own
// choosing): 32 from 127.0.0.2 fill its share, and yet 32 more from three
// other addresses are served; then nobody else, across a takeover too.
TEST_F(StandInHttp, ConnectionsBeyondTheCapsAreRefusedAcrossATakeover) {
  auto [s, port] = open("Capped");
  auto address = [](int i) { return "127.0.0." + std::to_string(i < 32 ? 2 : 3 + i % 3); };
  std::vector<RawStream> streams(64);
  for (int i = 0; i < 64; ++i) {
    ASSERT_TRUE(streams[size_t(i)].open(port, "/stream.bgra", address(i))) << i << " from " << address(i);
    if (i == 31) {
      EXPECT_FALSE(RawGet(port, "/status", "127.0.0.2").complete);  // its share is full
    }
  }
  ASSERT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 64; }));
  EXPECT_FALSE(RawGet(port, "/status", "127.0.0.9").complete);  // closed without an answer
  // The sender is re-created: the same streams, each counted once, and
  // still no room for more.
  destroy(s);
  s = create("Capped");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(ndi().sendGetNoConnections(s, 0), 64);
  EXPECT_FALSE(RawGet(port, "/status", "127.0.0.9").complete);
  streams.pop_back();
  EXPECT_TRUE(Eventually([&] { return RawGet(port, "/status", "127.0.0.9").status == 200; }));
  EXPECT_EQ(ndi().sendGetNoConnections(s, 0), 63);
}

// Every client is untrusted; with a one-second time-out (which also brings
// the head deadline down to one second): a viewer that waits for frames far
// longer stays, while everybody else is dropped without disturbing it.
TEST_F(StandInHttp, SilentTricklingStuckAndVanishingClientsDisturbNobody) {
  ::setenv("PLOMBIX_NDI_TIMEOUT_S", "1", 1);
  const auto [s, port] = open("Robust");
  ::unsetenv("PLOMBIX_NDI_TIMEOUT_S");
  RawStream viewer;
  ASSERT_TRUE(viewer.open(port, "/stream.bgra"));
  // Nothing at all, half a request, binary junk: dropped by the time-out.
  std::vector<int> silent;
  for (const std::string& bytes : {std::string(), std::string("GET /sta"), std::string("\0\1\xff\r\n\r\n", 7)})
    if (silent.push_back(RawConnect(port)); !RawSendAll(silent.back(), bytes)) ADD_FAILURE() << bytes;
  // Twenty clients sending a request a byte every 300 ms: each byte would
  // restart the idle time-out, but the head deadline runs from the
  // connection's start.
  const std::string request = GetRequest("/status");
  std::vector<int> tricklers(20);
  for (int& fd : tricklers) fd = RawConnect(port);
  const auto start = std::chrono::steady_clock::now();
  size_t sent = 0;
  while (std::any_of(tricklers.begin(), tricklers.end(), [](int fd) { return fd >= 0; }) &&
         sent < request.size() - 2) {
    for (int& fd : tricklers) {
      char byte;
      const ssize_t n = fd < 0 ? 0 : ::recv(fd, &byte, 1, MSG_DONTWAIT);
      if (fd >= 0 && (n == 0 || (n < 0 && errno != EAGAIN) || !RawSendAll(fd, request.substr(sent, 1))))
        fd = (::close(fd), -1);
    }
    ++sent;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << sent << " bytes sent";
  for (int fd : silent) {
    char byte;
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 0);  // closed by the server
    ::close(fd);
  }
  // A stream whose reader never reads, and one that leaves mid-frame: the
  // viewer gets every frame, the first is dropped after the time-out.
  const int stuck = StuckStreamReader(port);
  RawStream leaver;
  ASSERT_TRUE(stuck >= 0 && leaver.open(port, "/stream.bgra"));
  ASSERT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 3; }));
  const TestFrame a = MakeFrame(1280, 720, 1280 * 4, NdiFourCC::BGRA, 31);
  const TestFrame b = MakeFrame(1280, 720, 1280 * 4, NdiFourCC::BGRA, 32);
  ndi().sendVideoAsyncV2(s, &a.frame);
  ASSERT_TRUE(leaver.readSome(100000));
  leaver.close();
  ASSERT_TRUE(viewer.next());
  EXPECT_TRUE(viewer.part().body == a.packed());
  EXPECT_TRUE(Eventually([&] {
    ndi().sendVideoAsyncV2(s, &b.frame);
    return viewer.next() && viewer.part().body == b.packed() && ndi().sendGetNoConnections(s, 0) == 1;
  }, 8000));
  EXPECT_EQ(RawGet(port, "/status").status, 200);
  // Destroying the sender with a stuck client connected returns.
  const int stuckAgain = StuckStreamReader(port);
  ndi().sendVideoAsyncV2(s, &a.frame);
  auto destroyed = std::async(std::launch::async, [&, s = s] { destroy(s); });
  EXPECT_EQ(destroyed.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  ::close(stuck);
  ::close(stuckAgain);
}

// Three MJPEG viewers: the last frame first, then each frame sent, every
// part a JPEG of it at its own size, encoded once for all (and the still
// frame is that encoding); frames nobody watches as JPEG are never encoded.
TEST_F(StandInHttp, MjpegPartsDecodeToTheFrameEncodedOncePerFrame) {
  const auto [s, port] = open("Mjpeg");
  auto encodes = [port = port] {
    const std::string status = RawGet(port, "/status").body;
    return std::atoi(status.c_str() + status.find("\"jpeg_encodes\":") + 15);
  };
  const TestFrame frames[] = {MakeSmoothFrame(320, 180, 320 * 4, NdiFourCC::BGRA, 100),
                              MakeSmoothFrame(160, 90, 160 * 4 + 8, NdiFourCC::BGRX, 60),
                              MakeSmoothFrame(64, 36, 64 * 4, NdiFourCC::BGRA, 200),
                              MakeSmoothFrame(320, 180, 320 * 4, NdiFourCC::BGRA, 150)};
  for (int i = 0; i < 3; ++i) ndi().sendVideoAsyncV2(s, &frames[0].frame);
  RawStream png;
  ASSERT_TRUE(png.open(port, "/stream.png"));
  EXPECT_EQ(encodes(), 0);
  std::vector<RawStream> viewers(3);
  for (RawStream& v : viewers) ASSERT_TRUE(v.open(port, "/stream.mjpg"));
  for (int step = 0; step <= 3; ++step) {
    const TestFrame& t = frames[step];
    if (step > 0) ndi().sendVideoAsyncV2(s, &t.frame);
    for (RawStream& v : viewers) {
      ASSERT_TRUE(v.next()) << step;
      const RawResponse& part = v.part();
      EXPECT_EQ(part.header("content-type") + " " + part.header("x-sequence") + " " + part.header("x-width"),
                "image/jpeg " + std::to_string(3 + step) + " " + std::to_string(t.frame.xres));
      EXPECT_LT(MeanColourError(JpegDecode(part.body, t.frame.xres, t.frame.yres), t.packed()), 2.0) << step;
    }
  }
  const RawResponse still = RawGet(port, "/frame.jpg");
  EXPECT_EQ(still.headers.at("content-type"), "image/jpeg");
  EXPECT_LT(MeanColourError(JpegDecode(still.body, 320, 180), frames[3].packed()), 2.0);
  EXPECT_EQ(encodes(), 4);
}
