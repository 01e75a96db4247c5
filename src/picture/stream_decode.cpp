// The ring: source row y lives in slot y % R. The resampler, about to make
// window rows [next, next + 4), needs source rows [begin(next), end(next +
// 3)), at most `span` rows (the longest such run over the window); it
// tells the reader the lowest row it still needs (`lowest`), and the reader
// writes band [y, y + n) only once y + n <= lowest + R, so that no row
// still needed is overwritten. With R >= span + band the band holding the
// last row the resampler waits for always fits, so neither side can wait
// for the other for ever; R is made a few bands larger so that the reader
// can run ahead.
#include "stream_decode.h"

#include <sched.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "pixel_alloc.h"

namespace plombix {
namespace {

constexpr int kBandRows = 16;
constexpr int kGroupRows = 4;  // the resampler's fast path makes rows four at a time
// Below this many window rows a second thread costs more than it saves.
constexpr int kMinRowsToSplit = 64;

// Resamples window rows as their source rows arrive.
class RowConsumer {
 public:
  RowConsumer(const Resampler& resampler, const SourceRows& rows, uint8_t* window,
              uint8_t* scratch, int sourceHeight)
      : resampler_(resampler), rows_(rows), window_(window), scratch_(scratch),
        sourceHeight_(sourceHeight), height_(resampler.window().height) {}

  // Makes every window row whose source rows are among [0, decoded), in
  // whole groups of four while more rows are to come; returns the lowest
  // source row still needed (INT_MAX when the window is complete).
  int Advance(int decoded) {
    int end = next_;
    while (end < height_ && resampler_.sourceRowEnd(end) <= decoded) ++end;
    if (decoded < sourceHeight_ && end < height_) end = next_ + (end - next_) / kGroupRows * kGroupRows;
    resampler_.RunRows(rows_, window_, next_, end, scratch_);
    next_ = end;
    return next_ < height_ ? resampler_.sourceRowBegin(next_) : INT_MAX;
  }
  bool done() const { return next_ >= height_; }

