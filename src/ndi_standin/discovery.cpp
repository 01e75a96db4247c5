#include "discovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "small_files.h"

namespace plombix::standin {
namespace {

constexpr const char* kSuffix = ".source";

bool parseUnsigned(const std::string& text, unsigned long long* value) {
  if (text.empty() || text.size() > 20) return false;
  unsigned long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const unsigned long long next = v * 10 + unsigned(c - '0');
    if (next / 10 != v) return false;
    v = next;
  }
  *value = v;
  return true;
}

}  // namespace

bool IsValidSourceName(const std::string& name) {
  if (name.empty() || name.size() > kMaxSourceNameBytes) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::string SourceFileName(const std::string& name) { return EncodedFileStem(name) + kSuffix; }

unsigned long long ProcessStartTicks(long pid) {
  std::string text;
  if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", &text)) return 0;
  // The command name (field 2) is in parentheses and may hold blanks; the
  // fields after the last ')' are plain. Start time is field 22.
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  size_t pos = close + 1;
  for (int field = 3; field < 22; ++field) {
    pos = text.find(' ', pos + 1);
    if (pos == std::string::npos) return 0;
  }
  const size_t end = text.find(' ', pos + 1);
  unsigned long long ticks = 0;
  if (!parseUnsigned(text.substr(pos + 1, end == std::string::npos ? std::string::npos : end - pos - 1),
                     &ticks))
    return 0;
  return ticks;
}

bool ParseSourceEntry(const std::string& text, SourceEntry* entry) {
  SourceEntry e;
  bool havePid = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    unsigned long long number = 0;
    if (key == "name") {
      e.name = value;
    } else if (key == "url") {
      e.url = value;
    } else if (key == "pid") {
      if (!parseUnsigned(value, &number) || number == 0 || number > 0x7fffffff) return false;
      e.pid = long(number);
      havePid = true;
    } else if (key == "start") {
      if (!parseUnsigned(value, &number)) return false;
      e.startTicks = number;
    }
  }
  if (!havePid || !IsValidSourceName(e.name) || e.url.rfind("http://", 0) != 0) return false;
  *entry = std::move(e);
  return true;
}

bool IsSourceAlive(const SourceEntry& entry) {
  if (entry.pid <= 0) return false;
  if (::kill(pid_t(entry.pid), 0) != 0 && errno != EPERM) return false;
  if (entry.startTicks == 0) return true;
  const unsigned long long now = ProcessStartTicks(entry.pid);
  return now == 0 || now == entry.startTicks;
}

ClaimResult ClaimSource(const std::string& sourcesDir, const std::string& name,
                        const std::string& url, std::string* error) {
  if (!IsValidSourceName(name)) {
    if (error) *error = "invalid source name";
    return ClaimResult::Failed;
  }
  static std::atomic<unsigned> counter{0};
  const std::string target = sourcesDir + "/" + SourceFileName(name);
  const std::string temp = sourcesDir + "/.claim-" + std::to_string(::getpid()) + "-" +
                           std::to_string(counter++) + ".tmp";
  const std::string text = "name=" + name + "\nurl=" + url + "\npid=" + std::to_string(::getpid()) +
                           "\nstart=" + std::to_string(ProcessStartTicks(::getpid())) + "\n";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = std::string("cannot write discovery file: ") + std::strerror(errno);
    return ClaimResult::Failed;
  }
  const bool written = WriteAll(fd, text);
  ::close(fd);
  if (!written) {
    ::unlink(temp.c_str());
    if (error) *error = "cannot write discovery file";
    return ClaimResult::Failed;
  }
  // link() publishes the complete file atomically and fails if the name is
  // taken; a taken name whose owner is gone is cleared and tried once more.
  ClaimResult result = ClaimResult::Failed;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (::link(temp.c_str(), target.c_str()) == 0) {
      result = ClaimResult::Claimed;
      break;
    }
    if (errno != EEXIST) {
      if (error) *error = std::string("cannot publish discovery file: ") + std::strerror(errno);
      break;
    }
    std::string existing;
    SourceEntry entry;
    if (ReadSmallFile(target, &existing) && ParseSourceEntry(existing, &entry) &&
        IsSourceAlive(entry)) {
      result = ClaimResult::NameInUse;
      if (error) *error = "the name is in use by a live source";
      break;
    }
    ::unlink(target.c_str());
  }
  ::unlink(temp.c_str());
  return result;
}

void ReleaseSource(const std::string& sourcesDir, const std::string& name, const std::string& url) {
  const std::string target = sourcesDir + "/" + SourceFileName(name);
  std::string existing;
  SourceEntry entry;
  if (ReadSmallFile(target, &existing) && ParseSourceEntry(existing, &entry) &&
      entry.pid == long(::getpid()) && entry.url == url)
    ::unlink(target.c_str());
}

std::vector<SourceEntry> ListSources(const std::string& sourcesDir) {
  std::vector<SourceEntry> out;
  DIR* dir = ::opendir(sourcesDir.c_str());
  if (!dir) return out;
  const size_t suffixLength = std::strlen(kSuffix);
  while (const dirent* d = ::readdir(dir)) {
    const std::string file = d->d_name;
    if (file.size() <= suffixLength || file[0] == '.' ||
        file.compare(file.size() - suffixLength, suffixLength, kSuffix) != 0)
      continue;
    std::string text;
    SourceEntry entry;
    if (ReadSmallFile(sourcesDir + "/" + file, &text) && ParseSourceEntry(text, &entry) &&
        IsSourceAlive(entry))
      out.push_back(std::move(entry));
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end(),
            [](const SourceEntry& a, const SourceEntry& b) { return a.name < b.name; });
  return out;
}

}  // namespace plombix::standin
