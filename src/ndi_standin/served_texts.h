// The texts a stand-in source serves: frame headers and the /status JSON,
// with the escaping each needs (the page at "/" is web_page.h).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "frame_store.h"
#include "ndi_abi.h"

namespace plombix::standin {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The four characters of a FourCC ('?' for unprintable bytes).
std::string FourCCText(NdiFourCC fourcc);
// The shortest decimal that reads back as the same float.
std::string FloatText(float value);
// X-Width, X-Height, X-FourCC, X-Frame-Rate-N, X-Frame-Rate-D, X-Aspect,
// X-Frame-Format, X-Timecode, X-Sequence.
HeaderList FrameHeaders(const FrameInfo& info);

// A JSON string literal (quotes, backslashes and control characters escaped).
std::string JsonString(const std::string& text);
// Text safe inside HTML elements and attribute values.
std::string HtmlText(const std::string& text);

struct SourceStatus {
  std::string name;
  FrameInfo last;            // the last frame sent; sequence 0: none yet
  size_t connections = 0;    // open streams
  NDIlib_tally_t tally{false, false};
  uint64_t jpegEncodes = 0;  // frames encoded as JPEG so far
};

// {"name", "width", "height", "fourcc" ("" before the first frame),
//  "frame_rate_n", "frame_rate_d", "connections", "tally" ("none",
//  "program" or "preview"), "frames_sent", "jpeg_encodes"} and a newline.
std::string StatusJson(const SourceStatus& status);

}  // namespace plombix::standin
