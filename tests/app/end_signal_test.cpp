// The real player ended by a signal, as logout, `kill` or Ctrl+C end it: the
// same as a confirmed Exit, with exit status 0, within two seconds.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "config_file.h"

namespace plombix {
namespace {

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

TEST(EndSignal, EndsLikeAConfirmedExit) {
  for (const int signo : {SIGTERM, SIGINT, SIGHUP}) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString run = dir.path() + "/run";
    // Settings with "Use Last" on, dated long ago: saved again at the end.
    const std::string settings = (dir.path() + "/last.plq").toStdString();
    ViewerConfig block;
    block.useLast = 1;
    PathBuffer none;
    ASSERT_TRUE(SaveConfigFile(settings, block, none, none, none).ok());
    const timespec old[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, settings.c_str(), old, 0), 0);

    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("PLOMBIX_RUNTIME_DIR", run);
    env.insert("PLOMBIX_NDI_RUNTIME", PLOMBIX_BINARY_DIR "/lib/libplombix_ndi.so");
    player.setProcessEnvironment(env);
    player.setWorkingDirectory(dir.path());
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    player.start(PLOMBIX_BINARY_DIR "/bin/plombix", {});
    ASSERT_TRUE(player.waitForStarted(5000));

    // On air after the start tick: its discovery file is there.
    const QDir sources(run + "/sources");
    ASSERT_TRUE(Eventually([&] { return !sources.entryList(QDir::Files).isEmpty(); },
                           std::chrono::seconds(10)))
        << "signal " << signo;

    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(pid_t(player.processId()), signo), 0);
    ASSERT_TRUE(player.waitForFinished(5000)) << "signal " << signo;
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_LT(took, std::chrono::seconds(2)) << "signal " << signo;
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit) << "signal " << signo;
    EXPECT_EQ(player.exitCode(), 0) << "signal " << signo;
    EXPECT_TRUE(sources.entryList(QDir::Files).isEmpty()) << "signal " << signo;
    EXPECT_GT(QFileInfo(QString::fromStdString(settings)).lastModified().toSecsSinceEpoch(), 1000)
        << "signal " << signo;
  }
}

}  // namespace
}  // namespace plombix
