#include "as_run_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

#include "small_files.h"

namespace plombix {
namespace {

constexpr std::string_view kTimePrefix = "{\"time\":\"";
constexpr size_t kMaxReadBytes = size_t(256) << 20;  // far beyond years of pictures

// A JSON string literal of any bytes (bad UTF-8 replaced).
std::string JsonString(std::string_view text) {
  const QByteArray array =
      QJsonDocument(QJsonArray{QString::fromUtf8(text.data(), qsizetype(text.size()))}).toJson(QJsonDocument::Compact);
  return std::string(array.constData() + 1, size_t(array.size() - 2));
}

// The time at the front of a line we wrote.
std::optional<AsRunClock::time_point> LineTime(std::string_view line) {
  if (line.substr(0, kTimePrefix.size()) != kTimePrefix) return std::nullopt;
  line.remove_prefix(kTimePrefix.size());
  return ParseAsRunTime(line.substr(0, line.find('"')));
}

// Size and SHA-256 (hex) of a regular file, read without blocking on a FIFO.
bool HashFile(const std::string& path, uint64_t* size, std::string* sha256) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  std::vector<char> buffer(size_t(1) << 20);
  uint64_t total = 0;
  while (ok) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    hash.addData(QByteArrayView(buffer.data(), qsizetype(n)));
    total += uint64_t(n);
  }
  ::close(fd);
  if (!ok) return false;
  *size = total;
  *sha256 = hash.result().toHex().toStdString();
  return true;
}

void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    (void)::mkdir(path.substr(0, slash).c_str(), 0700);
    if (slash == std::string::npos) break;
  }
}

}  // namespace

std::string AsRunFolderFromEnvironment() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/vora-plombix";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/state/vora-plombix";
  return {};
}

std::string AsRunFile(const std::string& folder, int copyNumber) {
  return folder + "/as-run-" + std::to_string(copyNumber) + ".jsonl";
}

std::string AsRunTimeText(AsRunClock::time_point time) {
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const std::time_t seconds = std::time_t(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  std::tm tm{};
  ::gmtime_r(&seconds, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, int(ms - int64_t(seconds) * 1000));
  return text;
}

std::optional<AsRunClock::time_point> ParseAsRunTime(std::string_view text) {
  // "YYYY-MM-DDTHH:MM:SS" then ".mmm" or nothing, then "Z".
  const std::string s(text);
  std::tm tm{};
  int consumed = 0;
  if (s.size() < 20 || std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                                   &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &consumed) != 6 || consumed != 19)
    return std::nullopt;
  int ms = 0;
  std::string_view rest = text.substr(19);
  if (rest.size() == 5 && rest[0] == '.') {
    for (char c : rest.substr(1, 3)) {
      if (c < '0' || c > '9') return std::nullopt;
      ms = ms * 10 + (c - '0');
    }
    rest.remove_prefix(4);
  }
  // The clock's own range ends in 2262: a later time would wrap round to one long past.
  if (rest != "Z" || tm.tm_year < 1970 || tm.tm_year > 2200 || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
      tm.tm_min > 59 || tm.tm_sec > 60)
    return std::nullopt;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  const std::time_t seconds = ::timegm(&tm);
  return AsRunClock::from_time_t(seconds) + std::chrono::milliseconds(ms);
}

std::string AsRunLine(const AsRunEntry& e, std::optional<uint64_t> size, const std::string& sha256) {
  std::string line = std::string(kTimePrefix) + AsRunTimeText(e.time) + "\"";
  line += ",\"path\":" + JsonString(e.path);
  line += ",\"size\":" + (size ? std::to_string(*size) : std::string("null"));
  line += ",\"sha256\":" + (size ? "\"" + sha256 + "\"" : std::string("null"));
  line += ",\"output\":{\"width\":" + std::to_string(e.outputWidth) + ",\"height\":" +
          std::to_string(e.outputHeight) + ",\"frameRateN\":" + std::to_string(e.frameRateN) +
          ",\"frameRateD\":" + std::to_string(e.frameRateD) + "}";
  line += ",\"trigger\":" + JsonString(e.trigger);
  line += e.fade ? ",\"transition\":\"fade\"}" : ",\"transition\":\"cut\"}";
  return line;
}

class AsRunLog::Writer {
 public:
  explicit Writer(Options o) : options(std::move(o)), file(AsRunFile(options.folder, options.copyNumber)) {}
  ~Writer() {
    if (fd >= 0) ::close(fd);
  }

