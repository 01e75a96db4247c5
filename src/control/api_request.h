// The remote-control API's requests: which endpoint a method and path name,
// and the checked contents of a JSON body. Plain functions of their inputs
// (Qt's JSON reader inside); no network, no window.
//
// Endpoints (prefix /api/v1):
//   GET  /state                                   the state
//   POST /show          {"path": "/abs/file"}     a picture on air, as a drop
//   POST /slideshow/next, /previous, /first, /last  the step buttons
//   POST /output        {"resolution": "1920x1080", "frameRate": "29.97", "alpha": false}
//   POST /background    {"mode": "grad5", "colours": ["#203080", "#000000"]}
//   POST /scaling       {"mode": "none" | "contain" | "fill"}
//   POST /transition    {"mode": "cut" | "fade"}
//   POST /range         {"mode": "full" | "video"}
//   POST /watch         {"on": true}
//   POST /grab
//   POST /overlay       {"use": true} and/or {"path": "/abs/file"}
//   POST /overlay/grab                             "Grab Overlay"
//   POST /slideshow/mode     {"mode": "off" | "manual" | "auto"}
//   POST /slideshow/start, /slideshow/end          Start and End number from the picture on air
//   POST /slideshow/goto     {"number": 7}         422 outside start..end
//   POST /slideshow/format   {"format": "1" | "01" | "001"}
//   POST /slideshow/duration {"seconds": 5}        2..240
//   POST /borders       {"sides": 5, "topBottom": 10, "equal": false, "use": true}
//   POST /config/save                              "Save config now"
//   GET  /events                                  the changes, pushed (WebSocket or SSE)
//   GET  /thumbnail.jpg?width=144                 the frame on air as a JPEG
//   GET  /as-run?since=2026-12-07T10:00:00Z&limit=20   the as-run log's entries
//   POST /cue           {"path": "/abs/file"}     prepared for a take, not on air
//   DELETE /cue                                   forgets the cue
//   POST /take                                    the cued picture on air
// and GET / (the web remote). GET endpoints take HEAD as well.
//
// Bodies: an empty body is an empty object; anything else must be one JSON
// object. Unknown members are ignored; a known member of the wrong type, a
// text that is not one of the listed ones, or an endpoint's required members
// all missing is 400 and nothing is done. Paths must be absolute, at most
// kMaxPathBytes of UTF-8 and without NUL.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "control_host.h"

namespace plombix::control {

// An answer other than success, before or instead of asking the window.
struct ApiError {
  int status = 400;
  std::string message;
  const char* allow = nullptr;  // the Allow header of a 405
};

enum class Endpoint {
  Page, State, Show, Step, Output, Background, Scaling, Transition, Range, Watch, Grab, Overlay,
  OverlayGrab, SlideshowMode, SlideshowStart, SlideshowEnd, Goto, NumberFormat, Duration, Borders,
  SaveConfig, Events, Thumbnail, AsRun,
  Cue, ForgetCue, Take,
};

struct Route {
  Endpoint endpoint = Endpoint::Page;
  Step step = Step::Next;  // for Endpoint::Step
  bool takesBody = false;  // a POST endpoint
};

// The endpoint of `method` on `path` (the path without its query), or 404 /
// 405 (with the methods allowed).
[[nodiscard]] std::optional<Route> RouteRequest(std::string_view method, std::string_view path,
                                                ApiError* error);

// A request with its members checked.
struct ApiRequest {
  Route route;
  std::string path;                // Show, Cue; Overlay when overlayPath
  bool overlayPath = false;        // Overlay: a path was given
  std::optional<bool> overlayUse;  // Overlay
  OutputChange output;
  BackgroundChange background;
  Scaling scaling = Scaling::Contain;
  Transition transition = Transition::Cut;
  Range range = Range::Full;
  bool on = false;                 // Watch; Thumbnail: of the cued picture
  SlideshowChange slideshow;       // SlideshowMode, NumberFormat, Duration
  int number = 0;                  // Goto
  BorderChange borders;
};

// Reads the body of a routed request; 400 with the reason when it does not do.
[[nodiscard]] std::optional<ApiRequest> ParseRequestBody(const Route& route, std::string_view body,
                                                         ApiError* error);

// Looks at (without opening) the file a show or overlay names: 404 when
// nothing is there, 422 for a folder, a FIFO, a device or a file this user
// cannot read. Nothing for a readable regular file.
[[nodiscard]] std::optional<ApiError> CheckPictureFile(const std::string& path);

}  // namespace plombix::control
