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
#include <string>

#include "config_file.h"
#include "ndi_output.h"
#include "output_formats.h"
#include "picture_buffer.h"
#include "timer_ids.h"

namespace plombix {

// The activity lamp's four pictures (built-in bitmaps 131..134).
enum class Lamp { Grey = 131, Red = 132, Amber = 133, Green = 134 };

class PlayerView {
 public:
  virtual ~PlayerView() = default;
  virtual void setOutputLine(const std::string& text) = 0;  // label 1015
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

  // Loads currentFileName into the main picture, scales it by the scaling
  // mode inside the borders, sets the fade counters, applies the range
  // table, sends when `send`, labels. False (nothing else changed) when the
  // file does not load.
  bool ShowPicture(bool send);
  // Loads overlayName into the overlay picture at output scale.
  bool LoadOverlay();
  void UpdateBorders(bool use);

  // --- Operator choices ----------------------------------------------------
  // Each returns the table entry (for the button caption), or null for an
  // id that is not listed (which changes nothing but the stored id).
  const ResolutionEntry* ChooseResolution(int id);
  const FrameRateEntry* ChooseFrameRate(int id);
  const BackgroundEntry* ChooseBackground(int id);
  // `which` 0: first colour (button 1053), 1: second (1054); rgb 0x00RRGGBB.
  void SetFillColour(int which, uint32_t rgb);
  void SetAlphaOutput(bool noAlpha);
  bool ToggleFade();   // the new fadeOn
  bool ToggleRange();  // the new limitedRange; re-shows the picture
  void Grab();
  // Turns the shown picture into the overlay; the new overlayLoaded.
  bool GrabOverlay();
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

 private:
  bool framesMatchOutput() const;
  void presentFrame(const NDIlib_video_frame_v2_t& frame, bool present);
  void queryTally(bool reloadPreview);
  void setBlinkLamp();

  ConfigState& config_;
  PlayerView& view_;
};

}  // namespace plombix
