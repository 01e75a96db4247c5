// The stand-in runtime end to end over loopback HTTP: what a browser, curl
// or any HTTP reader gets from a sender driven through the NDI entry points.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <tuple>
#include <thread>

#include "standin_test_support.h"

using namespace standin_test;

namespace {

// The connection metadata the player adds (fourteen blanks between attributes).
const std::string kProductText =
    "<ndi_product long_name=\"Vora Plombix - signal generator\"              "
    "short_name=\"Vora Plombix\"              manufacturer=\"Voracraft\"              "
    "version=\"1.0.3\"              session=\"default\"              model_name=\"V1\"              "
    "serial=\"00001\"/>";

using StandInHttp = StandInTest;

}  // namespace

TEST_F(StandInHttp, FramesArriveByteExactWithTheirFields) {
  const struct {
    const char* label;
    int width, height, stride;
    NdiFourCC fourcc;
  } rows[] = {
      {"1x1 BGRA", 1, 1, 4, NdiFourCC::BGRA},
      {"odd size BGRX padded", 3, 5, 16, NdiFourCC::BGRX},
      {"odd size BGRA padded", 641, 359, 641 * 4 + 12, NdiFourCC::BGRA},
      {"stride 0 means packed", 64, 2, 0, NdiFourCC::BGRX},
  };
  const auto [s, port] = open("Exact");
  uint32_t seed = 1;
  for (const auto& row : rows) {
    const int stride = row.stride ? row.stride : row.width * 4;
    TestFrame t = MakeFrame(row.width, row.height, stride, row.fourcc, seed++);
    t.frame.line_stride_in_bytes = row.stride;
    t.frame.frame_rate_N = 60000;
    t.frame.frame_rate_D = 1200;
    t.frame.picture_aspect_ratio = 4.0f / 3.0f;
    ndi().sendVideoAsyncV2(s, &t.frame);
    const RawResponse r = RawGet(port, "/frame.bgra");
    ASSERT_EQ(r.status, 200) << row.label;
    EXPECT_TRUE(r.body == t.packed()) << row.label;
    const std::map<std::string, std::string> fields = {
        {"x-width", std::to_string(row.width)}, {"x-height", std::to_string(row.height)},
        {"x-fourcc", row.fourcc == NdiFourCC::BGRA ? "BGRA" : "BGRX"}, {"x-frame-rate-n", "60000"},
        {"x-frame-rate-d", "1200"}, {"x-frame-format", "1"}, {"x-sequence", std::to_string(seed - 1)}};
    for (const auto& [name, value] : fields) EXPECT_EQ(r.headers.at(name), value) << row.label << " " << name;
    EXPECT_EQ(std::strtof(r.headers.at("x-aspect").c_str(), nullptr), 4.0f / 3.0f) << row.label;
    // A synthesized timecode is the send time in 100 ns units: after 2020.
    EXPECT_GT(std::stoll(r.headers.at("x-timecode")), 15778368000000000LL) << row.label;
  }
}

// A stream's bytes, exactly: each part is the boundary line, its headers, a
// blank line, the body, and the CRLF that belongs to the next boundary
// (multipart framing, RFC 2046), which strict readers need to find every part.
TEST_F(StandInHttp, StreamPartsAreFramedExactly) {
  const auto [s, port] = open("Framing");
  TestFrame t = MakeFrame(2, 1, 8, NdiFourCC::BGRA, 21);
  t.frame.frame_rate_D = 1200;
  t.frame.picture_aspect_ratio = 0.5625f;
  RawStream stream;  // read raw below, head and all
  ASSERT_TRUE(stream.open(port, "/stream.bgra"));
  std::string expected;
  for (int k = 1; k <= 4; ++k) {
    t.frame.timecode = 1000 + k;
    t.bytes[0] = uint8_t(k);
    ndi().sendVideoAsyncV2(s, &t.frame);
    expected += "--plombix-frame\r\nContent-Type: application/octet-stream\r\nContent-Length: 8\r\n"
                "X-Width: 2\r\nX-Height: 1\r\nX-FourCC: BGRA\r\nX-Frame-Rate-N: 30000\r\n"
                "X-Frame-Rate-D: 1200\r\nX-Aspect: 0.5625\r\nX-Frame-Format: 1\r\nX-Timecode: " +
                std::to_string(1000 + k) + "\r\nX-Sequence: " + std::to_string(k) + "\r\n\r\n" +
                t.packed() + "\r\n";
    ASSERT_TRUE(stream.readSome(expected.size())) << k;
  }
  EXPECT_EQ(stream.unread(), expected);
}

