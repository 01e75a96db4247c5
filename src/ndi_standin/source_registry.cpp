#include "source_registry.h"

#include <vector>

namespace plombix::standin {

SourceRegistry& SourceRegistry::Instance() {
  // Never destroyed: the watcher thread may still wait on it at exit.
  static SourceRegistry* const registry = new SourceRegistry();
  return *registry;
}

std::shared_ptr<HttpSource> SourceRegistry::takeOver(const std::string& name) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return closing_.count(name) == 0; });
  auto it = lingering_.find(name);
  if (it == lingering_.end()) return nullptr;
  std::shared_ptr<HttpSource> source = std::move(it->second.source);
  lingering_.erase(it);
  return source;
}

void SourceRegistry::linger(std::shared_ptr<HttpSource> source) {
  if (!source) return;
  std::unique_lock<std::mutex> lock(mutex_);
  const std::string name = source->name();
  std::shared_ptr<HttpSource> replaced;
  auto it = lingering_.find(name);
  if (it != lingering_.end()) replaced = std::move(it->second.source);
  lingering_[name] = Lingering{std::move(source), Clock::now() + std::chrono::milliseconds(kGracePeriodMs)};
  if (!watching_) {
    watching_ = true;
    std::thread([this] { watch(); }).detach();
  }
  lock.unlock();
  changed_.notify_all();
  if (replaced) replaced->close();
}

void SourceRegistry::closeAll() {
  std::map<std::string, Lingering> closing;
  std::unique_lock<std::mutex> lock(mutex_);
  closing.swap(lingering_);
  for (const auto& [name, l] : closing) closing_.insert(name);
  lock.unlock();
  for (auto& [name, l] : closing) l.source->close();
  lock.lock();
  for (const auto& [name, l] : closing) closing_.erase(closing_.find(name));
  lock.unlock();
  changed_.notify_all();
}

size_t SourceRegistry::lingering() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lingering_.size();
}

void SourceRegistry::watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    std::vector<std::shared_ptr<HttpSource>> expired;
    for (auto it = lingering_.begin(); it != lingering_.end();) {
      if (it->second.closeAt <= now) {
        expired.push_back(std::move(it->second.source));
        it = lingering_.erase(it);
      } else {
        next = std::min(next, it->second.closeAt);
        ++it;
      }
    }
    if (!expired.empty()) {
      // Closing joins the source's threads: outside the lock, so that
      // senders of other names are not held up. One of the same name waits
      // in takeOver() until its port and name are free again.
      for (const auto& source : expired) closing_.insert(source->name());
      lock.unlock();
      for (auto& source : expired) source->close();
      lock.lock();
      for (const auto& source : expired) closing_.erase(closing_.find(source->name()));
      expired.clear();
      changed_.notify_all();
      continue;
    }
    if (next == Clock::time_point::max())
      changed_.wait(lock);
    else
      changed_.wait_until(lock, next);
  }
}

}  // namespace plombix::standin
