#include "raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace plombix::testing {

int RawConnect(int port, const char* fromAddress) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in from{AF_INET, 0, {}, {}}, to{AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
  if ((fromAddress && (::inet_pton(AF_INET, fromAddress, &from.sin_addr) != 1 ||
                       ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0)) ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  return fd;
}

bool RawSendAll(int fd, const std::string& bytes) {
  ssize_t n = 0;
  for (size_t done = 0; done < bytes.size(); done += size_t(n))
    if ((n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)) <= 0) return false;
  return true;
}

std::string RawReadToClose(int fd) {
  std::string all;
  char chunk[65536];
  for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) all.append(chunk, size_t(n));
  return all;
}

RawResponse ParseResponse(const std::string& bytes) {
  RawResponse r;
  if (bytes.rfind("HTTP/1.", 0) != 0) {
    r.closedEarly = bytes.empty();
    return r;
  }
  const size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) return r;
  r.complete = true;
  r.status = std::atoi(bytes.c_str() + 9);
  for (size_t pos = bytes.find("\r\n") + 2, eol; pos < end; pos = eol + 2) {
    eol = bytes.find("\r\n", pos);
    const std::string line = bytes.substr(pos, eol - pos);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
    r.headers[key] = line.substr(std::min(line.find_first_not_of(' ', colon + 1), line.size()));
  }
  r.body = bytes.substr(end + 4);
  return r;
}

RawResponse RawExchange(int port, const std::string& request) {
  const int fd = RawConnect(port);
  if (fd < 0) return {};
  std::string all;
  if (RawSendAll(fd, request)) all = RawReadToClose(fd);
  ::close(fd);
  return ParseResponse(all);
}

}  // namespace plombix::testing
