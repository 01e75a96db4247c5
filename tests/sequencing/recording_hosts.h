// Hosts for the sequencing tests: each records its calls as text lines in
// order; pictures "load" when their path is in `loadable`.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "file_watch.h"
#include "gamepad.h"
#include "slideshow.h"

namespace plombix::testing {

using Calls = std::vector<std::string>;

struct Recorder {
  Calls calls;
  void note(const std::string& what, const std::string& text) { calls.push_back(what + ":" + text); }
};

class RecordingSlideshowHost : public SlideshowHost, public Recorder {
 public:
  std::set<std::string> loadable;
  std::string onAir;   // what the window would hold as currentFileName
  bool later = false;  // shows run only at finish(), one at a time
  std::vector<std::function<void()>> pending;

  void showSequenceFile(std::vector<std::string> names, std::function<bool()> keepOffAir,
                        std::function<void(const SequenceShow&)> done) override {
    auto run = [this, names, keepOffAir, done] {
      SequenceShow show;
      for (size_t i = 0; i < names.size() && show.loaded < 0; ++i) {
        note("show", names[i] + (loadable.count(names[i]) ? "" : " (fails)"));
        if (loadable.count(names[i])) show.loaded = int(i);
      }
      show.onAir = show.loaded >= 0 && !keepOffAir();
      if (show.onAir) onAir = names[size_t(show.loaded)];
      if (show.loaded >= 0 && !show.onAir) calls.back() += " (held)";
      done(show);
    };
    later ? pending.push_back(run) : run();
  }
  void finish() {
    auto run = pending.front();
    pending.erase(pending.begin());
    run();
  }
  void checkSequenceFiles(std::vector<std::string> paths, std::function<void(bool valid)> done) override {
    bool valid = true;
    for (const std::string& path : paths) {
      note("probe", path + (loadable.count(path) ? "" : " (fails)"));
      valid = valid && loadable.count(path);
    }
    done(valid);
  }
  void setSlideshowButton(const std::string& caption, int colourState) override {
    note("button", caption + " state " + std::to_string(colourState));
  }
  void setSlideshowCaption(const std::string& caption) override { note("caption", caption); }
  void setStartNumberCaption(const std::string& caption) override { note("start", caption); }
  void setEndNumberCaption(const std::string& caption) override { note("end", caption); }
  void setBaseNameLabel(const std::string& text) override { note("label", text); }
  void pushControls() override { calls.push_back("pushControls"); }
  void startSlideshowTimer(int periodMs) override { note("timer", std::to_string(periodMs)); }
  void stopSlideshowTimer() override { note("timer", "stop"); }
};

class RecordingWatchHost : public FileWatchHost, public Recorder {
 public:
  std::function<void(std::optional<FileStamp>)> failed;  // of the last show
  void showPicture(const std::string& path, std::function<void(std::optional<FileStamp>)> f) override {
    note("show", path);
    failed = std::move(f);
  }
  void setWatchButton(const std::string& caption, int colourState) override {
    note("button", caption + " state " + std::to_string(colourState));
  }
  void startRetryTimer(int periodMs) override { note("retry", std::to_string(periodMs)); }
};

class RecordingGamepadHost : public GamepadHost, public Recorder {
 public:
  std::vector<StepAction> steps;
  void sendStep(StepAction action) override { steps.push_back(action); }
  void setGamepadCaption(const char* caption) override { note("caption", caption); }
  void startGamepadTimer(int periodMs) override { note("timer", std::to_string(periodMs)); }
  void stopGamepadTimer() override { note("timer", "stop"); }
};

}  // namespace plombix::testing