 private:
  const Resampler& resampler_;
  SourceRows rows_;
  uint8_t* window_;
  uint8_t* scratch_;
  int sourceHeight_;
  int height_;
  int next_ = 0;
};

struct Handover {
  std::mutex mutex;
  std::condition_variable changed;
  int decoded = 0;  // source rows [0, decoded) are in the ring
  int lowest = 0;   // the resampler still needs rows from here on
  bool stop = false;
};

void ConsumeLoop(Handover& handover, RowConsumer& consumer) {
  int seen = 0;
  while (!consumer.done()) {
    {
      std::unique_lock<std::mutex> lock(handover.mutex);
      handover.changed.wait(lock, [&] { return handover.stop || handover.decoded > seen; });
      if (handover.stop) return;
      seen = handover.decoded;
    }
    const int lowest = consumer.Advance(seen);
    {
      std::lock_guard<std::mutex> lock(handover.mutex);
      handover.lowest = lowest;
    }
    handover.changed.notify_all();
  }
}

// Runs `work` on a new thread; false (and nothing started) when no thread
// can be had.
bool StartThread(std::thread& thread, const std::function<void()>& work) {
  try {
    thread = std::thread(work);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

int ClampThreads(int threads) { return std::clamp(threads, 1, std::min(2, UsableCores())); }

DecodeError ResampleWhole(ImageReader& reader, const Resampler& resampler, uint8_t* window,
                          int threads) {
  const std::shared_ptr<uint8_t[]> whole = reader.wholePicture();
  const SourceRows rows{whole.get(), size_t(reader.width()) * 4, reader.height()};
  const int height = resampler.window().height;
  auto scratch = resampler.MakeScratch();
  if (!scratch) return DecodeError::OutOfMemory;
  const int half = height / 2 / kGroupRows * kGroupRows;
  int split = 0;
  std::thread helper;
  std::unique_ptr<uint8_t[]> helperScratch;
  if (threads > 1 && height >= kMinRowsToSplit) {
    helperScratch = resampler.MakeScratch();
    if (helperScratch &&
        StartThread(helper, [&] { resampler.RunRows(rows, window, 0, half, helperScratch.get()); }))
      split = half;
  }
  resampler.RunRows(rows, window, split, height, scratch.get());  // allocates and throws nothing
  if (helper.joinable()) helper.join();
  return reader.Finish();
}

}  // namespace

int UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return int(std::max(1u, std::thread::hardware_concurrency()));
}

DecodeError DecodeResampled(ImageReader& reader, const Resampler& resampler, uint8_t* window,
                            int threads, const std::function<bool()>& cancelled) {
  threads = ClampThreads(threads);
  if (cancelled && cancelled()) return DecodeError::Cancelled;
  if (reader.wholePicture()) return ResampleWhole(reader, resampler, window, threads);

  const int sourceHeight = reader.height();
  const int height = resampler.window().height;
  int span = 1;
  for (int row = 0; row < height; ++row) {
    const int last = std::min(row + kGroupRows, height) - 1;
    span = std::max(span, resampler.sourceRowEnd(last) - resampler.sourceRowBegin(row));
  }
  const int ringRows = std::min(sourceHeight, span + 4 * kBandRows);
  const size_t rowBytes = size_t(reader.width()) * 4;
  auto ring = AllocateArray<uint8_t>(size_t(ringRows) * rowBytes);
  auto scratch = resampler.MakeScratch();
  if (!ring || !scratch) return DecodeError::OutOfMemory;

  RowConsumer consumer(resampler, SourceRows{ring.get(), rowBytes, ringRows}, window,
                       scratch.get(), sourceHeight);
  Handover handover;
  handover.lowest = resampler.sourceRowBegin(0);
  // The resampling thread is told to stop (unless it was let finish) and
  // joined on every way out, an exception included.
  struct Helper {
    Handover& handover;
    std::thread thread;
    bool letFinish = false;
    ~Helper() {
      if (!thread.joinable()) return;
      if (!letFinish) {
        {
          std::lock_guard<std::mutex> lock(handover.mutex);
          handover.stop = true;
        }
        handover.changed.notify_all();
      }
      thread.join();
    }
  } helper{handover, {}};
  const bool threaded =
      threads > 1 && StartThread(helper.thread, [&] { ConsumeLoop(handover, consumer); });

  uint8_t* pointers[kBandRows];
  int lowest = handover.lowest;
  for (int y = 0; y < sourceHeight;) {
    const int n = std::min(kBandRows, sourceHeight - y);
    if (threaded) {
      std::unique_lock<std::mutex> lock(handover.mutex);
      handover.changed.wait(lock, [&] { return y + n <= handover.lowest + int64_t(ringRows); });
    } else {
      lowest = consumer.Advance(y);
      // Cannot fail: see the ring's arithmetic at the top of this file.
      if (y + n > int64_t(lowest) + ringRows) return DecodeError::Corrupt;
    }
    for (int i = 0; i < n; ++i) pointers[i] = ring.get() + size_t((y + i) % ringRows) * rowBytes;
    const DecodeError error = reader.ReadRows(pointers, n);
    if (error != DecodeError::None) return error;
    if (cancelled && cancelled()) return DecodeError::Cancelled;
    y += n;
    if (threaded) {
      {
        std::lock_guard<std::mutex> lock(handover.mutex);
        handover.decoded = y;
      }
      handover.changed.notify_all();
    }
  }
  // The trailer is checked while the last rows are being resampled.
  const DecodeError finished = reader.Finish();
  if (threaded) {
    helper.letFinish = true;
    helper.thread.join();
  } else {
    consumer.Advance(sourceHeight);
  }
  return finished;
}

DecodeError DecodeWhole(ImageReader& reader, uint8_t* pixels) {
  const size_t rowBytes = size_t(reader.width()) * 4;
  uint8_t* pointers[kBandRows];
  for (int y = 0; y < reader.height();) {
    const int n = std::min(kBandRows, reader.height() - y);
    for (int i = 0; i < n; ++i) pointers[i] = pixels + size_t(y + i) * rowBytes;
    const DecodeError error = reader.ReadRows(pointers, n);
    if (error != DecodeError::None) return error;
    y += n;
  }
  return reader.Finish();
}

DecodeError DecodeAndDiscard(ImageReader& reader) {
  if (reader.wholePicture()) return reader.Finish();
  const size_t rowBytes = size_t(reader.width()) * 4;
  auto band = AllocateArray<uint8_t>(size_t(kBandRows) * rowBytes);
  if (!band) return DecodeError::OutOfMemory;
  uint8_t* pointers[kBandRows];
  for (int i = 0; i < kBandRows; ++i) pointers[i] = band.get() + size_t(i) * rowBytes;
  for (int y = 0; y < reader.height();) {
    const int n = std::min(kBandRows, reader.height() - y);
    const DecodeError error = reader.ReadRows(pointers, n);
    if (error != DecodeError::None) return error;
    y += n;
  }
  return reader.Finish();
}

}  // namespace plombix
