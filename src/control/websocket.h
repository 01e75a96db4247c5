// The WebSocket protocol (RFC 6455) as the event stream needs it: the
// opening handshake, the frames a server sends, and a reader of the frames a
// client sends that closes the connection on anything it does not take.
//
// Why events share the remote control's port through libmicrohttpd's
// "upgrade" rather than a second server (Qt WebSockets): libmicrohttpd 0.9.75
// (Debian 12) hands an upgraded connection's socket to us after sending the
// 101 answer, so one server on one port keeps doing what every request needs
// -- the access checks (user, token, Origin/Host), the connection limits in
// total and per address, the head deadlines -- before any event client is
// accepted. Qt WebSockets would need its own listening port or a hand-over
// of sockets from the HTTP server, would run its sockets on a Qt event loop
// (the window's, unless we added one), and repeats none of those checks.
// What the upgrade leaves to us is the framing below, which is small; the
// sockets themselves are served by EventHub on its own thread.
//
// The events flow one way, server to client. A client may still send frames
// (pings, a close, or text that is ignored); the reader closes the
// connection -- that connection only -- for a frame that is not masked, a
// fragmented message, a message over kMaxWebSocketMessageBytes, reserved bits
// or opcodes, or a malformed control frame.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plombix::control {

inline constexpr size_t kMaxWebSocketMessageBytes = 64 * 1024;

// Close codes sent back (RFC 6455 section 7.4.1).
inline constexpr uint16_t kCloseNormal = 1000;
inline constexpr uint16_t kCloseGoingAway = 1001;
inline constexpr uint16_t kCloseProtocolError = 1002;
inline constexpr uint16_t kClosePolicy = 1008;  // fragmented messages are not taken
inline constexpr uint16_t kCloseTooBig = 1009;
inline constexpr uint16_t kCloseTryLater = 1013;  // every event slot is taken

enum class WsOpcode : uint8_t { Continuation = 0, Text = 1, Binary = 2, Close = 8, Ping = 9, Pong = 10 };

// The headers of an opening handshake; null for a header that is absent.
struct WebSocketHeaders {
  const char* upgrade = nullptr;     // Upgrade
  const char* connection = nullptr;  // Connection
  const char* version = nullptr;     // Sec-WebSocket-Version
  const char* key = nullptr;         // Sec-WebSocket-Key
};

// True when the request asks to switch to WebSocket ("Upgrade: websocket",
// any letter case); such a request is then checked with CheckHandshake, any
// other is served as Server-Sent Events.
[[nodiscard]] bool AsksForWebSocket(const WebSocketHeaders& headers);

struct HandshakeAnswer {
  int status = 101;    // 101, or 400 (malformed), or 426 (another version: answer with
                       // "Sec-WebSocket-Version: 13")
  std::string accept;  // Sec-WebSocket-Accept, for 101
  std::string error;   // the reason, otherwise
};

// Checks a GET that asks for WebSocket: "Connection" must list "Upgrade",
// the version must be 13 and the key 16 bytes in base64.
[[nodiscard]] HandshakeAnswer CheckHandshake(const WebSocketHeaders& headers);

// base64(SHA-1(key + the protocol's GUID)), for a key as sent.
[[nodiscard]] std::string WebSocketAccept(std::string_view key);

// One unmasked, final frame from the server.
[[nodiscard]] std::string ServerFrame(WsOpcode opcode, std::string_view payload);
// A close frame with `code` (and a short reason, cut to fit a control frame).
[[nodiscard]] std::string CloseFrame(uint16_t code, std::string_view reason = {});

// Reads a client's bytes as they arrive, in pieces of any size.
class WebSocketReader {
 public:
  // Takes `size` more bytes. Appends to `*reply` what must go back (a pong
  // for each ping, a close frame when the connection ends) and returns
  // false once the connection must be closed after sending `*reply`; later
  // calls then do nothing and return false.
  [[nodiscard]] bool feed(const char* data, size_t size, std::string* reply);

  bool open() const { return open_; }
  uint16_t closeCode() const { return closeCode_; }  // sent in the close frame
  size_t messages() const { return messages_; }      // whole text or binary messages read (ignored)

 private:
  // Parses one frame from the front of buffer_: its size, 0 while more
  // bytes are needed, or nothing after failing the connection.
  std::optional<size_t> frame(std::string* reply);
  void fail(uint16_t code, std::string* reply);

  std::string buffer_;  // bytes of a frame not yet whole; at most a frame's head and 64 KiB
  bool open_ = true;
  uint16_t closeCode_ = 0;
  size_t messages_ = 0;
};

}  // namespace plombix::control
