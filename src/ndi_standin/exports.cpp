// The NDI C entry points of the stand-in runtime, exported by name. Every
// other symbol of the library is hidden. Handles are pointers to the
// stand-in's own objects; a null handle is ignored. A destroyed sender's
// source lingers for a grace period (source_registry.h).
#include <errno.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "http_sender.h"
#include "ndi_abi.h"
#include "receiver.h"
#include "source_registry.h"

#define PLOMBIX_EXPORT extern "C" __attribute__((visibility("default")))

using plombix::standin::StandInFinder;
using plombix::standin::StandInReceiver;
using plombix::standin::StandInSender;

namespace {

StandInSender* sender(NDIlib_send_instance_t s) { return reinterpret_cast<StandInSender*>(s); }
StandInFinder* finder(NDIlib_find_instance_t f) { return reinterpret_cast<StandInFinder*>(f); }
StandInReceiver* receiver(NDIlib_recv_instance_t r) { return reinterpret_cast<StandInReceiver*>(r); }

const std::string kVersionText = std::string("Vora Plombix stand-in runtime ") + PLOMBIX_VERSION;

}  // namespace

PLOMBIX_EXPORT bool NDIlib_initialize(void) { return true; }

// The last call of a program that used the runtime: sources whose sender
// was destroyed stop lingering and close now (their ports and discovery
// entries go with them).
PLOMBIX_EXPORT void NDIlib_destroy(void) { plombix::standin::SourceRegistry::Instance().closeAll(); }

PLOMBIX_EXPORT const char* NDIlib_version(void) { return kVersionText.c_str(); }

PLOMBIX_EXPORT NDIlib_send_instance_t NDIlib_send_create(const NDIlib_send_create_t* settings) {
  std::string name;
  if (settings && settings->p_ndi_name && *settings->p_ndi_name) {
    name = settings->p_ndi_name;
  } else {
    // The interface makes up a name when none is given.
    static std::atomic<unsigned> counter{0};
    name = std::string(program_invocation_short_name) + " " + std::to_string(++counter);
  }
  // Clocked video unless the caller turns it off, as the interface's
  // defaults have it.
  const bool clocked = settings ? settings->clock_video : true;
  std::string error;
  std::unique_ptr<StandInSender> s = StandInSender::Create(
      name, clocked ? plombix::standin::VideoClock::FrameRate : plombix::standin::VideoClock::None, &error);
  // The caller sees only a null handle; say why once, for whoever reads the
  // program's error output.
  if (!s) std::fprintf(stderr, "%s: cannot publish a source: %s\n", kVersionText.c_str(), error.c_str());
  return reinterpret_cast<NDIlib_send_instance_t>(s.release());
}

PLOMBIX_EXPORT void NDIlib_send_destroy(NDIlib_send_instance_t instance) { delete sender(instance); }

PLOMBIX_EXPORT void NDIlib_send_send_video_async_v2(NDIlib_send_instance_t instance,
                                                    const NDIlib_video_frame_v2_t* frame) {
  if (instance) sender(instance)->send(frame);
}

PLOMBIX_EXPORT bool NDIlib_send_get_tally(NDIlib_send_instance_t instance, NDIlib_tally_t* tally,
                                          uint32_t timeout_ms) {
  if (!instance) return false;
  return sender(instance)->getTally(tally, timeout_ms);
}

PLOMBIX_EXPORT int NDIlib_send_get_no_connections(NDIlib_send_instance_t instance,
                                                  uint32_t timeout_ms) {
  return instance ? sender(instance)->connections(timeout_ms) : 0;
}

PLOMBIX_EXPORT void NDIlib_send_add_connection_metadata(NDIlib_send_instance_t instance,
                                                        const NDIlib_metadata_frame_t* metadata) {
  if (instance) sender(instance)->addMetadata(metadata);
}

