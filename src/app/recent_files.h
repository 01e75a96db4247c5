// RecentFiles: the last eight pictures a copy showed, newest first, for the
// "Recent pictures" menu. Window-free.
//
// Kept per copy, in $XDG_CONFIG_HOME/vora-plombix/recent-N.txt (else
// ~/.config/vora-plombix/recent-N.txt) for copy N: each copy is its own
// output with its own settings file, so its recent pictures are its own,
// and two copies never write one file at the same time. Never in the
// settings file, whose layout is fixed.
//
// File: UTF-8 text, the line "vora-plombix recent 1", then one absolute path
// a line, newest first, at most eight. Written whole to a temporary file in
// the same folder and renamed over the old one, so a reader (or a crash)
// sees the old list or the new one, never a mix. A file that does not read
// as that (another first line, a relative path, a control character, more
// than eight paths, a repeat, more than kMaxFileBytes) is ignored as a whole.
// Paths that cannot be written on one line (a line break in the name) are
// not remembered.
#pragma once

#include <string>
#include <vector>

namespace plombix {

class RecentFiles {
 public:
  static constexpr size_t kMaxEntries = 8;
  static constexpr size_t kMaxFileBytes = 64 * 1024;

  // The file of copy `copyNumber` (1..8) from $XDG_CONFIG_HOME or $HOME;
  // empty when neither is usable or the copy has no number.
  static std::string DefaultPath(int copyNumber);

  explicit RecentFiles(std::string filePath = {}) : filePath_(std::move(filePath)) {}

  const std::string& filePath() const { return filePath_; }
  const std::vector<std::string>& entries() const { return entries_; }

  // Puts `path` first (moving it up if it is listed already), keeps eight.
  // False, and nothing changes, for a path that is not absolute or holds a
  // control character.
  bool add(const std::string& path);
  // Takes `path` out of the list (a recent file that no longer loads).
  void remove(const std::string& path);
  void clear() { entries_.clear(); }

  // Reads the file. A missing file is an empty list and true; an unreadable
  // or damaged one leaves the list empty and returns false with the reason.
  [[nodiscard]] bool load(std::string* error = nullptr);
  // Writes the list (creating the folder), atomically. A few hundred bytes:
  // cheap, but it is file I/O -- run it where a slow disk cannot hold up
  // the window when that matters.
  [[nodiscard]] bool save(std::string* error = nullptr) const;

  // The file's text for `entries`, and the list read back from such a text
  // (false for a damaged text).
  static std::string Serialize(const std::vector<std::string>& entries);
  [[nodiscard]] static bool Parse(const std::string& text, std::vector<std::string>* entries);

 private:
  std::string filePath_;
  std::vector<std::string> entries_;
};

}  // namespace plombix
