// The recording fake runtime (see fake_ndi_runtime.h).
#include "fake_ndi_runtime.h"

#include <cstring>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

FakeNdiState& state() {
  static FakeNdiState s;
  return s;
}

struct FakeSender {
  int id;
};

void record(FakeNdiCall call) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().calls.push_back(std::move(call));
}

// A value of the script, read under the lock.
template <class T>
T scripted(T FakeNdiState::*field) {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().*field;
}

}  // namespace

FAKE_EXPORT FakeNdiState* plombix_fake_ndi_state() { return &state(); }

FAKE_EXPORT bool NDIlib_initialize(void) {
  record({.function = "NDIlib_initialize"});
  return scripted(&FakeNdiState::initializeResult);
}

FAKE_EXPORT void NDIlib_destroy(void) { record({.function = "NDIlib_destroy"}); }

FAKE_EXPORT const char* NDIlib_version(void) {
  record({.function = "NDIlib_version"});
  return "Recording fake runtime 9.8.7";
}

FAKE_EXPORT NDIlib_send_instance_t NDIlib_send_create(const NDIlib_send_create_t* settings) {
  FakeNdiCall c{.function = "NDIlib_send_create"};
  if (settings) {
    if (settings->p_ndi_name) c.name = settings->p_ndi_name;
    c.groupsNull = settings->p_groups == nullptr;
    c.clockVideo = settings->clock_video;
    c.clockAudio = settings->clock_audio;
  }
  FakeSender* sender = scripted(&FakeNdiState::sendCreateFails) ? nullptr : new FakeSender{0};
  c.instance = sender;
  record(c);
  return reinterpret_cast<NDIlib_send_instance_t>(sender);
}

FAKE_EXPORT void NDIlib_send_destroy(NDIlib_send_instance_t instance) {
  record({.function = "NDIlib_send_destroy", .instance = instance});
  delete reinterpret_cast<FakeSender*>(instance);
}

FAKE_EXPORT void NDIlib_send_send_video_async_v2(NDIlib_send_instance_t instance,
                                                 const NDIlib_video_frame_v2_t* frame) {
  FakeNdiCall c{.function = "NDIlib_send_send_video_async_v2", .instance = instance};
  c.frameNull = frame == nullptr;
  if (frame) {
    c.frame = *frame;
    const int rowBytes = frame->xres * 4;
    const int stride = frame->line_stride_in_bytes ? frame->line_stride_in_bytes : rowBytes;
    if (frame->p_data && frame->xres > 0 && frame->yres > 0) {
      c.pixelHash = FakeNdiHash(frame->p_data, rowBytes, frame->yres, stride);
      if (scripted(&FakeNdiState::keepPixels)) {
        c.pixels.resize(size_t(rowBytes) * size_t(frame->yres));
        for (int y = 0; y < frame->yres; ++y)
          std::memcpy(c.pixels.data() + size_t(y) * size_t(rowBytes),
                      frame->p_data + size_t(y) * size_t(stride), size_t(rowBytes));
      }
    }
  }
  record(std::move(c));
}

#ifndef FAKE_NDI_OMIT_GET_TALLY
FAKE_EXPORT bool NDIlib_send_get_tally(NDIlib_send_instance_t instance, NDIlib_tally_t* tally,
                                       uint32_t timeout_ms) {
  record({.function = "NDIlib_send_get_tally", .instance = instance, .timeoutMs = timeout_ms});
  std::lock_guard<std::mutex> lock(state().mutex);
  FakeNdiState& s = state();
  const bool changed = s.tally.on_program != s.reportedTally.on_program ||
                       s.tally.on_preview != s.reportedTally.on_preview;
  s.reportedTally = s.tally;
  if (tally) *tally = s.tally;
  return changed;
}
#endif

FAKE_EXPORT int NDIlib_send_get_no_connections(NDIlib_send_instance_t instance, uint32_t timeout_ms) {
  record({.function = "NDIlib_send_get_no_connections", .instance = instance, .timeoutMs = timeout_ms});
  return scripted(&FakeNdiState::connections);
}

FAKE_EXPORT void NDIlib_send_add_connection_metadata(NDIlib_send_instance_t instance,
                                                     const NDIlib_metadata_frame_t* metadata) {
  FakeNdiCall c{.function = "NDIlib_send_add_connection_metadata", .instance = instance};
  if (metadata) {
    c.metadataLength = metadata->length;
    c.metadataTimecode = metadata->timecode;
    if (metadata->p_data) c.metadataText = metadata->p_data;
  }
  record(std::move(c));
}
