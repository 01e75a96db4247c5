#include "headless_chromium.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace plombix::testing {

using Clock = std::chrono::steady_clock;

std::string HeadlessChromium::Executable() {
  if (const char* forced = std::getenv("PLOMBIX_CHROMIUM"); forced && *forced)
    return ::access(forced, X_OK) == 0 ? forced : std::string();
  for (const char* name : {"chromium", "chromium-browser"})
    if (const QString found = QStandardPaths::findExecutable(name); !found.isEmpty()) return found.toStdString();
  return {};
}

bool HeadlessChromium::start(std::string* error) {
  const auto fail = [error](const std::string& why) {
    *error = why;
    return false;
  };
  const std::string exe = Executable();
  if (exe.empty()) return fail("no chromium found (set PLOMBIX_CHROMIUM or install chromium)");
  std::string pattern = (std::filesystem::temp_directory_path() / "plombix-chromium-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return fail("no temporary folder");
  profile_ = pattern;
  // A browser that dies must fail the next command, not end the tests.
  ::signal(SIGPIPE, SIG_IGN);
  int toPipe[2], fromPipe[2];
  if (::pipe2(toPipe, O_CLOEXEC) != 0 || ::pipe2(fromPipe, O_CLOEXEC) != 0) return fail("pipe failed");
  const std::vector<std::string> args = {exe, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
      "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--disable-dev-shm-usage", "--no-default-browser-check", "--remote-debugging-pipe", "--user-data-dir=" + profile_,
      "about:blank"};
  const std::string logPath = profile_ + "/browser.log";
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);
    // The pipe ends where the browser expects them: commands in on 3, answers out on 4.
    const int in = ::dup(toPipe[0]), out = ::dup(fromPipe[1]);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (auto [from, to] : {std::pair{in, 3}, {out, 4}, {log, 1}, {log, 2}})
      if (from >= 0) ::dup2(from, to);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  if (pid_ > 0) ::setpgid(pid_, pid_);  // as the child does: whichever runs first
  for (int fd : {toPipe[0], fromPipe[1]}) ::close(fd);
  toBrowser_ = toPipe[1];
  fromBrowser_ = fromPipe[0];
  if (pid_ < 0) return fail("fork failed");
  // The browser is up when it answers.
  if (!command("Browser.getVersion", {}, false, error, 30000))
    return fail("chromium did not answer: " + *error + "\n" + log());
  return true;
}

bool HeadlessChromium::open(const std::string& url, std::string* error, int width, int height) {
  const auto target = command("Target.createTarget", {{"url", "about:blank"}}, false, error);
  const QJsonObject attach{{"targetId", target ? target->value("targetId") : QJsonValue()}, {"flatten", true}};
  const auto attached = target ? command("Target.attachToTarget", attach, false, error) : std::nullopt;
  if (!attached) return false;
  sessionId_ = attached->value("sessionId").toString().toStdString();
  if (!command("Emulation.setDeviceMetricsOverride",
               {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}}, true, error))
    return false;
  const auto navigated = command("Page.navigate", {{"url", QString::fromStdString(url)}}, true, error);
  if (navigated && navigated->contains("errorText"))
    *error = "cannot open " + url + ": " + navigated->value("errorText").toString().toStdString();
  return navigated && !navigated->contains("errorText");
}

std::optional<QJsonValue> HeadlessChromium::evaluate(const std::string& expression, std::string* error) {
  std::string why;
  const auto result = command("Runtime.evaluate", {{"expression", QString::fromStdString(expression)},
                                                   {"returnByValue", true}, {"awaitPromise", true}}, true, &why);
  if (result && !result->contains("exceptionDetails")) return result->value("result").toObject().value("value");
  if (error) *error = result ? QJsonDocument(result->value("exceptionDetails").toObject()).toJson().toStdString() : why;
  return std::nullopt;
}

bool HeadlessChromium::waitFor(const std::string& expression, int timeoutMs) {
  for (const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs); Clock::now() < end && pid_ >= 0;) {
    if (const auto v = evaluate("Boolean(" + expression + ")"); v && v->toBool()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

bool HeadlessChromium::click(const std::string& selector) {
  // The selector quoted as JSON: the one element of an array.
  const QJsonDocument quoted(QJsonArray{QString::fromStdString(selector)});
  const auto v = evaluate("(() => { const e = document.querySelector(" +
                          quoted.toJson(QJsonDocument::Compact).toStdString() +
                          "[0]); if (!e) return false; e.click(); return true; })()");
  return v && v->toBool();
}

bool HeadlessChromium::screenshot(const std::string& pngPath, std::string* error) {
  const auto shot = command("Page.captureScreenshot", {{"format", "png"}}, true, error);
  if (!shot) return false;
  const QByteArray png = QByteArray::fromBase64(shot->value("data").toString().toLatin1());
  std::ofstream out(pngPath, std::ios::binary);
  if (!out.write(png.constData(), png.size())) *error = "cannot write " + pngPath;
  return bool(out);
}

std::string HeadlessChromium::log() const {
  std::ifstream in(profile_.empty() ? std::string() : profile_ + "/browser.log");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  return text.size() > 4000 ? text.substr(text.size() - 4000) : text;
}

std::optional<QJsonObject> HeadlessChromium::command(const std::string& method, const QJsonObject& params,
                                                     bool inPage, std::string* error, int timeoutMs) {
  const auto fail = [error](const std::string& why) -> std::optional<QJsonObject> {
    *error = why;
    return std::nullopt;
  };
  if (pid_ < 0 || toBrowser_ < 0) return fail("the browser is not running");
  const int id = nextId_++;
  QJsonObject message{{"id", id}, {"method", QString::fromStdString(method)}, {"params", params}};
  if (inPage) message.insert("sessionId", QString::fromStdString(sessionId_));
  const std::string bytes = QJsonDocument(message).toJson(QJsonDocument::Compact).toStdString() + '\0';
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(toBrowser_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("the browser went away");
    done += size_t(n);
  }
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    // Answers and events come in order; events (no id) are not needed here.
    for (size_t zero; (zero = buffer_.find('\0')) != std::string::npos;) {
      const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(buffer_.substr(0, zero))).object();
      buffer_.erase(0, zero + 1);
      if (reply.value("id").toInt(-1) != id) continue;
      if (reply.contains("error"))
        return fail(method + ": " + reply.value("error").toObject().value("message").toString().toStdString());
      return reply.value("result").toObject();
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return fail(method + ": no answer in time");
    pollfd p{fromBrowser_, POLLIN, 0};
    if (::poll(&p, 1, int(left)) <= 0) continue;
    char chunk[65536];
    const ssize_t n = ::read(fromBrowser_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(method + ": the browser went away");
    buffer_.append(chunk, size_t(n));
  }
}

void HeadlessChromium::stop() {
  if (pid_ > 0) {
    std::string ignored;
    if (toBrowser_ >= 0) (void)command("Browser.close", {}, false, &ignored, 2000);
    // The whole group: the browser's helper processes go with it.
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  for (int* fd : {&toBrowser_, &fromBrowser_})
    if (*fd >= 0) ::close(std::exchange(*fd, -1));
  std::error_code ec;
  if (!profile_.empty()) std::filesystem::remove_all(std::exchange(profile_, std::string()), ec);
}

}  // namespace plombix::testing
