#include "control_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QJsonDocument>

#include <cstring>
#include <future>

#include "api_names.h"

namespace control_test {

// --- WindowThread --------------------------------------------------------------

WindowThread::WindowThread() {
  thread_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      task = nullptr;  // whatever it held goes on this thread
      lock.lock();
    }
  });
}

WindowThread::~WindowThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void WindowThread::post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_all();
}

void WindowThread::runAndWait(const std::function<void()>& task) {
  std::promise<void> done;
  post([&] {
    task();
    done.set_value();
  });
  done.get_future().wait();
}

// --- FakeHost ------------------------------------------------------------------

ControlState SampleState() {
  ControlState s;
  s.instance = 1;
  s.source = "Vora Plombix 1";
  s.output = {1280, 720, 30000, 1200, true};
  s.background = Background::Grad1;
  s.colours = {0x203080, 0x000000};
  s.scaling = Scaling::Contain;
  s.range = Range::Full;
  s.transition = Transition::Cut;
  s.watch = false;
  s.picture = PictureState{"/pictures/slide003.png", 1920, 1080};
  s.overlay = {"/pictures/logo.png", false};
  s.slideshow = {SlideshowMode::Manual, 1, 12, 3, 2, 5};
  s.receivers = 2;
  s.tally = Tally::Program;
  s.busy = false;
  return s;
}

FakeHost::FakeHost(WindowThread& window) : window_(window), state_(SampleState()) {}

ControlState FakeHost::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!window_.onThread()) const_cast<FakeHost*>(this)->offThread_ = true;
  return state_;
}

HostOutcome FakeHost::record(const std::string& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!window_.onThread()) offThread_ = true;
  calls_.push_back(call);
  changed_.notify_all();
  return outcome_;
}

void FakeHost::async(const std::string& call, HostCompletion done, const std::function<void()>& apply) {
  const HostOutcome outcome = record(call);
  std::unique_lock<std::mutex> lock(mutex_);
  switch (asyncMode_) {
    case AsyncMode::Immediate:
      lock.unlock();
      if (outcome.ok()) apply();
      done(outcome);
      break;
    case AsyncMode::Hold:
      held_ = std::move(done);
      heldApply_ = apply;
      changed_.notify_all();
      break;
    case AsyncMode::Drop:
      break;  // `done` goes uncalled
  }
}

void FakeHost::show(const std::string& path, HostCompletion done) {
  async("show " + path, std::move(done), [this, path] {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.picture = PictureState{path, 640, 480};
  });
}

void FakeHost::loadOverlay(const std::string& path, HostCompletion done) {
  async("overlay " + path, std::move(done), [this, path] {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.overlay.path = path;
  });
}

HostOutcome FakeHost::step(Step step) {
  const HostOutcome o = record(std::string("step ") + NameOf(step));
  std::lock_guard<std::mutex> lock(mutex_);
  if (o.ok()) {
    SlideshowStateView& s = state_.slideshow;
    if (step == Step::Next) s.current = std::min(s.current + 1, s.end);
    if (step == Step::Previous) s.current = std::max(s.current - 1, s.start);
    if (step == Step::First) s.current = s.start;
    if (step == Step::Last) s.current = s.end;
  }
  return o;
}

HostOutcome FakeHost::setOutput(const OutputChange& c) {
  std::string call = "output";
  call += c.size ? " " + std::to_string(c.size->first) + "x" + std::to_string(c.size->second) : " -";
  call += c.frameRate ? " " + std::to_string(c.frameRate->first) + "/" + std::to_string(c.frameRate->second) : " -";
  call += c.alpha ? (*c.alpha ? " alpha" : " noalpha") : " -";
  const HostOutcome o = record(call);
  std::lock_guard<std::mutex> lock(mutex_);
  if (o.ok()) {
    if (c.size) std::tie(state_.output.width, state_.output.height) = *c.size;
    if (c.frameRate) std::tie(state_.output.frameRateN, state_.output.frameRateD) = *c.frameRate;
    if (c.alpha) state_.output.alpha = *c.alpha;
  }
  return o;
}

