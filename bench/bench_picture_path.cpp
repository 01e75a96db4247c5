// The picture path from file to output frame, beside the decoders' own
// limits, on the same files in the same run:
//
//   BM_TurboJpegDecode      the 6000 x 4000 JPEG decoded by tjDecompress2 at
//                           full size into a ready buffer: the reference
//   BM_DecodeOnly           the same file through QImageReader
//   BM_PreparePicture/W/H   PreparePicture of that file in Contain at W x H
//                           (read, decode, scale), adopted, composed over a
//                           background and copied into an output frame: the
//                           picture layer's part of BM_ShowPicture
//   BM_PreparePicture_OneThread/W/H   the same on one core
//   BM_PreparePicture_ColdMemory/W/H  the same with fresh memory for every
//                           picture (the first picture after start)
//   BM_PreparePng/3840/2160 the same for an 8000 x 8000 RGBA PNG
//   BM_DecodeOnlyPng        that PNG through QImageReader
//   BM_SpngDecode           that PNG through libspng alone, row by row
//   BM_PngInflateUnfilter/L that PNG's pixels as the player decodes them
//                           (inflated in one call, unfiltered into the pixel
//                           format) at SIMD level L (0 plain, 1 SSE2, 2 AVX2)
//   BM_Memcpy/8000/8000     (bench_memcpy.cpp) a memcpy of that PNG's 256 MB of pixels
//
//   plombix_bench --benchmark_filter='BM_TurboJpeg|BM_Show|BM_Prepare|BM_DecodeOnly|BM_Spng|BM_Png|BM_Memcpy'
//
// BM_ShowPicture and BM_ShowPng (the whole path through the player's core)
// are in bench_app.cpp.
//
// Each is run five times; the median is the figure to read.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>

#include <spng.h>
#include <turbojpeg.h>

#include <malloc.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_files.h"
#include "compose.h"
#include "picture_buffer.h"
#include "png_inflate.h"
#include "prepare.h"
#include "simd_level.h"

namespace {

using plombix_bench::BenchJpeg;
using plombix_bench::BenchPng;

constexpr int kRepetitions = 5;
constexpr double kMinSeconds = 2.0;  // per repetition, for the fast ones

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void BM_TurboJpegDecode(benchmark::State& state) {
  const std::vector<uint8_t> jpeg = ReadAll(BenchJpeg());
  tjhandle handle = tjInitDecompress();
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (!handle || tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &width, &height, &subsampling,
                                     &colourspace) != 0) {
    state.SkipWithError("no TurboJPEG");
    return;
  }
  std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4, 0);
  for (auto _ : state) {
    if (tjDecompress2(handle, jpeg.data(), jpeg.size(), pixels.data(), width, 0, height, TJPF_BGRA, 0) != 0)
      state.SkipWithError(tjGetErrorStr2(handle));
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  tjDestroy(handle);
}
BENCHMARK(BM_TurboJpegDecode)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(kMinSeconds)
    ->Repetitions(kRepetitions);

