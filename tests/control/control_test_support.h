// Shared pieces of the remote-control tests: a "window" thread that runs
// posted tasks in order, a fake ControlHost living on it that records every
// call, and a plain-socket HTTP client (written apart from the server).
#pragma once

#include <gtest/gtest.h>

#include <QJsonObject>

#include <condition_variable>
#include <deque>
#include <functional>
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
// -"), applies it to its state, and answers with the outcome set (Done unless
// a test says otherwise). Asynchronous operations answer at once, or are held
// until completeHeld(), or are dropped, as the AsyncMode says. Every method
// may be called from any thread; a host call off the window thread is noted.
class FakeHost : public ControlHost {
  template <class F>
  auto locked(F f) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return f();
  }

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

  std::vector<std::string> calls() const { return locked([&] { return calls_; }); }
  void clearCalls() { locked([&] { calls_.clear(); }); }
  void setOutcome(HostOutcome outcome) { locked([&] { outcome_ = std::move(outcome); }); }
  void setAsyncMode(AsyncMode mode) { locked([&] { asyncMode_ = mode; }); }
  void setState(const ControlState& state) { locked([&] { state_ = state; }); }
  bool calledOffThread() const { return locked([&] { return offThread_; }); }
  void completeHeld(HostOutcome outcome);  // runs the held completion on the window thread
  bool waitForCalls(size_t count, int timeoutMs = 5000) const;

 private:
  using Apply = std::function<void(ControlState&)>;
  HostOutcome record(const std::string& call, const Apply& apply = {});
  void async(const std::string& call, HostCompletion done, Apply apply);

  WindowThread& window_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  ControlState state_;
  std::vector<std::string> calls_;
  HostOutcome outcome_;
  AsyncMode asyncMode_ = AsyncMode::Immediate;
  HostCompletion held_;
  Apply heldApply_;
  mutable bool offThread_ = false;
};

// A state with every field set away from its default.
ControlState SampleState();

struct HttpReply : plombix::testing::RawResponse {
  HttpReply() = default;
  HttpReply(plombix::testing::RawResponse raw) : RawResponse(std::move(raw)) {}
  QJsonObject json() const;
};

// One request with "Connection: close"; `headers` are whole header lines.
HttpReply Http(int port, const std::string& method, const std::string& path, const std::string& body = {},
               const std::vector<std::string>& headers = {});
inline HttpReply Raw(int port, const std::string& request) {
  return plombix::testing::RawExchange(port, request);
}

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
