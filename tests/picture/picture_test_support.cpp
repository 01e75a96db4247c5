#include "picture_test_support.h"

#include <QDir>
#include <QImageWriter>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace plombix::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "plombix-picture-XXXXXX").string();
  if (char* made = ::mkdtemp(pattern.data())) path_ = made;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  // Give back any permissions a test took away so that removal works.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

bool WriteImage(const QImage& image, const std::string& path, const char* format, int quality) {
  QImageWriter writer(QString::fromStdString(path), format);
  if (quality >= 0) writer.setQuality(quality);
  return writer.write(image);
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put32Be(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

// LSB-first bit packer of GIF's LZW stream.
struct BitWriter {
  std::vector<uint8_t> bytes;
  uint32_t buffer = 0;
  int bits = 0;
  void put(uint32_t code, int width) {
    buffer |= code << bits;
    bits += width;
    while (bits >= 8) {
      bytes.push_back(uint8_t(buffer));
      buffer >>= 8;
      bits -= 8;
    }
  }
  void flush() {
    if (bits > 0) bytes.push_back(uint8_t(buffer));
    buffer = 0;
    bits = 0;
  }
};

}  // namespace

std::vector<uint8_t> MakeGif(int width, int height, const std::vector<uint32_t>& paletteRgb,
                             const std::vector<uint8_t>& indices, int transparent) {
  std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
  Put16(out, uint16_t(width));
  Put16(out, uint16_t(height));
  out.push_back(0xF7);  // global palette of 256 entries, 8 bits of colour
  out.push_back(0);     // background index
  out.push_back(0);     // aspect
  for (int i = 0; i < 256; ++i) {
    const uint32_t c = i < int(paletteRgb.size()) ? paletteRgb[size_t(i)] : 0;
    out.push_back(uint8_t(c >> 16));
    out.push_back(uint8_t(c >> 8));
    out.push_back(uint8_t(c));
  }
  if (transparent >= 0) {
    const uint8_t gce[] = {0x21, 0xF9, 4, 0x01, 0, 0, uint8_t(transparent), 0};
    out.insert(out.end(), std::begin(gce), std::end(gce));
  }
  out.push_back(0x2C);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, uint16_t(width));
  Put16(out, uint16_t(height));
  out.push_back(0);  // no local palette, not interlaced
  out.push_back(8);  // minimum code size
  // Literal codes only, 9 bits wide; a clear code every 200 literals keeps
  // the decoder's table from reaching 512 entries (and a wider code).
  BitWriter lzw;
  constexpr uint32_t kClear = 256, kEnd = 257;
  lzw.put(kClear, 9);
  int sinceClear = 0;
  for (uint8_t index : indices) {
    if (sinceClear == 200) {
      lzw.put(kClear, 9);
      sinceClear = 0;
    }
    lzw.put(index, 9);
    ++sinceClear;
  }
  lzw.put(kEnd, 9);
  lzw.flush();
  for (size_t at = 0; at < lzw.bytes.size(); at += 255) {
    const size_t n = std::min<size_t>(255, lzw.bytes.size() - at);
    out.push_back(uint8_t(n));
    out.insert(out.end(), lzw.bytes.begin() + long(at), lzw.bytes.begin() + long(at + n));
  }
  out.push_back(0);     // end of image data
  out.push_back(0x3B);  // trailer
  return out;
}

std::vector<uint8_t> MakePngHeader(uint32_t width, uint32_t height, const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Put32Be(out, 13);
  const size_t typeAt = out.size();
  out.insert(out.end(), {'I', 'H', 'D', 'R'});
  Put32Be(out, width);
  Put32Be(out, height);
  out.insert(out.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
  Put32Be(out, Crc32(out.data() + typeAt, out.size() - typeAt));
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

std::vector<uint8_t> MakeBmp(int width, int height, int bitCount, const std::vector<uint32_t>& rgb,
                             int claimWidth, int claimHeight) {
  const int bytesPerPixel = bitCount / 8;
  const int rowBytes = (width * bytesPerPixel + 3) & ~3;
  std::vector<uint8_t> out = {'B', 'M'};
  Put32(out, uint32_t(54 + rowBytes * height));
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, uint32_t(claimWidth > 0 ? claimWidth : width));
  Put32(out, uint32_t(claimHeight > 0 ? claimHeight : height));
  Put16(out, 1);
  Put16(out, uint16_t(bitCount));
  Put32(out, 0);  // uncompressed (16 bits: 5-5-5)
  Put32(out, uint32_t(rowBytes * height));
  Put32(out, 2835);
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
  for (int y = height - 1; y >= 0; --y) {
    size_t written = 0;
    for (int x = 0; x < width; ++x) {
      const uint32_t c = rgb[size_t(y) * size_t(width) + size_t(x)];
      const uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
      if (bitCount == 16) {
        Put16(out, ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
      } else {
        out.insert(out.end(), {uint8_t(b), uint8_t(g), uint8_t(r)});
        if (bitCount == 32) out.push_back(0);
      }
      written += size_t(bytesPerPixel);
    }
    for (; written < size_t(rowBytes); ++written) out.push_back(0);
  }
  return out;
}

uint32_t PixelAt(const uint8_t* pixels, int width, int x, int y) {
  const uint8_t* p = pixels + (size_t(y) * size_t(width) + size_t(x)) * 4;
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t PixelAt(const PictureBuffer& picture, int x, int y) {
  return PixelAt(picture.pixelData.get(), picture.width, x, y);
}

QImage RandomImage(int width, int height, QImage::Format format, uint32_t seed) {
  QImage image(width, height, QImage::Format_ARGB32);
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) row[x] = random();
  }
  return format == QImage::Format_ARGB32 ? image : image.convertToFormat(format);
}

}  // namespace plombix::testing
