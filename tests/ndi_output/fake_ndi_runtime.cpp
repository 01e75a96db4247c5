// The recording fake runtime (see fake_ndi_runtime.h).
#include "fake_ndi_runtime.h"

#include <utility>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

FakeNdiState& state() {
  static FakeNdiState s;
  return s;
}

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

FAKE_EXPORT NDIlib_send_instance_t NDIlib_send_create(const NDIlib_send_create_t* s) {
  int* sender = scripted(&FakeNdiState::sendCreateFails) ? nullptr : new int(0);  // an address of its own
  record({.function = "NDIlib_send_create", .instance = sender, .name = s && s->p_ndi_name ? s->p_ndi_name : "",
          .groupsNull = s && !s->p_groups, .clockVideo = s && s->clock_video, .clockAudio = s && s->clock_audio});
  return reinterpret_cast<NDIlib_send_instance_t>(sender);
}

FAKE_EXPORT void NDIlib_send_destroy(NDIlib_send_instance_t instance) {
  record({.function = "NDIlib_send_destroy", .instance = instance});
  delete reinterpret_cast<int*>(instance);
}

FAKE_EXPORT void NDIlib_send_send_video_async_v2(NDIlib_send_instance_t instance,
                                                 const NDIlib_video_frame_v2_t* frame) {
  FakeNdiCall c{.function = "NDIlib_send_send_video_async_v2", .instance = instance, .frameNull = !frame};
  if (frame && frame->p_data && frame->xres > 0 && frame->yres > 0) {
    const size_t rowBytes = size_t(frame->xres) * 4;
    const size_t stride = frame->line_stride_in_bytes ? size_t(frame->line_stride_in_bytes) : rowBytes;
    c.pixelHash = FakeNdiHash(frame->p_data, int(rowBytes), frame->yres, int(stride));
    for (int y = 0; scripted(&FakeNdiState::keepPixels) && y < frame->yres; ++y)
      c.pixels.insert(c.pixels.end(), frame->p_data + y * stride, frame->p_data + y * stride + rowBytes);
  }
  if (frame) c.frame = *frame;
  record(std::move(c));
}

#ifndef FAKE_NDI_OMIT_GET_TALLY
FAKE_EXPORT bool NDIlib_send_get_tally(NDIlib_send_instance_t instance, NDIlib_tally_t* tally, uint32_t timeout_ms) {
  record({.function = "NDIlib_send_get_tally", .instance = instance, .timeoutMs = timeout_ms});
  std::lock_guard<std::mutex> lock(state().mutex);
  FakeNdiState& s = state();  // a change is reported once
  const NDIlib_tally_t before = std::exchange(s.reportedTally, s.tally);
  if (tally) *tally = s.tally;
  return s.tally.on_program != before.on_program || s.tally.on_preview != before.on_preview;
}
#endif

FAKE_EXPORT int NDIlib_send_get_no_connections(NDIlib_send_instance_t instance, uint32_t timeout_ms) {
  record({.function = "NDIlib_send_get_no_connections", .instance = instance, .timeoutMs = timeout_ms});
  return scripted(&FakeNdiState::connections);
}

FAKE_EXPORT void NDIlib_send_add_connection_metadata(NDIlib_send_instance_t instance,
                                                     const NDIlib_metadata_frame_t* m) {
  record({.function = "NDIlib_send_add_connection_metadata", .instance = instance, .metadataLength = m ? m->length : 0,
          .metadataTimecode = m ? m->timecode : 0, .metadataText = m && m->p_data ? m->p_data : ""});
}
