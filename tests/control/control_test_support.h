// Shared pieces of the remote-control tests: a fake ControlHost with a
// thread of its own standing for the window's, a plain-socket HTTP client
// (written apart from the server), and a fixture serving copy 1 on a free
// loopback port.
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

#include "api_names.h"
#include "control_host.h"
#include "control_server.h"
#include "raw_http.h"
#include "temp_dir.h"

namespace control_test {

using namespace plombix::control;

// Runs posted tasks one at a time on its "window" thread. Records each call
// as a line ("step next", "show /x", "output 1920x1080 - -") and answers with
// the outcome set (Done unless a test says otherwise). Each call that is done
// adds one to the state's `receivers` (a show once it completes), so an
// answer tells whether its state was read after the call. Asynchronous
// operations answer at once, are held until completeHeld(), or are dropped,
// as the AsyncMode says. A host call off the window thread is noted.
class FakeHost : public ControlHost {
 public:
  enum class AsyncMode { Immediate, Hold, Drop };

  FakeHost();
  ~FakeHost() override;
  ControlServer::Post poster();

  ControlState state() const override;
  void show(const std::string& path, HostCompletion done) override { async("show " + path, std::move(done)); }
  void loadOverlay(const std::string& path, HostCompletion done) override {
    async("overlay " + path, std::move(done));
  }
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
  void completeHeld(HostOutcome outcome);  // runs the held completion on the window thread
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

struct HttpReply : plombix::testing::RawResponse {
  HttpReply() = default;
  HttpReply(plombix::testing::RawResponse raw) : RawResponse(std::move(raw)) {}
  QJsonObject json() const;
};

// One request with "Connection: close"; `headers` are whole header lines.
HttpReply Http(int port, const std::string& method, const std::string& path, const std::string& body = {},
               const std::vector<std::string>& headers = {});
inline HttpReply Raw(int port, const std::string& request) { return plombix::testing::RawExchange(port, request); }

ControlSettings LoopbackSettings(const std::string& token = {});

inline std::string PathBody(const std::string& path) { return std::string(R"({"path":")").append(path) + R"("})"; }

// A server of copy 1 on a free loopback port with a fake host, torn down
// after each test, and a readable file to name in show requests.
class ControlServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // (Re)starts the server with these settings and limits.
  void restart(ControlSettings settings, const ControlLimits& limits = {});
  int port() const { return server_->port(); }

  plombix::testing::TempDir dir_;
  const std::string picture_ = dir_.file("slide004.png");
  const std::string show_ = PathBody(picture_);
  FakeHost host_;
  std::unique_ptr<ControlServer> server_;
};

}  // namespace control_test
