// JSON texts of the remote-control API: the state as GET /api/v1/state
// reports it, and the error object {"error": "..."}.
#pragma once

#include <string>

#include "control_host.h"

namespace plombix::control {

// {"instance": 1, "source": "...", "output": {"width", "height",
// "frameRateN", "frameRateD", "alpha"}, "background": "grad1",
// "colours": ["#203080", "#000000"], "scaling", "range", "transition",
// "watch", "picture": {"path", "width", "height"} or null,
// "overlay": {"path", "use"}, "slideshow": {"mode", "start", "end",
// "current", "format", "duration"}, "receivers", "tally", "busy",
// "borders": {"sides", "topBottom", "equal", "use"}, "oscIgnored"}.
// Compact, UTF-8; a path that is not valid UTF-8 has its bad bytes replaced.
std::string StateJson(const ControlState& state);

// {"error": message}
std::string ErrorJson(const std::string& message);

}  // namespace plombix::control
