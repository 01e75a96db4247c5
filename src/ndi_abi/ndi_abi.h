// The NDI C interface as this project uses it: the few types, constants and
// entry points the player (sender side), plombix-monitor (receiver side) and
// the built-in stand-in runtime (which exports them) share, declared here
// from the interface's documented binary layout.
//
// Binary facts this header relies on (x86-64 Linux, System V calling
// convention):
//   - plain C functions exported by name, no calling-convention decoration;
//   - `bool` is one byte, every enum is a 32-bit int (the enum classes below
//     fix `int32_t` as their underlying type so they have exactly that size);
//   - instance handles are opaque pointers;
//   - FourCC codes are a | b << 8 | c << 16 | d << 24 of the four characters.
// The static_asserts at the end check every size and offset the layout
// promises, so a change that breaks the layout does not compile.
//
// Zero-filling a struct does NOT give the interface's defaults: callers set
// every field explicitly (progressive frames, synthesized timecode, video
// clocking on, ...).
#pragma once

#include <cstddef>
#include <cstdint>

// --- Constants ---------------------------------------------------------------

constexpr int32_t NdiMakeFourCC(char a, char b, char c, char d) {
  return int32_t(uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 |
                 uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24);
}

// Pixel layout of a video frame. The player sends BGRA (straight alpha) or
// BGRX (every alpha byte means 255); a receiver may be handed the others.
enum class NdiFourCC : int32_t {
  BGRA = NdiMakeFourCC('B', 'G', 'R', 'A'),  // 0x41524742
  BGRX = NdiMakeFourCC('B', 'G', 'R', 'X'),  // 0x58524742
  RGBA = NdiMakeFourCC('R', 'G', 'B', 'A'),
  RGBX = NdiMakeFourCC('R', 'G', 'B', 'X'),
  UYVY = NdiMakeFourCC('U', 'Y', 'V', 'Y'),
};

enum class NdiFrameFormat : int32_t {
  Interleaved = 0,
  Progressive = 1,
  Field0 = 2,
  Field1 = 3,
};

// Frame kinds reported by the receive capture call.
enum class NdiFrameType : int32_t {
  None = 0,
  Video = 1,
  Audio = 2,
  Metadata = 3,
  Error = 4,
  StatusChange = 100,
};

// Pixel layouts a receiver asks for.
enum class NdiRecvColorFormat : int32_t {
  BGRX_BGRA = 0,
  UYVY_BGRA = 1,
  RGBX_RGBA = 2,
  UYVY_RGBA = 3,
  Fastest = 100,
  Best = 101,
};

enum class NdiRecvBandwidth : int32_t {
  MetadataOnly = -10,
  AudioOnly = 10,
  Lowest = 0,
  Highest = 100,
};

// A timecode of this value asks the runtime to make one up.
constexpr int64_t kNdiTimecodeSynthesize = INT64_MAX;

// --- Structures ----------------------------------------------------------------

struct NDIlib_video_frame_v2_t {
  int xres;
  int yres;
  NdiFourCC FourCC;
  int frame_rate_N;
  int frame_rate_D;
  float picture_aspect_ratio;  // 0: square pixels
  NdiFrameFormat frame_format_type;
  int64_t timecode;
  uint8_t* p_data;
  union {
    int line_stride_in_bytes;  // uncompressed formats
    int data_size_in_bytes;    // compressed formats (never used here)
  };
  const char* p_metadata;
  int64_t timestamp;
};

struct NDIlib_send_create_t {
  const char* p_ndi_name;
  const char* p_groups;
  bool clock_video;
  bool clock_audio;
};

struct NDIlib_metadata_frame_t {
  int length;
  int64_t timecode;
  char* p_data;
};

struct NDIlib_tally_t {
  bool on_program;
  bool on_preview;
};

struct NDIlib_source_t {
  const char* p_ndi_name;
  union {
    const char* p_url_address;
    const char* p_ip_address;
  };
};

struct NDIlib_find_create_t {
  bool show_local_sources;
  const char* p_groups;
  const char* p_extra_ips;
};

struct NDIlib_recv_create_v3_t {
  NDIlib_source_t source_to_connect_to;
  NdiRecvColorFormat color_format;
  NdiRecvBandwidth bandwidth;
  bool allow_video_fields;
  const char* p_ndi_recv_name;
};

// --- Opaque instance handles ---------------------------------------------------

struct NdiSendInstance;
struct NdiFindInstance;
struct NdiRecvInstance;
using NDIlib_send_instance_t = NdiSendInstance*;
using NDIlib_find_instance_t = NdiFindInstance*;
using NDIlib_recv_instance_t = NdiRecvInstance*;

// --- Entry points, as function pointer types ------------------------------------
// The exported symbol of each is the type name without the trailing "_fn".

