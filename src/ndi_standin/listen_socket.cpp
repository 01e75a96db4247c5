#include "listen_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace plombix::standin {
namespace {

struct BindTarget {
  int family = 0;
  in_addr v4{};
  in6_addr v6{};
};

enum class BindOutcome { Listening, Taken, Failed };

// Tries `port`; on Failed, `*error` says why (an error other than "in use").
BindOutcome tryListen(const BindTarget& target, int port, int* fdOut, std::string* error) {
  const int fd = ::socket(target.family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return BindOutcome::Failed;
  }
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage address{};
  socklen_t length = 0;
  if (target.family == AF_INET) {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_port = htons(uint16_t(port));
    a->sin_addr = target.v4;
    length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(uint16_t(port));
    a->sin6_addr = target.v6;
    length = sizeof *a;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(fd, 32) == 0) {
    *fdOut = fd;
    return BindOutcome::Listening;
  }
  const int why = errno;
  ::close(fd);
  if (why == EADDRINUSE || why == EACCES) return BindOutcome::Taken;
  *error = std::strerror(why);
  return BindOutcome::Failed;
}

}  // namespace

int OpenListenSocket(const std::string& bindAddress, const PortChoice& choice, int* port,
                     std::string* url, std::string* error) {
  BindTarget target;
  std::string urlHost;
  if (::inet_pton(AF_INET, bindAddress.c_str(), &target.v4) == 1) {
    target.family = AF_INET;
    urlHost = target.v4.s_addr == htonl(INADDR_ANY) ? "127.0.0.1" : bindAddress;
  } else if (::inet_pton(AF_INET6, bindAddress.c_str(), &target.v6) == 1) {
    target.family = AF_INET6;
    const bool any = std::memcmp(&target.v6, &in6addr_any, sizeof target.v6) == 0;
    urlHost = any ? "[::1]" : "[" + bindAddress + "]";
  } else {
    *error = "PLOMBIX_NDI_BIND is not a numeric IP address: " + bindAddress;
    return -1;
  }
  const auto inRange = [&](int p) {
    return p >= choice.firstPort && p < choice.firstPort + choice.portCount;
  };
  std::vector<int> order;
  if (inRange(choice.preferred)) order.push_back(choice.preferred);
  for (int p = choice.firstPort; p < choice.firstPort + choice.portCount; ++p)
    if (p != choice.preferred && std::find(choice.avoid.begin(), choice.avoid.end(), p) == choice.avoid.end())
      order.push_back(p);
  for (int p : choice.avoid)
    if (inRange(p) && p != choice.preferred) order.push_back(p);

  for (int p : order) {
    int fd = -1;
    std::string why;
    switch (tryListen(target, p, &fd, &why)) {
      case BindOutcome::Listening:
        *port = p;
        *url = "http://" + urlHost + ":" + std::to_string(p) + "/";
        return fd;
      case BindOutcome::Taken:
        continue;
      case BindOutcome::Failed:
        *error = "cannot listen on " + bindAddress + ": " + why;
        return -1;
    }
  }
  *error = "no free port from " + std::to_string(choice.firstPort);
  return -1;
}

}  // namespace plombix::standin
