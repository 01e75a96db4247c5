#include "control_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "access_check.h"
#include "api_request.h"
#include "connection_guard.h"
#include "peer_user.h"
#include "state_json.h"
#include "surface_routes.h"
#include "thumbnail.h"
#include "web_remote.h"

namespace plombix::control {

using Clock = std::chrono::steady_clock;

namespace {

// How long stopping waits for the "closing" answers to leave.
constexpr std::chrono::milliseconds kClosingAnswersWait{1000};

// One TCP connection (libmicrohttpd's socket context; its thread only).
struct Peer {
  std::optional<uid_t> uid;  // the owner of a loopback client's socket
};

// The share a connection counts against (connection_guard.h): the user of a
// loopback client, else the client's address.
std::string ClientKey(const sockaddr* address, const std::optional<uid_t>& uid) {
  if (uid) return "user " + std::to_string(*uid);
  char text[INET6_ADDRSTRLEN] = "?";
  if (address && address->sa_family == AF_INET)
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  else if (address && address->sa_family == AF_INET6)
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  return std::string("address ") + text;
}

// What a request is answered with.
struct Answer {
  int status = 200;
  std::string body;
  const char* contentType = "application/json; charset=utf-8";
  const char* allow = nullptr;
  const char* challenge = nullptr;  // WWW-Authenticate
  int thumbnailWidth = 0;  // a thumbnail, encoded by the server's thread
  ThumbnailOf thumbnailOf = ThumbnailOf::OnAir;
};

// One request (libmicrohttpd's request context, held through a shared_ptr so
// that a late answer from the window finds it). Guarded by Core::mutex_
// where both threads can reach it (connection, waiting, answered, answer).
struct Exchange {
  MHD_Connection* connection = nullptr;  // null once libmicrohttpd is done with it
  Route route;
  std::string body;
  bool tooLarge = false;
  bool waiting = false;                  // parked until the window answers
  Clock::time_point hostDeadline;
  bool answered = false;
  Answer answer;
};

using ExchangeHolder = std::shared_ptr<Exchange>;

Answer JsonError(int status, const std::string& message) { return Answer{status, ErrorJson(message)}; }

int StatusFor(HostOutcome::Kind kind) {
  switch (kind) {
    case HostOutcome::Kind::Done: return 200;
    case HostOutcome::Kind::NotFound: return 404;
    case HostOutcome::Kind::DoesNotDecode: return 422;
    case HostOutcome::Kind::NotPossibleNow: return 409;
  }
  return 409;
}

const char* DefaultReason(HostOutcome::Kind kind) {
  switch (kind) {
    case HostOutcome::Kind::Done: return "";
    case HostOutcome::Kind::NotFound: return "no such file";
    case HostOutcome::Kind::DoesNotDecode: return "the file cannot be shown as a picture";
    case HostOutcome::Kind::NotPossibleNow: return "not possible now";
  }
  return "";
}

MHD_Result Queue(MHD_Connection* connection, const Answer& a) {
  MHD_Response* response = MHD_create_response_from_buffer(
      a.body.size(), const_cast<char*>(a.body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", a.contentType);
  MHD_add_response_header(response, "Cache-Control", "no-store");
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  if (a.allow) MHD_add_response_header(response, "Allow", a.allow);
  if (a.challenge) MHD_add_response_header(response, "WWW-Authenticate", a.challenge);
  if (std::strncmp(a.contentType, "text/html", 9) == 0) {
    MHD_add_response_header(response, "Content-Security-Policy", WebRemoteContentSecurityPolicy());
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
  }
  const MHD_Result rc = MHD_queue_response(connection, unsigned(a.status), response);
  MHD_destroy_response(response);
  return rc;
}

void QuietLogger(void*, const char*, va_list) {}

// A listening TCP socket on address:port (port 0: any free one).
int OpenListenSocket(const std::string& address, int port, int* boundPort, std::string* error) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (!SocketAddressFor(address, port, &storage, &length)) {
    *error = "not a numeric IP address: " + address;
    return -1;
  }
  const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // A long queue of connections waiting to be accepted: with a short one, a
  // client opening many connections at once would have newcomers' first
  // packets dropped (and retried only a second later) before the server ever
  // saw them.
  if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, SOMAXCONN) != 0) {
    *error = "cannot listen on " + address + " port " + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  *boundPort = BoundPort(fd);
  return fd;
}

}  // namespace

class ControlServer::Core : public std::enable_shared_from_this<ControlServer::Core> {
 public:
  Core(const ControlSettings& settings, ControlHost& host, Post post, const ControlLimits& limits)
      : settings_(settings), host_(host), post_(std::move(post)), limits_(limits) {}

