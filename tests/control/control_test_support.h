// Shared pieces of the remote-control tests: a fake ControlHost with a
// thread standing for the window's, a plain-socket HTTP client, and a
// fixture serving copy 1 on a free loopback port.
#pragma once

#include <gtest/gtest.h>

#include <QJsonObject>

#include <condition_variable>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "api_names.h"
#include "control_server.h"
#include "raw_http.h"
#include "temp_dir.h"

namespace control_test {

using namespace plombix::control;

// Runs posted tasks in order on its "window" thread. Records each call as a
// line ("step next", "output 1920x1080 - -"), answers with the outcome set,
// and when done adds one to the state's `receivers` (a show once completed,
// held until completeHeld() or dropped as the AsyncMode says), so an answer
// tells whether its state was read after the call. Notes calls off its thread.
class FakeHost : public ControlHost {
 public:
  enum class AsyncMode { Immediate, Hold, Drop };
  FakeHost();
  ~FakeHost() override;
  ControlServer::Post poster();

  ControlState state() const override;
  void show(const std::string& path, HostCompletion done) override { async("show " + path, std::move(done)); }
  void loadOverlay(const std::string& p, HostCompletion done) override { async("overlay " + p, std::move(done)); }
  HostOutcome step(Step step) override { return record(std::string("step ") + NameOf(step)); }
  HostOutcome setOutput(const OutputChange& change) override;
  HostOutcome setBackground(const BackgroundChange& change) override;
  HostOutcome setScaling(Scaling m) override { return record(std::string("scaling ") + NameOf(m)); }
  HostOutcome setTransition(Transition m) override { return record(std::string("transition ") + NameOf(m)); }
  HostOutcome setRange(Range m) override { return record(std::string("range ") + NameOf(m)); }
  HostOutcome setWatch(bool on) override { return record(on ? "watch on" : "watch off"); }
  HostOutcome grab() override { return record("grab"); }
  HostOutcome setOverlayUse(bool use) override { return record(use ? "overlay use on" : "overlay use off"); }

  template <class F>
  auto locked(F f) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return f();
  }
  std::vector<std::string> calls() const { return locked([&] { return calls_; }); }
  void clearCalls() { locked([&] { calls_.clear(); }); }
  void setOutcome(HostOutcome outcome) { locked([&] { outcome_ = std::move(outcome); }); }
  void setAsyncMode(AsyncMode mode) { locked([&] { asyncMode_ = mode; }); }
  void setState(const ControlState& state) { locked([&] { state_ = state; }); }
  bool calledOffThread() const { return locked([&] { return offThread_; }); }
  void completeHeld(HostOutcome outcome);  // posted to the window thread
  bool waitForCalls(size_t count, int timeoutMs = 5000) const;

 private:
  HostOutcome record(const std::string& call, bool counts = true);
  void async(const std::string& call, HostCompletion done);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  ControlState state_;
  std::vector<std::string> calls_;
  HostOutcome outcome_;
  AsyncMode asyncMode_ = AsyncMode::Immediate;
  HostCompletion held_;
  mutable bool offThread_ = false;
  std::thread window_;
};

// A state with every field set away from its default.
ControlState SampleState();

// One request with "Connection: close"; `headers` are whole header lines.
using HttpReply = plombix::testing::RawResponse;
QJsonObject Json(const HttpReply& reply);
HttpReply Http(int port, const std::string& method, const std::string& path, const std::string& body = {},
               const std::vector<std::string>& headers = {});

inline ControlSettings LoopbackSettings(const std::string& token = {}) {
  ControlSettings s;  // 127.0.0.1, any free port
  s.enabled = true;
  s.token = token;
  return s;
}

inline std::string PathBody(const std::string& path) { return std::string(R"({"path":")").append(path) + R"("})"; }

// A server of copy 1 on a free loopback port with a fake host, torn down
// after each test (which checks that the host was called on its thread
// only), and a readable file to name in show requests.
class ControlServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(picture_) << "not decoded by the fake host";
    restart(LoopbackSettings());
  }
  void TearDown() override {
    server_.reset();
    EXPECT_FALSE(host_.calledOffThread()) << "a host call off the window's thread";
  }
  void restart(ControlSettings settings, const ControlLimits& limits = {});
  int port() const { return server_->port(); }

  plombix::testing::TempDir dir_;
  const std::string picture_ = dir_.file("slide004.png");
  const std::string show_ = PathBody(picture_);
  FakeHost host_;
  std::unique_ptr<ControlServer> server_;
};

}  // namespace control_test