TEST_F(StandInHttp, MetadataIsServedExactlyAsAdded) {
  const struct {
    const char* label;
    std::string text;
    int length;  // as passed
    std::string served;
  } rows[] = {
      {"length without the zero", kProductText, int(kProductText.size()), kProductText},
      {"length with the zero", "<a/>", 5, "<a/>"},
      {"length 0 measures the text", "<b x=\"1\"/>", 0, "<b x=\"1\"/>"},
      {"length shorter than the text", "<abcdef/>", 3, "<ab"},
  };
  for (const auto& row : rows) {
    NDIlib_send_instance_t s = open("Meta").first;
    std::string text = row.text;  // zero-terminated
    const NDIlib_metadata_frame_t m{row.length, kNdiTimecodeSynthesize, text.data()};
    ndi().sendAddConnectionMetadata(s, &m);
    const RawResponse r = RawGet(portOf("Meta"), "/metadata");
    EXPECT_EQ(r.status, 200) << row.label;
    EXPECT_EQ(r.body, row.served) << row.label;
    destroy(s);
  }
  // A null frame or null text is ignored.
  NDIlib_send_instance_t s = create("Meta");
  ndi().sendAddConnectionMetadata(s, nullptr);
  const NDIlib_metadata_frame_t empty{5, 0, nullptr};
  ndi().sendAddConnectionMetadata(s, &empty);
  EXPECT_EQ(RawGet(portOf("Meta"), "/metadata").body, "");
}

TEST_F(StandInHttp, LateJoinerGetsTheLastFrameAndAFlushedBufferMayBePoisoned) {
  const auto [s, port] = open("Late");
  EXPECT_EQ(RawGet(port, "/frame.bgra").status, 404);  // nothing sent yet
  TestFrame first = MakeFrame(33, 17, 33 * 4, NdiFourCC::BGRA, 7);
  TestFrame last = MakeFrame(33, 17, 33 * 4, NdiFourCC::BGRA, 8);
  ndi().sendVideoAsyncV2(s, &first.frame);
  ndi().sendVideoAsyncV2(s, &last.frame);  // nobody received `first`
  const std::string expected = last.packed();
  ndi().sendVideoAsyncV2(s, nullptr);  // flush: the buffer is ours again
  std::memset(last.bytes.data(), 0xAB, last.bytes.size());
  std::memset(first.bytes.data(), 0xAB, first.bytes.size());

  RawStream stream;
  ASSERT_TRUE(stream.open(port, "/stream.bgra"));
  ASSERT_TRUE(stream.next());
  EXPECT_TRUE(stream.part().body == expected);
  EXPECT_EQ(stream.part().header("x-sequence"), "2");
  EXPECT_EQ(RawGet(port, "/frame.bgra").body, expected);
}

