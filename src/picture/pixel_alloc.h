// Nothrow allocation of pixel buffers and scratch tables.
//
// Every buffer of the picture layer is allocated here, so that running out
// of memory is an ordinary failure (a null result) and never an exception,
// and so that tests can make chosen allocations fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>

namespace plombix {

namespace detail {
// False when a test has asked for this allocation to fail; counts down the
// test seam below. Thread-safe, but the seam is meant for one thread.
bool AllocationPermitted();

// Asks the kernel to back the 2 MiB-aligned part of a large buffer with
// huge pages (madvise MADV_HUGEPAGE; nothing where it is not offered).
void AdviseHugePages(void* data, size_t bytes);
constexpr size_t kHugePageAdviceBytes = size_t(4) << 20;
}  // namespace detail

// `count` default-initialised (not touched, so a large buffer commits no
// pages until written) elements of T, or null when they cannot be
// allocated. A count of 0 yields null as well. Buffers of 4 MiB and more
// are offered huge pages: a picture's first write then takes one page fault
// every 2 MiB instead of every 4 KiB, which on some virtual machines is
// most of the cost of a fresh 4K frame.
template <typename T>
[[nodiscard]] std::unique_ptr<T[]> AllocateArray(size_t count) {
  static_assert(std::is_trivially_default_constructible_v<T>);
  if (count == 0 || count > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
  if (!detail::AllocationPermitted()) return nullptr;
  std::unique_ptr<T[]> array(new (std::nothrow) T[count]);
  if (array && count * sizeof(T) >= detail::kHugePageAdviceBytes)
    detail::AdviseHugePages(array.get(), count * sizeof(T));
  return array;
}

// Test seam: the next `skip` allocations made through AllocateArray succeed
// as usual, the `fail` allocations after them return null, and the rest
// succeed again. A new call replaces the previous request; (0, 0) cancels it.
void InjectAllocationFailures(int skip, int fail);

// Number of allocations made through AllocateArray so far (tests use it to
// prove that a path allocates nothing).
uint64_t AllocationCount();

}  // namespace plombix
