// Decoding while resampling.
//
// The ring: source row y lives in slot y % R. Window rows are made in
// chunks (whole groups of four rows, the fast path's unit, while more source
// rows are to come); a chunk is taken by whichever thread is free once all
// its source rows have arrived. Taken chunks and the rows not yet taken give
// the lowest source row still needed (`lowest`); the reader writes band
// [y, y + n) only once y + n <= lowest + R, so that no row still needed is
// overwritten. A chunk of rows [r, r + 4) reads at most `span` source rows
// from begin(r); with R >= span + band, the band holding the last row a
// chunk waits for always fits, so neither side can wait for the other for
// ever. R is made some bands larger so that the reader can run ahead.
//
// The reading thread never just waits while there is resampling to do: when
// the ring is full, and once the last row is read, it takes chunks itself.
// So a second thread that the system runs late (or not at all) costs
// nothing but its share of the work, and one thread alone is the same code
// with no helper.
//
// The threads share atomics only, never a lock: a thread the system stops
// while it holds a lock would stop the other one too (on a busy machine
// that costs milliseconds a band). Orders that matter: the reader stores
// `decoded` after writing the rows, a worker stores its chunk's start in
// `inFlight` before it takes the chunk from `next` and clears it after its
// last read of the ring, and `lowest` reads `next` before `inFlight`, so
// that it never misses a chunk on its way from one to the other. Sleeping
// is on atomics (futex), woken only where someone may be asleep.
#include "stream_decode.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <system_error>
#include <thread>

#include "pixel_alloc.h"

namespace plombix {
namespace {

constexpr int kBandRows = 16;
constexpr int kGroupRows = 4;      // the resampler's fast path makes rows four at a time
constexpr int kChunkRows = 8;      // window rows taken at once
constexpr int kRingBands = 8;      // how far the reader may run ahead, beyond the span
constexpr int kWakeEveryRows = 64; // source rows between wake-ups of a sleeping helper
constexpr int kWatchMicroseconds = 2000;  // how long a helper out of work watches for rows
// Below this many window rows a second thread costs more than it saves.
constexpr int kMinRowsToSplit = 64;
constexpr int kIdle = INT_MAX;

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// The window rows of one resampling, shared by the reading thread (worker
// 0) and a helper (worker 1).
class SharedRows {
 public:
  SharedRows(const Resampler& resampler, const SourceRows& rows, uint8_t* window, int sourceHeight,
             int ringRows)
      : resampler_(resampler), rows_(rows), window_(window), sourceHeight_(sourceHeight),
        ringRows_(ringRows), height_(resampler.window().height) {}

  // Reader: rows [0, decoded) are in the ring.
  void Published(int decoded) {
    decoded_.store(decoded);
    if (decoded < sourceHeight_ && decoded - woken_ < kWakeEveryRows) return;
    woken_ = decoded;
    wake_.fetch_add(1);
    wake_.notify_one();
  }

  // Reader: returns once source rows below `end` may be written into the
  // ring, making window rows meanwhile when there are some to make.
  void WaitForRoom(int end, uint8_t* scratch) {
    while (int64_t(end) > int64_t(Lowest()) + ringRows_) {
      const int seen = done_.load();
      if (Work(0, scratch)) continue;
      if (int64_t(end) > int64_t(Lowest()) + ringRows_) done_.wait(seen);
    }
  }

  // Reader, after the last row: makes what is left, with the helper, and
  // returns once every window row is made.
  void Complete(uint8_t* scratch) {
    for (;;) {
      const int seen = done_.load();
      if (Work(0, scratch)) continue;
      if (next_.load() >= height_ && inFlight_[1].load() == kIdle) return;
      done_.wait(seen);
    }
  }

  // Helper: makes chunks as they become possible until every row is taken
  // or Stop. Between chunks it watches for new rows for a while before it
  // sleeps: rows come every fraction of a millisecond, and a sleeping
  // thread can take milliseconds to be woken on a busy or virtual machine.
  void Help(uint8_t* scratch) {
    for (;;) {
      const int seen = wake_.load();
      if (stop_.load()) return;
      if (Work(1, scratch)) continue;
      if (next_.load() >= height_) return;
      if (WatchForRows()) continue;
      wake_.wait(seen);
    }
  }

  void Stop() {
    stop_.store(true);
    wake_.fetch_add(1);
    wake_.notify_one();
  }

