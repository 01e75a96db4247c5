// NdiRuntime loader: which library serves, what is skipped and why, and that
// calls through the table reach the library with every value intact.
#include "ndi_runtime.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "fake_ndi_runtime.h"

using namespace plombix;

namespace {

const std::string kFakeLib = std::string(PLOMBIX_FAKE_NDI_DIR) + "/libndi.so.6";
const std::string kMissingLib = std::string(PLOMBIX_FAKE_NDI_MISSING_DIR) + "/libndi.so.6";
const std::string kBuildLib = std::string(PLOMBIX_BINARY_DIR) + "/lib";
const std::string kStandIn = kBuildLib + "/libplombix_ndi.so";

// Each test starts from an environment without any of the loader's variables.
class NdiLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"PLOMBIX_NDI_RUNTIME", "NDI_RUNTIME_DIR_V6", "NDI_RUNTIME_DIR_V5"})
      ::unsetenv(v);
  }
  void TearDown() override { SetUp(); }
  static NdiRuntimeOptions standInFromBuild() {
    NdiRuntimeOptions o;
    o.standInDirs = {kBuildLib};
    return o;
  }
};

}  // namespace

// Which library serves for each setting of the folder variable, the forced
// path and the receive functions, and the reason given for each one skipped.
TEST_F(NdiLoader, ChoosesTheLibraryAndSaysWhyOthersWereSkipped) {
  const std::string getTally = "Could not load function 'NDIlib_send_get_tally' from module '";
  const struct {
    const char* name;
    const char* v6Dir;
    std::string forced;
    bool receive;
    NdiRuntimeKind kind;
    std::string path;
    std::string skipped;  // the start of the one reason, or empty for none
  } rows[] = {
      {"the vendor folder wins over the stand-in", PLOMBIX_FAKE_NDI_DIR, "", false, NdiRuntimeKind::Vendor,
       kFakeLib, ""},
      {"a library missing a sender function is skipped", PLOMBIX_FAKE_NDI_MISSING_DIR, "", false,
       NdiRuntimeKind::StandIn, kStandIn, getTally + kMissingLib + "'"},
      {"receivers skip a library without receive functions", PLOMBIX_FAKE_NDI_DIR, "", true,
       NdiRuntimeKind::StandIn, kStandIn,
       "Could not load function 'NDIlib_find_create_v2' from module '" + kFakeLib + "'"},
      {"the forced path wins over everything", PLOMBIX_FAKE_NDI_DIR, kStandIn, false, NdiRuntimeKind::Forced,
       kStandIn, ""},
      // A forced path that fails is reported and nothing else is used.
      {"forced absent file", PLOMBIX_FAKE_NDI_DIR, "/nonexistent/libx.so", false, NdiRuntimeKind::None, "",
       "Could not open module '/nonexistent/libx.so': "},
      {"forced library missing a function", PLOMBIX_FAKE_NDI_DIR, kMissingLib, false, NdiRuntimeKind::None,
       "", getTally + kMissingLib + "'"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    ::setenv("NDI_RUNTIME_DIR_V6", row.v6Dir, 1);
    if (!row.forced.empty()) ::setenv("PLOMBIX_NDI_RUNTIME", row.forced.c_str(), 1);
    NdiRuntimeOptions options = standInFromBuild();
    if (row.receive) options.receive = NdiReceiveSymbols::Required;
    const NdiRuntimeLoad load = LoadNdiRuntime(options);
    EXPECT_EQ(load.runtime.kind, row.kind);
    EXPECT_EQ(load.runtime.loaded(), row.kind != NdiRuntimeKind::None) << load.error;
    EXPECT_EQ(load.runtime.path, row.path);
    ASSERT_EQ(load.skipped.size(), row.skipped.empty() ? 0u : 1u);
    EXPECT_TRUE(row.skipped.empty() || load.skipped[0].rfind(row.skipped, 0) == 0) << load.skipped[0];
    EXPECT_EQ(load.runtime.hasReceive(), row.path == kStandIn);  // the fake is a sender only
    if (row.kind == NdiRuntimeKind::None) {
      EXPECT_NE(load.error.find("PLOMBIX_NDI_RUNTIME"), std::string::npos);
      EXPECT_NE(load.error.find(row.forced), std::string::npos);
    }
  }
  SetUp();  // the versions of the two that serve
  ::setenv("NDI_RUNTIME_DIR_V6", PLOMBIX_FAKE_NDI_DIR, 1);
  EXPECT_STREQ(LoadNdiRuntime(standInFromBuild()).runtime.version(), "Recording fake runtime 9.8.7");
  ::setenv("PLOMBIX_NDI_RUNTIME", kStandIn.c_str(), 1);
  EXPECT_EQ(std::string(LoadNdiRuntime(standInFromBuild()).runtime.version())
                .rfind("Vora Plombix stand-in runtime ", 0),
            0u);
}

TEST_F(NdiLoader, CallsReachTheLibraryWithEveryValueIntact) {
  ::setenv("NDI_RUNTIME_DIR_V6", PLOMBIX_FAKE_NDI_DIR, 1);
  const NdiRuntimeLoad load = LoadNdiRuntime(standInFromBuild());
  ASSERT_TRUE(load.runtime.loaded()) << load.error;
  const NdiRuntime& ndi = load.runtime;
  FakeNdiState* fake = FakeNdiAttach(kFakeLib);
  ASSERT_NE(fake, nullptr);
  fake->reset();
  fake->keepPixels = true;

  ASSERT_TRUE(ndi.initialize());
  const NDIlib_send_create_t settings{"Vora Plombix 3", nullptr, true, false};
  NDIlib_send_instance_t sender = ndi.sendCreate(&settings);
  ASSERT_NE(sender, nullptr);
  char text[] = "<ndi_product short_name=\"x\"/>";
  const NDIlib_metadata_frame_t metadata{int(std::strlen(text)), kNdiTimecodeSynthesize, text};
  ndi.sendAddConnectionMetadata(sender, &metadata);

  // A 3 x 2 frame with 4 bytes of padding after each row.
  uint8_t pixels[2 * 16];
  for (int i = 0; i < 32; ++i) pixels[i] = uint8_t(i * 7 + 1);
  const NDIlib_video_frame_v2_t frame{
      3, 2, NdiFourCC::BGRX, 30000, 1001, 16.0f / 9.0f, NdiFrameFormat::Progressive, kNdiTimecodeSynthesize,
      pixels, {16}, nullptr, 0};
  ndi.sendVideoAsyncV2(sender, &frame);
  ndi.sendVideoAsyncV2(sender, nullptr);

  fake->tally = {true, false};
  fake->connections = 2;
  NDIlib_tally_t tally{};
  EXPECT_TRUE(ndi.sendGetTally(sender, &tally, 0));
  EXPECT_TRUE(tally.on_program);
  EXPECT_FALSE(tally.on_preview);
  EXPECT_FALSE(ndi.sendGetTally(sender, &tally, 0));  // unchanged since the last call
  EXPECT_EQ(ndi.sendGetNoConnections(sender, 0), 2);
  ndi.sendDestroy(sender);
  ndi.destroy();

  const std::vector<FakeNdiCall> calls = fake->snapshot();
  std::vector<std::string> functions;
  for (const FakeNdiCall& c : calls) functions.push_back(c.function);
  EXPECT_EQ(functions, (std::vector<std::string>{
                           "NDIlib_initialize", "NDIlib_send_create", "NDIlib_send_add_connection_metadata",
                           "NDIlib_send_send_video_async_v2", "NDIlib_send_send_video_async_v2",
                           "NDIlib_send_get_tally", "NDIlib_send_get_tally", "NDIlib_send_get_no_connections",
                           "NDIlib_send_destroy", "NDIlib_destroy"}));
  ASSERT_EQ(calls.size(), 10u);
  EXPECT_EQ(calls[1].name, "Vora Plombix 3");
  EXPECT_TRUE(calls[1].groupsNull && calls[1].clockVideo && !calls[1].clockAudio);
  EXPECT_EQ(calls[2].metadataText, text);
  EXPECT_EQ(calls[2].metadataLength, 29);  // counted by hand: the text without its zero
  EXPECT_EQ(calls[2].metadataTimecode, INT64_MAX);
  // The frame arrives as passed, field for field (FourCC 'BGRX' 0x58524742,
  // aspect 16/9 as the float 0x3FE38E39, progressive 1, timecode INT64_MAX);
  // the pixels are rows 0..11 and 16..27 of the buffer.
  const auto fields = [](const NDIlib_video_frame_v2_t& f) {
    return std::tuple(f.xres, f.yres, f.FourCC, f.frame_rate_N, f.frame_rate_D, f.picture_aspect_ratio,
                      f.frame_format_type, f.timecode, f.p_data, f.line_stride_in_bytes, f.p_metadata,
                      f.timestamp);
  };
  EXPECT_EQ(fields(calls[3].frame), fields(frame));
  uint32_t aspectBits;
  std::memcpy(&aspectBits, &calls[3].frame.picture_aspect_ratio, 4);
  EXPECT_EQ(std::tuple(int32_t(calls[3].frame.FourCC), aspectBits, int(calls[3].frame.frame_format_type)),
            std::tuple(0x58524742, 0x3FE38E39u, 1));
  std::vector<uint8_t> packed(pixels, pixels + 12);
  packed.insert(packed.end(), pixels + 16, pixels + 28);
  EXPECT_EQ(calls[3].pixels, packed);
  EXPECT_TRUE(calls[4].frameNull);
  EXPECT_EQ(calls[5].timeoutMs, 0u);
  EXPECT_EQ(calls[8].instance, static_cast<void*>(sender));

  // Failures come back as the library gives them.
  fake->reset();
  fake->sendCreateFails = true;
  fake->initializeResult = false;
  EXPECT_FALSE(ndi.initialize());
  EXPECT_EQ(ndi.sendCreate(&settings), nullptr);
}

TEST_F(NdiLoader, StandInIsFoundBesideTheProgram) {
  // Test programs live in <build>/bin, so <exe dir>/../lib is <build>/lib.
  NdiRuntimeOptions options;
  options.skipVendor = true;
  const NdiRuntimeLoad load = LoadNdiRuntime(options);
  ASSERT_TRUE(load.runtime.loaded()) << load.error;
  EXPECT_EQ(load.runtime.kind, NdiRuntimeKind::StandIn);
  EXPECT_EQ(std::filesystem::canonical(load.runtime.path), std::filesystem::canonical(kStandIn));
  EXPECT_EQ(std::filesystem::canonical(NdiExecutableDir() + "/../lib"),
            std::filesystem::canonical(kBuildLib));
}

TEST_F(NdiLoader, NothingUsableGivesAnErrorNotACrash) {
  NdiRuntimeOptions options;
  options.skipVendor = true;
  options.standInDirs = {PLOMBIX_FAKE_NDI_MISSING_DIR};  // holds no stand-in
  const NdiRuntimeLoad load = LoadNdiRuntime(options);
  if (load.runtime.loaded()) GTEST_SKIP() << "a stand-in is installed on the loader's path";
  EXPECT_NE(load.error.find("No usable NDI runtime"), std::string::npos) << load.error;
  EXPECT_EQ(load.runtime.sendCreate, nullptr);
}

TEST(NdiAbi, FourCCFromItsCharacters) {
  // 'B' 0x42, 'G' 0x47, 'R' 0x52, 'A' 0x41, 'X' 0x58, little end first.
  EXPECT_EQ(NdiMakeFourCC('B', 'G', 'R', 'A'), 0x41524742);
  EXPECT_EQ(NdiMakeFourCC('B', 'G', 'R', 'X'), 0x58524742);
  EXPECT_EQ(kNdiTimecodeSynthesize, 0x7fffffffffffffffLL);
}
