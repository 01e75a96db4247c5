#include "http_client.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace plombix::standin {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  const size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

bool waitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int rc = ::poll(&p, 1, timeoutMs);
    if (rc < 0 && errno == EINTR) continue;
    return rc > 0 && !(p.revents & POLLNVAL);
  }
}

}  // namespace

bool ParseHttpUrl(const std::string& url, HttpUrl* out) {
  const std::string scheme = "http://";
  if (url.rfind(scheme, 0) != 0) return false;
  std::string rest = url.substr(scheme.size());
  rest = rest.substr(0, rest.find('/'));
  HttpUrl u;
  std::string portText;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) return false;
    u.host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return false;
      portText = rest.substr(close + 2);
    }
  } else {
    const size_t colon = rest.find(':');
    u.host = rest.substr(0, colon);
    if (colon != std::string::npos) portText = rest.substr(colon + 1);
  }
  if (u.host.empty()) return false;
  if (!portText.empty()) {
    if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
      return false;
    u.port = std::stoi(portText);
    if (u.port < 1 || u.port > 65535) return false;
  }
  *out = u;
  return true;
}

std::string HeaderParameter(const std::string& value, const std::string& key) {
  size_t pos = 0;
  while ((pos = value.find(';', pos)) != std::string::npos) {
    ++pos;
    const size_t end = value.find(';', pos);
    const std::string item = trim(value.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    const size_t eq = item.find('=');
    if (eq != std::string::npos && lower(trim(item.substr(0, eq))) == key) {
      std::string v = trim(item.substr(eq + 1));
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return {};
}

HttpClient::~HttpClient() { close(); }

bool HttpClient::connect(const HttpUrl& url, int timeoutMs) {
  close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(url.port);
  if (::getaddrinfo(url.host.c_str(), port.c_str(), &hints, &found) != 0) return false;
  int fd = -1;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) continue;
    int error = errno;
    if (error == EINPROGRESS) {
      error = ETIMEDOUT;
      if (waitFor(fd, POLLOUT, timeoutMs)) {
        socklen_t len = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
      }
    }
    if (error != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) return false;
  host_ = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
  host_ += ":" + port;
  {
    std::lock_guard<std::mutex> lock(fdMutex_);
    if (aborted_) {
      ::close(fd);
      return false;
    }
    fd_ = fd;
  }
  return true;
}

bool HttpClient::sendRequest(const char* method, const std::string& path, int timeoutMs) {
  const std::string request = std::string(method) + " " + path + " HTTP/1.1\r\nHost: " + host_ +
                              "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
  size_t done = 0;
  while (done < request.size()) {
    const int fd = fd_;
    if (fd < 0 || aborted_) return false;
    const ssize_t n = ::send(fd, request.data() + done, request.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += size_t(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!waitFor(fd, POLLOUT, timeoutMs)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool HttpClient::fill(int timeoutMs) {
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  char chunk[64 * 1024];
  for (;;) {
    const int fd = fd_;
    if (fd < 0 || aborted_) return false;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer_.append(chunk, size_t(n));
      return true;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    if (errno != EAGAIN || !waitFor(fd, POLLIN, timeoutMs)) return false;
  }
}

bool HttpClient::readLine(std::string* line, int timeoutMs) {
  for (;;) {
    const size_t nl = buffer_.find('\n', start_);
    if (nl != std::string::npos) {
      *line = buffer_.substr(start_, nl - start_);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      start_ = nl + 1;
      return true;
    }
    if (buffer_.size() - start_ > kMaxHeaderBytes) return false;
    if (!fill(timeoutMs)) return false;
  }
}

bool HttpClient::readHeaderLines(HttpHeaders* headers, int timeoutMs) {
  headers->clear();
  size_t total = 0;
  std::string line;
  for (;;) {
    if (!readLine(&line, timeoutMs)) return false;
    total += line.size() + 2;
    if (total > kMaxHeaderBytes) return false;
    if (line.empty()) return true;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    (*headers)[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
  }
}

bool HttpClient::readResponseHead(int* status, HttpHeaders* headers, int timeoutMs) {
  std::string line;
  if (!readLine(&line, timeoutMs)) return false;
  // "HTTP/1.x NNN reason"
  if (line.rfind("HTTP/1.", 0) != 0 || line.size() < 12 || line[8] != ' ') return false;
  const std::string code = line.substr(9, 3);
  if (code.find_first_not_of("0123456789") != std::string::npos) return false;
  *status = std::stoi(code);
  return readHeaderLines(headers, timeoutMs);
}

bool HttpClient::readBody(const HttpHeaders& headers, size_t maxBytes, std::string* body,
                          int timeoutMs) {
  body->clear();
  const auto length = headers.find("content-length");
  if (length != headers.end()) {
    const std::string& text = length->second;
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
      return false;
    const size_t n = size_t(std::stoull(text));
    if (n > maxBytes) return false;
    body->resize(n);
    return readExact(reinterpret_cast<uint8_t*>(body->data()), n, timeoutMs);
  }
  for (;;) {
    body->append(buffer_, start_, std::string::npos);
    start_ = buffer_.size();
    if (body->size() > maxBytes) return false;
    if (!fill(timeoutMs)) return !aborted_;
  }
}

bool HttpClient::readPartHead(const std::string& boundary, HttpHeaders* headers, int timeoutMs) {
  std::string line;
  do {
    if (!readLine(&line, timeoutMs)) return false;
  } while (line.empty());
  if (line != "--" + boundary) return false;
  return readHeaderLines(headers, timeoutMs);
}

bool HttpClient::readExact(uint8_t* to, size_t n, int timeoutMs) {
  const size_t buffered = std::min(n, buffer_.size() - start_);
  std::memcpy(to, buffer_.data() + start_, buffered);
  start_ += buffered;
  size_t done = buffered;
  // The rest straight from the socket, without passing through buffer_.
  while (done < n) {
    const int fd = fd_;
    if (fd < 0 || aborted_) return false;
    const ssize_t got = ::recv(fd, to + done, n - done, 0);
    if (got > 0) {
      done += size_t(got);
    } else if (got == 0) {
      return false;
    } else if (errno == EINTR) {
      continue;
    } else if (errno != EAGAIN || !waitFor(fd, POLLIN, timeoutMs)) {
      return false;
    }
  }
  return true;
}

void HttpClient::abort() {
  std::lock_guard<std::mutex> lock(fdMutex_);
  aborted_ = true;
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void HttpClient::close() {
  int fd;
  {
    std::lock_guard<std::mutex> lock(fdMutex_);
    fd = fd_.exchange(-1);
  }
  if (fd >= 0) ::close(fd);
  buffer_.clear();
  start_ = 0;
}

bool HttpFetch(const std::string& url, const char* method, const std::string& path, int* status,
               std::string* body, size_t maxBytes, int timeoutMs) {
  HttpUrl u;
  if (!ParseHttpUrl(url, &u)) return false;
  HttpClient client;
  HttpHeaders headers;
  if (!client.connect(u, timeoutMs) || !client.sendRequest(method, path, timeoutMs) ||
      !client.readResponseHead(status, &headers, timeoutMs))
    return false;
  if (std::strcmp(method, "HEAD") == 0 || *status == 204 || *status == 304) {
    body->clear();
    return true;
  }
  return client.readBody(headers, maxBytes, body, timeoutMs);
}

}  // namespace plombix::standin