  bool start(std::string* error);
  void stop();
  int port() const { return port_; }
  std::string url() const { return UrlFor(settings_.bindAddress, port_); }
  void publish(std::string_view type, const ControlState& state, std::initializer_list<EventField> fields) {
    const std::string json = StateJson(state);
    hub_.with([&](EventHub* hub) {
      if (hub) hub->publish(type, json, fields);
    });
  }
  size_t eventClients() {
    return hub_.with([](EventHub* hub) { return hub ? hub->clients() : size_t(0); });
  }

  // libmicrohttpd callbacks (its thread).
  MHD_Result onRequest(MHD_Connection* connection, const char* url, const char* method,
                       const char* uploadData, size_t* uploadSize, void** context);
  void onRequestDone(MHD_Connection* connection, void** context);
  void onConnection(MHD_Connection* connection, void** socketContext, MHD_ConnectionNotificationCode code);

 private:
  static Peer* peerOf(MHD_Connection* connection);
  MHD_Result answerNow(const ExchangeHolder& ex, MHD_Connection* connection, const Answer& answer);
  MHD_Result askWindow(const ExchangeHolder& ex, MHD_Connection* connection, ApiRequest request);
  // On the window's thread.
  void run(const ExchangeHolder& ex, const ApiRequest& request);
  void finish(const ExchangeHolder& ex, const HostOutcome& outcome);
  HostCompletion completion(const ExchangeHolder& ex, std::function<void(HostOutcome)> then);
  // Any thread: hands the answer to a parked request and wakes it.
  void deliver(const ExchangeHolder& ex, Answer answer);
  void deliverLocked(const ExchangeHolder& ex, Answer answer);
  void watchdog();

