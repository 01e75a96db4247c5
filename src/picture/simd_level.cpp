#include "simd_level.h"

#include <atomic>

namespace plombix {
namespace {

SimdLevel Detect() {
#if defined(__x86_64__) || defined(__i386__)
  // libgcc's check covers both the CPUID bit and the operating system's
  // saving of the wide registers (XGETBV).
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
    return SimdLevel::Avx512;
  if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
#endif
#if defined(__SSE2__)
  return SimdLevel::Sse2;
#else
  return SimdLevel::Scalar;
#endif
}

std::atomic<int>& LevelSlot() {
  static std::atomic<int> slot{int(BestSimdLevel())};
  return slot;
}

}  // namespace

SimdLevel BestSimdLevel() {
  static const SimdLevel best = Detect();
  return best;
}

SimdLevel CurrentSimdLevel() { return SimdLevel(LevelSlot().load(std::memory_order_relaxed)); }

SimdLevel SetSimdLevel(SimdLevel level) {
  const int wanted = int(level) < 0 ? 0 : int(level);
  const int clamped = wanted > int(BestSimdLevel()) ? int(BestSimdLevel()) : wanted;
  LevelSlot().store(clamped, std::memory_order_relaxed);
  return SimdLevel(clamped);
}

}  // namespace plombix
