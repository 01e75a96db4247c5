#include "connection_guard.h"

#include <sys/socket.h>

#include <algorithm>
#include <string_view>

namespace plombix::control {

ConnectionGuard::ConnectionGuard(const Limits& limits) : limits_(limits), thread_([this] { watch(); }) {}

ConnectionGuard::~ConnectionGuard() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ConnectionGuard::cut(Entry& e) {
  if (e.cut) return;
  if (e.fd >= 0) ::shutdown(e.fd, SHUT_RDWR);
  e.cut = true;
}

bool ConnectionGuard::headWaiting(int fd) {
  if (fd < 0) return false;
  const ssize_t n = ::recv(fd, peek_.data(), peek_.size(), MSG_PEEK | MSG_DONTWAIT);
  return n > 0 && std::string_view(peek_.data(), size_t(n)).find("\r\n\r\n") != std::string_view::npos;
}

bool ConnectionGuard::cutOldestUnproven(const std::string* client) {
  std::vector<const Entry*> spared;
  for (;;) {
    Entry* oldest = nullptr;
    for (auto& [id, e] : entries_) {
      if (e.cut || e.admitted || (client && e.client != *client)) continue;
      if (std::find(spared.begin(), spared.end(), &e) != spared.end()) continue;
      if (!oldest || e.since < oldest->since) oldest = &e;
    }
    if (!oldest) return false;
    // A whole head waiting to be read is a request the server has not got
    // to yet, not a client holding a place.
    if (headWaiting(oldest->fd)) {
      spared.push_back(oldest);
      continue;
    }
    cut(*oldest);
    return true;
  }
}

void ConnectionGuard::opened(const void* id, int fd, const std::string& client) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry e{fd, client, Clock::now()};
    unsigned total = 0, mine = 0;
    for (const auto& [other, o] : entries_) {
      if (o.cut) continue;
      ++total;
      mine += o.client == client;
    }
    // Cutting one of the client's own also frees a place in the total.
    const bool room = mine >= limits_.perClient ? cutOldestUnproven(&client)
                      : total >= limits_.total  ? cutOldestUnproven(nullptr)
                                                : true;
    if (!room) cut(e);
    entries_[id] = std::move(e);
  }
  changed_.notify_all();
}

void ConnectionGuard::headArrived(const void* id, bool admitted) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = entries_.find(id);
  if (it == entries_.end()) return;
  it->second.headDone = true;
  it->second.admitted = admitted;
}

void ConnectionGuard::requestArrived(const void* id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = entries_.find(id);
  if (it != entries_.end()) it->second.complete = true;
}

void ConnectionGuard::answered(const void* id) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = entries_.find(id);
    if (it == entries_.end()) return;
    Entry& e = it->second;
    e.since = Clock::now();
    e.headDone = e.admitted = e.complete = false;
  }
  changed_.notify_all();
}

void ConnectionGuard::closed(const void* id) {
  // Under the lock: once this returns the guard no longer knows the socket,
  // so the server may close it and its number may be reused.
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(id);
}

void ConnectionGuard::watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    for (auto& [id, e] : entries_) {
      if (e.complete || e.cut) continue;
      const Clock::time_point deadline = e.since + (e.headDone ? limits_.requestDeadline : limits_.headDeadline);
      if (now >= deadline) cut(e);
      else next = std::min(next, deadline);
    }
    if (next == Clock::time_point::max()) changed_.wait(lock);
    else changed_.wait_until(lock, next);
  }
}

}  // namespace plombix::control
