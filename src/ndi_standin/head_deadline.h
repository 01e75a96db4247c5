// HeadDeadlines: a request's head (request line and headers) must be
// complete within a fixed time from the moment its connection was accepted,
// however slowly its bytes trickle in. The HTTP server's own idle time-out
// starts again with every byte, so a client sending one byte every few
// seconds could otherwise hold a connection slot for as long as it liked;
// a few such clients would lock every viewer out.
//
// The server reports each connection as it is accepted, when its head is
// complete, and when it is closed. A connection still without a complete
// head at its deadline is cut (its socket shut down in both directions),
// which makes the server drop it. Connections with a complete head (open
// streams among them) are never touched.
//
// Thread-safe; one watchdog thread, asleep while no connection is waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace plombix::standin {

class HeadDeadlines {
 public:
  explicit HeadDeadlines(std::chrono::milliseconds limit);
  ~HeadDeadlines();  // stops the watchdog; cuts nothing more
  HeadDeadlines(const HeadDeadlines&) = delete;
  HeadDeadlines& operator=(const HeadDeadlines&) = delete;

  // `connection` identifies the connection (any pointer unique while it is
  // open); `fd` is its socket, which stays open until closed() returns.
  void accepted(const void* connection, int fd);
  void headComplete(const void* connection);
  void closed(const void* connection);

  // Connections cut so far.
  unsigned long cutCount() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Waiting {
    int fd = -1;
    Clock::time_point deadline;
    bool cut = false;
  };
  void run();

  const std::chrono::milliseconds limit_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<const void*, Waiting> waiting_;
  unsigned long cuts_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace plombix::standin