// A cross-fade as the player sends it at 25p: 12 frames 10 ms apart, from
// two buffers used alternately, the one each send released overwritten at
// once. Clocked (as the player asks), every frame reaches the viewer exactly
// as sent, in order, one frame (40 ms) apart: from the first send to the
// last frame's arrival 11 x 40 = 440 ms and a little. Unclocked, as they are
// sent, the newest winning. Never a part that was not sent.
TEST_F(StandInHttp, AFadeReachesAViewerAtItsFrameRateWhenClocked) {
  const struct {
    const char* label;
    bool clocked;
    size_t minParts;
    int minMs, maxMs;
  } rows[] = {{"clocked", true, 12, 440, 520}, {"unclocked", false, 1, 110, 400}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const auto [s, port] = open(row.label, row.clocked);
    TestFrame buffers[2] = {MakeFrame(320, 180, 320 * 4, NdiFourCC::BGRA, 11),
                            MakeFrame(320, 180, 320 * 4, NdiFourCC::BGRA, 12)};
    for (TestFrame& t : buffers) t.frame.frame_rate_D = 1200;  // 30000/1200: 25p
    ndi().sendVideoAsyncV2(s, &buffers[0].frame);  // on air a while before the fade
    RawStream stream;
    ASSERT_TRUE(stream.open(port, "/stream.bgra") && stream.next());
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    auto paint = [](TestFrame& t, int step) {
      for (size_t k = 0; k < t.bytes.size(); ++k) t.bytes[k] = uint8_t(k * 7 + size_t(step));
    };
    std::vector<std::string> sent;
    for (int step = 1; step <= 12; ++step) sent.push_back((paint(buffers[0], step), buffers[0].packed()));
    // The player's thread sends; this one receives meanwhile.
    auto fade = std::async(std::launch::async, [&, s = s] {
      const auto start = std::chrono::steady_clock::now();
      for (int step = 1; step <= 12; ++step) {
        paint(buffers[step % 2], step);
        ndi().sendVideoAsyncV2(s, &buffers[step % 2].frame);
        std::memset(buffers[(step + 1) % 2].bytes.data(), 0xAB, buffers[0].bytes.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
  ASSERT_TRUE(one.open(port, "/stream.bgra"));
  ASSERT_TRUE(two.open(port, "/stream.png"));
  ASSERT_TRUE(three.open(port, "/stream.bgra"));
  EXPECT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 3; }));
  EXPECT_NE(RawGet(port, "/status").body.find("\"connections\":3"), std::string::npos);
  const std::string id1 = one.head().headers.at("x-receiver-id");
  const std::string id2 = two.head().headers.at("x-receiver-id");
  EXPECT_NE(id1, id2);

  // The combined tally: program if any receiver says program, preview if any
  // says preview.
  const struct {
    const char* label;
    std::string receiver;
    const char* flags;  // program, preview
    bool changed, program, preview;
    const char* status;
  } steps[] = {
      {"one on preview", id1, "program=0&preview=1", true, false, true, "preview"},
      {"same again", id1, "program=0&preview=1", false, false, true, "preview"},
      {"two on program", id2, "program=1&preview=0", true, true, true, "program"},
      {"one off", id1, "program=0&preview=0", true, true, false, "program"},
      {"two on both", id2, "program=1&preview=1", true, true, true, "program"},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(RawPost(port, "/tally?receiver=" + step.receiver + "&" + step.flags).status, 204)
        << step.label;
    t = NDIlib_tally_t{};
    const bool changed = ndi().sendGetTally(s, &t, 0);
    EXPECT_EQ(std::tuple(changed, t.on_program, t.on_preview),
              std::tuple(step.changed, step.program, step.preview))
        << step.label;
    EXPECT_FALSE(ndi().sendGetTally(s, &t, 0)) << step.label << ": reported twice";
    EXPECT_NE(RawGet(port, "/status").body.find(std::string("\"tally\":\"") + step.status + "\""),
              std::string::npos)
        << step.label;
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
    EXPECT_NE(page.body.find("fetch(\"/stream.png\""), std::string::npos) << query;
    EXPECT_NE(page.body.find("<title>Page &lt;&amp;&gt; &quot;1&quot;</title>"), std::string::npos) << query;
    EXPECT_EQ(page.body.find("Page <&>"), std::string::npos) << query;
  }
}

TEST_F(StandInHttp, BadRequestsGetClearAnswersInvalidFramesAndHandlesAreIgnored) {
  const auto [s, port] = open("Strict");
  RawStream stream;
  ASSERT_TRUE(stream.open(port, "/stream.bgra"));
  const std::string id = stream.head().headers.at("x-receiver-id");
  const auto get = GetRequest;
  const auto post = PostRequest;
  const struct {
    const char* label;
    std::string request;
    int status;  // -1: any 4xx answer, or closed without one
  } requests[] = {
      {"unknown path", get("/nothing"), 404},
      {"path with a suffix", get("/status/x"), 404},
      {"frame before any frame", get("/frame.png"), 404},
      {"tally unknown receiver", post("/tally?receiver=0123456789abcdef&program=1&preview=0"), 404},
      {"tally without receiver", post("/tally?program=1&preview=0"), 400},
      {"tally program 2", post("/tally?receiver=" + id + "&program=2&preview=0"), 400},
      {"tally preview missing", post("/tally?receiver=" + id + "&program=1"), 400},
      {"tally preview empty", post("/tally?receiver=" + id + "&program=1&preview="), 400},
      {"tally program word", post("/tally?receiver=" + id + "&program=yes&preview=0"), 400},
      {"tally by GET", get("/tally?receiver=" + id + "&program=1&preview=0"), 405},
      {"status by POST", post("/status"), 405},
      {"DELETE", "DELETE /frame.bgra HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n", 405},
      {"garbage request line", "HELLO\r\n\r\n", -1},
      {"huge header", "GET /status HTTP/1.1\r\nHost: t\r\nX-Big: " + std::string(100000, 'a') + "\r\n\r\n",
       -1},
  };
  for (const auto& row : requests) {
    const RawResponse r = RawExchange(port, row.request);
    if (row.status == -1)  // refused with a 4xx answer, or the connection is simply closed
      EXPECT_TRUE(!r.complete || (r.status >= 400 && r.status < 500)) << row.label << ": " << r.status;
    else
      EXPECT_EQ(r.status, row.status) << row.label;
  }
  // Nothing of that changed the tally or hurt the server.
  NDIlib_tally_t t{};
  EXPECT_FALSE(ndi().sendGetTally(s, &t, 0));
  EXPECT_EQ(RawGet(port, "/status").status, 200);

  // Frames that cannot be served leave the last good one in place.
  TestFrame good = MakeFrame(4, 4, 16, NdiFourCC::BGRA, 5);
  ndi().sendVideoAsyncV2(s, &good.frame);
  const struct {
    const char* label;
    std::function<void(NDIlib_video_frame_v2_t&)> spoil;
  } frames[] = {
      {"no pixels", [](NDIlib_video_frame_v2_t& f) { f.p_data = nullptr; }},
      {"zero width", [](NDIlib_video_frame_v2_t& f) { f.xres = 0; }},
      {"negative height", [](NDIlib_video_frame_v2_t& f) { f.yres = -5; }},
      {"huge width", [](NDIlib_video_frame_v2_t& f) { f.xres = 1 << 20; }},
      {"UYVY", [](NDIlib_video_frame_v2_t& f) { f.FourCC = NdiFourCC::UYVY; }},
      {"stride below a row", [](NDIlib_video_frame_v2_t& f) { f.line_stride_in_bytes = 15; }},
      {"negative stride", [](NDIlib_video_frame_v2_t& f) { f.line_stride_in_bytes = -16; }},
  };
  for (const auto& row : frames) {
    TestFrame bad = MakeFrame(4, 4, 16, NdiFourCC::BGRA, 6);
    row.spoil(bad.frame);
    ndi().sendVideoAsyncV2(s, &bad.frame);
    const RawResponse r = RawGet(port, "/frame.bgra");
    EXPECT_EQ(r.body, good.packed()) << row.label;
    EXPECT_EQ(r.headers.at("x-sequence"), "1") << row.label;
  }
  // Null handles: no effect, no crash.
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

TEST_F(StandInHttp, StuckAndVanishingClientsDisturbNobody) {
  const auto [s, port] = open("Robust");
  // A client that opens a stream and never reads, one that leaves mid-frame,
  // and a well-behaved one.
  const int stuck = StuckStreamReader(port);
  ASSERT_GE(stuck, 0);
  RawStream leaver, good;
  ASSERT_TRUE(leaver.open(port, "/stream.bgra"));
  ASSERT_TRUE(good.open(port, "/stream.bgra"));
  ASSERT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 3; }));

  TestFrame a = MakeFrame(1280, 720, 1280 * 4, NdiFourCC::BGRA, 31);
  TestFrame b = MakeFrame(1280, 720, 1280 * 4, NdiFourCC::BGRA, 32);
  ndi().sendVideoAsyncV2(s, &a.frame);
  ASSERT_TRUE(leaver.readSome(100000));
  leaver.close();  // gone mid-frame
  ASSERT_TRUE(good.next());
  EXPECT_TRUE(good.part().body == a.packed());
  for (int i = 0; i < 6; ++i) ndi().sendVideoAsyncV2(s, i % 2 ? &a.frame : &b.frame);
  ndi().sendVideoAsyncV2(s, &b.frame);
  do {
    ASSERT_TRUE(good.next());
  } while (good.part().header("x-sequence") != "8");
  EXPECT_TRUE(good.part().body == b.packed());
  EXPECT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 2; }));

  // Destroying the sender with the stuck client still connected returns.
  auto destroyed = std::async(std::launch::async, [&, s = s] { destroy(s); });
  EXPECT_EQ(destroyed.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  ::close(stuck);
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

TEST_F(StandInHttp, SilentAndTricklingClientsAreDroppedStreamsAreNot) {
  // A one-second time-out also brings the head deadline down to one second.
  ::setenv("PLOMBIX_NDI_TIMEOUT_S", "1", 1);
  const auto [s, port] = open("Slow");
  ::unsetenv("PLOMBIX_NDI_TIMEOUT_S");
  RawStream viewer;
  ASSERT_TRUE(viewer.open(port, "/stream.bgra"));
  // Nothing at all, half a request, binary junk: dropped by the time-out.
  // Twenty clients each sending one byte of a request every 300 ms: every
  // byte would restart the idle time-out, but the head deadline runs from
  // the connection's start. All are cut within a few seconds.
  std::vector<int> silent;
  for (const std::string& bytes :
       {std::string(), std::string("GET /sta"), std::string("\x00\x01\xff\r\n\r\n", 7)}) {
    silent.push_back(RawConnect(port));
    ASSERT_TRUE(RawSendAll(silent.back(), bytes));
  }
  const std::string request = GetRequest("/status");
  std::vector<int> tricklers;
  for (int i = 0; i < 20; ++i) tricklers.push_back(RawConnect(port));
  const auto start = std::chrono::steady_clock::now();
  size_t sent = 0, open = tricklers.size();
  while (open > 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(8) &&
         sent < request.size() - 2) {
    open = 0;
    for (int& fd : tricklers) {
      if (fd < 0) continue;
      char byte;
      const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN) || !RawSendAll(fd, request.substr(sent, 1))) {
        ::close(fd);
        fd = -1;
        continue;
      }
      ++open;
    }
    ++sent;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_EQ(open, 0u) << "still connected after " << sent << " bytes";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  for (int fd : tricklers)
    if (fd >= 0) ::close(fd);
  for (int fd : silent) {
    char byte;
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 0);  // closed by the server
    ::close(fd);
  }
  // The stream opened before them all is still there (it waited for a
  // frame far longer than the time-out), and the server serves.
  TestFrame f = MakeFrame(16, 8, 64, NdiFourCC::BGRA, 9);
  ndi().sendVideoAsyncV2(s, &f.frame);
  ASSERT_TRUE(viewer.next());
  EXPECT_TRUE(viewer.part().body == f.packed());
  EXPECT_EQ(RawGet(port, "/status").status, 200);

  // A stream whose reader stops reading is dropped after the time-out; the
  // one that reads stays.
  const int stuck = StuckStreamReader(port);
  ASSERT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 2; }));
  const TestFrame big = MakeFrame(1280, 720, 1280 * 4, NdiFourCC::BGRA, 10);
  EXPECT_TRUE(Eventually([&] {
    ndi().sendVideoAsyncV2(s, &big.frame);
    return viewer.next() && ndi().sendGetNoConnections(s, 0) == 1;
  }, 8000));
  ::close(stuck);
}

