// The as-run log: its line, its times, the writer's thread and failures (a
// full disk, a folder that cannot be made, a file size limit that cuts a
// write short), the days kept, and the reader's since and limit.
#include "as_run_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "temp_dir.h"

using namespace plombix;
using namespace std::chrono_literals;
using plombix::testing::TempDir;

namespace {

// 2026-05-14T10:22:33.123Z: 20587 days after 1970-01-01, then 10:22:33.123.
const AsRunClock::time_point kMay14 = AsRunClock::time_point(20587 * 86400s + 10h + 22min + 33s + 123ms);

AsRunEntry Entry(const std::string& path, AsRunClock::time_point time = kMay14) {
  return AsRunEntry{time, path, 1920, 1080, 30000, 1001, "drop", false};
}

std::vector<std::string> Lines(const std::string& file) {
  std::vector<std::string> lines;
  EXPECT_TRUE(ReadAsRun(file, std::nullopt, SIZE_MAX, &lines));
  return lines;
}

struct Failures {
  std::mutex mutex;
  std::vector<std::string> messages;
  std::function<void(const std::string&)> hook() {
    return [this](const std::string& m) {
      std::lock_guard<std::mutex> lock(mutex);
      messages.push_back(m);
    };
  }
};

TEST(AsRunLog, LineHoldsTimeFileHashFormatTriggerAndTransition) {
  TempDir dir;
  std::ofstream(dir.file("a \"b\".png")) << "abc";
  // SHA-256 of "abc": FIPS 180-2, appendix B.1.
  EXPECT_EQ(AsRunLine(Entry(dir.file("a \"b\".png")), 3, "ba78"),
            R"({"time":"2026-05-14T10:22:33.123Z","path":")" + dir.path() +
                R"(/a \"b\".png","size":3,"sha256":"ba78","output":{"width":1920,"height":1080,)"
                R"("frameRateN":30000,"frameRateD":1001},"trigger":"drop","transition":"cut"})");
  auto log = AsRunLog::Start({dir.path() + "/state/vora-plombix", 2, {}});
  log->append(Entry(dir.file("a \"b\".png")));
  AsRunEntry gone = Entry(dir.file("gone.png"), kMay14 + 1ms);
  gone.fade = true;
  log->append(gone);
  log->waitIdle();
  const std::vector<std::string> lines = Lines(dir.path() + "/state/vora-plombix/as-run-2.jsonl");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(R"("size":3,"sha256":"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")"),
            std::string::npos);
  EXPECT_NE(lines[1].find(R"("time":"2026-05-14T10:22:33.124Z")"), std::string::npos);
  EXPECT_NE(lines[1].find(R"("size":null,"sha256":null)"), std::string::npos);
  EXPECT_NE(lines[1].find(R"("transition":"fade")"), std::string::npos);
  EXPECT_EQ(std::filesystem::status(dir.path() + "/state").permissions(), std::filesystem::perms::owner_all);
}

