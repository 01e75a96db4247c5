// A real browser for tests: Debian's chromium, headless, driven over the
// DevTools protocol on a pipe (--remote-debugging-pipe: JSON messages ended
// by a zero byte, commands on the browser's fd 3, answers on its fd 4), so
// no WebSocket client is needed. One page; JavaScript evaluated in it.
#pragma once

#include <sys/types.h>

#include <string>

namespace standin_test {

class HeadlessBrowser {
 public:
  // The chromium program on PATH, or empty when it is not installed.
  static std::string Program();

  HeadlessBrowser() = default;
  ~HeadlessBrowser();  // ends the browser
  HeadlessBrowser(const HeadlessBrowser&) = delete;
  HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

  // Starts the browser with a fresh profile in `profileDir` (its output goes
  // to `profileDir`/browser.log) and opens `url` in a page. False with
  // `*error` when it cannot.
  bool open(const std::string& url, const std::string& profileDir, std::string* error);
  // Evaluates `expression` in the page; its value as a string (the
  // expression must give a string), or empty with `*error` set.
  std::string evaluate(const std::string& expression, std::string* error);

 private:
  // Sends a command and waits (up to 20 s) for its answer; the answer's JSON.
  bool call(const std::string& method, const std::string& params, const std::string& session,
            std::string* answer, std::string* error);

  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  int nextId_ = 1;
  std::string pending_;  // received, not yet split into messages
  std::string session_;
};

// The string value of "key":"..." in a JSON text (escapes undone), or empty.
std::string JsonStringField(const std::string& json, const std::string& key);

}  // namespace standin_test
