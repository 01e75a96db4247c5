// NdiRuntime loader: dlopen + a table of named entry points (see the header
// for the search order and the error texts).
#include "ndi_runtime.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace plombix {
namespace {

constexpr const char* kStandInFile = "libplombix_ndi.so";

// Stores a resolved address into one member of the table. Function pointers
// and object pointers share size and representation on every POSIX system
// (dlsym depends on it).
template <auto Member>
void storeMember(NdiRuntime& table, void* address) {
  using Pointer = std::remove_reference_t<decltype(table.*Member)>;
  table.*Member = reinterpret_cast<Pointer>(address);
}

// One entry per entry point: the exported name and the member it fills.
struct Entry {
  const char* name;
  void (*store)(NdiRuntime&, void*);
};

#define PLOMBIX_NDI_ENTRY(member, symbol) Entry{symbol, &storeMember<&NdiRuntime::member>}

constexpr Entry kSenderEntries[] = {
    PLOMBIX_NDI_ENTRY(initialize, "NDIlib_initialize"),
    PLOMBIX_NDI_ENTRY(destroy, "NDIlib_destroy"),
    PLOMBIX_NDI_ENTRY(version, "NDIlib_version"),
    PLOMBIX_NDI_ENTRY(sendCreate, "NDIlib_send_create"),
    PLOMBIX_NDI_ENTRY(sendDestroy, "NDIlib_send_destroy"),
    PLOMBIX_NDI_ENTRY(sendVideoAsyncV2, "NDIlib_send_send_video_async_v2"),
    PLOMBIX_NDI_ENTRY(sendGetTally, "NDIlib_send_get_tally"),
    PLOMBIX_NDI_ENTRY(sendGetNoConnections, "NDIlib_send_get_no_connections"),
    PLOMBIX_NDI_ENTRY(sendAddConnectionMetadata, "NDIlib_send_add_connection_metadata"),
};

constexpr Entry kReceiveEntries[] = {
    PLOMBIX_NDI_ENTRY(findCreateV2, "NDIlib_find_create_v2"),
    PLOMBIX_NDI_ENTRY(findDestroy, "NDIlib_find_destroy"),
    PLOMBIX_NDI_ENTRY(findWaitForSources, "NDIlib_find_wait_for_sources"),
    PLOMBIX_NDI_ENTRY(findGetCurrentSources, "NDIlib_find_get_current_sources"),
    PLOMBIX_NDI_ENTRY(recvCreateV3, "NDIlib_recv_create_v3"),
    PLOMBIX_NDI_ENTRY(recvDestroy, "NDIlib_recv_destroy"),
    PLOMBIX_NDI_ENTRY(recvCaptureV2, "NDIlib_recv_capture_v2"),
    PLOMBIX_NDI_ENTRY(recvFreeVideoV2, "NDIlib_recv_free_video_v2"),
    PLOMBIX_NDI_ENTRY(recvFreeMetadata, "NDIlib_recv_free_metadata"),
    PLOMBIX_NDI_ENTRY(recvSetTally, "NDIlib_recv_set_tally"),
};

constexpr Entry kOptionalEntries[] = {
    PLOMBIX_NDI_ENTRY(sendGetSourceName, "NDIlib_send_get_source_name"),
};

#undef PLOMBIX_NDI_ENTRY

// Resolves every entry of `entries`; on the first missing one sets `*missing`
// to its name and returns false.
template <size_t N>
bool resolveAll(void* handle, const Entry (&entries)[N], NdiRuntime& table, const char** missing) {
  for (const Entry& e : entries) {
    void* address = dlsym(handle, e.name);
    if (!address) {
      *missing = e.name;
      return false;
    }
    e.store(table, address);
  }
  return true;
}

template <size_t N>
void clearAll(const Entry (&entries)[N], NdiRuntime& table) {
  for (const Entry& e : entries) e.store(table, nullptr);
}

std::string envValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string joinPath(const std::string& dir, const char* file) {
  if (dir.empty()) return file;
  return dir.back() == '/' ? dir + file : dir + "/" + file;
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// One place to look. `quiet` candidates (bare names on the loader's path,
// folders that do not hold the file) are skipped without a reason when the
// file is simply not there.
struct Candidate {
  std::string path;
  NdiRuntimeKind kind;
  bool quietIfAbsent;
};

void addFolderCandidate(std::vector<Candidate>& out, const std::string& dir, const char* file,
                        NdiRuntimeKind kind) {
  if (dir.empty()) return;
  out.push_back({joinPath(dir, file), kind, true});
}

std::vector<Candidate> searchOrder(const NdiRuntimeOptions& options) {
  std::vector<Candidate> order;
  if (!options.skipVendor) {
    addFolderCandidate(order, envValue("NDI_RUNTIME_DIR_V6"), "libndi.so.6", NdiRuntimeKind::Vendor);
    order.push_back({"libndi.so.6", NdiRuntimeKind::Vendor, true});
    addFolderCandidate(order, envValue("NDI_RUNTIME_DIR_V5"), "libndi.so.5", NdiRuntimeKind::Vendor);
    order.push_back({"libndi.so.5", NdiRuntimeKind::Vendor, true});
    order.push_back({"libndi.so", NdiRuntimeKind::Vendor, true});
  }
  if (!options.standInDirs.empty()) {
    for (const std::string& dir : options.standInDirs)
      addFolderCandidate(order, dir, kStandInFile, NdiRuntimeKind::StandIn);
  } else {
    const std::string exeDir = NdiExecutableDir();
    if (!exeDir.empty()) {
      addFolderCandidate(order, exeDir + "/../lib", kStandInFile, NdiRuntimeKind::StandIn);
      addFolderCandidate(order, exeDir + "/../lib/vora-plombix", kStandInFile,
                         NdiRuntimeKind::StandIn);
    }
  }
  order.push_back({kStandInFile, NdiRuntimeKind::StandIn, true});
  return order;
}

bool isBareName(const std::string& path) { return path.find('/') == std::string::npos; }

}  // namespace

const char* NdiRuntimeKindText(NdiRuntimeKind kind) {
  switch (kind) {
    case NdiRuntimeKind::None: return "none";
    case NdiRuntimeKind::Vendor: return "vendor";
    case NdiRuntimeKind::StandIn: return "stand-in";
    case NdiRuntimeKind::Forced: return "forced";
  }
  return "none";
}

std::string NdiRuntimeDescription(NdiRuntimeKind kind, const std::string& path) {
  const bool standInFile = path.size() >= std::strlen(kStandInFile) &&
                           path.compare(path.size() - std::strlen(kStandInFile), std::string::npos,
                                        kStandInFile) == 0;
  switch (kind) {
    case NdiRuntimeKind::None: return "no NDI runtime";
    case NdiRuntimeKind::Vendor: return "the vendor's NDI runtime";
    case NdiRuntimeKind::StandIn:
      return "the built-in stand-in runtime (HTTP, not the NDI wire protocol)";
    case NdiRuntimeKind::Forced:
      return standInFile ? "the built-in stand-in runtime (HTTP, not the NDI wire protocol)"
                         : "the NDI runtime named by PLOMBIX_NDI_RUNTIME";
  }
  return "no NDI runtime";
}

std::string NdiExecutableDir() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, size_t(n));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

