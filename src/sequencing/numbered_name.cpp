// Numbered-name split and sequence names. See numbered_name.h.
#include "numbered_name.h"

#include <cstdio>

#include "path_buffer.h"
#include "slideshow_text.h"

namespace plombix {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Length of `part` in UTF-16 units as the path buffers count it.
std::size_t unitCount(std::string_view part) {
  const auto units = PathToUtf16(part);
  return units ? units->size() : part.size();
}

}  // namespace

bool SplitNumberedName(std::string_view path, NumberedName& out) {
  if (path.empty()) return false;

  const auto slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::string_view directory = path.substr(0, nameStart);
  std::string_view fileName = path.substr(nameStart);
  std::string_view extension;
  if (const auto dot = fileName.rfind('.'); dot != std::string_view::npos) {
    extension = fileName.substr(dot);
    fileName = fileName.substr(0, dot);
  }
  if (unitCount(directory) > kMaxComponentUnits || unitCount(fileName) > kMaxComponentUnits ||
      unitCount(extension) > kMaxComponentUnits) {
    out = NumberedName{};
    return false;
  }

  out.suffix = std::string(extension);
  out.prefix = std::string(directory) + std::string(fileName);
  out.number = 0;
  out.digitCount = 0;
  if (fileName.empty() || !isDigit(fileName.back())) return false;

  int digits = 1;
  while (digits < kMaxNumberDigits && static_cast<std::size_t>(digits) < fileName.size() &&
         isDigit(fileName[fileName.size() - 1 - static_cast<std::size_t>(digits)])) {
    ++digits;
  }
  int number = 0;
  for (std::size_t i = fileName.size() - static_cast<std::size_t>(digits); i < fileName.size(); ++i) {
    number = number * 10 + (fileName[i] - '0');
  }
  out.number = number;
  out.digitCount = digits;
  out.prefix = std::string(directory) +
               std::string(fileName.substr(0, fileName.size() - static_cast<std::size_t>(digits)));
  return true;
}

std::string SequenceName(const NumberedName& name, uint8_t numberFormat, int n) {
  return name.prefix + PaddedNumber(numberFormat, n) + name.suffix;
}

}  // namespace plombix
