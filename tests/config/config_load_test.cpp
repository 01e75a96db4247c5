#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <tuple>

#include "config_file.h"
#include "config_test_support.h"

namespace plombix {
namespace {

using testing::MakeConfigFile;
using testing::TempDir;
using Calls = std::vector<std::string>;

// Also notes the slideshow record as the refresh call sees it.
class Host : public testing::RecordingConfigHost {
 public:
  explicit Host(const ConfigState& s) : state(s) {}
  void refreshSlideshowButton() override {
    const SlideshowState& show = state.live.slideshow;
    calls.push_back("refreshSlideshowButton mode=" + std::to_string(show.mode) + " current=" +
                    std::to_string(show.currentNumber) + " resume=" + std::to_string(state.resumeSlideshow));
  }
  const ConfigState& state;
};

struct Loaded {
  LoadResult result;
  ConfigState state;
  Calls calls;
};

Loaded Load(const std::vector<uint8_t>& bytes, bool forceLast = false, const ConfigState& start = {},
            const char* name = "last.plq") {
  TempDir dir;
  if (!bytes.empty()) testing::WriteBytes(dir.file("last.plq"), bytes);
  Loaded out{{}, start, {}};
  Host host(out.state);
  out.result = LoadConfigFile(dir.file(name), forceLast, out.state, host);
  out.calls = host.calls;
  return out;
}

ViewerConfig UsedBlock(SlideshowState show = SlideshowState{}) {
  ViewerConfig b;
  b.useLast = 1;
  b.slideshow = show;
  return b;
}

// The file a save of the loaded state writes.
std::vector<uint8_t> SavedBack(const ConfigState& s) {
  TempDir dir;
  EXPECT_TRUE(SaveConfigFile(dir.file("back.plq"), s.live, s.imagePath, s.overlayPath, s.slideshowPath).ok());
  return testing::ReadBytes(dir.file("back.plq"));
}

// A saved file comes back field for field and path for path; saved without
// "Use Last" only its paths come back (and the slideshow name, not the
// names the settings would set), unless forced.
TEST(LoadConfigFile, SavedFileComesBackWholeOrWithoutUseLastOnlyItsPathsUnlessForced) {
  ConfigState saved;
  ViewerConfig& b = saved.live;
  b = {0x00112233, 0x00445566, 32796, 32782, 32789, 10, 20, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, {1, 4, 2, 8, 2, 1, 1, 30}, {}};
  ASSERT_TRUE(saved.imagePath.assign("/img/caf\xC3\xA9.png"));
  ASSERT_TRUE(saved.overlayPath.assign("/img/logo.png"));
  ASSERT_TRUE(saved.slideshowPath.assign("/shots/shot02.jpg"));
  for (const auto& [useLast, forced] : {std::pair{1, false}, {0, false}, {0, true}}) {
    b.useLast = uint8_t(useLast);
    const Loaded r = Load(SavedBack(saved), forced);
    const bool applied = useLast || forced;
    ASSERT_EQ(r.result.outcome, applied ? LoadOutcome::Applied : LoadOutcome::PathsOnly);
    EXPECT_EQ(r.state.live, applied ? b : ViewerConfig{});  // mode 1 with a valid sequence: no fix-up
    EXPECT_EQ(std::tie(r.state.imagePath, r.state.overlayPath, r.state.slideshowPath),
              std::tie(saved.imagePath, saved.overlayPath, saved.slideshowPath));
    EXPECT_EQ(r.state.currentFileName + r.state.overlayName, applied ? "/img/caf\xC3\xA9.png/img/logo.png" : "");
    EXPECT_EQ(r.state.slideshowName, "/shots/shot02.jpg");
    for (const std::string& c : r.calls) EXPECT_NE(c.rfind("message:", 0), 0u) << c;
    EXPECT_TRUE(applied || r.calls.empty());
  }
}

// A missing file is passed over in silence (so is anything that is no
// regular file: a pipe must not block); any byte of the magic differing is
// said. Nothing is applied either way.
TEST(LoadConfigFile, WhatIsNoSettingsFileChangesNothing) {
  const Loaded missing = Load({}, true);
  EXPECT_EQ(missing.result.outcome, LoadOutcome::NotOpened);
  EXPECT_FALSE(missing.result.ok());
  EXPECT_TRUE(missing.calls.empty());
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo.plq").c_str(), 0644), 0);
  Host host(missing.state);
  ConfigState state;
  EXPECT_EQ(LoadConfigFile(dir.file("fifo.plq"), true, state, host).outcome, LoadOutcome::NotOpened);
  for (std::size_t i = 0; i < 8; ++i) {
    auto file = MakeConfigFile(UsedBlock(), "/a.png");
    file[i] ^= 0x20;  // "qLVPLMX1", ...
    const Loaded r = Load(file, true);
    EXPECT_EQ(r.calls, Calls{"message:Unrecognised file type|Load File"}) << "byte " << i;
    EXPECT_EQ(std::pair(r.state.live, r.state.imagePath.empty()), std::pair(ViewerConfig{}, true)) << "byte " << i;
  }
}

// Each field that differs takes effect, in the order of the block; equal
// fields cause none, and the closing steps always run.
TEST(ApplyStagedConfig, OnlyDifferingFieldsTakeEffectInOrderTheClosingStepsAlways) {
  ConfigState state;
  ViewerConfig& s = state.staging;
  s = {0x00010203, 0x00040506, 32771, 32782, 32786, 5, 6, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1,
       {1, 0, 0, 0, 0, 0, 1, 2}, {}};
  s.reserved.fill(0x99);  // reserved bytes of the file never reach the live block
  testing::RecordingConfigHost host;
  ApplyStagedConfig(state, host);
  EXPECT_EQ(host.calls, (Calls{"fillColour1:00010203", "fillColour2:00040506", "noAlpha:1", "useLast:1",
                               "useImage:1", "scalingMode:0", "watch:1", "borderEqual:1", "borderUse:1",
                               "limitedRange:1", "fade:1", "resolutionId:32771", "frameRateId:32782",
                               "backgroundId:32786", "pushControls", "enableSidesEdit:0", "updateBorders:1"}));
  EXPECT_EQ(std::tuple(state.live.borderSidesPct, state.live.borderTopBottomPct, state.live.overlayOn),
            std::tuple(5, 6, 1));  // stored only
  EXPECT_EQ(state.live.reserved, (std::array<uint8_t, 12>{}));

  state.staging.slideshow = {1, 4, 3, 7, 0, 0, 1, 5};  // copied whatever differs
  ASSERT_TRUE(state.imagePath.assign("/img/a.png"));
  ASSERT_TRUE(state.overlayPath.assign("/img/o.png"));
  host.calls.clear();
  ApplyStagedConfig(state, host);
  EXPECT_EQ(host.calls, (Calls{"pushControls", "enableSidesEdit:0", "updateBorders:1"}));
  EXPECT_EQ(state.currentFileName + state.overlayName, "/img/a.png/img/o.png");
  EXPECT_EQ(state.live.slideshow, state.staging.slideshow);
}

// Values as a file may hold them come back and are saved back as they are,
// except border percentages above 99 (no edit takes them) and durations
// outside 2..240, which come into range.
TEST(LoadConfigFile, StoredValuesAreKeptExceptThoseNoControlCanTake) {
  // offset, bytes: of the little-endian field in the block.
  const struct { const char* name; std::size_t offset, bytes; uint32_t stored, loaded; } rows[] = {
      {"sides 100", 20, 1, 100, 99},     {"sides 255", 20, 1, 255, 99},       {"sides 99", 20, 1, 99, 99},
      {"top/bottom 200", 21, 1, 200, 99}, {"scaling 3", 24, 1, 3, 3},         {"scaling 255", 24, 1, 255, 255},
      {"number format 3", 36, 1, 3, 3},  {"start above end", 34, 1, 200, 200}, {"duration 0", 39, 1, 0, 2},
      {"duration 1", 39, 1, 1, 2},       {"duration 240", 39, 1, 240, 240},   {"duration 241", 39, 1, 241, 240},
      {"unlisted resolution id", 8, 4, 12345, 12345},
  };
  for (const auto& row : rows) {
    auto file = MakeConfigFile(UsedBlock({1, 3, 3, 9, 0, 0, 1, 2}));
    for (std::size_t i = 0; i < row.bytes; ++i) file[8 + row.offset + i] = uint8_t(row.stored >> 8 * i);
    const Loaded r = Load(file);
    ASSERT_TRUE(r.result.ok()) << row.name;
    const auto back = SavedBack(r.state);
    uint32_t saved = 0;
    for (std::size_t i = 0; i < row.bytes; ++i) saved |= uint32_t(back[8 + row.offset + i]) << 8 * i;
    EXPECT_EQ(saved, row.loaded) << row.name;
    EXPECT_EQ(r.state.live.slideshow.mode, 1) << row.name;  // the sequence stays valid
  }
}

// A file that ends before its paths: their messages first, in order, for
// the fields that need them (which are cleared), then the apply. A file
// ending inside a path keeps the bytes that arrived over what the buffer
// held and counts as missing; a longer file loads its first 2364 bytes.
TEST(LoadConfigFile, MissingOrCutPathsAreSaidAndKeepWhatArrived) {
  ViewerConfig b = UsedBlock({2, 0, 0, 0, 0, 0, 1, 2});
  b.useImage = b.overlayOn = 1;
  const auto full = MakeConfigFile(b, "/new/picture.png", "/o.png", "/s/shot1.png");
  const Loaded r = Load(std::vector<uint8_t>(full.begin(), full.begin() + 60));
  EXPECT_EQ(r.result.outcome, LoadOutcome::Applied);
  for (const ViewerConfig& c : {r.state.staging, r.state.live})
    EXPECT_EQ(std::tuple(c.useImage, c.overlayOn, c.slideshow.mode), std::tuple(0, 0, 0));
  const Calls expected = {"message:No image path data|Load File", "message:No overlay path data|Load File",
                          "message:No slideshow path data|Load File", "useLast:1", "pushControls",
                          "enableSidesEdit:1", "updateBorders:0", "refreshSlideshowButton mode=0 current=0 resume=0",
                          "pushControls"};  // only useLast differs from the defaults
  EXPECT_EQ(r.calls, expected);
  const auto quiet = MakeConfigFile(UsedBlock());  // with those fields off nothing is missed
  EXPECT_EQ(Load(std::vector<uint8_t>(quiet.begin(), quiet.begin() + 60)).calls, Calls(expected.begin() + 3, expected.end()));

  // 60 + 11 bytes: "/new/" (10 bytes) and the low byte of 'p'.
  ConfigState start;
  ASSERT_TRUE(start.imagePath.assign("/old/ABCDEFGHIJK.png"));
  start.slideshowName = "kept";
  const Loaded cut = Load(std::vector<uint8_t>(full.begin(), full.begin() + 71), false, start);
  EXPECT_EQ(cut.state.imagePath.toUtf8(), "/new/pBCDEFGHIJK.png");
  EXPECT_EQ(cut.state.currentFileName + cut.state.slideshowName, "kept");  // useImage cleared: not taken over
  EXPECT_EQ(Load(std::vector<uint8_t>(full.begin(), full.begin() + 71)).state.imagePath.toUtf8(), "/new/p");
  const Loaded end = Load(std::vector<uint8_t>(full.begin(), full.end() - 1), false, start);
  EXPECT_EQ(end.calls.front(), "message:No slideshow path data|Load File");  // the two before were whole
  EXPECT_EQ(std::pair(end.state.slideshowName, end.state.overlayName), std::pair(std::string("kept"), std::string("/o.png")));
  auto longer = full;
  longer.resize(5000, 0xFF);
  EXPECT_EQ(Load(longer).state.slideshowName, "/s/shot1.png");
}

// The slideshow after a load: off without a valid sequence (or in a mode
// never written); automatic resumes, at the end number unless that is 0
// with a start number; the captions follow the stored numbers.
TEST(LoadConfigFile, SlideshowFixUpsAndCaptions) {
  const struct { const char* name; SlideshowState stored; uint8_t mode, current; bool resume; Calls captions; } rows[] = {
      {"automatic without a valid sequence is off", {2, 5, 3, 9, 0, 0, 0, 2}, 0, 5, false,
       {"startCaption:Start at:- 3", "endCaption:End at:- 9"}},
      {"automatic resumes at the end number", {2, 5, 3, 9, 1, 0, 1, 2}, 2, 9, true,
       {"startCaption:Start at:- 03", "endCaption:End at:- 09"}},
      {"end 0 with start 3 keeps the number", {2, 5, 3, 0, 2, 0, 1, 2}, 2, 5, true, {"startCaption:Start at:- 003"}},
      {"start 0 takes the end number 0", {2, 5, 0, 0, 0, 0, 1, 2}, 2, 0, true, {}},
      {"by hand keeps its number", {1, 5, 0, 12, 0, 0, 1, 2}, 1, 5, false,
       {"startCaption:Start at:- 0", "endCaption:End at:- 12"}},
      {"a mode never written is off", {7, 5, 3, 9, 0, 0, 1, 2}, 0, 5, false,
       {"startCaption:Start at:- 3", "endCaption:End at:- 9"}},
  };
  for (const auto& row : rows) {
    const Loaded r = Load(MakeConfigFile(UsedBlock(row.stored), "", "", "/s/shot3.png"));
    EXPECT_EQ(std::tuple(r.state.live.slideshow.mode, r.state.live.slideshow.currentNumber, r.state.resumeSlideshow),
              std::tuple(row.mode, row.current, row.resume)) << row.name;
    // The refresh call sees the fixed mode and the stored number.
    const std::string refresh = "refreshSlideshowButton mode=" + std::to_string(row.mode) +
                                " current=5 resume=" + std::to_string(row.resume);
    EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), refresh), r.calls.end()) << row.name;
    Calls captions;
    std::copy_if(r.calls.begin(), r.calls.end(), std::back_inserter(captions),
                 [](const std::string& c) { return c.find("Caption:") != std::string::npos; });
    EXPECT_EQ(captions, row.captions) << row.name;
    ASSERT_FALSE(r.calls.empty()) << row.name;
    EXPECT_EQ(r.calls.back(), "pushControls") << row.name;
  }
}

}  // namespace
}  // namespace plombix
