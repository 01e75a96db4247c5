#include "recent_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "config_folder.h"
#include "small_files.h"

namespace plombix {
namespace {

constexpr char kHeader[] = "vora-plombix recent 1";

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

bool IsStorable(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  return std::none_of(path.begin(), path.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// mkdir -p for the folders above `file`, private to the user.
bool MakeParents(const std::string& file, std::string* error) {
  for (size_t slash = file.find('/', 1); slash != std::string::npos; slash = file.find('/', slash + 1)) {
    const std::string dir = file.substr(0, slash);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
      return Fail(error, "cannot create " + dir + ": " + std::strerror(errno));
  }
  return true;
}

}  // namespace

std::string RecentFiles::DefaultPath(int copyNumber) {
  if (copyNumber < 1 || copyNumber > 8) return {};
  const std::string folder = UserConfigFolder();
  if (folder.empty()) return {};
  return folder + "/recent-" + std::to_string(copyNumber) + ".txt";
}

bool RecentFiles::add(const std::string& path) {
  if (!IsStorable(path)) return false;
  remove(path);
  entries_.insert(entries_.begin(), path);
  if (entries_.size() > kMaxEntries) entries_.resize(kMaxEntries);
  return true;
}

void RecentFiles::remove(const std::string& path) {
  entries_.erase(std::remove(entries_.begin(), entries_.end(), path), entries_.end());
}

std::string RecentFiles::Serialize(const std::vector<std::string>& entries) {
  std::string text = std::string(kHeader) + "\n";
  for (const std::string& e : entries) text += e + "\n";
  return text;
}

bool RecentFiles::Parse(const std::string& text, std::vector<std::string>* entries) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;  // cut short: the last line has no end
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.empty() || lines[0] != kHeader || lines.size() - 1 > kMaxEntries) return false;
  std::vector<std::string> read(lines.begin() + 1, lines.end());
  for (size_t i = 0; i < read.size(); ++i) {
    if (!IsStorable(read[i])) return false;
    if (std::find(read.begin(), read.begin() + long(i), read[i]) != read.begin() + long(i)) return false;
  }
  *entries = std::move(read);
  return true;
}

bool RecentFiles::load(std::string* error) {
  entries_.clear();
  if (filePath_.empty()) return true;
  std::string text;
  if (!ReadSmallFile(filePath_, &text, kMaxFileBytes)) {
    if (errno == ENOENT) return true;
    if (errno != EFBIG) return Fail(error, "cannot read " + filePath_ + ": " + std::strerror(errno));
  } else if (Parse(text, &entries_)) {
    return true;
  }
  entries_.clear();
  return Fail(error, "ignored a damaged list of recent pictures: " + filePath_);
}

bool RecentFiles::save(std::string* error) const {
  if (filePath_.empty()) return Fail(error, "this copy keeps no list of recent pictures");
  if (!MakeParents(filePath_, error)) return false;
  if (!ReplaceSmallFile(filePath_, Serialize(entries_)))
    return Fail(error, "cannot write " + filePath_ + ": " + std::strerror(errno));
  return true;
}

}  // namespace plombix
