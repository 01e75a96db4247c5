// StandInSender: one published source of the stand-in runtime, an HTTP/1.1
// server on its own TCP port.
//
// Port: the first free one from 5961 up (kFirstPort .. kFirstPort +
// kPortCount - 1), bound to 127.0.0.1 unless PLOMBIX_NDI_BIND names another
// address (IPv4 or IPv6; "0.0.0.0" serves every interface). The listening
// socket has SO_REUSEADDR, so a destroyed sender's port is free at once.
//
// Endpoints (GET or HEAD unless said otherwise):
//   /             a page showing the live picture over a checkerboard
//   /frame.bgra   the last frame's pixels, rows top-down, width * 4 bytes a
//                 row, with the frame headers below; 404 before the first frame
//   /frame.png    the same as PNG (RGBA for BGRA, RGB for BGRX)
//   /stream.bgra, /stream.png
//                 multipart/x-mixed-replace, one part per frame (each part
//                 carrying the frame headers), the last frame first; a slow
//                 reader gets the newest frame next and skips the rest. Each
//                 open stream is one receiver, named by X-Receiver-Id.
//   POST /tally?receiver=ID&program=0|1&preview=0|1
//                 that receiver's tally; 204. Unknown receiver 404, a missing
//                 or bad parameter 400. Dropped when its stream closes.
//   /metadata     the connection metadata text, exactly as added
//   /status       JSON: name, width, height, fourcc, frame_rate_n,
//                 frame_rate_d, connections, tally, frames_sent
// Frame headers: X-Width, X-Height, X-FourCC, X-Frame-Rate-N, X-Frame-Rate-D,
// X-Aspect, X-Frame-Format, X-Timecode, X-Sequence.
// Other paths 404; other methods 405.
//
// Limits: at most kMaxConnections connections (kMaxConnectionsPerAddress from
// one address), requests of at most kMaxRequestBytes of headers, idle
// connections (or readers that stop reading) dropped after the time-out
// (kIdleTimeoutSeconds, or PLOMBIX_NDI_TIMEOUT_S 1..3600). Each connection
// has its own thread, so a stuck client holds only its own thread.
//
// Thread-safety: the public methods are called from one thread (the
// player's); the HTTP threads are internal.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frame_store.h"
#include "ndi_abi.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace plombix::standin {

constexpr int kFirstPort = 5961;
constexpr int kPortCount = 200;
constexpr unsigned kMaxConnections = 64;
constexpr unsigned kMaxConnectionsPerAddress = 32;
constexpr size_t kMaxRequestBytes = 32 * 1024;
constexpr unsigned kIdleTimeoutSeconds = 10;
constexpr const char* kStreamBoundary = "plombix-frame";

class StandInSender {
 public:
  // Claims `name` (discovery), opens the port and starts serving. Null on
  // failure with `*error` saying why (name in use, no free port, ...).
  static std::unique_ptr<StandInSender> Create(const std::string& name, std::string* error);
  // Stops serving: every connection closed, port and name free on return.
  ~StandInSender();

  // A frame: recorded, never waited on (see FrameStore). Invalid frames are
  // ignored, but still release the previous buffer. Null: flush.
  void send(const NDIlib_video_frame_v2_t* frame);
  // True when the combined tally changed since the last call; fills `*tally`
  // with it either way. Waits up to `timeoutMs` for a change.
  bool getTally(NDIlib_tally_t* tally, uint32_t timeoutMs);
  // Open streams now; waits up to `timeoutMs` for at least one.
  int connections(uint32_t timeoutMs);
  // Appends metadata text: `length` bytes of `p_data` (up to a zero byte), or
  // the whole zero-terminated text when `length` <= 0.
  void addMetadata(const NDIlib_metadata_frame_t* metadata);

  const std::string& name() const { return name_; }
  const std::string& url() const { return url_; }
  int port() const { return port_; }

  // --- Used by the HTTP threads (public for the C callbacks) -------------------
  struct Stream;
  int handleRequest(MHD_Connection* connection, const char* url, const char* method);
  long streamRead(Stream* stream, char* buffer, size_t max);
  void streamEnded(Stream* stream);

 private:
  StandInSender() = default;

  int replyText(MHD_Connection* connection, unsigned status, const std::string& body,
                const char* contentType);
  int replyFrame(MHD_Connection* connection, bool png);
  int replyStream(MHD_Connection* connection, bool png);
  int replyTally(MHD_Connection* connection);
  std::string newReceiverId();
  NDIlib_tally_t combinedTallyLocked() const;

  std::string name_;
  std::string url_;
  std::string sourcesDir_;
  int port_ = 0;
  MHD_Daemon* daemon_ = nullptr;
  FrameStore store_;

  struct ReceiverTally {
    bool program = false;
    bool preview = false;
  };
  mutable std::mutex stateMutex_;
  std::condition_variable stateChanged_;
  std::map<std::string, ReceiverTally> receivers_;  // open streams by id
  NDIlib_tally_t reportedTally_{false, false};      // what getTally last returned
  std::string metadata_;
};

}  // namespace plombix::standin
