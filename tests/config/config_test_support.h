// Shared helpers of the config tests: a scratch directory, whole-file
// reads and writes, and a ConfigHost that records every call in order.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config_file.h"

namespace plombix::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "plombix-config-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

  // Names in the directory, sorted.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

// Writes a fresh file (the old one is removed first rather than truncated,
// which on some file systems forces a flush to disk on close).
inline void WriteBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
  std::error_code ec;
  std::filesystem::remove(file, ec);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Records every host call as one line, in order.
class RecordingConfigHost : public ConfigHost {
 public:
  std::vector<std::string> calls;

  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& c : calls) {
      if (c.rfind("message:", 0) == 0) out.push_back(c);
    }
    return out;
  }
  bool called(const std::string& prefix) const {
    for (const auto& c : calls) {
      if (c.rfind(prefix, 0) == 0) return true;
    }
    return false;
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
