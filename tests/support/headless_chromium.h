// HeadlessChromium: drives Debian's chromium without a screen, for tests of
// web pages served by the player (the web remote, the stand-in's page).
//
// It starts `chromium --headless --remote-debugging-pipe` with a fresh
// profile folder and speaks the DevTools protocol over the pipe (JSON
// messages ended by a NUL byte, commands on the browser's fd 3, answers on
// its fd 4): no network port, nothing downloaded. One page at a time. The
// browser runs in its own process group, killed with it when the object
// goes, and its profile folder is removed.
#pragma once

#include <sys/types.h>

#include <QJsonObject>
#include <QJsonValue>

#include <optional>
#include <string>

namespace plombix::testing {

class HeadlessChromium {
 public:
  // The browser to run: $PLOMBIX_CHROMIUM, else chromium or chromium-browser
  // on the PATH; empty when there is none (tests then skip, saying so).
  static std::string Executable();

  HeadlessChromium() = default;
  ~HeadlessChromium() { stop(); }
  HeadlessChromium(const HeadlessChromium&) = delete;
  HeadlessChromium& operator=(const HeadlessChromium&) = delete;

  [[nodiscard]] bool start(std::string* error);
  // Opens `url` in a new page (width x height CSS pixels) and attaches to it.
  [[nodiscard]] bool open(const std::string& url, std::string* error, int width = 800, int height = 1100);
  // The value of a JavaScript expression in the page (promises awaited);
  // nullopt with `*error` on an exception or a lost browser.
  std::optional<QJsonValue> evaluate(const std::string& expression, std::string* error = nullptr);
  // Evaluates `expression` every 50 ms until it is true.
  bool waitFor(const std::string& expression, int timeoutMs);
  // Clicks the first element matching a CSS selector; false when none.
  bool click(const std::string& selector);
  // Saves the page as it looks now as a PNG file.
  bool screenshot(const std::string& pngPath, std::string* error);
  // The browser's own output so far (for failure messages).
  std::string log() const;

 private:
  std::optional<QJsonObject> command(const std::string& method, const QJsonObject& params,
                                     bool inPage, std::string* error, int timeoutMs = 15000);
  void stop();

  pid_t pid_ = -1;
  int toBrowser_ = -1, fromBrowser_ = -1;  // the pipes' ends
  int nextId_ = 1;
  std::string buffer_, profile_, sessionId_;  // read and not yet taken; profile folder; attached page
};

}  // namespace plombix::testing
