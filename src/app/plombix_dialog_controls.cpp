// The main window's controls: wiring, the thin handlers, reading and
// pushing the settings, and the window's side of the layers' host
// interfaces (what a layer asks to be shown).
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>

#include "ccol_button.h"
#include "colour_picker_button.h"
#include "control_surface.h"
#include "links.h"
#include "name_label.h"
#include "picture_label.h"
#include "plombix_dialog.h"
#include "vid_box.h"

namespace plombix {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

constexpr const char* kScalingCaptions[] = {
    "1:1 pixel sizing", "Fill height/width & add borders", "Fill screen, crop where needed"};

QColor ColourOf(uint32_t value) {
  return QColor(int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF));
}

}  // namespace

QRect SixteenByNineInside(const QRect& box, int frameWidth) {
  const int innerWidth = box.width() - 2 * frameWidth;
  const int innerHeight = box.height() - 2 * frameWidth;
  if (innerWidth <= 0 || innerHeight <= 0) return box;
  // Widest 16:9 inside: the width the height allows, or the height the
  // width allows, rounded to the nearest pixel.
  int width = innerWidth;
  int height = (innerWidth * 9 + 8) / 16;
  if (height > innerHeight) {
    height = innerHeight;
    width = (innerHeight * 16 + 4) / 9;
  }
  return QRect(box.x() + (innerWidth - width) / 2, box.y() + (innerHeight - height) / 2,
               width + 2 * frameWidth, height + 2 * frameWidth);
}

QPoint CopyWindowPosition(int index, const QRect& first, const QRect& area) {
  // Cells around the first copy's window, in the order the copies take them.
  static constexpr int kCells[8][2] = {{0, 0}, {1, 0},  {-1, 0}, {0, 1},
                                       {0, -1}, {1, 1}, {-1, 1}, {1, -1}};
  constexpr int kGapPx = 8;
  const int cell = index >= 0 && index < 8 ? index : 0;
  QPoint at(first.x() + kCells[cell][0] * (first.width() + kGapPx),
            first.y() + kCells[cell][1] * (first.height() + kGapPx));
  if (!area.isEmpty()) {
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - first.width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - first.height())));
  }
  return at;
}

void CNDIPlombixDlg::wireControls() {
  auto click = [this](int id, auto handler) {
    if (auto* button = built_.as<QAbstractButton>(id))
      connect(button, &QAbstractButton::clicked, this, handler);
  };
  auto link = [this](int id, const char* url) {
    if (auto* picture = built_.as<PictureLabel>(id)) {
      connect(picture, &PictureLabel::clicked, this, [url] { links::OpenLink(url); });
    } else if (auto* button = built_.as<QAbstractButton>(id)) {
      connect(button, &QAbstractButton::clicked, this, [url] { links::OpenLink(url); });
    }
  };

  click(1, [this] { ExitConfirmation(); });
  click(1061, [this] { OnMoreLess(); });
  click(1049, [this] { onRangeClicked(); });
  click(1021, [this] { onCutFadeClicked(); });
  click(1048, [this] { core.Grab(); });
  click(1067, [this] { onGrabOverlayClicked(); });
  click(1066, [this] { onOverlayUseClicked(); });
  click(1000, [this] { watch.ToggleWatch(config.live.watchOn, config.currentFileName); });
  click(1056, [this] { slideshow.OnSlideshowClicked(); });
  click(1058, [this] {
    slideshow.OnStartNumber(core.mainPicture.filePath, config.imagePath, config.slideshowPath);
  });
  click(1059, [this] { slideshow.OnEndNumber(core.mainPicture.filePath); });
  click(1060, [this] { gamepad.FindGamepad(); });
  click(1020, [this] { onBorderUseClicked(); });
  click(1019, [this] { onBorderEqualClicked(); });
  for (const StepButtonFace& face : kStepButtons)
    click(face.controlId, [this, action = face.action] {
      stepTrigger_ = "key";
      slideshow.StepSequence(action);
    });

  link(1017, links::kMakerSiteUrl);
  link(1018, links::kNdiSiteUrl);
  link(1024, links::kSocialPageUrl);
  link(1025, links::kVideoChannelUrl);

  if (QButtonGroup* scaling = built_.radioGroup(1004))
    connect(scaling, &QButtonGroup::idClicked, this, [this](int index) { onScalingClicked(index); });
  if (QButtonGroup* format = built_.radioGroup(1007))
    connect(format, &QButtonGroup::idClicked, this,
            [this](int index) { onNumberFormatClicked(index); });

  for (int id : {1062, 1063}) {
    connect(built_.as<QLineEdit>(id), &QLineEdit::editingFinished, this,
            [this, id] { onBorderEditDone(id); });
  }
  connect(built_.as<QLineEdit>(1074), &QLineEdit::editingFinished, this,
          [this] { onDurationEditDone(); });

  connect(built_.as<ColourPickerButton>(1053), &ColourPickerButton::colourPicked, this,
          [this](int r, int g, int b) { core.SetFillColour(0, uint32_t(r << 16 | g << 8 | b)); });
  connect(built_.as<ColourPickerButton>(1054), &ColourPickerButton::colourPicked, this,
          [this](int r, int g, int b) { core.SetFillColour(1, uint32_t(r << 16 | g << 8 | b)); });

  connect(vidBox_, &VidBox::filesDropped, this, [this](const QStringList& paths) {
    OnDropFiles(paths);
  });
}

