// The as-run log: its lines, the days kept, since and limit, and its failures.
#include "as_run_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>

#include "temp_dir.h"

using namespace plombix;
using namespace std::chrono_literals;
using Paths = std::vector<std::string>;

const AsRunClock::time_point kMay14{20587 * 24h + 10h + 22min + 33s + 123ms};  // 2026-05-14T10:22:33.123Z

AsRunEntry Entry(const std::string& path, AsRunClock::time_point time = kMay14, bool fade = false) {
  return AsRunEntry{time, path, 1920, 1080, 30000, 1001, "drop", fade};
}

// The "path" of each line of `file` since `since`, at most `limit`.
Paths Read(const std::string& file, std::optional<AsRunClock::time_point> since = {}, size_t limit = 100) {
  std::vector<std::string> lines, paths;
  EXPECT_TRUE(ReadAsRun(file, since, limit, &lines));
  for (auto& l : lines) paths.push_back(l.substr(l.find(":\"/") + 2, l.find("\",\"size") - l.find(":\"/") - 2));
  return paths;
}

TEST(AsRunLog, WritesKeepsThirtyOneDaysReadsAndReportsFailuresOnce) {
  EXPECT_EQ(ParseAsRunTime("2026-05-14T10:22:33Z"), kMay14 - 123ms);
  for (const char* bad : {"2026-05-14 10:22:33Z", "2026-13-14T10:22:33Z", "2026-05-14T10:22:33.1Z"})
    EXPECT_FALSE(ParseAsRunTime(bad)) << bad;
  plombix::testing::TempDir dir;
  const std::string folder = dir.path(), file = AsRunFile(folder, 1);
  std::ofstream(dir.file("a \"b\".png")) << "abc";
  const AsRunClock::time_point now = std::chrono::floor<std::chrono::milliseconds>(AsRunClock::now());
  std::ofstream(file) << AsRunLine(Entry("/old", now - 40 * 24h), 1, "0") << "\n{\"not\":\"ours\"}\n"
                      << AsRunLine(Entry("/recent", now - 30 * 24h), 1, "0") << "\n";
  for (const auto& [name, age] : {std::pair{"as-run-2.jsonl", 960h}, {"as-run-3.jsonl", 240h}, {"x-4.jsonl", 960h}}) {
    std::ofstream(folder + "/" + name) << "\n";
    std::filesystem::last_write_time(folder + "/" + name, std::filesystem::file_time_type::clock::now() - age);
  }
  auto log = AsRunLog::Start({folder, 1, {}});
  log->append(Entry(dir.file("a \"b\".png"), kMay14));
  log->append(Entry(dir.file("gone.png"), kMay14 + 1ms, true));
  for (int i = 1; i <= 3; ++i) log->append(Entry("/p" + std::to_string(i), now + i * 1ms));
  log->waitIdle();
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadAsRun(file, {}, 100, &lines) && lines.size() == 6);  // /old and the line not ours removed
  // SHA-256 of "abc": FIPS 180-2, appendix B.1.
  EXPECT_EQ(lines[1], R"({"time":"2026-05-14T10:22:33.123Z","path":")" + dir.path() + R"(/a \"b\".png","size":3,)"
      R"("sha256":"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad","output":{"width":1920,)"
      R"("height":1080,"frameRateN":30000,"frameRateD":1001},"trigger":"drop","transition":"cut"})");
  EXPECT_NE(lines[2].find(R"(/gone.png","size":null,"sha256":null,)"), std::string::npos);
  EXPECT_NE(lines[2].find(R"("transition":"fade"})"), std::string::npos);
  EXPECT_EQ(Read(file, now), (Paths{"/p1", "/p2", "/p3"}));
  EXPECT_EQ(Read(file, {}, 2), (Paths{"/p2", "/p3"}));
  EXPECT_EQ(Read(file, {}).front(), "/recent");
  EXPECT_EQ(Read(file, now + 4ms), Read(folder + "/as-run-9.jsonl"));  // none: too late, no file
  EXPECT_EQ(dir.entries(), (Paths{"a \"b\".png", "as-run-1.jsonl", "as-run-3.jsonl", "x-4.jsonl"}));
  std::ofstream(dir.file("a-file")) << "";  // failures: no folder can be made in it, a full disk, a size limit
  std::filesystem::create_directories(dir.file("full"));  // "limited" is made by the log
  std::filesystem::create_symlink("/dev/full", dir.file("full/as-run-1.jsonl"));
  for (const auto& [where, reason] : {std::pair{dir.file("a-file/vora-plombix"), "Not a directory"},
                                      {dir.file("full"), "No space left on device"},
                                      {dir.file("limited/vora-plombix"), "No space left on device"}}) {
    std::vector<std::string> failures;  // written on the writer's thread before waitIdle() returns
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const rlimit small{300, old.rlim_max};  // 300 bytes: the second line (some 190 bytes each) goes in part
    const bool limit = where == dir.file("limited/vora-plombix");
    if (limit) ::signal(SIGXFSZ, SIG_IGN), ::setrlimit(RLIMIT_FSIZE, &small);
    auto failing = AsRunLog::Start({where, 1, [&failures](const std::string& m) { failures.push_back(m); }});
    for (int i = 0; i < 4; ++i) failing->append(Entry("/nowhere", kMay14 + i * 1ms));
    failing->waitIdle();
    if (limit) ::setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_EQ(failures.size(), 1u) << where;
    EXPECT_NE(failures[0].find(reason), std::string::npos) << failures[0];
    std::ifstream in(AsRunFile(limit ? where : "/nonexistent", 1));
    const std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_TRUE(!limit || (std::count(text.begin(), text.end(), '\n') == 1 && text.back() == '\n')) << text;
  }
}
