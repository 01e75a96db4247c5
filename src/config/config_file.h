// The configuration file: save, load and the field-by-field apply.
//
// File layout (2,364 bytes, little-endian):
//   0     8  magic "QLVPLMX1" (no terminator)
//   8    52  ViewerConfig, as EncodeViewerConfig writes it
//   60  768  imagePath      (384 UTF-16LE units, see PathBuffer)
//   828 768  overlayPath
//   1596 768 slideshowPath
//
// Where the file lives: the caller passes a path in the file system's
// encoding. The window passes ConfigFileName(instanceNumber), which carries
// no directory and so names a file in the process's working directory; a
// caller may prefix a directory of its own.
//
// Saving never truncates the old file: the items are written to a new file
// beside it, which is flushed to disk and renamed over the old one only when
// every item was written. A save that fails at any point leaves the old file
// as it was.
//
// Loading trusts nothing in the file: any length and any content either
// loads as described at LoadConfigFile or fails with its message; nothing
// is read past the end of the file or of a buffer. Files longer than
// 2,364 bytes load their first 2,364 bytes. A path that is not a regular
// file (a directory, a pipe) counts as a file that cannot be opened.
//
// Messages: the functions never show anything themselves. Save returns its
// message in the result; load reports through ConfigHost::showMessage, in
// order, interleaved with the apply effects exactly as they happen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "path_buffer.h"
#include "viewer_config.h"

namespace plombix {

inline constexpr std::size_t kConfigFileBytes = 2364;
inline constexpr char kConfigMagic[8] = {'Q', 'L', 'V', 'P', 'L', 'M', 'X', '1'};

inline constexpr const char* kSaveFileTitle = "Save File";
inline constexpr const char* kLoadFileTitle = "Load File";
inline constexpr const char* kConfigSavedOk = "Config file saved OK";  // shown by the menu item

// "last.plq" for instance 0, else "last%d.plq" with instanceNumber + 1
// ("last2.plq" for the second copy). The name is at most 15 characters; a
// number that would make it longer gives an empty name (no file), never a
// cut one.
[[nodiscard]] std::string ConfigFileName(int instanceNumber);

// Everything of the main window that the file reads and writes. The window
// owns one of these; the slideshow, watch and picture code work on its
// members by reference.
struct ConfigState {
  ViewerConfig live{};      // start-up defaults
  ViewerConfig staging{};   // what the last load read
  PathBuffer imagePath;     // written by a drop
  PathBuffer overlayPath;   // written by "Grab Overlay"
  PathBuffer slideshowPath; // written by "Start number"
  std::string currentFileName;  // what ShowPicture loads
  std::string overlayName;      // what LoadOverlay reads
  std::string slideshowName;    // slideshow path restored at start-up
  bool resumeSlideshow = false; // set by a load that brings back mode 2
};

// ---- Save -------------------------------------------------------------------

enum class SaveError {
  None,
  CannotOpen,      // the file could not be created or written at all:
                   //   "Problem initiating file save"
  Magic,           // "Problem initiating file save"
  Block,           // "Problem occurred - config data not saved"
  ImagePath,       // "Problem occurred - image path not saved"
  OverlayPath,     // "Problem occurred - overlay path not saved"
  SlideshowPath,   // "Problem occurred - slideshow path not saved"
  Commit,          // flushing or replacing the old file failed:
                   //   "Problem occurred - config data not saved"
};

struct SaveResult {
  SaveError error = SaveError::None;
  [[nodiscard]] bool ok() const { return error == SaveError::None; }
};

// The text to show for a failed save (title kSaveFileTitle); nullptr for
// success. A file that cannot be created or written at all reads "Problem
// initiating file save", as a full disk does.
[[nodiscard]] const char* SaveErrorText(SaveError error);

// Writes magic, block and the three paths (image, overlay, slideshow) to
// `fileName`, atomically as described above. The block's reserved bytes are
// written as zeros; the paths' units behind their terminators as they stand.
// If `fileName` is a symbolic link, the file it points to is replaced. An
// existing file that this process may not write is left alone (CannotOpen).
// Where the directory refuses a new file but the old one may be written,
// the old file is overwritten in place instead (not atomic in that case).
[[nodiscard]] SaveResult SaveConfigFile(const std::string& fileName, const ViewerConfig& block,
                                        const PathBuffer& imagePath, const PathBuffer& overlayPath,
                                        const PathBuffer& slideshowPath);

// ---- Load -------------------------------------------------------------------

// The window's side of a load: messages and the effect of each applied
// field. Every on* call comes after the live field already holds the new
// value; the fields that are "stored only" (border percentages, overlayOn)
// have no call.
class ConfigHost {
 public:
  virtual ~ConfigHost() = default;

  // A plain OK message box: `text` with `title`.
  virtual void showMessage(std::string_view text, std::string_view title) = 0;

