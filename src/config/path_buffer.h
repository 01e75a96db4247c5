// PathBuffer: a file path held as 384 UTF-16 units, as the configuration
// file stores it, and its conversion to and from the file system's
// encoding (UTF-8 bytes).
//
// Contract of the buffer:
// - A stored path is terminated by a zero unit within the 384 units, so it
//   has at most 383 units. A path that does not fit is stored EMPTY (first
//   unit 0), never cut: a cut path would name another file.
// - Storing a path writes its units and the terminator only; the units
//   behind the terminator stay as they were (a shorter path written over a
//   longer one leaves the tail). The file keeps those units as they stand.
// - Reading never looks past unit 383. A buffer with no terminator within
//   the 384 units holds no valid path and reads as empty.
//
// Conversion (lossless for every byte string a Linux path can be):
// - UTF-8 -> UTF-16: well-formed UTF-8 is converted; each byte that is not
//   part of a well-formed sequence becomes the lone surrogate 0xDC00 + byte
//   (0xDC80..0xDCFF), so names that are not UTF-8 survive the round trip.
// - UTF-16 -> UTF-8: surrogate pairs and other units are converted; a lone
//   surrogate 0xDC80..0xDCFF gives back its byte. Any other lone surrogate
//   has no UTF-8 form; such a path is reported as not convertible (empty)
//   rather than turned into the name of a different file.
// - A path containing a zero byte cannot name a file and does not convert.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace plombix {

class PathBuffer {
 public:
  static constexpr std::size_t kUnits = 384;
  static constexpr std::size_t kBytes = kUnits * 2;  // 768 bytes in the file
  static constexpr std::size_t kMaxPathUnits = kUnits - 1;

  PathBuffer() = default;  // all units zero: empty

  // Stores `path` (file system encoding). `maxUnitsWithTerminator` limits
  // the room the caller allows (at most kUnits); a path that needs more
  // units than that, or that does not convert, is stored empty. Returns
  // true when the path was stored as given (an empty path stores fine).
  bool assign(std::string_view path, std::size_t maxUnitsWithTerminator = kUnits);

  // Stores UTF-16 units directly, with the same rules as assign().
  bool assignUnits(std::u16string_view units, std::size_t maxUnitsWithTerminator = kUnits);

  // Copies the path of `other` (units and terminator only; this buffer's
  // tail stays). An unterminated `other` stores empty.
  void copyPathFrom(const PathBuffer& other);

  // Makes the path empty: the first unit becomes 0, the tail stays.
  void clear() { units_[0] = 0; }

  // Units before the terminator; empty when there is no terminator.
  [[nodiscard]] std::u16string_view view() const;
  [[nodiscard]] bool empty() const { return view().empty(); }

  // The path in the file system's encoding; empty when the buffer is empty,
  // unterminated or holds a path without a UTF-8 form.
  [[nodiscard]] std::string toUtf8() const;

  // All 384 units, tail included, for the file and for tests.
  [[nodiscard]] const std::array<char16_t, kUnits>& units() const { return units_; }
  [[nodiscard]] std::array<char16_t, kUnits>& units() { return units_; }

  // The 768-byte little-endian file form, tail included.
  void encode(std::span<uint8_t, kBytes> out) const;

  // Overwrites the first in.size() bytes (at most 768) of the file form,
  // leaving the other bytes of the buffer as they were. Used for the full
  // read and for a path cut short by the end of the file; an odd count
  // replaces the low byte of the last unit only.
  void overwriteBytes(std::span<const uint8_t> in);

  friend bool operator==(const PathBuffer&, const PathBuffer&) = default;

 private:
  std::array<char16_t, kUnits> units_{};
};

// Conversions between the file system's encoding and UTF-16 (see above).
[[nodiscard]] std::optional<std::u16string> PathToUtf16(std::string_view path);
[[nodiscard]] std::optional<std::string> PathFromUtf16(std::u16string_view units);

}  // namespace plombix
