#include "plombix_dialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTimerEvent>
#include <QToolButton>
#include <QFileDialog>
#include <QImageReader>
#include <QKeySequence>
#include <QThreadPool>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "ad_dialog.h"
#include "about_dialog.h"
#include "ccol_button.h"
#include "colour_picker_button.h"
#include "command_line.h"
#include "control_bridge.h"
#include "as_run_log.h"
#include "control_server.h"
#include "control_surface.h"
#include "osc_server.h"
#include "links.h"
#include "picture_label.h"
#include "sdl_gamepad_source.h"
#include "stale_files.h"
#include "step_controls.h"
#include "vid_box.h"

#ifndef PLOMBIX_VERSION_TEXT
#define PLOMBIX_VERSION_TEXT ""
#endif
#ifndef PLOMBIX_RELEASE_DATE
#define PLOMBIX_RELEASE_DATE ""
#endif

namespace plombix {
namespace {

// How long the ending waits for the recent list's last save.
constexpr int kLastWritesWaitMs = 1000;

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

// The window's controls that a drop reaches and that the key map watches:
// the window itself and everything inside it.
bool IsInside(const QWidget* window, const QObject* object) {
  const auto* widget = qobject_cast<const QWidget*>(object);
  return widget && (widget == window || window->isAncestorOf(widget));
}

}  // namespace

CNDIPlombixDlg::CNDIPlombixDlg(Options options, QWidget* parent)
    : QDialog(parent),
      options_(std::make_unique<Options>(std::move(options))),
      ownPrompter_(options_->prompter ? nullptr : std::make_unique<MessageBoxPrompter>(this)),
      ownGamepad_(options_->gamepad ? nullptr : std::make_unique<SdlGamepadSource>()),
      ownFileTimes_(options_->fileTimes ? nullptr : std::make_unique<StatFileTimeSource>()),
      prompter_(options_->prompter ? options_->prompter : ownPrompter_.get()),
      core(options_->runtime, config, *this),
      slideshow(config.live.slideshow, config.currentFileName, config.resumeSlideshow, *this),
      watch(options_->fileTimes ? *options_->fileTimes : *ownFileTimes_, *this),
      gamepad(options_->gamepad ? *options_->gamepad : *ownGamepad_, *this,
              config.live.slideshow.gamepadPresent) {
  initDialog();
}

CNDIPlombixDlg::~CNDIPlombixDlg() {
  if (surface_) surface_->stop();
  controlServer_.reset();  // on the window's thread: clients still waiting get an answer
  core.StopLoading();
  if (qApp) qApp->removeEventFilter(this);
  // The base class hides the window after our members are gone; a field
  // losing the focus then must not reach a handler.
  for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
  for (QBasicTimer* timer : timers_) delete timer;
}

// --- Start-up ------------------------------------------------------------------

void CNDIPlombixDlg::initDialog() {
  bridge_ = std::make_unique<ControlBridge>(*this);
  surface_ = std::make_unique<ControlSurface>(*this, *bridge_, [this](std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
  });
  buildWindow();
  config.live.slideshow.durationSecs = 2;
  pushControlsToWidgets();
  versionText = QString::fromUtf8(PLOMBIX_VERSION_TEXT);
  buildMenus();
  // The whole window: the Options menu bar above the template's client area.
  setFixedSize(built_.clientSize().width(),
               built_.clientSize().height() + menuBar_->sizeHint().height());
  setWindowIcon(QIcon(QStringLiteral(":/icons/plombix-256.png")));
  releaseDate = QString::fromUtf8(PLOMBIX_RELEASE_DATE);
  slideshow.slideshowLocked = true;

  switch (core.StartOutput()) {
    case PlayerCore::StartError::None: break;
    case PlayerCore::StartError::NdiUnusable:
      startupFailed = true;
      say(QStringLiteral("Cannot run NDI."), QString());
      return;
    case PlayerCore::StartError::FrameMemory:
      startupFailed = true;
      say(QStringLiteral("NDI_frame creation problem"), QString());
      return;
  }

  forceLast = IsForceLast(options_->commandLine.toStdString());

  control(1001)->hide();
  (void)readControls();
  showScalingCaption();

  // The number is taken at once: the lock is atomic, so copies started
  // together never share one. It shows from the start tick on.
  instanceNumber = 0;
  lockResult_ = instanceLock.TryAcquire();
  instanceAcquired_ = lockResult_ == InstanceLock::Result::Acquired;

  core.secondCountdown = kTicksPerSecond;
  core.blinkPhase = 2;
  core.backgroundMode = 11;

  (void)vidBox_->Setup();
  vidBox_->setAcceptDrops(true);

  fullHeight_ = height();
  setFixedHeight(fullHeight_ * 2 / 3);
  built_.setFolded(true);
  expanded = false;

  gamepad.DetectAtStartup();

  if (options_->pictureChoice >= 0) {
    pictureChoice = options_->pictureChoice % 10;
  } else {
    std::srand(unsigned(std::time(nullptr)));
    pictureChoice = std::rand() % 10;
  }
  supportDialog_ = new AdDialog(this);
  supportDialog_->firstBitmapId = 190;
  supportDialog_->pictureChoice = pictureChoice;
  supportDialogPending = options_->supportWindow;

  core.LoadStartupPictures(pictureChoice);

  core.fillColour[0] = kDefaultFillColour1;
  core.fillColour[1] = kDefaultFillColour2;
  built_.as<ColourPickerButton>(1053)->setColour(QColor(0x20, 0x30, 0x80));
  built_.as<ColourPickerButton>(1054)->setColour(QColor(0, 0, 0));

  setAcceptDrops(true);
  LabelStepButtons();
  startTimer(TIMER_START, options_->startDelayMs);
  actions_.value(IDM_ALWAYSONTOP)->setChecked(true);

  const uint8_t gamepadPresent = config.live.slideshow.gamepadPresent;
  config.live = ViewerConfig{};
  config.live.slideshow.gamepadPresent = gamepadPresent;
  pushControlsToWidgets();
  showScalingCaption();
}

void CNDIPlombixDlg::buildWindow() {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowStaysOnTopHint);
  const DialogTemplate& tmpl = MainWindowTemplate();
  setWindowTitle(QString::fromUtf8(tmpl.caption));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  menuBar_ = new QMenuBar(this);
  layout->setMenuBar(menuBar_);
  content_ = new QWidget(this);
  layout->addWidget(content_, 0, Qt::AlignTop | Qt::AlignLeft);

