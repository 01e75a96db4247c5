// SourceRegistry: the sources of this process whose sender was destroyed,
// kept serving for a grace period so that a sender created again under the
// same name takes them over: its port, open streams, their receiver ids
// and tally, and the last frame (a player re-creates its sender at every
// output change; the viewers stay). A source nobody takes over within
// kGracePeriodMs is closed, which frees its port and removes its discovery
// entry. NDIlib_destroy closes every lingering source at once.
//
// One per process (Instance()); thread-safe. A watcher thread, started with
// the first lingering source, closes sources whose grace period is over. The
// registry is never destroyed, so the watcher never outlives it, even at the
// process's exit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "http_source.h"

namespace plombix::standin {

constexpr int kGracePeriodMs = 3000;

class SourceRegistry {
 public:
  static SourceRegistry& Instance();

  // The lingering source of `name`, now no longer lingering; null if none.
  // While a source of that name is being closed, waits until it is closed
  // (its port and name are free then).
  std::shared_ptr<HttpSource> takeOver(const std::string& name);
  // Keeps `source` serving for the grace period, then closes it (unless
  // taken over). A source of the same name already lingering is closed.
  void linger(std::shared_ptr<HttpSource> source);
  // Closes every lingering source now.
  void closeAll();
  // Sources lingering now.
  size_t lingering() const;

 private:
  SourceRegistry() = default;
  void watch();

  using Clock = std::chrono::steady_clock;
  struct Lingering {
    std::shared_ptr<HttpSource> source;
    Clock::time_point closeAt;
  };
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Lingering> lingering_;
  std::multiset<std::string> closing_;  // names of sources being closed now
  bool watching_ = false;
};

}  // namespace plombix::standin
