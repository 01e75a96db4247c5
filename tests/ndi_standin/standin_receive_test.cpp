// The stand-in's sources over their life, end to end: finding them,
// capturing frames and metadata, losing a source (following one through
// restarts: monitor_test). And a source is its name: a destroyed sender's
// source goes on serving for a grace period, a sender created again under
// the same name takes it over with its viewers (the player re-creates its
// sender at every output change), and each name gets its port back.
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>
#include <tuple>

#include "ndi_output.h"
#include "standin_test_support.h"

using namespace standin_test;
using StandInReceive = StandInTest;
using StandInTakeover = StandInTest;

namespace {

std::string url(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/"; }

NDIlib_recv_instance_t connect(const plombix::NdiRuntime& ndi, const char* name,
                               NdiRecvColorFormat color = NdiRecvColorFormat::BGRX_BGRA) {
  const NDIlib_recv_create_v3_t settings{{name, {nullptr}}, color, NdiRecvBandwidth::Highest, false, "test"};
  return ndi.recvCreateV3(&settings);
}

}  // namespace

// Only live sources are listed: not the entries of ended processes (or of
// this process id started at another time), not damaged or foreign files.
TEST_F(StandInReceive, FinderListsLiveSourcesAndNoticesChanges) {
  NDIlib_find_create_t settings{true, nullptr, nullptr};
  NDIlib_find_instance_t finder = ndi().findCreateV2(&settings);
  ASSERT_NE(finder, nullptr);
  EXPECT_FALSE(ndi().findWaitForSources(finder, 50));  // none yet, none appeared
  NDIlib_send_instance_t b = create("B source");
  NDIlib_send_instance_t a = create("A source");
  EXPECT_EQ(create("A source"), nullptr);  // its name is in use
  const pid_t child = ::fork();            // a process that has ended
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string entries = folder_ + "/sources/";
  std::ofstream(entries + "Dead.source") << "name=Dead\nurl=http://127.0.0.1:6001/\npid=" << child << "\n";
  std::ofstream(entries + "Reused.source") << "name=Reused\nurl=http://127.0.0.1:6002/\npid=" << ::getpid() << "\nstart=1\n";
  std::ofstream(entries + "Damaged.source") << "name=Damaged\nurl=http://127.0.0.1:6003/\n";
  std::ofstream(entries + "notes.txt") << "name=Other\nurl=http://127.0.0.1:6004/\npid=1\n";
  EXPECT_TRUE(ndi().findWaitForSources(finder, 2000));
  uint32_t count = 0;
  const NDIlib_source_t* sources = ndi().findGetCurrentSources(finder, &count);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(std::string(sources[0].p_ndi_name) + ", " + sources[1].p_ndi_name, "A source, B source");  // sorted
  EXPECT_EQ(sources[0].p_url_address, url(portOf("A source")));
  EXPECT_FALSE(ndi().findWaitForSources(finder, 50));  // nothing changed since
  destroy(b);
  ndi().destroy();  // closes B's source now rather than after its grace period
  EXPECT_NE(create("Dead"), nullptr);  // an ended process's name is free
  EXPECT_TRUE(ndi().findWaitForSources(finder, 2000));
  sources = ndi().findGetCurrentSources(finder, &count);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(std::string(sources[0].p_ndi_name) + ", " + sources[1].p_ndi_name, "A source, Dead");
  destroy(a);
  ndi().findDestroy(finder);
  EXPECT_FALSE(ndi().findWaitForSources(nullptr, 0));  // null handles
  EXPECT_EQ(ndi().findGetCurrentSources(nullptr, &count), nullptr);
  EXPECT_EQ(count, 0u);
}

// The connection metadata exactly as added (its length counting the zero
// or not, 0: the whole text), at /metadata and to a receiver, once, before
// frames byte-exact with their fields (red and blue swapped for an RGBA
// receiver). (A source lost and found again: monitor_test.)
TEST_F(StandInReceive, CapturedFramesAndMetadataAreExact) {
  const struct {
    const char* label;
    int width, height, stride;
    NdiFourCC fourcc;
    bool rgba;  // the receiver asks for RGBX/RGBA
    std::string metadata;
    int length;
    std::string served;
  } rows[] = {{"BGRA odd, padded", 7, 3, 7 * 4 + 4, NdiFourCC::BGRA, false, "<p short_name=\"V\"/>", 19, "<p short_name=\"V\"/>"},
              {"BGRX 720p", 1280, 720, 1280 * 4, NdiFourCC::BGRX, false, "<a/>", 5, "<a/>"},
              {"BGRX to an RGBA receiver", 5, 4, 20, NdiFourCC::BGRX, true, "<abcdef/>", 3, "<ab"},
              {"BGRA 1x1", 1, 1, 4, NdiFourCC::BGRA, false, "<b x=\"1\"/>", 0, "<b x=\"1\"/>"}};
  uint32_t seed = 40;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const auto [s, port] = open(row.label);
    std::string text = row.metadata;
    const NDIlib_metadata_frame_t m{row.length, kNdiTimecodeSynthesize, text.data()};
    ndi().sendAddConnectionMetadata(s, &m);
    EXPECT_EQ(RawGet(port, "/metadata").body, row.served);
    NDIlib_recv_instance_t r =
        connect(ndi(), row.label, row.rgba ? NdiRecvColorFormat::RGBX_RGBA : NdiRecvColorFormat::BGRX_BGRA);
    NDIlib_metadata_frame_t got{};
    ASSERT_TRUE(Eventually([&] {
      return ndi().recvCaptureV2(r, nullptr, nullptr, &got, 50) == int(NdiFrameType::Metadata);
    }));
    EXPECT_EQ(std::string(got.p_data) + " " + std::to_string(got.length),
              row.served + " " + std::to_string(row.served.size() + 1));  // received metadata counts its zero
    ndi().recvFreeMetadata(r, &got);
    EXPECT_EQ(ndi().recvCaptureV2(r, nullptr, nullptr, &got, 50), int(NdiFrameType::None));
    ASSERT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 1; }));
    TestFrame t = MakeFrame(row.width, row.height, row.stride, row.fourcc, seed++);
    t.frame.frame_rate_D = 1200;
    t.frame.picture_aspect_ratio = 0.5625f;
    ndi().sendVideoAsyncV2(s, &t.frame);
    NDIlib_video_frame_v2_t v{};
    ASSERT_TRUE(Eventually([&] {
      return ndi().recvCaptureV2(r, &v, nullptr, nullptr, 100) == int(NdiFrameType::Video);
    }));
    EXPECT_EQ(std::tuple(v.xres, v.yres, v.frame_rate_N, v.frame_rate_D, v.line_stride_in_bytes, v.FourCC,
                         v.picture_aspect_ratio, v.frame_format_type),
              std::tuple(row.width, row.height, 30000, 1200, row.width * 4, row.rgba ? NdiFourCC::RGBX : row.fourcc,
                         0.5625f, NdiFrameFormat::Progressive));
    std::string expected = t.packed();
    for (size_t i = 0; row.rgba && i < expected.size(); i += 4) std::swap(expected[i], expected[i + 2]);
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(v.p_data), expected.size()) == expected);
    ndi().recvFreeVideoV2(r, &v);
    ndi().recvDestroy(r);
  }
  // A name nobody publishes: an error once unreachable for a few seconds,
  // or for the runtime's client time-out when shorter (one second here).
  ::setenv("PLOMBIX_NDI_TIMEOUT_S", "1", 1);
  NDIlib_recv_instance_t nobody = connect(ndi(), "Nobody");
  ::unsetenv("PLOMBIX_NDI_TIMEOUT_S");
  NDIlib_video_frame_v2_t v{};
  EXPECT_TRUE(Eventually([&] { return ndi().recvCaptureV2(nobody, &v, nullptr, nullptr, 200) == int(NdiFrameType::Error); }));
  ndi().recvDestroy(nobody);
  const NDIlib_recv_create_v3_t empty{};  // no source at all, null handles
  EXPECT_EQ(ndi().recvCreateV3(&empty), nullptr);
  EXPECT_EQ(ndi().recvCreateV3(nullptr), nullptr);
  EXPECT_EQ(ndi().recvCaptureV2(nullptr, &v, nullptr, nullptr, 0), int(NdiFrameType::Error));
  EXPECT_FALSE(ndi().recvSetTally(nullptr, nullptr));
  ndi().recvDestroy(nullptr);
}

