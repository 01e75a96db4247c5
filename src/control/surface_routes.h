// The control-surface endpoints the server answers on its own thread,
// without the window: the event stream (GET /api/v1/events, a WebSocket
// when the request asks to upgrade, Server-Sent Events otherwise) and the
// as-run log's entries (GET /api/v1/as-run).
#pragma once

#include <microhttpd.h>

#include <memory>
#include <mutex>
#include <string>

#include "event_hub.h"

namespace plombix::control {

// The hub as the server's thread reaches it: the upgrade callback may fire
// while the server stops, so it asks for the hub under a lock and finds it
// gone then.
class HubSlot {
 public:
  void set(std::unique_ptr<EventHub> hub);
  std::unique_ptr<EventHub> take();
  // Runs `f(hub)` under the lock; `f(nullptr)` once the hub has gone.
  template <class F>
  auto with(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(hub_.get());
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<EventHub> hub_;
};

// Answers an admitted GET /api/v1/events: 101 and the socket handed to the
// hub, 400 or 426 for a bad handshake, 503 when every event slot is taken
// (or the hub is gone), else a Server-Sent Events stream that parks the
// connection while nothing is queued.
MHD_Result QueueEvents(MHD_Connection* connection, HubSlot& slot);

// An answer of GET /api/v1/as-run?since=TIME&limit=N: {"entries": [...]}
// oldest first, at most `limit` (default 100, at most 1000) of them.
struct SurfaceAnswer {
  int status = 200;
  std::string body;
};
SurfaceAnswer AsRunAnswer(const std::string& file, const char* since, const char* limit);

}  // namespace plombix::control
