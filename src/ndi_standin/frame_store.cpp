#include "frame_store.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "jpeg_encode.h"
#include "png_encode.h"

namespace plombix::standin {

// Spare frame buffers, so that a steady stream of sends reuses memory (a
// fresh large allocation costs page faults on every first touch).
class FramePool {
 public:
  struct Buffer {
    std::unique_ptr<uint8_t[]> data;
    size_t capacity = 0;
  };

  Buffer take(size_t bytes) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // The most recently returned buffer first: it is the likeliest to be
      // still in the cache.
      for (size_t i = spare_.size(); i-- > 0;) {
        if (spare_[i].capacity >= bytes) {
          Buffer b = std::move(spare_[i]);
          spare_.erase(spare_.begin() + long(i));
          return b;
        }
      }
    }
    Buffer b;
    b.data.reset(new (std::nothrow) uint8_t[bytes]);
    b.capacity = b.data ? bytes : 0;
    return b;
  }

  void give(Buffer b) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_.size() >= kMaxSpare) spare_.erase(spare_.begin());  // drop the oldest
    spare_.push_back(std::move(b));
  }

 private:
  static constexpr size_t kMaxSpare = 4;
  std::mutex mutex_;
  std::vector<Buffer> spare_;
};

Frame::Frame(std::shared_ptr<FramePool> pool, const FrameInfo& info)
    : pool_(std::move(pool)), info_(info) {
  FramePool::Buffer b = pool_->take(byteCount());
  buffer_ = std::move(b.data);
  capacity_ = b.capacity;
}

Frame::~Frame() {
  if (buffer_) pool_->give(FramePool::Buffer{std::move(buffer_), capacity_});
}

void Frame::copyFrom(const uint8_t* data, int strideBytes) {
  const size_t rowBytes = size_t(info_.width) * 4;
  if (size_t(strideBytes) == rowBytes) {
    std::memcpy(buffer_.get(), data, rowBytes * size_t(info_.height));
    return;
  }
  for (int y = 0; y < info_.height; ++y)
    std::memcpy(buffer_.get() + size_t(y) * rowBytes, data + size_t(y) * size_t(strideBytes), rowBytes);
}

const std::string& Frame::png() const {
  std::call_once(pngOnce_, [this] {
    if (!ok()) return;
    const PngAlpha alpha = info_.fourcc == NdiFourCC::BGRX ? PngAlpha::Drop : PngAlpha::Keep;
    if (!EncodeBgraPng(pixels(), info_.width, info_.height, info_.width * 4, alpha, &png_))
      png_.clear();
  });
  return png_;
}

const std::string& Frame::jpeg(bool* encodedNow) const {
  if (encodedNow) *encodedNow = false;
  std::call_once(jpegOnce_, [this, encodedNow] {
    if (!ok()) return;
    if (encodedNow) *encodedNow = true;
    if (!EncodeBgraJpeg(pixels(), info_.width, info_.height, info_.width * 4, kJpegQuality, &jpeg_))
      jpeg_.clear();
  });
  return jpeg_;
}

std::chrono::microseconds FramePeriod(const FrameInfo& info) {
  if (info.frameRateN <= 0 || info.frameRateD <= 0) return std::chrono::microseconds(0);
  const int64_t us = (int64_t(info.frameRateD) * 1000000 + info.frameRateN / 2) / info.frameRateN;
  return std::chrono::microseconds(std::min<int64_t>(us, 1000000));
}