TEST_F(StandInHttp, MjpegPartsDecodeToTheFrameEncodedOncePerFrame) {
  const auto [s, port] = open("Mjpeg");
  auto status = [port = port] { return RawGet(port, "/status").body; };
  // Frames nobody watches as JPEG are never encoded.
  TestFrame first = MakeSmoothFrame(320, 180, 320 * 4, NdiFourCC::BGRA, 100);
  for (int i = 0; i < 3; ++i) ndi().sendVideoAsyncV2(s, &first.frame);
  RawStream png;
  ASSERT_TRUE(png.open(port, "/stream.png"));
  EXPECT_NE(status().find("\"jpeg_encodes\":0}"), std::string::npos);

  // Three MJPEG viewers: the last frame first, then each frame sent, at its
  // own size, every part a JPEG of the frame.
  std::vector<RawStream> viewers(3);
  for (RawStream& v : viewers) {
    ASSERT_TRUE(v.open(port, "/stream.mjpg"));
    EXPECT_EQ(v.head().headers.at("content-type"), "multipart/x-mixed-replace; boundary=plombix-frame");
  }
  TestFrame later[] = {MakeSmoothFrame(160, 90, 160 * 4 + 8, NdiFourCC::BGRX, 60),
                       MakeSmoothFrame(64, 36, 64 * 4, NdiFourCC::BGRA, 200),
                       MakeSmoothFrame(320, 180, 320 * 4, NdiFourCC::BGRA, 150)};
  for (int step = 0; step <= 3; ++step) {
    const TestFrame& t = step == 0 ? first : later[step - 1];
    if (step > 0) ndi().sendVideoAsyncV2(s, &t.frame);
    for (RawStream& v : viewers) {
      ASSERT_TRUE(v.next()) << step;
      const RawResponse& part = v.part();
      EXPECT_EQ(part.header("content-type"), "image/jpeg") << step;
      EXPECT_EQ(part.header("x-sequence"), std::to_string(3 + step)) << step;
      EXPECT_EQ(part.header("x-width"), std::to_string(t.frame.xres)) << step;
      EXPECT_EQ(JpegMismatch(part.body, t.packed(), t.frame.xres, t.frame.yres), "") << step;
    }
  }
  EXPECT_NE(status().find("\"jpeg_encodes\":4}"), std::string::npos) << status();
  // The still frame is the same encoding.
  const RawResponse still = RawGet(port, "/frame.jpg");
  EXPECT_EQ(still.headers.at("content-type"), "image/jpeg");
  EXPECT_EQ(JpegMismatch(still.body, later[2].packed(), 320, 180), "");
  EXPECT_NE(status().find("\"jpeg_encodes\":4}"), std::string::npos) << status();
}
