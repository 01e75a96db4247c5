// ControlServer: a copy's remote-control API over HTTP (api_request.h lists
// the endpoints, control_settings.h the address, port and token rules).
//
// Why libmicrohttpd and not Qt's HTTP server: the server must never let a
// client hold up the window, and must bound what a client can cost. Qt's
// server (6.4 on Debian 12) runs its handlers on the window's thread and
// offers no limit on header size, body size, connections or request time;
// libmicrohttpd (already used by the stand-in runtime) does the network work
// on its own thread, bounds the memory of a request's head, drops idle
// connections, and can park a request (MHD_suspend_connection) until the
// window's answer arrives and then finish it (MHD_resume_connection) -- so
// one thread serves every client and no thread ever waits on the window or
// the window on a client.
//
// Threads: the server's own thread reads requests, checks them, answers
// what needs no window (errors, the web page) and hands each command to the
// window's thread through `post`. There the command calls ControlHost; the
// answer (with the new state) goes back to the server's thread, which sends
// it. A watchdog thread answers requests the window leaves waiting.
//
// Who may connect, and for how long: ConnectionGuard (connection_guard.h)
// holds each client to its share of maxConnections, makes room for
// newcomers by cutting connections whose request has not passed the access
// check, and enforces headDeadline and requestDeadline. Who may ask: the
// access check (access_check.h), with the user owning a loopback client's
// socket (peer_user.h). A head larger than maxHeadBytes is refused by the
// library, a body larger than maxBodyBytes is 413. A window that does not
// answer within hostDeadline gets the client a 503.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "control_host.h"
#include "control_settings.h"
#include "event_hub.h"

namespace plombix::control {

struct ControlLimits {
  // Room for every event client (events.maxClients) beside the requests.
  unsigned maxConnections = 64;
  unsigned maxConnectionsPerClient = 48;  // a local user, or a remote address
  size_t maxHeadBytes = 32 * 1024;  // libmicrohttpd's memory for one connection
  size_t maxBodyBytes = 16 * 1024;  // far above any command (a path is at most 4 KiB)
  std::chrono::milliseconds headDeadline{5000};      // from the connection's start
  std::chrono::milliseconds requestDeadline{10000};  // the whole request
  unsigned idleTimeoutSeconds = 10;  // nothing sent or received for this long
  std::chrono::milliseconds hostDeadline{30000};
  EventHubLimits events;  // GET /api/v1/events
};

class ControlServer {
 public:
  // Runs `task` on the window's thread later (a queued call), never before
  // returning. Dropping a task (a window that is gone) is allowed. In a Qt
  // window:
  //   [this](std::function<void()> task) {
  //     QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
  //   }
  using Post = std::function<void(std::function<void()> task)>;

  // Starts serving `settings` (which must be enabled). `host` must outlive
  // the server; it is called only from tasks given to `post`. Null on
  // failure with `*error` saying why (for example the port is taken).
  static std::unique_ptr<ControlServer> Start(const ControlSettings& settings, ControlHost& host,
                                              Post post, std::string* error,
                                              const ControlLimits& limits = {});

  // Stops serving: requests still waiting for the window are answered 503,
  // every connection closed, the port free on return. Tasks already posted
  // then do nothing. Call it on the window's thread.
  ~ControlServer();

  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  int port() const;
  std::string url() const;  // "http://127.0.0.1:5981/"

  // Window's thread: one change pushed to every event client, {"type":
  // type, fields..., "state": state}. Never waits for a client.
  void publish(std::string_view type, const ControlState& state, std::initializer_list<EventField> fields = {});
  size_t eventClients() const;

  class Core;

 private:
  ControlServer() = default;
  std::shared_ptr<Core> core_;
};

}  // namespace plombix::control