void BM_DecodeOnly(benchmark::State& state) {
  const QString file = QString::fromStdString(BenchJpeg());
  for (auto _ : state) {
    QImageReader reader(file);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);

// What the player holds while it shows pictures at one output size: the
// background, the composed picture, the shown picture and an output frame.
// Kept for the whole run, so that every repetition finds memory as a player
// stepping through pictures does (buffers of earlier pictures reused).
struct Stage {
  plombix::PictureBuffer background, composed, picture;
  std::vector<uint8_t> frame;
};

Stage& StageFor(int width, int height) {
  static std::map<std::pair<int, int>, std::unique_ptr<Stage>> stages;
  std::unique_ptr<Stage>& stage = stages[{width, height}];
  if (!stage) {
    stage = std::make_unique<Stage>();
    plombix::PictureBuffer& background = stage->background;
    background.width = width;
    background.height = height;
    background.bitsPerPixel = 32;
    background.byteCount = width * height * 4;
    background.state = 1;
    background.pixelData.reset(new uint8_t[size_t(background.byteCount)]);
    std::fill(background.pixelData.get(), background.pixelData.get() + background.byteCount, 0x40);
    (void)stage->composed.CopyFrom(background);
    stage->frame.assign(size_t(background.byteCount), 0);
  }
  return *stage;
}

// A picture change as the picture layer makes it: prepare (in Contain at
// the output size), adopt, compose over an opaque background and copy the
// frame out. With `coldMemory` the freed memory is handed back to the
// system before each picture (malloc_trim), so that every picture pays for
// fresh pages, as the first one after start does.
void Prepare(benchmark::State& state, const std::string& path, int threads, bool coldMemory) {
  const int width = int(state.range(0)), height = int(state.range(1));
  Stage& stage = StageFor(width, height);
  plombix::PrepareRequest request;
  request.path = path;
  request.scalingMode = 1;  // Contain
  request.outputWidth = width;
  request.outputHeight = height;
  request.threads = threads;
  for (auto _ : state) {
    if (coldMemory) {
      state.PauseTiming();
      stage.picture.Empty();
      malloc_trim(0);
      state.ResumeTiming();
    }
    if (!stage.picture.AdoptPrepared(plombix::PreparePicture(request)))
      state.SkipWithError("PreparePicture failed");
    plombix::ComposeFrame(stage.composed, stage.background, stage.picture, nullptr, width, height,
                          stage.frame.data());
    benchmark::DoNotOptimize(stage.frame.data());
    benchmark::ClobberMemory();
  }
}

// BM_PreparePicture, and the same on one core or with fresh memory.
const bool kPrepareRegistered = [] {
  const struct {
    const char* name;
    int threads;
    bool coldMemory;
  } variants[] = {{"BM_PreparePicture", 0, false},
                  {"BM_PreparePicture_OneThread", 1, false},
                  {"BM_PreparePicture_ColdMemory", 0, true}};
  for (const auto& v : variants) {
    benchmark::RegisterBenchmark(v.name, [v](benchmark::State& state) {
      Prepare(state, BenchJpeg(), v.threads, v.coldMemory);
    })
        ->Args({1920, 1080})
        ->Args({3840, 2160})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(kMinSeconds)
        ->Repetitions(kRepetitions);
  }
  return true;
}();

void BM_PreparePng(benchmark::State& state) { Prepare(state, BenchPng(), 0, false); }
BENCHMARK(BM_PreparePng)
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(kRepetitions);

void BM_DecodeOnlyPng(benchmark::State& state) {
  const QString file = QString::fromStdString(BenchPng());
  for (auto _ : state) {
    QImageReader reader(file);
    QImage image = reader.read();
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_DecodeOnlyPng)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);

// libspng alone: the file already in memory, decoded row by row to 8-bit
// RGBA into one row buffer (its fastest way; a whole-picture decode also
// pays for the picture's memory).
void BM_SpngDecode(benchmark::State& state) {
  const std::vector<uint8_t> png = ReadAll(BenchPng());
  for (auto _ : state) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, png.data(), png.size());
    spng_ihdr ihdr{};
    spng_get_ihdr(ctx, &ihdr);
    std::vector<uint8_t> row(size_t(ihdr.width) * 4);
    int error = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_PROGRESSIVE);
    while (error == 0) error = spng_decode_row(ctx, row.data(), row.size());
    if (error != SPNG_EOI) state.SkipWithError(spng_strerror(error));
    benchmark::DoNotOptimize(row.data());
    spng_ctx_free(ctx);
  }
}
BENCHMARK(BM_SpngDecode)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);

// The player's own PNG decode of the same file, already in memory: the
// image data inflated in one call and unfiltered into a fresh picture.
void BM_PngInflateUnfilter(benchmark::State& state) {
  const std::vector<uint8_t> png = ReadAll(BenchPng());
  plombix::PngPixelLayout layout;
  layout.width = 8000;
  layout.height = 8000;
  layout.channels = 4;
  const plombix::SimdLevel before = plombix::CurrentSimdLevel();
  if (plombix::SetSimdLevel(plombix::SimdLevel(state.range(0))) != plombix::SimdLevel(state.range(0)))
    state.SkipWithError("SIMD level not offered");
  for (auto _ : state) {
    std::shared_ptr<uint8_t[]> pixels;
    bool longer = false;
    const plombix::DecodeError error =
        plombix::DecodePngWhole(png.data(), png.size(), layout, &pixels, &longer);
    if (error != plombix::DecodeError::None) state.SkipWithError("not decoded");
    benchmark::DoNotOptimize(pixels.get());
  }
  plombix::SetSimdLevel(before);
  state.SetBytesProcessed(int64_t(state.iterations()) * 8000 * 8000 * 4);
}
BENCHMARK(BM_PngInflateUnfilter)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(kRepetitions);

}  // namespace
