// Numbered file names: splitting a path into prefix, trailing number and
// extension, and forming the neighbouring names of a sequence.
//
// The split works like the platform path splitter it replaces, with '/' as
// the separator: the directory is everything up to and including the last
// '/'; the extension runs from the last '.' of the remaining file name to
// its end (dot included; a name starting with '.' is all extension); the
// file name is what lies between. Each of directory, file name and
// extension may be at most kMaxComponentUnits UTF-16 units long; a longer
// component makes the split fail with an empty result rather than cut a
// component (which would name another file).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plombix {

struct NumberedName {
  std::string prefix;  // directory + file name without its trailing digits
  std::string suffix;  // extension including its dot
  int number = 0;      // value of the trailing digit run (0..99999)
  int digitCount = 0;  // 0..5
};

inline constexpr int kMaxNumberDigits = 5;
inline constexpr std::size_t kMaxComponentUnits = 260;

// Splits `path` into `out`. Returns true when the file name ends in a digit:
// the last five digits at most form the number, longer runs leave their
// leading digits in the prefix ("img1234567.png" -> "img12", 34567, 5,
// ".png"). Without a trailing digit: prefix = directory + file name,
// suffix = extension, number and digitCount 0, returns false.
// An empty path returns false and leaves `out` unchanged; a path with an
// over-long component returns false with `out` emptied.
[[nodiscard]] bool SplitNumberedName(std::string_view path, NumberedName& out);

// The name of number `n` in the sequence: prefix, n zero-padded to
// numberFormat + 1 digits ("%0*d"; a wider number is written in full),
// suffix.
[[nodiscard]] std::string SequenceName(const NumberedName& name, uint8_t numberFormat, int n);

}  // namespace plombix
