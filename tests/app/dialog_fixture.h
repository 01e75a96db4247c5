// Shared set-up of the main window's tests: the recording fake NDI runtime
// loaded as the vendor's would be, a private runtime folder (instance locks)
// and settings folder, a prompter that answers and records every message
// box, a scripted game controller, and a few picture files.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QToolButton>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_ndi_runtime.h"
#include "ndi_runtime.h"
#include "plombix_dialog.h"
#include "scripted_gamepad_source.h"

namespace plombix::testing {

struct RecordedBox {
  QString text;
  QString title;
  bool confirm = false;
};

class RecordingPrompter final : public Prompter {
 public:
  void message(const QString& text, const QString& title) override { open({text, title, false}); }
  bool confirm(const QString& text, const QString& title) override {
    open({text, title, true});
    return answer;
  }
  std::vector<RecordedBox> boxes;
  bool answer = true;  // OK
  // Runs while a box is open, before it is answered (a signal arriving then).
  std::function<void(const RecordedBox&)> whileOpen;

 private:
  void open(const RecordedBox& box) {
    boxes.push_back(box);
    if (whileOpen) whileOpen(box);
  }
};

// The entry with `text` in the menu of menu button `buttonId`, submenus
// included; null when there is none.
inline QAction* MenuAction(CNDIPlombixDlg& dlg, int buttonId, const QString& text) {
  auto* button = qobject_cast<QToolButton*>(dlg.control(buttonId));
  QList<QMenu*> menus{button->menu()};
  while (!menus.isEmpty()) {
    QMenu* menu = menus.takeFirst();
    for (QAction* action : menu->actions()) {
      if (action->menu()) menus.push_back(action->menu());
      if (action->text() == text) return action;
    }
  }
  return nullptr;
}

inline NdiRuntime FakeRuntime() {
  std::string reason;
  NdiRuntime runtime = LoadNdiRuntimeFile(std::string(PLOMBIX_FAKE_NDI_DIR) + "/libndi.so.6",
                                          NdiRuntimeKind::Vendor, NdiReceiveSymbols::Optional,
                                          &reason);
  EXPECT_TRUE(runtime.loaded()) << reason;
  return runtime;
}

inline FakeNdiState* FakeState() {
  return FakeNdiAttach(std::string(PLOMBIX_FAKE_NDI_DIR) + "/libndi.so.6");
}

// Calls of one function, in order.
inline std::vector<FakeNdiCall> CallsOf(const std::vector<FakeNdiCall>& calls,
                                        const std::string& function) {
  std::vector<FakeNdiCall> out;
  for (const FakeNdiCall& c : calls)
    if (c.function == function) out.push_back(c);
  return out;
}

inline std::vector<FakeNdiCall> FrameSends(const std::vector<FakeNdiCall>& calls) {
  std::vector<FakeNdiCall> out;
  for (const FakeNdiCall& c : CallsOf(calls, "NDIlib_send_send_video_async_v2"))
    if (!c.frameNull) out.push_back(c);
  return out;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ASSERT_TRUE(dir.isValid());
    runtimeDir = dir.path().toStdString() + "/run";
    settingsDir = dir.path().toStdString() + "/settings";
    ::setenv("PLOMBIX_RUNTIME_DIR", runtimeDir.c_str(), 1);
    ::setenv("XDG_STATE_HOME", (dir.path().toStdString() + "/state").c_str(), 1);  // the as-run log
    QDir().mkpath(QString::fromStdString(settingsDir));
    runtime = FakeRuntime();
    fake = FakeState();
    ASSERT_NE(fake, nullptr);
    fake->reset();
  }

  void TearDown() override { dialog.reset(); }

  CNDIPlombixDlg::Options MakeOptions() {
    CNDIPlombixDlg::Options options;
    options.runtime = runtime;
    options.gamepad = &pad;
    options.prompter = &prompter;
    options.pictureChoice = 0;
    options.supportWindow = false;
    options.configDir = settingsDir;
    options.commandLine = commandLine;
    options.control = remote;  // off unless a test turns it on
    options.startFile = startFile;
    options.recentFile = dir.path().toStdString() + "/recent.txt";
    options.chooseFile = [this](QWidget*, const QString& caption, const QString& folder,
                                const QString& filter) {
      chooserCalls.push_back({caption, folder, filter});
      return chosenFile;
    };
    return options;
  }

  CNDIPlombixDlg& Open() {
    dialog = std::make_unique<CNDIPlombixDlg>(MakeOptions());
    return *dialog;
  }

  // Opens the window and runs the start tick: the source is on air.
  CNDIPlombixDlg& OpenAndStart() {
    Open();
    dialog->onTimer(TIMER_START);
    return *dialog;
  }

  // A picture file of our own in the temporary folder.
  std::string WritePicture(const std::string& name, int width, int height, QColor colour,
                           QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, format);
    image.fill(colour);
    const std::string path = dir.path().toStdString() + "/" + name;
    EXPECT_TRUE(image.save(QString::fromStdString(path)));
    return path;
  }

  std::vector<FakeNdiCall> Calls() { return fake->snapshot(); }

  // Numbered files shot1.png ... shotN.png, each its own grey (n x 20);
  // their path without the number and ".png".
  std::string WriteSeries(int count) {
    for (int n = 1; n <= count; ++n)
      WritePicture("shot" + std::to_string(n) + ".png", 32, 18, QColor(n * 20, n * 20, n * 20));
    return dir.path().toStdString() + "/shot";
  }

  // The sequence `base`first.png ... `base`last.png as an operator sets it
  // up: the last file dropped and "End number" pressed, then the first file
  // dropped and "Start number" pressed; the checks waited for.
  void PressStartAndEnd(CNDIPlombixDlg& dlg, const std::string& base, int first, int last) {
    ASSERT_TRUE(Drop(dlg, {base + std::to_string(last) + ".png"}));
    qobject_cast<QAbstractButton*>(dlg.control(1059))->click();
    dlg.waitForLoads();
    ASSERT_TRUE(Drop(dlg, {base + std::to_string(first) + ".png"}));
    qobject_cast<QAbstractButton*>(dlg.control(1058))->click();
    dlg.waitForLoads();
  }

  // A drop of `paths`, waited for until it has loaded: true when its first
  // file went on air.
  bool Drop(CNDIPlombixDlg& dlg, std::initializer_list<std::string> paths) {
    QStringList list;
    for (const std::string& path : paths) list << QString::fromStdString(path);
    if (!dlg.OnDropFiles(list)) return false;
    dlg.waitForLoads();
    return dlg.core.lastShowOutcome.shown() && dlg.core.lastShowOutcome.path == *paths.begin();
  }

  struct ChooserCall {
    QString caption, folder, filter;
  };
  std::vector<ChooserCall> chooserCalls;  // what the file dialog was asked
  QString chosenFile;                     // its answer ("" = cancel)
  control::ControlSettings remote;        // the remote-control API (off)
  std::string startFile;                  // the command line's FILE

  QTemporaryDir dir;
  std::string runtimeDir;
  std::string settingsDir;
  QString commandLine;
  NdiRuntime runtime;
  FakeNdiState* fake = nullptr;
  RecordingPrompter prompter;
  ScriptedGamepadSource pad;
  std::unique_ptr<CNDIPlombixDlg> dialog;
};

}  // namespace plombix::testing