  void run() {
    removeOld();
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      wake.wait(lock, [&] { return stopping || !queue.empty() || lost > 0; });
      if (lost > 0) {
        const size_t count = std::exchange(lost, 0);
        lock.unlock();
        fail(std::to_string(count) + " pictures were not written to the as-run log " + file +
             ": its writer is behind");
        lock.lock();
        idle.notify_all();
        continue;
      }
      if (queue.empty()) return;  // stopping, all written
      const AsRunEntry entry = std::move(queue.front());
      queue.pop_front();
      busy = true;
      lock.unlock();
      write(entry);
      lock.lock();
      busy = false;
      idle.notify_all();
    }
  }

  void write(const AsRunEntry& entry) {
    uint64_t size = 0;
    std::string sha256;
    const bool read = HashFile(entry.path, &size, &sha256);
    std::string line = AsRunLine(entry, read ? std::optional<uint64_t>(size) : std::nullopt, sha256) + "\n";
    if (fd < 0) {
      MakeFolders(options.folder);
      fd = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
      if (fd < 0) return fail("Cannot write the as-run log " + file + ": " + std::strerror(errno));
    }
    struct stat st {};
    const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    // A file that does not end a line (written by something else) gets a
    // line break first, so that this line stays whole.
    char last = '\n';
    if (before > 0 && ::pread(fd, &last, 1, before - 1) == 1 && last != '\n') line = "\n" + line;
    ssize_t n;
    do n = ::write(fd, line.data(), line.size());
    while (n < 0 && errno == EINTR);
    if (n == ssize_t(line.size())) {
      failing = false;
      return;
    }
    const int why = n < 0 ? errno : ENOSPC;
    // Part of a line would be a torn line: take it back.
    if (n > 0 && before >= 0) (void)!::ftruncate(fd, before);
    ::close(fd);
    fd = -1;
    fail("Cannot write the as-run log " + file + ": " + std::strerror(why));
  }

  void fail(const std::string& message) {
    if (failing) return;
    failing = true;
    if (options.onFailure) options.onFailure(message);
  }

  void removeOld() {
    const std::time_t cutoff = std::time(nullptr) - std::time_t(options.keepDays) * 86400;
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator(options.folder, ec)) {
      const std::string name = item.path().filename().string();
      struct stat st {};
      if (name.starts_with("as-run-") && name.ends_with(".jsonl") && ::lstat(item.path().c_str(), &st) == 0 &&
          S_ISREG(st.st_mode) && st.st_mtime < cutoff)
        ::unlink(item.path().c_str());
    }
    std::vector<std::string> all, kept;
    if (!ReadAsRun(file, std::nullopt, SIZE_MAX, &all) || all.empty()) return;
    if (!ReadAsRun(file, AsRunClock::from_time_t(cutoff), SIZE_MAX, &kept) || kept.size() == all.size()) return;
    std::string text;
    for (const std::string& line : kept) text += line + "\n";
    (void)ReplaceSmallFile(file, text);
  }

  const Options options;
  const std::string file;
  std::mutex mutex;
  std::condition_variable wake, idle;
  std::deque<AsRunEntry> queue;
  size_t lost = 0;
  bool busy = false;
  bool stopping = false;
  // The writer thread's own.
  int fd = -1;
  bool failing = false;
  std::thread thread;
};

std::unique_ptr<AsRunLog> AsRunLog::Start(Options options) {
  std::unique_ptr<AsRunLog> log(new AsRunLog());
  log->writer_ = std::make_unique<Writer>(std::move(options));
  Writer* w = log->writer_.get();
  w->thread = std::thread([w] { w->run(); });
  return log;
}

AsRunLog::~AsRunLog() {
  {
    std::lock_guard<std::mutex> lock(writer_->mutex);
    writer_->stopping = true;
  }
  writer_->wake.notify_all();
  writer_->thread.join();
}

void AsRunLog::append(AsRunEntry entry) {
  {
    std::lock_guard<std::mutex> lock(writer_->mutex);
    if (writer_->queue.size() >= writer_->options.maxWaiting) ++writer_->lost;
    else writer_->queue.push_back(std::move(entry));
  }
  writer_->wake.notify_all();
}

void AsRunLog::waitIdle() {
  std::unique_lock<std::mutex> lock(writer_->mutex);
  writer_->idle.wait(lock, [&] { return writer_->queue.empty() && !writer_->busy && writer_->lost == 0; });
}

bool ReadAsRun(const std::string& file, std::optional<AsRunClock::time_point> since, size_t limit,
               std::vector<std::string>* lines) {
  lines->clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);  // not a device or a FIFO
  std::string text;
  char buffer[65536];
  while (ok && text.size() < kMaxReadBytes) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    text.append(buffer, size_t(n));
  }
  ::close(fd);
  if (!ok) return false;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string_view line(text.data() + start, end - start);
    const std::optional<AsRunClock::time_point> time = LineTime(line);
    if (time && (!since || *time >= *since)) lines->emplace_back(line);
  }
  if (lines->size() > limit) lines->erase(lines->begin(), lines->end() - ptrdiff_t(limit));
  return true;
}

}  // namespace plombix
