// Small text files of the player and the stand-in runtime (discovery
// entries, remembered ports, the recent pictures): bounded reads that never
// follow a symbolic link or block on a pipe, and writes that appear whole or
// not at all.
#pragma once

#include <string>

namespace plombix {

// Longest file read by default, in bytes; longer files are not ours.
constexpr size_t kMaxSmallFileBytes = 4096;

// Reads a regular file of at most `maxBytes` (not through a symbolic link).
// False when it cannot be read or is longer; errno then says why (ENOENT:
// there is no such file; EFBIG: longer than `maxBytes`).
[[nodiscard]] bool ReadSmallFile(const std::string& path, std::string* text,
                                 size_t maxBytes = kMaxSmallFileBytes);

// Writes `text` to a new file beside `path` (mode 0600), flushes it to disk
// and renames it over `path`, so a reader sees the old file or the new one,
// never a part. False (errno says why) when it cannot; the old file stays.
[[nodiscard]] bool ReplaceSmallFile(const std::string& path, const std::string& text);

// Writes all of `text` to `fd`; false on an error.
[[nodiscard]] bool WriteAll(int fd, const std::string& text);

// A file name (without folder) standing for `name`: letters, digits, '-' and
// '_' kept, every other byte %XX; names longer than 150 such characters are
// cut and end in a hash of the whole name, so distinct names stay distinct.
std::string EncodedFileStem(const std::string& name);

}  // namespace plombix
