#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

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
  for (int i = 0; i < 3; ++i) {
    std::size_t at = 60 + 768 * static_cast<std::size_t>(i);
    for (const char* p = paths[i]; *p; ++p, at += 2) f[at] = static_cast<uint8_t>(*p);
  }
  return f;
}

// Also notes the slideshow record as the refresh call sees it.
class Host : public RecordingConfigHost {
 public:
  explicit Host(const ConfigState& s) : state(s) {}
  void refreshSlideshowButton() override {
    const auto& show = state.live.slideshow;
    calls.push_back("refreshSlideshowButton mode=" + std::to_string(show.mode) +
                    " current=" + std::to_string(show.currentNumber) +
                    " resume=" + std::to_string(state.resumeSlideshow));
  }
  const ConfigState& state;
};

struct Loaded {
  LoadResult result;
  ConfigState state;
  Calls calls;
};

Loaded Load(const std::vector<uint8_t>& bytes, bool forceLast = false, const ConfigState& start = {}) {
  TempDir dir;
  WriteBytes(dir.file("last.plq"), bytes);
  Loaded out;
  out.state = start;
  Host host(out.state);
  out.result = LoadConfigFile(dir.file("last.plq"), forceLast, out.state, host);
  out.calls = host.calls;
  return out;
}

ViewerConfig UsedBlock() {
  ViewerConfig b;
  b.useLast = 1;
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
  ASSERT_TRUE(SaveConfigFile(dir.file("last.plq"), b, saved.imagePath, saved.overlayPath,
                             saved.slideshowPath).ok());
  EXPECT_EQ(ReadBytes(dir.file("last.plq")).size(), 2364u);

  ConfigState state;
  Host host(state);
  ASSERT_EQ(LoadConfigFile(dir.file("last.plq"), false, state, host).outcome, LoadOutcome::Applied);
  EXPECT_EQ(state.staging, b);
  EXPECT_EQ(state.live, b);  // mode 1 with a valid sequence: no fix-up changes it
  EXPECT_EQ(state.imagePath, saved.imagePath);
  EXPECT_EQ(state.overlayPath, saved.overlayPath);
  EXPECT_EQ(state.slideshowPath, saved.slideshowPath);
  EXPECT_EQ(state.currentFileName, "/img/caf\xC3\xA9.png");  // useImage 1
  EXPECT_EQ(state.overlayName, "/img/logo.png");
  EXPECT_EQ(state.slideshowName, "/shots/shot02.jpg");
  EXPECT_TRUE(host.messages().empty());
}

TEST(LoadConfigFile, MissingFileIsSilentAndChangesNothing) {
  TempDir dir;
  ConfigState state;
  Host host(state);
  EXPECT_EQ(LoadConfigFile(dir.file("last.plq"), true, state, host).outcome, LoadOutcome::NotOpened);
  EXPECT_FALSE(LoadConfigFile(dir.file("last.plq"), true, state, host).ok());
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(state.live, ViewerConfig{});
}

TEST(LoadConfigFile, SomethingOtherThanARegularFileCountsAsUnopenable) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("dir.plq").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(dir.file("fifo.plq").c_str(), 0644), 0);  // must not block
  for (const char* name : {"dir.plq", "fifo.plq"}) {
    ConfigState state;
    Host host(state);
    EXPECT_EQ(LoadConfigFile(dir.file(name), true, state, host).outcome, LoadOutcome::NotOpened) << name;
    EXPECT_TRUE(host.calls.empty()) << name;
  }
}

TEST(LoadConfigFile, WrongOrShortMagicIsUnrecognised) {
  const auto good = MakeFile(UsedBlock(), "", "", "");
  std::vector<std::vector<uint8_t>> files;
  for (int i = 0; i < 8; ++i) {
    auto f = good;
    f[static_cast<std::size_t>(i)] ^= 0x20;  // one byte differs ("qLVPLMX1", ...)
    files.push_back(f);
  }
  for (std::size_t n = 0; n < 8; ++n) files.emplace_back(good.begin(), good.begin() + static_cast<long>(n));
  for (std::size_t k = 0; k < files.size(); ++k) {
    const auto r = Load(files[k], true);
    EXPECT_EQ(r.result.outcome, LoadOutcome::BadMagic) << "case " << k;
    EXPECT_EQ(r.calls, Calls{"message:Unrecognised file type|Load File"}) << "case " << k;
    EXPECT_EQ(r.state.live, ViewerConfig{}) << "case " << k;
  }
}

