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
#include <unistd.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config_file.h"
#include "instance_lock.h"
#include "temp_dir.h"

namespace plombix {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// A file's bytes; empty for anything else.
std::string Text(const std::string& path) {
  QFile file(QString::fromStdString(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// Settings with "Use Last" on, dated long ago: a save at the end shows in
// the file's time.
void WriteOldSettings(const std::string& path) {
  ViewerConfig block;
  block.useLast = 1;
  PathBuffer none;
  QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/'))));
  ASSERT_TRUE(SaveConfigFile(path, block, none, none, none).ok());
  const timespec old[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  const QDir dir(QString::fromStdString(folder));
  for (const QString& name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name))
    names.push_back(name.toStdString());
  return names;
}

bool Rewritten(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtim.tv_sec > 1000;
}

// The id of a process that has ended.
pid_t DeadProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

enum class Saved { No, Yes, Either };

struct Row {
  const char* name;
  // Prepares the folder, the arguments and the environment (may be empty).
  std::function<void(const TempDir&, QStringList&, QProcessEnvironment&)> setUp;
  const char* waitFor;  // a line on stderr that shows the state; null: the source on air
  std::function<void(const TempDir&)> then;  // done just before the signals (may be empty)
  std::vector<int> sent;  // more than one: sent together while the player is stopped
  Saved saved;               // the settings file ("settings") written again
  const char* said;          // on stderr after the end; null: nothing asked
  const char* settings = "work/last.plq";
  bool eightRunning = false;  // the test holds the numbers of eight copies
};

struct Player {
  const Row* row;
  TempDir dir;
  QProcess process;
  std::array<InstanceLock, 8> held;  // the other eight copies, for the ninth
  std::string stderrPath() const { return dir.file("stderr.txt"); }
};

TEST(EndSignal, EndsInEveryStateOnceWithinTwoSeconds) {
  const std::string dead = std::to_string(DeadProcess());
  const std::string alive = std::to_string(::getpid());
  const auto onAir = [](const TempDir& d, QStringList&, QProcessEnvironment&) {
    WriteOldSettings(d.file("work/last.plq"));
  };
  const Row rows[] = {
      {"SIGTERM on air, a killed save's file left",
       [&](const TempDir& d, QStringList&, QProcessEnvironment&) {
         WriteOldSettings(d.file("work/last.plq"));
         testing::WriteBytes(d.file("work/last.plq.new-" + dead + "-1"), {1});
         testing::WriteBytes(d.file("work/last.plq.new-" + alive + "-1"), {1});
       },
       nullptr, {}, {SIGTERM}, Saved::Yes, nullptr},
      {"SIGINT on air", onAir, nullptr, {}, {SIGINT}, Saved::Yes, nullptr},
      {"SIGHUP on air", onAir, nullptr, {}, {SIGHUP}, Saved::Yes, nullptr},
      {"started from the menu",
       [](const TempDir& d, QStringList& args, QProcessEnvironment& env) {
         args << "--user-settings";
         env.insert("HOME", QString::fromStdString(d.file("home")));
         env.remove("XDG_CONFIG_HOME");
         WriteOldSettings(d.file("home/.config/vora-plombix/last.plq"));
       },
       nullptr, {}, {SIGTERM}, Saved::Yes, nullptr, "home/.config/vora-plombix/last.plq"},
      {"the settings cannot be saved at the end", onAir, nullptr,
       [](const TempDir& d) {
         ASSERT_EQ(::unlink(d.file("work/last.plq").c_str()), 0);
         ASSERT_EQ(::mkdir(d.file("work/last.plq").c_str(), 0700), 0);
       },
       {SIGTERM}, Saved::No, "plombix: Problem initiating file save"},
      {"the ninth copy asking \"OK to exit?\"",
       [](const TempDir&, QStringList&, QProcessEnvironment&) {}, "plombix: Quit Plombix: OK to exit?", {},
       {SIGTERM}, Saved::No, nullptr, "work/last.plq", true},
      {"a damaged settings file's message",
       [](const TempDir& d, QStringList&, QProcessEnvironment&) {
         testing::WriteBytes(d.file("work/last.plq"), {'b', 'a', 'd'});
       },
       "plombix: Load File: Unrecognised file type", {}, {SIGTERM}, Saved::No, nullptr},
      {"\"Cannot run NDI.\" while the window is made",
       [](const TempDir& d, QStringList&, QProcessEnvironment& env) {
         env.insert("PLOMBIX_NDI_RUNTIME", QString::fromStdString(d.file("none.so")));
       },
       "Cannot run NDI.", {}, {SIGTERM}, Saved::No, nullptr},
      {"a runtime folder that cannot be used",
       [](const TempDir& d, QStringList&, QProcessEnvironment& env) {
         testing::WriteBytes(d.file("file"), {1});
         env.insert("PLOMBIX_RUNTIME_DIR", QString::fromStdString(d.file("file")));
       },
       "plombix: Cannot use the runtime folder", {}, {SIGTERM}, Saved::No, nullptr},
      {"a second signal during the ending", onAir, nullptr, {}, {SIGTERM, SIGINT}, Saved::Either,
       nullptr},
  };

  std::vector<std::unique_ptr<Player>> players;
  for (const Row& row : rows) {
    auto player = std::make_unique<Player>();
    player->row = &row;
    const TempDir& d = player->dir;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(d.file("work"))));
    QStringList args;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("PLOMBIX_RUNTIME_DIR", QString::fromStdString(d.file("run")));
    env.insert("PLOMBIX_NDI_RUNTIME", PLOMBIX_BINARY_DIR "/lib/libplombix_ndi.so");
    env.insert("PLOMBIX_CONTROL", "0");
    env.insert("PLOMBIX_START_DELAY_MS", "0");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(d.file("config")));
    row.setUp(d, args, env);
    if (row.eightRunning) {
      ::setenv("PLOMBIX_RUNTIME_DIR", d.file("run").c_str(), 1);
      for (InstanceLock& lock : player->held) ASSERT_TRUE(lock.Acquire());
    }
    player->process.setProcessEnvironment(env);
    player->process.setWorkingDirectory(QString::fromStdString(d.file("work")));
    player->process.setStandardErrorFile(QString::fromStdString(player->stderrPath()));
    player->process.start(PLOMBIX_BINARY_DIR "/bin/plombix", args);
    players.push_back(std::move(player));
  }

  // Every player in its state first, so that each ending is timed on a
  // machine the others no longer keep busy.
  for (const std::unique_ptr<Player>& p : players) {
    SCOPED_TRACE(p->row->name);
    ASSERT_TRUE(p->process.waitForStarted(5000));
    const QDir sources(QString::fromStdString(p->dir.file("run/sources")));
    ASSERT_TRUE(Eventually(
        [&] {
          return p->row->waitFor ? Text(p->stderrPath()).find(p->row->waitFor) != std::string::npos
                                 : !sources.entryList(QDir::Files).isEmpty();
        },
        20s))
        << Text(p->stderrPath());
  }
  for (const std::unique_ptr<Player>& p : players) {
    const Row& row = *p->row;
    SCOPED_TRACE(row.name);
    QProcess& player = p->process;
    const QDir sources(QString::fromStdString(p->dir.file("run/sources")));
    if (row.then) row.then(p->dir);
    const std::string settings = p->dir.file(row.settings);
    const std::string before = row.saved == Saved::No ? Text(settings) : std::string();

    const pid_t pid = pid_t(player.processId());
    if (row.sent.size() > 1) {
      // Stopped, both arrive together when it goes on: one of them is the
      // second, whichever thread takes which.
      ASSERT_EQ(::kill(pid, SIGSTOP), 0);
      ASSERT_TRUE(Eventually([&] { return Text("/proc/" + std::to_string(pid) + "/stat").find(") T ") !=
                                          std::string::npos; },
                             5s));
    }
    for (const int signo : row.sent) {
      ASSERT_EQ(::kill(pid, signo), 0);
    }
    if (row.sent.size() > 1) {
      ASSERT_EQ(::kill(pid, SIGCONT), 0);
    }
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(player.waitForFinished(10000)) << Text(p->stderrPath());
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
    if (row.sent.size() > 1) {
      EXPECT_TRUE(player.exitCode() == 128 + SIGTERM || player.exitCode() == 128 + SIGINT)
          << player.exitCode();
    } else {
      EXPECT_EQ(player.exitCode(), 0) << Text(p->stderrPath());
      EXPECT_TRUE(sources.entryList(QDir::Files).isEmpty());
    }
    if (row.saved == Saved::Yes) {
      EXPECT_TRUE(Rewritten(settings));
    } else if (row.saved == Saved::No) {
      EXPECT_EQ(Text(settings), before);
    }
    if (row.said) {
      EXPECT_NE(Text(p->stderrPath()).find(row.said), std::string::npos) << Text(p->stderrPath());
    }
  }
  // The killed save's file is gone; the running process's stays.
  const std::vector<std::string> work = Names(players[0]->dir.file("work"));
  EXPECT_EQ(work, (std::vector<std::string>{"last.plq", "last.plq.new-" + alive + "-1"}));
  // A menu start keeps no settings in its working folder.
  EXPECT_TRUE(Names(players[3]->dir.file("work")).empty());
}

}  // namespace
}  // namespace plombix