  const ControlSettings settings_;
  ControlHost& host_;
  const Post post_;
  const ControlLimits limits_;
  int port_ = 0;
  MHD_Daemon* daemon_ = nullptr;
  std::unique_ptr<ConnectionGuard> guard_;
  std::thread watchdogThread_;
  HubSlot hub_;
  Thumbnails thumbnails_;
  uint64_t thumbnailGeneration_[2] = {0, 0};  // of the frames handed to thumbnails_ (window's thread)

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopped_ = false;
  std::set<ExchangeHolder> waiting_;
};

namespace {

MHD_Result AccessHandler(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char* /*version*/, const char* uploadData, size_t* uploadSize,
                         void** context) {
  return static_cast<ControlServer::Core*>(cls)->onRequest(connection, url, method, uploadData,
                                                           uploadSize, context);
}

void RequestCompleted(void* cls, MHD_Connection* connection, void** context,
                      MHD_RequestTerminationCode /*code*/) {
  static_cast<ControlServer::Core*>(cls)->onRequestDone(connection, context);
}

void ConnectionNotice(void* cls, MHD_Connection* connection, void** socketContext,
                      MHD_ConnectionNotificationCode code) {
  static_cast<ControlServer::Core*>(cls)->onConnection(connection, socketContext, code);
}

}  // namespace

bool ControlServer::Core::start(std::string* error) {
  std::string why;
  const int fd = OpenListenSocket(settings_.bindAddress, settings_.port, &port_, &why);
  if (fd < 0) {
    if (error) *error = why;
    return false;
  }
  std::string hubError;
  hub_.set(EventHub::Start(limits_.events, &hubError));  // without it, events answer 503
  guard_ = std::make_unique<ConnectionGuard>(ConnectionGuard::Limits{
      limits_.maxConnections, limits_.maxConnectionsPerClient, limits_.headDeadline, limits_.requestDeadline});
  // The guard keeps the count; the library's own limit only leaves room for
  // connections it has been told to cut and has not closed yet.
  daemon_ = MHD_start_daemon(
      MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_ALLOW_UPGRADE, 0, nullptr, nullptr, &AccessHandler, this,
      MHD_OPTION_EXTERNAL_LOGGER, &QuietLogger, nullptr,
      MHD_OPTION_LISTEN_SOCKET, fd,
      MHD_OPTION_CONNECTION_LIMIT, 2 * limits_.maxConnections,
      MHD_OPTION_CONNECTION_TIMEOUT, limits_.idleTimeoutSeconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits_.maxHeadBytes,
      MHD_OPTION_NOTIFY_COMPLETED, &RequestCompleted, this,
      MHD_OPTION_NOTIFY_CONNECTION, &ConnectionNotice, this,
      MHD_OPTION_END);
  if (!daemon_) {
    ::close(fd);
    if (error) *error = "cannot start the HTTP server";
    return false;
  }
  watchdogThread_ = std::thread([this] { watchdog(); });
  // The state event clients get first, read on the window's thread.
  post_([weak = weak_from_this()] {
    if (const std::shared_ptr<Core> core = weak.lock()) core->publish("state", core->host_.state(), {});
  });
  return true;
}

void ControlServer::Core::stop() {
  std::vector<ExchangeHolder> closing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    // libmicrohttpd must not be stopped with parked requests: answer them.
    closing.assign(waiting_.begin(), waiting_.end());
    for (const ExchangeHolder& ex : closing) deliverLocked(ex, JsonError(503, "the player is closing"));
  }
  wake_.notify_all();
  if (watchdogThread_.joinable()) watchdogThread_.join();
  {
    // Those answers go out on the server's thread: let them leave before
    // the connections close, for a moment at most (a client that does not
    // read is not waited for).
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, kClosingAnswersWait, [&] {
      return std::none_of(closing.begin(), closing.end(), [](const ExchangeHolder& ex) { return ex->connection; });
    });
  }
  // The hub first: it closes the event sockets and ends the streams, which
  // resumes every parked one, so that the server stops with none parked.
  hub_.take().reset();
  if (daemon_) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  guard_.reset();
}

void ControlServer::Core::onConnection(MHD_Connection* connection, void** socketContext,
                                       MHD_ConnectionNotificationCode code) {
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* fdInfo = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const MHD_ConnectionInfo* address = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    const int fd = fdInfo ? fdInfo->connect_fd : -1;
    auto* peer = new Peer();
    // Asked once, when the connection starts: the share it counts against
    // and, later, whether its requests need a token.
    if (fd >= 0) peer->uid = ConnectedPeerUid(fd);
    *socketContext = peer;
    guard_->opened(connection, fd, ClientKey(address ? address->client_addr : nullptr, peer->uid));
    return;
  }
  // Closed: libmicrohttpd closes the socket only after this returns.
  guard_->closed(connection);
  delete static_cast<Peer*>(*socketContext);
  *socketContext = nullptr;
}

Peer* ControlServer::Core::peerOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? static_cast<Peer*>(info->socket_context) : nullptr;
}

void ControlServer::Core::onRequestDone(MHD_Connection* connection, void** context) {
  auto* holder = static_cast<ExchangeHolder*>(*context);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holder) (*holder)->connection = nullptr;
    wake_.notify_all();  // stop() may wait for this answer to have left
  }
  // A kept-alive connection starts its next request's deadlines now; an
  // event stream's connection (an upgraded one lives on) has no next request.
  if (!holder || (*holder)->route.endpoint != Endpoint::Events) guard_->answered(connection);
  delete holder;
  *context = nullptr;
}

MHD_Result ControlServer::Core::answerNow(const ExchangeHolder& ex, MHD_Connection* connection,
                                          const Answer& answer) {
  ex->answered = true;
  return Queue(connection, answer);
}

