// The event stream's pieces: the WebSocket handshake and frame reader on
// raw bytes, and the event hub serving clients over real socket pairs
// (WebSocket) and through its pull side (Server-Sent Events).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "event_hub.h"
#include "websocket.h"

using namespace plombix::control;

namespace {

// A frame as a client sends it: `first` is the FIN/RSV/opcode byte; the
// payload masked with the RFC's example key unless `masked` is false.
std::string ClientFrame(uint8_t first, std::string_view payload, bool masked = true) {
  std::string f(1, char(first));
  const uint8_t m = masked ? 0x80 : 0;
  const uint64_t n = payload.size();
  if (n < 126) {
    f += char(m | n);
  } else if (n <= 0xFFFF) {
    f += {char(m | 126), char(n >> 8), char(n)};
  } else {
    f += char(m | 127);
    for (int shift = 56; shift >= 0; shift -= 8) f += char(n >> shift);
  }
  const char key[4] = {0x37, char(0xfa), 0x21, 0x3d};
  if (masked) f.append(key, 4);
  for (size_t i = 0; i < n; ++i) f += masked ? char(payload[i] ^ key[i & 3]) : payload[i];
  return f;
}

TEST(WebSocket, HandshakeAnswersTheKeyOrSaysWhatIsWrong) {
  struct Row { const char* name; WebSocketHeaders h; int status; const char* accept; };
  const char* key = "dGhlIHNhbXBsZSBub25jZQ==";  // RFC 6455 section 1.3, with its answer below
  const Row rows[] = {
      {"the RFC's example", {"websocket", "keep-alive, Upgrade", "13", key}, 101, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo="},
      {"letter case of the tokens", {"WebSocket", "upgrade", "13", key}, 101, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo="},
      {"another version", {"websocket", "Upgrade", "8", key}, 426, ""},
      {"no Connection: Upgrade", {"websocket", "keep-alive", "13", key}, 400, ""},
      {"a key of 15 bytes", {"websocket", "Upgrade", "13", "dGhlIHNhbXBsZSBub25j"}, 400, ""},
      {"a key that is not base64", {"websocket", "Upgrade", "13", "!!!!IHNhbXBsZSBub25jZQ=="}, 400, ""},
      {"no key", {"websocket", "Upgrade", "13", nullptr}, 400, ""},
  };
  for (const Row& r : rows) {
    const HandshakeAnswer a = CheckHandshake(r.h);
    EXPECT_EQ(a.status, r.status) << r.name;
    EXPECT_EQ(a.accept, r.accept) << r.name;
  }
  EXPECT_FALSE(AsksForWebSocket({"h2c", "Upgrade", "13", key}));
}

TEST(WebSocket, ReaderTakesPingsAndClosesOnWhatItDoesNotTake) {
  struct Row { const char* name; std::string bytes; uint16_t closeCode; std::string reply; };
  const std::string huge = std::string("\x82\xff\x00\x00\x01\x00\x00\x00\x00\x00", 10) + "mask";  // 2^40 bytes announced
  const Row rows[] = {
      {"a text message, ignored", ClientFrame(0x81, "hello"), 0, ""},
      {"64 KiB exactly", ClientFrame(0x82, std::string(65536, 'x')), 0, ""},
      {"a ping", ClientFrame(0x89, "hi"), 0, ServerFrame(WsOpcode::Pong, "hi")},
      {"a close, echoed", ClientFrame(0x88, "\x03\xe8"), kCloseNormal, CloseFrame(kCloseNormal)},
      {"a close with one byte", ClientFrame(0x88, "\x03"), kCloseProtocolError, CloseFrame(kCloseProtocolError)},
      {"not masked", ClientFrame(0x81, "hello", false), kCloseProtocolError, CloseFrame(kCloseProtocolError)},
      {"a first fragment", ClientFrame(0x01, "hel"), kClosePolicy, CloseFrame(kClosePolicy)},
      {"a continuation", ClientFrame(0x80, "lo"), kClosePolicy, CloseFrame(kClosePolicy)},
      {"a reserved bit", ClientFrame(0xC1, "hello"), kCloseProtocolError, CloseFrame(kCloseProtocolError)},
      {"reserved opcode 3", ClientFrame(0x83, ""), kCloseProtocolError, CloseFrame(kCloseProtocolError)},
      {"reserved opcode 11", ClientFrame(0x8B, ""), kCloseProtocolError, CloseFrame(kCloseProtocolError)},
      {"a ping over 125 bytes", ClientFrame(0x89, std::string(126, 'x')), kCloseProtocolError,
       CloseFrame(kCloseProtocolError)},
      {"a length not in its shortest form", std::string("\x81\xfe\x00\x05mask12345", 13), kCloseProtocolError,
       CloseFrame(kCloseProtocolError)},
      {"over 64 KiB", ClientFrame(0x82, std::string(65537, 'x')), kCloseTooBig, CloseFrame(kCloseTooBig)},
      {"2^40 bytes announced, refused from the head", huge, kCloseTooBig, CloseFrame(kCloseTooBig)},
  };
  for (const Row& r : rows) {
    // Whole, then a byte at a time, each followed by a ping that must go
    // unanswered once the connection is closing.
    for (const size_t piece : {r.bytes.size() + 4, size_t(1)}) {
      WebSocketReader reader;
      std::string reply;
      const std::string bytes = r.bytes + ClientFrame(0x89, "");
      for (size_t at = 0; at < bytes.size(); at += piece)
        (void)reader.feed(bytes.data() + at, std::min(piece, bytes.size() - at), &reply);
      const std::string expected = r.closeCode ? r.reply : r.reply + ServerFrame(WsOpcode::Pong, "");
      EXPECT_EQ(reply, expected) << r.name << " in pieces of " << piece;
      EXPECT_EQ(reader.open(), r.closeCode == 0) << r.name;
      EXPECT_EQ(reader.closeCode(), r.closeCode) << r.name;
      const bool data = (r.bytes[0] & 0x0F) == 1 || (r.bytes[0] & 0x0F) == 2;
      EXPECT_EQ(reader.messages(), r.closeCode == 0 && data ? 1u : 0u) << r.name;
    }
  }
}

// One end of a socket pair for the hub, the other for the test's client.
struct Peer {
  int fds[2] = {-1, -1};
  std::atomic<bool> closed{false};
  std::string buffer;
  Peer() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0); }
  ~Peer() { ::close(fds[1]); }
  bool add(EventHub& hub) {
    return hub.addWebSocket(fds[0], {}, [this] {
      ::close(fds[0]);
      closed = true;
    });
  }
  // The next frame from the hub as (opcode, payload); opcode -1 after 5 s or the end.
  std::pair<int, std::string> next() {
    for (;;) {
      if (buffer.size() >= 2) {
        const size_t n7 = uint8_t(buffer[1]) & 0x7F, head = n7 == 126 ? 4 : n7 == 127 ? 10 : 2;
        size_t n = n7;
        if (head > 2 && buffer.size() >= head)
          for (size_t i = n = 0; i < head - 2; ++i) n = n << 8 | uint8_t(buffer[2 + i]);
        if (buffer.size() >= head && buffer.size() >= head + n) {
          std::pair<int, std::string> f(uint8_t(buffer[0]) & 0x0F, buffer.substr(head, n));
          buffer.erase(0, head + n);
          return f;
        }
      }
      pollfd p{fds[1], POLLIN, 0};
      char chunk[65536];
      const ssize_t got = ::poll(&p, 1, 5000) == 1 ? ::recv(fds[1], chunk, sizeof chunk, 0) : -1;
      if (got <= 0) return {-1, {}};
      buffer.append(chunk, size_t(got));
    }
  }
};

std::unique_ptr<EventHub> Hub(EventHubLimits limits = {}) {
  std::string error;
  std::unique_ptr<EventHub> hub = EventHub::Start(limits, &error);
  EXPECT_TRUE(hub) << error;
  return hub;
}

TEST(EventHub, ClientsGetTheWholeStateFirstThenEachChange) {
  auto hub = Hub();
  hub->publish("output", R"({"n":0})");
  Peer ws;
  ASSERT_TRUE(ws.add(*hub));
  std::atomic<int> wakes{0}, parks{0};
  const auto sse = hub->addStream([&] { ++wakes; });
  ASSERT_TRUE(sse);
  EXPECT_EQ(ws.next(), std::make_pair(1, std::string(R"({"type":"state","state":{"n":0}})")));
  char buf[256];
  const auto park = [&] { ++parks; };
  const ssize_t first = sse->read(buf, sizeof buf, park);
  ASSERT_GT(first, 0);
  EXPECT_EQ(std::string(buf, size_t(first)), "event: state\ndata: {\"type\":\"state\",\"state\":{\"n\":0}}\n\n");
  EXPECT_EQ(sse->read(buf, sizeof buf, park), 0);
  EXPECT_EQ(parks, 1);
  hub->publish("picture", R"({"n":1})", {{"trigger", "drop"}, {"reason", "a \"quoted\"\nline"}});
  const std::string json = R"({"type":"picture","trigger":"drop","reason":"a \"quoted\"\nline","state":{"n":1}})";
  EXPECT_EQ(ws.next(), std::make_pair(1, json));
  for (int i = 0; i < 500 && wakes == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(wakes, 1);
  std::string got;  // read in small pieces
  for (ssize_t n; (n = sse->read(buf, 7, park)) > 0;) got.append(buf, size_t(n));
  EXPECT_EQ(got, "event: picture\ndata: " + json + "\n\n");
  hub.reset();  // ends both
  EXPECT_EQ(ws.next(), std::make_pair(8, CloseFrame(kCloseGoingAway).substr(2)));
  EXPECT_TRUE(ws.closed);
  EXPECT_EQ(wakes, 2);
  EXPECT_EQ(sse->read(buf, sizeof buf, park), -1);
}