HostOutcome FakeHost::setBackground(const BackgroundChange& c) {
  std::string call = std::string("background ") + (c.mode ? NameOf(*c.mode) : "-");
  call += c.colours ? " " + ColourText((*c.colours)[0]) + " " + ColourText((*c.colours)[1]) : " -";
  const HostOutcome o = record(call);
  std::lock_guard<std::mutex> lock(mutex_);
  if (o.ok()) {
    if (c.mode) state_.background = *c.mode;
    if (c.colours) state_.colours = *c.colours;
  }
  return o;
}

HostOutcome FakeHost::setScaling(Scaling mode) {
  const HostOutcome o = record(std::string("scaling ") + NameOf(mode));
  std::lock_guard<std::mutex> lock(mutex_);
  if (o.ok()) state_.scaling = mode;
  return o;
}

HostOutcome FakeHost::setTransition(Transition mode) {
  const HostOutcome o = record(std::string("transition ") + NameOf(mode));
  std::lock_guard<std::mutex> lock(mutex_);
  if (o.ok()) state_.transition = mode;
  return o;
}

HostOutcome FakeHost::setRange(Range mode) {
  const HostOutcome o = record(std::string("range ") + NameOf(mode));
  std::lock_guard<std::mutex> lock(mutex_);
  if (o.ok()) state_.range = mode;
  return o;
}

HostOutcome FakeHost::setWatch(bool on) {
  const HostOutcome o = record(on ? "watch on" : "watch off");
  std::lock_guard<std::mutex> lock(mutex_);
  if (o.ok()) state_.watch = on;
  return o;
}

HostOutcome FakeHost::grab() { return record("grab"); }

HostOutcome FakeHost::setOverlayUse(bool use) {
  const HostOutcome o = record(use ? "overlay use on" : "overlay use off");
  std::lock_guard<std::mutex> lock(mutex_);
  if (o.ok()) state_.overlay.use = use;
  return o;
}

std::vector<std::string> FakeHost::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

void FakeHost::clearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
}

void FakeHost::setOutcome(HostOutcome outcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  outcome_ = std::move(outcome);
}

void FakeHost::setAsyncMode(AsyncMode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  asyncMode_ = mode;
}

void FakeHost::setState(const ControlState& state) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = state;
}

bool FakeHost::heldWaiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bool(held_);
}

void FakeHost::completeHeld(HostOutcome outcome) {
  window_.runAndWait([&] {
    HostCompletion done;
    std::function<void()> apply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done = std::move(held_);
      apply = std::move(heldApply_);
      held_ = nullptr;
    }
    if (outcome.ok() && apply) apply();
    if (done) done(outcome);
  });
}

bool FakeHost::calledOffThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return offThread_;
}

bool FakeHost::waitForCalls(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return calls_.size() >= count; });
}

// --- HTTP client -------------------------------------------------------------------

QJsonObject HttpReply::json() const {
  return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

int Connect(int port) { return plombix::testing::RawConnect(port); }

bool SendAll(int fd, const std::string& bytes) { return plombix::testing::RawSendAll(fd, bytes); }

HttpReply ReadReply(int fd) {
  return plombix::testing::ParseResponse(plombix::testing::RawReadToClose(fd));
}

HttpReply Raw(int port, const std::string& request) { return plombix::testing::RawExchange(port, request); }

HttpReply Http(int port, const std::string& method, const std::string& path, const std::string& body,
               const std::vector<std::string>& headers) {
  std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nConnection: close\r\n";
  for (const std::string& h : headers) request += h + "\r\n";
  if (method == "POST") request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  request += "\r\n" + body;
  return Raw(port, request);
}

// --- Fixture -------------------------------------------------------------------------

ControlSettings LoopbackSettings(const std::string& token) {
  ControlSettings s;
  s.enabled = true;
  s.bindAddress = "127.0.0.1";
  s.port = 0;
  s.token = token;
  s.loopback = true;
  return s;
}

void ControlServerTest::SetUp() { restart(LoopbackSettings()); }

void ControlServerTest::TearDown() {
  server_.reset();
  EXPECT_FALSE(host_.calledOffThread()) << "a host call came off the window thread";
}

void ControlServerTest::restart(ControlSettings settings, const ControlLimits& limits) {
  server_.reset();
  std::string error;
  server_ = ControlServer::Start(settings, host_, window_.poster(), &error, limits);
  ASSERT_TRUE(server_) << error;
}

}  // namespace control_test