TEST(LoadConfigFile, FileEndingInsideTheBlockReportsAndAppliesNothing) {
  const auto good = MakeFile(UsedBlock(), "/a.png", "", "");
  for (std::size_t n = 8; n < 60; ++n) {
    const auto r = Load(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(n)), true);
    EXPECT_EQ(r.result.outcome, LoadOutcome::ShortBlock) << n << " bytes";
    EXPECT_EQ(r.calls, Calls{"message:Something went wrong reading data|Load File"}) << n << " bytes";
    EXPECT_EQ(r.state.live, ViewerConfig{}) << n << " bytes";
    EXPECT_TRUE(r.state.imagePath.empty()) << n << " bytes";
  }
}

TEST(LoadConfigFile, SixtyByteFileGivesThreeMessagesInOrderThenAppliesWithThoseFieldsCleared) {
  ViewerConfig b = UsedBlock();
  b.useImage = 1;
  b.overlayOn = 1;
  b.slideshow.mode = 2;
  b.slideshow.sequenceValid = 1;
  auto f = MakeFile(b, "", "", "");
  f.resize(60);
  const auto r = Load(f);
  EXPECT_EQ(r.result.outcome, LoadOutcome::Applied);
  EXPECT_EQ(r.state.staging.useImage, 0);
  EXPECT_EQ(r.state.staging.overlayOn, 0);
  EXPECT_EQ(r.state.staging.slideshow.mode, 0);
  EXPECT_EQ(r.state.live.useImage, 0);
  EXPECT_EQ(r.state.live.overlayOn, 0);
  EXPECT_EQ(r.state.live.slideshow.mode, 0);
  EXPECT_FALSE(r.state.resumeSlideshow);
  // Messages first, then the apply: only useLast differs from the defaults.
  const Calls expected = {
      "message:No image path data|Load File",
      "message:No overlay path data|Load File",
      "message:No slideshow path data|Load File",
      "useLast:1",
      "pushControls",
      "enableSidesEdit:1",
      "updateBorders:0",
      "refreshSlideshowButton mode=0 current=0 resume=0",
      "pushControls",
  };
  EXPECT_EQ(r.calls, expected);
}

TEST(LoadConfigFile, SixtyByteFileWithThoseFieldsOffLoadsWithoutAMessage) {
  auto f = MakeFile(UsedBlock(), "", "", "");
  f.resize(60);
  const auto r = Load(f);
  EXPECT_EQ(r.result.outcome, LoadOutcome::Applied);
  for (const auto& c : r.calls) EXPECT_EQ(c.rfind("message:", 0), std::string::npos) << c;
}

TEST(LoadConfigFile, UseLastOffRestoresThePathsButNoSetting) {
  ViewerConfig b;  // useLast 0
  b.scalingMode = 0;
  b.fadeOn = 1;
  b.useImage = 1;
  const auto f = MakeFile(b, "/img/a.png", "/img/o.png", "/s/shot1.png");
  const auto r = Load(f, false);
  EXPECT_EQ(r.result.outcome, LoadOutcome::PathsOnly);
  EXPECT_TRUE(r.result.ok());
  EXPECT_TRUE(r.calls.empty());
  EXPECT_EQ(r.state.live, ViewerConfig{});
  EXPECT_EQ(r.state.imagePath.toUtf8(), "/img/a.png");
  EXPECT_EQ(r.state.overlayPath.toUtf8(), "/img/o.png");
  EXPECT_EQ(r.state.slideshowName, "/s/shot1.png");
  EXPECT_EQ(r.state.currentFileName, "");  // settings not applied, so not set
  EXPECT_EQ(r.state.overlayName, "");
}

TEST(LoadConfigFile, ForceLastAppliesEverythingEvenWithUseLastOff) {
  ViewerConfig b;
  b.scalingMode = 0;
  b.fadeOn = 1;
  b.useImage = 1;
  const auto r = Load(MakeFile(b, "/img/a.png", "/img/o.png", "/s/shot1.png"), true);
  EXPECT_EQ(r.result.outcome, LoadOutcome::Applied);
  EXPECT_EQ(r.state.live.scalingMode, 0);
  EXPECT_EQ(r.state.live.fadeOn, 1);
  EXPECT_EQ(r.state.currentFileName, "/img/a.png");
  EXPECT_EQ(r.state.overlayName, "/img/o.png");
}

