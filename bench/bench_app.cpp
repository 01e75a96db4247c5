// A picture change as the player makes it, and what the window feels of it:
//
//   BM_ShowPicture/W/H       ShowPicture of the 6000 x 4000 JPEG in
//                            Contain at W x H, from the request until the
//                            frame is handed to the runtime (the stand-in):
//                            the load on the worker, then adopting,
//                            composing, copying into the free NDI frame,
//                            sending and the preview on the calling thread
//   BM_ShowPng/3840/2160     the same for the 8000 x 8000 RGBA PNG
//   BM_StepToAir/W/H         a show of a picture prepared ahead (two copies
//                            of that JPEG shown in turn, both prepared): from
//                            the request until the frame is handed to the
//                            runtime; beside BM_Compose of the same size
//   BM_WindowStallDuringLoad the real window showing that PNG: the longest
//                            time its event loop goes without running a
//                            1 ms timer, from the drop until the picture is
//                            on air (reported as the iteration's time)
//
//   plombix_bench --benchmark_filter='BM_TurboJpeg|BM_Show|BM_WindowStall|BM_Memcpy'
//   plombix_bench --benchmark_filter='BM_StepToAir|BM_Compose/1920'
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench_files.h"
#include "ndi_runtime.h"
#include "player_core.h"
#include "plombix_dialog.h"

namespace {

using plombix_bench::BenchJpeg;
using plombix_bench::BenchPng;

constexpr int kRepetitions = 5;

class NullView final : public plombix::PlayerView {
 public:
  void setOutputLine(const std::string&) override {}
  void showSourceLocation(const std::string&) override {}
  void setLamp(plombix::Lamp) override {}
  void loadPreview(const uint8_t*, int, int, int, uint32_t, float) override {}
  void presentPreview() override {}
  void setTallyState(int) override {}
  void startTimer(int, int) override {}
  void stopTimer(int) override {}
  void setPictureLabels(const std::string&, const std::string&) override {}
  void setGrabButton(const char*, int) override {}
  void enableSidesEdit(bool) override {}
  void showLoading(const std::string&) override {}
  void showLoadFailure(plombix::LoadKind, const std::string&, const char*) override {}
  void pictureShown(const plombix::PictureOutcome&) override {}
  void loadsReady() override {}
};

// The stand-in runtime, loaded as the player loads it, with a private
// runtime folder.
plombix::NdiRuntime StandIn() {
  ::setenv("PLOMBIX_RUNTIME_DIR", (QDir::tempPath() + "/plombix-bench-run").toUtf8().constData(), 1);
  plombix::NdiRuntimeOptions options;
  options.skipVendor = true;
  return plombix::LoadNdiRuntime(options).runtime;
}

// A PlayerCore publishing through the stand-in at the benchmark's size, in
// Contain; null (the benchmark skipped) when it cannot start.
struct BenchCore {
  plombix::NdiRuntime runtime = StandIn();
  plombix::ConfigState config;
  NullView view;
  std::unique_ptr<plombix::PlayerCore> core;

  explicit BenchCore(benchmark::State& state) {
    if (!runtime.loaded()) {
      state.SkipWithError("no stand-in runtime");
      return;
    }
    core = std::make_unique<plombix::PlayerCore>(runtime, config, view);
    if (core->StartOutput() != plombix::PlayerCore::StartError::None) {
      state.SkipWithError("no output");
      core.reset();
      return;
    }
    core->output.outputWidth = int(state.range(0));
    core->output.outputHeight = int(state.range(1));
    core->LoadStartupPictures(0);
    core->StartPublishing(7);
    config.live.scalingMode = 1;  // Contain
  }
  ~BenchCore() {
    if (core) core->Shutdown();
  }
  // Shows `path` and waits until its frame has been sent.
  bool Show(const std::string& path) {
    bool shown = false;
    core->ShowPicture(path, [&](const plombix::PictureOutcome& outcome) { shown = outcome.shown(); });
    core->WaitForLoads();
    return shown;
  }
};

void ShowThroughCore(benchmark::State& state, const std::string& path) {
  BenchCore bench(state);
  if (!bench.core) return;
  for (auto _ : state) {
    // Cold: the copy kept of the picture leaving the air is dropped, as the
    // window's next tick drops what no slideshow wants.
    state.PauseTiming();
    bench.core->PrepareAhead({});
    state.ResumeTiming();
    if (!bench.Show(path)) state.SkipWithError("ShowPicture failed");
  }
}

void BM_StepToAir(benchmark::State& state) {
  BenchCore bench(state);
  if (!bench.core) return;
  const std::string copy = (QDir::tempPath() + "/plombix-bench-step.jpg").toStdString();
  std::filesystem::copy_file(BenchJpeg(), copy, std::filesystem::copy_options::overwrite_existing);
  const std::string paths[2] = {BenchJpeg(), copy};
  bench.core->PrepareAhead({{paths[0]}, {paths[1]}});
  bench.core->WaitForPrepared();
  size_t turn = 0;
  for (auto _ : state) {
    // The picture leaving the air stays prepared for the next turn.
    if (!bench.Show(paths[turn ^= 1])) state.SkipWithError("ShowPicture failed");
  }
  state.counters["prepared"] = double(bench.core->preparedCount());
}
BENCHMARK(BM_StepToAir)->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ShowPicture(benchmark::State& state) { ShowThroughCore(state, BenchJpeg()); }
BENCHMARK(BM_ShowPicture)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0)
    ->Repetitions(kRepetitions);

void BM_ShowPng(benchmark::State& state) { ShowThroughCore(state, BenchPng()); }
BENCHMARK(BM_ShowPng)->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);

class SilentPrompter final : public plombix::Prompter {
 public:
  void message(const QString&, const QString&) override {}
  bool confirm(const QString&, const QString&) override { return true; }
};

QApplication& App() {
  static int argc = 1;
  static char name[] = "plombix_bench";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(argc, argv);
  return app;
}

void BM_WindowStallDuringLoad(benchmark::State& state) {
  App();
  const std::string png = BenchPng();
  SilentPrompter prompter;
  plombix::CNDIPlombixDlg::Options options;
  options.runtime = StandIn();
  options.prompter = &prompter;
  options.pictureChoice = 0;
  options.supportWindow = false;
  options.configDir = QDir::tempPath().toStdString();
  options.control = plombix::control::ControlSettings{};  // off
  plombix::CNDIPlombixDlg window(std::move(options));
  window.onTimer(plombix::TIMER_START);
  window.core.ChooseResolution(32784);  // 3840 x 2160
  window.waitForLoads();
  window.show();

  double worstMs = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      longest = std::max(longest, now - last);
      last = now;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!window.core.busy()) loop.quit();
    });
    clock.start();
    tick.start(1);
    poll.start(1);
    window.OnDropFiles({QString::fromStdString(png)});
    loop.exec();
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, now - last);
    tick.stop();
    poll.stop();
    if (!window.core.lastShowOutcome.shown()) state.SkipWithError("the picture did not load");
    const double ms = double(longest) / 1e6;
    worstMs = std::max(worstMs, ms);
    state.SetIterationTime(ms / 1000.0);
  }
  state.counters["worst_ms"] = worstMs;
  window.EndWithoutQuestion();
}
BENCHMARK(BM_WindowStallDuringLoad)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3)
    ->Repetitions(kRepetitions);

}  // namespace