  BuildOptions build;
  build.previewFactory = [this](QWidget* parent, const ControlSpec&) -> QWidget* {
    vidBox_ = new VidBox(parent);
    return vidBox_;
  };
  built_ = BuildDialog(tmpl, content_, build);
  content_->setFixedSize(built_.clientSize());
  // The preview draws a 16:9 frame over its whole inside; with a font whose
  // characters run wider than the layout's, its rectangle comes out wider
  // than 16:9, so it is narrowed (or lowered) to 16:9 about its centre and
  // pictures keep their proportions.
  if (vidBox_) vidBox_->setGeometry(SixteenByNineInside(vidBox_->geometry(), vidBox_->frameWidth()));
  setFont(content_->font());
  menuBar_->setFont(content_->font());

  qApp->installEventFilter(this);
  wireControls();
}

void CNDIPlombixDlg::buildMenus() {
  auto addMenu = [this](int buttonId, auto entries, auto handler, QMenu* submenu = nullptr) {
    auto* button = built_.as<QToolButton>(buttonId);
    auto* menu = new QMenu(button);
    // The entry in force carries a tick; a stored id that no entry has
    // ticks none.
    auto* group = new QActionGroup(menu);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (const auto& entry : entries) {
      QMenu* into = menu;
      const char* text = nullptr;
      if constexpr (requires { entry.inGradientSubmenu; }) {
        if (!entry.menuText) continue;
        if (entry.inGradientSubmenu) {
          if (!submenu) submenu = menu->addMenu(QStringLiteral("Graduated Fill"));
          into = submenu;
        }
        text = entry.menuText;
      } else if constexpr (requires { entry.menuText; }) {
        text = entry.menuText;
      } else {
        text = entry.text;
      }
      QAction* action = into->addAction(QString::fromUtf8(text));
      action->setCheckable(true);
      group->addAction(action);
      menuActions_[buttonId].insert(entry.id, action);
      connect(action, &QAction::triggered, this, [this, handler, id = entry.id] { (this->*handler)(id); });
    }
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
  };
  addMenu(1002, ResolutionEntries(), &CNDIPlombixDlg::onResolutionChosen);
  addMenu(1003, FrameRateEntries(), &CNDIPlombixDlg::onFrameRateChosen);
  addMenu(1052, BackgroundEntries(), &CNDIPlombixDlg::onBackgroundChosen);
  tickMenus();

  optionsMenu_ = menuBar_->addMenu(QStringLiteral("&Options"));
  // Ways to put a picture on air besides a drop; the system-menu items
  // follow in their own order.
  QAction* open = optionsMenu_->addAction(QStringLiteral("Open picture\u2026"), this,
                                          [this] { OpenPicture(); });
  open->setShortcut(QKeySequence::Open);
  open->setShortcutContext(Qt::WindowShortcut);
  addAction(open);  // Ctrl+O works without opening the menu
  optionsMenu_->addAction(QStringLiteral("Open overlay\u2026"), this, [this] { OpenOverlay(); });
  recentMenu_ = optionsMenu_->addMenu(QStringLiteral("Recent pictures"));
  fillRecentMenu();  // empty and greyed until the list is read at the start tick
  optionsMenu_->addSeparator();
  auto add = [this](int command, const char* text, bool checkable) {
    QAction* action = optionsMenu_->addAction(QString::fromUtf8(text));
    action->setCheckable(checkable);
    // The check marks change only through OnSysCommand, as on a system menu.
    connect(action, &QAction::triggered, this, [this, action, command, checkable] {
      if (checkable) action->setChecked(!action->isChecked());
      OnSysCommand(command);
    });
    actions_.insert(command, action);
  };
  add(IDM_NOALPHA, "No alpha output", true);
  add(IDM_ALWAYSONTOP, "Always on top", true);
  add(IDM_USELAST, "Use Last", true);
  add(IDM_USEIMAGE, "Use Image", true);
  add(IDM_SAVECONFIG, "Save config now", false);
  optionsMenu_->addSeparator();
  add(IDM_HELP, "Open online help (ReadMe file)", false);
  add(IDM_ABOUTBOX, "&About NDI Plombix...", false);
}

