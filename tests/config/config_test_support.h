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
  void note(const char* what, const std::string& value) { calls.push_back(what + (":" + value)); }
  void note(const char* what, bool on) { note(what, std::to_string(on)); }

  void showMessage(std::string_view text, std::string_view title) override {
    note("message", std::string(text) + "|" + std::string(title));
  }
  void onFillColour1(uint32_t c) override { note("fillColour1", hex(c)); }
  void onFillColour2(uint32_t c) override { note("fillColour2", hex(c)); }
  void onNoAlpha(bool on) override { note("noAlpha", on); }
  void onUseLast(bool on) override { note("useLast", on); }
  void onUseImage(bool on) override { note("useImage", on); }
  void onScalingMode(uint8_t m) override { note("scalingMode", std::to_string(m)); }
  void onWatch(bool on) override { note("watch", on); }
  void onBorderEqual(bool on) override { note("borderEqual", on); }
  void onBorderUse(bool on) override { note("borderUse", on); }
  void onLimitedRange(bool on) override { note("limitedRange", on); }
  void onFade(bool on) override { note("fade", on); }
  void onResolutionId(uint32_t id) override { note("resolutionId", std::to_string(id)); }
  void onFrameRateId(uint32_t id) override { note("frameRateId", std::to_string(id)); }
  void onBackgroundId(uint32_t id) override { note("backgroundId", std::to_string(id)); }
  void pushControls() override { calls.push_back("pushControls"); }
  void enableSidesEdit(bool e) override { note("enableSidesEdit", e); }
  void updateBorders(bool use) override { note("updateBorders", use); }
  void refreshSlideshowButton() override { calls.push_back("refreshSlideshowButton"); }
  void setStartNumberCaption(const std::string& t) override { note("startCaption", t); }
  void setEndNumberCaption(const std::string& t) override { note("endCaption", t); }

 private:
  static std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", v);
    return buf;
  }
};

}  // namespace plombix::testing