// --- Handlers -----------------------------------------------------------------

void CNDIPlombixDlg::onResolutionChosen(int id) {
  if (const ResolutionEntry* entry = core.ChooseResolution(id))
    built_.as<QToolButton>(1002)->setText(QString::fromUtf8(entry->caption));
  tickMenus();
}

void CNDIPlombixDlg::onFrameRateChosen(int id) {
  if (const FrameRateEntry* entry = FindFrameRate(id))
    built_.as<QToolButton>(1003)->setText(QString::fromUtf8(entry->text));
  core.ChooseFrameRate(id);
  tickMenus();
}

void CNDIPlombixDlg::onBackgroundChosen(int id) {
  if (const BackgroundEntry* entry = FindBackground(id))
    built_.as<QToolButton>(1052)->setText(QString::fromUtf8(entry->caption));
  core.ChooseBackground(id);
  tickMenus();
}

void CNDIPlombixDlg::onScalingClicked(int index) {
  (void)readControls();
  config.live.scalingMode = uint8_t(index);
  showScalingCaption();
}

void CNDIPlombixDlg::onNumberFormatClicked(int index) {
  slideshow.OnNumberFormatChanged(uint8_t(index));
}

void CNDIPlombixDlg::onBorderUseClicked() {
  config.live.borderUse = built_.as<QCheckBox>(1020)->isChecked() ? 1 : 0;
  core.UpdateBorders(config.live.borderUse != 0);
}

void CNDIPlombixDlg::onBorderEqualClicked() {
  config.live.borderEqual = built_.as<QCheckBox>(1019)->isChecked() ? 1 : 0;
  setSidesEnabled(config.live.borderEqual == 0);
  core.UpdateBorders(config.live.borderUse != 0);
}

void CNDIPlombixDlg::onBorderEditDone(int /*id*/) {
  if (readControls()) core.UpdateBorders(config.live.borderUse != 0);
}

void CNDIPlombixDlg::onDurationEditDone() {
  if (readControls()) slideshow.OnDurationChanged();
}

void CNDIPlombixDlg::onCutFadeClicked() {
  const bool on = core.ToggleFade();
  setColButton(1021, on ? QStringLiteral("Fade") : QStringLiteral("Cut"), on ? 2 : 3);
}

void CNDIPlombixDlg::onRangeClicked() {
  const bool limited = core.ToggleRange();
  built_.as<QPushButton>(1049)->setText(limited ? QStringLiteral("16-235")
                                                : QStringLiteral("0-255"));
}

void CNDIPlombixDlg::onGrabOverlayClicked() {
  core.GrabOverlay([this](bool loaded) {
    if (loaded) setLabel(1068, Q(config.overlayName));
  });
}

void CNDIPlombixDlg::pickColour(int which, uint32_t rgb) {
  built_.as<ColourPickerButton>(which == 0 ? 1053 : 1054)->setColour(ColourOf(rgb));
  core.SetFillColour(which, rgb);
}

void CNDIPlombixDlg::onOverlayUseClicked() {
  auto* box = built_.as<QCheckBox>(1066);
  box->setChecked(core.SetOverlayUse(box->isChecked()));
}

// --- Settings <-> controls ------------------------------------------------------

