// Loading damaged files: every truncation of a valid file and random bytes.
// Nothing may crash or read past the data (the sanitizer build checks the
// reads); each length gets the outcome the format dictates.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "config_file.h"
#include "config_test_support.h"

namespace plombix {
namespace {

using testing::RecordingConfigHost;
using testing::TempDir;
using testing::WriteBytes;

std::vector<uint8_t> ValidFile() {
  ViewerConfig b;
  b.useLast = 1;
  b.useImage = 1;
  b.overlayOn = 1;
  b.slideshow = {2, 5, 3, 9, 1, 0, 1, 10};
  std::vector<uint8_t> f = testing::MakeConfigFile(b);
  for (std::size_t i = 60; i < 2364; i += 2) f[i] = static_cast<uint8_t>('a' + i % 26);
  for (std::size_t at : {60u + 200u, 828u + 300u, 1596u + 766u}) f[at] = 0;  // terminators
  return f;
}

void CheckInvariants(const ConfigState& s, const std::string& where) {
  if (s.live.useLast == 0) return;
  EXPECT_LE(s.live.slideshow.mode, 2) << where;
  EXPECT_GE(s.live.slideshow.durationSecs, 2) << where;
  EXPECT_LE(s.live.slideshow.durationSecs, 240) << where;
}

TEST(LoadConfigFileFuzz, EveryTruncationOfAValidFileFailsOrLoadsCleanly) {
  TempDir dir;
  const auto full = ValidFile();
  for (std::size_t n = 0; n <= full.size(); ++n) {
    WriteBytes(dir.file("last.plq"), std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(n)));
    ConfigState state;
    ASSERT_TRUE(state.imagePath.assign(std::string(383, 'q')));  // a full previous buffer
    RecordingConfigHost host;
    const auto r = LoadConfigFile(dir.file("last.plq"), true, state, host);
    if (n < 60) {  // nothing applied, one message
      ASSERT_EQ(r.outcome, n < 8 ? LoadOutcome::BadMagic : LoadOutcome::ShortBlock) << n << " bytes";
      const std::string message = n < 8 ? "message:Unrecognised file type|Load File"
                                        : "message:Something went wrong reading data|Load File";
      EXPECT_EQ(host.calls, std::vector<std::string>{message}) << n << " bytes";
      EXPECT_EQ(state.live, ViewerConfig{}) << n << " bytes";
      EXPECT_EQ(state.imagePath.toUtf8(), std::string(383, 'q')) << n << " bytes";
      continue;
    }
    ASSERT_EQ(r.outcome, LoadOutcome::Applied) << n << " bytes";
    const std::size_t pathMessages = n < 828 ? 3 : (n < 1596 ? 2 : (n < 2364 ? 1 : 0));
    EXPECT_EQ(host.starting("message:").size(), pathMessages) << n << " bytes";
    CheckInvariants(state, std::to_string(n) + " bytes");
    if (n == full.size()) {
      EXPECT_EQ(state.slideshowName.size(), (766u - 0u) / 2) << "slideshow path read whole";
    }
  }
}

TEST(LoadConfigFileFuzz, RandomFilesNeverCrashAndKeepTheInvariants) {
  const unsigned seed = 4242;
  std::mt19937 rng(seed);
  TempDir dir;
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> f(rng() % 3000);
    for (auto& b : f) b = static_cast<uint8_t>(rng());
    if (f.size() >= 8 && rng() % 4 != 0) std::memcpy(f.data(), "QLVPLMX1", 8);
    if (f.size() >= 60 && rng() % 2 == 0) f[8 + 29] = 1;  // useLast
    WriteBytes(dir.file("last.plq"), f);
    ConfigState state;
    RecordingConfigHost host;
    const bool force = rng() % 2 == 0;
    const auto r = LoadConfigFile(dir.file("last.plq"), force, state, host);
    const std::string where = "seed " + std::to_string(seed) + " round " + std::to_string(round);
    const bool magic = f.size() >= 8 && std::memcmp(f.data(), "QLVPLMX1", 8) == 0;
    if (!magic) {
      ASSERT_EQ(r.outcome, LoadOutcome::BadMagic) << where;
    } else if (f.size() < 60) {
      ASSERT_EQ(r.outcome, LoadOutcome::ShortBlock) << where;
    } else {
      ASSERT_TRUE(r.ok()) << where;
      CheckInvariants(state, where);
      // Whatever the buffers hold, reading them stays inside them.
      (void)state.imagePath.toUtf8();
      (void)state.overlayPath.toUtf8();
    }
  }
}

}  // namespace
}  // namespace plombix
