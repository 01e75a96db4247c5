#include "websocket.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <strings.h>

namespace plombix::control {
namespace {

// RFC 6455 section 1.3: appended to the client's key before hashing.
constexpr std::string_view kGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// True when the comma-separated list `header` holds `token` (any letter case).
bool ListHas(const char* header, std::string_view token) {
  if (!header) return false;
  std::string_view rest(header);
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string_view item = Trim(rest.substr(0, comma));
    if (item.size() == token.size() && ::strncasecmp(item.data(), token.data(), token.size()) == 0)
      return true;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

bool IsControl(uint8_t opcode) { return opcode >= 8; }

}  // namespace

bool AsksForWebSocket(const WebSocketHeaders& headers) { return ListHas(headers.upgrade, "websocket"); }

std::string WebSocketAccept(std::string_view key) {
  QByteArray text(key.data(), qsizetype(key.size()));
  text.append(kGuid.data(), qsizetype(kGuid.size()));
  return QCryptographicHash::hash(text, QCryptographicHash::Sha1).toBase64().toStdString();
}

HandshakeAnswer CheckHandshake(const WebSocketHeaders& headers) {
  if (!AsksForWebSocket(headers) || !ListHas(headers.connection, "upgrade"))
    return {400, {}, "a WebSocket handshake needs \"Upgrade: websocket\" and \"Connection: Upgrade\""};
  if (!headers.version || Trim(headers.version) != "13")
    return {426, {}, "only WebSocket version 13 is spoken"};
  const std::string_view key = headers.key ? Trim(headers.key) : std::string_view();
  const auto decoded = QByteArray::fromBase64Encoding(QByteArray(key.data(), qsizetype(key.size())),
                                                      QByteArray::AbortOnBase64DecodingErrors);
  if (key.empty() || !decoded || decoded.decoded.size() != 16)
    return {400, {}, "Sec-WebSocket-Key must be 16 bytes in base64"};
  return {101, WebSocketAccept(key), {}};
}

std::string ServerFrame(WsOpcode opcode, std::string_view payload) {
  std::string frame;
  frame.reserve(payload.size() + 10);
  frame += char(0x80 | uint8_t(opcode));  // FIN, no reserved bits
  const uint64_t n = payload.size();
  if (n < 126) {
    frame += char(n);
  } else if (n <= 0xFFFF) {
    frame += char(126);
    frame += char(n >> 8);
    frame += char(n & 0xFF);
  } else {
    frame += char(127);
    for (int shift = 56; shift >= 0; shift -= 8) frame += char((n >> shift) & 0xFF);
  }
  frame.append(payload);
  return frame;
}

std::string CloseFrame(uint16_t code, std::string_view reason) {
  std::string payload;
  payload += char(code >> 8);
  payload += char(code & 0xFF);
  payload.append(reason.substr(0, 123));  // a control frame carries at most 125 bytes
  return ServerFrame(WsOpcode::Close, payload);
}

void WebSocketReader::fail(uint16_t code, std::string* reply) {
  reply->append(CloseFrame(code));
  closeCode_ = code;
  open_ = false;
  buffer_.clear();
}

bool WebSocketReader::feed(const char* data, size_t size, std::string* reply) {
  if (!open_) return false;
  buffer_.append(data, size);
  size_t used = 0;
  while (open_) {
    buffer_.erase(0, used);
    const std::optional<size_t> n = frame(reply);
    if (!n || *n == 0) break;
    used = *n;
  }
  return open_;
}

std::optional<size_t> WebSocketReader::frame(std::string* reply) {
  const auto* b = reinterpret_cast<const uint8_t*>(buffer_.data());
  const size_t have = buffer_.size();
  if (have < 2) return 0;
  const bool fin = b[0] & 0x80;
  const uint8_t opcode = b[0] & 0x0F;
  const bool masked = b[1] & 0x80;
  const uint8_t length7 = b[1] & 0x7F;
  auto bad = [this, reply](uint16_t code) {
    fail(code, reply);
    return std::optional<size_t>();
  };
  // Checked from the first two bytes, before waiting for any more.
  if (b[0] & 0x70) return bad(kCloseProtocolError);  // reserved bits: no extension agreed
  if ((opcode > 2 && opcode < 8) || opcode > 10) return bad(kCloseProtocolError);
  if (!masked) return bad(kCloseProtocolError);  // a client must mask every frame
  if (IsControl(opcode) && (!fin || length7 > 125)) return bad(kCloseProtocolError);
  if (!fin || opcode == uint8_t(WsOpcode::Continuation)) return bad(kClosePolicy);

  size_t head = 2;
  uint64_t length = length7;
  if (length7 == 126 || length7 == 127) {
    const size_t bytes = length7 == 126 ? 2 : 8;
    if (have < 2 + bytes) return 0;
    length = 0;
    for (size_t i = 0; i < bytes; ++i) length = (length << 8) | b[2 + i];
    head += bytes;
    // The shortest form must be used, and the top bit of a 64-bit length is 0.
    const bool shortest = length7 == 126 ? length >= 126 : length > 0xFFFF && !(length >> 63);
    if (!shortest) return bad(kCloseProtocolError);
  }
  if (length > kMaxWebSocketMessageBytes) return bad(kCloseTooBig);
  head += 4;  // the masking key
  if (have < head + length) return 0;

  std::string payload(buffer_, head, size_t(length));
  const uint8_t* mask = b + head - 4;
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = char(uint8_t(payload[i]) ^ mask[i & 3]);

  switch (WsOpcode(opcode)) {
    case WsOpcode::Ping: reply->append(ServerFrame(WsOpcode::Pong, payload)); break;
    case WsOpcode::Pong: break;
    case WsOpcode::Close: {
      // Echo a valid code; a one-byte body is malformed.
      if (payload.size() == 1) return bad(kCloseProtocolError);
      uint16_t code = kCloseNormal;
      if (payload.size() >= 2) code = uint16_t((uint8_t(payload[0]) << 8) | uint8_t(payload[1]));
      const bool valid = (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) ||
                         (code >= 3000 && code <= 4999);
      return bad(valid ? code : kCloseProtocolError);
    }
    default: ++messages_; break;  // text or binary: nothing is asked of the server
  }
  return head + size_t(length);
}

}  // namespace plombix::control
