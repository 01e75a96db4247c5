#include "headless_browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

namespace standin_test {
namespace {

std::string jsonQuote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

void appendUtf8(std::string* out, unsigned code) {
  if (code < 0x80) {
    *out += char(code);
  } else if (code < 0x800) {
    *out += char(0xC0 | (code >> 6));
    *out += char(0x80 | (code & 0x3F));
  } else {
    *out += char(0xE0 | (code >> 12));
    *out += char(0x80 | ((code >> 6) & 0x3F));
    *out += char(0x80 | (code & 0x3F));
  }
}

// Makes `from` the descriptor `to` in a child about to exec (kept open
// across the exec).
void moveTo(int from, int to) {
  if (from == to) {
    ::fcntl(to, F_SETFD, 0);
  } else {
    ::dup2(from, to);
  }
}

}  // namespace

std::string JsonStringField(const std::string& json, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  size_t pos = json.find(marker);
  if (pos == std::string::npos) return {};
  pos += marker.size();
  std::string out;
  while (pos < json.size() && json[pos] != '"') {
    if (json[pos] != '\\' || pos + 1 >= json.size()) {
      out += json[pos++];
      continue;
    }
    const char e = json[pos + 1];
    pos += 2;
    switch (e) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'u':
        if (pos + 4 <= json.size()) {
          appendUtf8(&out, unsigned(std::strtoul(json.substr(pos, 4).c_str(), nullptr, 16)));
          pos += 4;
        }
        break;
      default: out += e;  // \" \\ \/
    }
  }
  return out;
}

std::string HeadlessBrowser::Program() {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    for (const char* name : {"chromium", "chromium-browser"}) {
      const std::string candidate = folder + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
  }
  return {};
}

HeadlessBrowser::~HeadlessBrowser() {
  if (toBrowser_ >= 0) ::close(toBrowser_);  // the browser ends when its pipe closes
  if (fromBrowser_ >= 0) ::close(fromBrowser_);
  if (pid_ <= 0) return;
  for (int i = 0; i < 50; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (i == 20) ::kill(-pid_, SIGTERM);  // the group this browser was started in
  }
  ::kill(-pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

bool HeadlessBrowser::open(const std::string& url, const std::string& profileDir, std::string* error) {
  const std::string program = Program();
  if (program.empty()) {
    *error = "chromium is not installed";
    return false;
  }
  int commands[2], answers[2];
  if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(answers, O_CLOEXEC) != 0) {
    *error = "no pipes";
    return false;
  }
  ::mkdir(profileDir.c_str(), 0700);
  const std::string log = profileDir + "/browser.log";
  const std::vector<std::string> args = {
      program, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--user-data-dir=" + profileDir, "--remote-debugging-pipe", "about:blank"};
  // Everything the child needs is made before fork(): other threads of this
  // process may hold the allocator's locks at that moment.
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);
    const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (logFd >= 0) {
      ::dup2(logFd, 1);
      ::dup2(logFd, 2);
    }
    // fd 3 and 4 are the protocol's; move the pipe ends out of the way first.
    const int in = ::fcntl(commands[0], F_DUPFD_CLOEXEC, 10);
    const int out = ::fcntl(answers[1], F_DUPFD_CLOEXEC, 10);
    moveTo(in, 3);
    moveTo(out, 4);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(commands[0]);
  ::close(answers[1]);
  toBrowser_ = commands[1];
  fromBrowser_ = answers[0];
  if (pid_ < 0) {
    *error = "cannot start chromium";
    return false;
  }
  std::string answer;
  if (!call("Target.createTarget", "{\"url\":" + jsonQuote(url) + "}", "", &answer, error)) return false;
  const std::string target = JsonStringField(answer, "targetId");
  if (target.empty() ||
      !call("Target.attachToTarget", "{\"targetId\":" + jsonQuote(target) + ",\"flatten\":true}", "", &answer,
            error))
    return false;
  session_ = JsonStringField(answer, "sessionId");
  if (session_.empty()) *error = "no session: " + answer;
  return !session_.empty();
}

bool HeadlessBrowser::call(const std::string& method, const std::string& params, const std::string& session,
                           std::string* answer, std::string* error) {
  const int id = nextId_++;
  const std::string sessionField = session.empty() ? "" : ",\"sessionId\":" + jsonQuote(session);
  std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + jsonQuote(method) +
                        ",\"params\":" + params + sessionField + "}";
  message += '\0';
  size_t done = 0;
  while (done < message.size()) {
    const ssize_t n = ::write(toBrowser_, message.data() + done, message.size() - done);
    if (n <= 0) {
      *error = "the browser went away";
      return false;
    }
    done += size_t(n);
  }
  // Answers begin with their id; events in between are skipped.
  const std::string prefix = "{\"id\":" + std::to_string(id) + ",";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    size_t end;
    while ((end = pending_.find('\0')) != std::string::npos) {
      std::string one = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (one.rfind(prefix, 0) != 0) continue;
      if (one.find("\"error\":") != std::string::npos && one.find("\"result\":") == std::string::npos) {
        *error = method + ": " + one;
        return false;
      }
      *answer = std::move(one);
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fromBrowser_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) {
      *error = method + ": no answer";
      return false;
    }
    char chunk[65536];
    const ssize_t n = ::read(fromBrowser_, chunk, sizeof chunk);
    if (n <= 0) {
      *error = "the browser went away";
      return false;
    }
    pending_.append(chunk, size_t(n));
  }
}

std::string HeadlessBrowser::evaluate(const std::string& expression, std::string* error) {
  std::string answer;
  const std::string params = "{\"expression\":" + jsonQuote(expression) + ",\"returnByValue\":true}";
  if (!call("Runtime.evaluate", params, session_, &answer, error))
    return {};
  return JsonStringField(answer, "value");
}

}  // namespace standin_test
