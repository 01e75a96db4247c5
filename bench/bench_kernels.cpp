// Pixel kernels on whole output frames, each beside BM_Memcpy of the same
// frame (args width/height). Buffers are made once per benchmark and reused,
// as the player reuses its output-size pictures.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "compose.h"
#include "fade.h"
#include "picture_buffer.h"
#include "preview_frame.h"

namespace {

using plombix::PictureBuffer;

// A usable width x height picture with pixel(x, y) as its 0xAARRGGBB value.
template <typename Pixel>
void Fill(PictureBuffer& picture, int width, int height, Pixel pixel) {
  picture.width = width;
  picture.height = height;
  picture.byteCount = width * height * 4;
  picture.bitsPerPixel = 32;
  picture.state = 1;
  picture.pixelData.reset(new uint8_t[size_t(picture.byteCount)]);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t v = pixel(x, y);
      std::memcpy(picture.pixelData.get() + (size_t(y) * width + x) * 4, &v, 4);
    }
}

// Colour that changes from pixel to pixel, and an alpha that takes every
// value 0..255 along each row (so no run of pixels is all clear or all
// opaque): the blends do their full arithmetic everywhere.
uint32_t Varied(int x, int y) {
  const uint32_t alpha = uint32_t(x * 5 + y * 3) & 0xFF;
  return alpha << 24 | (uint32_t(x * 7 + y) & 0xFFFFFF);
}

// Background, picture and overlay at output size, composed and copied
// into the output frame; the background opaque, or transparent (every
// blend then takes the straight-alpha form).
void Compose(benchmark::State& state, bool transparent) {
  const int w = int(state.range(0)), h = int(state.range(1));
  PictureBuffer background, picture, overlay, composed;
  const uint32_t alpha = transparent ? 0 : 0xFF000000u;
  Fill(background, w, h, [alpha](int x, int y) { return alpha | uint32_t(x ^ y); });
  Fill(picture, w, h, Varied);
  Fill(overlay, w, h, [](int x, int y) { return Varied(y, x); });
  std::vector<uint8_t> ndiFrame(size_t(w) * h * 4);
  plombix::ComposeFrame(composed, background, picture, &overlay, w, h);  // sizes the buffer once
  for (auto _ : state) {
    plombix::ComposeFrame(composed, background, picture, &overlay, w, h, ndiFrame.data());
    benchmark::DoNotOptimize(ndiFrame.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}
void BM_Compose(benchmark::State& state) { Compose(state, false); }
void BM_Compose_Transparent(benchmark::State& state) { Compose(state, true); }
BENCHMARK(BM_Compose)->Args({1920, 1080})->Args({4096, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Compose_Transparent)->Args({1920, 1080})->Args({4096, 2160})->Unit(benchmark::kMillisecond);

void BM_FadeStep(benchmark::State& state) {
  const size_t bytes = size_t(state.range(0)) * size_t(state.range(1)) * 4;
  std::vector<uint8_t> previous(bytes), composed(bytes), out(bytes);
  for (size_t i = 0; i < bytes; ++i) {
    previous[i] = uint8_t(i * 7);
    composed[i] = uint8_t(i * 13 + 5);
  }
  int step = 0;
  for (auto _ : state) {
    const int weight = plombix::FadeWeight(11 - step, 12);
    step = (step + 1) % 12;
    plombix::FadeBlend(out.data(), previous.data(), composed.data(), bytes, weight);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_FadeStep)->Args({1920, 1080})->Args({4096, 2160})->Unit(benchmark::kMillisecond);

void BM_GradientFill(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  PictureBuffer background;
  Fill(background, w, h, [](int, int) { return 0u; });
  for (auto _ : state) {
    // Mode 15's corners with the starting colours (first 0x203080, second black).
    background.GradientFill(plombix::GradientLayout::MirroredQuarters, 0x00203080u, 0, 0, 0);
    benchmark::DoNotOptimize(background.pixelData.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}
BENCHMARK(BM_GradientFill)->Args({1920, 1080})->Args({4096, 2160})->Unit(benchmark::kMillisecond);

void BM_PreviewLoadFrame(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  std::vector<uint8_t> frame(size_t(w) * h * 4);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 3);
  plombix::PreviewFrame preview;
  if (!preview.Setup()) {
    state.SkipWithError("preview buffer could not be allocated");
    return;
  }
  for (auto _ : state) {
    preview.LoadFrame(frame.data(), w, h, w * 4, 0x41524742u, 16.0f / 9.0f);
    benchmark::DoNotOptimize(preview.pixels());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}
BENCHMARK(BM_PreviewLoadFrame)->Args({1920, 1080})->Args({4096, 2160})->Unit(benchmark::kMillisecond);

void BM_ApplyRangeTable(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  PictureBuffer picture;
  Fill(picture, w, h, [](int x, int y) { return uint32_t(x * 2654435761u + y * 40503u); });
  for (auto _ : state) {
    // Repeated passes drive the bytes towards 0 and 255; the arithmetic
    // does not depend on the values, so the timing does not either.
    picture.ApplyRangeTable();
    benchmark::DoNotOptimize(picture.pixelData.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}
BENCHMARK(BM_ApplyRangeTable)->Args({1920, 1080})->Args({4096, 2160})->Unit(benchmark::kMillisecond);

}  // namespace
