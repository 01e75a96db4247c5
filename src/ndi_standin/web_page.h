// The page a stand-in source serves at "/": its live picture for a browser,
// or for a browser source in a streaming program.
//
// The page reads /stream.png with fetch() and draws each part into a canvas,
// so it knows when the stream ends: it then shows a discreet
// "reconnecting…" line and tries again after 1 s, 2 s, 4 s, then every 5 s
// (never more than once a second), and carries on by itself once the
// source is back (a source keeps its address across re-creation and
// restarts). It asks for the source it was made for by name
// ("?source=NAME"), so that another source that takes the address while
// its own is away is never shown: it stays "reconnecting…". The full page shows the source's name, the frame's size,
// frame rate and FourCC (from the part headers), the receivers and the
// tally (from /status, polled once a second) as a red (program) or green
// (preview) frame around the picture, over a checkerboard so transparent
// parts show. The bare page is the picture alone, scaled to the window, on
// a transparent page.
//
// For tests and tools the page exposes its state in the DOM: the canvas
// #picture (its size is the frame's; data-sequence is the X-Sequence of the
// frame shown), #format, #receivers, #frame (class "program", "preview" or
// none), and data-state on <body>: "connecting", "live" or "reconnecting".
#pragma once

#include <string>

namespace plombix::standin {

enum class PageMode { Full, Bare };

std::string PageHtml(const std::string& sourceName, PageMode mode);

}  // namespace plombix::standin