// An output change: the player destroys its sender and creates it again
// under the same name; the source, its port, streams and their tally go on.
// Another name never takes a source over; one nobody takes over closes
// after its grace period.
TEST_F(StandInTakeover, AStreamGoesOnThroughATakeoverAndEndsAfterTheGrace) {
  auto [s, port] = open("Vora Plombix 1");
  RawStream stream;
  ASSERT_TRUE(stream.open(port, "/stream.bgra"));
  const std::string id = stream.head().headers.at("x-receiver-id");
  ASSERT_TRUE(Eventually([&] { return ndi().sendGetNoConnections(s, 0) == 1; }));
  ASSERT_EQ(RawPost(port, "/tally?receiver=" + id + "&program=1&preview=0").status, 204);
  NDIlib_tally_t t{};
  ASSERT_TRUE(ndi().sendGetTally(s, &t, 0));
  const TestFrame before = MakeFrame(64, 36, 64 * 4, NdiFourCC::BGRA, 1);
  ndi().sendVideoAsyncV2(s, &before.frame);
  ASSERT_TRUE(stream.next());
  std::string text = "<old/>";
  const NDIlib_metadata_frame_t m{0, kNdiTimecodeSynthesize, text.data()};
  ndi().sendAddConnectionMetadata(s, &m);
  destroy(s);
  EXPECT_EQ(RawGet(port, "/status").status, 200);  // serving in between
  s = create("Vora Plombix 1");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(portOf("Vora Plombix 1"), port);
  EXPECT_EQ(RawGet(port, "/metadata").body, "");  // the new sender's own, none yet
  // The stream was never dropped: counted at once, its tally still there
  // (and no change to report); the next frame at the new size and FourCC.
  EXPECT_EQ(ndi().sendGetNoConnections(s, 0), 1);
  t = NDIlib_tally_t{};
  EXPECT_FALSE(ndi().sendGetTally(s, &t, 0));
  EXPECT_TRUE(t.on_program);
  const TestFrame after = MakeFrame(96, 54, 96 * 4 + 8, NdiFourCC::BGRX, 2);
  ndi().sendVideoAsyncV2(s, &after.frame);
  ASSERT_TRUE(stream.next());
  const RawResponse& part = stream.part();
  EXPECT_EQ(part.header("x-width") + " " + part.header("x-height") + " " + part.header("x-fourcc") + " " +
                part.header("x-sequence"),
            "96 54 BGRX 2");
  EXPECT_TRUE(part.body == after.packed());
  EXPECT_EQ(RawPost(port, "/tally?receiver=" + id + "&program=0&preview=1").status, 204);
  ASSERT_TRUE(ndi().sendGetTally(s, &t, 0));
  EXPECT_TRUE(!t.on_program && t.on_preview);
  // Destroyed again; another name created meanwhile gets a source of its
  // own, and the lingering one serves its last frame, listed, until the
  // grace period ends: its stream ends, it is unlisted, its port free.
  const auto destroyedAt = std::chrono::steady_clock::now();
  destroy(s);
  auto [right, rightPort] = open("Right");
  EXPECT_NE(rightPort, port);
  const TestFrame r = MakeFrame(9, 7, 36, NdiFourCC::BGRX, 4);
  ndi().sendVideoAsyncV2(right, &r.frame);
  EXPECT_EQ(RawGet(rightPort, "/frame.bgra").body, r.packed());
  EXPECT_EQ(RawGet(port, "/frame.bgra").body, after.packed());
  EXPECT_EQ(portOf("Vora Plombix 1"), port);
  EXPECT_FALSE(stream.next());
  const auto lasted = std::chrono::steady_clock::now() - destroyedAt;
  EXPECT_TRUE(lasted > std::chrono::milliseconds(2500) && lasted < std::chrono::milliseconds(8000));
  EXPECT_TRUE(Eventually([&] { return portOf("Vora Plombix 1") == -1 && PortIsFree(port); }, 2000));
  // The end of the runtime (a player exiting) closes a lingering source at once.
  destroy(right);
  EXPECT_EQ(portOf("Right"), rightPort);
  ndi().destroy();
  EXPECT_TRUE(portOf("Right") == -1 && PortIsFree(rightPort));
}

