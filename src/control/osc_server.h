// OscServer: the remote control's commands as OSC messages over UDP, for
// show-control software and control surfaces that speak OSC.
//
//   /plombix/show s       a picture on air, as a drop (an absolute path)
//   /plombix/cue s        a picture cued, to go on air with take
//   /plombix/take         the cued picture on air
//   /plombix/next, /previous, /first, /last   the slideshow's step buttons
//   /plombix/goto i       the slideshow's picture number i
//   /plombix/transition s "cut" or "fade"
//   /plombix/background s "black", "white", "grad1" .. "grad6", "grabbed", "transparent"
//
// Where (OscSettingsFor): UDP on 127.0.0.1, port 5980 + N for copy N -- the
// HTTP port's number, PLOMBIX_CONTROL_PORT included; PLOMBIX_OSC_BIND a
// numeric address instead; PLOMBIX_OSC=0 turns it off. The token is
// PLOMBIX_CONTROL_TOKEN: when set, each message carries it as its first
// argument (a string) before the ones above, and beyond loopback it must be
// set, else OSC stays off.
//
// A message of another path, other argument types, a bad value, a missing
// or wrong token, or a packet that is not whole OSC is ignored and counted.
// Bundles are taken element by element, at once (time tags are not kept).
//
// Why our own socket with liblo's decoder rather than liblo's server: liblo
// 0.31's servers listen on every address (0.0.0.0) whatever is asked, which
// would put the player's commands on the network by default. The socket is
// ours, bound to exactly the address set; liblo checks and decodes each
// packet (lo_message_deserialise).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "control_host.h"
#include "control_settings.h"

namespace plombix::control {

struct OscSettings {
  bool enabled = false;
  std::string reason;  // why not enabled
  std::string bindAddress = "127.0.0.1";
  int port = 0;        // 0: any free port (tests)
  std::string token;   // empty: none asked for
};

OscSettings OscSettingsFor(int copyNumber, const EnvironmentLookup& env);

struct OscCommand {
  enum class Kind { Show, Cue, Take, Step, Goto, Transition, Background };
  Kind kind = Kind::Take;
  std::string path;  // Show, Cue
  Step step = Step::Next;
  int number = 0;    // Goto
  Transition transition = Transition::Cut;
  Background background = Background::Black;
};

class OscServer {
 public:
  // Called on the server's thread for each command; it must not block (the
  // window's side posts the command to the window's thread).
  using Handler = std::function<void(const OscCommand&)>;

  // Null with `*error` when the socket cannot be bound or `settings` is off.
  [[nodiscard]] static std::unique_ptr<OscServer> Start(const OscSettings& settings, Handler handler,
                                                        std::string* error);
  ~OscServer();  // the thread stopped and the port free on return
  OscServer(const OscServer&) = delete;
  OscServer& operator=(const OscServer&) = delete;

  int port() const { return port_; }
  uint64_t ignored() const;  // packets and messages ignored so far

  class Loop;

 private:
  OscServer() = default;
  int port_ = 0;
  std::unique_ptr<Loop> loop_;
  std::thread thread_;
};

}  // namespace plombix::control