void CNDIPlombixDlg::tickMenus() {
  const auto tick = [this](int buttonId, uint32_t id) {
    const QHash<int, QAction*>& actions = menuActions_[buttonId];
    for (auto it = actions.cbegin(); it != actions.cend(); ++it) it.value()->setChecked(it.key() == int(id));
  };
  tick(1002, config.live.resolutionId);
  tick(1003, config.live.frameRateId);
  tick(1052, config.live.backgroundId);
}

void CNDIPlombixDlg::LabelStepButtons() {
  auto* grab = built_.as<CColButton>(1048);
  grab->faceColours = StandardFaceColours();
  std::initializer_list<CColButton*> others = {
      built_.as<CColButton>(1067), built_.as<CColButton>(1021), built_.as<CColButton>(1000),
      built_.as<CColButton>(1056), built_.as<CColButton>(1070), built_.as<CColButton>(1050),
      built_.as<CColButton>(1072), built_.as<CColButton>(1071)};
  grab->CopyColoursTo(others);
  for (int id : kIdleToggleIds) {
    auto* button = built_.as<CColButton>(id);
    button->colourState = kColourStateIdle;
    button->textMode = CColButton::kTextWindow;
    button->update();
  }
  for (const StepButtonFace& face : kStepButtons) {
    auto* button = built_.as<CColButton>(face.controlId);
    button->textMode = CColButton::kTextTwoLines;
    button->upperText = QString::fromUtf8(face.upperText);
    button->lowerText = QString::fromUtf8(face.lowerText);
    button->faceColours[kColourStateOwnFace] = Rgb{face.red, face.green, face.blue};
    button->colourState = face.colourState;
    button->update();
  }
}

