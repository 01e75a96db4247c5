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

class RecordingSlideshowHost : public SlideshowHost {
 public:
  std::set<std::string> loadable;
  Calls calls;
  std::string onAir;   // what the window would hold as currentFileName
  bool later = false;  // shows finish only at finish(), one at a time
  std::vector<std::function<void()>> pending;

  void showSequenceFile(std::vector<std::string> candidates, std::function<bool()> keepOffAir,
                        std::function<void(const SequenceShow&)> done) override {
    auto run = [this, candidates, keepOffAir, done] {
      SequenceShow show;
      for (size_t i = 0; i < candidates.size() && show.loaded < 0; ++i) {
        const bool ok = loadable.count(candidates[i]) != 0;
        calls.push_back("show:" + candidates[i] + (ok ? "" : " (fails)"));
        if (ok) show.loaded = int(i);
      }
      if (show.loaded >= 0 && !keepOffAir()) {
        show.onAir = true;
        onAir = candidates[size_t(show.loaded)];
      } else if (show.loaded >= 0) {
        calls.back() += " (held)";
      }
      done(show);
    };
    if (later) pending.push_back(run);
    else run();
  }
  void finish() {
    auto run = pending.front();
    pending.erase(pending.begin());
    run();
  }
  void checkSequenceFiles(std::vector<std::string> paths, std::function<void(bool valid)> done) override {
    bool valid = true;
    for (const std::string& path : paths) {
      const bool ok = loadable.count(path) != 0;
      calls.push_back("probe:" + path + (ok ? "" : " (fails)"));
      valid = valid && ok;
    }
    done(valid);
  }
  void setSlideshowButton(const std::string& caption, int colourState) override {
    calls.push_back("button:" + caption + " state " + std::to_string(colourState));
  }
  void setSlideshowCaption(const std::string& caption) override { calls.push_back("caption:" + caption); }
  void setStartNumberCaption(const std::string& caption) override { calls.push_back("start:" + caption); }
  void setEndNumberCaption(const std::string& caption) override { calls.push_back("end:" + caption); }
  void setBaseNameLabel(const std::string& text) override { calls.push_back("label:" + text); }
  void pushControls() override { calls.push_back("pushControls"); }
  void startSlideshowTimer(int periodMs) override { calls.push_back("timer:" + std::to_string(periodMs)); }
  void stopSlideshowTimer() override { calls.push_back("timer:stop"); }
};

class RecordingWatchHost : public FileWatchHost {
 public:
  Calls calls;
  std::function<void(std::optional<FileStamp>)> failed;  // of the last show
  void showPicture(const std::string& path, std::function<void(std::optional<FileStamp>)> f) override {
    calls.push_back("show:" + path);
    failed = std::move(f);
  }
  void setWatchButton(const std::string& caption, int colourState) override {
    calls.push_back("button:" + caption + " state " + std::to_string(colourState));
  }
  void startRetryTimer(int periodMs) override { calls.push_back("retry:" + std::to_string(periodMs)); }
};

class RecordingGamepadHost : public GamepadHost {
 public:
  Calls calls;
  std::vector<StepAction> steps;
  void sendStep(StepAction action) override {
    steps.push_back(action);
    calls.push_back("step:" + std::to_string(action));
  }
  void setGamepadCaption(const char* caption) override { calls.push_back(std::string("caption:") + caption); }
  void startGamepadTimer(int periodMs) override { calls.push_back("timer:" + std::to_string(periodMs)); }
  void stopGamepadTimer() override { calls.push_back("timer:stop"); }
};

}  // namespace plombix::testing
