#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <tuple>

#include "config_file.h"
#include "config_test_support.h"

namespace plombix {
namespace {

using testing::ReadBytes;
using testing::RecordingConfigHost;
using testing::TempDir;
using testing::WriteBytes;
using Calls = std::vector<std::string>;
using testing::MakeConfigFile;

// Also notes the slideshow record as the refresh call sees it.
class Host : public RecordingConfigHost {
 public:
  explicit Host(const ConfigState& s) : state(s) {}
  void refreshSlideshowButton() override {
    calls.push_back("refreshSlideshowButton mode=" + std::to_string(state.live.slideshow.mode) + " current=" +
                    std::to_string(state.live.slideshow.currentNumber) + " resume=" +
                    std::to_string(state.resumeSlideshow));
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
  WriteBytes(dir.file("last.plq"), bytes);
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
  return ReadBytes(dir.file("back.plq"));
}

TEST(LoadConfigFile, SavedFileComesBackFieldForFieldAndPathForPath) {
  ConfigState saved;
  ViewerConfig& b = saved.live;
  b = {0x00112233, 0x00445566, 32796, 32782, 32789, 10, 20, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1,
       {1, 4, 2, 8, 2, 1, 1, 30}, {}};
  ASSERT_TRUE(saved.imagePath.assign("/img/caf\xC3\xA9.png"));
  ASSERT_TRUE(saved.overlayPath.assign("/img/logo.png"));
  ASSERT_TRUE(saved.slideshowPath.assign("/shots/shot02.jpg"));
  const auto file = SavedBack(saved);
  EXPECT_EQ(file.size(), 2364u);
  const Loaded r = Load(file);
  ASSERT_EQ(r.result.outcome, LoadOutcome::Applied);
  EXPECT_EQ(r.state.staging, b);
  EXPECT_EQ(r.state.live, b);  // mode 1 with a valid sequence: no fix-up changes it
  EXPECT_EQ(r.state.imagePath, saved.imagePath);
  EXPECT_EQ(r.state.overlayPath, saved.overlayPath);
  EXPECT_EQ(r.state.slideshowPath, saved.slideshowPath);
  EXPECT_EQ(r.state.currentFileName, "/img/caf\xC3\xA9.png");  // useImage 1
  EXPECT_EQ(r.state.overlayName, "/img/logo.png");
  EXPECT_EQ(r.state.slideshowName, "/shots/shot02.jpg");
  for (const std::string& c : r.calls) EXPECT_NE(c.rfind("message:", 0), 0u) << c;
}

TEST(LoadConfigFile, MissingFileOrNotARegularFileIsSilentAndChangesNothing) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("dir.plq").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo.plq").c_str(), 0644), 0);  // must not block
  for (const char* name : {"last.plq", "dir.plq", "fifo.plq"}) {
    const Loaded r = LoadPath(dir.file(name), true);
    EXPECT_EQ(r.result.outcome, LoadOutcome::NotOpened) << name;
    EXPECT_FALSE(r.result.ok()) << name;
    EXPECT_TRUE(r.calls.empty()) << name;
    EXPECT_EQ(r.state.live, ViewerConfig{}) << name;
  }
}

// (A file ending before the block is in config_fuzz_test.cpp.)
TEST(LoadConfigFile, WrongMagicReportsAndAppliesNothing) {
  for (std::size_t i = 0; i < 8; ++i) {
    auto file = MakeConfigFile(UsedBlock(), "/a.png");
    file[i] ^= 0x20;  // one byte differs ("qLVPLMX1", ...)
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
  EXPECT_FALSE(r.state.resumeSlideshow);
  // Messages first, then the apply: only useLast differs from the defaults.
  const Calls expected = {
      "message:No image path data|Load File", "message:No overlay path data|Load File",
      "message:No slideshow path data|Load File", "useLast:1", "pushControls", "enableSidesEdit:1",
      "updateBorders:0", "refreshSlideshowButton mode=0 current=0 resume=0", "pushControls",
  };
  EXPECT_EQ(r.calls, expected);
  // With those fields off nothing is missed: no message.
  f = MakeConfigFile(UsedBlock());
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
  // Forced: everything applies.
  const Loaded forced = Load(f, true);
  EXPECT_EQ(forced.result.outcome, LoadOutcome::Applied);
  EXPECT_EQ(std::tuple(forced.state.live.scalingMode, forced.state.live.fadeOn), std::tuple(0, 1));
  EXPECT_EQ(forced.state.currentFileName, "/img/a.png");
  EXPECT_EQ(forced.state.overlayName, "/img/o.png");
}

TEST(ApplyStagedConfig, EveryDifferingFieldTakesEffectInOrder) {
  ConfigState state;
  ViewerConfig& s = state.staging;
  s = {0x00010203, 0x00040506, 32771, 32782, 32786, 5, 6, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1,
       {1, 0, 0, 0, 0, 0, 1, 2}, {}};
  s.reserved.fill(0x99);  // reserved bytes of the file never reach the live block
  RecordingConfigHost host;
  ApplyStagedConfig(state, host);
  const Calls expected = {
      "fillColour1:00010203", "fillColour2:00040506", "noAlpha:1",          "useLast:1",
      "useImage:1",           "scalingMode:0",        "watch:1",            "borderEqual:1",
      "borderUse:1",          "limitedRange:1",       "fade:1",             "resolutionId:32771",
      "frameRateId:32782",    "backgroundId:32786",   "pushControls",       "enableSidesEdit:0",
      "updateBorders:1",
  };
  EXPECT_EQ(host.calls, expected);
  EXPECT_EQ(std::tuple(state.live.borderSidesPct, state.live.borderTopBottomPct, state.live.overlayOn),
            std::tuple(5, 6, 1));  // stored only
  EXPECT_EQ(state.live.slideshow, s.slideshow);
  EXPECT_EQ(state.live.reserved, (std::array<uint8_t, 12>{}));
}

TEST(ApplyStagedConfig, EqualValuesCauseNoFieldEffectButTheClosingStepsRun) {
  ConfigState state;
  state.live.useImage = 1;
  state.staging = state.live;
  state.staging.slideshow = {1, 4, 3, 7, 0, 0, 1, 5};  // copied whatever differs
  ASSERT_TRUE(state.imagePath.assign("/img/a.png"));
  ASSERT_TRUE(state.overlayPath.assign("/img/o.png"));
  RecordingConfigHost host;
  ApplyStagedConfig(state, host);
  EXPECT_EQ(host.calls, (Calls{"pushControls", "enableSidesEdit:1", "updateBorders:0"}));
  EXPECT_EQ(state.currentFileName, "/img/a.png");
  EXPECT_EQ(state.overlayName, "/img/o.png");
  EXPECT_EQ(state.live.slideshow, state.staging.slideshow);
}

// Values no control can produce come into range on loading, take effect so
// and are saved back so; in-range values and ids the menus do not list are
// kept as they are.
TEST(LoadConfigFile, ValuesNoControlCanProduceAreBroughtIntoRangeAndSavedSo) {
  const struct {
    const char* name;
    std::size_t offset, bytes;  // of the little-endian field in the block
    uint32_t stored, loaded;
  } rows[] = {
      {"sides 100", 20, 1, 100, 99},     {"sides 255", 20, 1, 255, 99},     {"sides 99", 20, 1, 99, 99},
      {"top/bottom 200", 21, 1, 200, 99}, {"scaling 3", 24, 1, 3, 1},       {"scaling 255", 24, 1, 255, 1},
      {"scaling 2", 24, 1, 2, 2},        {"number format 3", 36, 1, 3, 2}, {"number format 2", 36, 1, 2, 2},
      {"duration 0", 39, 1, 0, 2},       {"duration 1", 39, 1, 1, 2},       {"duration 2", 39, 1, 2, 2},
      {"duration 100", 39, 1, 100, 100}, {"duration 240", 39, 1, 240, 240},
      {"duration 241", 39, 1, 241, 240}, {"duration 255", 39, 1, 255, 240},
      {"unlisted resolution id", 8, 4, 12345, 12345},
  };
  for (const auto& row : rows) {
    auto file = MakeConfigFile(UsedBlock());
    for (std::size_t i = 0; i < row.bytes; ++i) file[8 + row.offset + i] = uint8_t(row.stored >> 8 * i);
    const Loaded r = Load(file);
    ASSERT_TRUE(r.result.ok()) << row.name;
    const auto back = SavedBack(r.state);
    uint32_t saved = 0;
    for (std::size_t i = 0; i < row.bytes; ++i) saved |= uint32_t(back[8 + row.offset + i]) << 8 * i;
    EXPECT_EQ(saved, row.loaded) << row.name;
    if (row.offset == 8) {  // the window is told the id it does not list
      const std::string call = "resolutionId:" + std::to_string(row.loaded);
      EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), call), r.calls.end());
    }
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
  // At start-up the buffers are empty: the cut path is all that is there.
  EXPECT_EQ(Load(cut).state.imagePath.toUtf8(), "/new/p");

