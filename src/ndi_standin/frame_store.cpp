#include "frame_store.h"

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
}

FrameStore::~FrameStore() { close(); }

uint64_t FrameStore::submit(const FrameInfo& info, const uint8_t* data, int strideBytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  // The previous buffer may be reused once we return: let a copy of it end.
  changed_.wait(lock, [this] { return !copying_; });
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
  // One waiting stream wakes and makes the copy on its own thread; the
  // others wake when that copy is published. Waking them all at once would
  // only have them queue for the copy and take the cores from the player.
  lock.unlock();
  changed_.notify_one();
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
  lock.lock();
  copying_ = false;
  pendingData_ = nullptr;
  if (frame->ok()) current_ = std::move(frame);  // no memory: keep the previous frame
  lock.unlock();
  changed_.notify_all();
  lock.lock();
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

std::shared_ptr<const Frame> FrameStore::waitNewer(uint64_t* seenSequence,
                                                   std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool woken = changed_.wait_for(lock, timeout,
                                       [&] { return closed_ || last_.sequence > *seenSequence; });
  if (!woken) return nullptr;
  if (closed_) return nullptr;
  const uint64_t newest = last_.sequence;
  std::shared_ptr<const Frame> frame = latestLocked(lock);
  if (!frame || frame->info().sequence <= *seenSequence) {
    // The newer frame could not be copied: count it as seen, or the caller
    // would be woken for it again at once.
    *seenSequence = newest;
    return nullptr;
  }
  *seenSequence = frame->info().sequence;
  return frame;
}

FrameInfo FrameStore::lastInfo() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

bool FrameStore::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

}  // namespace plombix::standin
