// The player's entry point: the application object runs the one main window
// modally for the life of the process.
#include <QApplication>
#include <QSocketNotifier>
#include <QStringList>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "ndi_runtime.h"
#include "picture_loader.h"
#include "plombix_dialog.h"
#include "prompter.h"

namespace {

// SIGTERM, SIGINT and SIGHUP end the player as a confirmed Exit does. The
// handler only writes the signal's number into a pipe that the window's
// thread watches; a second signal while that is under way ends the process
// at once.
int gSignalPipe[2] = {-1, -1};
volatile std::sig_atomic_t gSignalsSeen = 0;

void OnEndSignal(int signo) {
  if (gSignalsSeen != 0) ::_exit(128 + signo);
  gSignalsSeen = 1;
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
  options.commandLine = arguments.join(QLatin1Char(' '));
  options.startFile = commandLine.file;
  options.runtime = load.runtime;
  plombix::CNDIPlombixDlg dialog(std::move(options));
  std::unique_ptr<QSocketNotifier> endSignals;
  if (InstallEndSignals()) {
    endSignals = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(endSignals.get(), &QSocketNotifier::activated, &dialog, [&dialog] {
      char byte = 0;
      while (::read(gSignalPipe[0], &byte, 1) > 0) {
      }
      dialog.EndWithoutQuestion();
    });
  } else {
    std::perror("plombix: cannot watch for end signals");
  }
  dialog.exec();
  // A decoder that could not be stopped in time is still at work on its
  // own thread: leave without tearing the libraries down under it.
  if (plombix::PictureLoader::abandoned()) {
    std::fflush(nullptr);
    ::_exit(0);
  }
  return 0;
}
