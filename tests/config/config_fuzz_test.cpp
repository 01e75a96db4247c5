// Loading damaged files: every truncation of a valid file gets the outcome
// the format dictates; nothing crashes or reads past the data (the
// sanitizer build checks the reads).
#include <gtest/gtest.h>

#include "config_file.h"
#include "config_test_support.h"

namespace plombix {
namespace {

TEST(LoadConfigFileFuzz, EveryTruncationOfAValidFileFailsOrLoadsCleanly) {
  ViewerConfig b;
  b.useLast = b.useImage = b.overlayOn = 1;
  b.slideshow = {2, 5, 3, 9, 1, 0, 1, 10};
  std::vector<uint8_t> full = testing::MakeConfigFile(b);
  for (std::size_t i = 60; i < 2364; i += 2) full[i] = static_cast<uint8_t>('a' + i % 26);
  for (std::size_t at : {60u + 200u, 828u + 300u, 1596u + 766u}) full[at] = 0;  // terminators
  testing::TempDir dir;
  for (std::size_t n = 0; n <= full.size(); ++n) {
    testing::WriteBytes(dir.file("last.plq"), std::vector<uint8_t>(full.begin(), full.begin() + long(n)));
    ConfigState state;
    ASSERT_TRUE(state.imagePath.assign(std::string(383, 'q')));  // a full previous buffer
    testing::RecordingConfigHost host;
    const auto r = LoadConfigFile(dir.file("last.plq"), true, state, host);
    if (n < 60) {  // nothing applied, one message
      ASSERT_EQ(r.outcome, n < 8 ? LoadOutcome::BadMagic : LoadOutcome::ShortBlock) << n << " bytes";
      EXPECT_EQ(host.calls, std::vector<std::string>{n < 8 ? "message:Unrecognised file type|Load File"
                                                           : "message:Something went wrong reading data|Load File"});
      EXPECT_EQ(state.live, ViewerConfig{}) << n << " bytes";
      EXPECT_EQ(state.imagePath.toUtf8(), std::string(383, 'q')) << n << " bytes";
      continue;
    }
    ASSERT_EQ(r.outcome, LoadOutcome::Applied) << n << " bytes";
    EXPECT_EQ(host.starting("message:").size(), n < 828 ? 3u : n < 1596 ? 2u : n < 2364 ? 1u : 0u) << n << " bytes";
    EXPECT_EQ(state.live.slideshow.mode, n < 2364 ? 0 : 2) << n << " bytes";
  }
}

}  // namespace
}  // namespace plombix
