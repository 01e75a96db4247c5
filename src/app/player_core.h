// PlayerCore: what the main window does with pictures and the output, with
// no widgets — start-up pictures, ShowPicture and LoadOverlay, border sizes,
// composing and sending (render-and-send), reconfiguring the output, the
// 40 ms tick, the cross-fade steps, Grab and Grab Overlay, shutdown.
//
// The main window owns one PlayerCore (and with it the eight pictures and
// the output) beside its settings (ConfigState). Everything the core wants
// shown goes through PlayerView, which the window implements and tests
// record. All calls come from the window's one thread; a tick never
// overlaps an operator action.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config_file.h"
#include "ndi_output.h"
#include "output_formats.h"
#include "picture_buffer.h"
#include "picture_loader.h"
#include "prepared_pictures.h"
#include "timer_ids.h"

namespace plombix {

// The activity lamp's four pictures (built-in bitmaps 131..134).
enum class Lamp { Grey = 131, Red = 132, Amber = 133, Green = 134 };

// Which kind of load a message is about.
enum class LoadKind { Picture, Overlay };

// How a show or an overlay load ended. A load that fails or is superseded
// changes nothing: no picture, name, path or setting.
struct PictureOutcome {
  PartStatus status = PartStatus::NotAsked;  // Done, Failed or Superseded
  DecodeError error = DecodeError::None;     // why it failed
  std::string path;                          // the file loaded, or the last one tried
  int index = -1;                            // which candidate loaded (also when overtaken)
  bool held = false;                         // loaded, but kept off air as asked
  std::optional<FileStamp> stamp;            // of the shown file, just before its read
  bool shown() const { return status == PartStatus::Done && !held; }
};
using PictureDone = std::function<void(const PictureOutcome&)>;

class PlayerView {
 public:
  virtual ~PlayerView() = default;
  virtual void setOutputLine(const std::string& text) = 0;  // label 1015
  // Where receivers find the source (the output line's tooltip): "Vora
  // Plombix 1 — http://127.0.0.1:5961/" with the stand-in, the NDI name with
  // the vendor's runtime.
  virtual void showSourceLocation(const std::string& location) = 0;
  virtual void setLamp(Lamp lamp) = 0;                       // picture 1014
  // The preview box: copy a frame in (LoadFrame), and show it (Present).
  virtual void loadPreview(const uint8_t* bits, int width, int height, int strideBytes,
                           uint32_t fourCC, float pictureAspect) = 0;
  virtual void presentPreview() = 0;
  virtual void setTallyState(int tallyState) = 0;  // TallyNone / Program / Preview
  virtual void startTimer(int id, int periodMs) = 0;
  virtual void stopTimer(int id) = 0;
  // Label 1051 (the picture's file name) and 1055 ("from %d x %d").
  virtual void setPictureLabels(const std::string& fileName, const std::string& fromText) = 0;
  virtual void setGrabButton(const char* caption, int colourState) = 0;  // 1048
  virtual void enableSidesEdit(bool enabled) = 0;  // 1062 and its labels 1064, 1065
  // A picture is being loaded (the picture-name label says so).
  virtual void showLoading(const std::string& fileName) = 0;
  // A picture or overlay could not be loaded: said in the window, without
  // a box to dismiss; what is on air stays.
  virtual void showLoadFailure(LoadKind kind, const std::string& fileName, const char* reason) = 0;
  // A picture went on air (outcome.path is now currentFileName).
  virtual void pictureShown(const PictureOutcome& outcome) = 0;
  // Called on the loader's thread when finished loads wait to be applied:
  // the window arranges a call of PlayerCore::ApplyLoads on its own thread.
  virtual void loadsReady() = 0;
};

// Layout tag of pictures handed to the preview directly ("RGBA"; the bytes
// are blue, green, red, alpha like every frame).
inline constexpr uint32_t kFourCCRGBA = 0x41424752;

class PlayerCore {
 public:
  PlayerCore(const NdiRuntime& runtime, ConfigState& config, PlayerView& view);

  enum class StartError { None, NdiUnusable, FrameMemory };

  // The runtime and the two frames; the window reports a failure ("Cannot
  // run NDI.", "NDI_frame creation problem") and stops its start-up.
  [[nodiscard]] StartError StartOutput();

  // The start-up picture chosen by `pictureChoice` (0..9), and the
  // placeholder background at output size, shown in the preview.
  void LoadStartupPictures(int pictureChoice);

  // The start tick's output part: sender, the start-up picture as the shown
  // picture, reconfigure (which publishes the first frame), splashPending.
  void StartPublishing(int instanceNumber);

  // --- Composing and sending ----------------------------------------------
  void ReconfigureOutput();
  void RenderAndSend();