bool CNDIPlombixDlg::readControls() {
  ViewerConfig& live = config.live;
  if (QButtonGroup* scaling = built_.radioGroup(1004); scaling && scaling->checkedId() >= 0)
    live.scalingMode = uint8_t(scaling->checkedId());
  if (QButtonGroup* format = built_.radioGroup(1007); format && format->checkedId() >= 0)
    live.slideshow.numberFormat = uint8_t(format->checkedId());

  // The number edits, in tab order; the first bad one gets the range message
  // and its last good value back, and the reading stops there.
  struct Edit {
    int id;
    NumberRange range;
    uint8_t* field;
  };
  const Edit edits[] = {{1062, kPercentRange, &live.borderSidesPct},
                        {1063, kPercentRange, &live.borderTopBottomPct},
                        {1074, kDurationRange, &live.slideshow.durationSecs}};
  for (const Edit& edit : edits) {
    auto* field = built_.as<QLineEdit>(edit.id);
    const NumberReadBack value = ReadNumber(field->text(), edit.range);
    if (!value.ok) {
      say(value.message, QString());
      field->setText(QString::number(*edit.field));
      field->setFocus();
      field->selectAll();
      return false;
    }
    *edit.field = uint8_t(value.value);
  }
  return true;
}

namespace {

// Ticks radio `index` of `group`; an index no radio has (a value from a
// settings file) ticks none, so that reading the radios back keeps it.
void CheckRadio(QButtonGroup* group, int index) {
  if (!group) return;
  if (QAbstractButton* b = group->button(index)) {
    b->setChecked(true);
  } else if (QAbstractButton* checked = group->checkedButton()) {
    group->setExclusive(false);
    checked->setChecked(false);
    group->setExclusive(true);
  }
}

}  // namespace

void CNDIPlombixDlg::pushControlsToWidgets() {
  const ViewerConfig& live = config.live;
  CheckRadio(built_.radioGroup(1004), live.scalingMode);
  CheckRadio(built_.radioGroup(1007), live.slideshow.numberFormat);
  built_.as<QLineEdit>(1062)->setText(QString::number(live.borderSidesPct));
  built_.as<QLineEdit>(1063)->setText(QString::number(live.borderTopBottomPct));
  built_.as<QLineEdit>(1074)->setText(QString::number(live.slideshow.durationSecs));
  built_.as<QCheckBox>(1019)->setChecked(live.borderEqual != 0);
  built_.as<QCheckBox>(1020)->setChecked(live.borderUse != 0);
  built_.as<QCheckBox>(1066)->setChecked(live.overlayOn != 0);
}

void CNDIPlombixDlg::showScalingCaption() {
  // A mode no radio has scales nothing, as None does, and is captioned so.
  const uint8_t mode = config.live.scalingMode;
  setLabel(1016, QString::fromUtf8(kScalingCaptions[mode < 3 ? mode : 0]));
}

void CNDIPlombixDlg::setColButton(int id, const QString& caption, int colourState) {
  auto* button = built_.as<CColButton>(id);
  button->setText(caption);
  button->colourState = colourState;
  button->update();
}

void CNDIPlombixDlg::setLabel(int id, const QString& text) {
  if (auto* label = built_.as<QLabel>(id)) label->setText(text);
}

void CNDIPlombixDlg::setSidesEnabled(bool enabled) {
  for (int id : {1062, 1064, 1065})
    if (QWidget* w = control(id)) w->setEnabled(enabled);
}

// --- PlayerView -------------------------------------------------------------------

void CNDIPlombixDlg::setOutputLine(const std::string& text) { setLabel(1015, Q(text)); }

void CNDIPlombixDlg::showSourceLocation(const std::string& location) {
  if (QWidget* line = control(1015)) line->setToolTip(Q(location));
}

void CNDIPlombixDlg::setLamp(Lamp lamp) {
  if (auto* picture = built_.as<PictureLabel>(1014)) picture->setBitmapId(int(lamp));
}

void CNDIPlombixDlg::loadPreview(const uint8_t* bits, int width, int height, int strideBytes,
                                 uint32_t fourCC, float pictureAspect) {
  vidBox_->LoadFrame(bits, width, height, strideBytes, fourCC, pictureAspect);
  surface_->frameSent(bits, width, height, strideBytes);
}

void CNDIPlombixDlg::presentPreview() { vidBox_->Present(); }

void CNDIPlombixDlg::setTallyState(int tallyState) {
  vidBox_->tallyState = tallyState;
  vidBox_->update();
}

void CNDIPlombixDlg::setPictureLabels(const std::string& fileName, const std::string& fromText) {
  onAirName_ = Q(fileName);
  if (noticeShowing_) {
    // A picture went on air after a failure: its name replaces the notice.
    stopTimer(TIMER_NOTICE);
    noticeShowing_ = false;
  }
  setPictureNameLabel({}, onAirName_, {}, false);
  setLabel(1055, Q(fromText));
}