PLOMBIX_EXPORT const NDIlib_source_t* NDIlib_send_get_source_name(NDIlib_send_instance_t instance) {
  return instance ? sender(instance)->sourceName() : nullptr;
}

PLOMBIX_EXPORT NDIlib_find_instance_t NDIlib_find_create_v2(const NDIlib_find_create_t*) {
  return reinterpret_cast<NDIlib_find_instance_t>(new (std::nothrow) StandInFinder());
}

PLOMBIX_EXPORT void NDIlib_find_destroy(NDIlib_find_instance_t instance) { delete finder(instance); }

PLOMBIX_EXPORT bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t instance,
                                                 uint32_t timeout_ms) {
  return instance && finder(instance)->waitForSources(timeout_ms);
}

PLOMBIX_EXPORT const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t instance,
                                                                      uint32_t* p_no_sources) {
  if (!instance) {
    if (p_no_sources) *p_no_sources = 0;
    return nullptr;
  }
  return finder(instance)->current(p_no_sources);
}

PLOMBIX_EXPORT NDIlib_recv_instance_t NDIlib_recv_create_v3(const NDIlib_recv_create_v3_t* settings) {
  if (!settings || (!settings->source_to_connect_to.p_ndi_name &&
                    !settings->source_to_connect_to.p_url_address))
    return nullptr;
  return reinterpret_cast<NDIlib_recv_instance_t>(new (std::nothrow) StandInReceiver(*settings));
}

PLOMBIX_EXPORT void NDIlib_recv_destroy(NDIlib_recv_instance_t instance) { delete receiver(instance); }

PLOMBIX_EXPORT int NDIlib_recv_capture_v2(NDIlib_recv_instance_t instance,
                                          NDIlib_video_frame_v2_t* video, void* /*audio*/,
                                          NDIlib_metadata_frame_t* metadata, uint32_t timeout_ms) {
  if (!instance) return int(NdiFrameType::Error);
  return receiver(instance)->capture(video, metadata, timeout_ms);
}

PLOMBIX_EXPORT void NDIlib_recv_free_video_v2(NDIlib_recv_instance_t instance,
                                              const NDIlib_video_frame_v2_t* video) {
  if (instance) receiver(instance)->freeVideo(video);
}

PLOMBIX_EXPORT void NDIlib_recv_free_metadata(NDIlib_recv_instance_t instance,
                                              const NDIlib_metadata_frame_t* metadata) {
  if (instance) receiver(instance)->freeMetadata(metadata);
}

PLOMBIX_EXPORT bool NDIlib_recv_set_tally(NDIlib_recv_instance_t instance, const NDIlib_tally_t* tally) {
  return instance && receiver(instance)->setTally(tally);
}

// Each export has exactly the signature the loader expects.
static_assert(std::is_same_v<decltype(&NDIlib_initialize), NDIlib_initialize_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_destroy), NDIlib_destroy_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_version), NDIlib_version_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_send_create), NDIlib_send_create_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_send_destroy), NDIlib_send_destroy_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_send_send_video_async_v2),
                             NDIlib_send_send_video_async_v2_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_send_get_tally), NDIlib_send_get_tally_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_send_get_no_connections),
                             NDIlib_send_get_no_connections_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_send_add_connection_metadata),
                             NDIlib_send_add_connection_metadata_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_send_get_source_name), NDIlib_send_get_source_name_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_find_create_v2), NDIlib_find_create_v2_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_find_destroy), NDIlib_find_destroy_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_find_wait_for_sources), NDIlib_find_wait_for_sources_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_find_get_current_sources),
                             NDIlib_find_get_current_sources_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_create_v3), NDIlib_recv_create_v3_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_destroy), NDIlib_recv_destroy_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_capture_v2), NDIlib_recv_capture_v2_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_free_video_v2), NDIlib_recv_free_video_v2_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_free_metadata), NDIlib_recv_free_metadata_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_set_tally), NDIlib_recv_set_tally_fn>);
