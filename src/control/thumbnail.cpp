// Box filter: output pixel (x, y) of a w x h thumbnail of a W x H frame is
// the mean of the frame's pixels in columns [x*W/w, (x+1)*W/w) and rows
// [y*H/h, (y+1)*H/h) (integer division), each channel rounded to nearest
// (sum + count/2) / count. When enlarging, a span holds no whole pixel; it
// then takes the one pixel at its start (nearest below).
#include "thumbnail.h"

#include <turbojpeg.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace plombix::control {
namespace {

constexpr int kQuality = 85;
constexpr size_t kWidthsKept = 8;  // thumbnails kept per frame, of different widths

bool ParseWidth(const char* text, int* width) {
  if (!text) return true;
  if (!*text || std::strlen(text) > 4) return false;
  for (const char* p = text; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  const int w = std::atoi(text);
  if (w < kMinThumbnailWidth || w > kMaxThumbnailWidth) return false;
  *width = w;
  return true;
}

std::shared_ptr<const std::string> Encode(const ThumbnailFrame& frame, int width) {
  const int height = ThumbnailHeight(frame.width, frame.height, width);
  const std::vector<uint8_t> small = ResizeBgra(frame, width, height);
  tjhandle encoder = tjInitCompress();
  if (!encoder) return nullptr;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  std::shared_ptr<const std::string> jpeg;
  if (tjCompress2(encoder, small.data(), width, width * 4, height, TJPF_BGRX, &out, &size, TJSAMP_420, kQuality,
                  0) == 0)
    jpeg = std::make_shared<const std::string>(reinterpret_cast<const char*>(out), size);
  tjFree(out);
  tjDestroy(encoder);
  return jpeg;
}

}  // namespace

std::shared_ptr<const ThumbnailFrame> ThumbnailFrame::Copy(const uint8_t* pixels, int width, int height,
                                                           int strideBytes) {
  if (!pixels || width <= 0 || height <= 0 || width > 65535 || height > 65535 ||
      int64_t(strideBytes) < int64_t(width) * 4)
    return nullptr;
  auto frame = std::make_shared<ThumbnailFrame>();
  frame->width = width;
  frame->height = height;
  frame->strideBytes = width * 4;
  frame->pixels.resize(size_t(width) * size_t(height) * 4);
  for (int y = 0; y < height; ++y)
    std::memcpy(frame->pixels.data() + size_t(y) * size_t(width) * 4, pixels + size_t(y) * size_t(strideBytes),
                size_t(width) * 4);
  return frame;
}

std::optional<ThumbnailQuery> ParseThumbnailQuery(const char* width, const char* what) {
  ThumbnailQuery q;
  if (!ParseWidth(width, &q.width)) return std::nullopt;
  if (what && std::strcmp(what, "cued") == 0) q.what = ThumbnailOf::Cued;
  else if (what && std::strcmp(what, "onair") != 0) return std::nullopt;
  return q;
}

int ThumbnailHeight(int frameWidth, int frameHeight, int width) {
  if (frameWidth <= 0 || frameHeight <= 0) return 1;
  const int64_t h = (int64_t(width) * frameHeight * 2 + frameWidth) / (int64_t(frameWidth) * 2);
  return int(std::max<int64_t>(1, h));
}

std::vector<uint8_t> ResizeBgra(const ThumbnailFrame& f, int width, int height) {
  std::vector<uint8_t> out(size_t(width) * size_t(height) * 4);
  std::vector<uint32_t> sums(size_t(width) * 4);
  auto span = [](int i, int n, int from) {
    const int first = int(int64_t(i) * from / n);
    const int end = int(int64_t(i + 1) * from / n);
    return std::pair<int, int>(first, std::max(end, first + 1));
  };
  for (int y = 0; y < height; ++y) {
    const auto [row0, row1] = span(y, height, f.height);
    std::fill(sums.begin(), sums.end(), 0u);
    for (int sy = row0; sy < row1; ++sy) {
      const uint8_t* row = f.pixels.data() + size_t(sy) * size_t(f.strideBytes);
      for (int x = 0; x < width; ++x) {
        const auto [col0, col1] = span(x, width, f.width);
        uint32_t* s = &sums[size_t(x) * 4];
        for (int sx = col0; sx < col1; ++sx)
          for (int c = 0; c < 4; ++c) s[c] += row[size_t(sx) * 4 + size_t(c)];
      }
    }
    for (int x = 0; x < width; ++x) {
      const auto [col0, col1] = span(x, width, f.width);
      const uint32_t count = uint32_t(col1 - col0) * uint32_t(row1 - row0);
      for (int c = 0; c < 4; ++c)
        out[(size_t(y) * size_t(width) + size_t(x)) * 4 + size_t(c)] =
            uint8_t((sums[size_t(x) * 4 + size_t(c)] + count / 2) / count);
    }
  }
  return out;
}

// Per slot: the frame and its thumbnails by width. An entry with no JPEG
// yet is being encoded by one thread; others asking for it wait for it.
class Thumbnails::Cache {
 public:
  struct Entry {
    bool ready = false;
    std::shared_ptr<const std::string> jpeg;
  };
  struct Slot {
    std::shared_ptr<const ThumbnailFrame> frame;
    std::map<int, std::shared_ptr<Entry>> byWidth;
    std::vector<int> order;  // widths, oldest first
  };

  std::mutex mutex;
  std::condition_variable done;
  Slot slots[2];
  uint64_t encodes = 0;
};

Thumbnails::Thumbnails() : cache_(std::make_unique<Cache>()) {}
Thumbnails::~Thumbnails() = default;

void Thumbnails::setFrame(ThumbnailOf what, std::shared_ptr<const ThumbnailFrame> frame) {
  Cache::Slot old;
  {
    std::lock_guard<std::mutex> lock(cache_->mutex);
    Cache::Slot& slot = cache_->slots[int(what)];
    if (slot.frame == frame) return;
    old = std::move(slot);
    slot = Cache::Slot{std::move(frame), {}, {}};
  }
  // `old` (perhaps the last reference to a whole frame) is freed out of the lock.
}

std::shared_ptr<const std::string> Thumbnails::jpeg(ThumbnailOf what, int width) {
  if (width < kMinThumbnailWidth || width > kMaxThumbnailWidth) return nullptr;
  std::unique_lock<std::mutex> lock(cache_->mutex);
  Cache::Slot& slot = cache_->slots[int(what)];
  const std::shared_ptr<const ThumbnailFrame> frame = slot.frame;
  if (!frame) return nullptr;
  if (const auto it = slot.byWidth.find(width); it != slot.byWidth.end()) {
    const std::shared_ptr<Cache::Entry> entry = it->second;
    cache_->done.wait(lock, [&] { return entry->ready; });
    return entry->jpeg;
  }
  auto entry = std::make_shared<Cache::Entry>();
  slot.byWidth[width] = entry;
  slot.order.push_back(width);
  if (slot.order.size() > kWidthsKept) {
    slot.byWidth.erase(slot.order.front());
    slot.order.erase(slot.order.begin());
  }
  lock.unlock();
  std::shared_ptr<const std::string> jpeg = Encode(*frame, width);
  lock.lock();
  entry->jpeg = jpeg;
  entry->ready = true;
  ++cache_->encodes;
  lock.unlock();
  cache_->done.notify_all();
  return jpeg;
}

uint64_t Thumbnails::encodes() const {
  std::lock_guard<std::mutex> lock(cache_->mutex);
  return cache_->encodes;
}

}  // namespace plombix::control
