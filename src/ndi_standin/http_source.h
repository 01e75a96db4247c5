// HttpSource: one published source of the stand-in runtime, an HTTP/1.1
// server on its own TCP port. A source outlives the sender that opened it
// for a grace period (source_registry.h), so that a sender re-created under
// the same name takes over its port, its open streams, their receiver ids
// and their tally: a source is its name.
//
// Port: the one this name had last time when it is free (port_memory.h),
// else the first free one from 5961 up (kFirstPort .. kFirstPort +
// kPortCount - 1) that no other name remembers, else the first free one.
// Bound to 127.0.0.1 unless PLOMBIX_NDI_BIND names another address (IPv4 or
// IPv6; "0.0.0.0" serves every interface). The listening socket has
// SO_REUSEADDR, so a closed source's port is free at once.
//
// Endpoints (GET or HEAD unless said otherwise):
//   /             a page showing the live picture with the source's name,
//                 size, frame rate, FourCC, receivers and tally; it follows
//                 the source through format changes and restarts
//                 (web_page.h). /?bare=1: the picture alone, transparent
//                 where the frame is (a browser source in a streaming program)
//   /frame.bgra   the last frame's pixels, rows top-down, width * 4 bytes a
//                 row, with the frame headers below; 404 before the first frame
//   /frame.png    the same as PNG (RGBA for BGRA, RGB for BGRX)
//   /frame.jpg    the same as JPEG (quality 90, alpha dropped)
//   /stream.bgra, /stream.png, /stream.mjpg
//                 multipart/x-mixed-replace, one part per frame (each part
//                 carrying its Content-Type, Content-Length and the frame
//                 headers, so a stream simply goes on at a new size or
//                 FourCC), the last frame first. From a sender with clocked
//                 video, every frame in order, each a frame period after
//                 the one before (frame_store.h); otherwise, and for a
//                 slow reader, the newest frame next and the rest skipped
//                 (latest wins). Each
//                 open stream is one receiver, named by X-Receiver-Id. A
//                 frame is encoded (PNG, JPEG) at most once, on the thread of
//                 the first stream that wants it, and only if one does.
//   POST /tally?receiver=ID&program=0|1&preview=0|1
//                 that receiver's tally; 204. Unknown receiver 404, a missing
//                 or bad parameter 400. Dropped when its stream closes.
//   /metadata     the connection metadata text of the current sender
//   /status       JSON: name, width, height, fourcc, frame_rate_n,
//                 frame_rate_d, connections, tally, frames_sent, jpeg_encodes
// Frame headers: X-Width, X-Height, X-FourCC, X-Frame-Rate-N, X-Frame-Rate-D,
// X-Aspect, X-Frame-Format, X-Timecode, X-Sequence (frames sent to this
// source so far, by all its senders).
// Any GET may name its source, "?source=NAME": for another name it is 404
// (the page asks so, to show nothing of a source that took its address).
// Other paths 404; other methods 405. Every answer closes its connection.
//
// A stream that waits for frames longer than half the time-out gets a blank
// line between parts (allowed by the multipart format), so that waiting for
// a frame never counts as idle.
//
// Limits (every client is untrusted): at most kMaxConnections connections
// (kMaxConnectionsPerAddress from one address), requests of at most
// kMaxRequestBytes of headers, a request's head complete within
// kHeadDeadlineSeconds of the connection's start (head_deadline.h), idle
// connections (or readers that stop reading) dropped after the time-out
// (kIdleTimeoutSeconds, or PLOMBIX_NDI_TIMEOUT_S 1..3600, which also
// shortens the head deadline, and a receiver's patience, when smaller).
// Each connection has its own thread, so a stuck client holds only its own
// thread; those threads never preempt the sending thread when they wake
// (they are batch-scheduled).
//
// Thread-safety: the sender-side methods are called from one thread at a
// time (the player's); the HTTP threads are internal.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "frame_store.h"
#include "head_deadline.h"
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
constexpr unsigned kHeadDeadlineSeconds = 5;
constexpr const char* kStreamBoundary = "plombix-frame";

// The time-out for idle clients: PLOMBIX_NDI_TIMEOUT_S (1..3600) when set,
// else kIdleTimeoutSeconds.
unsigned IdleTimeoutSeconds();

// How a sender's frames go to viewers: at their frame rate (the interface's
// clocked video), or as fast as they are sent.
enum class VideoClock { FrameRate, None };

class HttpSource {
 public:
  // Claims `name` (discovery), opens the port and starts serving. Null on
  // failure with `*error` saying why (name in use, no free port, ...).
  static std::shared_ptr<HttpSource> Open(const std::string& name, VideoClock clock, std::string* error);
  // close().
  ~HttpSource();
  HttpSource(const HttpSource&) = delete;
  HttpSource& operator=(const HttpSource&) = delete;

  // Stops serving: every stream ended, every connection closed, the port and
  // the name free on return. Later calls do nothing.
  void close();

  // --- The sender's side ----------------------------------------------------
  // A new sender takes the source over: its connection metadata starts
  // empty, its frames go out by its clock.
  void beginSender(VideoClock clock);
  // The sender is gone: its buffer is let go, never read again (a copy in
  // progress ends first). Viewers keep the last frame copied; a frame sent
  // so shortly before that no stream had copied it is not served.
  void endSender();
  // A frame: recorded, never waited on (see FrameStore). Invalid frames are
  // ignored, but still release the previous buffer. Null: flush.
  void send(const NDIlib_video_frame_v2_t* frame);
  // True when the combined tally changed since the last call (by any sender
  // of this source); fills `*tally` with it either way. Waits up to
  // `timeoutMs` for a change.
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
  enum class Encoding { Bgra, Png, Jpeg };
  struct Stream;
  int handleRequest(MHD_Connection* connection, const char* url, const char* method);
  long streamRead(Stream* stream, char* buffer, size_t max);
  void streamEnded(Stream* stream);
  HeadDeadlines& headDeadlines() { return *deadlines_; }

 private:
  HttpSource() = default;

  int replyText(MHD_Connection* connection, unsigned status, const std::string& body,
                const char* contentType);
  int replyFrame(MHD_Connection* connection, Encoding encoding);
  int replyStream(MHD_Connection* connection, Encoding encoding);
  int replyTally(MHD_Connection* connection);
  int replyStatus(MHD_Connection* connection);
  // The encoded bytes of `frame` (empty when it cannot be encoded).
  const std::string* encoded(const Frame& frame, Encoding encoding);
  NDIlib_tally_t combinedTallyLocked() const;

  std::string name_;
  std::string url_;
  std::string sourcesDir_;
  int port_ = 0;
  MHD_Daemon* daemon_ = nullptr;
  std::unique_ptr<HeadDeadlines> deadlines_;
  FrameStore store_;
  std::chrono::milliseconds keepAlive_{0};  // a quiet stream's blank line: half the time-out
  std::atomic<uint64_t> jpegEncodes_{0};
  std::once_flag closeOnce_;

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
