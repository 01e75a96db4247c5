// NdiRuntime: the table of NDI entry points the program calls, and the loader
// that fills it from a shared library at start.
//
// Which library serves, in this order:
//   1. `PLOMBIX_NDI_RUNTIME=/path/lib.so` (non-empty) forces that one file.
//      If it cannot be loaded or lacks a required entry point, loading FAILS
//      with that reason; nothing else is tried, so a forced choice never
//      silently turns into another library.
//   2. The vendor's runtime: `libndi.so.6` (first in `$NDI_RUNTIME_DIR_V6`,
//      then on the dynamic loader's path), then `libndi.so.5` (first in
//      `$NDI_RUNTIME_DIR_V5`, then the loader's path), then `libndi.so` on the
//      loader's path.
//   3. The built-in stand-in `libplombix_ndi.so`, searched next to the running
//      program: `<exe dir>/../lib/`, `<exe dir>/../lib/vora-plombix/` (the
//      build tree and the installed tree), then the loader's path.
// A candidate that cannot be opened is skipped quietly when it was only a
// guess on the loader's path, and with its reason when it was found in a
// named folder. A candidate that opens but lacks an entry point is skipped
// with the reason "Could not load function '<name>' from module '<path>'".
//
// Sender entry points are always required. Receive entry points are optional
// (resolved when present, `hasReceive()` tells) unless the options require
// them, as plombix-monitor does. `NDIlib_send_get_source_name` is optional
// too (older runtimes lack it): resolved when present, null otherwise.
//
// A library that serves is never unloaded: its threads may run until the
// process ends. The loader does not call `NDIlib_initialize`; the caller does.
// Loading is thread-safe and may be repeated (the dynamic loader shares one
// copy of each library).
#pragma once

#include <string>
#include <vector>

#include "ndi_abi.h"

namespace plombix {

enum class NdiRuntimeKind {
  None,     // nothing loaded
  Vendor,   // the vendor's runtime, found by its library name
  StandIn,  // the built-in stand-in runtime
  Forced,   // the file named by PLOMBIX_NDI_RUNTIME
};

// "none", "vendor", "stand-in", "forced".
const char* NdiRuntimeKindText(NdiRuntimeKind kind);

// Which runtime serves, in full, for the operator (the About box):
// "the vendor's NDI runtime", "the built-in stand-in runtime (HTTP, not the
// NDI wire protocol)", "the NDI runtime named by PLOMBIX_NDI_RUNTIME", or
// "no NDI runtime". A forced library that is the stand-in (its file name is
// libplombix_ndi.so) is named as the stand-in.
std::string NdiRuntimeDescription(NdiRuntimeKind kind, const std::string& path);

enum class NdiReceiveSymbols {
  Optional,  // sender programs
  Required,  // receivers: a library without them is skipped
};

struct NdiRuntimeOptions {
  NdiReceiveSymbols receive = NdiReceiveSymbols::Optional;
  // Where to look for the stand-in before the loader's path. Empty: the two
  // folders next to the running program named above. Tests point this at
  // `<build>/lib`.
  std::vector<std::string> standInDirs;
  // Skip the vendor candidates (tests that must get the stand-in even on a
  // machine with the vendor's runtime installed). The forced path still wins.
  bool skipVendor = false;
};

struct NdiRuntime {
  // --- Sender side: always present once loaded --------------------------------
  NDIlib_initialize_fn initialize = nullptr;
  NDIlib_destroy_fn destroy = nullptr;
  NDIlib_version_fn version = nullptr;
  NDIlib_send_create_fn sendCreate = nullptr;
  NDIlib_send_destroy_fn sendDestroy = nullptr;
  NDIlib_send_send_video_async_v2_fn sendVideoAsyncV2 = nullptr;
  NDIlib_send_get_tally_fn sendGetTally = nullptr;
  NDIlib_send_get_no_connections_fn sendGetNoConnections = nullptr;
  NDIlib_send_add_connection_metadata_fn sendAddConnectionMetadata = nullptr;
  // Optional: null where the runtime lacks it.
  NDIlib_send_get_source_name_fn sendGetSourceName = nullptr;

  // --- Receive side: all present or all null -----------------------------------
  NDIlib_find_create_v2_fn findCreateV2 = nullptr;
  NDIlib_find_destroy_fn findDestroy = nullptr;
  NDIlib_find_wait_for_sources_fn findWaitForSources = nullptr;
  NDIlib_find_get_current_sources_fn findGetCurrentSources = nullptr;
  NDIlib_recv_create_v3_fn recvCreateV3 = nullptr;
  NDIlib_recv_destroy_fn recvDestroy = nullptr;
  NDIlib_recv_capture_v2_fn recvCaptureV2 = nullptr;
  NDIlib_recv_free_video_v2_fn recvFreeVideoV2 = nullptr;
  NDIlib_recv_free_metadata_fn recvFreeMetadata = nullptr;
  NDIlib_recv_set_tally_fn recvSetTally = nullptr;

  // --- Which library serves -------------------------------------------------------
  NdiRuntimeKind kind = NdiRuntimeKind::None;
  std::string path;  // the library file that serves (for a bare name, where the loader found it)

  bool loaded() const { return kind != NdiRuntimeKind::None; }
  bool hasReceive() const { return recvCaptureV2 != nullptr; }
};

struct NdiRuntimeLoad {
  NdiRuntime runtime;                // kind None when nothing could be loaded
  std::vector<std::string> skipped;  // one line per rejected candidate, in order
  std::string error;                 // empty on success; else what went wrong
};

// Finds and loads the runtime as described at the top of this file. Never
// throws; on failure `runtime.loaded()` is false and `error` says why (for a
// forced path, the reason that path failed; otherwise that no candidate
// served, with `skipped` holding the details).
[[nodiscard]] NdiRuntimeLoad LoadNdiRuntime(const NdiRuntimeOptions& options = {});

// Loads exactly one library file (no search). Used by LoadNdiRuntime and by
// tests. `kind` is what to report on success. On failure returns a runtime
// with kind None and sets `*reason`.
[[nodiscard]] NdiRuntime LoadNdiRuntimeFile(const std::string& path, NdiRuntimeKind kind,
                                            NdiReceiveSymbols receive, std::string* reason);

// The folder of the running program ("/proc/self/exe" resolved), without a
// trailing slash; empty if it cannot be found.
std::string NdiExecutableDir();

}  // namespace plombix
