// A source is its name: a destroyed sender's source goes on serving for a
// grace period, a sender created again under the same name takes it over
// with its viewers (the player re-creates its sender at every output
// change), and each name gets its port back across restarts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "ndi_output.h"
#include "standin_test_support.h"

using namespace standin_test;

namespace {

using StandInTakeover = StandInTest;

std::string url(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/"; }

}  // namespace

TEST_F(StandInTakeover, AStreamGoesOnThroughDestroyAndCreateAtTheNewFormat) {
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
  std::map<std::string, std::string> h;
  std::string body;
  ASSERT_TRUE(stream.next(&h, &body));

  // An output change: the player destroys its sender and creates it again
  // under the same name. The source goes on serving in between.
  destroy(s);
  EXPECT_EQ(RawGet(port, "/status").status, 200);
  s = create("Vora Plombix 1");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(portOf("Vora Plombix 1"), port);
  // The stream was never dropped: counted at once, its tally still there
  // (and no change to report).
  EXPECT_EQ(ndi().sendGetNoConnections(s, 0), 1);
  t = NDIlib_tally_t{};
  EXPECT_FALSE(ndi().sendGetTally(s, &t, 0));
  EXPECT_TRUE(t.on_program);
  ASSERT_NE(ndi().sendGetSourceName, nullptr);
  const NDIlib_source_t* published = ndi().sendGetSourceName(s);
  ASSERT_NE(published, nullptr);
  EXPECT_EQ(std::tuple(std::string(published->p_ndi_name), std::string(published->p_url_address)),
            std::tuple(std::string("Vora Plombix 1"), url(port)));
  EXPECT_EQ(ndi().sendGetSourceName(nullptr), nullptr);

  // The next frame reaches the same stream at the new size and FourCC.
  const TestFrame after = MakeFrame(96, 54, 96 * 4 + 8, NdiFourCC::BGRX, 2);
  ndi().sendVideoAsyncV2(s, &after.frame);
  ASSERT_TRUE(stream.next(&h, &body));
  EXPECT_EQ(std::tuple(h["x-width"], h["x-height"], h["x-fourcc"], h["x-sequence"]),
            std::tuple(std::string("96"), std::string("54"), std::string("BGRX"), std::string("2")));
  EXPECT_TRUE(body == after.packed());
  // Its receiver id still reports tally to the new sender.
  EXPECT_EQ(RawPost(port, "/tally?receiver=" + id + "&program=0&preview=1").status, 204);
  ASSERT_TRUE(ndi().sendGetTally(s, &t, 0));
  EXPECT_TRUE(!t.on_program && t.on_preview);
}

TEST_F(StandInTakeover, TheOutputLearnsItsPublishedNameAndAddress) {
  plombix::NdiOutput output(ndi());
  ASSERT_TRUE(output.Initialize());
  EXPECT_EQ(output.sourceLocation(), "");  // no sender yet
  ASSERT_TRUE(output.CreateSender(0));
  const int port = portOf("Vora Plombix 1");
  EXPECT_EQ(output.sourceName(), "Vora Plombix 1");
  EXPECT_EQ(output.sourceAddress(), url(port));
  EXPECT_EQ(output.sourceLocation(), "Vora Plombix 1 \u2014 " + url(port));
  output.DestroySender();
  EXPECT_EQ(output.sourceName() + output.sourceAddress(), "");
  // A runtime without the optional entry point: the name asked for, no address.
  plombix::NdiRuntime older = ndi();
  older.sendGetSourceName = nullptr;
  plombix::NdiOutput olderOutput(older);
  ASSERT_TRUE(olderOutput.Initialize());
  ASSERT_TRUE(olderOutput.CreateSender(1));
  EXPECT_EQ(olderOutput.sourceLocation(), "Vora Plombix 2");
  olderOutput.DestroySender();
}

TEST_F(StandInTakeover, OtherNamesNeverTakeOverAndTheGraceEnds) {
  auto [left, leftPort] = open("Left");
  RawStream stream;
  ASSERT_TRUE(stream.open(leftPort, "/stream.bgra"));
  const TestFrame l = MakeFrame(8, 8, 32, NdiFourCC::BGRA, 3);
  ndi().sendVideoAsyncV2(left, &l.frame);
  std::map<std::string, std::string> h;
  std::string body;
  ASSERT_TRUE(stream.next(&h, &body));
  const auto destroyedAt = std::chrono::steady_clock::now();
  destroy(left);

  // Another name, created within the grace period, gets a source of its own.
  auto [right, rightPort] = open("Right");
  EXPECT_NE(rightPort, leftPort);
  const TestFrame r = MakeFrame(9, 7, 36, NdiFourCC::BGRX, 4);
  ndi().sendVideoAsyncV2(right, &r.frame);
  EXPECT_EQ(RawGet(rightPort, "/frame.bgra").body, r.packed());
  // The lingering source still serves its last frame and is still listed...
  EXPECT_EQ(RawGet(leftPort, "/frame.bgra").body, l.packed());
  EXPECT_EQ(portOf("Left"), leftPort);
  // ...until the grace period ends: its stream ends (it never saw a frame
  // of "Right"), it is no longer listed, and its port is free.
  EXPECT_FALSE(stream.next(&h, &body));
  const auto lasted = std::chrono::steady_clock::now() - destroyedAt;
  EXPECT_GT(lasted, std::chrono::milliseconds(2500));
  EXPECT_LT(lasted, std::chrono::milliseconds(8000));
  EXPECT_TRUE(Eventually([&] { return portOf("Left") == -1 && PortIsFree(leftPort); }, 2000));
  EXPECT_EQ(RawGet(rightPort, "/status").status, 200);

  // The end of the runtime (NDIlib_destroy, a player exiting) closes a
  // lingering source at once.
  destroy(right);
  EXPECT_EQ(portOf("Right"), rightPort);
  ndi().destroy();
  EXPECT_EQ(portOf("Right"), -1);
  EXPECT_TRUE(PortIsFree(rightPort));
}

TEST_F(StandInTakeover, EachNameGetsItsPortBackAfterARestart) {
  // Two copies of a player publish; both end (their runtimes too).
  auto publishAndEnd = [&](const std::vector<std::string>& names) {
    std::vector<int> ports;
    std::vector<NDIlib_send_instance_t> senders;
    for (const std::string& n : names) {
      auto [s, port] = open(n);
      senders.push_back(s);
      ports.push_back(port);
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
  EXPECT_NE(again[0], first[0]);
  EXPECT_NE(again[0], first[1]);
  EXPECT_TRUE(again[1] == first[1] || !PortIsFree(first[1]));
  EXPECT_TRUE(again[2] == first[0] || !PortIsFree(first[0]));

  // Its port taken by another program: the name gets another one, and
  // keeps that one next time.
  const int p1 = again[2];
  const int blocker = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(p1));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int one = 1;  // as most servers do, so that earlier connections' TIME_WAIT does not matter
  ::setsockopt(blocker, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(blocker, 1), 0);
  const int moved = publishAndEnd({"Copy 1"})[0];
  EXPECT_NE(moved, p1);
  ::close(blocker);
  EXPECT_TRUE(publishAndEnd({"Copy 1"})[0] == moved || !PortIsFree(moved));

  // A damaged port file is ignored: the first port no other name keeps.
  std::ofstream(folder_ + "/ports/Copy%201.port") << "name=Copy 1\nport=99999\n";
  const int fresh = publishAndEnd({"Copy 1"})[0];
  EXPECT_TRUE(fresh != again[0] && fresh != again[1]) << fresh;
  std::ifstream remembered(folder_ + "/ports/Copy%201.port");
  const std::string text((std::istreambuf_iterator<char>(remembered)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "name=Copy 1\nport=" + std::to_string(fresh) + "\n");  // and mended
}
