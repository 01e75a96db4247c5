#include "http_source.h"

#include <microhttpd.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

#include "discovery.h"
#include "listen_socket.h"
#include "port_memory.h"
#include "runtime_folder.h"
#include "served_texts.h"
#include "web_page.h"

namespace plombix::standin {

struct HttpSource::Stream {
  HttpSource* source = nullptr;
  std::chrono::milliseconds keepAlive{0};  // see streamRead
  std::string receiverId;
  Encoding encoding = Encoding::Bgra;
  int fd = -1;
  FrameCursor cursor;                   // the frames it has started
  std::shared_ptr<const Frame> frame;   // the part being written, or null
  std::string head;                     // boundary line and part headers
  const uint8_t* body = nullptr;
  size_t bodyBytes = 0;
  size_t offset = 0;                    // into head + body + "\r\n"
};

namespace {

const char* contentTypeOf(HttpSource::Encoding encoding) {
  switch (encoding) {
    case HttpSource::Encoding::Png: return "image/png";
    case HttpSource::Encoding::Jpeg: return "image/jpeg";
    case HttpSource::Encoding::Bgra: break;
  }
  return "application/octet-stream";
}

void addHeaders(MHD_Response* response, const HeaderList& headers) {
  for (const auto& [key, value] : headers) MHD_add_response_header(response, key.c_str(), value.c_str());
}

// Every answer ends its connection: one request per connection keeps the
// head deadline simple (it runs from the connection's start) and costs
// nothing on loopback.
MHD_Result queue(MHD_Connection* connection, unsigned status, MHD_Response* response) {
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  const MHD_Result rc = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return rc;
}

// True when the peer of `fd` has closed or reset the connection.
bool peerGone(int fd) {
  if (fd < 0) return false;
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) return true;
  char byte;
  const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0;
}

// Connection threads deliver bulk data to receivers. Batch scheduling keeps
// them from preempting the thread that woke them (the player's, which
// sends): they run when a core is free or at the next tick, with their
// fair share of the processor all the same. A stream of a clocked sender is
// woken by its own timer (the frame rate), never by the player, and wants
// that wake-up on time: it is scheduled normally.
enum class Wakeup { Batch, OnTime };
void scheduleThisThread(Wakeup wakeup) {
  sched_param param{};
  param.sched_priority = 0;
  (void)pthread_setschedparam(pthread_self(), wakeup == Wakeup::Batch ? SCHED_BATCH : SCHED_OTHER, &param);
}

std::string newReceiverId() {
  static std::mutex mutex;
  static std::mt19937_64 random{std::random_device{}()};
  std::lock_guard<std::mutex> lock(mutex);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
  return text;
}

// --- C callbacks into the source ---------------------------------------------

MHD_Result accessHandler(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char* /*version*/, const char* /*uploadData*/, size_t* /*uploadSize*/,
                         void** /*requestContext*/) {
  // Called once the request line and headers are in: the head is complete.
  // Every answer is decided on them; a request body (only POST /tally takes
  // one, and ignores it) is never read: the connection closes after the
  // answer instead.
  auto* source = static_cast<HttpSource*>(cls);
  source->headDeadlines().headComplete(connection);
  scheduleThisThread(Wakeup::Batch);
  return MHD_Result(source->handleRequest(connection, url, method));
}

void connectionNotice(void* cls, MHD_Connection* connection, void** /*socketContext*/,
                      MHD_ConnectionNotificationCode code) {
  HeadDeadlines& deadlines = static_cast<HttpSource*>(cls)->headDeadlines();
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info) deadlines.accepted(connection, info->connect_fd);
  } else {
    deadlines.closed(connection);  // before the server closes the socket
  }
}

ssize_t streamReader(void* cls, uint64_t /*pos*/, char* buffer, size_t max) {
  auto* stream = static_cast<HttpSource::Stream*>(cls);
  return stream->source->streamRead(stream, buffer, max);
}

void streamFree(void* cls) {
  auto* stream = static_cast<HttpSource::Stream*>(cls);
  stream->source->streamEnded(stream);
}

