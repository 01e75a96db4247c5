#include "state_json.h"

#include <cstdio>

#include "api_names.h"

namespace plombix::control {
namespace {

// Written by hand rather than through QJsonDocument: the state is
// serialised on the window's thread at every change, and this costs a few
// microseconds where the generic writer costs tens.

// The length of the valid UTF-8 sequence at the front of `s` (of `size`
// bytes), 0 when it is not one (overlong forms, surrogates and values past
// U+10FFFF included).
size_t Utf8Length(const unsigned char* s, size_t size) {
  const unsigned char c = s[0];
  size_t n = 0;
  uint32_t min = 0, value = 0;
  if (c >= 0xC2 && c <= 0xDF) n = 2, min = 0x80, value = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, min = 0x800, value = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, min = 0x10000, value = c & 0x07;
  else return 0;
  if (size < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    value = value << 6 | (s[i] & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return n;
}

// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
void AppendString(std::string& out, std::string_view text) {
  out += '"';
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = s[i];
    if (c >= 0x80) {
      const size_t n = Utf8Length(s + i, text.size() - i);
      if (n) out.append(text.data() + i, n);
      else out += "\xEF\xBF\xBD";
      i += n ? n : 1;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += char(c);
    }
    ++i;
  }
  out += '"';
}

// Members in order, with the commas between them.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) { out_ += '{'; }
  ~Writer() { out_ += '}'; }
  Writer& key(const char* name) {
    if (!first_) out_ += ',';
    first_ = false;
    out_ += '"';
    out_ += name;
    out_ += "\":";
    return *this;
  }
  void text(std::string_view value) { AppendString(out_, value); }
  void number(int64_t value) { out_ += std::to_string(value); }
  void boolean(bool value) { out_ += value ? "true" : "false"; }
  std::string& raw() { return out_; }

 private:
  std::string& out_;
  bool first_ = true;
};

void WriteState(std::string& out, const ControlState& s) {
  Writer o(out);
  o.key("background").text(NameOf(s.background));
  o.key("borders");
  {
    Writer b(o.raw());
    b.key("equal").boolean(s.borders.equal);
    b.key("sides").number(s.borders.sides);
    b.key("topBottom").number(s.borders.topBottom);
    b.key("use").boolean(s.borders.use);
  }
  o.key("busy").boolean(s.busy);
  o.key("colours");
  out += '[';
  AppendString(out, ColourText(s.colours[0]));
  out += ',';
  AppendString(out, ColourText(s.colours[1]));
  out += ']';
  o.key("cued");
  if (s.cued.empty()) out += "null";
  else o.text(s.cued);
  o.key("instance").number(s.instance);
  o.key("oscIgnored").number(int64_t(s.oscIgnored));
  o.key("output");
  {
    Writer w(o.raw());
    w.key("alpha").boolean(s.output.alpha);
    w.key("frameRateD").number(s.output.frameRateD);
    w.key("frameRateN").number(s.output.frameRateN);
    w.key("height").number(s.output.height);
    w.key("width").number(s.output.width);
  }
  o.key("overlay");
  {
    Writer w(o.raw());
    w.key("path").text(s.overlay.path);
    w.key("use").boolean(s.overlay.use);
  }
  o.key("picture");
  if (!s.picture) {
    out += "null";
  } else {
    Writer p(o.raw());
    p.key("colourProfile");
    if (s.picture->colourProfile.empty()) out += "null";
    else p.text(s.picture->colourProfile);
    p.key("height").number(s.picture->height);
    p.key("path").text(s.picture->path);
    p.key("width").number(s.picture->width);
  }
  o.key("range").text(NameOf(s.range));
  o.key("receivers").number(s.receivers);
  o.key("scaling").text(NameOf(s.scaling));
  o.key("slideshow");
  {
    Writer w(o.raw());
    w.key("current").number(s.slideshow.current);
    w.key("duration").number(s.slideshow.durationSecs);
    w.key("end").number(s.slideshow.end);
    w.key("format").text(NumberFormatText(s.slideshow.numberFormat));
    w.key("mode").text(NameOf(s.slideshow.mode));
    w.key("start").number(s.slideshow.start);
  }
  o.key("source").text(s.source);
  o.key("tally").text(NameOf(s.tally));
  o.key("transition").text(NameOf(s.transition));
  o.key("watch").boolean(s.watch);
}

}  // namespace

std::string StateJson(const ControlState& s) {
  std::string out;
  out.reserve(768 + s.source.size() + (s.picture ? s.picture->path.size() : 0) + s.overlay.path.size());
  WriteState(out, s);
  return out;
}

std::string ErrorJson(const std::string& message) {
  std::string out;
  {
    Writer o(out);
    o.key("error").text(message);
  }
  return out;
}

}  // namespace plombix::control
