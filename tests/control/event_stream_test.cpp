// WebSocket handshake and frames on raw bytes; the event hub over socket pairs and as SSE.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "event_hub.h"
#include "websocket.h"

using namespace plombix::control;

// A client's frame: `first` is the FIN/RSV/opcode byte; masked with the RFC's example key unless told not.
std::string ClientFrame(uint8_t first, std::string_view payload, bool masked = true) {
  std::string f{char(first), char((masked ? 0x80 : 0) | (payload.size() < 126 ? payload.size() : 127))};
  for (int shift = 56; payload.size() >= 126 && shift >= 0; shift -= 8) f += char(payload.size() >> shift);
  if (masked) f.append("\x37\xfa\x21\x3d", 4);
  for (size_t i = 0; i < payload.size(); ++i) f += char(payload[i] ^ (masked ? "\x37\xfa\x21\x3d"[i & 3] : 0));
  return f;
}

TEST(WebSocket, HandshakeAndFrameReader) {
  const char* key = "dGhlIHNhbXBsZSBub25jZQ==";  // RFC 6455 section 1.3, with its answer
  EXPECT_EQ(CheckHandshake({"WebSocket", "keep-alive, upgrade", "13", key}).accept, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  for (const auto& [h, status] : {std::pair<WebSocketHeaders, int>{{"websocket", "keep-alive", "13", key}, 400},
                                  {{"websocket", "Upgrade", "13", "dGhlIHNhbXBsZSBub25j"}, 400}})  // 15 bytes
    EXPECT_EQ(CheckHandshake(h).status, status) << h.key;

  struct Row { const char* name; std::string bytes; uint16_t code; std::string reply = {}; };
  const Row rows[] = {
      {"text, ignored", ClientFrame(0x81, "hello"), 0}, {"64 KiB", ClientFrame(0x82, std::string(65536, 'x')), 0},
      {"ping", ClientFrame(0x89, "hi"), 0, ServerFrame(WsOpcode::Pong, "hi")},
      {"close", ClientFrame(0x88, "\x03\xe8"), kCloseNormal}, {"close, 1 byte", ClientFrame(0x88, "\x03"), 1002},
      {"not masked", ClientFrame(0x81, "hello", false), 1002}, {"first fragment", ClientFrame(0x01, "hel"), 1008},
      {"continuation", ClientFrame(0x80, "lo"), 1008}, {"reserved bit", ClientFrame(0xC1, "hello"), 1002},
      {"opcode 3", ClientFrame(0x83, ""), 1002}, {"opcode 11", ClientFrame(0x8B, ""), 1002},
      {"ping over 125 bytes", ClientFrame(0x89, std::string(126, 'x')), 1002},
      {"length not in its shortest form", std::string("\x81\xfe\x00\x05mask12345", 13), 1002},
      {"over 64 KiB", ClientFrame(0x82, std::string(65537, 'x')), 1009},
      {"2^40 bytes, refused from the head", std::string("\x82\xff\0\0\1\0\0\0\0\0", 10), 1009}};
  for (const Row& r : rows) {  // whole and a byte at a time, then a ping left unanswered once closing
    for (const size_t piece : {r.bytes.size() + 6, size_t(1)}) {
      WebSocketReader reader;
      std::string reply, bytes = r.bytes + ClientFrame(0x89, "");
      for (size_t at = 0; at < bytes.size(); at += piece)
        (void)reader.feed(bytes.data() + at, std::min(piece, bytes.size() - at), &reply);
      EXPECT_EQ(reply, r.code ? CloseFrame(r.code) : r.reply + ServerFrame(WsOpcode::Pong, "")) << r.name;
      EXPECT_EQ(reader.closeCode(), r.code) << r.name;
      EXPECT_EQ(reader.messages(), !r.code && uint8_t((r.bytes[0] & 0x0F) - 1) < 2 ? 1u : 0u) << r.name;
    }
  }
}

struct Peer {  // one end of a socket pair for the hub, the other the test's client
  int fds[2] = {-1, -1};
  std::atomic<bool> closed{false};
  std::string in;
  Peer() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0); }
  ~Peer() { ::close(fds[1]); }
  bool add(EventHub& hub) { return hub.addWebSocket(fds[0], {}, [this] { closed = ::close(fds[0]) == 0; }); }
  // The hub's next frame (under 126 bytes) as (opcode, payload); -1 after 5 s or at the end.
  std::pair<int, std::string> next() {
    for (char chunk[4096]; in.size() < 2 || in.size() < 2u + uint8_t(in[1]);) {
      pollfd p{fds[1], POLLIN, 0};
      const ssize_t got = ::poll(&p, 1, 5000) == 1 ? ::recv(fds[1], chunk, sizeof chunk, 0) : -1;
      if (got <= 0) return {-1, {}};
      in.append(chunk, size_t(got));
    }
    std::pair<int, std::string> f(in[0] & 0x0F, in.substr(2, uint8_t(in[1])));
    return in.erase(0, 2 + f.second.size()), f;
  }
};

