// EventHub: pushes the player's changes to the control surfaces that follow
// them (GET /api/v1/events), over WebSocket or as Server-Sent Events.
//
// Each change is one message, {"type": T, ..., "state": {the whole state}},
// serialised once on the window's thread by publish() and shared by every
// client. publish() never waits for a client: it puts the message in each
// client's queue (at most `maxQueued` messages) and wakes the hub's own
// thread, which does all the network work. A client whose queue is full has
// fallen behind and is dropped -- the others never wait for it. A client that
// connects first gets {"type": "state", "state": ...} with the last state
// published, then each change after it.
//
// Two kinds of client:
//  - WebSocket: the hub takes the socket (after the HTTP upgrade) and serves
//    it on its thread: sends the messages as text frames, answers pings,
//    closes on a close frame or on a frame it does not take (websocket.h).
//  - Server-Sent Events: the HTTP server's response pulls the framed bytes
//    with EventStream::read() and parks while nothing is queued; the hub
//    calls the stream's `wake` when there is more to read or it has ended.
//
// At most `maxClients` clients of both kinds together. Thread-safe: publish
// from the window's thread, add and read from the server's thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace plombix::control {

struct EventHubLimits {
  size_t maxClients = 32;
  size_t maxQueued = 8;  // messages waiting for one client before it is dropped
  // A ping (WebSocket) or comment line (SSE) after this long without a
  // message, so that a client that has gone away is noticed.
  std::chrono::milliseconds keepAlive{15000};
};

// A text member of a message beside type and state ("trigger", "reason").
struct EventField {
  std::string_view name;
  std::string_view value;  // any bytes; bad UTF-8 is replaced
};

// {"type": type, name: value ..., "state": stateJson}; `stateJson` is one
// JSON object (StateJson's text) and is copied in as it is.
[[nodiscard]] std::string EventJson(std::string_view type, std::string_view stateJson,
                                    std::initializer_list<EventField> fields = {});

// One Server-Sent Event: "event: TYPE\ndata: JSON\n\n" (`json` has no line breaks).
[[nodiscard]] std::string SseFrame(std::string_view type, std::string_view json);

class EventStream;
struct EventClient;

class EventHub {
 public:
  // Null when the hub's thread cannot start (`*error` says why).
  [[nodiscard]] static std::unique_ptr<EventHub> Start(const EventHubLimits& limits, std::string* error);
  // Closes every WebSocket client and ends every stream (its `wake` is
  // called; read() then answers -1). Call it before stopping the HTTP server.
  ~EventHub();

  EventHub(const EventHub&) = delete;
  EventHub& operator=(const EventHub&) = delete;

  // Window's thread: one change. Costs a copy of the message per format and
  // a pointer per client; never blocks on a client.
  void publish(std::string_view type, std::string_view stateJson,
               std::initializer_list<EventField> fields = {});

  // True while a client can still be added (to answer 503 before upgrading).
  [[nodiscard]] bool hasRoom() const;

  // Takes the socket `fd` of a WebSocket client whose handshake has been
  // answered; `alreadyRead` are bytes the server read past the request's
  // head. `close` gives the socket back (the hub never closes `fd` itself);
  // it is called exactly once, on the hub's thread or in the destructor --
  // at once when every slot is taken (false is then returned).
  [[nodiscard]] bool addWebSocket(int fd, std::string_view alreadyRead, std::function<void()> close);

  // A Server-Sent Events client; null when every slot is taken. `wake` is
  // called on the hub's thread (or in the destructor), under the hub's lock,
  // after read() parked and more can be read or the stream ended: it must
  // not call read() itself (resuming the HTTP connection is what it is for).
  [[nodiscard]] std::shared_ptr<EventStream> addStream(std::function<void()> wake);

  size_t clients() const;
  uint64_t dropped() const;  // clients dropped for falling behind

  class State;

 private:
  EventHub() = default;

  std::shared_ptr<State> state_;
  std::thread thread_;
};

// The pull side of one Server-Sent Events client; held by the HTTP response.
class EventStream {
 public:
  EventStream(std::shared_ptr<EventHub::State> state, std::shared_ptr<EventClient> client)
      : state_(std::move(state)), client_(std::move(client)) {}
  // Frees the client's slot (the HTTP connection has ended); no `wake` follows.
  ~EventStream();

  // Copies up to `max` queued bytes to `buffer`: their number; 0 when
  // nothing is queued -- then `park` was called (under the hub's lock, so no
  // wake is lost: suspend the connection in it) and `wake` follows when
  // there is more; -1 when the client was dropped or the hub stopped.
  ssize_t read(char* buffer, size_t max, const std::function<void()>& park);

 private:
  std::shared_ptr<EventHub::State> state_;
  std::shared_ptr<EventClient> client_;
};

}  // namespace plombix::control
