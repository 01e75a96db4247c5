#include "http_sender.h"

#include <microhttpd.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

#include "discovery.h"
#include "listen_socket.h"
#include "runtime_folder.h"
#include "served_texts.h"

namespace plombix::standin {

struct StandInSender::Stream {
  StandInSender* sender = nullptr;
  std::string receiverId;
  bool png = false;
  int fd = -1;
  uint64_t seen = 0;                    // sequence of the last frame started
  std::shared_ptr<const Frame> frame;   // the part being written, or null
  std::string head;                     // boundary line and part headers
  const uint8_t* body = nullptr;
  size_t bodyBytes = 0;
  size_t offset = 0;                    // into head + body + "\r\n"
};

namespace {

void addHeaders(MHD_Response* response, const HeaderList& headers) {
  for (const auto& [key, value] : headers) MHD_add_response_header(response, key.c_str(), value.c_str());
}

unsigned idleTimeoutSeconds() {
  const char* text = std::getenv("PLOMBIX_NDI_TIMEOUT_S");
  if (!text || !*text) return kIdleTimeoutSeconds;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v < 1 || v > 3600) return kIdleTimeoutSeconds;
  return unsigned(v);
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

// --- C callbacks into the sender -------------------------------------------------

MHD_Result accessHandler(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char* /*version*/, const char* /*uploadData*/, size_t* uploadSize,
                         void** /*requestContext*/) {
  // Every answer is decided on the request line and headers; a request body
  // (only POST /tally takes one, and ignores it) is never read: MHD closes
  // the connection after the answer instead.
  (void)uploadSize;
  return MHD_Result(static_cast<StandInSender*>(cls)->handleRequest(connection, url, method));
}

ssize_t streamReader(void* cls, uint64_t /*pos*/, char* buffer, size_t max) {
  auto* stream = static_cast<StandInSender::Stream*>(cls);
  return stream->sender->streamRead(stream, buffer, max);
}

void streamFree(void* cls) {
  auto* stream = static_cast<StandInSender::Stream*>(cls);
  stream->sender->streamEnded(stream);
}

void frameFree(void* cls) { delete static_cast<std::shared_ptr<const Frame>*>(cls); }

void quietLogger(void*, const char*, va_list) {}

}  // namespace

std::unique_ptr<StandInSender> StandInSender::Create(const std::string& name, std::string* error) {
  std::string why;
  if (!IsValidSourceName(name)) {
    if (error) *error = "invalid source name";
    return nullptr;
  }
  const FolderResult folder = SourcesFolder();
  if (!folder.ok()) {
    if (error) *error = folder.error;
    return nullptr;
  }
  const char* bindEnv = std::getenv("PLOMBIX_NDI_BIND");
  const std::string bindAddress = bindEnv && *bindEnv ? bindEnv : "127.0.0.1";

  std::unique_ptr<StandInSender> sender(new StandInSender());
  sender->name_ = name;
  sender->sourcesDir_ = folder.path;
  const int listenFd =
      OpenListenSocket(bindAddress, kFirstPort, kPortCount, &sender->port_, &sender->url_, &why);
  if (listenFd < 0) {
    if (error) *error = why;
    return nullptr;
  }
  const ClaimResult claim = ClaimSource(folder.path, name, sender->url_, &why);
  if (claim != ClaimResult::Claimed) {
    ::close(listenFd);
    if (error) *error = "'" + name + "': " + why;
    return nullptr;
  }
  sender->daemon_ = MHD_start_daemon(
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_ITC,
      0, nullptr, nullptr, &accessHandler, sender.get(),
      MHD_OPTION_EXTERNAL_LOGGER, &quietLogger, nullptr,
      MHD_OPTION_LISTEN_SOCKET, listenFd,
      MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConnectionsPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, idleTimeoutSeconds(),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kMaxRequestBytes,
      MHD_OPTION_END);
  if (!sender->daemon_) {
    ::close(listenFd);
    ReleaseSource(folder.path, name, sender->url_);
    if (error) *error = "cannot start the HTTP server";
    return nullptr;
  }
  return sender;
}

StandInSender::~StandInSender() {
  store_.close();  // ends every stream's wait
  if (daemon_) MHD_stop_daemon(daemon_);  // closes connections and the port, joins threads
  ReleaseSource(sourcesDir_, name_, url_);
}

void StandInSender::send(const NDIlib_video_frame_v2_t* frame) {
  FrameInfo info;
  int stride = 0;
  if (!frame || !ValidateFrame(*frame, &info, &stride)) {
    store_.flush();
    return;
  }
  store_.submit(info, frame->p_data, stride);
}

NDIlib_tally_t StandInSender::combinedTallyLocked() const {
  NDIlib_tally_t t{false, false};
  for (const auto& [id, r] : receivers_) {
    t.on_program = t.on_program || r.program;
    t.on_preview = t.on_preview || r.preview;
  }
  return t;
}

bool StandInSender::getTally(NDIlib_tally_t* tally, uint32_t timeoutMs) {
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

int StandInSender::connections(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(stateMutex_);
  stateChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return !receivers_.empty(); });
  return int(receivers_.size());
}

void StandInSender::addMetadata(const NDIlib_metadata_frame_t* metadata) {
  if (!metadata || !metadata->p_data) return;
  const size_t length = metadata->length > 0 ? ::strnlen(metadata->p_data, size_t(metadata->length))
                                             : std::strlen(metadata->p_data);
  std::lock_guard<std::mutex> lock(stateMutex_);
  metadata_.append(metadata->p_data, length);
}

