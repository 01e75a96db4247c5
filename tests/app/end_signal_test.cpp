// The real player ended by a signal, as logout, `kill` or Ctrl+C end it, in
// each state it can be in, message boxes open included: it ends as a
// confirmed Exit does, within two seconds, with status 0, saving at most
// once. A second signal during the ending ends it at once with 128 + the
// signal's number. Every row runs its own player, all at the same time.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "config_file.h"
#include "instance_lock.h"
#include "temp_dir.h"

namespace plombix {
namespace {

using namespace std::chrono_literals;

// Ten players start at once: on a loaded machine (or under a sanitizer)
// that takes a while; only the endings are timed.
bool Eventually(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
  return done();
}

// A file's bytes; empty for anything else.
std::string Text(const std::string& path) {
  QFile file(QString::fromStdString(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

enum class Start {
  Plain,
  UseLast,     // settings saved with "Use Last" on, dated long ago (a save shows in their time)
  Unwritable,  // the same, and the file becomes a folder once on air
  Damaged,     // a settings file that does not read
  Ninth,       // the test holds the numbers of eight copies
};
enum class Saved { No, Yes, Either };  // the settings file written at the end

struct Row {
  const char* name;
  Start start;
  QStringList args, env;  // env: NAME=value, "@" standing for the row's folder
  const char* waitFor;    // a line on stderr that shows the state; null: the source on air
  std::vector<int> sent;  // two: sent together while the player is stopped
  Saved saved;
  const char* said = nullptr;  // on stderr after the end
  const char* settingsFile = "work/last.plq";
};

struct Player {
  testing::TempDir dir;
  QProcess process;
  std::array<InstanceLock, 8> held;
  std::string log() const { return Text(dir.file("stderr.txt")); }
};

TEST(EndSignal, EndsInEveryStateOnceWithinTwoSeconds) {
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const std::string killedSave = "last.plq.new-" + std::to_string(ended) + "-1";
  const std::string runningSave = "last.plq.new-" + std::to_string(::getpid()) + "-1";
  const Row rows[] = {
      {"SIGTERM on air", Start::UseLast, {}, {}, nullptr, {SIGTERM}, Saved::Yes},
      {"SIGINT, started from the menu", Start::UseLast, {"--user-settings"}, {"HOME=@/home", "XDG_CONFIG_HOME="},
       nullptr, {SIGINT}, Saved::Yes, nullptr, "home/.config/vora-plombix/last.plq"},
      {"SIGHUP, the settings cannot be saved", Start::Unwritable, {}, {}, nullptr, {SIGHUP}, Saved::No,
       "plombix: Save File: Problem initiating file save"},
      {"the ninth copy asking", Start::Ninth, {}, {}, "plombix: Quit Plombix: OK to exit?", {SIGTERM}, Saved::No},
      {"a damaged settings file's message", Start::Damaged, {}, {}, "plombix: Load File: Unrecognised file type",
       {SIGTERM}, Saved::No},
      {"\"Cannot run NDI.\" while the window is made", Start::Plain, {}, {"PLOMBIX_NDI_RUNTIME=@/none.so"},
       "Cannot run NDI.", {SIGTERM}, Saved::No},
      {"a runtime folder that cannot be used", Start::Plain, {}, {"PLOMBIX_RUNTIME_DIR=@/stderr.txt"},
       "plombix: Vora Plombix: Cannot use the runtime folder", {SIGTERM}, Saved::No},
      {"a second signal during the ending", Start::UseLast, {}, {}, nullptr, {SIGTERM, SIGINT}, Saved::Either},
  };

  std::vector<std::unique_ptr<Player>> players;
  for (const Row& row : rows) {
    auto& p = *players.emplace_back(std::make_unique<Player>());
    const std::string settings = p.dir.file(row.settingsFile);
    QDir().mkpath(QString::fromStdString(p.dir.file("work")));
    QDir().mkpath(QString::fromStdString(settings.substr(0, settings.rfind('/'))));
    if (row.start == Start::UseLast || row.start == Start::Unwritable) {
      ViewerConfig block;
      block.useLast = 1;
      ASSERT_TRUE(SaveConfigFile(settings, block, {}, {}, {}).ok());
      const timespec old[2] = {{1000, 0}, {1000, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, settings.c_str(), old, 0), 0);
    }
    if (row.start == Start::Damaged) (void)testing::WriteBytes(settings, {'b', 'a', 'd'});
    for (const std::string& name : {killedSave, runningSave}) (void)testing::WriteBytes(p.dir.file("work/" + name), {});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& pair : QStringList{"QT_QPA_PLATFORM=offscreen", "PLOMBIX_RUNTIME_DIR=@/run",
                                           "PLOMBIX_NDI_RUNTIME=" PLOMBIX_BINARY_DIR "/lib/libplombix_ndi.so",
                                           "PLOMBIX_CONTROL=0", "PLOMBIX_START_DELAY_MS=0",
                                           "XDG_CONFIG_HOME=@/config"} + row.env) {
      const qsizetype eq = pair.indexOf('=');
      env.insert(pair.left(eq), pair.mid(eq + 1).replace('@', QString::fromStdString(p.dir.path())));
    }
    if (row.start == Start::Ninth) {
      ::setenv("PLOMBIX_RUNTIME_DIR", p.dir.file("run").c_str(), 1);
      for (InstanceLock& lock : p.held) ASSERT_TRUE(lock.Acquire());
    }
    p.process.setProcessEnvironment(env);
    p.process.setWorkingDirectory(QString::fromStdString(p.dir.file("work")));
    p.process.setStandardErrorFile(QString::fromStdString(p.dir.file("stderr.txt")));
    p.process.start(PLOMBIX_BINARY_DIR "/bin/plombix", row.args);
  }
  // Every player in its state first, so that each ending is timed on a
  // machine the others no longer keep busy.
  for (size_t i = 0; i < players.size(); ++i) {
    const Player& p = *players[i];
    const QDir sources(QString::fromStdString(p.dir.file("run/sources")));
    ASSERT_TRUE(Eventually([&] {
      return rows[i].waitFor ? p.log().find(rows[i].waitFor) != std::string::npos
                             : !sources.entryList(QDir::Files).isEmpty();
    })) << rows[i].name << ": " << p.log();
  }
  for (size_t i = 0; i < players.size(); ++i) {
    const Row& row = rows[i];
    Player& p = *players[i];
    SCOPED_TRACE(row.name);
    const std::string settings = p.dir.file(row.settingsFile);
    if (row.start == Start::Unwritable) {
      ASSERT_TRUE(QFile::remove(QString::fromStdString(settings)) && ::mkdir(settings.c_str(), 0700) == 0);
    }
    const std::string before = Text(settings);
    const pid_t pid = pid_t(p.process.processId());
    if (row.sent.size() > 1) {  // stopped, both arrive together: one is the second
      ASSERT_EQ(::kill(pid, SIGSTOP), 0);
      const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
      ASSERT_TRUE(Eventually([&] { return Text(stat).find(") T ") != std::string::npos; }));
    }
    for (const int signo : row.sent) ::kill(pid, signo);
    if (row.sent.size() > 1) ::kill(pid, SIGCONT);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(p.process.waitForFinished(10000)) << p.log();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
    EXPECT_EQ(p.process.exitStatus(), QProcess::NormalExit);
    const int code = p.process.exitCode();
    EXPECT_TRUE(row.sent.size() > 1 ? code == 128 + SIGTERM || code == 128 + SIGINT : code == 0) << code << p.log();
    struct stat st {};
    const bool rewritten = ::stat(settings.c_str(), &st) == 0 && st.st_mtim.tv_sec > 1000 && S_ISREG(st.st_mode);
    EXPECT_TRUE(row.saved == Saved::Yes ? rewritten : row.saved == Saved::Either || Text(settings) == before);
    EXPECT_TRUE(!row.said || p.log().find(row.said) != std::string::npos) << p.log();
    EXPECT_TRUE(code != 0 || QDir(QString::fromStdString(p.dir.file("run/sources"))).isEmpty());  // unpublished
  }
  // The killed save's file is gone at the next start, a running one's stays;
  // a menu start keeps no settings in its working folder.
  EXPECT_EQ(players[0]->dir.entries(), (std::vector<std::string>{"run", "stderr.txt", "work"}));
  EXPECT_EQ(testing::TempDirEntries(players[0]->dir.file("work")), (std::vector<std::string>{"last.plq", runningSave}));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(players[1]->dir.file("work/last.plq"))));
}

}  // namespace
}  // namespace plombix
