// The texts a stand-in sender serves: frame headers, the /status JSON and
// the page at "/", with the escaping each needs.
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

// {"name", "width", "height", "fourcc" ("" before the first frame),
//  "frame_rate_n", "frame_rate_d", "connections", "tally" ("none",
//  "program" or "preview"), "frames_sent"} and a newline.
std::string StatusJson(const std::string& name, const FrameInfo& last, size_t connections,
                       NDIlib_tally_t tally);
// The page at "/": the live picture (/stream.png) over a checkerboard.
std::string PageHtml(const std::string& name);

}  // namespace plombix::standin