void CNDIPlombixDlg::startTick() {
  if (lockResult_ == InstanceLock::Result::FolderUnusable) {
    // Not eight copies: no folder to take a number in at all. Say which and
    // why, and leave: this copy has no number and no settings file.
    say(QString::fromStdString(instanceLock.error()) + QStringLiteral(".\nVora Plombix cannot start."),
        QString());
    shutDown(false, Ending::Confirmed);
    return;
  }
  if (!instanceAcquired_) {
    // Eight copies run already: this one can only leave.
    ExitConfirmation();
    if (ended) return;
    stopTimer(TIMER_START);
    startTimer(TIMER_TICK, kTickPeriodMs);
    return;
  }
  instanceNumber = instanceLock.index();
  setWindowTitle(QString::fromUtf8("Vora Plombix for NDI\u00ae - No %1").arg(instanceNumber + 1));
  setTopmost(true);
  configFileName = ConfigFileName(instanceNumber);
  // A save of this copy's file that was killed half-way left its new file.
  (void)RemoveStaleWrites(configPath(), ".new-");

  const bool loaded = LoadConfigFile(configPath(), forceLast, config, *this).ok();
  if (ended) return;  // ended while a message about the file was shown
  if (loaded) {
    gamepad.DetectAfterLoad();
    slideshow.CaptionAfterLoad();
  }

  core.StartPublishing(instanceNumber);
  recent_ = RecentFiles(options_->recentFile.empty() ? RecentFiles::DefaultPath(instanceNumber + 1)
                                                     : options_->recentFile);
  if (!recent_.filePath().empty()) (void)RemoveStaleWrites(recent_.filePath(), ".tmp-");
  (void)recent_.load();  // a missing or damaged list is an empty one
  fillRecentMenu();
  startRemoteControl();
  startTimer(TIMER_RESTORE, kRestoreDelayMs);
  stopTimer(TIMER_START);
  startTimer(TIMER_TICK, kTickPeriodMs);
}

void CNDIPlombixDlg::restoreTick() {
  stopTimer(TIMER_RESTORE);
  core.DropSplash();
  RestoreFromConfig();
}

void CNDIPlombixDlg::RestoreFromConfig() {
  // A file named on the command line is shown in place of the restored
  // picture, as if it had been dropped now.
  const std::string startFile = options_->startFile;
  // The overlay and the picture load off the window's thread; the rest of
  // the restore follows when they are ready, in its order.
  core.RestorePictures(startFile.empty() ? config.currentFileName : startFile,
                       [this, startFile](const PictureOutcome& overlay, const PictureOutcome& shown) {
    if (overlay.shown()) {
      built_.as<QCheckBox>(1066)->setChecked(config.live.overlayOn != 0);
      setLabel(1068, Q(config.overlayName));
    } else if (overlay.status != PartStatus::Superseded) {
      config.overlayPath.clear();
    }
    if (shown.shown()) {
      surface_->onAir(startFile.empty() ? "restore" : "open", shown);
      if (!startFile.empty()) {
        config.imagePath.assign(shown.path);
        rememberShown(shown.path);
      }
    } else if (shown.status != PartStatus::Superseded && startFile.empty()) {
      config.imagePath.clear();
    }
    slideshow.CheckRestoredSequence(config.slideshowName);
    startTimer(TIMER_WATCH, kWatchPeriodMs);
    slideshow.ResumeAfterRestore();
  });
}

