// ConnectionGuard: keeps the remote control reachable for the clients that
// may use it, whatever other clients do with their connections.
//
// Shares. Every connection counts against a total and against its client's
// share, which is below the total. The client is the user owning the peer's
// socket for a loopback connection -- every local user may pick any of the
// sixteen million loopback addresses, so counting by address means nothing
// there -- and the remote address otherwise. One client never fills the
// server alone.
//
// Making room. A connection that has not shown a request which passed the
// access check is "unproven": still sending its head, refused, or idle
// between two requests. It keeps its place only until a newcomer needs it:
// when the newcomer's client share or the total is full, the unproven
// connection waiting longest (of that client, or of all) is cut; only when
// every connection in the way serves an admitted request is the newcomer cut
// instead. Admitted requests end by themselves (the request deadline, the
// window's deadline), so they cannot hold the server for long, and only the
// operator's programs or token holders get one.
//
// Why this guarantees an answer while an attacker holds or churns
// connections: limits that merely refuse newcomers keep a client out as long
// as trickling connections hold every place. Here a newcomer always finds
// room, and a client sends its whole request head as soon as it has
// connected: from the moment that head is in the socket, the connection is
// no longer cut to make room (a whole head waiting to be read is looked
// for before cutting), and once read and admitted it is no longer
// unproven. The attacker's own connections, older and never complete, are
// cut first. Only an attacker that opens more connections than the share
// in the instant between the client's connect and its send could still
// push it out.
//
// Deadlines. A request's head must arrive within `headDeadline` of the
// connection's start (or of the previous answer on a kept-alive connection),
// and the whole request within `requestDeadline`, however slowly its bytes
// trickle in (the server's own idle time-out starts again with every byte).
//
// Cutting a connection shuts its socket down in both directions; the server
// sees the connection end and closes it. Thread-safe; one watchdog thread,
// asleep while no deadline is running.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace plombix::control {

class ConnectionGuard {
 public:
  struct Limits {
    unsigned total = 32;
    unsigned perClient = 16;
    std::chrono::milliseconds headDeadline{5000};
    std::chrono::milliseconds requestDeadline{10000};
  };

  explicit ConnectionGuard(const Limits& limits);
  ~ConnectionGuard();  // stops the watchdog; cuts nothing more
  ConnectionGuard(const ConnectionGuard&) = delete;
  ConnectionGuard& operator=(const ConnectionGuard&) = delete;

  // The server's reports. `id` is any pointer unique while the connection is
  // open; `fd` its socket, open until closed() returns; `client` the key of
  // its share ("user 1000", "address 192.0.2.7").
  void opened(const void* id, int fd, const std::string& client);
  void headArrived(const void* id, bool admitted);  // admitted: passed the access check
  void requestArrived(const void* id);              // the whole request: no deadline now
  void answered(const void* id);                    // the next request's deadlines start
  void closed(const void* id);

 private:
  using Clock = std::chrono::steady_clock;
  struct Entry {
    int fd = -1;
    std::string client;
    Clock::time_point since;  // start, or the previous answer
    bool headDone = false;
    bool admitted = false;
    bool complete = false;
    bool cut = false;
  };
  // Cuts the unproven connection of `client` (any client when null) waiting
  // longest; false when there is none.
  bool cutOldestUnproven(const std::string* client);
  // True when a whole request head sits unread in the socket.
  bool headWaiting(int fd);
  void cut(Entry& e);
  void watch();

  const Limits limits_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<const void*, Entry> entries_;
  std::vector<char> peek_ = std::vector<char>(16 * 1024);
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace plombix::control
