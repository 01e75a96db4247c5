#include "event_hub.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "websocket.h"

namespace plombix::control {

using Clock = std::chrono::steady_clock;

namespace {

// One change, framed once for each kind of client.
struct Message {
  std::string webSocket;
  std::string sse;
};
using MessagePtr = std::shared_ptr<const Message>;

MessagePtr MakeMessage(std::string_view type, const std::string& json) {
  return std::make_shared<const Message>(Message{ServerFrame(WsOpcode::Text, json), SseFrame(type, json)});
}

// A JSON string literal of any bytes (bad UTF-8 replaced, as StateJson does).
std::string JsonString(std::string_view text) {
  const QByteArray array =
      QJsonDocument(QJsonArray{QString::fromUtf8(text.data(), qsizetype(text.size()))}).toJson(QJsonDocument::Compact);
  return std::string(array.constData() + 1, size_t(array.size() - 2));  // without [ ]
}

}  // namespace

// One client. The queue and flags are guarded by State::mutex; the socket
// members are the hub thread's alone.
struct EventClient {
  bool webSocket = false;
  std::deque<MessagePtr> queue;
  size_t offset = 0;   // stream: bytes of queue.front() already read
  bool ended = false;  // dropped, closed or the hub stopped: nothing more is queued
  bool parked = false; // stream: read() found nothing; wake when that changes
  std::function<void()> wake;

  int fd = -1;
  std::function<void()> close;
  WebSocketReader reader;
  std::string out;  // bytes to send; new messages are taken only once it is empty
  size_t sent = 0;
  bool closing = false;
};

class EventHub::State {
 public:
  explicit State(const EventHubLimits& l) : limits(l) {}
  ~State() {
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void signal() const {
    const uint64_t one = 1;
    (void)!::write(wakeFd, &one, sizeof one);
  }

  // Under `mutex`: queues `m` for `c`, or drops `c` when its queue is full.
  void enqueue(EventClient& c, const MessagePtr& m) {
    if (c.ended) return;
    if (c.queue.size() >= limits.maxQueued) {
      c.ended = true;
      c.queue.clear();
      ++droppedCount;
      return;
    }
    c.queue.push_back(m);
  }

  // Under `mutex`: a new client, with the last state first.
  std::shared_ptr<EventClient> add(bool webSocket) {
    if (stopping || clients.size() >= limits.maxClients) return nullptr;
    auto c = std::make_shared<EventClient>();
    c->webSocket = webSocket;
    if (latestState) c->queue.push_back(MakeMessage("state", EventJson("state", *latestState)));
    clients.push_back(c);
    return c;
  }

  void remove(const EventClient* c) {
    std::erase_if(clients, [c](const std::shared_ptr<EventClient>& x) { return x.get() == c; });
  }

  void run();
  // The hub thread's socket work for one WebSocket client; false when it is done.
  bool serve(EventClient& c, short revents);

  const EventHubLimits limits;
  int wakeFd = -1;
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<EventClient>> clients;
  std::shared_ptr<const std::string> latestState;
  Clock::time_point lastMessage = Clock::now();
  uint64_t droppedCount = 0;
  bool stopping = false;
};

std::string EventJson(std::string_view type, std::string_view stateJson, std::initializer_list<EventField> fields) {
  std::string json = "{\"type\":";
  json += JsonString(type);
  for (const EventField& f : fields) {
    json += ',';
    json += JsonString(f.name);
    json += ':';
    json += JsonString(f.value);
  }
  json += ",\"state\":";
  json.append(stateJson);
  json += '}';
  return json;
}

std::string SseFrame(std::string_view type, std::string_view json) {
  std::string frame = "event: ";
  frame.append(type);
  frame += '\n';
  // A line break would end the data field: each line gets its own.
  for (size_t start = 0;;) {
    const size_t end = json.find('\n', start);
    frame += "data: ";
    frame.append(json.substr(start, end - start));
    frame += '\n';
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  frame += '\n';
  return frame;
}

std::unique_ptr<EventHub> EventHub::Start(const EventHubLimits& limits, std::string* error) {
  auto state = std::make_shared<State>(limits);
  state->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (state->wakeFd < 0) {
    if (error) *error = std::string("eventfd: ") + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<EventHub> hub(new EventHub());
  hub->state_ = state;
  hub->thread_ = std::thread([state] {
    // A batch thread is never run in place of the thread that wakes it: a
    // publish does not hand the window's CPU to the sending. An idle core
    // still takes the sending at once; a busy machine delays it by at most
    // a time slice.
    const sched_param none{};
    (void)::pthread_setschedparam(::pthread_self(), SCHED_BATCH, &none);
    state->run();
  });
  return hub;
}

EventHub::~EventHub() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->signal();
  thread_.join();
  std::vector<std::shared_ptr<EventClient>> sockets;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (const std::shared_ptr<EventClient>& c : state_->clients) {
      c->ended = true;
      c->queue.clear();
      if (c->webSocket) {
        sockets.push_back(c);
      } else if (c->parked) {
        c->parked = false;
        c->wake();
      }
    }
    state_->clients.clear();
  }
  for (const std::shared_ptr<EventClient>& c : sockets) {
    const std::string bye = CloseFrame(kCloseGoingAway);
    (void)!::send(c->fd, bye.data(), bye.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    c->close();
  }
}

void EventHub::publish(std::string_view type, std::string_view stateJson, std::initializer_list<EventField> fields) {
  const MessagePtr m = MakeMessage(type, EventJson(type, stateJson, fields));
  auto latest = std::make_shared<const std::string>(stateJson);
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->latestState.swap(latest);
    for (const std::shared_ptr<EventClient>& c : state_->clients) state_->enqueue(*c, m);
    state_->lastMessage = Clock::now();
  }
  state_->signal();
  // `latest` (the previous state) is freed here, outside the lock.
}

bool EventHub::hasRoom() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return !state_->stopping && state_->clients.size() < state_->limits.maxClients;
}

bool EventHub::addWebSocket(int fd, std::string_view alreadyRead, std::function<void()> close) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  std::shared_ptr<EventClient> c;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    c = state_->add(true);
    if (c) {
      c->fd = fd;
      c->close = std::move(close);
      if (!c->reader.feed(alreadyRead.data(), alreadyRead.size(), &c->out)) c->closing = true;
    }
  }
  if (!c) {
    const std::string full = CloseFrame(kCloseTryLater, "too many event clients");
    (void)!::send(fd, full.data(), full.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    close();
    return false;
  }
  state_->signal();
  return true;
}

