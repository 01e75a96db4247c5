// Draws the README's screenshots of the main window: folded and unfolded,
// with a picture on air and a receiver's tally shown. Runs offscreen:
//   QT_QPA_PLATFORM=offscreen plombix_make_screenshots <picture> <out dir>
#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>

#include "ndi_runtime.h"
#include "plombix_dialog.h"
#include "vid_box.h"

namespace {

class SilentPrompter final : public plombix::Prompter {
 public:
  void message(const QString&, const QString&) override {}
  bool confirm(const QString&, const QString&) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PICTURE OUTDIR\n", argv[0]);
    return 2;
  }
  const QString picture = QString::fromLocal8Bit(argv[1]);
  const QDir out(QString::fromLocal8Bit(argv[2]));

  SilentPrompter prompter;
  plombix::CNDIPlombixDlg::Options options;
  options.runtime = plombix::LoadNdiRuntime().runtime;
  options.prompter = &prompter;
  options.pictureChoice = 0;
  options.supportWindow = false;
  options.configDir = QDir::tempPath().toStdString();
  plombix::CNDIPlombixDlg dialog(std::move(options));
  dialog.show();
  dialog.onTimer(plombix::TIMER_START);
  dialog.onTimer(plombix::TIMER_RESTORE);
  dialog.OnDropFiles({picture});
  // The picture loads on a worker thread; its result is applied on this
  // one by a queued call.
  dialog.waitForLoads();
  QApplication::processEvents();
  dialog.vidBox()->tallyState = plombix::TallyProgram;
  QApplication::processEvents();
  dialog.grab().save(out.filePath("window-folded.png"));
  dialog.OnMoreLess();
  QApplication::processEvents();
  dialog.grab().save(out.filePath("window-unfolded.png"));
  return 0;
}