std::string CNDIPlombixDlg::configPath() const {
  if (options_->configDir.empty()) return configFileName;
  return options_->configDir + "/" + configFileName;
}

QString CNDIPlombixDlg::settingsFilePath() const {
  if (!instanceAcquired_) return {};
  return QDir::current().absoluteFilePath(QString::fromStdString(configPath()));
}

// --- Timers, steps, exit ----------------------------------------------------

void CNDIPlombixDlg::onTimer(int id) {
  switch (id) {
    case TIMER_START: startTick(); break;
    case TIMER_TICK:
      core.OnTick();
      surface_->poll();  // changes made by the window's own controls reach the event clients
      prepareAhead();
      break;
    case TIMER_FADE: core.OnFadeTick(); break;
    case TIMER_RESTORE: restoreTick(); break;
    case TIMER_WATCH: watch.PollWatchedFile(config.currentFileName); break;
    case TIMER_WATCH_RETRY:
      stopTimer(TIMER_WATCH_RETRY);
      watch.RetryFailedShow(config.currentFileName);
      break;
    case TIMER_NOTICE:
      stopTimer(TIMER_NOTICE);
      noticeShowing_ = false;
      setPictureNameLabel({}, onAirName_, {}, false);
      break;
    case TIMER_GAMEPAD: gamepad.PollGamepad(); break;
    case TIMER_SLIDESHOW:
      stepTrigger_ = "timer";
      slideshow.AdvanceSlideshow();
      break;
    default: break;  // not ours
  }
}

void CNDIPlombixDlg::timerEvent(QTimerEvent* event) {
  for (auto it = timers_.cbegin(); it != timers_.cend(); ++it) {
    if (it.value()->timerId() == event->timerId()) {
      onTimer(it.key());
      return;
    }
  }
  QDialog::timerEvent(event);
}

void CNDIPlombixDlg::startTimer(int id, int periodMs) {
  QBasicTimer*& timer = timers_[id];
  if (!timer) timer = new QBasicTimer;
  timer->start(periodMs, this);  // restarts a running timer with the new period
  periods_[id] = periodMs;
}

void CNDIPlombixDlg::stopTimer(int id) {
  if (QBasicTimer* timer = timers_.value(id, nullptr)) timer->stop();
  periods_.remove(id);
}

bool CNDIPlombixDlg::isTimerActive(int id) const {
  const QBasicTimer* timer = timers_.value(id, nullptr);
  return timer && timer->isActive();
}

int CNDIPlombixDlg::timerPeriod(int id) const { return isTimerActive(id) ? periods_.value(id) : 0; }

void CNDIPlombixDlg::onStep(int code, const char* trigger) {
  if (!IsStepAction(code)) return;
  stepTrigger_ = trigger;
  slideshow.StepSequence(code);
}

void CNDIPlombixDlg::ExitConfirmation() {
  if (ended || ending_ != Ending::No) return;
  if (!ask(QStringLiteral("OK to exit?"), QStringLiteral("Quit Plombix"))) return;
  // A signal may have ended the player while the question was open.
  if (ended || ending_ != Ending::No) return;
  shutDown(config.live.useLast != 0, Ending::Confirmed);
}

void CNDIPlombixDlg::EndWithoutQuestion() {
  if (!ended && ending_ == Ending::No) shutDown(config.live.useLast != 0, Ending::Signalled);
  else ending_ = Ending::Signalled;  // an ending under way: finish it without more boxes
  closeModalWindows();
}

