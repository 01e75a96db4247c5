#include "control_test_support.h"

#include <QJsonDocument>


namespace control_test {

ControlState SampleState() {
  return {.instance = 1, .source = "Vora Plombix 1", .output = {1280, 720, 30000, 1200, true},
          .background = Background::Grad1, .colours = {0x203080, 0x000000}, .scaling = Scaling::Contain,
          .range = Range::Full, .transition = Transition::Cut, .watch = false,
          .picture = PictureState{"/pictures/slide003.png", 1920, 1080, "Display P3"},
          .overlay = {"/pictures/logo.png", false}, .slideshow = {SlideshowMode::Manual, 1, 12, 3, 2, 5},
          .receivers = 2, .tally = Tally::Program, .busy = false};
}

FakeHost::FakeHost() : state_(SampleState()) {
  window_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      std::exchange(task, nullptr)();  // what it held goes too, on this thread
      lock.lock();
    }
  });
}

FakeHost::~FakeHost() {
  locked([&] { return stopping_ = true; });
  changed_.notify_all();
  window_.join();
}

ControlServer::Post FakeHost::poster() {
  return [this](std::function<void()> task) {
    locked([&] { tasks_.push_back(std::move(task)); });
    changed_.notify_all();
  };
}

ControlState FakeHost::state() const {
  return locked([&] {
    offThread_ |= std::this_thread::get_id() != window_.get_id();
    return state_;
  });
}

HostOutcome FakeHost::record(const std::string& call, bool counts) {
  std::lock_guard<std::mutex> lock(mutex_);
  offThread_ |= std::this_thread::get_id() != window_.get_id();
  calls_.push_back(call);
  state_.receivers += counts && outcome_.ok();
  changed_.notify_all();
  return outcome_;
}

void FakeHost::async(const std::string& call, HostCompletion done) {
  const AsyncMode mode = locked([&] { return asyncMode_; });
  const HostOutcome outcome = record(call, mode == AsyncMode::Immediate);
  if (mode == AsyncMode::Immediate) done(outcome);
  else if (mode == AsyncMode::Hold) locked([&] { held_ = std::move(done); });
  // Drop: `done` goes uncalled
}

HostOutcome FakeHost::setOutput(const OutputChange& c) {
  std::string call = "output ";
  call.append(c.size ? std::to_string(c.size->first) + "x" + std::to_string(c.size->second) : "-").append(" ");
  call.append(c.frameRate ? std::to_string(c.frameRate->first) + "/" + std::to_string(c.frameRate->second) : "-");
  return record(call.append(c.alpha ? (*c.alpha ? " alpha" : " noalpha") : " -"));
}

HostOutcome FakeHost::setBackground(const BackgroundChange& c) {
  std::string call = std::string("background ") + (c.mode ? NameOf(*c.mode) : "-") + " ";
  if (!c.colours) return record(call + "-");
  return record(call.append(ColourText((*c.colours)[0])).append(" ").append(ColourText((*c.colours)[1])));
}

void FakeHost::completeHeld(HostOutcome outcome) {
  poster()([this, outcome] {
    HostCompletion done = locked([&] { return state_.receivers += outcome.ok(), std::exchange(held_, nullptr); });
    if (done) done(outcome);
  });
}

bool FakeHost::waitForCalls(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return calls_.size() >= count; });
}

QJsonObject Json(const HttpReply& r) { return QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object(); }

HttpReply Http(int port, const std::string& method, const std::string& path, const std::string& body,
               const std::vector<std::string>& headers) {
  std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  for (const std::string& h : headers) request += h + "\r\n";
  return plombix::testing::RawExchange(port, request + "\r\n" + body);
}

void ControlServerTest::restart(ControlSettings settings, const ControlLimits& limits) {
  server_.reset();
  std::string error;
  server_ = ControlServer::Start(settings, host_, host_.poster(), &error, limits);
  ASSERT_TRUE(server_) << error;
}

}  // namespace control_test