std::string StandInSender::newReceiverId() {
  static std::mutex mutex;
  static std::mt19937_64 random{std::random_device{}()};
  std::lock_guard<std::mutex> lock(mutex);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
  return text;
}

int StandInSender::replyText(MHD_Connection* connection, unsigned status, const std::string& body,
                             const char* contentType) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", contentType);
  MHD_add_response_header(response, "Cache-Control", "no-store");
  if (status == MHD_HTTP_METHOD_NOT_ALLOWED) MHD_add_response_header(response, "Allow", "GET, HEAD");
  const MHD_Result rc = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return rc;
}

int StandInSender::replyFrame(MHD_Connection* connection, bool png) {
  std::shared_ptr<const Frame> frame = store_.latest();
  if (!frame) return replyText(connection, MHD_HTTP_NOT_FOUND, "No frame has been sent yet.\n", "text/plain");
  const void* data = frame->pixels();
  size_t size = frame->byteCount();
  if (png) {
    const std::string& encoded = frame->png();
    if (encoded.empty())
      return replyText(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, "PNG encoding failed.\n", "text/plain");
    data = encoded.data();
    size = encoded.size();
  }
  // The response reads straight from the frame, which it keeps alive.
  auto* keep = new std::shared_ptr<const Frame>(frame);
  MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
      size, const_cast<void*>(data), &frameFree, keep);
  if (!response) {
    delete keep;
    return MHD_NO;
  }
  MHD_add_response_header(response, "Content-Type", png ? "image/png" : "application/octet-stream");
  MHD_add_response_header(response, "Cache-Control", "no-store");
  addHeaders(response, FrameHeaders(frame->info()));
  const MHD_Result rc = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return rc;
}

int StandInSender::replyStream(MHD_Connection* connection, bool png) {
  auto* stream = new Stream();
  stream->sender = this;
  stream->png = png;
  stream->receiverId = newReceiverId();
  if (const MHD_ConnectionInfo* info =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
    stream->fd = info->connect_fd;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    receivers_[stream->receiverId] = ReceiverTally{};
  }
  stateChanged_.notify_all();
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
  const MHD_Result rc = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);  // the connection holds it; streamFree runs when it is done
  return rc;
}

long StandInSender::streamRead(Stream* s, char* buffer, size_t max) {
  size_t filled = 0;
  while (filled < max) {
    if (!s->frame) {
      if (filled > 0) return long(filled);  // hand over what is ready first
      // Wait for a frame newer than the last one written; the first one is
      // the last frame sent before the stream opened.
      std::shared_ptr<const Frame> next;
      while (!next) {
        next = store_.waitNewer(&s->seen, std::chrono::milliseconds(200));
        if (next) break;
        if (store_.closed()) return MHD_CONTENT_READER_END_OF_STREAM;
        if (peerGone(s->fd)) return MHD_CONTENT_READER_END_WITH_ERROR;
      }
      if (s->png && next->png().empty()) continue;  // cannot encode: skip this frame
      s->body = s->png ? reinterpret_cast<const uint8_t*>(next->png().data()) : next->pixels();
      s->bodyBytes = s->png ? next->png().size() : next->byteCount();
      s->head = std::string("--") + kStreamBoundary + "\r\nContent-Type: " +
                (s->png ? "image/png" : "application/octet-stream") +
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

void StandInSender::streamEnded(Stream* stream) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    receivers_.erase(stream->receiverId);
  }
  stateChanged_.notify_all();
  delete stream;
}

int StandInSender::replyTally(MHD_Connection* connection) {
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

int StandInSender::handleRequest(MHD_Connection* connection, const char* url, const char* method) {
  const std::string path = url ? url : "";
  const bool isGet = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                     std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
  if (path == "/tally") {
    if (std::strcmp(method, MHD_HTTP_METHOD_POST) != 0) {
      MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
      if (!response) return MHD_NO;
      MHD_add_response_header(response, "Allow", "POST");
      const MHD_Result rc = MHD_queue_response(connection, MHD_HTTP_METHOD_NOT_ALLOWED, response);
      MHD_destroy_response(response);
      return rc;
    }
    return replyTally(connection);
  }
  static const char* const kGetPaths[] = {"/", "/frame.bgra", "/frame.png", "/stream.bgra",
                                          "/stream.png", "/metadata", "/status"};
  bool known = false;
  for (const char* p : kGetPaths) known = known || path == p;
  if (!known) return replyText(connection, MHD_HTTP_NOT_FOUND, "Not found.\n", "text/plain");
  if (!isGet) return replyText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Use GET.\n", "text/plain");

  if (path == "/") return replyText(connection, MHD_HTTP_OK, PageHtml(name_), "text/html; charset=utf-8");
  if (path == "/frame.bgra") return replyFrame(connection, false);
  if (path == "/frame.png") return replyFrame(connection, true);
  if (path == "/stream.bgra") return replyStream(connection, false);
  if (path == "/stream.png") return replyStream(connection, true);
  if (path == "/status") {
    size_t count;
    NDIlib_tally_t tally;
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      count = receivers_.size();
      tally = combinedTallyLocked();
    }
    return replyText(connection, MHD_HTTP_OK, StatusJson(name_, store_.lastInfo(), count, tally),
                     "application/json");
  }
  std::string text;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    text = metadata_;
  }
  return replyText(connection, MHD_HTTP_OK, text, "text/plain; charset=utf-8");
}

}  // namespace plombix::standin
