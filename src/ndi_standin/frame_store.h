// FrameStore: the frames of one sender, handed from the player's thread
// to the HTTP threads without making the player wait for a receiver.
//
// The buffer of a submitted frame stays the caller's; the store may read it
// only until the next submit(), flush() or close(). So:
//   - submit() records the pointer and the frame's fields, wakes whoever
//     copies it and returns; it copies nothing itself, so a send costs the
//     player's thread next to nothing whether or not anyone receives.
//   - Unclocked (the sender did not ask for clocked video): the first
//     receiver thread that wants the frame (a woken stream, or latest())
//     copies the caller's buffer into a Frame of its own, once, and every
//     receiver shares that copy. A frame superseded before anyone asked for
//     it is never copied: every viewer gets the newest frame (latest wins).
//   - Clocked: while anyone views, the store's own copying thread copies
//     each frame as it is submitted, so that every frame reaches every
//     viewer in order, one frame period apart (see next()). On a machine
//     too busy to run that thread before the next submit(), submit()
//     copies the frame before it instead: never dropped. Frames a viewer
//     has still to get are kept, at most kMaxKeptFrames of them and
//     kMaxKeptBytes in all (besides the frame each viewer is sending); a
//     viewer whose next frame had to go for that skips to the newest, as a
//     slow reader does unclocked. Nobody viewing: copied only when asked for,
//     as unclocked.
//   - A Frame is published only once it is complete: readers that want it
//     meanwhile wait for the copy. (Letting streams start on a half-copied
//     frame gains nothing on loopback, where the transfer is the slow part.)
//   - submit() waits only while another thread is still copying the
//     PREVIOUS buffer (that copy must end before the buffer is reused), and
//     copies it only as said above.
//   - flush() copies a frame nobody has copied yet (a receiver that joins
//     later still gets it) and then forgets the caller's buffer.
//   - release() waits for a copy in progress and forgets the caller's
//     buffer without copying it (the sender is going: its buffer is never
//     read again; receivers keep the last frame copied).
//   - close() does what release() does and ends the store.
// Copies pack the rows (stride = width * 4). Frame buffers are recycled
// through a small process-wide pool, so that steady sending, and senders
// re-created after a format change, do not allocate (a fresh large buffer
// costs a page fault on every first touch).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "ndi_abi.h"

namespace plombix::standin {

struct FrameInfo {
  int width = 0;
  int height = 0;
  NdiFourCC fourcc = NdiFourCC::BGRA;
  int frameRateN = 0;
  int frameRateD = 0;
  float aspect = 0.0f;
  NdiFrameFormat format = NdiFrameFormat::Progressive;
  int64_t timecode = 0;   // synthesized when the sender asked for it
  uint64_t sequence = 0;  // frames sent by this sender up to this one; 0 = none yet
};

// Largest frame accepted, in each dimension.
constexpr int kMaxFrameSide = 16384;

// Clocked frames kept for viewers that have still to get them: enough for
// the longest cross-fade (30 frames at 60p) at the largest output frame
// (4096 x 2160), which a viewer keeping up drains at the frame rate.
constexpr size_t kMaxKeptFrames = 32;
constexpr size_t kMaxKeptBytes = size_t(512) << 20;

// The time a frame lasts at its declared rate, N/D frames a second: D/N
// seconds, rounded to the microsecond; zero for a rate that is not positive,
// at most one second (so a nonsense rate never holds a viewer for long).
std::chrono::microseconds FramePeriod(const FrameInfo& info);

class FramePool;

// One immutable copied frame.
class Frame {
 public:
  Frame(std::shared_ptr<FramePool> pool, const FrameInfo& info);
  ~Frame();
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  const FrameInfo& info() const { return info_; }
  // When the copy was complete (steady clock).
  std::chrono::steady_clock::time_point publishedAt() const { return publishedAt_; }
  const uint8_t* pixels() const { return buffer_.get(); }
  size_t byteCount() const { return size_t(info_.width) * 4 * size_t(info_.height); }
  bool ok() const { return buffer_ != nullptr; }  // false: allocation failed

  // The frame as PNG (RGBA for BGRA, RGB for BGRX), encoded on first use
  // and kept; empty if encoding failed. Thread-safe.
  const std::string& png() const;
  // The frame as JPEG (jpeg_encode.h, quality kJpegQuality, alpha dropped),
  // likewise encoded once, by the first thread that asks, while the others
  // that ask meanwhile wait for it. `*encodedNow` (optional) tells whether
  // this call made the encoding.
  const std::string& jpeg(bool* encodedNow = nullptr) const;

 private:
  friend class FrameStore;
  void copyFrom(const uint8_t* data, int strideBytes);

