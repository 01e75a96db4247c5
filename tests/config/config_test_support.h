// Shared helpers of the config tests: a file laid out by hand and a
// ConfigHost that records every call in order (the scratch folder and file
// access are in temp_dir.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config_file.h"
#include "temp_dir.h"

namespace plombix::testing {

// A whole file laid out by hand at the documented offsets: the magic, the
// block at 8, and ASCII paths as UTF-16LE at 60, 828 and 1596.
inline std::vector<uint8_t> MakeConfigFile(const ViewerConfig& block, const char* image = "",
                                           const char* overlay = "", const char* slideshow = "") {
  std::vector<uint8_t> f(2364, 0);
  std::memcpy(f.data(), "QLVPLMX1", 8);
  EncodeViewerConfig(block, std::span<uint8_t, 52>(f.data() + 8, 52));
  const char* paths[3] = {image, overlay, slideshow};
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t at = 60 + 768 * i; *paths[i]; ++paths[i], at += 2)
      f[at] = static_cast<uint8_t>(*paths[i]);
  return f;
}

// Records every host call as one line, in order.
class RecordingConfigHost : public ConfigHost {
 public:
  std::vector<std::string> calls;

  // The calls that start with `prefix`, in order.
  std::vector<std::string> starting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& c : calls)
      if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
  }

  void showMessage(std::string_view text, std::string_view title) override {
    calls.push_back("message:" + std::string(text) + "|" + std::string(title));
  }
  void onFillColour1(uint32_t c) override { calls.push_back("fillColour1:" + hex(c)); }
  void onFillColour2(uint32_t c) override { calls.push_back("fillColour2:" + hex(c)); }
  void onNoAlpha(bool on) override { calls.push_back("noAlpha:" + std::to_string(on)); }
  void onUseLast(bool on) override { calls.push_back("useLast:" + std::to_string(on)); }
  void onUseImage(bool on) override { calls.push_back("useImage:" + std::to_string(on)); }
  void onScalingMode(uint8_t m) override { calls.push_back("scalingMode:" + std::to_string(m)); }
  void onWatch(bool on) override { calls.push_back("watch:" + std::to_string(on)); }
  void onBorderEqual(bool on) override { calls.push_back("borderEqual:" + std::to_string(on)); }
  void onBorderUse(bool on) override { calls.push_back("borderUse:" + std::to_string(on)); }
  void onLimitedRange(bool on) override { calls.push_back("limitedRange:" + std::to_string(on)); }
  void onFade(bool on) override { calls.push_back("fade:" + std::to_string(on)); }
  void onResolutionId(uint32_t id) override { calls.push_back("resolutionId:" + std::to_string(id)); }
  void onFrameRateId(uint32_t id) override { calls.push_back("frameRateId:" + std::to_string(id)); }
  void onBackgroundId(uint32_t id) override { calls.push_back("backgroundId:" + std::to_string(id)); }
  void pushControls() override { calls.push_back("pushControls"); }
  void enableSidesEdit(bool e) override { calls.push_back("enableSidesEdit:" + std::to_string(e)); }
  void updateBorders(bool use) override { calls.push_back("updateBorders:" + std::to_string(use)); }
  void refreshSlideshowButton() override { calls.push_back("refreshSlideshowButton"); }
  void setStartNumberCaption(const std::string& t) override { calls.push_back("startCaption:" + t); }
  void setEndNumberCaption(const std::string& t) override { calls.push_back("endCaption:" + t); }

 private:
  static std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", v);
    return buf;
  }
};

}  // namespace plombix::testing
