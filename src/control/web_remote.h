// The web remote served at GET /: one self-contained HTML page (its style
// and script inline, nothing fetched from elsewhere, no framework) that shows
// the state, offers the four step buttons, Cut/Fade, the backgrounds, the
// resolutions and frame rates, and a field to show a picture by its path.
// It follows the state by asking for it once a second.
//
// Element ids, for tests and anyone scripting the page: "first",
// "previous", "next", "last"; "cut", "fade"; "bg-<background>";
// "res-<resolution>"; "rate-<frame rate>"; "path" and "show"; "message"
// (the last error). <body data-ready="1"> once a state has been shown;
// pressed choices carry aria-pressed="true".
#pragma once

#include <string>

namespace plombix::control {

const std::string& WebRemotePage();

// The Content-Security-Policy sent with the page: inline script and style,
// requests to this server only, no framing.
const char* WebRemoteContentSecurityPolicy();

}  // namespace plombix::control