  // Loads `path` into the main picture, scaled by the scaling mode inside
  // the borders, range table applied, on the loader's thread; when it is
  // ready, on this thread: currentFileName := path, the fade counters, the
  // send, the labels, then `done`. A file that does not load changes
  // nothing at all (the picture, its names, currentFileName): the window
  // says why, and `done` hears it. A newer show supersedes this one (`done`
  // hears that too), except one that shows the same request again (ReShow,
  // a resolution change), which reports to `done` in its place.
  void ShowPicture(const std::string& path, PictureDone done = {});
  // The same for the first of `paths` that loads (the slideshow's
  // skipping). When one has loaded, `keepOffAir` (if given) is asked on
  // this thread: true reports it held and changes nothing.
  void ShowFirstOf(std::vector<std::string> paths, PictureDone done,
                   std::function<bool()> keepOffAir = {});
  // Shows the newest picture asked for again with the present settings:
  // the one still loading (its callers hear the outcome), else
  // currentFileName. Nothing when there is neither.
  void ReShow(PictureDone done = {});
  // Loads `path` into the overlay picture at output scale; on success
  // overlayName := path and the overlay counts as loaded. A failure changes
  // nothing (the overlay on air and its name stay).
  void LoadOverlay(const std::string& path, PictureDone done = {});
  // Checks that each of `paths` decodes; `done(status)` with Done, Failed or
  // Superseded.
  void CheckFiles(std::vector<std::string> paths, std::function<void(PartStatus)> done);
  void UpdateBorders(bool use);

  // Applies the loads that have finished; the window's thread calls it when
  // the view hears loadsReady().
  void ApplyLoads();
  // The overlay (overlayName) and the shown picture (`picture`), as the
  // start-up restore brings them back: one load, the overlay applied first,
  // then the picture shown and sent; then `done` with both outcomes. An
  // empty name is not loaded (its outcome is NotAsked).
  void RestorePictures(const std::string& picture,
                       std::function<void(const PictureOutcome& overlay, const PictureOutcome& shown)> done);

  // True while a load is queued, running or not yet applied.
  [[nodiscard]] bool busy() const { return !pendingJobs_.empty(); }
  // Calls `then` once no load is queued, running or waiting to be applied
  // (at once when none is): what was asked before it is on air.
  void WhenLoaded(std::function<void()> then);
  // Waits until every load has finished and been applied (tests; the
  // player itself never waits).
  void WaitForLoads();
  // Waits until the loader has finished every job, applying none (tests:
  // results ready but not yet applied).
  void WaitForLoader();
  // Stops the loader: work in progress is abandoned (waiting at most about
  // a second for a decoder) and nothing more is applied.
  void StopLoading();

  // --- Preparing ahead -----------------------------------------------------
  // The slideshow's neighbours (candidate lists: next, previous, first,
  // last; empty while no slideshow is valid) are prepared in the
  // background at the present size, borders, scaling and range, after the
  // cue; a show of a prepared picture goes on air without a decode.
  void PrepareAhead(std::vector<std::vector<std::string>> neighbours);
  // Prepares `path` without touching the output; `done` once it is ready
  // (Done: it is the cue now), has failed (the cue before stays) or a newer
  // cue or a forget came first (Superseded).
  void Cue(const std::string& path, PictureDone done);
  // Shows the cued picture (at once when it is prepared) and forgets the
  // cue; false when nothing is cued.
  bool Take(PictureDone done);
  void ForgetCue();
  [[nodiscard]] const std::string& cuedPath() const { return cuedPath_; }
  // The cued picture as prepared; null when none is ready.
  [[nodiscard]] const PreparedPicture* cuedPicture() const;
  [[nodiscard]] size_t preparedCount() const { return prepared_.frameCount(); }
  // Waits until every load, background ones included, has finished and
  // been applied (tests and benchmarks).
  void WaitForPrepared();

  // --- Operator choices ----------------------------------------------------
  // Each returns the table entry (for the button caption), or null for an
  // id that is not listed (which changes nothing but the stored id).
  const ResolutionEntry* ChooseResolution(int id);
  const FrameRateEntry* ChooseFrameRate(int id);
  const BackgroundEntry* ChooseBackground(int id);
  // The output size changes at once in the menu; the pictures are loaded
  // again for the new size first, and the output is reconfigured when they
  // are ready, so nothing laid out for the old size goes on air.
  // `which` 0: first colour (button 1053), 1: second (1054); rgb 0x00RRGGBB.
  void SetFillColour(int which, uint32_t rgb);
  void SetAlphaOutput(bool noAlpha);
  bool ToggleFade();   // the new fadeOn
  bool ToggleRange();  // the new limitedRange; re-shows the picture
  void Grab();
  // Turns the shown picture into the overlay; `done(loaded)` follows (at
  // once, or when the file has loaded again when it was shown inside
  // borders). Only a loaded overlay takes over the overlay's names.
  void GrabOverlay(std::function<void(bool loaded)> done);
  // The overlay "Use" box was clicked with `checked`; the box's new state.
  bool SetOverlayUse(bool checked);

  // --- Timers ----------------------------------------------------------------
  void OnTick();
  void OnFadeTick();
  // Restore tick, first part: the start-up picture leaves the output.
  void DropSplash();

  // Flush, free the frames, destroy sender and runtime (the window saves
  // the settings first when "Use Last" is on).
  void Shutdown();

