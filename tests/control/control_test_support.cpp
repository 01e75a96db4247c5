#include "control_test_support.h"

#include <QJsonDocument>

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

// --- FakeHost ------------------------------------------------------------------

ControlState SampleState() {
  return {.instance = 1, .source = "Vora Plombix 1", .output = {1280, 720, 30000, 1200, true},
          .background = Background::Grad1, .colours = {0x203080, 0x000000}, .scaling = Scaling::Contain,
          .range = Range::Full, .transition = Transition::Cut, .watch = false,
          .picture = PictureState{"/pictures/slide003.png", 1920, 1080, "Display P3"},
          .overlay = {"/pictures/logo.png", false}, .slideshow = {SlideshowMode::Manual, 1, 12, 3, 2, 5},
          .receivers = 2, .tally = Tally::Program, .busy = false};
}

FakeHost::FakeHost(WindowThread& window) : window_(window), state_(SampleState()) {}

ControlState FakeHost::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!window_.onThread()) offThread_ = true;
  return state_;
}

// Notes the call and, when the outcome set is Done, applies it to the state.
HostOutcome FakeHost::record(const std::string& call, const Apply& apply) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!window_.onThread()) offThread_ = true;
  calls_.push_back(call);
  if (outcome_.ok() && apply) apply(state_);
  changed_.notify_all();
  return outcome_;
}

void FakeHost::async(const std::string& call, HostCompletion done, Apply apply) {
  std::unique_lock<std::mutex> lock(mutex_);
  const AsyncMode mode = asyncMode_;
  lock.unlock();
  const HostOutcome outcome = record(call, mode == AsyncMode::Immediate ? apply : Apply{});
  if (mode == AsyncMode::Immediate) {
    done(outcome);
  } else if (mode == AsyncMode::Hold) {
    lock.lock();
    held_ = std::move(done);
    heldApply_ = std::move(apply);
  }  // Drop: `done` goes uncalled
}

void FakeHost::show(const std::string& path, HostCompletion done) {
  async("show " + path, std::move(done),
        [path](ControlState& s) { s.picture = PictureState{path, 640, 480}; });
}

void FakeHost::loadOverlay(const std::string& path, HostCompletion done) {
  async("overlay " + path, std::move(done), [path](ControlState& s) { s.overlay.path = path; });
}

HostOutcome FakeHost::step(Step step) {
  return record(std::string("step ") + NameOf(step), [step](ControlState& state) {
    SlideshowStateView& s = state.slideshow;
    if (step == Step::Next) s.current = std::min(s.current + 1, s.end);
    if (step == Step::Previous) s.current = std::max(s.current - 1, s.start);
    if (step == Step::First) s.current = s.start;
    if (step == Step::Last) s.current = s.end;
  });
}

HostOutcome FakeHost::setOutput(const OutputChange& c) {
  std::string call = "output";
  call += c.size ? " " + std::to_string(c.size->first) + "x" + std::to_string(c.size->second) : " -";
  call += c.frameRate ? " " + std::to_string(c.frameRate->first) + "/" + std::to_string(c.frameRate->second) : " -";
  call += c.alpha ? (*c.alpha ? " alpha" : " noalpha") : " -";
  return record(call, [c](ControlState& s) {
    if (c.size) std::tie(s.output.width, s.output.height) = *c.size;
    if (c.frameRate) std::tie(s.output.frameRateN, s.output.frameRateD) = *c.frameRate;
    if (c.alpha) s.output.alpha = *c.alpha;
  });
}

HostOutcome FakeHost::setBackground(const BackgroundChange& c) {
  std::string call = std::string("background ") + (c.mode ? NameOf(*c.mode) : "-");
  call += c.colours ? " " + ColourText((*c.colours)[0]) + " " + ColourText((*c.colours)[1]) : " -";
  return record(call, [c](ControlState& s) {
    if (c.mode) s.background = *c.mode;
    if (c.colours) s.colours = *c.colours;
  });
}

HostOutcome FakeHost::setScaling(Scaling m) {
  return record(std::string("scaling ") + NameOf(m), [m](ControlState& s) { s.scaling = m; });
}

HostOutcome FakeHost::setTransition(Transition m) {
  return record(std::string("transition ") + NameOf(m), [m](ControlState& s) { s.transition = m; });
}

HostOutcome FakeHost::setRange(Range m) {
  return record(std::string("range ") + NameOf(m), [m](ControlState& s) { s.range = m; });
}

HostOutcome FakeHost::setWatch(bool on) {
  return record(on ? "watch on" : "watch off", [on](ControlState& s) { s.watch = on; });
}

HostOutcome FakeHost::grab() { return record("grab"); }

HostOutcome FakeHost::setOverlayUse(bool use) {
  return record(use ? "overlay use on" : "overlay use off", [use](ControlState& s) { s.overlay.use = use; });
}

void FakeHost::completeHeld(HostOutcome outcome) {
  std::promise<void> finished;
  window_.post([&] {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      HostCompletion done = std::exchange(held_, nullptr);
      const Apply apply = std::exchange(heldApply_, nullptr);
      if (outcome.ok() && apply) apply(state_);
      lock.unlock();
      if (done) done(outcome);
    }
    finished.set_value();
  });
  finished.get_future().wait();
}

bool FakeHost::waitForCalls(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return calls_.size() >= count; });
}

// --- HTTP client and fixture ----------------------------------------------------------

QJsonObject HttpReply::json() const {
  return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

HttpReply Http(int port, const std::string& method, const std::string& path, const std::string& body,
               const std::vector<std::string>& headers) {
  std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nConnection: close\r\n";
  for (const std::string& h : headers) request += h + "\r\n";
  if (method == "POST") request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  request += "\r\n" + body;
  return Raw(port, request);
}

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
