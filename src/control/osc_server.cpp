#include "osc_server.h"

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <strings.h>

#include "access_check.h"
#include "api_names.h"

namespace plombix::control {
namespace {

constexpr int kMaxBundleDepth = 4;

OscSettings Off(std::string reason) {
  OscSettings s;
  s.reason = std::move(reason);
  return s;
}

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

struct OscRoute {
  const char* path;
  OscCommand::Kind kind;
  const char* types;  // after the token
  Step step;
};

constexpr OscRoute kRoutes[] = {
    {"/plombix/show", OscCommand::Kind::Show, "s", Step::Next},
    {"/plombix/cue", OscCommand::Kind::Cue, "s", Step::Next},
    {"/plombix/take", OscCommand::Kind::Take, "", Step::Next},
    {"/plombix/next", OscCommand::Kind::Step, "", Step::Next},
    {"/plombix/previous", OscCommand::Kind::Step, "", Step::Previous},
    {"/plombix/first", OscCommand::Kind::Step, "", Step::First},
    {"/plombix/last", OscCommand::Kind::Step, "", Step::Last},
    {"/plombix/goto", OscCommand::Kind::Goto, "i", Step::Next},
    {"/plombix/transition", OscCommand::Kind::Transition, "s", Step::Next},
    {"/plombix/background", OscCommand::Kind::Background, "s", Step::Next},
};

// A UDP socket bound to address:port (0: any free port); -1 with `*error`.
int BindUdp(const std::string& address, int port, int* boundPort, std::string* error) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (!SocketAddressFor(address, port, &storage, &length)) {
    *error = "not a numeric IP address: " + address;
    return -1;
  }
  const int fd = ::socket(storage.ss_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
    *error = "cannot receive OSC on " + address + " port " + std::to_string(port) + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  *boundPort = BoundPort(fd);
  return fd;
}

}  // namespace

OscSettings OscSettingsFor(int copyNumber, const EnvironmentLookup& env) {
  auto get = [&env](const char* name) -> const char* {
    const char* v = env ? env(name) : nullptr;
    return v && *v ? v : nullptr;
  };
  if (const char* on = get("PLOMBIX_OSC")) {
    for (const char* off : {"0", "off", "false", "no"})
      if (::strcasecmp(on, off) == 0) return Off(std::string("turned off by PLOMBIX_OSC=") + on);
  }
  // The port and token as the HTTP server has them, whatever its address
  // and whether it runs.
  const ControlSettings http = ControlSettingsFor(copyNumber, [&get](const char* name) -> const char* {
    const std::string_view n(name);
    return n == "PLOMBIX_CONTROL" || n == "PLOMBIX_CONTROL_BIND" ? nullptr : get(name);
  });
  if (!http.enabled) return Off(http.reason);
  OscSettings s;
  s.port = http.port;
  s.token = http.token;
  if (const char* bind = get("PLOMBIX_OSC_BIND")) {
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, bind, &v4) != 1 && ::inet_pton(AF_INET6, bind, &v6) != 1)
      return Off(std::string("PLOMBIX_OSC_BIND is not a numeric IP address: ") + bind);
    s.bindAddress = bind;
  }
  if (!IsLoopbackAddress(s.bindAddress) && s.token.empty())
    return Off("PLOMBIX_OSC_BIND=" + s.bindAddress +
               " is not a loopback address: set PLOMBIX_CONTROL_TOKEN to take OSC from other machines");
  s.enabled = true;
  return s;
}

class OscServer::Loop {
 public:
  Loop(OscSettings settings, Handler handler) : settings_(std::move(settings)), handler_(std::move(handler)) {}
  ~Loop() {
    if (socket_ >= 0) ::close(socket_);
    if (stop_ >= 0) ::close(stop_);
  }

