#include "bench_files.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cstdint>

#include "prepare.h"

namespace plombix_bench {
namespace {

// A photo-like picture: a gradient under a few thousand coloured discs.
QImage PhotoLike(int width, int height, bool alpha) {
  QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  QLinearGradient gradient(0, 0, width, height);
  gradient.setColorAt(0, QColor(20, 60, 140, 255));
  gradient.setColorAt(0.5, QColor(230, 200, 120, alpha ? 200 : 255));
  gradient.setColorAt(1, QColor(30, 120, 60, alpha ? 128 : 255));
  painter.fillRect(image.rect(), gradient);
  uint32_t seed = 12345;
  for (int i = 0; i < 4000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int x = int(seed % uint32_t(width)), y = int((seed >> 8) % uint32_t(height));
    painter.setBrush(QColor(int(seed & 255), int((seed >> 8) & 255), int((seed >> 16) & 255),
                            alpha ? int(seed >> 24) | 64 : 255));
    painter.drawEllipse(x, y, 40 + int(seed % 200), 40 + int((seed >> 4) % 200));
  }
  painter.end();
  return image;
}

}  // namespace

const std::string& BenchJpeg() {
  static const std::string path = [] {
    const std::string file = QDir::tempPath().toStdString() + "/plombix-bench-6000x4000.jpg";
    if (plombix::ProbeImageFile(file) != plombix::DecodeError::None)
      PhotoLike(6000, 4000, false).save(QString::fromStdString(file), "JPEG", 90);
    return file;
  }();
  return path;
}

const std::string& BenchPng() {
  static const std::string path = [] {
    const std::string file = QDir::tempPath().toStdString() + "/plombix-bench-8000x8000.png";
    if (plombix::ProbeImageFile(file) != plombix::DecodeError::None)
      PhotoLike(8000, 8000, true).save(QString::fromStdString(file), "PNG");
    return file;
  }();
  return path;
}

}  // namespace plombix_bench
