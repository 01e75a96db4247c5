// A whole picture change as the player makes it: ShowPicture(true) of a
// 6000 x 4000 JPEG at 3840 x 2160 output (Contain) — decode, scale, compose,
// copy into the free NDI frame, send through the stand-in runtime, preview —
// beside decoding the same file with QImageReader alone.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QLinearGradient>

#include <cstdlib>
#include <string>

#include "ndi_runtime.h"
#include "player_core.h"

namespace {

// A photo-like 6000 x 4000 JPEG, made once per run.
const std::string& BenchJpeg() {
  static const std::string path = [] {
    QImage image(6000, 4000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 6000, 4000);
    gradient.setColorAt(0, QColor(20, 60, 140));
    gradient.setColorAt(0.5, QColor(230, 200, 120));
    gradient.setColorAt(1, QColor(30, 120, 60));
    painter.fillRect(image.rect(), gradient);
    uint32_t seed = 12345;
    for (int i = 0; i < 4000; ++i) {
      seed = seed * 1664525u + 1013904223u;
      const int x = int(seed % 6000), y = int((seed >> 8) % 4000);
      painter.setBrush(QColor(int(seed & 255), int((seed >> 8) & 255), int((seed >> 16) & 255)));
      painter.drawEllipse(x, y, 40 + int(seed % 200), 40 + int((seed >> 4) % 200));
    }
    painter.end();
    const std::string file = QDir::tempPath().toStdString() + "/plombix-bench-6000x4000.jpg";
    image.save(QString::fromStdString(file), "JPEG", 90);
    return file;
  }();
  return path;
}

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
  void loadsReady() override {}
};

void BM_ShowPictureWindow(benchmark::State& state) {
  ::setenv("PLOMBIX_RUNTIME_DIR", (QDir::tempPath() + "/plombix-bench-run").toUtf8().constData(), 1);
  plombix::NdiRuntimeOptions options;
  options.skipVendor = true;
  const plombix::NdiRuntimeLoad load = plombix::LoadNdiRuntime(options);
  if (!load.runtime.loaded()) {
    state.SkipWithError("no stand-in runtime");
    return;
  }
  plombix::ConfigState config;
  NullView view;
  plombix::PlayerCore core(load.runtime, config, view);
  if (core.StartOutput() != plombix::PlayerCore::StartError::None) {
    state.SkipWithError("no output");
    return;
  }
  core.output.outputWidth = 3840;
  core.output.outputHeight = 2160;
  core.LoadStartupPictures(0);
  core.StartPublishing(7);
  config.currentFileName = BenchJpeg();
  config.live.scalingMode = 1;  // Contain
  for (auto _ : state) {
    // From the request until the frame is handed to the runtime: the load
    // on the worker, then the composition and send on this thread.
    bool shown = false;
    core.ShowPicture(true, [&](const plombix::PictureOutcome& outcome) { shown = outcome.shown(); });
    core.WaitForLoads();
    if (!shown) state.SkipWithError("ShowPicture failed");
  }
  core.Shutdown();
}
BENCHMARK(BM_ShowPictureWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4);

}  // namespace
