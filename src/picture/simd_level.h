// Which instruction set the pixel kernels run with.
//
// Every kernel has a portable scalar version; on x86-64 most also have an
// SSE2 version (always present there) and the heaviest AVX2 and AVX-512
// versions, chosen at run time from what the processor and the operating
// system offer. The player is built for baseline x86-64; nothing needs
// -march. A kernel without a version for the level in use runs its best
// version below that level.
//
// All versions of a kernel give bit-identical results. Tests select each
// level the machine offers and hold it against slow references; benchmarks
// may compare levels. The level is process-wide state, read with relaxed
// atomics: switch it only while no kernel is running.
#pragma once

namespace plombix {

enum class SimdLevel : int {
  Scalar = 0,  // plain C++
  Sse2 = 1,    // 128-bit integer vectors
  Avx2 = 2,    // 256-bit integer vectors
  Avx512 = 3,  // 512-bit integer vectors (AVX-512 F and BW)
};

// The best level this machine supports (detected once).
SimdLevel BestSimdLevel();

// The level the kernels use now; starts as BestSimdLevel().
SimdLevel CurrentSimdLevel();

// Selects the level for all kernels, clamped to BestSimdLevel(). Returns
// the level now in use.
SimdLevel SetSimdLevel(SimdLevel level);

}  // namespace plombix
