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

Loaded LoadPath(const std::string& path, bool forceLast = false, const ConfigState& start = {}) {
  Loaded out;
  out.state = start;
  Host host(out.state);
  out.result = LoadConfigFile(path, forceLast, out.state, host);
  out.calls = host.calls;
  return out;
}

Loaded Load(const std::vector<uint8_t>& bytes, bool forceLast = false, const ConfigState& start = {}) {
  TempDir dir;
  testing::WriteBytes(dir.file("last.plq"), bytes);
  return LoadPath(dir.file("last.plq"), forceLast, start);
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

TEST(LoadConfigFile, SavedFileComesBackFieldForFieldAndPathForPath) {
  ConfigState saved;
  ViewerConfig& b = saved.live;
  b = {0x00112233, 0x00445566, 32796, 32782, 32789, 10, 20, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1,
       {1, 4, 2, 8, 2, 1, 1, 30}, {}};
  ASSERT_TRUE(saved.imagePath.assign("/img/caf\xC3\xA9.png"));
  ASSERT_TRUE(saved.overlayPath.assign("/img/logo.png"));
  ASSERT_TRUE(saved.slideshowPath.assign("/shots/shot02.jpg"));
  const Loaded r = Load(SavedBack(saved));
  ASSERT_EQ(r.result.outcome, LoadOutcome::Applied);
  EXPECT_EQ(r.state.live, b);  // mode 1 with a valid sequence: no fix-up changes it
  EXPECT_EQ(std::tie(r.state.imagePath, r.state.overlayPath, r.state.slideshowPath),
            std::tie(saved.imagePath, saved.overlayPath, saved.slideshowPath));
  EXPECT_EQ(r.state.currentFileName, "/img/caf\xC3\xA9.png");  // useImage 1
  EXPECT_EQ(r.state.overlayName, "/img/logo.png");
  EXPECT_EQ(r.state.slideshowName, "/shots/shot02.jpg");
  for (const std::string& c : r.calls) EXPECT_NE(c.rfind("message:", 0), 0u) << c;
}

// Files that are not settings files: a missing one, a folder or a pipe
// (which must not block) are passed over in silence; any byte of the magic
// differing is said. Nothing is applied either way.
TEST(LoadConfigFile, WhatIsNoSettingsFileChangesNothing) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("dir.plq").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo.plq").c_str(), 0644), 0);
  for (const char* name : {"last.plq", "dir.plq", "fifo.plq"}) {
    const Loaded r = LoadPath(dir.file(name), true);
    EXPECT_EQ(r.result.outcome, LoadOutcome::NotOpened) << name;
    EXPECT_FALSE(r.result.ok()) << name;
    EXPECT_TRUE(r.calls.empty()) << name;
  }
  for (std::size_t i = 0; i < 8; ++i) {
    auto file = MakeConfigFile(UsedBlock(), "/a.png");
    file[i] ^= 0x20;  // "qLVPLMX1", ...
    const Loaded r = Load(file, true);
    EXPECT_EQ(r.result.outcome, LoadOutcome::BadMagic) << "byte " << i;
    EXPECT_EQ(r.calls, Calls{"message:Unrecognised file type|Load File"}) << "byte " << i;
    EXPECT_EQ(r.state.live, ViewerConfig{}) << "byte " << i;
    EXPECT_TRUE(r.state.imagePath.empty()) << "byte " << i;
  }
}

TEST(LoadConfigFile, SixtyByteFileGivesThreeMessagesInOrderThenAppliesWithThoseFieldsCleared) {
  ViewerConfig b = UsedBlock({2, 0, 0, 0, 0, 0, 1, 2});
  b.useImage = 1;
  b.overlayOn = 1;
  auto f = MakeConfigFile(b);
  f.resize(60);
  const Loaded r = Load(f);
  EXPECT_EQ(r.result.outcome, LoadOutcome::Applied);
  for (const ViewerConfig& c : {r.state.staging, r.state.live})
    EXPECT_EQ(std::tuple(c.useImage, c.overlayOn, c.slideshow.mode), std::tuple(0, 0, 0));
  // Messages first, then the apply: only useLast differs from the defaults.
  const Calls expected = {
      "message:No image path data|Load File", "message:No overlay path data|Load File",
      "message:No slideshow path data|Load File", "useLast:1", "pushControls", "enableSidesEdit:1",
      "updateBorders:0", "refreshSlideshowButton mode=0 current=0 resume=0", "pushControls",
  };
  EXPECT_EQ(r.calls, expected);
  f = MakeConfigFile(UsedBlock());  // with those fields off nothing is missed: no message
  f.resize(60);
  EXPECT_EQ(Load(f).calls, Calls(expected.begin() + 3, expected.end()));
}