extern "C" {
using NDIlib_initialize_fn = bool (*)(void);
using NDIlib_destroy_fn = void (*)(void);
using NDIlib_version_fn = const char* (*)(void);

using NDIlib_send_create_fn = NDIlib_send_instance_t (*)(const NDIlib_send_create_t*);
using NDIlib_send_destroy_fn = void (*)(NDIlib_send_instance_t);
// NULL frame: flush, returns once the frame in flight is released.
using NDIlib_send_send_video_async_v2_fn = void (*)(NDIlib_send_instance_t,
                                                    const NDIlib_video_frame_v2_t*);
using NDIlib_send_get_tally_fn = bool (*)(NDIlib_send_instance_t, NDIlib_tally_t*,
                                          uint32_t timeout_ms);
using NDIlib_send_get_no_connections_fn = int (*)(NDIlib_send_instance_t, uint32_t timeout_ms);
using NDIlib_send_add_connection_metadata_fn = void (*)(NDIlib_send_instance_t,
                                                        const NDIlib_metadata_frame_t*);
// The name and address the sender is published under (p_url_address may be
// null). The record stays valid as long as the sender. Optional: older
// runtimes lack it.
using NDIlib_send_get_source_name_fn = const NDIlib_source_t* (*)(NDIlib_send_instance_t);

using NDIlib_find_create_v2_fn = NDIlib_find_instance_t (*)(const NDIlib_find_create_t*);
using NDIlib_find_destroy_fn = void (*)(NDIlib_find_instance_t);
using NDIlib_find_wait_for_sources_fn = bool (*)(NDIlib_find_instance_t, uint32_t timeout_ms);
using NDIlib_find_get_current_sources_fn = const NDIlib_source_t* (*)(NDIlib_find_instance_t,
                                                                      uint32_t* p_no_sources);

using NDIlib_recv_create_v3_fn = NDIlib_recv_instance_t (*)(const NDIlib_recv_create_v3_t*);
using NDIlib_recv_destroy_fn = void (*)(NDIlib_recv_instance_t);
// Returns an NdiFrameType value as a plain int.
using NDIlib_recv_capture_v2_fn = int (*)(NDIlib_recv_instance_t, NDIlib_video_frame_v2_t* video,
                                          void* audio, NDIlib_metadata_frame_t* metadata,
                                          uint32_t timeout_ms);
using NDIlib_recv_free_video_v2_fn = void (*)(NDIlib_recv_instance_t,
                                              const NDIlib_video_frame_v2_t*);
using NDIlib_recv_free_metadata_fn = void (*)(NDIlib_recv_instance_t,
                                              const NDIlib_metadata_frame_t*);
using NDIlib_recv_set_tally_fn = bool (*)(NDIlib_recv_instance_t, const NDIlib_tally_t*);
}

// --- Layout checks (x86-64 figures) ---------------------------------------------

static_assert(sizeof(bool) == 1);
static_assert(sizeof(NdiFourCC) == 4 && sizeof(NdiFrameFormat) == 4);
static_assert(sizeof(NdiRecvColorFormat) == 4 && sizeof(NdiRecvBandwidth) == 4);
static_assert(int32_t(NdiFourCC::BGRA) == 0x41524742);
static_assert(int32_t(NdiFourCC::BGRX) == 0x58524742);

static_assert(sizeof(NDIlib_video_frame_v2_t) == 72);
static_assert(offsetof(NDIlib_video_frame_v2_t, xres) == 0);
static_assert(offsetof(NDIlib_video_frame_v2_t, yres) == 4);
static_assert(offsetof(NDIlib_video_frame_v2_t, FourCC) == 8);
static_assert(offsetof(NDIlib_video_frame_v2_t, frame_rate_N) == 12);
static_assert(offsetof(NDIlib_video_frame_v2_t, frame_rate_D) == 16);
static_assert(offsetof(NDIlib_video_frame_v2_t, picture_aspect_ratio) == 20);
static_assert(offsetof(NDIlib_video_frame_v2_t, frame_format_type) == 24);
static_assert(offsetof(NDIlib_video_frame_v2_t, timecode) == 32);
static_assert(offsetof(NDIlib_video_frame_v2_t, p_data) == 40);
static_assert(offsetof(NDIlib_video_frame_v2_t, line_stride_in_bytes) == 48);
static_assert(offsetof(NDIlib_video_frame_v2_t, data_size_in_bytes) == 48);
static_assert(offsetof(NDIlib_video_frame_v2_t, p_metadata) == 56);
static_assert(offsetof(NDIlib_video_frame_v2_t, timestamp) == 64);

static_assert(sizeof(NDIlib_send_create_t) == 24);
static_assert(offsetof(NDIlib_send_create_t, p_groups) == 8);
static_assert(offsetof(NDIlib_send_create_t, clock_video) == 16);
static_assert(offsetof(NDIlib_send_create_t, clock_audio) == 17);

static_assert(sizeof(NDIlib_metadata_frame_t) == 24);
static_assert(offsetof(NDIlib_metadata_frame_t, timecode) == 8);
static_assert(offsetof(NDIlib_metadata_frame_t, p_data) == 16);

static_assert(sizeof(NDIlib_tally_t) == 2);
static_assert(offsetof(NDIlib_tally_t, on_preview) == 1);

static_assert(sizeof(NDIlib_source_t) == 16);
static_assert(offsetof(NDIlib_source_t, p_url_address) == 8);
static_assert(offsetof(NDIlib_source_t, p_ip_address) == 8);

static_assert(sizeof(NDIlib_find_create_t) == 24);
static_assert(offsetof(NDIlib_find_create_t, p_groups) == 8);
static_assert(offsetof(NDIlib_find_create_t, p_extra_ips) == 16);

static_assert(sizeof(NDIlib_recv_create_v3_t) == 40);
static_assert(offsetof(NDIlib_recv_create_v3_t, color_format) == 16);
static_assert(offsetof(NDIlib_recv_create_v3_t, bandwidth) == 20);
static_assert(offsetof(NDIlib_recv_create_v3_t, allow_video_fields) == 24);
static_assert(offsetof(NDIlib_recv_create_v3_t, p_ndi_recv_name) == 32);
