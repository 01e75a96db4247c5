// PathBuffer and the path conversions. See path_buffer.h for the contract.
//
// UTF-8 decoding is strict (RFC 3629): no overlong forms, no encoded
// surrogates, nothing above U+10FFFF. A byte that does not start a
// well-formed sequence is escaped as the lone surrogate 0xDC00 + byte and
// decoding goes on at the next byte. Encoding reverses this; its result is
// decoded once more and must give the same units back, which refuses lone
// escapes that would join into a well-formed sequence (they came from
// somewhere else and would name a different file).
#include "path_buffer.h"

#include <algorithm>

namespace plombix {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at s[i] and its code point, or
// 0 when the bytes there are not one.
std::size_t decodeOne(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<uint8_t>(s[i]);
  const std::size_t left = s.size() - i;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t len = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (left < len) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<uint8_t>(s[i + k]);
    if (!isContinuation(b)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::optional<std::u16string> PathToUtf16(std::string_view path) {
  std::u16string out;
  out.reserve(path.size());
  std::size_t i = 0;
  while (i < path.size()) {
    if (path[i] == '\0') return std::nullopt;
    char32_t cp = 0;
    const std::size_t len = decodeOne(path, i, cp);
    if (len == 0) {
      out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<uint8_t>(path[i])));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::optional<std::string> PathFromUtf16(std::u16string_view units) {
  std::string out;
  out.reserve(units.size() * 3);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u == 0) return std::nullopt;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                            (static_cast<char32_t>(units[i + 1]) - 0xDC00);
        appendUtf8(out, cp);
        ++i;
        continue;
      }
      return std::nullopt;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) {
      if (u < kEscapeBase + 0x80 || u > kEscapeBase + 0xFF) return std::nullopt;
      out.push_back(static_cast<char>(u - kEscapeBase));
      continue;
    }
    appendUtf8(out, u);
  }
  const auto back = PathToUtf16(out);
  if (!back || *back != units) return std::nullopt;
  return out;
}

bool PathBuffer::assign(std::string_view path, std::size_t maxUnitsWithTerminator) {
  const auto units = PathToUtf16(path);
  if (!units) {
    clear();
    return false;
  }
  return assignUnits(*units, maxUnitsWithTerminator);
}

bool PathBuffer::assignUnits(std::u16string_view units, std::size_t maxUnitsWithTerminator) {
  const std::size_t room = std::min(maxUnitsWithTerminator, kUnits);
  if (room == 0 || units.size() + 1 > room ||
      std::find(units.begin(), units.end(), u'\0') != units.end()) {
    clear();
    return false;
  }
  std::copy(units.begin(), units.end(), units_.begin());
  units_[units.size()] = 0;
  return true;
}

void PathBuffer::copyPathFrom(const PathBuffer& other) {
  if (this == &other) return;
  assignUnits(other.view());
}

std::u16string_view PathBuffer::view() const {
  const auto end = std::find(units_.begin(), units_.end(), u'\0');
  if (end == units_.end()) return {};
  return std::u16string_view(units_.data(), static_cast<std::size_t>(end - units_.begin()));
}

std::string PathBuffer::toUtf8() const {
  auto s = PathFromUtf16(view());
  return s ? std::move(*s) : std::string();
}

void PathBuffer::encode(std::span<uint8_t, kBytes> out) const {
  for (std::size_t i = 0; i < kUnits; ++i) {
    out[2 * i] = static_cast<uint8_t>(units_[i] & 0xFF);
    out[2 * i + 1] = static_cast<uint8_t>(units_[i] >> 8);
  }
}

void PathBuffer::overwriteBytes(std::span<const uint8_t> in) {
  const std::size_t n = std::min(in.size(), kBytes);
  for (std::size_t i = 0; i < n; ++i) {
    char16_t& u = units_[i / 2];
    if (i % 2 == 0) {
      u = static_cast<char16_t>((u & 0xFF00) | in[i]);
    } else {
      u = static_cast<char16_t>((u & 0x00FF) | (in[i] << 8));
    }
  }
}

}  // namespace plombix
