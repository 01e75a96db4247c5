#include "head_deadline.h"

#include <sys/socket.h>

namespace plombix::standin {

HeadDeadlines::HeadDeadlines(std::chrono::milliseconds limit)
    : limit_(limit), thread_([this] { run(); }) {}

HeadDeadlines::~HeadDeadlines() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void HeadDeadlines::accepted(const void* connection, int fd) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_[connection] = Waiting{fd, Clock::now() + limit_, false};
  }
  changed_.notify_all();
}

void HeadDeadlines::headComplete(const void* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  waiting_.erase(connection);
}

void HeadDeadlines::closed(const void* connection) {
  // Under the lock: once this returns the watchdog no longer knows the
  // socket, so the server may close it and the number may be reused.
  std::lock_guard<std::mutex> lock(mutex_);
  waiting_.erase(connection);
}

unsigned long HeadDeadlines::cutCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cuts_;
}

void HeadDeadlines::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    for (auto& [connection, w] : waiting_) {
      if (w.cut) continue;
      if (w.deadline <= now) {
        // The server sees the end of the stream and drops the connection.
        ::shutdown(w.fd, SHUT_RDWR);
        w.cut = true;
        ++cuts_;
      } else if (w.deadline < next) {
        next = w.deadline;
      }
    }
    if (next == Clock::time_point::max())
      changed_.wait(lock);
    else
      changed_.wait_until(lock, next);
  }
}

}  // namespace plombix::standin
