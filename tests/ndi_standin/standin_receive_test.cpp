// The stand-in runtime's receive side end to end: finding sources, capturing
// frames and metadata, reporting tally, reconnecting, losing a source.
#include <cstring>
#include <thread>
#include <tuple>

#include "standin_test_support.h"

using namespace standin_test;

namespace {

using StandInReceive = StandInTest;

NDIlib_recv_instance_t connect(const plombix::NdiRuntime& ndi, const char* name, const char* url,
                               NdiRecvColorFormat color = NdiRecvColorFormat::BGRX_BGRA) {
  NDIlib_recv_create_v3_t settings{};
  settings.source_to_connect_to.p_ndi_name = name;
  settings.source_to_connect_to.p_url_address = url;
  settings.color_format = color;
  settings.bandwidth = NdiRecvBandwidth::Highest;
  settings.allow_video_fields = false;
  settings.p_ndi_recv_name = "test";
  return ndi.recvCreateV3(&settings);
}

// Captures until a video frame arrives (or `timeoutMs` passes).
bool captureVideo(const plombix::NdiRuntime& ndi, NDIlib_recv_instance_t r, NDIlib_video_frame_v2_t* v,
                  int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ndi.recvCaptureV2(r, v, nullptr, nullptr, 100) == int(NdiFrameType::Video)) return true;
  }
  return false;
}

std::string bytesOf(const NDIlib_video_frame_v2_t& v) {
  return std::string(reinterpret_cast<const char*>(v.p_data), size_t(v.xres) * 4 * size_t(v.yres));
}

}  // namespace

TEST_F(StandInReceive, FinderListsLiveSourcesAndNoticesChanges) {
  NDIlib_find_create_t settings{true, nullptr, nullptr};
  NDIlib_find_instance_t finder = ndi().findCreateV2(&settings);
  ASSERT_NE(finder, nullptr);
  EXPECT_FALSE(ndi().findWaitForSources(finder, 50));  // none yet, none appeared
  NDIlib_send_instance_t b = create("B source");
  NDIlib_send_instance_t a = create("A source");
  EXPECT_TRUE(ndi().findWaitForSources(finder, 2000));
  uint32_t count = 0;
  const NDIlib_source_t* sources = ndi().findGetCurrentSources(finder, &count);
  ASSERT_EQ(count, 2u);
  EXPECT_STREQ(sources[0].p_ndi_name, "A source");  // sorted by name
  EXPECT_STREQ(sources[1].p_ndi_name, "B source");
  EXPECT_EQ(std::string(sources[0].p_url_address).rfind("http://127.0.0.1:", 0), 0u);
  EXPECT_FALSE(ndi().findWaitForSources(finder, 50));  // nothing changed since
  destroy(b);
  ndi().destroy();  // closes B's source now rather than after its grace period
  EXPECT_TRUE(ndi().findWaitForSources(finder, 2000));
  sources = ndi().findGetCurrentSources(finder, &count);
  ASSERT_EQ(count, 1u);
  EXPECT_STREQ(sources[0].p_ndi_name, "A source");
  destroy(a);
  ndi().findDestroy(finder);
  // Null handles.
  EXPECT_FALSE(ndi().findWaitForSources(nullptr, 0));
  EXPECT_EQ(ndi().findGetCurrentSources(nullptr, &count), nullptr);
  EXPECT_EQ(count, 0u);
}

TEST_F(StandInReceive, CapturedFramesAreByteExactAndRgbaReceiversGetRedAndBlueSwapped) {
  const struct {
    const char* label;
    int width, height, stride;
    NdiFourCC fourcc;
    bool rgba;  // the receiver asks for RGBX/RGBA
  } rows[] = {
      {"BGRA odd", 7, 3, 7 * 4 + 4, NdiFourCC::BGRA, false},
      {"BGRX odd", 101, 57, 101 * 4, NdiFourCC::BGRX, false},
      {"BGRA 720p", 1280, 720, 1280 * 4, NdiFourCC::BGRA, false},
      {"BGRX to an RGBA receiver", 5, 4, 20, NdiFourCC::BGRX, true},
  };
  uint32_t seed = 40;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    NDIlib_send_instance_t s = open(row.label).first;
    NDIlib_recv_instance_t r = connect(
        ndi(), row.label, nullptr, row.rgba ? NdiRecvColorFormat::RGBX_RGBA : NdiRecvColorFormat::BGRX_BGRA);
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 1; }));
    TestFrame t = MakeFrame(row.width, row.height, row.stride, row.fourcc, seed++);
    t.frame.frame_rate_D = 1200;
    t.frame.picture_aspect_ratio = 0.5625f;
    ndi().sendVideoAsyncV2(s, &t.frame);
    NDIlib_video_frame_v2_t v{};
    ASSERT_TRUE(captureVideo(ndi(), r, &v));
    EXPECT_EQ(std::tuple(v.xres, v.yres, v.frame_rate_N, v.frame_rate_D, v.line_stride_in_bytes),
              std::tuple(row.width, row.height, 30000, 1200, row.width * 4));
    EXPECT_EQ(v.FourCC, row.rgba ? NdiFourCC::RGBX : row.fourcc);
    EXPECT_EQ(v.picture_aspect_ratio, 0.5625f);
    EXPECT_EQ(v.frame_format_type, NdiFrameFormat::Progressive);
    std::string expected = t.packed();
    for (size_t i = 0; row.rgba && i < expected.size(); i += 4) std::swap(expected[i], expected[i + 2]);
    EXPECT_TRUE(bytesOf(v) == expected);
    ndi().recvFreeVideoV2(r, &v);
    ndi().recvDestroy(r);
  }
}

