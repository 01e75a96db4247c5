// Resampling: PictureBuffer::ScaleTo of a picture with alpha (colour and
// alpha plane) beside Qt's smooth scaling of the same picture without
// alpha, and the resampler alone into a ready buffer.
//
//   plombix_bench --benchmark_filter='BM_ScaleTo|BM_QtSmoothScale|BM_Resample|BM_Memcpy/4096'
#include <benchmark/benchmark.h>

#include <QImage>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "picture_buffer.h"
#include "resample.h"

namespace {

constexpr int kTargetWidth = 3840;
constexpr int kTargetHeight = 2160;

// Smooth noise: random values on an 8-pixel lattice, so that neighbouring
// pixels differ like a photo's rather than like white noise.
std::shared_ptr<plombix::SourceBitmap> MakePhoto(int width, int height) {
  auto bitmap = std::make_shared<plombix::SourceBitmap>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bitsPerPixel = 32;
  bitmap->pixels = std::shared_ptr<uint8_t[]>(new uint8_t[size_t(width) * height * 4]);
  std::mt19937 random(20240601);
  std::vector<uint32_t> lattice(size_t(width / 8 + 2) * (height / 8 + 2));
  for (auto& v : lattice) v = random();
  const int stride = width / 8 + 2;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t v = lattice[size_t(y / 8) * stride + x / 8];
      uint8_t* p = bitmap->pixels.get() + (size_t(y) * width + x) * 4;
      for (int c = 0; c < 4; ++c) p[c] = uint8_t((v >> (8 * c)) + x + y);
    }
  return bitmap;
}

void BM_ScaleTo(benchmark::State& state) {
  plombix::PictureBuffer picture;
  picture.decodedImage = MakePhoto(int(state.range(0)), int(state.range(1)));
  for (auto _ : state) {
    if (!picture.ScaleTo(kTargetWidth, kTargetHeight)) state.SkipWithError("ScaleTo failed");
    benchmark::DoNotOptimize(picture.pixelData.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0) * state.range(1) * 4);
}
BENCHMARK(BM_ScaleTo)->Args({6000, 4000})->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_QtSmoothScale(benchmark::State& state) {
  const auto photo = MakePhoto(int(state.range(0)), int(state.range(1)));
  QImage image(photo->pixels.get(), photo->width, photo->height, photo->width * 4,
               QImage::Format_RGB32);
  for (auto _ : state) {
    QImage scaled = image.scaled(kTargetWidth, kTargetHeight, Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
    benchmark::DoNotOptimize(scaled.constBits());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0) * state.range(1) * 4);
}
// Qt may spread this over its thread pool: compare wall-clock times.
BENCHMARK(BM_QtSmoothScale)->Args({6000, 4000})->UseRealTime()->Unit(benchmark::kMillisecond);

// The resampler alone, into a buffer allocated once: arithmetic and memory
// traffic without the page faults of a fresh target buffer.
void BM_Resample(benchmark::State& state) {
  const auto photo = MakePhoto(int(state.range(0)), int(state.range(1)));
  plombix::Resampler resampler;
  if (!resampler.Prepare(photo->width, photo->height, kTargetWidth, kTargetHeight)) {
    state.SkipWithError("Prepare failed");
    return;
  }
  std::vector<uint8_t> target(size_t(kTargetWidth) * kTargetHeight * 4, 0);
  for (auto _ : state) {
    resampler.Run(photo->pixels.get(), target.data());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0) * state.range(1) * 4);
}
BENCHMARK(BM_Resample)
    ->Args({6000, 4000})
    ->Args({1920, 1080})
    ->Args({480, 270})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
