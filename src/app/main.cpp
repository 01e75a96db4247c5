// The player's entry point: the application object runs the one main window
// modally for the life of the process.
#include <QApplication>
#include <QSocketNotifier>
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "config_folder.h"
#include "ndi_runtime.h"
#include "picture_loader.h"
#include "plombix_dialog.h"
#include "prompter.h"

namespace {

// SIGTERM, SIGINT and SIGHUP end the player as a confirmed Exit does. The
// handler only writes the signal's number into a pipe that the window's
// thread watches; a second signal while that is under way ends the process
// at once. The exchange is atomic (and lock-free, so safe in a handler):
// two signals delivered to two threads at the same moment still count as a
// first and a second.
int gSignalPipe[2] = {-1, -1};
std::atomic<int> gSignalsSeen{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnEndSignal(int signo) {
  if (gSignalsSeen.exchange(1) != 0) ::_exit(128 + signo);
  const char byte = char(signo);
  (void)!::write(gSignalPipe[1], &byte, 1);
}

bool InstallEndSignals() {
  if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signo : {SIGTERM, SIGINT, SIGHUP})
    if (::sigaction(signo, &action, nullptr) != 0) return false;
  return true;
}

// PLOMBIX_START_DELAY_MS: the start tick's delay in milliseconds, for tests
// that run the real player and must not wait 2.5 s for each copy.
int StartDelayMs() {
  const char* text = std::getenv("PLOMBIX_START_DELAY_MS");
  if (!text || !*text) return plombix::kStartDelayMs;
  char* end = nullptr;
  const long ms = std::strtol(text, &end, 10);
  return *end == '\0' && ms >= 0 && ms <= 60000 ? int(ms) : plombix::kStartDelayMs;
}

std::string CurrentFolder() {
  std::string folder(4096, '\0');
  if (!::getcwd(folder.data(), folder.size())) return {};
  folder.resize(std::strlen(folder.c_str()));
  return folder;
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version answer before any window (or display) is needed.
  const plombix::CommandLine early =
      plombix::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), CurrentFolder());
  if (early.action == plombix::CommandLine::Action::PrintHelp) {
    std::fputs(plombix::HelpText().c_str(), stdout);
    return 0;
  }
  if (early.action == plombix::CommandLine::Action::PrintVersion) {
    std::fputs(plombix::VersionText(PLOMBIX_VERSION_TEXT).c_str(), stdout);
    return 0;
  }

  // Signals are caught from here on, before anything is set up: one that
  // comes early waits in the pipe until the window's thread watches it.
  const bool watchSignals = InstallEndSignals();
  if (!watchSignals) std::perror("plombix: cannot watch for end signals");

  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(plombix::kApplicationName));
  QApplication::setOrganizationName(QStringLiteral("Voracraft"));
  QApplication::setDesktopFileName(QStringLiteral("vora-plombix"));

  plombix::NdiRuntimeLoad load = plombix::LoadNdiRuntime();
  for (const std::string& line : load.skipped) std::fprintf(stderr, "plombix: %s\n", line.c_str());
  if (load.runtime.loaded()) {
    std::fprintf(stderr, "plombix: NDI runtime (%s): %s\n",
                 plombix::NdiRuntimeKindText(load.runtime.kind), load.runtime.path.c_str());
  } else {
    std::fprintf(stderr, "plombix: no NDI runtime: %s\n", load.error.c_str());
  }

  // Qt has taken its own options (-platform, -style, ...) out by now.
  const QStringList arguments = QApplication::arguments().mid(1);
  std::vector<std::string> texts;
  for (const QString& argument : arguments) texts.push_back(argument.toStdString());
  const plombix::CommandLine commandLine = plombix::ParseCommandLine(texts, CurrentFolder());
  for (const std::string& line : commandLine.messages) std::fprintf(stderr, "%s\n", line.c_str());

  plombix::CNDIPlombixDlg::Options options;
  options.commandLine = QString::fromStdString(commandLine.switchLine);
  options.startFile = commandLine.file;
  options.runtime = load.runtime;
  options.startDelayMs = StartDelayMs();
  if (commandLine.userSettings) {
    // Started from the desktop menu: one settings folder whatever the
    // launcher's working folder is.
    const plombix::FolderResult folder = plombix::EnsureUserConfigFolder();
    if (folder.ok()) {
      options.configDir = folder.path;
    } else {
      std::fprintf(stderr, "plombix: %s; the settings stay in the working folder\n", folder.error.c_str());
    }
  }

  // The pipe is watched before the window is made: making it may already
  // show a message box. A signal ends every event loop (the window's and
  // any message box's), so no box can hold the process; the window then
  // ends as a confirmed Exit does, without asking.
  plombix::CNDIPlombixDlg* window = nullptr;
  bool endSignalled = false;
  std::unique_ptr<QSocketNotifier> endSignals;
  if (watchSignals) {
    endSignals = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(endSignals.get(), &QSocketNotifier::activated, &app, [&window, &endSignalled] {
      char byte = 0;
      while (::read(gSignalPipe[0], &byte, 1) > 0) {
      }
      endSignalled = true;
      if (window) window->EndWithoutQuestion();
      QCoreApplication::exit(0);
    });
  }
  plombix::CNDIPlombixDlg dialog(std::move(options));
  window = &dialog;
  if (endSignalled) dialog.EndWithoutQuestion();  // came while the window was being made
  else dialog.exec();
  // A decoder that could not be stopped in time is still at work on its
  // own thread: leave without tearing the libraries down under it.
  if (plombix::PictureLoader::abandoned()) {
    std::fflush(nullptr);
    ::_exit(0);
  }
  return 0;
}