TEST_F(StandInReceive, MetadataArrivesOnceAndExactly) {
  NDIlib_send_instance_t s = open("Meta recv").first;
  const std::string text = "<ndi_product short_name=\"Vora Plombix\"/>";
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  const NDIlib_metadata_frame_t m{int(text.size()), kNdiTimecodeSynthesize, buffer.data()};
  ndi().sendAddConnectionMetadata(s, &m);
  NDIlib_recv_instance_t r = connect(ndi(), "Meta recv", nullptr);
  NDIlib_metadata_frame_t got{};
  int type = int(NdiFrameType::None);
  ASSERT_TRUE(Eventually([&] {
    type = ndi().recvCaptureV2(r, nullptr, nullptr, &got, 50);
    return type == int(NdiFrameType::Metadata);
  }));
  ASSERT_NE(got.p_data, nullptr);
  EXPECT_EQ(std::string(got.p_data), text);
  EXPECT_EQ(got.length, int(text.size()) + 1);  // received metadata counts its zero
  ndi().recvFreeMetadata(r, &got);
  EXPECT_EQ(ndi().recvCaptureV2(r, nullptr, nullptr, &got, 50), int(NdiFrameType::None));
  ndi().recvDestroy(r);
}

TEST_F(StandInReceive, ReceiverTallyReachesTheSender) {
  NDIlib_send_instance_t s = open("Tally recv").first;
  NDIlib_recv_instance_t r = connect(ndi(), "Tally recv", nullptr);
  const NDIlib_tally_t program{true, false};
  EXPECT_TRUE(ndi().recvSetTally(r, &program));  // before or after connecting: both arrive
  NDIlib_tally_t t{};
  ASSERT_TRUE(ndi().sendGetTally(s, &t, 5000));
  EXPECT_TRUE(t.on_program);
  EXPECT_FALSE(t.on_preview);
  const NDIlib_tally_t preview{false, true};
  EXPECT_TRUE(ndi().recvSetTally(r, &preview));
  ASSERT_TRUE(ndi().sendGetTally(s, &t, 5000));
  EXPECT_FALSE(t.on_program);
  EXPECT_TRUE(t.on_preview);
  ndi().recvDestroy(r);  // the receiver leaves: tally back to none
  ASSERT_TRUE(ndi().sendGetTally(s, &t, 5000));
  EXPECT_FALSE(t.on_program);
  EXPECT_FALSE(t.on_preview);
  EXPECT_EQ(ndi().sendGetNoConnections(s, 0), 0);
}

TEST_F(StandInReceive, ReceiverFollowsItsSourceThroughRecreationAndRestart) {
  NDIlib_send_instance_t s = open("Phoenix").first;
  NDIlib_recv_instance_t r = connect(ndi(), "Phoenix", nullptr);
  const NDIlib_tally_t program{true, false};
  EXPECT_TRUE(ndi().recvSetTally(r, &program));
  NDIlib_video_frame_v2_t v{};
  const TestFrame frames[] = {MakeFrame(16, 9, 64, NdiFourCC::BGRA, 1),
                              MakeFrame(32, 18, 128, NdiFourCC::BGRX, 2),
                              MakeFrame(24, 10, 96, NdiFourCC::BGRA, 3)};
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    if (step == 1) {
      // A format change: the sender is destroyed and created again at once.
      destroy(s);
      s = open("Phoenix").first;
    } else if (step == 2) {
      // A restart: the source is gone (runtime ended), then published anew.
      destroy(s);
      ndi().destroy();
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      s = open("Phoenix").first;
    }
    ndi().sendVideoAsyncV2(s, &frames[step].frame);
    ASSERT_TRUE(captureVideo(ndi(), r, &v, 8000));
    EXPECT_EQ(v.xres, frames[step].frame.xres);
    EXPECT_TRUE(bytesOf(v) == frames[step].packed());
    ndi().recvFreeVideoV2(r, &v);
    // The receiver's tally reaches every sender of the source.
    NDIlib_tally_t t{};
    EXPECT_TRUE(Eventually([&] {
      (void)ndi().sendGetTally(s, &t, 0);
      return t.on_program;
    }));
  }
  ndi().recvDestroy(r);
}

TEST_F(StandInReceive, ALostSourceIsReportedAsAnError) {
  NDIlib_send_instance_t s = open("Gone").first;
  NDIlib_recv_instance_t r = connect(ndi(), "Gone", nullptr);
  ASSERT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 1; }));
  destroy(s);
  ndi().destroy();  // the source closes at once instead of lingering
  NDIlib_video_frame_v2_t v{};
  int type = int(NdiFrameType::None);
  // Reported once the source has been unreachable for a few seconds.
  EXPECT_TRUE(Eventually([&] {
    type = ndi().recvCaptureV2(r, &v, nullptr, nullptr, 200);
    return type == int(NdiFrameType::Error);
  }, 10000));
  ndi().recvDestroy(r);
  // A receiver for a name nobody publishes fails the same way.
  NDIlib_recv_instance_t nobody = connect(ndi(), "Nobody", nullptr);
  EXPECT_TRUE(Eventually([&] {
    return ndi().recvCaptureV2(nobody, &v, nullptr, nullptr, 200) == int(NdiFrameType::Error);
  }, 10000));
  ndi().recvDestroy(nobody);
  // No source at all, null handles.
  NDIlib_recv_create_v3_t empty{};
  EXPECT_EQ(ndi().recvCreateV3(&empty), nullptr);
  EXPECT_EQ(ndi().recvCreateV3(nullptr), nullptr);
  EXPECT_EQ(ndi().recvCaptureV2(nullptr, &v, nullptr, nullptr, 0), int(NdiFrameType::Error));
  EXPECT_FALSE(ndi().recvSetTally(nullptr, nullptr));
  ndi().recvDestroy(nullptr);
}