void frameFree(void* cls) { delete static_cast<std::shared_ptr<const Frame>*>(cls); }

void quietLogger(void*, const char*, va_list) {}

}  // namespace

unsigned IdleTimeoutSeconds() {
  const char* text = std::getenv("PLOMBIX_NDI_TIMEOUT_S");
  if (!text || !*text) return kIdleTimeoutSeconds;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v < 1 || v > 3600) return kIdleTimeoutSeconds;
  return unsigned(v);
}

std::shared_ptr<HttpSource> HttpSource::Open(const std::string& name, VideoClock clock,
                                             std::string* error) {
  std::string why;
  if (!IsValidSourceName(name)) {
    if (error) *error = "invalid source name";
    return nullptr;
  }
  // Quiet: the program that loaded the runtime says which folder serves
  // (the player does when it takes its number).
  const FolderResult sources = RuntimeSubfolder("sources", FolderNotice::Quiet);
  if (!sources.ok()) {
    if (error) *error = sources.error;
    return nullptr;
  }
  // Without a ports folder the source still comes up, at the first free port.
  const FolderResult ports = RuntimeSubfolder("ports", FolderNotice::Quiet);
  const PortRange range{kFirstPort, kPortCount};
  PortChoice choice{kFirstPort, kPortCount, 0, {}};
  if (ports.ok()) {
    choice.preferred = RememberedPort(ports.path, name, range);
    choice.avoid = PortsRememberedByOthers(ports.path, name, range);
  }
  const char* bindEnv = std::getenv("PLOMBIX_NDI_BIND");
  const std::string bindAddress = bindEnv && *bindEnv ? bindEnv : "127.0.0.1";

  std::shared_ptr<HttpSource> source(new HttpSource());
  source->name_ = name;
  source->sourcesDir_ = sources.path;
  source->store_.setClocked(clock == VideoClock::FrameRate);
  const int listenFd = OpenListenSocket(bindAddress, choice, &source->port_, &source->url_, &why);
  if (listenFd < 0) {
    if (error) *error = why;
    return nullptr;
  }
  const ClaimResult claim = ClaimSource(sources.path, name, source->url_, &why);
  if (claim != ClaimResult::Claimed) {
    ::close(listenFd);
    if (error) *error = "'" + name + "': " + why;
    return nullptr;
  }
  const unsigned timeout = IdleTimeoutSeconds();
  source->keepAlive_ = std::chrono::milliseconds(timeout * 1000 / 2);
  source->deadlines_ =
      std::make_unique<HeadDeadlines>(std::chrono::seconds(std::min(timeout, kHeadDeadlineSeconds)));
  source->daemon_ = MHD_start_daemon(
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_ITC,
      0, nullptr, nullptr, &accessHandler, source.get(),
      MHD_OPTION_EXTERNAL_LOGGER, &quietLogger, nullptr,
      MHD_OPTION_LISTEN_SOCKET, listenFd,
      MHD_OPTION_NOTIFY_CONNECTION, &connectionNotice, source.get(),
      MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConnectionsPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, timeout,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kMaxRequestBytes,
      MHD_OPTION_END);
  if (!source->daemon_) {
    ::close(listenFd);
    ReleaseSource(sources.path, name, source->url_);
    if (error) *error = "cannot start the HTTP server";
    return nullptr;
  }
  if (ports.ok()) (void)RememberPort(ports.path, name, source->port_);
  return source;
}

HttpSource::~HttpSource() { close(); }

void HttpSource::close() {
  std::call_once(closeOnce_, [this] {
    // Unlisted first, so that no receiver looks for it here again.
    if (!sourcesDir_.empty()) ReleaseSource(sourcesDir_, name_, url_);
    store_.close();  // ends every stream's wait
    if (daemon_) MHD_stop_daemon(daemon_);  // closes connections and the port, joins threads
    daemon_ = nullptr;
  });
}

void HttpSource::beginSender(VideoClock clock) {
  store_.setClocked(clock == VideoClock::FrameRate);
  std::lock_guard<std::mutex> lock(stateMutex_);
  metadata_.clear();
}

void HttpSource::endSender() { store_.release(); }