void CNDIPlombixDlg::setPictureNameLabel(const QString& before, const QString& name,
                                         const QString& after, bool warning) {
  auto* label = built_.as<NameLabel>(1051);
  if (!label) return;
  label->setParts(before, name, after);
  label->setToolTip(label->text());
  // The warning colour: dark red on the window's own background.
  QPalette palette = label->parentWidget()->palette();
  if (warning) palette.setColor(QPalette::WindowText, QColor(0xb0, 0, 0));
  label->setPalette(palette);
}

void CNDIPlombixDlg::showLoading(const std::string& fileName) {
  if (noticeShowing_) return;  // the failure stays readable for its few seconds
  setPictureNameLabel(QStringLiteral("Loading "), Q(fileName), QStringLiteral("\u2026"), false);
  surface_->loading();
}

void CNDIPlombixDlg::showLoadFailure(LoadKind kind, const std::string& fileName,
                                     const char* reason) {
  noticeShowing_ = true;
  setPictureNameLabel(kind == LoadKind::Overlay ? QStringLiteral("Cannot load overlay ")
                                                : QStringLiteral("Cannot show "),
                      Q(fileName), QStringLiteral(": ") + QString::fromUtf8(reason), true);
  startTimer(TIMER_NOTICE, kNoticeMs);
  surface_->loadFailed((kind == LoadKind::Overlay ? "overlay " : "") + fileName + ": " + reason);
}

void CNDIPlombixDlg::showNotice(const QString& before, const QString& text) {
  noticeShowing_ = true;
  setPictureNameLabel(before, {}, text, true);
  startTimer(TIMER_NOTICE, kNoticeMs);
}

void CNDIPlombixDlg::pictureShown(const PictureOutcome& outcome) { watch.Shown(outcome.stamp); }

void CNDIPlombixDlg::loadsReady() {
  // On the loader's thread: the results are applied on the window's own.
  QMetaObject::invokeMethod(
      this,
      [this] {
        core.ApplyLoads();
        prepareAhead();
      },
      Qt::QueuedConnection);
}

void CNDIPlombixDlg::prepareAhead() {
  const SlideshowState& show = config.live.slideshow;
  core.PrepareAhead(show.mode != 0 && show.sequenceValid != 0 ? slideshow.Neighbours()
                                                              : std::vector<std::vector<std::string>>{});
}

void CNDIPlombixDlg::setGrabButton(const char* caption, int colourState) {
  setColButton(1048, QString::fromUtf8(caption), colourState);
}

void CNDIPlombixDlg::enableSidesEdit(bool enabled) { setSidesEnabled(enabled); }

// --- ConfigHost -----------------------------------------------------------------------

void CNDIPlombixDlg::showMessage(std::string_view text, std::string_view title) {
  say(QString::fromUtf8(text.data(), qsizetype(text.size())),
      QString::fromUtf8(title.data(), qsizetype(title.size())));
}

void CNDIPlombixDlg::onFillColour1(uint32_t colour) {
  core.fillColour[0] = colour;
  built_.as<ColourPickerButton>(1053)->setColour(ColourOf(colour));
}

void CNDIPlombixDlg::onFillColour2(uint32_t colour) {
  core.fillColour[1] = colour;
  built_.as<ColourPickerButton>(1054)->setColour(ColourOf(colour));
}

void CNDIPlombixDlg::onNoAlpha(bool on) {
  core.output.noAlphaOutput = on;
  actions_.value(IDM_NOALPHA)->setChecked(on);
}

void CNDIPlombixDlg::onUseLast(bool on) { actions_.value(IDM_USELAST)->setChecked(on); }
void CNDIPlombixDlg::onUseImage(bool on) { actions_.value(IDM_USEIMAGE)->setChecked(on); }

void CNDIPlombixDlg::onScalingMode(uint8_t) {
  pushControlsToWidgets();
  showScalingCaption();
}

void CNDIPlombixDlg::onWatch(bool on) { watch.SetWatch(on); }
void CNDIPlombixDlg::onBorderEqual(bool on) { built_.as<QCheckBox>(1019)->setChecked(on); }
void CNDIPlombixDlg::onBorderUse(bool on) { built_.as<QCheckBox>(1020)->setChecked(on); }

void CNDIPlombixDlg::onLimitedRange(bool on) {
  built_.as<QPushButton>(1049)->setText(on ? QStringLiteral("16-235") : QStringLiteral("0-255"));
}

void CNDIPlombixDlg::onFade(bool on) {
  setColButton(1021, on ? QStringLiteral("Fade") : QStringLiteral("Cut"), on ? 2 : 3);
}

