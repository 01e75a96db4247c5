// ControlSurface: what control surfaces see of the main window beyond its
// requests -- each change pushed to the event clients, the as-run log, the
// frame on air for thumbnails and the OSC commands.
//
// Changes. The window reports the changes that carry more than the state
// (a picture on air with what put it there, a load under way, a load that
// failed with why); everything else is found by comparing the state with
// the last one published, after each request and on every tick (40 ms), so
// that no handler of the window needs to know about events. Each message
// holds the whole new state, serialised once for every client.
//
// The as-run log and the OSC server run on their own threads; their
// reports reach the window through `post`. Called on the window's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "control_host.h"

namespace plombix {

class AsRunLog;
class CNDIPlombixDlg;
struct PictureOutcome;
namespace control {
class ControlServer;
class OscServer;
struct OscCommand;
struct OscSettings;
}  // namespace control

class ControlSurface {
 public:
  using Post = std::function<void(std::function<void()>)>;

  ControlSurface(CNDIPlombixDlg& window, control::ControlHost& host, Post post);
  ~ControlSurface();
  ControlSurface(const ControlSurface&) = delete;
  ControlSurface& operator=(const ControlSurface&) = delete;

  // The as-run log of copy `copyNumber` in `folder` (none when empty).
  void startAsRun(const std::string& folder, int copyNumber);
  // OSC commands; false with `*error` when they cannot be received.
  bool startOsc(const control::OscSettings& settings, std::string* error);
  int oscPort() const;
  // The server events go to (null: none); the whole state is published to it.
  void attach(control::ControlServer* server);
  // Stops OSC and events; the as-run log writes what it holds.
  void stop();

  // A picture went on air because of `trigger` (drop, open, recent, api,
  // key, pad, timer, watch, restore, take).
  void onAir(const char* trigger, const PictureOutcome& outcome);
  void loading();
  void loadFailed(const std::string& reason);
  // Publishes what changed since the last message.
  void poll();

  // The frame just sent; the pixels stay put until the next one.
  void frameSent(const uint8_t* pixels, int width, int height, int strideBytes);
  control::FrameView frameOnAir() const { return frame_; }
  uint64_t oscIgnored() const;
  AsRunLog* asRunLog() const { return asRun_.get(); }

 private:
  void publish(const char* type, const control::ControlState& state, const std::string& field = {},
               const std::string& value = {});
  // Publishes `type` (with one more member when `field` is given) after
  // whatever else changed with it.
  void announce(const char* type, const std::string& field = {}, const std::string& value = {});
  void publishChanges(const control::ControlState& state, const char* except);
  void onOsc(const control::OscCommand& command);

  CNDIPlombixDlg& window_;
  control::ControlHost& host_;
  const Post post_;
  control::ControlServer* server_ = nullptr;
  control::ControlState last_;
  control::FrameView frame_;
  bool loadingSaid_ = false;     // "loading" published for the load under way
  std::unique_ptr<AsRunLog> asRun_;
  std::unique_ptr<control::OscServer> osc_;
};

}  // namespace plombix