MHD_Result ControlServer::Core::onRequest(MHD_Connection* connection, const char* url, const char* method,
                                          const char* uploadData, size_t* uploadSize, void** context) {
  if (!*context) {
    // The head has arrived: check who asks for what before any body is read.
    auto ex = std::make_shared<Exchange>();
    ex->connection = connection;
    *context = new ExchangeHolder(ex);
    auto header = [connection](const char* name) {
      return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    };
    const Peer* peer = peerOf(connection);
    const AccessRequest access{header("Authorization"), header("Origin"), header("Host"),
                               peer ? peer->uid : std::nullopt};
    ApiError error;
    std::optional<Route> route = RouteRequest(method ? method : "", url ? url : "", &error);
    const std::optional<ApiError> refused = CheckAccess(settings_, access);
    guard_->headArrived(connection, !refused);
    if (refused) {
      Answer a = JsonError(refused->status, refused->message);
      if (refused->status == 401)
        a.challenge = route && route->endpoint == Endpoint::Page
                          ? "Basic realm=\"Vora Plombix\", charset=\"UTF-8\""
                          : "Bearer realm=\"Vora Plombix\"";
      return answerNow(ex, connection, a);
    }
    if (!route) {
      Answer a = JsonError(error.status, error.message);
      a.allow = error.allow;
      return answerNow(ex, connection, a);
    }
    ex->route = *route;
    if (const char* length = header("Content-Length")) {
      char* end = nullptr;
      errno = 0;
      const unsigned long long declared = std::strtoull(length, &end, 10);
      if (errno == 0 && end != length && declared > limits_.maxBodyBytes)
        return answerNow(ex, connection, JsonError(413, "the request body is too large"));
    }
    return MHD_YES;
  }

  const ExchangeHolder ex = *static_cast<ExchangeHolder*>(*context);
  std::optional<Answer> back;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ex->answered) back = ex->answer;
  }
  if (back && back->thumbnailWidth > 0) {
    // The window has handed its frame over; the encoding is done here.
    const std::shared_ptr<const std::string> jpeg = thumbnails_.jpeg(back->thumbnailOf, back->thumbnailWidth);
    if (!jpeg) return Queue(connection, JsonError(404, "no such picture"));
    return Queue(connection, Answer{200, *jpeg, "image/jpeg"});
  }
  if (back) return Queue(connection, *back);  // resumed with the window's answer
  if (*uploadSize > 0) {
    if (!ex->tooLarge && ex->body.size() + *uploadSize <= limits_.maxBodyBytes) {
      ex->body.append(uploadData, *uploadSize);
    } else {
      // A body without a declared length that grows too large: keep reading
      // (and dropping) it, within the request deadline, to answer 413.
      ex->tooLarge = true;
      ex->body.clear();
    }
    *uploadSize = 0;
    return MHD_YES;
  }

  guard_->requestArrived(connection);
  if (ex->tooLarge) return answerNow(ex, connection, JsonError(413, "the request body is too large"));
  switch (ex->route.endpoint) {
    case Endpoint::Page: return answerNow(ex, connection, Answer{200, WebRemotePage(), "text/html; charset=utf-8"});
    case Endpoint::Events:
      ex->answered = true;
      return QueueEvents(connection, hub_);
    case Endpoint::AsRun: {
      auto arg = [connection](const char* name) {
        return MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
      };
      const SurfaceAnswer a = AsRunAnswer(settings_.asRunFile, arg("since"), arg("limit"));
      return answerNow(ex, connection, Answer{a.status, a.body});
    }
    case Endpoint::Thumbnail: {
      const std::optional<ThumbnailQuery> query =
          ParseThumbnailQuery(MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "width"),
                              MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "what"));
      if (!query)
        return answerNow(ex, connection, JsonError(400, "\"width\" must be from 16 to 640; \"what\" onair or cued"));
      ApiRequest request;
      request.route = ex->route;
      request.number = query->width;
      request.on = query->what == ThumbnailOf::Cued;
      return askWindow(ex, connection, std::move(request));
    }
    default: break;
  }
  ApiError error;
  std::optional<ApiRequest> request = ParseRequestBody(ex->route, ex->body, &error);
  if (!request) return answerNow(ex, connection, JsonError(error.status, error.message));
  if (request->route.endpoint == Endpoint::Show || request->route.endpoint == Endpoint::Cue ||
      request->overlayPath) {
    // A first look from this thread, so that a folder or a FIFO is refused
    // before the window is asked; the window checks again when it loads.
    if (const std::optional<ApiError> bad = CheckPictureFile(request->path))
      return answerNow(ex, connection, JsonError(bad->status, bad->message));
  }
  return askWindow(ex, connection, std::move(*request));
}

