// CNDIPlombixDlg: the player's one main window. It owns every piece of state
// (settings, the pictures and the output through PlayerCore, the slideshow,
// the watch, the game controller, the timers and the texts shown) and wires
// the controls to the window-free layers: each handler reads its control,
// calls a layer, and shows the result.
//
// Start-up runs in three stages on the window's thread: construction (the
// controls, defaults, NDI runtime, frame memory, command line, start-up
// picture, preview, TIMER_START), the start tick 2.5 s later (number, title,
// settings, sender, first frame) and the restore tick 10 s after that
// (start-up picture gone, overlay, picture and slideshow restored, watch).
// Every timer tick goes through onTimer(id), which tests call directly.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QHash>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config_file.h"
#include "control_settings.h"
#include "dialog_template.h"
#include "file_watch.h"
#include "gamepad.h"
#include "instance_lock.h"
#include "ndi_runtime.h"
#include "player_core.h"
#include "prompter.h"
#include "recent_files.h"
#include "slideshow.h"
#include "timer_ids.h"

class QAction;
class QMenu;
class QMenuBar;
class QThreadPool;

namespace plombix {

// Where copy `index` (0..7) of the player opens: the first where the desktop
// puts it (`first`, its frame), the others in the cells around it (right,
// left, below, above, then the corners), each a frame's size plus a small gap
// away, kept inside `area` (the screen's free area; ignored when empty).
QPoint CopyWindowPosition(int index, const QRect& first, const QRect& area);

// The largest rectangle centred in `box` whose inside (less a frame of
// `frameWidth` on each side) is 16:9, the preview's drawing proportion.
QRect SixteenByNineInside(const QRect& box, int frameWidth);

class AdDialog;
class CColButton;
class ControlBridge;
class ControlSurface;
class VidBox;
namespace control {
class ControlServer;
}

// Commands of the Options menu (the window's system menu elsewhere).
enum OptionsCommand : int {
  IDM_ABOUTBOX = 16,
  IDM_ALWAYSONTOP = 32,
  IDM_NOALPHA = 64,
  IDM_USELAST = 128,
  IDM_USEIMAGE = 256,
  IDM_SAVECONFIG = 512,
  IDM_HELP = 1024,
};

class CNDIPlombixDlg : public QDialog,
                       private PlayerView,
                       private ConfigHost,
                       private SlideshowHost,
                       private FileWatchHost,
                       private GamepadHost {
  Q_OBJECT

 public:
  struct Options;

 private:
  // Declared first: the members below are built from them.
  std::unique_ptr<Options> options_;
  std::unique_ptr<Prompter> ownPrompter_;
  std::unique_ptr<GamepadSource> ownGamepad_;
  std::unique_ptr<FileTimeSource> ownFileTimes_;
  Prompter* prompter_ = nullptr;

 public:
  struct Options {
    QString commandLine;             // the text after the program's name
    NdiRuntime runtime;              // as loaded by LoadNdiRuntime
    GamepadSource* gamepad = nullptr;  // null: SDL's game controllers
    Prompter* prompter = nullptr;      // null: real message boxes
    FileTimeSource* fileTimes = nullptr;  // null: stat()
    int pictureChoice = -1;          // 0..9; -1: random
    bool supportWindow = true;       // show the support window at first showing
    std::string configDir;           // prefix of the settings file name ("" = working dir)
    std::string startFile;           // shown after the start-up period, as if dropped then
    // The remote-control API: nullopt takes it from the environment at the
    // start tick; tests give their own (port 0: any free port).
    std::optional<control::ControlSettings> control;
    // Asks for a file to open (caption, start folder, filter); an empty
    // answer is a cancel. Null: Qt's file dialog.
    std::function<QString(QWidget*, const QString&, const QString&, const QString&)> chooseFile;
    std::string recentFile;          // the recent-pictures list ("" = the user's config folder)
    int startDelayMs = kStartDelayMs;  // from the window's making to the start tick
  };

  explicit CNDIPlombixDlg(Options options, QWidget* parent = nullptr);
  ~CNDIPlombixDlg() override;

  // --- Entry points the window's events (and the tests) use ---------------------
  void onTimer(int id);             // every timer tick, by id
  // The step message: 1 next, 2 previous, 3 last, 4 first; `trigger` says
  // what sent it (key, pad, api) to those who follow the picture on air.
  void onStep(int code, const char* trigger = "key");
  // A drop on the window or the preview: true when its first file is being
  // shown (it goes on air when it has loaded).
  bool OnDropFiles(const QStringList& paths, const char* trigger = "drop");
  // Applies every picture load still under way as soon as it is ready
  // (tests: the player itself never waits).
  void waitForLoads() { core.WaitForLoads(); }
  // Shows a file exactly as a drop does; `done` hears how it ended.
  void ShowFile(const std::string& path, PictureDone done = {}, const char* trigger = "drop");
  // Makes a file the overlay (as Grab Overlay does with the shown picture):
  // loaded at output scale; `done` hears how it ended.
  void LoadOverlayFile(const std::string& path, PictureDone done = {});
  // "Open picture..." and "Open overlay..." of the Options menu.
  void OpenPicture();
  void OpenOverlay();
  // The published source's name ("Vora Plombix 1"); empty before the start
  // tick.
  std::string sourceName() const;
  // The remote-control API's address, empty while it is off.
  std::string controlUrl() const;
  int oscPort() const;  // 0 while OSC is off
  const RecentFiles& recentFiles() const { return recent_; }
  void ExitConfirmation();          // Exit button, Esc, the ninth copy
  // Ends the player as a confirmed exit does, without the question, in any
  // state (SIGTERM, SIGINT and SIGHUP; nobody may be at the screen): the
  // settings saved when "Use Last" is on (and this copy has a file), the
  // sender destroyed, the lock released last. Shows no message box (a
  // failure goes to stderr) and closes every box and dialog open over the
  // window as its Cancel would. An ending already under way (the exit
  // question answered, a save failure shown) is finished, never repeated:
  // the settings are saved at most once.
  void EndWithoutQuestion();
  void OnSysCommand(int command);   // the Options menu (its commands from the system menu)
  void OnMoreLess();
  bool isTimerActive(int id) const;
  int timerPeriod(int id) const;    // 0 when not running

  // --- State the tests look at -----------------------------------------------
  ConfigState config;
  PlayerCore core;
  Slideshow slideshow;
  FileWatch watch;
  Gamepad gamepad;
  InstanceLock instanceLock;

  int instanceNumber = 0;
  std::string configFileName = "last.plq";
  bool forceLast = false;
  QString versionText;
  QString releaseDate;
  int pictureChoice = 0;
  bool supportDialogPending = false;
  bool expanded = false;
  bool startupFailed = false;  // the runtime or the frame memory failed
  bool ended = false;          // the exit was confirmed and everything shut down

  QWidget* control(int id) const { return built_.control(id); }
  VidBox* vidBox() const { return vidBox_; }
  QMenu* optionsMenu() const { return optionsMenu_; }
  QAction* optionsAction(int command) const { return actions_.value(command, nullptr); }
  AdDialog* supportDialog() const { return supportDialog_; }
  int fullHeight() const { return fullHeight_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  void showEvent(QShowEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // A drag or drop on any control of the window; true when it was handled.
  bool filterDrop(QDropEvent* event);

 private:
  // Start-up stages.
  void initDialog();
  void buildWindow();
  void buildMenus();
  void startTick();
  void restoreTick();
  void RestoreFromConfig();
  void LabelStepButtons();
  // Ticks the Resolution, Framerate and Background entries in force.
  void tickMenus();
  void fillRecentMenu();
  void rememberShown(const std::string& path);
  void startRemoteControl();
  QString askForFile(const QString& caption);

  // Control handlers.
  void wireControls();
  void onResolutionChosen(int id);
  void onFrameRateChosen(int id);
  void onBackgroundChosen(int id);
  void onScalingClicked(int index);
  void onNumberFormatClicked(int index);
  void onBorderUseClicked();
  void onBorderEqualClicked();
  void onBorderEditDone(int id);
  void onDurationEditDone();
  void onCutFadeClicked();
  void onRangeClicked();
  void onGrabOverlayClicked();
  void onOverlayUseClicked();
  // A colour set from outside the colour button (which = 0: 1053, 1: 1054).
  void pickColour(int which, uint32_t rgb);

  // Settings <-> controls.
  bool readControls();  // false (after the range message) on a bad number
  void pushControlsToWidgets();
  void showScalingCaption();
  void setColButton(int id, const QString& caption, int colourState);
  void setLabel(int id, const QString& text);
  void setSidesEnabled(bool enabled);
  void showSaveError(SaveResult result);
  // The window's message boxes: none once the player is ending by a signal
  // (the text goes to stderr), and no question once it is ending at all.
  void say(const QString& text, const QString& title);
  bool ask(const QString& text, const QString& title);
  // Saves the settings to this copy's file; a copy without a number (the
  // ninth) has no file and says so instead. True when saved.
  bool saveSettings();
  enum class Ending { No, Confirmed, Signalled };
  void shutDown(bool save, Ending why);
  void closeModalWindows();
  void setTopmost(bool on);
  std::string configPath() const;
  // configPath() as an absolute path; empty for a copy without a file.
  QString settingsFilePath() const;

  // PlayerView
  void setOutputLine(const std::string& text) override;
  void showSourceLocation(const std::string& location) override;
  void setLamp(Lamp lamp) override;
  void loadPreview(const uint8_t* bits, int width, int height, int strideBytes, uint32_t fourCC,
                   float pictureAspect) override;
  void presentPreview() override;
  void setTallyState(int tallyState) override;
  void startTimer(int id, int periodMs) override;
  void stopTimer(int id) override;
  void setPictureLabels(const std::string& fileName, const std::string& fromText) override;
  void setGrabButton(const char* caption, int colourState) override;
  void enableSidesEdit(bool enabled) override;
  void showLoading(const std::string& fileName) override;
  void showLoadFailure(LoadKind kind, const std::string& fileName, const char* reason) override;
  // A notice in the picture-name label for a few seconds, no box.
  void showNotice(const QString& before, const QString& text);
  void pictureShown(const PictureOutcome& outcome) override;
  void loadsReady() override;
  // Tells the core what to prepare ahead: the slideshow's neighbours while
  // a slideshow is on and valid.
  void prepareAhead();
  // The picture-name label (1051): the name on air, "Loading ..." or a
  // failure notice.
  // `name` is elided in its middle when the label is too narrow; `before`
  // and `after` (a failure's reason) stay whole.
  void setPictureNameLabel(const QString& before, const QString& name, const QString& after,
                           bool warning);

  // ConfigHost
  void showMessage(std::string_view text, std::string_view title) override;
  void onFillColour1(uint32_t colour) override;
  void onFillColour2(uint32_t colour) override;
  void onNoAlpha(bool on) override;
  void onUseLast(bool on) override;
  void onUseImage(bool on) override;
  void onScalingMode(uint8_t mode) override;
  void onWatch(bool on) override;
  void onBorderEqual(bool on) override;
  void onBorderUse(bool on) override;
  void onLimitedRange(bool on) override;
  void onFade(bool on) override;
  void onResolutionId(uint32_t id) override;
  void onFrameRateId(uint32_t id) override;
  void onBackgroundId(uint32_t id) override;
  void pushControls() override;
  void updateBorders(bool use) override;
  void refreshSlideshowButton() override;
  void setStartNumberCaption(const std::string& text) override;
  void setEndNumberCaption(const std::string& text) override;

  // SlideshowHost
  void showSequenceFile(std::vector<std::string> candidates, std::function<bool()> keepOffAir,
                        std::function<void(const SequenceShow&)> done) override;
  void checkSequenceFiles(std::vector<std::string> paths,
                          std::function<void(bool valid)> done) override;
  void setSlideshowButton(const std::string& caption, int colourState) override;
  void setSlideshowCaption(const std::string& caption) override;
  void setBaseNameLabel(const std::string& text) override;
  void startSlideshowTimer(int periodMs) override;
  void stopSlideshowTimer() override;

  // FileWatchHost
  void showPicture(const std::string& path,
                   std::function<void(std::optional<FileStamp> stamp)> failed) override;
  void setWatchButton(const std::string& caption, int colourState) override;
  void startRetryTimer(int periodMs) override;

  // GamepadHost
  void sendStep(StepAction action) override;
  void setGamepadCaption(const char* caption) override;
  void startGamepadTimer(int periodMs) override;
  void stopGamepadTimer() override;

  BuiltDialog built_;
  QWidget* content_ = nullptr;
  QMenuBar* menuBar_ = nullptr;
  QMenu* optionsMenu_ = nullptr;
  VidBox* vidBox_ = nullptr;
  AdDialog* supportDialog_ = nullptr;
  QHash<int, QAction*> actions_;
  QHash<int, QHash<int, QAction*>> menuActions_;  // menu button id -> command id -> entry
  QHash<int, QBasicTimer*> timers_;
  QHash<int, int> periods_;
  QMenu* recentMenu_ = nullptr;
  RecentFiles recent_;
  QThreadPool* recentSaver_ = nullptr;  // writes the recent list off the window's thread, in order
  std::unique_ptr<ControlBridge> bridge_;
  std::unique_ptr<control::ControlServer> controlServer_;
  std::unique_ptr<ControlSurface> surface_;  // events, as-run log, thumbnails' frame, OSC
  const char* stepTrigger_ = "key";          // what sent the slideshow's latest step
  int fullHeight_ = 0;
  QString onAirName_;       // what the picture-name label shows when nothing else is to say
  bool noticeShowing_ = false;
  bool shownOnce_ = false;
  bool instanceAcquired_ = false;
  Ending ending_ = Ending::No;
  friend class ControlBridge;
  friend class ControlSurface;
  InstanceLock::Result lockResult_ = InstanceLock::Result::AllTaken;
};

}  // namespace plombix
