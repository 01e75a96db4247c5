// A small blocking HTTP/1.1 client over plain sockets for the stand-in's
// receive side: one request per connection ("Connection: close"), bounded
// waits, bounded header sizes, and reading of multipart frame streams.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace plombix::standin {

struct HttpUrl {
  std::string host;  // numeric or a name; without brackets
  int port = 80;
};

// "http://host:port/..." (host may be "[v6]"); false for anything else.
[[nodiscard]] bool ParseHttpUrl(const std::string& url, HttpUrl* out);

// Header names are kept lower-case.
using HttpHeaders = std::map<std::string, std::string>;

constexpr size_t kMaxHeaderBytes = 64 * 1024;

class HttpClient {
 public:
  HttpClient() = default;
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  [[nodiscard]] bool connect(const HttpUrl& url, int timeoutMs);
  // Sends "METHOD path HTTP/1.1" with Host and Connection: close.
  [[nodiscard]] bool sendRequest(const char* method, const std::string& path, int timeoutMs);
  // Status line and headers.
  [[nodiscard]] bool readResponseHead(int* status, HttpHeaders* headers, int timeoutMs);
  // The body: Content-Length bytes, or up to the close; at most maxBytes.
  [[nodiscard]] bool readBody(const HttpHeaders& headers, size_t maxBytes, std::string* body,
                              int timeoutMs);
  // The next part of a multipart body: skips blank lines, expects
  // "--boundary", then reads the part's headers.
  [[nodiscard]] bool readPartHead(const std::string& boundary, HttpHeaders* headers, int timeoutMs);
  // Exactly `n` bytes.
  [[nodiscard]] bool readExact(uint8_t* to, size_t n, int timeoutMs);

  // Unblocks a read in progress, for good; may be called from any thread.
  void abort();
  // Closes the connection; only the thread that uses the client.
  void close();

 private:
  bool fill(int timeoutMs);  // more bytes into buffer_; false on close/error/time-out
  bool readLine(std::string* line, int timeoutMs);
  bool readHeaderLines(HttpHeaders* headers, int timeoutMs);

  // Reads use fd_ without the lock: only the owning thread closes it. The
  // lock orders close() against abort() from another thread.
  std::mutex fdMutex_;
  std::atomic<int> fd_{-1};
  std::atomic<bool> aborted_{false};
  std::string host_;
  std::string buffer_;  // received, not yet consumed: buffer_[start_..]
  size_t start_ = 0;
};

// One whole request on a fresh connection. False on any network failure;
// `*status` is the HTTP status otherwise.
[[nodiscard]] bool HttpFetch(const std::string& url, const char* method, const std::string& path,
                             int* status, std::string* body, size_t maxBytes, int timeoutMs);

// Value of `key` in a header like `multipart/x-mixed-replace; boundary=x`.
std::string HeaderParameter(const std::string& value, const std::string& key);

}  // namespace plombix::standin