std::shared_ptr<EventStream> EventHub::addStream(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::shared_ptr<EventClient> c = state_->add(false);
  if (!c) return nullptr;
  c->wake = std::move(wake);
  return std::make_shared<EventStream>(state_, c);
}

size_t EventHub::clients() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->clients.size();
}

uint64_t EventHub::dropped() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->droppedCount;
}

void EventHub::State::run() {
  const MessagePtr keepAlive = std::make_shared<const Message>(
      Message{ServerFrame(WsOpcode::Ping, {}), ": keep-alive\n\n"});
  std::vector<std::shared_ptr<EventClient>> sockets;
  std::vector<pollfd> fds;
  for (;;) {
    sockets.clear();
    Clock::time_point nextKeepAlive;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) return;
      if (Clock::now() >= lastMessage + limits.keepAlive) {
        for (const std::shared_ptr<EventClient>& c : clients) enqueue(*c, keepAlive);
        lastMessage = Clock::now();
      }
      nextKeepAlive = lastMessage + limits.keepAlive;
      for (const std::shared_ptr<EventClient>& c : std::vector(clients)) {
        if (!c->webSocket) {
          if (c->parked && !c->queue.empty()) {
            c->parked = false;
            c->wake();
          }
          if (c->ended) remove(c.get());  // its EventStream answers -1 from now on
          continue;
        }
        if (c->ended) c->closing = true;
        if (c->sent == c->out.size() && !c->closing) {
          c->out.clear();
          c->sent = 0;
          for (const MessagePtr& m : c->queue) c->out += m->webSocket;
          c->queue.clear();
        }
        sockets.push_back(c);
      }
    }

    fds.assign(1, pollfd{wakeFd, POLLIN, 0});
    // A client with bytes still to send is not read: its pongs cannot pile up
    // while it does not read them, and its own sending waits in TCP.
    for (const std::shared_ptr<EventClient>& c : sockets)
      fds.push_back(pollfd{c->fd, short(c->sent < c->out.size() || c->closing ? POLLOUT : POLLIN), 0});
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextKeepAlive - Clock::now()).count();
    if (::poll(fds.data(), fds.size(), int(std::max<int64_t>(0, wait))) < 0 && errno != EINTR) return;
    uint64_t count = 0;
    (void)!::read(wakeFd, &count, sizeof count);

    for (size_t i = 0; i < sockets.size(); ++i) {
      EventClient& c = *sockets[i];
      if (serve(c, fds[i + 1].revents)) continue;
      {
        std::lock_guard<std::mutex> lock(mutex);
        c.ended = true;
        c.queue.clear();
        remove(&c);
      }
      c.close();
    }
  }
}

bool EventHub::State::serve(EventClient& c, short revents) {
  if ((revents & (POLLIN | POLLHUP | POLLERR)) && c.sent == c.out.size()) {
    // A bounded read per turn: a client that floods us cannot starve the others.
    char buffer[16384];
    for (int turn = 0; turn < 4 && c.reader.open(); ++turn) {
      const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
      if (n <= 0) return false;  // gone
      if (!c.reader.feed(buffer, size_t(n), &c.out)) c.closing = true;
    }
  }
  while (c.sent < c.out.size()) {
    const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) return false;
    c.sent += size_t(n);
  }
  // A closing client gets one try at its last bytes (the close frame).
  return !c.closing;
}

EventStream::~EventStream() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  client_->ended = true;
  client_->queue.clear();
  state_->remove(client_.get());
}

ssize_t EventStream::read(char* buffer, size_t max, const std::function<void()>& park) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  EventClient& c = *client_;
  if (c.ended) return -1;
  if (c.queue.empty()) {
    c.parked = true;
    park();
    return 0;
  }
  size_t n = 0;
  while (n < max && !c.queue.empty()) {
    const std::string& bytes = c.queue.front()->sse;
    const size_t take = std::min(max - n, bytes.size() - c.offset);
    std::memcpy(buffer + n, bytes.data() + c.offset, take);
    n += take;
    c.offset += take;
    if (c.offset == bytes.size()) {
      c.queue.pop_front();
      c.offset = 0;
    }
  }
  return ssize_t(n);
}

}  // namespace plombix::control
