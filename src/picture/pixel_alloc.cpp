#include "pixel_alloc.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>

namespace plombix {
namespace {
std::atomic<int> gSkip{0};
std::atomic<int> gFail{0};
std::atomic<uint64_t> gCount{0};
}  // namespace

namespace detail {
bool AllocationPermitted() {
  gCount.fetch_add(1, std::memory_order_relaxed);
  if (gSkip.load(std::memory_order_relaxed) > 0) {
    gSkip.fetch_sub(1, std::memory_order_relaxed);
    return true;
  }
  if (gFail.load(std::memory_order_relaxed) > 0) {
    gFail.fetch_sub(1, std::memory_order_relaxed);
    return false;
  }
  return true;
}
void AdviseHugePages(void* data, size_t bytes) {
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
  // Advice only: a kernel without transparent huge pages refuses it, and
  // the buffer works the same.
  if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace detail

void InjectAllocationFailures(int skip, int fail) {
  gSkip.store(fail > 0 ? skip : 0, std::memory_order_relaxed);
  gFail.store(fail > 0 ? fail : 0, std::memory_order_relaxed);
}

uint64_t AllocationCount() { return gCount.load(std::memory_order_relaxed); }

}  // namespace plombix
