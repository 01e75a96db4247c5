// Discovery of stand-in sources on this machine: one small text file per live
// source in the "sources" folder of the runtime folder (runtime_folder.h).
//
// File `<encoded name>.source`, lines "key=value":
//   name=<source name>   url=http://<host>:<port>/   pid=<process id>
//   start=<process start time, clock ticks since boot>
// The file name is derived from the source name, so one name has at most one
// file: a name whose file belongs to a live process is in use. Entries of
// dead processes (pid gone, or the pid now belongs to a process started at
// another time) and files that do not parse are treated as absent.
#pragma once

#include <string>
#include <vector>

namespace plombix::standin {

struct SourceEntry {
  std::string name;
  std::string url;
  long pid = 0;
  unsigned long long startTicks = 0;  // 0: unknown
};

enum class ClaimResult { Claimed, NameInUse, Failed };

// Longest source name accepted, in bytes.
constexpr size_t kMaxSourceNameBytes = 255;

// True for names a source may carry: 1..kMaxSourceNameBytes bytes, no
// control characters.
bool IsValidSourceName(const std::string& name);

// Publishes `name` at `url` for this process. Fails with NameInUse while a
// live process holds the name; replaces entries of dead processes.
[[nodiscard]] ClaimResult ClaimSource(const std::string& sourcesDir, const std::string& name,
                                      const std::string& url, std::string* error);

// Removes this process's entry for `name` (and nothing that is not ours).
void ReleaseSource(const std::string& sourcesDir, const std::string& name, const std::string& url);

// The live sources, sorted by name.
std::vector<SourceEntry> ListSources(const std::string& sourcesDir);

// Parses one file's text; false when it is not a complete entry.
[[nodiscard]] bool ParseSourceEntry(const std::string& text, SourceEntry* entry);

// Whether the process of `entry` still runs.
bool IsSourceAlive(const SourceEntry& entry);

// Start time of process `pid` in clock ticks since boot; 0 if unknown.
unsigned long long ProcessStartTicks(long pid);

// File name (without folder) of the entry for `name`.
std::string SourceFileName(const std::string& name);

}  // namespace plombix::standin