void HttpSource::send(const NDIlib_video_frame_v2_t* frame) {
  FrameInfo info;
  int stride = 0;
  if (!frame || !ValidateFrame(*frame, &info, &stride)) {
    store_.flush();
    return;
  }
  store_.submit(info, frame->p_data, stride);
}

NDIlib_tally_t HttpSource::combinedTallyLocked() const {
  NDIlib_tally_t t{false, false};
  for (const auto& [id, r] : receivers_) {
    t.on_program = t.on_program || r.program;
    t.on_preview = t.on_preview || r.preview;
  }
  return t;
}

bool HttpSource::getTally(NDIlib_tally_t* tally, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(stateMutex_);
  auto differs = [this] {
    const NDIlib_tally_t now = combinedTallyLocked();
    return now.on_program != reportedTally_.on_program || now.on_preview != reportedTally_.on_preview;
  };
  stateChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), differs);
  const bool changed = differs();
  reportedTally_ = combinedTallyLocked();
  if (tally) *tally = reportedTally_;
  return changed;
}

int HttpSource::connections(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(stateMutex_);
  stateChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return !receivers_.empty(); });
  return int(receivers_.size());
}

void HttpSource::addMetadata(const NDIlib_metadata_frame_t* metadata) {
  if (!metadata || !metadata->p_data) return;
  const size_t length = metadata->length > 0 ? ::strnlen(metadata->p_data, size_t(metadata->length))
                                             : std::strlen(metadata->p_data);
  std::lock_guard<std::mutex> lock(stateMutex_);
  metadata_.append(metadata->p_data, length);
}

const std::string* HttpSource::encoded(const Frame& frame, Encoding encoding) {
  if (encoding == Encoding::Png) return &frame.png();
  bool encodedNow = false;
  const std::string& jpeg = frame.jpeg(&encodedNow);
  if (encodedNow) ++jpegEncodes_;
  return &jpeg;
}

int HttpSource::replyText(MHD_Connection* connection, unsigned status, const std::string& body,
                          const char* contentType) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", contentType);
  MHD_add_response_header(response, "Cache-Control", "no-store");
  if (status == MHD_HTTP_METHOD_NOT_ALLOWED) MHD_add_response_header(response, "Allow", "GET, HEAD");
  return queue(connection, status, response);
}

int HttpSource::replyFrame(MHD_Connection* connection, Encoding encoding) {
  std::shared_ptr<const Frame> frame = store_.latest();
  if (!frame) return replyText(connection, MHD_HTTP_NOT_FOUND, "No frame has been sent yet.\n", "text/plain");
  const void* data = frame->pixels();
  size_t size = frame->byteCount();
  if (encoding != Encoding::Bgra) {
    const std::string* bytes = encoded(*frame, encoding);
    if (bytes->empty())
      return replyText(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, "The frame cannot be encoded.\n",
                       "text/plain");
    data = bytes->data();
    size = bytes->size();
  }
  // The response reads straight from the frame, which it keeps alive.
  auto* keep = new std::shared_ptr<const Frame>(frame);
  MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
      size, const_cast<void*>(data), &frameFree, keep);
  if (!response) {
    delete keep;
    return MHD_NO;
  }
  MHD_add_response_header(response, "Content-Type", contentTypeOf(encoding));
  MHD_add_response_header(response, "Cache-Control", "no-store");
  addHeaders(response, FrameHeaders(frame->info()));
  return queue(connection, MHD_HTTP_OK, response);
}