TEST(EventHub, ASlowClientIsDroppedWhileOthersKeepUp) {
  auto hub = Hub({.maxQueued = 4});
  Peer fast, slow;
  const int small = 4096;
  ::setsockopt(slow.fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ASSERT_TRUE(fast.add(*hub) && slow.add(*hub));
  const std::string state = "{\"pad\":\"" + std::string(32768, 'x') + "\"}";
  for (int i = 0; i < 40; ++i) {
    hub->publish("tally", state);  // the slow client never reads
    ASSERT_EQ(fast.next().second, EventJson("tally", state)) << i;
  }
  EXPECT_TRUE(slow.closed);
  EXPECT_FALSE(fast.closed);
  EXPECT_EQ(hub->dropped(), 1u);
  EXPECT_EQ(hub->clients(), 1u);
}

TEST(EventHub, ABadFrameClosesThatClientOnly) {
  auto hub = Hub();
  Peer bad, good;
  ASSERT_TRUE(bad.add(*hub) && good.add(*hub));
  ASSERT_EQ(::send(bad.fds[1], "\x81\x02hi", 4, 0), 4);  // not masked
  EXPECT_EQ(bad.next(), std::make_pair(8, CloseFrame(kCloseProtocolError).substr(2)));
  EXPECT_EQ(bad.next().first, -1);
  EXPECT_TRUE(bad.closed);
  const std::string ping = ClientFrame(0x89, "are you there");
  ASSERT_EQ(::send(good.fds[1], ping.data(), ping.size(), 0), ssize_t(ping.size()));
  EXPECT_EQ(good.next(), std::make_pair(10, std::string("are you there")));
  hub->publish("range", "{}");
  EXPECT_EQ(good.next(), std::make_pair(1, EventJson("range", "{}")));
}

TEST(EventHub, ThirtyTwoClientsAtMostAndIdleOnesArePinged) {
  auto hub = Hub({.maxQueued = 1000, .keepAlive = std::chrono::milliseconds(50)});
  std::vector<std::shared_ptr<EventStream>> streams;
  for (int i = 0; i < 31; ++i) streams.push_back(hub->addStream([] {}));
  Peer last, refused;
  ASSERT_TRUE(last.add(*hub));
  EXPECT_FALSE(hub->hasRoom());
  EXPECT_FALSE(hub->addStream([] {}));
  EXPECT_FALSE(refused.add(*hub));
  EXPECT_TRUE(refused.closed);
  EXPECT_EQ(refused.next(), std::make_pair(8, CloseFrame(kCloseTryLater, "too many event clients").substr(2)));
  streams.pop_back();
  EXPECT_TRUE(hub->hasRoom());
  EXPECT_EQ(last.next().first, 9);  // nothing published: a ping
}

}  // namespace
