// Today's formats and colour management, beside their references in the
// same run:
//
//   BM_ColourManage             the 6000 x 4000 benchmark JPEG's pixels
//                               (decoded once) converted from Display P3 to
//                               sRGB in place, on one thread: compare with
//                               BM_TurboJpegDecode of the same picture
//   BM_ColourManage_TwoCores    the same split over two threads, as the
//                               player converts a picture decoded whole
//   BM_ColourManage_LittleCms   one thread, LittleCMS's own transform
//   BM_HeicBesideHeifConvert    a 4032 x 3024 HEIC (a phone photo's size)
//                               prepared in Contain at 1920 x 1080 (read,
//                               decode, convert, scale), and libheif's own
//                               heif-convert on the same file to a JPEG (its
//                               fastest output), alternately
//
//   plombix_bench --benchmark_filter='BM_TurboJpeg|BM_ColourManage|BM_HeicBeside'
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <turbojpeg.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "bench_files.h"
#include "colour_transform.h"
#include "prepare.h"

namespace {

constexpr int kRepetitions = 5;

// The benchmark JPEG's pixels, decoded once.
const std::vector<uint8_t>& JpegPixels() {
  static const std::vector<uint8_t> pixels = [] {
    std::ifstream in(plombix_bench::BenchJpeg(), std::ios::binary);
    const std::vector<unsigned char> jpeg((std::istreambuf_iterator<char>(in)), {});
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    std::vector<uint8_t> out;
    if (handle && tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &width, &height,
                                      &subsampling, &colourspace) == 0) {
      out.resize(size_t(width) * size_t(height) * 4);
      if (tjDecompress2(handle, jpeg.data(), jpeg.size(), out.data(), width, 0, height, TJPF_BGRA,
                        0))
        out.clear();
    }
    if (handle) tjDestroy(handle);
    return out;
  }();
  return pixels;
}

void ColourManage(benchmark::State& state, bool littleCms, bool twoCores) {
  std::vector<uint8_t> pixels = JpegPixels();
  const std::vector<uint8_t> p3 = plombix::IccFromCodePoints(12, 13);
  const auto transform = plombix::MakeColourTransform(p3.data(), p3.size(), littleCms);
  if (pixels.empty() || !transform) {
    state.SkipWithError("no picture or no transform");
    return;
  }
  const size_t count = pixels.size() / 4, half = twoCores ? count / 2 : 0;
  for (auto _ : state) {
    // As the player converts a whole picture: half of it on a second thread.
    std::thread helper;
    if (twoCores) helper = std::thread([&] { transform->Convert(pixels.data(), half); });
    transform->Convert(pixels.data() + half * 4, count - half);
    if (helper.joinable()) helper.join();
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixels.size()));
}
void BM_ColourManage(benchmark::State& state) { ColourManage(state, false, false); }
void BM_ColourManage_TwoCores(benchmark::State& state) { ColourManage(state, false, true); }
void BM_ColourManage_LittleCms(benchmark::State& state) { ColourManage(state, true, false); }
BENCHMARK(BM_ColourManage)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);
BENCHMARK(BM_ColourManage_TwoCores)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);
BENCHMARK(BM_ColourManage_LittleCms)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);

// A phone photo's size and grain: gradients, soft shapes and a little
// noise, encoded by heif-enc at quality 60 (a few megabytes, as phones
// write). Made once and kept in the temporary folder.
const std::string& BenchHeic() {
  static const std::string path = [] {
    const std::string file = QDir::tempPath().toStdString() + "/plombix-bench-4032x3024.heic";
    if (plombix::ProbeImageFile(file) == plombix::DecodeError::None) return file;
    QImage image(4032, 3024, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 4032, 3024);
    gradient.setColorAt(0, QColor(40, 70, 130));
    gradient.setColorAt(0.6, QColor(220, 190, 140));
    gradient.setColorAt(1, QColor(40, 110, 60));
    painter.fillRect(image.rect(), gradient);
    QRandomGenerator random(7);
    for (int i = 0; i < 600; ++i) {
      painter.setBrush(QColor::fromHsv(random.bounded(360), 150, 200, 160));
      painter.drawEllipse(random.bounded(4032), random.bounded(3024), 60 + random.bounded(400),
                          60 + random.bounded(400));
    }
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
      uchar* row = image.scanLine(y);
      for (int x = 0; x < image.width() * 4; ++x)
        if (x % 4 != 3)
          row[x] = uchar(std::clamp(int(row[x]) + int(random.bounded(7)) - 3, 0, 255));
    }
    const std::string png = file + ".png";
    image.save(QString::fromStdString(png));
    (void)std::system(("heif-enc -q 60 '" + png + "' -o '" + file + "' >/dev/null 2>&1").c_str());
    std::remove(png.c_str());
    return file;
  }();
  return path;
}

double Milliseconds(const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; }
double ChildrenCpuMs() {
  rusage r{};
  getrusage(RUSAGE_CHILDREN, &r);
  return Milliseconds(r.ru_utime) + Milliseconds(r.ru_stime);
}
double ProcessCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}
double Now() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Each iteration shows the HEIC as the player's worker does (Contain at
// 1920 x 1080) and then runs heif-convert on it, so that both meet the
// same load; the counters are the means of each: wall time, and processor
// time of every thread (heif-convert's as a child process).
void BM_HeicBesideHeifConvert(benchmark::State& state) {
  plombix::PrepareRequest request;
  request.path = BenchHeic();
  request.scalingMode = 1;  // Contain
  request.outputWidth = 1920;
  request.outputHeight = 1080;
  const std::string out = QDir::tempPath().toStdString() + "/plombix-bench-heif-convert.jpg";
  const std::string command = "heif-convert '" + request.path + "' '" + out + "' >/dev/null 2>&1";
  double prepareWall = 0, prepareCpu = 0, toolWall = 0, toolCpu = 0;
  for (auto _ : state) {
    double wall = Now(), cpu = ProcessCpuMs();
    const plombix::PreparedPicture prepared = plombix::PreparePicture(request);
    prepareWall += Now() - wall, prepareCpu += ProcessCpuMs() - cpu;
    if (!prepared.ok()) state.SkipWithError(plombix::DecodeErrorText(prepared.error));
    wall = Now(), cpu = ChildrenCpuMs();
    if (std::system(command.c_str()) != 0) state.SkipWithError("heif-convert failed or is missing");
    toolWall += Now() - wall, toolCpu += ChildrenCpuMs() - cpu;
  }
  const auto mean = [&](double total) { return benchmark::Counter(total, benchmark::Counter::kAvgIterations); };
  state.counters["prepare_ms"] = mean(prepareWall);
  state.counters["prepare_cpu_ms"] = mean(prepareCpu);
  state.counters["heif_convert_ms"] = mean(toolWall);
  state.counters["heif_convert_cpu_ms"] = mean(toolCpu);
  std::remove(out.c_str());
}
BENCHMARK(BM_HeicBesideHeifConvert)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(kRepetitions);

}  // namespace