void CNDIPlombixDlg::onResolutionId(uint32_t id) {
  if (const ResolutionEntry* entry = FindResolution(int(id))) {
    core.output.outputWidth = entry->width;
    core.output.outputHeight = entry->height;
  }
}

void CNDIPlombixDlg::onFrameRateId(uint32_t id) {
  if (const FrameRateEntry* entry = FindFrameRate(int(id))) {
    core.output.frameRateN = entry->frameRateN;
    core.output.frameRateD = entry->frameRateD;
  }
}

void CNDIPlombixDlg::onBackgroundId(uint32_t id) {
  if (const BackgroundEntry* entry = FindBackground(int(id))) core.backgroundMode = entry->backgroundMode;
}

void CNDIPlombixDlg::pushControls() {
  pushControlsToWidgets();
  tickMenus();  // a loaded configuration's output choices
}
void CNDIPlombixDlg::updateBorders(bool use) { core.UpdateBorders(use); }
void CNDIPlombixDlg::refreshSlideshowButton() { slideshow.RefreshSlideshowButton(); }

void CNDIPlombixDlg::setStartNumberCaption(const std::string& text) {
  built_.as<QPushButton>(1058)->setText(Q(text));
}

void CNDIPlombixDlg::setEndNumberCaption(const std::string& text) {
  built_.as<QPushButton>(1059)->setText(Q(text));
}

// --- SlideshowHost, FileWatchHost, GamepadHost ------------------------------------------

void CNDIPlombixDlg::showPicture(const std::string& path,
                                 std::function<void(std::optional<FileStamp> stamp)> failed) {
  core.ReShow([this, path, failed = std::move(failed)](const PictureOutcome& outcome) {
    if (outcome.shown()) surface_->onAir("watch", outcome);
    if (outcome.status == PartStatus::Failed && outcome.path == path && failed) failed(outcome.stamp);
  });
}

void CNDIPlombixDlg::showSequenceFile(std::vector<std::string> candidates,
                                      std::function<bool()> keepOffAir,
                                      std::function<void(const SequenceShow&)> done) {
  core.ShowFirstOf(
      std::move(candidates),
      [this, done = std::move(done), trigger = stepTrigger_](const PictureOutcome& outcome) {
        if (outcome.shown()) surface_->onAir(trigger, outcome);
        SequenceShow show;
        show.superseded = outcome.status == PartStatus::Superseded;
        show.loaded = outcome.status == PartStatus::Failed ? -1 : outcome.index;
        show.onAir = outcome.shown();
        if (done) done(show);
      },
      std::move(keepOffAir));
}

void CNDIPlombixDlg::checkSequenceFiles(std::vector<std::string> paths,
                                        std::function<void(bool valid)> done) {
  core.CheckFiles(std::move(paths), [done = std::move(done)](PartStatus status) {
    if (status == PartStatus::Superseded) return;
    if (done) done(status == PartStatus::Done);
  });
}

void CNDIPlombixDlg::startRetryTimer(int periodMs) { startTimer(TIMER_WATCH_RETRY, periodMs); }

void CNDIPlombixDlg::setSlideshowButton(const std::string& caption, int colourState) {
  setColButton(1056, Q(caption), colourState);
}

void CNDIPlombixDlg::setSlideshowCaption(const std::string& caption) {
  auto* button = built_.as<CColButton>(1056);
  button->setText(Q(caption));
  button->update();
}

void CNDIPlombixDlg::setBaseNameLabel(const std::string& text) { setLabel(1069, Q(text)); }
void CNDIPlombixDlg::startSlideshowTimer(int periodMs) { startTimer(TIMER_SLIDESHOW, periodMs); }
void CNDIPlombixDlg::stopSlideshowTimer() { stopTimer(TIMER_SLIDESHOW); }

void CNDIPlombixDlg::setWatchButton(const std::string& caption, int colourState) {
  setColButton(1000, Q(caption), colourState);
}

void CNDIPlombixDlg::sendStep(StepAction action) { onStep(action, "pad"); }

void CNDIPlombixDlg::setGamepadCaption(const char* caption) {
  built_.as<QPushButton>(1060)->setText(QString::fromUtf8(caption));
}

void CNDIPlombixDlg::startGamepadTimer(int periodMs) { startTimer(TIMER_GAMEPAD, periodMs); }
void CNDIPlombixDlg::stopGamepadTimer() { stopTimer(TIMER_GAMEPAD); }

}  // namespace plombix