bool ValidateFrame(const NDIlib_video_frame_v2_t& frame, FrameInfo* info, int* strideBytes) {
  if (frame.xres <= 0 || frame.yres <= 0 || frame.xres > kMaxFrameSide ||
      frame.yres > kMaxFrameSide || !frame.p_data)
    return false;
  if (frame.FourCC != NdiFourCC::BGRA && frame.FourCC != NdiFourCC::BGRX) return false;
  const int rowBytes = frame.xres * 4;  // at most 65536: no overflow
  const int stride = frame.line_stride_in_bytes == 0 ? rowBytes : frame.line_stride_in_bytes;
  if (stride < rowBytes) return false;
  FrameInfo i;
  i.width = frame.xres;
  i.height = frame.yres;
  i.fourcc = frame.FourCC;
  i.frameRateN = frame.frame_rate_N;
  i.frameRateD = frame.frame_rate_D;
  i.aspect = frame.picture_aspect_ratio;
  i.format = frame.frame_format_type;
  i.timecode = frame.timecode;
  *info = i;
  *strideBytes = stride;
  return true;
}

FrameStore::FrameStore() {
  static const std::shared_ptr<FramePool> shared = std::make_shared<FramePool>();
  pool_ = shared;
  copier_ = std::thread([this] { copyWhileClocked(); });
}

FrameStore::~FrameStore() {
  close();
  copier_.join();
}

void FrameStore::copyWhileClocked() {
  // Batch scheduling: woken by a send, this thread never preempts the
  // sending thread; it runs on a free core, or at the next tick.
  sched_param param{};
  (void)pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    copyWanted_.wait(lock, [this] {
      return closed_ || (clocked_ && !viewers_.empty() && pendingData_ && !copying_);
    });
    if (closed_) return;
    copyPendingLocked(lock);
  }
}

void FrameStore::setClocked(bool clocked) {
  std::lock_guard<std::mutex> lock(mutex_);
  clocked_ = clocked;
  if (!clocked_) {
    kept_.clear();
    keptBytes_ = 0;
  }
}

uint64_t FrameStore::submit(const FrameInfo& info, const uint8_t* data, int strideBytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  // The previous buffer may be reused once we return: let a copy of it end.
  changed_.wait(lock, [this] { return !copying_; });
  // Clocked, every frame goes to the viewers: the copying thread did not
  // get to the previous one yet, so it is copied here, before its buffer
  // may be reused.
  if (clocked_ && !viewers_.empty() && pendingData_) copyPendingLocked(lock);
  const uint64_t sequence = last_.sequence + 1;
  last_ = info;
  last_.sequence = sequence;
  if (last_.timecode == kNdiTimecodeSynthesize) {
    // 100 ns units since the Unix epoch, as the interface counts time.
    last_.timecode = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count() /
                     100;
  }
  pendingData_ = closed_ ? nullptr : data;
  pendingStride_ = strideBytes;
  const bool copyNow = clocked_ && !viewers_.empty();
  lock.unlock();
  if (copyNow) {
    copyWanted_.notify_one();
  } else {
    // One waiting stream wakes and makes the copy on its own thread; the
    // others wake when that copy is published. Waking them all at once
    // would only have them queue for the copy and take the cores from the
    // player.
    changed_.notify_one();
  }
  return sequence;
}

void FrameStore::flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !copying_; });
  if (pendingData_) copyPendingLocked(lock);  // a later receiver still gets it
  pendingData_ = nullptr;
}

void FrameStore::release() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !copying_; });
  pendingData_ = nullptr;
}

void FrameStore::close() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !copying_; });
  pendingData_ = nullptr;
  closed_ = true;
  lock.unlock();
  changed_.notify_all();
  copyWanted_.notify_all();
}

void FrameStore::copyPendingLocked(std::unique_lock<std::mutex>& lock) {
  const FrameInfo info = last_;
  const uint8_t* data = pendingData_;
  const int stride = pendingStride_;
  // Copy outside the lock; `copying_` keeps the sender from reusing the
  // buffer and other readers waiting for the result.
  copying_ = true;
  lock.unlock();
  auto frame = std::make_shared<Frame>(pool_, info);
  if (frame->ok()) frame->copyFrom(data, stride);
  frame->publishedAt_ = Clock::now();
  lock.lock();
  copying_ = false;
  pendingData_ = nullptr;
  if (frame->ok()) {  // no memory: keep the previous frame
    current_ = frame;
    if (clocked_) {
      keptBytes_ += frame->byteCount();
      kept_.push_back(std::move(frame));
      trimLocked();
    }
  }
  lock.unlock();
  changed_.notify_all();
  lock.lock();
}

