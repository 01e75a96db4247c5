// Small text files the stand-in runtime keeps in the runtime folder
// (discovery entries, remembered ports): bounded reads that never follow a
// symbolic link, and writes that appear whole or not at all.
#pragma once

#include <string>

namespace plombix::standin {

// Longest file read, in bytes; longer files are not ours.
constexpr size_t kMaxSmallFileBytes = 4096;

// Reads a regular file of at most kMaxSmallFileBytes (not through a symbolic
// link). False when it cannot be read or is longer.
[[nodiscard]] bool ReadSmallFile(const std::string& path, std::string* text);

// Writes `text` to a new file beside `path` (mode 0600) and renames it over
// `path`, so a reader sees the old file or the new one, never a part.
[[nodiscard]] bool ReplaceSmallFile(const std::string& path, const std::string& text);

// Writes all of `text` to `fd`; false on an error.
[[nodiscard]] bool WriteAll(int fd, const std::string& text);

// A file name (without folder) standing for `name`: letters, digits, '-' and
// '_' kept, every other byte %XX; names longer than 150 such characters are
// cut and end in a hash of the whole name, so distinct names stay distinct.
std::string EncodedFileStem(const std::string& name);

}  // namespace plombix::standin