MHD_Result ControlServer::Core::askWindow(const ExchangeHolder& ex, MHD_Connection* connection,
                                          ApiRequest request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) {
      ex->answered = true;
      return Queue(connection, JsonError(503, "the player is closing"));
    }
    // Parked under the lock, so that stop() either sees it or comes first.
    MHD_suspend_connection(connection);
    ex->waiting = true;
    ex->hostDeadline = Clock::now() + limits_.hostDeadline;
    waiting_.insert(ex);
  }
  wake_.notify_all();
  std::weak_ptr<Core> weak = weak_from_this();
  post_([weak, ex, request = std::move(request)] {
    if (const std::shared_ptr<Core> core = weak.lock()) core->run(ex, request);
  });
  return MHD_YES;
}

HostCompletion ControlServer::Core::completion(const ExchangeHolder& ex,
                                               std::function<void(HostOutcome)> then) {
  // Shared by every copy of the completion: answers "not possible now" if
  // the last copy goes without having been called.
  struct Once {
    std::shared_ptr<Core> core;
    ExchangeHolder ex;
    std::function<void(HostOutcome)> then;
    bool called = false;
    ~Once() {
      if (!called && core) core->deliver(ex, JsonError(409, "the player dropped the request"));
    }
  };
  auto once = std::make_shared<Once>();  // built in place: a moved-from copy would answer
  once->core = shared_from_this();
  once->ex = ex;
  once->then = std::move(then);
  return [once](HostOutcome outcome) {
    if (once->called) return;
    once->called = true;
    once->then(std::move(outcome));
  };
}

void ControlServer::Core::run(const ExchangeHolder& ex, const ApiRequest& r) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_ || ex->answered) return;  // closing, or given up on
  }
  auto finisher = [self = shared_from_this(), ex](HostOutcome o) { self->finish(ex, o); };
  switch (r.route.endpoint) {
    case Endpoint::Page:
    case Endpoint::State: finish(ex, HostOutcome::done()); break;
    case Endpoint::Show: host_.show(r.path, completion(ex, finisher)); break;
    case Endpoint::Cue: host_.cue(r.path, completion(ex, finisher)); break;
    case Endpoint::ForgetCue: finish(ex, host_.forgetCue()); break;
    case Endpoint::Take: host_.take(completion(ex, finisher)); break;
    case Endpoint::Step: host_.stepOnAir(r.route.step, completion(ex, finisher)); break;
    case Endpoint::Output: host_.setOutputOnAir(r.output, completion(ex, finisher)); break;
    case Endpoint::Background: finish(ex, host_.setBackground(r.background)); break;
    case Endpoint::Scaling: finish(ex, host_.setScaling(r.scaling)); break;
    case Endpoint::Transition: finish(ex, host_.setTransition(r.transition)); break;
    case Endpoint::Range: finish(ex, host_.setRange(r.range)); break;
    case Endpoint::Watch: finish(ex, host_.setWatch(r.on)); break;
    case Endpoint::Grab: finish(ex, host_.grab()); break;
    case Endpoint::OverlayGrab: host_.grabOverlay(completion(ex, finisher)); break;
    case Endpoint::SlideshowMode:
    case Endpoint::NumberFormat:
    case Endpoint::Duration: finish(ex, host_.setSlideshow(r.slideshow)); break;
    case Endpoint::SlideshowStart: finish(ex, host_.markSlideshowStart()); break;
    case Endpoint::SlideshowEnd: finish(ex, host_.markSlideshowEnd()); break;
    case Endpoint::Goto: finish(ex, host_.gotoNumber(r.number)); break;
    case Endpoint::Borders: finish(ex, host_.setBorders(r.borders)); break;
    case Endpoint::SaveConfig: finish(ex, host_.saveConfig()); break;
    case Endpoint::Events:
    case Endpoint::AsRun: break;  // answered on the server's thread
    case Endpoint::Thumbnail: {
      const ThumbnailOf what = r.on ? ThumbnailOf::Cued : ThumbnailOf::OnAir;
      const FrameView frame = r.on ? host_.frameCued() : host_.frameOnAir();
      if (!frame.pixels) {
        deliver(ex, JsonError(404, r.on ? "nothing is cued" : "nothing on air"));
        break;
      }
      // One copy per frame, taken here where the frame cannot change under
      // it; the encoding happens on the server's thread.
      uint64_t& generation = thumbnailGeneration_[r.on ? 1 : 0];
      if (frame.generation != generation) {
        thumbnails_.setFrame(what, ThumbnailFrame::Copy(frame.pixels, frame.width, frame.height, frame.strideBytes));
        generation = frame.generation;
      }
      Answer a;
      a.thumbnailWidth = r.number;
      a.thumbnailOf = what;
      deliver(ex, a);
      break;
    }
    case Endpoint::Overlay:
      if (!r.overlayPath) {
        finish(ex, host_.setOverlayUse(*r.overlayUse));
      } else if (!r.overlayUse) {
        host_.loadOverlay(r.path, completion(ex, finisher));
      } else {
        // The picture first; "use" only once it has loaded.
        const bool use = *r.overlayUse;
        host_.loadOverlay(r.path, completion(ex, [self = shared_from_this(), ex, use](HostOutcome o) {
                            self->finish(ex, o.ok() ? self->host_.setOverlayUse(use) : o);
                          }));
      }
      break;
  }
}