  bool open(int* port, std::string* error) {
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_ < 0) {
      *error = std::string("eventfd: ") + std::strerror(errno);
      return false;
    }
    socket_ = BindUdp(settings_.bindAddress, settings_.port, port, error);
    return socket_ >= 0;
  }

  void run() {
    // A UDP datagram holds at most 64 KiB.
    std::vector<uint8_t> buffer(65536);
    for (;;) {
      pollfd fds[2] = {{socket_, POLLIN, 0}, {stop_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents) return;
      for (;;) {
        const ssize_t n = ::recv(socket_, buffer.data(), buffer.size(), 0);
        if (n < 0) break;  // EAGAIN: all read
        packet(buffer.data(), size_t(n), 0);
      }
    }
  }

  void stop() {
    const uint64_t one = 1;
    (void)!::write(stop_, &one, sizeof one);
  }

  std::atomic<uint64_t> ignored{0};

 private:
  void packet(uint8_t* data, size_t size, int depth) {
    constexpr std::string_view kBundle("#bundle\0", 8);
    if (size >= 8 && std::string_view(reinterpret_cast<char*>(data), 8) == kBundle) {
      // "#bundle", an 8-byte time tag, then elements: a 32-bit size and that many bytes.
      if (depth >= kMaxBundleDepth || size < 16) {
        ++ignored;
        return;
      }
      for (size_t at = 16; at < size;) {
        const uint32_t n = size - at >= 4 ? BigEndian32(data + at) : 0;
        if (n == 0 || n % 4 != 0 || n > size - at - 4) {
          ++ignored;
          return;
        }
        packet(data + at + 4, n, depth + 1);
        at += 4 + n;
      }
      return;
    }
    int result = 0;
    lo_message m = lo_message_deserialise(data, size, &result);
    if (!m) {
      ++ignored;
      return;
    }
    if (!message(lo_get_path(data, ssize_t(size)), m)) ++ignored;
    lo_message_free(m);
  }

  // False when the message is not one of ours, as it stands.
  bool message(const char* path, lo_message m) {
    const std::string_view types(lo_message_get_types(m));
    lo_arg** argv = lo_message_get_argv(m);
    size_t first = 0;
    if (!settings_.token.empty()) {
      if (types.empty() || types[0] != 's' || !ConstantTimeEquals(&argv[0]->s, settings_.token)) return false;
      first = 1;
    }
    for (const OscRoute& r : kRoutes) {
      if (std::strcmp(path, r.path) != 0) continue;
      if (types.substr(first) != r.types) return false;
      OscCommand c;
      c.kind = r.kind;
      c.step = r.step;
      const lo_arg* arg = first < types.size() ? argv[first] : nullptr;
      switch (r.kind) {
        case OscCommand::Kind::Show:
        case OscCommand::Kind::Cue:
          c.path = &arg->s;
          if (c.path.empty() || c.path[0] != '/' || c.path.size() > kMaxPathBytes) return false;
          break;
        case OscCommand::Kind::Goto: c.number = arg->i; break;
        case OscCommand::Kind::Transition:
          if (const auto t = ParseTransition(&arg->s)) c.transition = *t;
          else return false;
          break;
        case OscCommand::Kind::Background:
          if (const auto b = ParseBackground(&arg->s)) c.background = *b;
          else return false;
          break;
        default: break;
      }
      handler_(c);
      return true;
    }
    return false;
  }

  const OscSettings settings_;
  const Handler handler_;
  int socket_ = -1;
  int stop_ = -1;
};

std::unique_ptr<OscServer> OscServer::Start(const OscSettings& settings, Handler handler, std::string* error) {
  std::string why;
  if (!settings.enabled) why = settings.reason.empty() ? "turned off" : settings.reason;
  else if (!handler) why = "no handler for the commands";
  std::unique_ptr<OscServer> server(new OscServer());
  if (why.empty()) {
    server->loop_ = std::make_unique<Loop>(settings, std::move(handler));
    if (server->loop_->open(&server->port_, &why)) {
      Loop* loop = server->loop_.get();
      server->thread_ = std::thread([loop] { loop->run(); });
      return server;
    }
  }
  if (error) *error = why;
  return nullptr;
}

OscServer::~OscServer() {
  if (loop_) loop_->stop();
  if (thread_.joinable()) thread_.join();
}

uint64_t OscServer::ignored() const { return loop_->ignored.load(); }

}  // namespace plombix::control