 private:
  // Helper: true when new rows (or Stop) arrived within kWatchMicroseconds.
  // It gives its core away between looks, so that on a busy machine the
  // watching costs the other programs nothing; on a quiet one the core
  // would be idle anyway.
  bool WatchForRows() {
    const int decoded = decoded_.load();
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kWatchMicroseconds);
    do {
      for (int i = 0; i < 16; ++i) {
        if (decoded_.load(std::memory_order_relaxed) != decoded || stop_.load(std::memory_order_relaxed))
          return true;
        Pause();
      }
      sched_yield();
    } while (std::chrono::steady_clock::now() < until);
    return false;
  }

  // The lowest source row a taken or untaken window row still reads.
  int Lowest() const {
    int row = next_.load();
    row = std::min({row, inFlight_[0].load(), inFlight_[1].load()});
    return row < height_ ? resampler_.sourceRowBegin(row) : INT_MAX;
  }

  // Takes the next chunk whose source rows have all arrived and makes it;
  // false when there is none.
  bool Work(int worker, uint8_t* scratch) {
    int begin = next_.load();
    int end = begin;
    for (;;) {
      if (begin >= height_) return false;
      const int decoded = decoded_.load();
      end = begin;
      const int limit = std::min(height_, begin + kChunkRows);
      while (end < limit && resampler_.sourceRowEnd(end) <= decoded) ++end;
      if (end < height_ && decoded < sourceHeight_) end = begin + (end - begin) / kGroupRows * kGroupRows;
      if (end <= begin) return false;
      inFlight_[worker].store(begin);
      if (next_.compare_exchange_strong(begin, end)) break;
      inFlight_[worker].store(kIdle);  // the other worker took it; `begin` is the new next
    }
    resampler_.RunRows(rows_, window_, begin, end, scratch);
    inFlight_[worker].store(kIdle);
    done_.fetch_add(1);
    done_.notify_all();
    return true;
  }

  const Resampler& resampler_;
  const SourceRows rows_;
  uint8_t* const window_;
  const int sourceHeight_;
  const int ringRows_;
  const int height_;
  std::atomic<int> decoded_{0};  // source rows in the ring
  std::atomic<int> next_{0};     // the first window row not yet taken
  std::atomic<int> inFlight_[2] = {kIdle, kIdle};  // first row of each worker's chunk
  std::atomic<int> done_{0};     // chunks made: the reader sleeps on it
  std::atomic<int> wake_{0};     // the helper sleeps on it
  std::atomic<bool> stop_{false};
  int woken_ = 0;                // reader only: `decoded` at the last wake-up
};

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
  const int ringRows = std::min(sourceHeight, span + kRingBands * kBandRows);
  const size_t rowBytes = size_t(reader.width()) * 4;
  auto ring = AllocateArray<uint8_t>(size_t(ringRows) * rowBytes);
  auto scratch = resampler.MakeScratch();
  std::unique_ptr<uint8_t[]> helperScratch;
  if (threads > 1 && height >= kMinRowsToSplit) helperScratch = resampler.MakeScratch();
  if (!ring || !scratch) return DecodeError::OutOfMemory;

  SharedRows shared(resampler, SourceRows{ring.get(), rowBytes, ringRows}, window, sourceHeight,
                    ringRows);
  // The helper is stopped and joined on every way out, an exception
  // included.
  struct Helper {
    SharedRows& shared;
    std::thread thread;
    ~Helper() {
      if (!thread.joinable()) return;
      shared.Stop();
      thread.join();
    }
  } helper{shared, {}};
  if (helperScratch)
    (void)StartThread(helper.thread, [&] { shared.Help(helperScratch.get()); });

  uint8_t* pointers[kBandRows];
  for (int y = 0; y < sourceHeight;) {
    const int n = std::min(kBandRows, sourceHeight - y);
    shared.WaitForRoom(y + n, scratch.get());
    for (int i = 0; i < n; ++i) pointers[i] = ring.get() + size_t((y + i) % ringRows) * rowBytes;
    const DecodeError error = reader.ReadRows(pointers, n);
    if (error != DecodeError::None) return error;
    if (cancelled && cancelled()) return DecodeError::Cancelled;
    y += n;
    shared.Published(y);
  }
  // The trailer is checked while the last rows may still be resampled.
  const DecodeError finished = reader.Finish();
  shared.Complete(scratch.get());
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
