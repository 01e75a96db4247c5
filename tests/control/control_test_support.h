// Shared pieces of the remote-control tests: a "window" thread that runs
// posted tasks in order, a fake ControlHost living on it that records every
// call, and a plain-socket HTTP client (written apart from the server).
#pragma once

#include <gtest/gtest.h>

#include <QJsonObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control_host.h"
#include "control_server.h"
#include "raw_http.h"

namespace control_test {

using namespace plombix::control;

// A thread that stands for the window's: runs posted tasks one at a time.
class WindowThread {
 public:
  WindowThread();
  ~WindowThread();
  void post(std::function<void()> task);
  bool onThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  // Runs `task` there and waits for it.
  void runAndWait(const std::function<void()>& task);
  ControlServer::Post poster() {
    return [this](std::function<void()> task) { post(std::move(task)); };
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

// Records each call as a line ("step next", "show /x", "output 1920x1080 -
// -"), applies it to its state, and answers with `nextOutcome` (Done unless
// a test says otherwise). Asynchronous operations answer at once, or are held
// until completeHeld(), or are dropped, as `asyncMode` says.
class FakeHost : public ControlHost {
 public:
  enum class AsyncMode { Immediate, Hold, Drop };

  explicit FakeHost(WindowThread& window);

  ControlState state() const override;
  void show(const std::string& path, HostCompletion done) override;
  void loadOverlay(const std::string& path, HostCompletion done) override;
  HostOutcome step(Step step) override;
  HostOutcome setOutput(const OutputChange& change) override;
  HostOutcome setBackground(const BackgroundChange& change) override;
  HostOutcome setScaling(Scaling mode) override;
  HostOutcome setTransition(Transition mode) override;
  HostOutcome setRange(Range mode) override;
  HostOutcome setWatch(bool on) override;
  HostOutcome grab() override;
  HostOutcome setOverlayUse(bool use) override;

  // For the tests, from any thread.
  std::vector<std::string> calls() const;
  void clearCalls();
  void setOutcome(HostOutcome outcome);
  void setAsyncMode(AsyncMode mode);
  void setState(const ControlState& state);
  bool heldWaiting() const;
  void completeHeld(HostOutcome outcome);  // runs the held completion on the window thread
  bool calledOffThread() const;            // a host call came on another thread
  // Waits until `count` calls have been recorded.
  bool waitForCalls(size_t count, int timeoutMs = 5000) const;

 private:
  HostOutcome record(const std::string& call);
  void async(const std::string& call, HostCompletion done, const std::function<void()>& apply);

  WindowThread& window_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  ControlState state_;
  std::vector<std::string> calls_;
  HostOutcome outcome_;
  AsyncMode asyncMode_ = AsyncMode::Immediate;
  HostCompletion held_;
  std::function<void()> heldApply_;
  bool offThread_ = false;
};

// A state with every field set away from its default.
ControlState SampleState();

struct HttpReply : plombix::testing::RawResponse {
  HttpReply() = default;
  HttpReply(plombix::testing::RawResponse raw) : RawResponse(std::move(raw)) {}
  QJsonObject json() const;
};

// A blocking TCP connection to 127.0.0.1:port (10 s receive time-out), -1 if refused.
int Connect(int port);
bool SendAll(int fd, const std::string& bytes);
// Reads until the server closes; parses what came.
HttpReply ReadReply(int fd);
// One request with "Connection: close"; `headers` are whole header lines.
HttpReply Http(int port, const std::string& method, const std::string& path, const std::string& body = {},
               const std::vector<std::string>& headers = {});
HttpReply Raw(int port, const std::string& request);

// A server of copy 1 on a free loopback port with a fake host on a window
// thread, torn down after each test.
class ControlServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // (Re)starts the server with these settings and limits.
  void restart(ControlSettings settings, const ControlLimits& limits = {});
  int port() const { return server_->port(); }

  WindowThread window_;
  FakeHost host_{window_};
  std::unique_ptr<ControlServer> server_;
};

ControlSettings LoopbackSettings(const std::string& token = {});

}  // namespace control_test
