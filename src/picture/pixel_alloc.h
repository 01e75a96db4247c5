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
}  // namespace detail

// `count` default-initialised (not touched, so a large buffer commits no
// pages until written) elements of T, or null when they cannot be
// allocated. A count of 0 yields null as well.
template <typename T>
[[nodiscard]] std::unique_ptr<T[]> AllocateArray(size_t count) {
  static_assert(std::is_trivially_default_constructible_v<T>);
  if (count == 0 || count > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
  if (!detail::AllocationPermitted()) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// Test seam: the next `skip` allocations made through AllocateArray succeed
// as usual, the `fail` allocations after them return null, and the rest
// succeed again. A new call replaces the previous request; (0, 0) cancels it.
void InjectAllocationFailures(int skip, int fail);

// Number of allocations made through AllocateArray so far (tests use it to
// prove that a path allocates nothing).
uint64_t AllocationCount();

}  // namespace plombix