void FrameStore::trimLocked() {
  uint64_t allTaken = UINT64_MAX;  // every viewer has taken the frames up to this one
  for (const FrameCursor* c : viewers_)
    if (c->seen > 0) allTaken = std::min(allTaken, c->seen);  // a new viewer starts at the newest
  while (kept_.size() > 1 && (kept_.front()->info().sequence <= allTaken ||
                              kept_.size() > kMaxKeptFrames || keptBytes_ > kMaxKeptBytes)) {
    droppedUpTo_ = std::max(droppedUpTo_, kept_.front()->info().sequence);
    keptBytes_ -= kept_.front()->byteCount();
    kept_.pop_front();
  }
}

std::shared_ptr<const Frame> FrameStore::latestLocked(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return !copying_; });
  if (pendingData_) copyPendingLocked(lock);
  return current_;
}

std::shared_ptr<const Frame> FrameStore::latest() {
  std::unique_lock<std::mutex> lock(mutex_);
  return latestLocked(lock);
}

void FrameStore::addViewer(FrameCursor* cursor) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    viewers_.insert(cursor);
  }
  copyWanted_.notify_one();  // a frame pending now is copied for it
}

void FrameStore::removeViewer(FrameCursor* cursor) {
  std::lock_guard<std::mutex> lock(mutex_);
  viewers_.erase(cursor);
  trimLocked();
}

std::shared_ptr<const Frame> FrameStore::nextKeptLocked(const FrameCursor* cursor) const {
  if (kept_.empty()) return nullptr;
  // Frames it still had to get are gone: it fell behind; the newest next.
  if (cursor->seen < droppedUpTo_)
    return kept_.back()->info().sequence > cursor->seen ? kept_.back() : nullptr;
  for (const auto& frame : kept_)
    if (frame->info().sequence > cursor->seen) return frame;
  return nullptr;
}

std::shared_ptr<const Frame> FrameStore::next(FrameCursor* cursor, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (closed_) return nullptr;
    if (cursor->seen == 0 || !clocked_) {
      if (last_.sequence > cursor->seen) {
        const uint64_t newest = last_.sequence;
        std::shared_ptr<const Frame> frame = latestLocked(lock);
        if (!frame || frame->info().sequence <= cursor->seen) {
          // The newer frame could not be copied: count it as seen, or the
          // caller would be woken for it again at once.
          cursor->seen = newest;
          return nullptr;
        }
        cursor->seen = frame->info().sequence;
        cursor->notBefore = Clock::now() + FramePeriod(frame->info());
        trimLocked();
        return frame;
      }
    } else if (std::shared_ptr<const Frame> frame = nextKeptLocked(cursor)) {
      const Clock::time_point due = cursor->notBefore;
      const Clock::time_point now = Clock::now();
      if (now >= due) {
        // A frame that was waiting for its turn keeps the beat: the next
        // turn is a period after this one was due, so late wake-ups do not
        // add up. After a pause (the frame came after its turn), or more
        // than a period late, the beat starts again from now.
        const auto period = FramePeriod(frame->info());
        const bool onBeat = frame->publishedAt() <= due && now - due <= period;
        cursor->seen = frame->info().sequence;
        cursor->notBefore = (onBeat ? due : now) + period;
        trimLocked();
        return frame;
      }
      if (now >= deadline) return nullptr;
      changed_.wait_until(lock, std::min(due, deadline));
      continue;
    }
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && Clock::now() >= deadline)
      return nullptr;
  }
}

FrameInfo FrameStore::lastInfo() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

bool FrameStore::clocked() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return clocked_;
}

bool FrameStore::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

}  // namespace plombix::standin
