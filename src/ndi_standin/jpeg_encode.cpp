#include "jpeg_encode.h"

#include <turbojpeg.h>

#include <memory>
#include <new>

namespace plombix::standin {
namespace {

struct HandleCloser {
  void operator()(void* handle) const { tjDestroy(handle); }
};

// One encoder per thread, made on first use and kept: making one costs more
// than a small encode.
tjhandle threadEncoder() {
  thread_local std::unique_ptr<void, HandleCloser> handle(tjInitCompress());
  return handle.get();
}

}  // namespace

bool EncodeBgraJpeg(const uint8_t* pixels, int width, int height, int strideBytes, int quality,
                    std::string* jpeg) {
  jpeg->clear();
  // JPEG allows at most 65535 a side.
  if (!pixels || width <= 0 || height <= 0 || width > 65535 || height > 65535 ||
      int64_t(strideBytes) < int64_t(width) * 4 || quality < 1 || quality > 100)
    return false;
  tjhandle encoder = threadEncoder();
  if (!encoder) return false;
  // Encode into a per-thread buffer of the worst-case size, kept between
  // frames (a fresh one would cost page faults), then copy out the result,
  // which is far smaller.
  const unsigned long bound = tjBufSize(width, height, TJSAMP_420);
  if (bound == static_cast<unsigned long>(-1)) return false;
  thread_local std::unique_ptr<unsigned char[]> scratch;
  thread_local unsigned long capacity = 0;
  if (capacity < bound) {
    scratch.reset(new (std::nothrow) unsigned char[bound]);
    capacity = scratch ? bound : 0;
    if (!scratch) return false;
  }
  unsigned char* out = scratch.get();
  unsigned long size = capacity;
  if (tjCompress2(encoder, pixels, width, strideBytes, height, TJPF_BGRX, &out, &size, TJSAMP_420,
                  quality, TJFLAG_NOREALLOC) != 0 ||
      out != scratch.get() || size > capacity)
    return false;
  jpeg->assign(reinterpret_cast<const char*>(out), size);
  return true;
}

}  // namespace plombix::standin