  // --- State (the window's fields) --------------------------------------------
  NdiOutput output;
  PictureBuffer startupPicture, mainPicture, backgroundPicture, grabbedPicture, composedPicture,
      previousPicture, probePicture, overlayPicture;

  int instanceNumber = 0;
  int backgroundMode = 11;
  uint32_t fillColour[2] = {0xFF203080, 0xFF000000};  // gradient colours 1 and 2
  int borderSidesPx = 0;
  int borderTopBottomPx = 0;
  int shownWithBorders = 0;
  int fadeStepsLeft = 0;
  int fadeSteps = 0;
  int secondCountdown = kTicksPerSecond;
  int connectionCount = 0;
  int blinkPhase = 2;
  int tallyState = 0;
  bool formatChanging = false;
  bool splashPending = false;
  bool overlayLoaded = false;
  // How the last show that was not superseded ended.
  PictureOutcome lastShowOutcome;
  // The file of the picture on air; empty while none of the operator's is
  // (the start-up picture, or after it left).
  std::string onAirPath;
  // The name of the colour profile the file on air carried (empty: none).
  std::string onAirColourProfile;

 private:
  // What applying a job's result came to, part by part.
  struct Applied {
    PictureOutcome overlay, shown;
  };
  using JobApply = std::function<Applied(PictureJobResult&)>;
  // A job waiting for its result. The shown and overlay parts keep what was
  // asked and who waits for the outcome, so that a newer job asking for the
  // same again can take both over.
  struct PendingJob {
    JobApply apply;
    bool resizes = false;  // a resolution change: sizes are its own business
    std::vector<std::string> shownPaths;
    std::function<bool()> keepOffAir;
    std::vector<PictureDone> shownListeners;
    std::string overlayPath;
    std::vector<PictureDone> overlayListeners;
  };

  bool framesMatchOutput() const;
  void presentFrame(const NDIlib_video_frame_v2_t& frame, bool present);
  void queryTally(bool reloadPreview);
  // Grey without receivers, green during a fade, else red or amber by phase.
  void updateLamp();

  // Output size and border sizes that loads are prepared for: those of a
  // resolution change still loading, else the present ones.
  struct Layout {
    int width, height, sidesPx, topBottomPx;
  };
  Layout layoutFor(int width, int height) const;
  Layout expectedLayout() const;
  PrepareRequest request(const std::string& path, PictureRole role, const Layout& layout) const;
  // The job for `pending`'s shown paths and overlay path at `layout`.
  LoadJob jobFor(const PendingJob& pending, const Layout& layout) const;
  // A plain show of `pending.shownPaths`, sending, as ShowFirstOf does.
  PendingJob showJob(PendingJob pending);
  // Takes over the newest shown (and, with `overlay`, overlay) request
  // still waiting: its paths and listeners, or what is on air when none
  // waits.
  void takeOverRequests(PendingJob& into, bool overlay);
  uint64_t submit(const Layout& layout, PendingJob pending);
  // The steps of a show or overlay load that follow the decoding.
  PictureOutcome applyShown(PictureJobResult& result, bool send, bool borderUse,
                            const std::function<bool()>& keepOffAir);
  PictureOutcome applyOverlay(PictureJobResult& result);
  // A result prepared for an output size that has changed since is loaded
  // again for the present one; true when it was.
  bool reloadIfStale(const PictureJobResult& result, PendingJob& pending);

  // Preparing ahead: plans again and starts the next background job.
  void replan();
  void pumpBackground();
  void applyBackground(PictureJobResult& result);
  // Puts a prepared picture on air through the inbox, as a finished load.
  void postPrepared(PendingJob pending, const Layout& layout, PreparedHit hit);

  ConfigState& config_;
  PlayerView& view_;
  PreparedPictures prepared_;
  std::vector<std::vector<std::string>> neighbours_;
  std::string cuedPath_;
  uint64_t cueTicket_ = 0;  // the cue being prepared
  std::string cueLoading_;  // its file: it counts against the frames kept meanwhile
  PictureDone cueDone_;
  // The one neighbour job in the background (never beside a cue's).
  uint64_t backgroundTicket_ = 0;
  PrepareRequest backgroundRequest_;  // its first candidate
  // What the picture on air was prepared from, to keep it when it leaves.
  std::optional<PrepareRequest> onAirRequest_;
  std::optional<FileStamp> onAirStamp_;
  std::map<uint64_t, PendingJob> pendingJobs_;
  std::vector<std::function<void()>> loadedWaiters_;
  uint64_t latestResolutionTicket_ = 0;
  // The newest job asking for each part: an older result is stale even when
  // it finished before the newer job was asked for, and never goes on air.
  uint64_t latestShownTicket_ = 0;
  uint64_t latestOverlayTicket_ = 0;
  uint64_t latestCheckTicket_ = 0;
  bool resolutionPending_ = false;
  int pendingWidth_ = 0, pendingHeight_ = 0;
  // Last member: destroyed first, so no load is applied into a core that
  // is going away.
  std::unique_ptr<PictureLoader> loader_;
};

}  // namespace plombix
