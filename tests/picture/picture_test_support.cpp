#include "picture_test_support.h"

#include <QImageWriter>

#include <random>

#include "simd_level.h"

namespace plombix::testing {

bool WriteImage(const QImage& image, const std::string& path, const char* format, int quality) {
  QImageWriter writer(QString::fromStdString(path), format);
  if (quality >= 0) writer.setQuality(quality);
  return writer.write(image);
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

QImage RandomImage(int width, int height, QImage::Format format, uint32_t seed) {
  QImage image(width, height, QImage::Format_ARGB32);
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) row[x] = random();
  }
  return format == QImage::Format_ARGB32 ? image : image.convertToFormat(format);
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  uint64_t state = 0x9E3779B97F4A7C15ull ^ seed;
  for (auto& b : v) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    b = uint8_t(state >> 56);
  }
  return v;
}

void MakePicture(PictureBuffer& picture, int width, int height,
                 const std::function<uint32_t(int, int)>& pixel) {
  picture.width = width;
  picture.height = height;
  picture.byteCount = width * height * 4;
  picture.bitsPerPixel = 32;
  picture.state = 1;
  picture.pixelData.reset(new uint8_t[size_t(picture.byteCount)]);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t v = pixel(x, y);
      std::memcpy(picture.pixelData.get() + (size_t(y) * size_t(width) + size_t(x)) * 4, &v, 4);
    }
}

void ForEachSimdLevel(const std::function<void()>& check) {
  const SimdLevel before = CurrentSimdLevel();
  for (int l = 0; l <= int(BestSimdLevel()); ++l) {
    SCOPED_TRACE("SIMD level " + std::to_string(int(SetSimdLevel(SimdLevel(l)))));
    check();
  }
  SetSimdLevel(before);
}

uint32_t ReferenceBlendPixel(uint32_t frame, uint32_t picture) {
  const uint32_t a = picture >> 24, b = 255 - a;
  uint32_t out = 0;
  for (int c = 0; c < 3; ++c) {
    const uint32_t d = (frame >> (8 * c)) & 0xFF, s = (picture >> (8 * c)) & 0xFF;
    out |= ((d * b + s * a) / 255) << (8 * c);
  }
  return out | (255 - ((255 - (frame >> 24)) * b) / 255) << 24;
}

void ReferencePlace(std::vector<uint32_t>& frame, int fw, int fh, const PictureBuffer& p, int mode) {
  const int dx = (fw - p.width) / 2, dy = (fh - p.height) / 2;
  auto shown = [](int f, int d, int size, int pictureSize, int before, int after) {
    if (f - d < 0 || f - d >= pictureSize) return false;
    return d >= 0 || (f >= std::max(before, 0) && f < size - std::max(after, 0));
  };
  for (int y = 0; y < fh; ++y)
    for (int x = 0; x < fw; ++x)
      if (shown(x, dx, fw, p.width, p.marginLeft, p.marginRight) &&
          shown(y, dy, fh, p.height, p.marginTop, p.marginBottom)) {
        uint32_t& to = frame[size_t(y) * size_t(fw) + size_t(x)];
        const uint32_t from = PixelAt(p, x - dx, y - dy);
        to = mode == 2 ? from : ReferenceBlendPixel(to, from);
      }
}

}  // namespace plombix::testing