void CNDIPlombixDlg::closeModalWindows() {
  // The dialogs running modally over the window: a box, the About box, a
  // file or colour dialog. Each is rejected; the code that opened it then
  // finds the player ended and does nothing more.
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* open = qobject_cast<QDialog*>(widget);
    if (open && open != this && open->isVisible() && open->testAttribute(Qt::WA_ShowModal))
      open->reject();
  }
}

void CNDIPlombixDlg::say(const QString& text, const QString& title) {
  if (ending_ == Ending::Signalled) {  // as the boxes' own log line, without the box
    std::fprintf(stderr, "plombix: %s: %s\n",
                 title.isEmpty() ? kApplicationName : qUtf8Printable(title), qUtf8Printable(text));
    return;
  }
  prompter_->message(text, title);
}

bool CNDIPlombixDlg::ask(const QString& text, const QString& title) {
  return ending_ == Ending::No && prompter_->confirm(text, title);
}

void CNDIPlombixDlg::shutDown(bool save, Ending why) {
  if (ended || ending_ != Ending::No) return;
  ending_ = why;
  surface_->stop();        // OSC off, the as-run log's last lines written
  controlServer_.reset();  // clients still waiting hear that the player ends
  if (save) (void)saveSettings();
  core.Shutdown();  // abandons any picture still loading
  for (QBasicTimer* timer : timers_) timer->stop();
  // The recent list's last save lands before the number is free for the
  // next copy (a few hundred bytes; bounded all the same).
  if (recentSaver_) (void)recentSaver_->waitForDone(kLastWritesWaitMs);
  instanceLock.Release();
  ended = true;
  if (supportDialog_) supportDialog_->hide();
  done(QDialog::Rejected);
}

bool CNDIPlombixDlg::saveSettings() {
  if (!instanceAcquired_) {
    // The settings files all belong to the copies that hold their numbers.
    say(QStringLiteral("This copy has no settings file of its own: eight copies are "
                       "running. The settings were not saved."),
        QString::fromUtf8(kSaveFileTitle));
    return false;
  }
  const SaveResult result = SaveConfigFile(configPath(), config.live, config.imagePath,
                                           config.overlayPath, config.slideshowPath);
  showSaveError(result);
  return result.ok();
}

void CNDIPlombixDlg::closeEvent(QCloseEvent* event) {
  // The window has no close button; a close request from the desktop is
  // ignored. Leaving always goes through the exit question.
  if (!ended) event->ignore();
}

void CNDIPlombixDlg::reject() {
  if (ended) QDialog::reject();
}

void CNDIPlombixDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  // Copies side by side: each opens in its own place beside the first, so
  // that every copy's face can be seen.
  if (instanceLock.index() > 0) {
    QRect area;
    if (const QScreen* screen = this->screen()) area = screen->availableGeometry();
    move(CopyWindowPosition(instanceLock.index(), frameGeometry(), area));
  }
  if (supportDialogPending && supportDialog_) {
    supportDialog_->ShowUnder(this);
    supportDialogPending = false;
  }
}

bool CNDIPlombixDlg::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) &&
      IsInside(this, watched)) {
    return filterDrop(static_cast<QDropEvent*>(event));
  }
  if (type != QEvent::KeyPress || !IsInside(this, watched)) return false;
  // A key the focused control ignores travels on to its parents; the key
  // map looks at it once, where it is first delivered: the focused control,
  // or the window itself when nothing inside it has the focus.
  QWidget* first = QApplication::focusWidget();
  if (!first || !IsInside(this, first)) first = this;
  if (watched != first) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  switch (key->key()) {
    case Qt::Key_F1:
      links::OpenLink(links::kOnlineHelpUrl);
      return true;
    case Qt::Key_Escape:
      ExitConfirmation();
      return true;
    case Qt::Key_PageDown: onStep(StepActionForKey(StepKey::PageDown)); return false;
    case Qt::Key_PageUp: onStep(StepActionForKey(StepKey::PageUp)); return false;
    case Qt::Key_End: onStep(StepActionForKey(StepKey::End)); return false;
    case Qt::Key_Home: onStep(StepActionForKey(StepKey::Home)); return false;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      // Enter moves the focus like Tab instead of pressing the default button.
      QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
      QCoreApplication::sendEvent(watched, &tab);
      return true;
    }
    default: return false;
  }
}