// The player's output learns the name and address its sender published
// (NDIlib_send_get_source_name); a runtime without it: the name asked for.
TEST_F(StandInTakeover, TheOutputLearnsItsPublishedNameAndAddress) {
  plombix::NdiRuntime older = ndi();
  older.sendGetSourceName = nullptr;
  for (const plombix::NdiRuntime* runtime : std::initializer_list<const plombix::NdiRuntime*>{&ndi(), &older}) {
    plombix::NdiOutput output(*runtime);
    ASSERT_TRUE(output.Initialize());
    EXPECT_EQ(output.sourceLocation(), "");  // no sender yet
    ASSERT_TRUE(output.CreateSender(0));
    const std::string address = runtime == &older ? "" : url(portOf("Vora Plombix 1"));
    EXPECT_EQ(output.sourceAddress(), address);
    EXPECT_EQ(output.sourceLocation(), "Vora Plombix 1" + (address.empty() ? "" : " \u2014 " + address));
    output.DestroySender();
    EXPECT_EQ(output.sourceName() + output.sourceAddress(), "");
  }
  EXPECT_EQ(ndi().sendGetSourceName(nullptr), nullptr);
}

TEST_F(StandInTakeover, EachNameGetsItsPortBackAfterARestart) {
  // Copies of a player publish, and end (their runtimes too).
  auto publishAndEnd = [&](const std::vector<std::string>& names) {
    std::vector<int> ports;
    std::vector<NDIlib_send_instance_t> senders;
    for (const std::string& n : names) {
      senders.push_back(open(n).first);
      ports.push_back(portOf(n));
    }
    for (NDIlib_send_instance_t s : senders) destroy(s);
    ndi().destroy();
    return ports;
  };
  const std::vector<int> first = publishAndEnd({"Copy 1", "Copy 2"});
  // A newcomer leaves both ports to their names; the copies, restarted in
  // the other order, get theirs back. (Another program of this machine may
  // have taken one meanwhile: then it is not free, and another is taken.)
  const std::vector<int> again = publishAndEnd({"Newcomer", "Copy 2", "Copy 1"});
  EXPECT_TRUE(again[0] != first[0] && again[0] != first[1]);
  EXPECT_TRUE(again[1] == first[1] || !PortIsFree(first[1]));
  EXPECT_TRUE(again[2] == first[0] || !PortIsFree(first[0]));
  // Its port taken by another program: the name gets another one, and
  // keeps that one next time.
  // (-1: a test running beside this one holds it already, which does as well.)
  const int blocker = ListenOn(again[2]);
  const int moved = publishAndEnd({"Copy 1"})[0];
  EXPECT_NE(moved, again[2]);
  if (blocker >= 0) ::close(blocker);
  EXPECT_TRUE(publishAndEnd({"Copy 1"})[0] == moved || !PortIsFree(moved));
  // A damaged port file is ignored (the first port no other name keeps) and mended.
  std::ofstream(folder_ + "/ports/Copy%201.port") << "name=Copy 1\nport=99999\n";
  const int fresh = publishAndEnd({"Copy 1"})[0];
  EXPECT_TRUE(fresh != again[0] && fresh != again[1]) << fresh;
  EXPECT_EQ(ReadFile(folder_ + "/ports/Copy%201.port"), "name=Copy 1\nport=" + std::to_string(fresh) + "\n");
}
