// NdiRuntime loader: which library serves, what is skipped and why, and that
// calls through the table reach the library with every value intact.
#include "ndi_runtime.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

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

TEST_F(NdiLoader, VendorFolderWinsOverStandIn) {
  ::setenv("NDI_RUNTIME_DIR_V6", PLOMBIX_FAKE_NDI_DIR, 1);
  const NdiRuntimeLoad load = LoadNdiRuntime(standInFromBuild());
  ASSERT_TRUE(load.runtime.loaded()) << load.error;
  EXPECT_EQ(load.runtime.kind, NdiRuntimeKind::Vendor);
  EXPECT_EQ(load.runtime.path, kFakeLib);
  EXPECT_STREQ(load.runtime.version(), "Recording fake runtime 9.8.7");
  EXPECT_FALSE(load.runtime.hasReceive());  // the fake is a sender only
  EXPECT_TRUE(load.skipped.empty());
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
  NDIlib_video_frame_v2_t frame{};
  frame.xres = 3;
  frame.yres = 2;
  frame.FourCC = NdiFourCC::BGRX;
  frame.frame_rate_N = 30000;
  frame.frame_rate_D = 1001;
  frame.picture_aspect_ratio = 16.0f / 9.0f;
  frame.frame_format_type = NdiFrameFormat::Progressive;
  frame.timecode = kNdiTimecodeSynthesize;
  frame.p_data = pixels;
  frame.line_stride_in_bytes = 16;
  frame.p_metadata = nullptr;
  frame.timestamp = 0;
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
  ASSERT_EQ(calls.size(), 10u);
  EXPECT_EQ(calls[0].function, "NDIlib_initialize");
  EXPECT_EQ(calls[1].function, "NDIlib_send_create");
  EXPECT_EQ(calls[1].name, "Vora Plombix 3");
  EXPECT_TRUE(calls[1].groupsNull);
  EXPECT_TRUE(calls[1].clockVideo);
  EXPECT_FALSE(calls[1].clockAudio);
  EXPECT_EQ(calls[2].function, "NDIlib_send_add_connection_metadata");
  EXPECT_EQ(calls[2].metadataText, text);
  EXPECT_EQ(calls[2].metadataLength, 29);  // counted by hand: the text without its zero
  EXPECT_EQ(calls[2].metadataTimecode, INT64_MAX);
  EXPECT_EQ(calls[3].function, "NDIlib_send_send_video_async_v2");
  const NDIlib_video_frame_v2_t& got = calls[3].frame;
  EXPECT_EQ(got.xres, 3);
  EXPECT_EQ(got.yres, 2);
  EXPECT_EQ(int32_t(got.FourCC), 0x58524742);
  EXPECT_EQ(got.frame_rate_N, 30000);
  EXPECT_EQ(got.frame_rate_D, 1001);
  uint32_t aspectBits;
  std::memcpy(&aspectBits, &got.picture_aspect_ratio, 4);
  EXPECT_EQ(aspectBits, 0x3FE38E39u);
  EXPECT_EQ(int(got.frame_format_type), 1);
  EXPECT_EQ(got.timecode, INT64_MAX);
  EXPECT_EQ(got.p_data, pixels);
  EXPECT_EQ(got.line_stride_in_bytes, 16);
  EXPECT_EQ(got.p_metadata, nullptr);
  EXPECT_EQ(got.timestamp, 0);
  // Rows packed: bytes 0..11 and 16..27 of the buffer.
  std::vector<uint8_t> packed(pixels, pixels + 12);
  packed.insert(packed.end(), pixels + 16, pixels + 28);
  EXPECT_EQ(calls[3].pixels, packed);
  EXPECT_EQ(calls[4].function, "NDIlib_send_send_video_async_v2");
  EXPECT_TRUE(calls[4].frameNull);
  EXPECT_EQ(calls[5].function, "NDIlib_send_get_tally");
  EXPECT_EQ(calls[5].timeoutMs, 0u);
  EXPECT_EQ(calls[7].function, "NDIlib_send_get_no_connections");
  EXPECT_EQ(calls[8].function, "NDIlib_send_destroy");
  EXPECT_EQ(calls[8].instance, static_cast<void*>(sender));
  EXPECT_EQ(calls[9].function, "NDIlib_destroy");
}

TEST_F(NdiLoader, ScriptedCreateFailureReturnsNull) {
  ::setenv("NDI_RUNTIME_DIR_V6", PLOMBIX_FAKE_NDI_DIR, 1);
  const NdiRuntimeLoad load = LoadNdiRuntime(standInFromBuild());
  ASSERT_TRUE(load.runtime.loaded()) << load.error;
  FakeNdiState* fake = FakeNdiAttach(kFakeLib);
  ASSERT_NE(fake, nullptr);
  fake->reset();
  fake->sendCreateFails = true;
  fake->initializeResult = false;
  EXPECT_FALSE(load.runtime.initialize());
  const NDIlib_send_create_t settings{"Vora Plombix 1", nullptr, true, false};
  EXPECT_EQ(load.runtime.sendCreate(&settings), nullptr);
}