TEST(AsRunLog, TimesReadBackAndBadTextsAreRefused) {
  EXPECT_EQ(AsRunTimeText(AsRunClock::time_point()), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(AsRunTimeText(kMay14), "2026-05-14T10:22:33.123Z");
  EXPECT_EQ(ParseAsRunTime("2026-05-14T10:22:33.123Z"), kMay14);
  EXPECT_EQ(ParseAsRunTime("2026-05-14T10:22:33Z"), kMay14 - 123ms);
  for (const char* bad : {"2026-05-14T10:22:33", "2026-05-14 10:22:33Z", "2026-13-14T10:22:33Z",
                          "2026-05-14T10:22:33.12Z", "2026-05-14T10:22:33.1234Z", "yesterday", ""})
    EXPECT_FALSE(ParseAsRunTime(bad)) << bad;
}

TEST(AsRunLog, FailuresAreReportedOnceAndNeverLeaveATornLine) {
  TempDir dir;
  std::ofstream(dir.file("picture.png")) << std::string(1000, 'p');
  std::ofstream(dir.file("a-file")) << "";
  ASSERT_EQ(::mkdir(dir.file("full").c_str(), 0700), 0);
  std::filesystem::create_symlink("/dev/full", dir.file("full/as-run-1.jsonl"));
  ASSERT_EQ(::mkdir(dir.file("limited").c_str(), 0700), 0);
  struct Row { const char* name; std::string folder; const char* reason; };
  const Row rows[] = {
      {"a folder that is a file", dir.file("a-file/vora-plombix"), "Not a directory"},
      {"a full disk", dir.file("full"), "No space left on device"},
      {"a file size limit", dir.file("limited"), "No space left on device"},
  };
  for (const Row& r : rows) {
    Failures failures;
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const bool limit = r.folder == dir.file("limited");
    // 450 bytes: the second line (about 300 bytes each) goes in part, and is taken back.
    const rlimit small{450, old.rlim_max};
    if (limit) {
      ::signal(SIGXFSZ, SIG_IGN);
      ::setrlimit(RLIMIT_FSIZE, &small);
    }
    auto log = AsRunLog::Start({r.folder, 1, failures.hook()});
    for (int i = 0; i < 4; ++i) log->append(Entry(dir.file("picture.png"), kMay14 + i * 1ms));
    log->waitIdle();
    if (limit) ::setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_EQ(failures.messages.size(), 1u) << r.name;
    EXPECT_NE(failures.messages[0].find(r.reason), std::string::npos) << failures.messages[0];
    if (limit) {
      std::ifstream in(AsRunFile(r.folder, 1));
      const std::string text(std::istreambuf_iterator<char>(in), {});
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
      EXPECT_EQ(text.back(), '\n');
    }
  }
}

TEST(AsRunLog, KeepsThirtyOneDaysAndReadsSinceAndLimit) {
  TempDir dir;
  const AsRunClock::time_point now = std::chrono::floor<std::chrono::milliseconds>(AsRunClock::now());
  const auto day = 24h;
  std::ofstream(dir.file("as-run-1.jsonl"))
      << AsRunLine(Entry("/old", now - 40 * day), 1, "0") << "\n"
      << AsRunLine(Entry("/recent", now - 30 * day), 1, "0") << "\n"
      << R"({"not":"ours"})" << "\n"
      << AsRunLine(Entry("/torn", now - day), 1, "0").substr(0, 60);
  for (const auto& [name, age] : {std::pair{"as-run-2.jsonl", 40 * day}, {"as-run-3.jsonl", 10 * day},
                                  {"notes-4.jsonl", 40 * day}}) {
    std::ofstream(dir.file(name)) << "\n";
    const time_t when = AsRunClock::to_time_t(now - age);
    const utimbuf times{when, when};
    ::utime(dir.file(name).c_str(), &times);
  }
  auto log = AsRunLog::Start({dir.path(), 1, {}});
  for (int i = 1; i <= 4; ++i) log->append(Entry("/p" + std::to_string(i), now + i * 1ms));
  log->waitIdle();
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"as-run-1.jsonl", "as-run-3.jsonl", "notes-4.jsonl"}));
  struct Row { std::optional<AsRunClock::time_point> since; size_t limit; std::vector<std::string> paths; };
  const Row rows[] = {
      {std::nullopt, 100, {"/recent", "/p1", "/p2", "/p3", "/p4"}},
      {now + 2ms, 100, {"/p2", "/p3", "/p4"}},
      {std::nullopt, 2, {"/p3", "/p4"}},
      {now + 5ms, 100, {}},
  };
  for (const Row& r : rows) {
    std::vector<std::string> lines, paths;
    ASSERT_TRUE(ReadAsRun(dir.file("as-run-1.jsonl"), r.since, r.limit, &lines));
    for (const std::string& l : lines) {
      const size_t from = l.find(R"("path":")") + 8;
      paths.push_back(l.substr(from, l.find(R"(",")", from) - from));
    }
    EXPECT_EQ(paths, r.paths) << r.limit;
  }
  std::vector<std::string> none;
  EXPECT_TRUE(ReadAsRun(dir.file("as-run-9.jsonl"), std::nullopt, 10, &none));
  EXPECT_TRUE(none.empty());
}

}  // namespace
