// The player's entry point: the application object runs the one main window
// modally for the life of the process.
#include <QApplication>
#include <QStringList>

#include <cstdio>

#include "ndi_runtime.h"
#include "plombix_dialog.h"
#include "prompter.h"

int main(int argc, char** argv) {
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

  plombix::CNDIPlombixDlg::Options options;
  options.commandLine = QApplication::arguments().mid(1).join(QLatin1Char(' '));
  options.runtime = load.runtime;
  plombix::CNDIPlombixDlg dialog(std::move(options));
  dialog.exec();
  return 0;
}
