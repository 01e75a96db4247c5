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

// A file laid out by hand at the documented offsets.
std::vector<uint8_t> MakeFile(const ViewerConfig& block, const char* image, const char* overlay,
                              const char* slideshow) {
  std::vector<uint8_t> f(2364, 0);
  std::memcpy(f.data(), "QLVPLMX1", 8);
  EncodeViewerConfig(block, std::span<uint8_t, 52>(f.data() + 8, 52));
  const char* paths[3] = {image, overlay, slideshow};
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t at = 60 + 768 * i; *paths[i]; ++paths[i], at += 2)
      f[at] = static_cast<uint8_t>(*paths[i]);
  return f;
}

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

TEST(LoadConfigFile, SavedFileComesBackFieldForFieldAndPathForPath) {
  TempDir dir;
  ConfigState saved;
  ViewerConfig& b = saved.live;
  b = {0x00112233, 0x00445566, 32796, 32782, 32789, 10, 20, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1,
       {1, 4, 2, 8, 2, 1, 1, 30}, {}};
  ASSERT_TRUE(saved.imagePath.assign("/img/caf\xC3\xA9.png"));
  ASSERT_TRUE(saved.overlayPath.assign("/img/logo.png"));
  ASSERT_TRUE(saved.slideshowPath.assign("/shots/shot02.jpg"));
  ASSERT_TRUE(
      SaveConfigFile(dir.file("last.plq"), b, saved.imagePath, saved.overlayPath, saved.slideshowPath).ok());
  EXPECT_EQ(ReadBytes(dir.file("last.plq")).size(), 2364u);

  const Loaded r = LoadPath(dir.file("last.plq"));
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

TEST(LoadConfigFile, WrongMagicOrFileEndingInsideTheBlockReportsAndAppliesNothing) {
  const auto good = MakeFile(UsedBlock(), "/a.png", "", "");
  std::vector<std::pair<std::vector<uint8_t>, LoadOutcome>> files;
  for (std::size_t i = 0; i < 8; ++i) {
    files.emplace_back(good, LoadOutcome::BadMagic);
    files.back().first[i] ^= 0x20;  // one byte differs ("qLVPLMX1", ...)
  }
  for (long n = 0; n < 60; ++n)
    files.emplace_back(std::vector<uint8_t>(good.begin(), good.begin() + n),
                       n < 8 ? LoadOutcome::BadMagic : LoadOutcome::ShortBlock);
  for (std::size_t k = 0; k < files.size(); ++k) {
    const Loaded r = Load(files[k].first, true);
    const bool magic = files[k].second == LoadOutcome::BadMagic;
    EXPECT_EQ(r.result.outcome, files[k].second) << "case " << k;
    EXPECT_EQ(r.calls, Calls{magic ? "message:Unrecognised file type|Load File"
                                   : "message:Something went wrong reading data|Load File"})
        << "case " << k;
    EXPECT_EQ(r.state.live, ViewerConfig{}) << "case " << k;
    EXPECT_TRUE(r.state.imagePath.empty()) << "case " << k;
  }
}

TEST(LoadConfigFile, SixtyByteFileGivesThreeMessagesInOrderThenAppliesWithThoseFieldsCleared) {
  ViewerConfig b = UsedBlock({2, 0, 0, 0, 0, 0, 1, 2});
  b.useImage = 1;
  b.overlayOn = 1;
  auto f = MakeFile(b, "", "", "");
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
  f = MakeFile(UsedBlock(), "", "", "");
  f.resize(60);
  EXPECT_EQ(Load(f).calls, Calls(expected.begin() + 3, expected.end()));
}

TEST(LoadConfigFile, UseLastOffRestoresThePathsOnlyUnlessForced) {
  ViewerConfig b;  // useLast 0
  b.scalingMode = 0;
  b.fadeOn = 1;
  b.useImage = 1;
  const auto f = MakeFile(b, "/img/a.png", "/img/o.png", "/s/shot1.png");
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

TEST(LoadConfigFile, UnlistedIdIsKeptAndSavedBackUnchanged) {
  ViewerConfig b = UsedBlock();
  b.resolutionId = 12345;
  const Loaded r = Load(MakeFile(b, "", "", ""));
  ASSERT_TRUE(r.result.ok());
  EXPECT_NE(std::find(r.calls.begin(), r.calls.end(), "resolutionId:12345"), r.calls.end());
  EXPECT_EQ(r.state.live.resolutionId, 12345u);
  TempDir dir;
  ASSERT_TRUE(SaveConfigFile(dir.file("again.plq"), r.state.live, r.state.imagePath, r.state.overlayPath,
                             r.state.slideshowPath).ok());
  const auto f = ReadBytes(dir.file("again.plq"));
  EXPECT_EQ(f[16] | f[17] << 8 | f[18] << 16 | f[19] << 24, 12345);  // block offset 8 + 8
}

TEST(LoadConfigFile, DurationIsClampedToTwoThrough240) {
  for (const auto& [stored, loaded] :
       {std::pair<uint8_t, uint8_t>{0, 2}, {1, 2}, {2, 2}, {100, 100}, {240, 240}, {241, 240}, {255, 240}}) {
    const Loaded r = Load(MakeFile(UsedBlock({0, 0, 0, 0, 0, 0, 0, stored}), "", "", ""));
    EXPECT_EQ(r.state.live.slideshow.durationSecs, loaded) << "stored " << int(stored);
  }
}

// Values no control can produce come into range on loading and are saved
// back that way; in-range values are kept as they are.
TEST(LoadConfigFile, ValuesNoControlCanProduceAreBroughtIntoRangeAndSavedSo) {
  const struct {
    const char* name;
    int offset;        // in the block
    uint8_t stored, loaded;
  } rows[] = {
      {"sides 100", 20, 100, 99},        {"sides 255", 20, 255, 99},   {"sides 99", 20, 99, 99},
      {"top/bottom 200", 21, 200, 99},   {"scaling 3", 24, 3, 1},      {"scaling 255", 24, 255, 1},
      {"scaling 2", 24, 2, 2},           {"number format 3", 36, 3, 2}, {"number format 2", 36, 2, 2},
  };
  for (const auto& row : rows) {
    auto file = MakeFile(UsedBlock(), "", "", "");
    file[size_t(8 + row.offset)] = row.stored;
    const Loaded r = Load(file);
    TempDir dir;
    ASSERT_TRUE(SaveConfigFile(dir.file("back.plq"), r.state.live, r.state.imagePath,
                               r.state.overlayPath, r.state.slideshowPath)
                    .ok());
    EXPECT_EQ(ReadBytes(dir.file("back.plq"))[size_t(8 + row.offset)], row.loaded) << row.name;
  }
}

TEST(LoadConfigFile, FileEndingInsideAPathKeepsWhatArrivedAndCountsAsMissing) {
  ViewerConfig b = UsedBlock();
  b.useImage = 1;
  const auto full = MakeFile(b, "/new/picture.png", "", "");
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
  const auto three = MakeFile(UsedBlock({1, 1, 1, 2, 0, 0, 1, 2}), "/i.png", "/o.png", "/s/shot1.png");
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
  const struct {
    const char* name;
    SlideshowState stored;
    uint8_t mode, current;
    bool resume;
  } rows[] = {
      {"automatic without a valid sequence is off", {2, 5, 3, 9, 0, 0, 0, 2}, 0, 5, false},
      {"automatic resumes at the end number", {2, 5, 3, 9, 0, 0, 1, 2}, 2, 9, true},
      {"start above end is an invalid sequence: off", {2, 5, 3, 0, 0, 0, 1, 2}, 0, 5, false},
      {"start 0 takes the end number 0", {2, 5, 0, 0, 0, 0, 1, 2}, 2, 0, true},
      {"by hand keeps its number", {1, 5, 3, 9, 0, 0, 1, 2}, 1, 5, false},
      {"a mode never written is off", {7, 5, 3, 9, 0, 0, 1, 2}, 0, 5, false},
  };
  for (const auto& row : rows) {
    const Loaded r = Load(MakeFile(UsedBlock(row.stored), "", "", "/s/shot3.png"));
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
  const struct {
    uint8_t start, end, format;
    Calls captions;
  } rows[] = {
      {3, 9, 1, {"startCaption:Start at:- 03", "endCaption:End at:- 09"}},
      {3, 0, 2, {"startCaption:Start at:- 003"}},
      {0, 12, 0, {"startCaption:Start at:- 0", "endCaption:End at:- 12"}},
      {0, 0, 0, {}},
  };
  for (const auto& row : rows) {
    const Loaded r = Load(MakeFile(UsedBlock({1, 0, row.start, row.end, row.format, 0, 1, 2}), "", "", ""));
    Calls captions;
    std::copy_if(r.calls.begin(), r.calls.end(), std::back_inserter(captions),
                 [](const std::string& c) { return c.find("Caption:") != std::string::npos; });
    EXPECT_EQ(captions, row.captions) << int(row.start) << ".." << int(row.end);
    EXPECT_EQ(r.calls.back(), "pushControls");
  }
}

}  // namespace
}  // namespace plombix