TEST(LoadConfigFile, UseLastOffRestoresThePathsOnlyUnlessForced) {
  ViewerConfig b;  // useLast 0
  b.scalingMode = 0;
  b.fadeOn = 1;
  b.useImage = 1;
  const auto f = MakeConfigFile(b, "/img/a.png", "/img/o.png", "/s/shot1.png");
  const Loaded r = Load(f, false);
  EXPECT_EQ(r.result.outcome, LoadOutcome::PathsOnly);
  EXPECT_TRUE(r.result.ok());
  EXPECT_TRUE(r.calls.empty());
  EXPECT_EQ(r.state.live, ViewerConfig{});
  EXPECT_EQ(r.state.imagePath.toUtf8() + r.state.overlayPath.toUtf8(), "/img/a.png/img/o.png");
  EXPECT_EQ(r.state.slideshowName, "/s/shot1.png");
  EXPECT_EQ(r.state.currentFileName + r.state.overlayName, "");  // settings not applied, so not set
  const Loaded forced = Load(f, true);
  EXPECT_EQ(forced.result.outcome, LoadOutcome::Applied);
  EXPECT_EQ(std::tuple(forced.state.live.scalingMode, forced.state.live.fadeOn), std::tuple(0, 1));
  EXPECT_EQ(forced.state.currentFileName + forced.state.overlayName, "/img/a.png/img/o.png");
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
  const struct {
    const char* name;
    std::size_t offset, bytes;  // of the little-endian field in the block
    uint32_t stored, loaded;
  } rows[] = {
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

TEST(LoadConfigFile, FileEndingInsideAPathKeepsWhatArrivedAndCountsAsMissing) {
  ViewerConfig b = UsedBlock();
  b.useImage = 1;
  const auto full = MakeConfigFile(b, "/new/picture.png");
  // 60 + 11 bytes: "/new/" (10 bytes) and the low byte of 'p'.
  const std::vector<uint8_t> cut(full.begin(), full.begin() + 71);
  ConfigState start;
  ASSERT_TRUE(start.imagePath.assign("/old/ABCDEFGHIJK.png"));
  const Loaded r = Load(cut, false, start);
  EXPECT_EQ(r.state.imagePath.toUtf8(), "/new/pBCDEFGHIJK.png");
  EXPECT_EQ(r.calls.front(), "message:No image path data|Load File");
  EXPECT_EQ(r.state.live.useImage, 0);
  EXPECT_EQ(r.state.currentFileName, "");  // useImage cleared: not taken over
  EXPECT_EQ(Load(cut).state.imagePath.toUtf8(), "/new/p");  // at start-up the buffer was empty

  // The slideshow path ending one byte early: the name is left alone, the
  // two paths before it were whole. A longer file loads its first 2364 bytes.
  const auto three = MakeConfigFile(UsedBlock({1, 1, 1, 2, 0, 0, 1, 2}), "/i.png", "/o.png", "/s/shot1.png");
  start.slideshowName = "kept";
  const Loaded s = Load(std::vector<uint8_t>(three.begin(), three.end() - 1), false, start);
  EXPECT_EQ(s.state.slideshowName, "kept");
  EXPECT_EQ(s.calls.front(), "message:No slideshow path data|Load File");
  EXPECT_EQ(s.state.live.slideshow.mode, 0);
  EXPECT_EQ(s.state.overlayName, "/o.png");
  auto longer = three;
  longer.resize(5000, 0xFF);
  const Loaded l = Load(longer);
  EXPECT_EQ(l.result.outcome, LoadOutcome::Applied);
  EXPECT_EQ(l.state.slideshowName, "/s/shot1.png");
}

// The slideshow after a load: off without a valid sequence (or in a mode
// never written); automatic resumes, at the end number unless that is 0
// with a start number; the captions follow the stored numbers.
TEST(LoadConfigFile, SlideshowFixUpsAndCaptions) {
  const struct {
    const char* name;
    SlideshowState stored;
    uint8_t mode, current;
    bool resume;
    Calls captions;
  } rows[] = {
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
    EXPECT_EQ(r.state.live.slideshow.mode, row.mode) << row.name;
    EXPECT_EQ(r.state.live.slideshow.currentNumber, row.current) << row.name;
    EXPECT_EQ(r.state.resumeSlideshow, row.resume) << row.name;
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
