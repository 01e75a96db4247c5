#include "listen_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plombix::standin {

int OpenListenSocket(const std::string& bindAddress, int firstPort, int portCount, int* port,
                     std::string* url, std::string* error) {
  sockaddr_storage address{};
  socklen_t addressLength = 0;
  std::string urlHost;
  in_addr v4{};
  in6_addr v6{};
  int family = 0;
  if (::inet_pton(AF_INET, bindAddress.c_str(), &v4) == 1) {
    family = AF_INET;
    urlHost = v4.s_addr == htonl(INADDR_ANY) ? "127.0.0.1" : bindAddress;
  } else if (::inet_pton(AF_INET6, bindAddress.c_str(), &v6) == 1) {
    family = AF_INET6;
    urlHost = std::memcmp(&v6, &in6addr_any, sizeof v6) == 0 ? "[::1]" : "[" + bindAddress + "]";
  } else {
    *error = "PLOMBIX_NDI_BIND is not a numeric IP address: " + bindAddress;
    return -1;
  }
  for (int p = firstPort; p < firstPort + portCount; ++p) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      *error = std::string("socket: ") + std::strerror(errno);
      return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (family == AF_INET) {
      auto* a = reinterpret_cast<sockaddr_in*>(&address);
      *a = sockaddr_in{};
      a->sin_family = AF_INET;
      a->sin_port = htons(uint16_t(p));
      a->sin_addr = v4;
      addressLength = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in6*>(&address);
      *a = sockaddr_in6{};
      a->sin6_family = AF_INET6;
      a->sin6_port = htons(uint16_t(p));
      a->sin6_addr = v6;
      addressLength = sizeof *a;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), addressLength) == 0 &&
        ::listen(fd, 32) == 0) {
      *port = p;
      *url = "http://" + urlHost + ":" + std::to_string(p) + "/";
      return fd;
    }
    const int why = errno;
    ::close(fd);
    if (why != EADDRINUSE && why != EACCES) {
      *error = "cannot listen on " + bindAddress + ": " + std::strerror(why);
      return -1;
    }
  }
  *error = "no free port from " + std::to_string(firstPort);
  return -1;
}

}  // namespace plombix::standin