  // Per-field effects of ApplyStagedConfig, in this order, only for fields
  // that differed.
  virtual void onFillColour1(uint32_t colour) = 0;  // gradient colour 1 + right colour button
  virtual void onFillColour2(uint32_t colour) = 0;  // gradient colour 2 + left colour button
  virtual void onNoAlpha(bool on) = 0;              // noAlphaOutput + menu check
  virtual void onUseLast(bool on) = 0;              // menu check
  virtual void onUseImage(bool on) = 0;             // menu check
  virtual void onScalingMode(uint8_t mode) = 0;     // radio, push controls, caption of 1016
  virtual void onWatch(bool on) = 0;                // watch switch, caption and colour
  virtual void onBorderEqual(bool on) = 0;          // "Equal" check box
  virtual void onBorderUse(bool on) = 0;            // border "Use" check box
  virtual void onLimitedRange(bool on) = 0;         // range switch and its caption
  virtual void onFade(bool on) = 0;                 // fade switch, caption and colour
  // The menu buttons' chosen ids. A listed id sets the output size, frame
  // rate or backgroundMode by the output format tables (FindResolution,
  // FindFrameRate, FindBackground); any other id changes nothing else. The
  // menu buttons keep their captions.
  virtual void onResolutionId(uint32_t id) = 0;
  virtual void onFrameRateId(uint32_t id) = 0;
  virtual void onBackgroundId(uint32_t id) = 0;

  // Always, after the per-field part of the apply (currentFileName,
  // overlayName and the slideshow record are already set):
  // Push every control variable to its control; the number-format radios
  // show live.slideshow.numberFormat.
  virtual void pushControls() = 0;
  // The "Sides" edit and its two labels (1062, 1064, 1065).
  virtual void enableSidesEdit(bool enabled) = 0;
  // UpdateBorders with borderUse.
  virtual void updateBorders(bool use) = 0;

  // Slideshow fix-ups after the apply:
  virtual void refreshSlideshowButton() = 0;                     // Slideshow::RefreshSlideshowButton
  virtual void setStartNumberCaption(const std::string& text) = 0;  // button 1058
  virtual void setEndNumberCaption(const std::string& text) = 0;    // button 1059
};

enum class LoadOutcome {
  NotOpened,   // no such file, or not a readable regular file: no message
  BadMagic,    // "Unrecognised file type"
  ShortBlock,  // "Something went wrong reading data"
  PathsOnly,   // read; useLast 0 and not forced: only the paths were taken
  Applied,     // read and applied
};

struct LoadResult {
  LoadOutcome outcome = LoadOutcome::NotOpened;
  // The load's success flag: the file was read, whether or not applied.
  [[nodiscard]] bool ok() const {
    return outcome == LoadOutcome::PathsOnly || outcome == LoadOutcome::Applied;
  }
};

// Reads `fileName` and, when its useLast is set or `forceLast` is true,
// applies it to `state`:
//  1. magic (8 bytes) must match, else "Unrecognised file type";
//  2. 52 bytes into state.staging, else "Something went wrong reading data";
//  3. the three paths straight into state's path buffers; a path the file
//     does not hold whole keeps the bytes that were there (the rest of the
//     buffer as it was) and counts as missing: image -> "No image path
//     data" if staged useImage, staged useImage := 0; overlay -> "No
//     overlay path data" if staged overlayOn, staged overlayOn := 0;
//     slideshow -> "No slideshow path data" if staged mode != 0, staged
//     mode := 0; a slideshow path read whole becomes slideshowName;
//  4. staged useLast 0 and !forceLast: stop (PathsOnly);
//  5. ApplyStagedConfig;
//  6. slideshow fix-ups on the live record: sequenceValid 0 (or a mode the
//     system never writes, above 2) -> mode 0, else mode 2 ->
//     resumeSlideshow; refreshSlideshowButton; Start caption when start or
//     end is not 0, End caption when end is not 0; durationSecs clamped to
//     2..240; mode 2 with (endNumber != 0 or startNumber == 0) ->
//     currentNumber := endNumber; pushControls.
// All messages carry the title kLoadFileTitle.
[[nodiscard]] LoadResult LoadConfigFile(const std::string& fileName, bool forceLast,
                                        ConfigState& state, ConfigHost& host);

// Applies state.staging to state.live field by field (colours, noAlpha,
// useLast, useImage, scalingMode, watchOn, border percentages, borderEqual,
// borderUse, overlayOn, limitedRange, fadeOn, resolutionId, frameRateId,
// backgroundId), each only when it differs, then always: currentFileName :=
// imagePath when live useImage is 1; overlayName := overlayPath; the
// slideshow record copied from staging; pushControls; enableSidesEdit(
// borderEqual == 0); updateBorders(borderUse). Called by LoadConfigFile.
void ApplyStagedConfig(ConfigState& state, ConfigHost& host);

}  // namespace plombix
