// NdiRuntime loader: which library serves, what is skipped and why, and that
// each entry point reaches its own function.
#include "ndi_runtime.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

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
    for (const char* v : {"PLOMBIX_NDI_RUNTIME", "NDI_RUNTIME_DIR_V6", "NDI_RUNTIME_DIR_V5"}) ::unsetenv(v);
  }
  void TearDown() override { SetUp(); }
  static NdiRuntimeLoad Load(NdiReceiveSymbols receive = NdiReceiveSymbols::Optional, bool skipVendor = false,
                             std::vector<std::string> standInDirs = {kBuildLib}) {
    return LoadNdiRuntime(NdiRuntimeOptions{receive, std::move(standInDirs), skipVendor});
  }
};

// Which library serves for each setting of the folder variable, the forced
// path and the receive functions, and the reason given for one skipped.
TEST_F(NdiLoader, ChoosesTheLibraryAndSaysWhyOthersWereSkipped) {
  using K = NdiRuntimeKind;
  const auto optional = NdiReceiveSymbols::Optional, required = NdiReceiveSymbols::Required;
  const char *fake = PLOMBIX_FAKE_NDI_DIR, *missing = PLOMBIX_FAKE_NDI_MISSING_DIR;
  const std::string lacks = "Could not load function 'NDIlib_", getTally = lacks + "send_get_tally' from module '";
  // skipped: the start of the one reason given, or empty for none
  const struct { const char* v6Dir; std::string forced; NdiReceiveSymbols receive; K kind; std::string path, skipped; }
      rows[] = {
      {fake, "", optional, K::Vendor, kFakeLib, ""},
      {missing, "", optional, K::StandIn, kStandIn, getTally + kMissingLib},  // lacks a sender function
      {fake, "", required, K::StandIn, kStandIn, lacks + "find_create_v2' from module '" + kFakeLib},
      // The forced path wins over everything; one that fails is reported and nothing else is used.
      {fake, kStandIn, optional, K::Forced, kStandIn, ""},
      {fake, "/nonexistent/libx.so", optional, K::None, "", "Could not open module '/nonexistent/libx.so': "},
      {fake, kMissingLib, optional, K::None, "", getTally + kMissingLib},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path + " forced " + row.forced);
    SetUp();
    ::setenv("NDI_RUNTIME_DIR_V6", row.v6Dir, 1);
    if (!row.forced.empty()) ::setenv("PLOMBIX_NDI_RUNTIME", row.forced.c_str(), 1);
    const NdiRuntimeLoad load = Load(row.receive);
    EXPECT_EQ(std::tuple(load.runtime.kind, load.runtime.path), std::tuple(row.kind, row.path)) << load.error;
    ASSERT_EQ(load.skipped.size(), row.skipped.empty() ? 0u : 1u);
    EXPECT_TRUE(row.skipped.empty() || load.skipped[0].rfind(row.skipped, 0) == 0) << load.skipped[0];
    EXPECT_EQ(load.runtime.hasReceive(), row.path == kStandIn);  // the fake is a sender only
    EXPECT_TRUE(row.kind != K::None || (load.error.find("PLOMBIX_NDI_RUNTIME") != std::string::npos &&
                                        load.error.find(row.forced) != std::string::npos)) << load.error;
    const char* version = load.runtime.loaded() ? load.runtime.version() : "";  // each its own
    EXPECT_EQ(std::string(version).rfind(row.path == kFakeLib ? "Recording" : row.path.empty() ? "" : "Vora", 0), 0u);
  }
}

// Each entry point of the table reaches the library's function of that name
// (what the fake records of each call is checked by the window's tests).
TEST_F(NdiLoader, EachEntryPointReachesItsOwnFunction) {
  ::setenv("NDI_RUNTIME_DIR_V6", PLOMBIX_FAKE_NDI_DIR, 1);
  const NdiRuntime ndi = Load().runtime;
  FakeNdiState* fake = FakeNdiAttach(kFakeLib);
  ASSERT_TRUE(ndi.loaded() && fake);
  fake->reset();
  const auto last = [fake](const char* function) {  // the call just made, which must be `function`
    const std::vector<FakeNdiCall> calls = fake->snapshot();
    EXPECT_EQ(calls.empty() ? "" : calls.back().function, function);
    return calls.empty() ? FakeNdiCall{} : calls.back();
  };
  ASSERT_TRUE(ndi.initialize());
  last("NDIlib_initialize");
  const NDIlib_send_create_t settings{"Vora Plombix 3", nullptr, true, false};
  NDIlib_send_instance_t sender = ndi.sendCreate(&settings);
  EXPECT_EQ(last("NDIlib_send_create").name, settings.p_ndi_name);
  char text[] = "<ndi_product short_name=\"x\"/>";
  const NDIlib_metadata_frame_t metadata{int(std::strlen(text)), kNdiTimecodeSynthesize, text};
  ndi.sendAddConnectionMetadata(sender, &metadata);
  EXPECT_EQ(last("NDIlib_send_add_connection_metadata").metadataText, text);
  uint8_t pixels[4] = {};
  const NDIlib_video_frame_v2_t frame{1, 1, NdiFourCC::BGRX, 30000, 1001, 1.0f, NdiFrameFormat::Progressive, 0,
                                      pixels, {4}, nullptr, 0};
  ndi.sendVideoAsyncV2(sender, &frame);
  EXPECT_EQ(last("NDIlib_send_send_video_async_v2").frame.p_data, pixels);
  NDIlib_tally_t tally{};
  fake->tally = {true, false};
  EXPECT_TRUE(ndi.sendGetTally(sender, &tally, 0) && tally.on_program && !tally.on_preview);
  last("NDIlib_send_get_tally");
  fake->connections = 2;
  EXPECT_EQ(ndi.sendGetNoConnections(sender, 0), 2);
  last("NDIlib_send_get_no_connections");
  ndi.sendDestroy(sender);
  EXPECT_EQ(last("NDIlib_send_destroy").instance, static_cast<void*>(sender));  // the one created
  ndi.destroy();
  last("NDIlib_destroy");
}

TEST_F(NdiLoader, StandInIsFoundBesideTheProgram) {
  // Test programs live in <build>/bin, so <exe dir>/../lib is <build>/lib.
  const NdiRuntimeLoad load = Load(NdiReceiveSymbols::Optional, true, {});
  ASSERT_TRUE(load.runtime.loaded()) << load.error;
  EXPECT_EQ(load.runtime.kind, NdiRuntimeKind::StandIn);
  EXPECT_EQ(std::filesystem::canonical(load.runtime.path), std::filesystem::canonical(kStandIn));
  EXPECT_EQ(std::filesystem::canonical(NdiExecutableDir() + "/../lib"), std::filesystem::canonical(kBuildLib));
}

}  // namespace