TEST(EventHub, ClientsGetTheWholeStateFirstThenEachChangeAndSlowOnesAreDropped) {
  auto hub = EventHub::Start({.maxQueued = 4}, nullptr);
  hub->publish("output", R"({"n":0})");
  Peer ws, slow;
  std::atomic<int> wakes{0}, parks{0};
  const int small = 4096;
  ::setsockopt(slow.fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ASSERT_TRUE(ws.add(*hub) && slow.add(*hub));
  const auto sse = hub->addStream([&] { ++wakes; });
  auto read = [&, buf = std::string(7, ' ')]() mutable {  // everything queued, 7 bytes at a time
    std::string all;
    for (ssize_t n; (n = sse->read(buf.data(), 7, [&] { ++parks; })) > 0;) all.append(buf, 0, size_t(n));
    return all;
  };
  EXPECT_EQ(ws.next(), std::make_pair(1, std::string(R"({"type":"state","state":{"n":0}})")));
  EXPECT_EQ(read(), "event: state\ndata: {\"type\":\"state\",\"state\":{\"n\":0}}\n\n");
  hub->publish("picture", R"({"n":1})", {{"trigger", "drop"}, {"reason", "a \"quoted\"\nline"}});
  const std::string json = R"({"type":"picture","trigger":"drop","reason":"a \"quoted\"\nline","state":{"n":1}})";
  EXPECT_EQ(ws.next(), std::make_pair(1, json));
  for (int i = 0; i < 500 && wakes == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(read(), "event: picture\ndata: " + json + "\n\n");  // parked again
  for (int i = 0; i < 100; ++i) {  // read by `ws` only: `slow` and the stream fall behind
    hub->publish("tally", "{}");
    ASSERT_EQ(ws.next().second, EventJson("tally", "{}")) << i;
  }
  EXPECT_TRUE(slow.closed && !ws.closed && hub->dropped() == 2 && hub->clients() == 1);
  hub.reset();
  EXPECT_EQ(ws.next(), std::make_pair(8, CloseFrame(kCloseGoingAway).substr(2)));
  // Parked twice, woken by the change and by the first tally.
  EXPECT_TRUE(ws.closed && wakes == 2 && parks == 2 && sse->read(nullptr, 0, [] {}) == -1);
}

TEST(EventHub, ThirtyTwoClientsAtMostABadFrameClosesOneAndIdleOnesArePinged) {
  auto hub = EventHub::Start({.maxQueued = 1000, .keepAlive = std::chrono::milliseconds(50)}, nullptr);
  std::vector<std::shared_ptr<EventStream>> streams;
  for (int i = 0; i < 30; ++i) streams.push_back(hub->addStream([] {}));
  Peer good, bad, refused;
  ASSERT_TRUE(good.add(*hub) && bad.add(*hub));
  EXPECT_FALSE(hub->hasRoom() || hub->addStream([] {}) || refused.add(*hub));
  EXPECT_EQ(refused.next(), std::make_pair(8, CloseFrame(kCloseTryLater, "too many event clients").substr(2)));
  ASSERT_EQ(::send(bad.fds[1], "\x81\x02hi", 4, 0), 4);  // not masked
  EXPECT_EQ(bad.next(), std::make_pair(8, CloseFrame(kCloseProtocolError).substr(2)));
  EXPECT_TRUE(bad.next().first == -1 && refused.closed && !good.closed && hub->hasRoom());  // -1: closed
  EXPECT_EQ(good.next().first, 9);  // nothing published: a ping
}