  // The slideshow path ending one byte early: the name is left alone, the
  // two paths before it were whole.
  const auto three = MakeConfigFile(UsedBlock({1, 1, 1, 2, 0, 0, 1, 2}), "/i.png", "/o.png", "/s/shot1.png");
  start.slideshowName = "kept";
  const Loaded s = Load(std::vector<uint8_t>(three.begin(), three.end() - 1), false, start);
  EXPECT_EQ(s.state.slideshowName, "kept");
  EXPECT_EQ(s.calls.front(), "message:No slideshow path data|Load File");
  EXPECT_EQ(s.state.live.slideshow.mode, 0);
  EXPECT_EQ(s.state.overlayName, "/o.png");
  // A longer file loads its first 2364 bytes.
  auto longer = three;
  longer.resize(5000, 0xFF);
  const Loaded l = Load(longer);
  EXPECT_EQ(l.result.outcome, LoadOutcome::Applied);
  EXPECT_EQ(l.state.slideshowName, "/s/shot1.png");
}

TEST(LoadConfigFile, SlideshowFixUps) {
  const struct { const char* name; SlideshowState stored; uint8_t mode, current; bool resume; } rows[] = {
      {"automatic without a valid sequence is off", {2, 5, 3, 9, 0, 0, 0, 2}, 0, 5, false},
      {"automatic resumes at the end number", {2, 5, 3, 9, 0, 0, 1, 2}, 2, 9, true},
      {"start above end is an invalid sequence: off", {2, 5, 3, 0, 0, 0, 1, 2}, 0, 5, false},
      {"start 0 takes the end number 0", {2, 5, 0, 0, 0, 0, 1, 2}, 2, 0, true},
      {"by hand keeps its number", {1, 5, 3, 9, 0, 0, 1, 2}, 1, 5, false},
      {"a mode never written is off", {7, 5, 3, 9, 0, 0, 1, 2}, 0, 5, false},
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
  }
}

TEST(LoadConfigFile, StartAndEndCaptionsFollowTheStoredNumbers) {
  const struct { uint8_t start, end, format; Calls captions; } rows[] = {
      {3, 9, 1, {"startCaption:Start at:- 03", "endCaption:End at:- 09"}},
      {3, 0, 2, {"startCaption:Start at:- 003"}},
      {0, 12, 0, {"startCaption:Start at:- 0", "endCaption:End at:- 12"}},
      {0, 0, 0, {}},
  };
  for (const auto& row : rows) {
    const Loaded r = Load(MakeConfigFile(UsedBlock({1, 0, row.start, row.end, row.format, 0, 1, 2})));
    Calls captions;
    std::copy_if(r.calls.begin(), r.calls.end(), std::back_inserter(captions),
                 [](const std::string& c) { return c.find("Caption:") != std::string::npos; });
    EXPECT_EQ(captions, row.captions) << int(row.start) << ".." << int(row.end);
    EXPECT_EQ(r.calls.back(), "pushControls");
  }
}

}  // namespace
}  // namespace plombix