int HttpSource::replyStream(MHD_Connection* connection, Encoding encoding) {
  auto* stream = new Stream();
  stream->source = this;
  stream->keepAlive = keepAlive_;
  stream->encoding = encoding;
  stream->receiverId = newReceiverId();
  if (const MHD_ConnectionInfo* info =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
    stream->fd = info->connect_fd;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    receivers_[stream->receiverId] = ReceiverTally{};
  }
  stateChanged_.notify_all();
  store_.addViewer(&stream->cursor);
  if (store_.clocked()) scheduleThisThread(Wakeup::OnTime);
  // Large blocks: fewer, bigger socket writes. Unknown length, no chunking:
  // the stream ends when the connection closes.
  MHD_Response* response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 1 << 20, &streamReader, stream, &streamFree);
  if (!response) {
    streamEnded(stream);
    return MHD_NO;
  }
  MHD_set_response_options(response, MHD_RF_HTTP_VERSION_1_0_ONLY, MHD_RO_END);
  const std::string type = std::string("multipart/x-mixed-replace; boundary=") + kStreamBoundary;
  MHD_add_response_header(response, "Content-Type", type.c_str());
  MHD_add_response_header(response, "Cache-Control", "no-store");
  MHD_add_response_header(response, "X-Receiver-Id", stream->receiverId.c_str());
  return queue(connection, MHD_HTTP_OK, response);  // streamFree runs when the connection is done
}

long HttpSource::streamRead(Stream* s, char* buffer, size_t max) {
  size_t filled = 0;
  while (filled < max) {
    if (!s->frame) {
      if (filled > 0) return long(filled);  // hand over what is ready first
      // Wait for the next frame (FrameStore::next): the first one is the
      // last frame sent before the stream opened; then, from a clocked
      // sender, each frame in turn at the frame rate, else the newest.
      // A reader that fell behind skips to the newest frame.
      // While no frame comes (a source whose sender is gone, a player that
      // sends nothing new), a blank line goes out now and then: the server
      // counts a connection it has not written to for its time-out as idle
      // and would drop a perfectly good stream. Blank lines between parts
      // are allowed and skipped by multipart readers. A reader that stops
      // reading still times out: then even the blank line cannot be sent.
      std::shared_ptr<const Frame> next;
      const auto waitStart = std::chrono::steady_clock::now();
      while (!next) {
        next = store_.next(&s->cursor, std::chrono::milliseconds(200));
        if (next) break;
        if (store_.closed()) return MHD_CONTENT_READER_END_OF_STREAM;
        if (peerGone(s->fd)) return MHD_CONTENT_READER_END_WITH_ERROR;
        if (std::chrono::steady_clock::now() - waitStart >= s->keepAlive && max >= 2) {
          std::memcpy(buffer, "\r\n", 2);
          return 2;
        }
      }
      if (s->encoding == Encoding::Bgra) {
        s->body = next->pixels();
        s->bodyBytes = next->byteCount();
      } else {
        const std::string* bytes = encoded(*next, s->encoding);
        if (bytes->empty()) continue;  // cannot encode: skip this frame
        s->body = reinterpret_cast<const uint8_t*>(bytes->data());
        s->bodyBytes = bytes->size();
      }
      s->head = std::string("--") + kStreamBoundary + "\r\nContent-Type: " + contentTypeOf(s->encoding) +
                "\r\nContent-Length: " + std::to_string(s->bodyBytes) + "\r\n";
      for (const auto& [key, value] : FrameHeaders(next->info())) s->head += key + ": " + value + "\r\n";
      s->head += "\r\n";
      s->offset = 0;
      s->frame = std::move(next);
    }
    // Copy the next piece of head + body + CRLF.
    const size_t headBytes = s->head.size();
    const size_t total = headBytes + s->bodyBytes + 2;
    while (filled < max && s->offset < total) {
      const char* from;
      size_t available;
      if (s->offset < headBytes) {
        from = s->head.data() + s->offset;
        available = headBytes - s->offset;
      } else if (s->offset < headBytes + s->bodyBytes) {
        from = reinterpret_cast<const char*>(s->body) + (s->offset - headBytes);
        available = headBytes + s->bodyBytes - s->offset;
      } else {
        from = "\r\n" + (s->offset - headBytes - s->bodyBytes);
        available = total - s->offset;
      }
      const size_t n = std::min(available, max - filled);
      std::memcpy(buffer + filled, from, n);
      filled += n;
      s->offset += n;
    }
    if (s->offset == total) s->frame.reset();
  }
  return long(filled);
}

void HttpSource::streamEnded(Stream* stream) {
  store_.removeViewer(&stream->cursor);
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    receivers_.erase(stream->receiverId);
  }
  stateChanged_.notify_all();
  delete stream;
}

