#include "picture_test_support.h"

#include <QImageWriter>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include <jpeglib.h>
#include <spng.h>

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

std::vector<uint8_t> PngChunk(const char* type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  out.reserve(12 + data.size());
  Put32Be(out, uint32_t(data.size()));
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(type[i]));
  for (uint8_t byte : data) out.push_back(byte);
  Put32Be(out, Crc32(out.data() + 4, out.size() - 4));
  return out;
}

std::vector<uint8_t> MakePngHeader(uint32_t width, uint32_t height, const std::vector<uint8_t>& tail,
                                   uint8_t bitDepth) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  Put32Be(ihdr, width);
  Put32Be(ihdr, height);
  ihdr.insert(ihdr.end(), {bitDepth, 6, 0, 0, 0});  // RGBA, deflate, no filter, no interlace
  const std::vector<uint8_t> chunk = PngChunk("IHDR", ihdr);
  out.insert(out.end(), chunk.begin(), chunk.end());
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

std::vector<uint8_t> MakeTga(int width, int height, int type, int depth, bool footer, bool topDown) {
  std::vector<uint8_t> out = {0, 0, uint8_t(type), 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Put16(out, uint16_t(width));
  Put16(out, uint16_t(height));
  out.push_back(uint8_t(depth));
  out.push_back(uint8_t((depth == 32 ? 8 : 0) | (topDown ? 0x20 : 0)));
  for (int row = 0; row < height; ++row)
    for (int column = 0; column < width; column += type == 10 ? 2 : 1) {
      if (type == 10) out.push_back(0x81);
      const uint8_t pixel[4] = {uint8_t(row), uint8_t(column), 0x40, 0xC0};
      out.insert(out.end(), pixel, pixel + depth / 8);
    }
  if (footer) {
    const char signature[] = "TRUEVISION-XFILE.";  // and its 0
    out.insert(out.end(), 8, 0);
    out.insert(out.end(), signature, signature + sizeof signature);
  }
  return out;
}

std::vector<uint8_t> MakeJpeg(const QImage& source, const JpegOptions& options) {
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(image.width());
  cinfo.image_height = JDIMENSION(image.height());
  using Colour = JpegOptions::Colour;
  cinfo.input_components = options.colour == Colour::Grey ? 1 : 4;
  cinfo.in_color_space = options.colour == Colour::Grey   ? JCS_GRAYSCALE
                         : options.colour == Colour::Cmyk ? JCS_CMYK
                                                          : JCS_EXT_BGRX;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, options.quality, TRUE);
  if (options.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  if (options.orientation > 0) {
    // "Exif\0\0", a big-endian TIFF header, one directory with one entry.
    const uint8_t exif[] = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                            0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, uint8_t(options.orientation), 0, 0,
                            0, 0, 0, 0};
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif, sizeof exif);
  }
  std::vector<uint8_t> row(size_t(image.width()) * 4);
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint8_t* in = image.constScanLine(int(cinfo.next_scanline));
    for (int x = 0; x < image.width(); ++x) {
      const uint8_t* p = in + size_t(x) * 4;
      if (options.colour == Colour::Grey) {
        row[size_t(x)] = p[1];
      } else if (options.colour == Colour::Cmyk) {
        const uint8_t cmyk[4] = {p[2], p[1], p[0], 255};
        std::memcpy(&row[size_t(x) * 4], cmyk, 4);
      } else {
        std::memcpy(&row[size_t(x) * 4], p, 4);
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

std::vector<uint8_t> MakePng(int width, int height, const PngOptions& options,
                             const std::function<void(int, uint8_t*)>& row) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, options.compressionLevel);
  spng_ihdr ihdr{};
  ihdr.width = uint32_t(width);
  ihdr.height = uint32_t(height);
  ihdr.bit_depth = uint8_t(options.bitDepth);
  ihdr.color_type = uint8_t(options.colourType);
  ihdr.interlace_method = options.interlaced ? 1 : 0;
  spng_set_ihdr(ctx, &ihdr);
  if (options.colourType == 3) {
    spng_plte palette{};
    palette.n_entries = 256;
    for (int i = 0; i < 256; ++i)
      palette.entries[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
    spng_set_plte(ctx, &palette);
  }
  const int channels = options.colourType == 0 || options.colourType == 3 ? 1
                       : options.colourType == 4                          ? 2
                       : options.colourType == 2                          ? 3
                                                                          : 4;
  const size_t rowBytes = (size_t(width) * size_t(channels) * size_t(options.bitDepth) + 7) / 8;
  int error = 0;
  if (options.interlaced) {
    std::vector<uint8_t> image(rowBytes * size_t(height));
    for (int y = 0; y < height; ++y) row(y, image.data() + size_t(y) * rowBytes);
    error = spng_encode_image(ctx, image.data(), image.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  } else {
    error = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG,
                              SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    std::vector<uint8_t> line(rowBytes);
    for (int y = 0; y < height && error == 0; ++y) {
      row(y, line.data());
      error = spng_encode_row(ctx, line.data(), line.size());
      if (error == SPNG_EOI) error = 0;
    }
  }
  EXPECT_EQ(error, 0) << spng_strerror(error);
  size_t size = 0;
  void* png = spng_get_png_buffer(ctx, &size, &error);
  std::vector<uint8_t> out(static_cast<uint8_t*>(png), static_cast<uint8_t*>(png) + size);
  std::free(png);
  spng_ctx_free(ctx);
  return out;
}

std::vector<uint8_t> WithJpegSize(std::vector<uint8_t> file, uint16_t width, uint16_t height) {
  // Markers from the SOI on: FF, type, 2-byte length (counting itself).
  for (size_t at = 2; at + 9 < file.size();) {
    const uint8_t type = file[at + 1];
    const size_t length = size_t(file[at + 2]) << 8 | file[at + 3];
    if (type >= 0xC0 && type <= 0xC2) {
      file[at + 5] = uint8_t(height >> 8);
      file[at + 6] = uint8_t(height);
      file[at + 7] = uint8_t(width >> 8);
      file[at + 8] = uint8_t(width);
      return file;
    }
    at += 2 + length;
  }
  ADD_FAILURE() << "no frame header";
  return file;
}

int64_t PeakResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return int64_t(usage.ru_maxrss) * 1024;
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
  const uint32_t a = picture >> 24, b = 255 - a, f = frame >> 24;
  // Colour as a weighted mean: over an opaque frame the weights are a and
  // b; over any other, the picture's share a/255 and the frame's share
  // f/255 x b/255 of the result, both scaled by 255 x 255.
  const uint32_t ws = f == 255 ? a : 255 * a, wd = f == 255 ? b : f * b;
  if (ws + wd == 0) return frame;
  uint32_t out = 0;
  for (int c = 0; c < 3; ++c) {
    const uint32_t d = (frame >> (8 * c)) & 0xFF, s = (picture >> (8 * c)) & 0xFF;
    out |= ((d * wd + s * ws) / (ws + wd)) << (8 * c);
  }
  return out | (255 - ((255 - f) * b) / 255) << 24;
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
