// A recording fake of the NDI runtime, a shared library named like the
// vendor's (libndi.so.6) in PLOMBIX_FAKE_NDI_DIR, so that NdiRuntime picks it
// through NDI_RUNTIME_DIR_V6 as it would the real one (a variant without
// NDIlib_send_get_tally is in PLOMBIX_FAKE_NDI_MISSING_DIR). It records every
// call with what was passed and answers as scripted; tests reach its state
// through FakeNdiAttach.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ndi_abi.h"

struct FakeNdiCall {
  std::string function;  // "NDIlib_send_create", ...
  void* instance = nullptr;
  uint32_t timeoutMs = 0;
  std::string name;  // send_create: the settings
  bool groupsNull = false, clockVideo = false, clockAudio = false;
  int metadataLength = 0;  // add_connection_metadata: the frame, and the text p_data points to
  int64_t metadataTimecode = 0;
  std::string metadataText;
  bool frameNull = false;           // send_video_async_v2
  NDIlib_video_frame_v2_t frame{};  // as passed (p_data is the caller's)
  uint64_t pixelHash = 0;           // FNV-1a 64 of xres*4 bytes of each row
  std::vector<uint8_t> pixels;      // rows packed; only when keepPixels
};

struct FakeNdiState {
  std::mutex mutex;
  std::vector<FakeNdiCall> calls;
  // Script.
  bool initializeResult = true, sendCreateFails = false, keepPixels = false;
  NDIlib_tally_t tally{false, false};  // get_tally reports a change when it differs
  int connections = 0;
  NDIlib_tally_t reportedTally{false, false};  // internal

  void reset() {
    std::lock_guard<std::mutex> lock(mutex);
    calls.clear();
    initializeResult = true;
    sendCreateFails = keepPixels = false;
    tally = reportedTally = NDIlib_tally_t{false, false};
    connections = 0;
  }
  std::vector<FakeNdiCall> snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }
};

// The state of the fake loaded from `libraryPath` (null if it is not loaded).
inline FakeNdiState* FakeNdiAttach(const std::string& libraryPath) {
  void* handle = ::dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return nullptr;
  auto fn = reinterpret_cast<FakeNdiState* (*)()>(::dlsym(handle, "plombix_fake_ndi_state"));
  ::dlclose(handle);  // drops only the reference NOLOAD added
  return fn ? fn() : nullptr;
}

// FNV-1a 64 over `height` rows of `rowBytes` bytes, `strideBytes` apart.
inline uint64_t FakeNdiHash(const uint8_t* p, int rowBytes, int height, int strideBytes) {
  uint64_t h = 1469598103934665603ull;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < rowBytes; ++x) h = (h ^ p[size_t(y) * size_t(strideBytes) + size_t(x)]) * 1099511628211ull;
  return h;
}