  std::shared_ptr<FramePool> pool_;
  FrameInfo info_;
  std::chrono::steady_clock::time_point publishedAt_{};
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0;
  mutable std::once_flag pngOnce_;
  mutable std::string png_;
  mutable std::once_flag jpegOnce_;
  mutable std::string jpeg_;
};

// Checks a frame handed to the send call: size 1..kMaxFrameSide, BGRA or
// BGRX, pixels present, stride 0 (meaning width * 4) or at least width * 4.
// On success fills `*info` (sequence and timecode are left to the store) and
// `*strideBytes`.
[[nodiscard]] bool ValidateFrame(const NDIlib_video_frame_v2_t& frame, FrameInfo* info,
                                 int* strideBytes);

// One viewer's place in a store's frames.
struct FrameCursor {
  uint64_t seen = 0;  // sequence of the last frame taken; 0: none yet
  std::chrono::steady_clock::time_point notBefore{};  // clocked: the next frame not before this
};

class FrameStore {
 public:
  FrameStore();
  ~FrameStore();  // close(), then the copying thread ends
  FrameStore(const FrameStore&) = delete;
  FrameStore& operator=(const FrameStore&) = delete;

  // --- The sending thread ---------------------------------------------------
  // Whether frames go to viewers at their frame rate (the sender's clocked
  // video). Off by default. Switching it off lets go of the kept frames.
  void setClocked(bool clocked);
  // Records a frame ValidateFrame accepted (`info` from it) and the caller's
  // buffer. Returns its sequence number.
  uint64_t submit(const FrameInfo& info, const uint8_t* data, int strideBytes);
  // Copies the pending frame if nobody did, then forgets the caller's buffer.
  void flush();
  // Forgets the caller's buffer (once a copy in progress has ended).
  void release();
  // Ends the store: waits for a copy in progress, forgets the caller's
  // buffer, wakes every waiter. Later waits return at once.
  void close();

  // --- Receiver threads -------------------------------------------------------
  // The newest frame, copied now if needed (waiting for a copy another
  // thread is making); null before the first frame (or if a copy could not
  // be allocated).
  std::shared_ptr<const Frame> latest();
  // A viewer comes and goes; `cursor` stays valid, and is used by one
  // thread at a time, until removeViewer().
  void addViewer(FrameCursor* cursor);
  void removeViewer(FrameCursor* cursor);
  // The viewer's next frame, waiting up to `timeout` for it; null on
  // time-out, when the store is closed, or when the newer frame could not be
  // copied (then the cursor moves past it). A viewer's first frame is the
  // newest. After that, unclocked: the newest frame not yet taken. Clocked:
  // the next one in order, one FramePeriod (of the frame before) after the
  // frame before: on the beat of a clock that starts with the first frame
  // after a pause, so that frames go out at the frame rate however late
  // this thread wakes now and then.
  std::shared_ptr<const Frame> next(FrameCursor* cursor, std::chrono::milliseconds timeout);

  FrameInfo lastInfo() const;  // fields of the last frame submitted
  bool closed() const;
  bool clocked() const;

 private:
  using Clock = std::chrono::steady_clock;
  std::shared_ptr<const Frame> latestLocked(std::unique_lock<std::mutex>& lock);
  // Copies the pending buffer into a new Frame and publishes it.
  void copyPendingLocked(std::unique_lock<std::mutex>& lock);
  // Clocked: the frame after `cursor->seen` among the kept ones, or null.
  std::shared_ptr<const Frame> nextKeptLocked(const FrameCursor* cursor) const;
  // Lets go of kept frames every viewer has taken, and of the oldest beyond
  // the limits; the newest stays.
  void trimLocked();
  void copyWhileClocked();  // the copying thread

  mutable std::mutex mutex_;
  std::condition_variable changed_;     // a frame submitted, copied, or the store closed
  std::condition_variable copyWanted_;  // the copying thread's wake-up
  std::shared_ptr<FramePool> pool_;
  FrameInfo last_;                 // the last frame submitted
  const uint8_t* pendingData_ = nullptr;  // caller's buffer of `last_`, not yet copied
  int pendingStride_ = 0;
  bool copying_ = false;           // a thread is reading pendingData_
  bool closed_ = false;
  bool clocked_ = false;
  std::shared_ptr<const Frame> current_;  // the newest copy
  std::set<FrameCursor*> viewers_;
  std::deque<std::shared_ptr<const Frame>> kept_;  // clocked, oldest first; the newest last
  size_t keptBytes_ = 0;
  uint64_t droppedUpTo_ = 0;  // newest sequence let go of from kept_
  std::thread copier_;
};

}  // namespace plombix::standin