void CNDIPlombixDlg::contextMenuEvent(QContextMenuEvent* event) {
  optionsMenu_->popup(event->globalPos());
}

bool CNDIPlombixDlg::filterDrop(QDropEvent* event) {
  // Every control of the window takes files the same way, the number
  // fields and the preview included (a field would otherwise take a drag
  // that also carries text as text). Nothing is taken after a failed start.
  const QStringList paths = LocalDropPaths(event->mimeData()->urls());
  if (paths.isEmpty()) return false;  // plain text: the control's own business
  if (startupFailed) {
    event->ignore();
    return true;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
  if (event->type() == QEvent::Drop) OnDropFiles(paths);
  return true;
}

void CNDIPlombixDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!startupFailed && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CNDIPlombixDlg::dropEvent(QDropEvent* event) {
  const QStringList paths = LocalDropPaths(event->mimeData()->urls());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  OnDropFiles(paths);
}

bool CNDIPlombixDlg::OnDropFiles(const QStringList& paths, const char* trigger) {
  if (paths.isEmpty() || startupFailed || ended) return false;
  (void)readControls();
  ShowFile(S(paths.first()), {}, trigger);
  return true;
}

void CNDIPlombixDlg::ShowFile(const std::string& path, PictureDone done, const char* trigger) {
  if (startupFailed || ended) return;
  // The path becomes the picture's only once it is on air. The whole path is
  // shown and watched; the settings file keeps it only when it fits its
  // field (else it stores it empty, never cut).
  core.ShowPicture(path, [this, done = std::move(done), trigger](const PictureOutcome& outcome) {
    if (outcome.shown()) {
      config.imagePath.assign(outcome.path);
      rememberShown(outcome.path);
      surface_->onAir(trigger, outcome);
    }
    if (done) done(outcome);
  });
}

void CNDIPlombixDlg::LoadOverlayFile(const std::string& path, PictureDone done) {
  if (startupFailed || ended) return;
  core.LoadOverlay(path, [this, done = std::move(done)](const PictureOutcome& outcome) {
    if (outcome.shown()) {
      config.overlayPath.assign(outcome.path);
      setLabel(1068, Q(config.overlayName));
    }
    if (done) done(outcome);
  });
}

QString CNDIPlombixDlg::askForFile(const QString& caption) {
  // Start in the folder of the last picture; offer the formats the decoder reads.
  QString folder;
  const std::string last = config.currentFileName.empty() ? config.imagePath.toUtf8()
                                                          : config.currentFileName;
  if (!last.empty()) folder = QFileInfo(Q(last)).absolutePath();
  QStringList patterns;
  for (const QByteArray& format : QImageReader::supportedImageFormats())
    patterns << QStringLiteral("*.") + QString::fromLatin1(format);
  patterns << QStringLiteral("*.heic *.heif *.avif *.jxl *.svg *.svgz");
  const QString filter = QStringLiteral("Pictures (%1);;All files (*)").arg(patterns.join(' '));
  if (options_->chooseFile) return options_->chooseFile(this, caption, folder, filter);
  return QFileDialog::getOpenFileName(this, caption, folder, filter);
}

void CNDIPlombixDlg::OpenPicture() {
  if (startupFailed) return;
  const QString file = askForFile(QStringLiteral("Open picture"));
  if (!file.isEmpty()) OnDropFiles({file}, "open");
}

void CNDIPlombixDlg::OpenOverlay() {
  if (startupFailed) return;
  const QString file = askForFile(QStringLiteral("Open overlay"));
  if (!file.isEmpty()) LoadOverlayFile(S(file));
}

void CNDIPlombixDlg::rememberShown(const std::string& path) {
  if (!recent_.add(path)) return;
  fillRecentMenu();
  if (recent_.filePath().empty()) return;
  if (!recentSaver_) {
    recentSaver_ = new QThreadPool(this);
    recentSaver_->setMaxThreadCount(1);  // saves in the order they were made
  }
  recentSaver_->start([list = recent_] { (void)list.save(); });
}

void CNDIPlombixDlg::fillRecentMenu() {
  recentMenu_->clear();
  for (const std::string& path : recent_.entries()) {
    recentMenu_->addAction(Q(path), this, [this, path] { OnDropFiles({Q(path)}, "recent"); });
  }
  recentMenu_->setEnabled(!recent_.entries().empty());
}

std::string CNDIPlombixDlg::controlUrl() const {
  return controlServer_ ? controlServer_->url() : std::string();
}

std::string CNDIPlombixDlg::sourceName() const {
  if (!core.output.sourceName().empty()) return core.output.sourceName();
  if (!instanceAcquired_ || !core.output.initialized()) return {};
  return "Vora Plombix " + std::to_string(instanceNumber + 1);
}

// --- Options menu and More/Less -----------------------------------------------

void CNDIPlombixDlg::OnSysCommand(int command) {
  QAction* action = actions_.value(command & 0xFFF0, nullptr);
  switch (command & 0xFFF0) {
    case IDM_ABOUTBOX: {
      CAboutDlg about(this);
      about.versionText = versionText;
      about.releaseDate = releaseDate;
      about.ndiVersionText = options_->runtime.loaded() && options_->runtime.version
                                 ? options_->runtime.version()
                                 : "";
      if (options_->runtime.loaded())
        about.runtimeDescription = QString::fromStdString(
            NdiRuntimeDescription(options_->runtime.kind, options_->runtime.path));
      about.sourceName = QString::fromStdString(core.output.sourceName());
      about.sourceAddress = QString::fromStdString(core.output.sourceAddress());
      about.settingsPath = settingsFilePath();
      about.DoModal();
      break;
    }
    case IDM_ALWAYSONTOP:
      action->setChecked(!action->isChecked());
      setTopmost(action->isChecked());
      break;
    case IDM_NOALPHA:
      action->setChecked(!action->isChecked());
      core.SetAlphaOutput(action->isChecked());
      break;
    case IDM_USELAST:
      action->setChecked(!action->isChecked());
      config.live.useLast = action->isChecked() ? 1 : 0;
      break;
    case IDM_USEIMAGE:
      action->setChecked(!action->isChecked());
      config.live.useImage = action->isChecked() ? 1 : 0;
      break;
    case IDM_SAVECONFIG:
      if (saveSettings()) say(QString::fromUtf8(kConfigSavedOk), QString::fromUtf8(kSaveFileTitle));
      break;
    case IDM_HELP: links::OpenLink(links::kOnlineHelpUrl); break;
    default: break;
  }
}

void CNDIPlombixDlg::setTopmost(bool on) {
  const bool wasVisible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);
  if (wasVisible) show();  // changing the flags hides the window
}

void CNDIPlombixDlg::showSaveError(SaveResult result) {
  if (const char* text = SaveErrorText(result.error))
    say(QString::fromUtf8(text), QString::fromUtf8(kSaveFileTitle));
}

void CNDIPlombixDlg::OnMoreLess() {
  const int current = height();
  if (expanded) {
    setFixedHeight(current * 2 / 3);
    built_.setFolded(true);
    built_.as<QPushButton>(1061)->setText(QStringLiteral("More"));
    expanded = false;
  } else {
    setFixedHeight(current / 2 * 3);
    built_.setFolded(false);
    built_.as<QPushButton>(1061)->setText(QStringLiteral("Less"));
    expanded = true;
  }
}

}  // namespace plombix