void ControlServer::Core::finish(const ExchangeHolder& ex, const HostOutcome& outcome) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_ || ex->answered) return;
  }
  if (outcome.ok()) {
    deliver(ex, Answer{200, StateJson(host_.state())});
    return;
  }
  const std::string reason = outcome.reason.empty() ? DefaultReason(outcome.kind) : outcome.reason;
  deliver(ex, JsonError(StatusFor(outcome.kind), reason));
}

void ControlServer::Core::deliver(const ExchangeHolder& ex, Answer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  deliverLocked(ex, std::move(answer));
}

void ControlServer::Core::deliverLocked(const ExchangeHolder& ex, Answer answer) {
  if (ex->answered || !ex->waiting) return;
  ex->answer = std::move(answer);
  ex->answered = true;
  ex->waiting = false;
  waiting_.erase(ex);
  // libmicrohttpd takes its own lock inside and never calls us holding it.
  if (ex->connection) MHD_resume_connection(ex->connection);
}

void ControlServer::Core::watchdog() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopped_) {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    for (const ExchangeHolder& ex : std::set<ExchangeHolder>(waiting_)) {
      if (now >= ex->hostDeadline) deliverLocked(ex, JsonError(503, "the player did not answer in time"));
      else next = std::min(next, ex->hostDeadline);
    }
    if (next == Clock::time_point::max()) wake_.wait(lock);
    else wake_.wait_until(lock, next);
  }
}

std::unique_ptr<ControlServer> ControlServer::Start(const ControlSettings& settings, ControlHost& host,
                                                    Post post, std::string* error,
                                                    const ControlLimits& limits) {
  if (!settings.enabled) {
    if (error) *error = settings.reason.empty() ? "turned off" : settings.reason;
    return nullptr;
  }
  if (!post) {
    if (error) *error = "no way to reach the window's thread";
    return nullptr;
  }
  std::unique_ptr<ControlServer> server(new ControlServer());
  server->core_ = std::make_shared<Core>(settings, host, std::move(post), limits);
  if (!server->core_->start(error)) {
    server->core_.reset();
    return nullptr;
  }
  return server;
}

ControlServer::~ControlServer() {
  if (core_) core_->stop();
}

int ControlServer::port() const { return core_->port(); }

void ControlServer::publish(std::string_view type, const ControlState& state,
                            std::initializer_list<EventField> fields) {
  core_->publish(type, state, fields);
}

size_t ControlServer::eventClients() const { return core_->eventClients(); }

std::string ControlServer::url() const { return core_->url(); }

}  // namespace plombix::control