int HttpSource::replyTally(MHD_Connection* connection) {
  auto argument = [connection](const char* key) -> const char* {
    return MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, key);
  };
  const char* receiver = argument("receiver");
  const char* program = argument("program");
  const char* preview = argument("preview");
  auto isFlag = [](const char* v) { return v && (std::strcmp(v, "0") == 0 || std::strcmp(v, "1") == 0); };
  if (!receiver || !*receiver || !isFlag(program) || !isFlag(preview))
    return replyText(connection, MHD_HTTP_BAD_REQUEST,
                     "Expected /tally?receiver=ID&program=0|1&preview=0|1\n", "text/plain");
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    auto it = receivers_.find(receiver);
    if (it == receivers_.end()) {
      return replyText(connection, MHD_HTTP_NOT_FOUND, "Unknown receiver.\n", "text/plain");
    }
    it->second.program = program[0] == '1';
    it->second.preview = preview[0] == '1';
  }
  stateChanged_.notify_all();
  return replyText(connection, MHD_HTTP_NO_CONTENT, "", "text/plain");
}

int HttpSource::replyStatus(MHD_Connection* connection) {
  SourceStatus status;
  status.name = name_;
  status.last = store_.lastInfo();
  status.jpegEncodes = jpegEncodes_;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    status.connections = receivers_.size();
    status.tally = combinedTallyLocked();
  }
  return replyText(connection, MHD_HTTP_OK, StatusJson(status), "application/json");
}

int HttpSource::handleRequest(MHD_Connection* connection, const char* url, const char* method) {
  const std::string path = url ? url : "";
  const bool isGet = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                     std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
  if (path == "/tally") {
    if (std::strcmp(method, MHD_HTTP_METHOD_POST) != 0) {
      MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
      if (!response) return MHD_NO;
      MHD_add_response_header(response, "Allow", "POST");
      return queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, response);
    }
    return replyTally(connection);
  }
  static const char* const kGetPaths[] = {"/",           "/frame.bgra",  "/frame.png",   "/frame.jpg",
                                          "/stream.bgra", "/stream.png", "/stream.mjpg", "/metadata",
                                          "/status"};
  const bool known = std::any_of(std::begin(kGetPaths), std::end(kGetPaths),
                                 [&](const char* p) { return path == p; });
  if (!known) return replyText(connection, MHD_HTTP_NOT_FOUND, "Not found.\n", "text/plain");
  if (!isGet) return replyText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Use GET.\n", "text/plain");
  // A request that names its source (the page does) is for that source
  // only: another one that took this address meanwhile is not it.
  const char* wanted = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "source");
  if (wanted && name_ != wanted)
    return replyText(connection, MHD_HTTP_NOT_FOUND, "This address serves another source.\n", "text/plain");

  if (path == "/") {
    // "?bare", "?bare=1" (anything but "?bare=0"): the picture alone.
    const char* bare = nullptr;
    size_t bareLength = 0;
    const bool asked = MHD_lookup_connection_value_n(connection, MHD_GET_ARGUMENT_KIND, "bare", 4, &bare,
                                                     &bareLength) == MHD_YES;
    const PageMode mode =
        asked && !(bare && std::strcmp(bare, "0") == 0) ? PageMode::Bare : PageMode::Full;
    return replyText(connection, MHD_HTTP_OK, PageHtml(name_, mode), "text/html; charset=utf-8");
  }
  if (path == "/frame.bgra") return replyFrame(connection, Encoding::Bgra);
  if (path == "/frame.png") return replyFrame(connection, Encoding::Png);
  if (path == "/frame.jpg") return replyFrame(connection, Encoding::Jpeg);
  if (path == "/stream.bgra") return replyStream(connection, Encoding::Bgra);
  if (path == "/stream.png") return replyStream(connection, Encoding::Png);
  if (path == "/stream.mjpg") return replyStream(connection, Encoding::Jpeg);
  if (path == "/status") return replyStatus(connection);
  std::string text;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    text = metadata_;
  }
  return replyText(connection, MHD_HTTP_OK, text, "text/plain; charset=utf-8");
}

}  // namespace plombix::standin
