#include "served_texts.h"

#include <cstdio>
#include <cstdlib>

namespace plombix::standin {

std::string FourCCText(NdiFourCC fourcc) {
  const uint32_t v = uint32_t(fourcc);
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = char((v >> (8 * i)) & 0xff);
    s += (c >= 0x20 && c < 0x7f) ? c : '?';
  }
  return s;
}

std::string FloatText(float value) {
  char text[32];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, double(value));
    if (std::strtof(text, nullptr) == value) break;
  }
  return text;
}

HeaderList FrameHeaders(const FrameInfo& info) {
  return {
      {"X-Width", std::to_string(info.width)},
      {"X-Height", std::to_string(info.height)},
      {"X-FourCC", FourCCText(info.fourcc)},
      {"X-Frame-Rate-N", std::to_string(info.frameRateN)},
      {"X-Frame-Rate-D", std::to_string(info.frameRateD)},
      {"X-Aspect", FloatText(info.aspect)},
      {"X-Frame-Format", std::to_string(int(info.format))},
      {"X-Timecode", std::to_string(info.timecode)},
      {"X-Sequence", std::to_string(info.sequence)},
  };
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string HtmlText(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string StatusJson(const SourceStatus& status) {
  const NDIlib_tally_t& tally = status.tally;
  const FrameInfo& info = status.last;
  const char* tallyText = tally.on_program ? "program" : tally.on_preview ? "preview" : "none";
  return "{\"name\":" + JsonString(status.name) + ",\"width\":" + std::to_string(info.width) +
         ",\"height\":" + std::to_string(info.height) + ",\"fourcc\":" +
         JsonString(info.sequence ? FourCCText(info.fourcc) : "") +
         ",\"frame_rate_n\":" + std::to_string(info.frameRateN) +
         ",\"frame_rate_d\":" + std::to_string(info.frameRateD) +
         ",\"connections\":" + std::to_string(status.connections) + ",\"tally\":\"" + tallyText +
         "\",\"frames_sent\":" + std::to_string(info.sequence) +
         ",\"jpeg_encodes\":" + std::to_string(status.jpegEncodes) + "}\n";
}

}  // namespace plombix::standin