NdiRuntime LoadNdiRuntimeFile(const std::string& path, NdiRuntimeKind kind,
                              NdiReceiveSymbols receive, std::string* reason) {
  NdiRuntime table;
  // RTLD_LOCAL keeps the library's symbols out of the global namespace, so
  // two candidates exporting the same names never shadow each other.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    if (reason) *reason = "Could not open module '" + path + "': " + (why ? why : "unknown error");
    return table;
  }
  const char* missing = nullptr;
  bool ok = resolveAll(handle, kSenderEntries, table, &missing);
  if (ok && !resolveAll(handle, kReceiveEntries, table, &missing)) {
    clearAll(kReceiveEntries, table);
    ok = receive == NdiReceiveSymbols::Optional;
  }
  if (!ok) {
    if (reason)
      *reason = std::string("Could not load function '") + missing + "' from module '" + path + "'";
    // Nothing of this library was called, so no thread of it can run yet.
    ::dlclose(handle);
    return NdiRuntime{};
  }
  for (const Entry& e : kOptionalEntries) e.store(table, dlsym(handle, e.name));
  // The handle is deliberately kept open for the life of the process.
  table.kind = kind;
  table.path = path;
  // Report the file the dynamic loader actually chose for a bare name.
  link_map* map = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && map->l_name[0] == '/')
    table.path = map->l_name;
  return table;
}

NdiRuntimeLoad LoadNdiRuntime(const NdiRuntimeOptions& options) {
  NdiRuntimeLoad result;
  const std::string forced = envValue("PLOMBIX_NDI_RUNTIME");
  if (!forced.empty()) {
    std::string reason;
    result.runtime = LoadNdiRuntimeFile(forced, NdiRuntimeKind::Forced, options.receive, &reason);
    if (!result.runtime.loaded()) {
      result.skipped.push_back(reason);
      result.error = "PLOMBIX_NDI_RUNTIME names a library that cannot be used: " + reason;
    }
    return result;
  }

  for (const Candidate& c : searchOrder(options)) {
    // A file in a named folder that is not there is no news; a bare name is
    // left to the dynamic loader, whose "not found" is equally no news.
    if (!isBareName(c.path) && !fileExists(c.path)) continue;
    std::string reason;
    NdiRuntime table = LoadNdiRuntimeFile(c.path, c.kind, options.receive, &reason);
    if (table.loaded()) {
      result.runtime = table;
      return result;
    }
    const bool notFoundOnPath = isBareName(c.path) && reason.find("cannot open shared object file") !=
                                                          std::string::npos;
    if (!(c.quietIfAbsent && notFoundOnPath)) result.skipped.push_back(reason);
  }
  result.error = "No usable NDI runtime was found (neither libndi.so.6, libndi.so.5 nor " +
                 std::string(kStandInFile) + ")";
  return result;
}

}  // namespace plombix