TEST(ApplyStagedConfig, EveryDifferingFieldTakesEffectInOrder) {
  ConfigState state;
  ViewerConfig& s = state.staging;
  s = {0x00010203, 0x00040506, 32771, 32782, 32786, 5, 6, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1,
       {1, 0, 0, 0, 0, 0, 1, 2}, {}};
  RecordingConfigHost host;
  ApplyStagedConfig(state, host);
  const Calls expected = {
      "fillColour1:00010203", "fillColour2:00040506", "noAlpha:1", "useLast:1", "useImage:1",
      "scalingMode:0",        "watch:1",              "borderEqual:1", "borderUse:1",
      "limitedRange:1",       "fade:1",               "resolutionId:32771",
      "frameRateId:32782",    "backgroundId:32786",   "pushControls", "enableSidesEdit:0",
      "updateBorders:1",
  };
  EXPECT_EQ(host.calls, expected);
  EXPECT_EQ(state.live.borderSidesPct, 5);  // stored only
  EXPECT_EQ(state.live.borderTopBottomPct, 6);
  EXPECT_EQ(state.live.overlayOn, 1);
  EXPECT_EQ(state.live.slideshow, s.slideshow);
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

TEST(ApplyStagedConfig, ReservedBytesOfTheFileNeverReachTheLiveBlock) {
  ConfigState state;
  state.staging.reserved.fill(0x99);
  RecordingConfigHost host;
  ApplyStagedConfig(state, host);
  EXPECT_EQ(state.live.reserved, (std::array<uint8_t, 12>{}));
}

TEST(LoadConfigFile, UnlistedIdIsKeptAndSavedBackUnchanged) {
  ViewerConfig b = UsedBlock();
  b.resolutionId = 12345;
  TempDir dir;
  WriteBytes(dir.file("last.plq"), MakeFile(b, "", "", ""));
  ConfigState state;
  Host host(state);
  ASSERT_TRUE(LoadConfigFile(dir.file("last.plq"), false, state, host).ok());
  EXPECT_TRUE(host.called("resolutionId:12345"));  // the window's table finds nothing
  EXPECT_EQ(state.live.resolutionId, 12345u);
  ASSERT_TRUE(SaveConfigFile(dir.file("again.plq"), state.live, state.imagePath, state.overlayPath,
                             state.slideshowPath).ok());
  const auto f = ReadBytes(dir.file("again.plq"));
  EXPECT_EQ(f[16] | f[17] << 8 | f[18] << 16 | f[19] << 24, 12345);  // block offset 8 + 8
}

TEST(LoadConfigFile, DurationIsClampedToTwoThrough240) {
  const struct {
    uint8_t stored, loaded;
  } rows[] = {{0, 2}, {1, 2}, {2, 2}, {100, 100}, {240, 240}, {241, 240}, {255, 240}};
  for (const auto& row : rows) {
    ViewerConfig b = UsedBlock();
    b.slideshow.durationSecs = row.stored;
    EXPECT_EQ(Load(MakeFile(b, "", "", "")).state.live.slideshow.durationSecs, row.loaded)
        << "stored " << int(row.stored);
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
  const auto r = Load(cut, false, start);
  EXPECT_EQ(r.state.imagePath.toUtf8(), "/new/pBCDEFGHIJK.png");
  EXPECT_EQ(r.calls.front(), "message:No image path data|Load File");
  EXPECT_EQ(r.state.live.useImage, 0);
  EXPECT_EQ(r.state.currentFileName, "");  // useImage cleared: not taken over
  // At start-up the buffers are empty: the cut path is all that is there.
  EXPECT_EQ(Load(cut).state.imagePath.toUtf8(), "/new/p");
}

TEST(LoadConfigFile, SlideshowPathEndingEarlyLeavesTheNameAlone) {
  ViewerConfig b = UsedBlock();
  b.slideshow = {1, 1, 1, 2, 0, 0, 1, 2};
  const auto full = MakeFile(b, "/i.png", "/o.png", "/s/shot1.png");
  ConfigState start;
  start.slideshowName = "kept";
  const auto r = Load(std::vector<uint8_t>(full.begin(), full.end() - 1), false, start);
  EXPECT_EQ(r.state.slideshowName, "kept");
  EXPECT_EQ(r.calls.front(), "message:No slideshow path data|Load File");
  EXPECT_EQ(r.state.live.slideshow.mode, 0);
  // The two paths before it were whole.
  EXPECT_EQ(r.state.overlayName, "/o.png");
}

TEST(LoadConfigFile, LongerFileLoadsItsFirst2364Bytes) {
  auto f = MakeFile(UsedBlock(), "/i.png", "", "/s/x1.png");
  f.resize(5000, 0xFF);
  const auto r = Load(f);
  EXPECT_EQ(r.result.outcome, LoadOutcome::Applied);
  EXPECT_EQ(r.state.slideshowName, "/s/x1.png");
}

TEST(LoadConfigFile, SlideshowFixUps) {
  const struct {
    const char* name;
    SlideshowState stored;
    uint8_t mode, current;
    bool resume;
    const char* refreshSees;
  } rows[] = {
      {"automatic without a valid sequence is off", {2, 5, 3, 9, 0, 0, 0, 2}, 0, 5, false,
       "refreshSlideshowButton mode=0 current=5 resume=0"},
      {"automatic resumes at the end number", {2, 5, 3, 9, 0, 0, 1, 2}, 2, 9, true,
       "refreshSlideshowButton mode=2 current=5 resume=1"},
      {"end 0 with start 3 keeps the number", {2, 5, 3, 0, 0, 0, 1, 2}, 2, 5, true,
       "refreshSlideshowButton mode=2 current=5 resume=1"},
      {"start 0 takes the end number 0", {2, 5, 0, 0, 0, 0, 1, 2}, 2, 0, true,
       "refreshSlideshowButton mode=2 current=5 resume=1"},
      {"by hand keeps its number", {1, 5, 3, 9, 0, 0, 1, 2}, 1, 5, false,
       "refreshSlideshowButton mode=1 current=5 resume=0"},
      {"a mode never written is off", {7, 5, 3, 9, 0, 0, 1, 2}, 0, 5, false,
       "refreshSlideshowButton mode=0 current=5 resume=0"},
  };
  for (const auto& row : rows) {
    ViewerConfig b = UsedBlock();
    b.slideshow = row.stored;
    const auto r = Load(MakeFile(b, "", "", "/s/shot3.png"));
    EXPECT_EQ(r.state.live.slideshow.mode, row.mode) << row.name;
    EXPECT_EQ(r.state.live.slideshow.currentNumber, row.current) << row.name;
    EXPECT_EQ(r.state.resumeSlideshow, row.resume) << row.name;
    EXPECT_TRUE(r.state.live.slideshow.mode <= 2) << row.name;
    EXPECT_TRUE(std::find(r.calls.begin(), r.calls.end(), row.refreshSees) != r.calls.end()) << row.name;
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
    ViewerConfig b = UsedBlock();
    b.slideshow = {1, 0, row.start, row.end, row.format, 0, 1, 2};
    const auto r = Load(MakeFile(b, "", "", ""));
    Calls captions;
    for (const auto& c : r.calls) {
      if (c.rfind("startCaption:", 0) == 0 || c.rfind("endCaption:", 0) == 0) captions.push_back(c);
    }
    EXPECT_EQ(captions, row.captions) << int(row.start) << ".." << int(row.end);
    EXPECT_EQ(r.calls.back(), "pushControls");
  }
}

TEST(LoadConfigFile, SecondInstanceUsesItsOwnFileAndNeverTouchesLastPlq) {
  TempDir dir;
  ConfigState saved;
  saved.live.useLast = 1;
  saved.live.fadeOn = 1;
  const std::string mine = dir.file(ConfigFileName(1));
  EXPECT_EQ(ConfigFileName(1), "last2.plq");
  ASSERT_TRUE(SaveConfigFile(mine, saved.live, saved.imagePath, saved.overlayPath, saved.slideshowPath).ok());
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"last2.plq"});
  ConfigState state;
  Host host(state);
  ASSERT_TRUE(LoadConfigFile(mine, false, state, host).ok());
  EXPECT_EQ(state.live.fadeOn, 1);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"last2.plq"});
}

}  // namespace
}  // namespace plombix