TEST_F(NdiLoader, LibraryMissingASenderFunctionIsSkippedWithItsReason) {
  ::setenv("NDI_RUNTIME_DIR_V6", PLOMBIX_FAKE_NDI_MISSING_DIR, 1);
  const NdiRuntimeLoad load = LoadNdiRuntime(standInFromBuild());
  ASSERT_TRUE(load.runtime.loaded()) << load.error;
  EXPECT_EQ(load.runtime.kind, NdiRuntimeKind::StandIn);
  EXPECT_EQ(load.runtime.path, kStandIn);
  ASSERT_EQ(load.skipped.size(), 1u);
  EXPECT_EQ(load.skipped[0],
            "Could not load function 'NDIlib_send_get_tally' from module '" + kMissingLib + "'");
}

TEST_F(NdiLoader, ReceiversSkipALibraryWithoutReceiveFunctions) {
  ::setenv("NDI_RUNTIME_DIR_V6", PLOMBIX_FAKE_NDI_DIR, 1);
  NdiRuntimeOptions options = standInFromBuild();
  options.receive = NdiReceiveSymbols::Required;
  const NdiRuntimeLoad load = LoadNdiRuntime(options);
  ASSERT_TRUE(load.runtime.loaded()) << load.error;
  EXPECT_EQ(load.runtime.kind, NdiRuntimeKind::StandIn);
  EXPECT_TRUE(load.runtime.hasReceive());
  EXPECT_NE(load.runtime.recvSetTally, nullptr);
  ASSERT_EQ(load.skipped.size(), 1u);
  EXPECT_EQ(load.skipped[0],
            "Could not load function 'NDIlib_find_create_v2' from module '" + kFakeLib + "'");
}

TEST_F(NdiLoader, ForcedPathWinsOverEverything) {
  ::setenv("NDI_RUNTIME_DIR_V6", PLOMBIX_FAKE_NDI_DIR, 1);
  ::setenv("PLOMBIX_NDI_RUNTIME", kStandIn.c_str(), 1);
  const NdiRuntimeLoad load = LoadNdiRuntime(standInFromBuild());
  ASSERT_TRUE(load.runtime.loaded()) << load.error;
  EXPECT_EQ(load.runtime.kind, NdiRuntimeKind::Forced);
  EXPECT_EQ(load.runtime.path, kStandIn);
  const std::string version = load.runtime.version();
  EXPECT_EQ(version.rfind("Vora Plombix stand-in runtime ", 0), 0u) << version;
}

TEST_F(NdiLoader, ForcedPathThatFailsIsReportedAndNothingElseIsUsed) {
  struct Row {
    const char* label;
    std::string path;
    std::string reasonStart;
  };
  const Row rows[] = {
      {"absent file", "/nonexistent/libx.so", "Could not open module '/nonexistent/libx.so': "},
      {"missing function", kMissingLib,
       "Could not load function 'NDIlib_send_get_tally' from module '" + kMissingLib + "'"},
  };
  for (const Row& row : rows) {
    ::setenv("NDI_RUNTIME_DIR_V6", PLOMBIX_FAKE_NDI_DIR, 1);  // would serve if tried
    ::setenv("PLOMBIX_NDI_RUNTIME", row.path.c_str(), 1);
    const NdiRuntimeLoad load = LoadNdiRuntime(standInFromBuild());
    EXPECT_FALSE(load.runtime.loaded()) << row.label;
    EXPECT_EQ(load.runtime.kind, NdiRuntimeKind::None) << row.label;
    ASSERT_EQ(load.skipped.size(), 1u) << row.label;
    EXPECT_EQ(load.skipped[0].rfind(row.reasonStart, 0), 0u) << row.label << ": " << load.skipped[0];
    EXPECT_NE(load.error.find("PLOMBIX_NDI_RUNTIME"), std::string::npos) << row.label;
    EXPECT_NE(load.error.find(row.path), std::string::npos) << row.label;
  }
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

TEST(NdiRuntimeKind, TextsForTheAboutBox) {
  EXPECT_STREQ(NdiRuntimeKindText(NdiRuntimeKind::None), "none");
  EXPECT_STREQ(NdiRuntimeKindText(NdiRuntimeKind::Vendor), "vendor");
  EXPECT_STREQ(NdiRuntimeKindText(NdiRuntimeKind::StandIn), "stand-in");
  EXPECT_STREQ(NdiRuntimeKindText(NdiRuntimeKind::Forced), "forced");
}

TEST(NdiAbi, FourCCFromItsCharacters) {
  // 'B' 0x42, 'G' 0x47, 'R' 0x52, 'A' 0x41, 'X' 0x58, little end first.
  EXPECT_EQ(NdiMakeFourCC('B', 'G', 'R', 'A'), 0x41524742);
  EXPECT_EQ(NdiMakeFourCC('B', 'G', 'R', 'X'), 0x58524742);
  EXPECT_EQ(kNdiTimecodeSynthesize, 0x7fffffffffffffffLL);
}
