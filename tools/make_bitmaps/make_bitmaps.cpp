// plombix_make_bitmaps: draws the player's built-in pictures and icons.
//
//   plombix_make_bitmaps <resources folder>
//
// writes <folder>/bitmaps/<id>.png and <folder>/icons/plombix-<size>.png.
// Everything is drawn from shapes, gradients and the pixel font in
// pixel_font.h, so the output depends on nothing installed but Qt. The
// pictures are committed; the build does not run this tool.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <cstdio>
#include <cstring>

#include "pixel_font.h"

namespace {

using plombix::bitmaps::FindGlyph;

// Text in the pixel font, each font pixel a `scale` x `scale` square,
// glyphs 6 font pixels apart. Returns the width drawn.
int TextWidth(const char* text, int scale) { return int(std::strlen(text)) * 6 * scale - scale; }

void DrawText(QPainter& p, const char* text, int x, int y, int scale, const QColor& ink) {
  for (const char* c = text; *c; ++c, x += 6 * scale) {
    const auto* glyph = FindGlyph(*c);
    if (!glyph) continue;
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (glyph->rows[row][col] == '#') p.fillRect(x + col * scale, y + row * scale, scale, scale, ink);
  }
}

void DrawTextCentred(QPainter& p, const char* text, int centreX, int y, int scale, const QColor& ink,
                     const QColor* shadow = nullptr) {
  const int x = centreX - TextWidth(text, scale) / 2;
  if (shadow) DrawText(p, text, x + scale / 2 + 1, y + scale / 2 + 1, scale, *shadow);
  DrawText(p, text, x, y, scale, ink);
}

// The player's emblem: a picture frame holding a mountain and a sun, with a
// small "on air" dot.
void DrawEmblem(QPainter& p, const QRectF& r, const QColor& ink, const QColor& accent) {
  const qreal line = qMax<qreal>(1.0, r.width() / 14);
  p.save();
  p.setPen(QPen(ink, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  const QRectF frame = r.adjusted(line, line, -line, -line);
  p.drawRoundedRect(frame, line * 1.5, line * 1.5);
  QPainterPath mountain;
  const QRectF in = frame.adjusted(line * 1.5, line * 1.5, -line * 1.5, -line * 1.5);
  mountain.moveTo(in.left(), in.bottom());
  mountain.lineTo(in.left() + in.width() * 0.38, in.top() + in.height() * 0.35);
  mountain.lineTo(in.left() + in.width() * 0.58, in.top() + in.height() * 0.65);
  mountain.lineTo(in.left() + in.width() * 0.72, in.top() + in.height() * 0.50);
  mountain.lineTo(in.right(), in.bottom());
  mountain.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  p.drawPath(mountain);
  p.setBrush(accent);
  const qreal sun = in.width() * 0.16;
  p.drawEllipse(QPointF(in.right() - sun * 1.3, in.top() + sun * 1.3), sun, sun);
  p.restore();
}

QImage Canvas(int w, int h, bool alpha) {
  QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  image.fill(alpha ? Qt::transparent : Qt::black);
  return image;
}

QImage Lamp(const QColor& base) {
  QImage image = Canvas(30, 30, true);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient glow(QPointF(12, 11), 13);
  glow.setColorAt(0.0, base.lighter(170));
  glow.setColorAt(0.55, base);
  glow.setColorAt(1.0, base.darker(180));
  p.setPen(QPen(QColor(40, 40, 40), 1.2));
  p.setBrush(glow);
  p.drawEllipse(QPointF(15, 15), 12, 12);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 110));
  p.drawEllipse(QPointF(11.5, 10), 4, 2.6);
  return image;
}

QImage StartupCard() {
  QImage image = Canvas(720, 276, true);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // Soft shadow: rings of falling opacity around the card.
  for (int i = 12; i >= 1; --i) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 14));
    p.drawRoundedRect(QRectF(20 - i + 6, 20 - i + 8, 680 + 2 * i, 236 + 2 * i), 24 + i, 24 + i);
  }
  QLinearGradient card(0, 20, 0, 256);
  card.setColorAt(0.0, QColor(22, 60, 110, 235));
  card.setColorAt(1.0, QColor(12, 120, 130, 200));
  p.setBrush(card);
  p.drawRoundedRect(QRectF(20, 20, 680, 236), 24, 24);
  DrawEmblem(p, QRectF(52, 70, 136, 112), QColor(240, 246, 250), QColor(255, 190, 40));
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor shadow(0, 0, 0, 120);
  DrawTextCentred(p, "VORA PLOMBIX", 448, 84, 6, QColor(245, 248, 252), &shadow);
  DrawTextCentred(p, "STILL PICTURES ON AIR", 448, 156, 2, QColor(190, 225, 235));
  p.fillRect(QRect(236, 184, 424, 3), QColor(255, 190, 40, 160));
  return image;
}

QImage AboutPicture() {
  QImage image = Canvas(64, 48, false);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 64, 48);
  g.setColorAt(0.0, QColor(22, 60, 110));
  g.setColorAt(1.0, QColor(12, 120, 130));
  p.fillRect(image.rect(), g);
  DrawEmblem(p, QRectF(10, 6, 44, 36), QColor(240, 246, 250), QColor(255, 190, 40));
  return image;
}

// 38 x 30 link pictures: a rounded tile with a glyph.
QImage LinkTile(const QColor& tile, bool network) {
  QImage image = Canvas(38, 30, true);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(1, 1, 36, 28), 6, 6);
  p.setBrush(Qt::white);
  if (network) {
    // Three people-dots joined in a triangle.
    p.setPen(QPen(Qt::white, 1.6));
    p.drawLine(QPointF(12, 20), QPointF(19, 9));
    p.drawLine(QPointF(19, 9), QPointF(26, 20));
    p.drawLine(QPointF(12, 20), QPointF(26, 20));
    p.setPen(Qt::NoPen);
    for (const QPointF c : {QPointF(12, 20), QPointF(19, 9), QPointF(26, 20)}) p.drawEllipse(c, 3.4, 3.4);
  } else {
    // A film strip with a play arrow.
    p.drawRect(QRectF(8, 7, 22, 16));
    p.setBrush(tile);
    for (int i = 0; i < 4; ++i) {
      p.drawRect(QRectF(10 + i * 5, 8, 2.5, 2));
      p.drawRect(QRectF(10 + i * 5, 20, 2.5, 2));
    }
    QPainterPath arrow;
    arrow.moveTo(16, 11.5);
    arrow.lineTo(23, 15);
    arrow.lineTo(16, 18.5);
    arrow.closeSubpath();
    p.drawPath(arrow);
  }
  return image;
}

QImage Placeholder() {
  QImage image = Canvas(480, 270, false);
  QPainter p(&image);
  QLinearGradient g(0, 0, 0, 270);
  g.setColorAt(0.0, QColor(34, 38, 46));
  g.setColorAt(1.0, QColor(14, 16, 20));
  p.fillRect(image.rect(), g);
  for (int x = 0; x < 480; x += 24) p.fillRect(x, 0, 1, 270, QColor(255, 255, 255, 10));
  for (int y = 6; y < 270; y += 24) p.fillRect(0, y, 480, 1, QColor(255, 255, 255, 10));
  p.setRenderHint(QPainter::Antialiasing);
  DrawEmblem(p, QRectF(200, 62, 80, 66), QColor(200, 210, 220), QColor(255, 190, 40));
  p.setRenderHint(QPainter::Antialiasing, false);
  DrawTextCentred(p, "VORA PLOMBIX", 240, 156, 3, QColor(200, 210, 220));
  DrawTextCentred(p, "DROP A PICTURE", 240, 196, 2, QColor(120, 130, 145));
  return image;
}

QImage SupportCard(const QColor& top, const QColor& bottom, const char* line1, const char* line2,
                   bool heart) {
  QImage image = Canvas(640, 360, false);
  QPainter p(&image);
  QLinearGradient g(0, 0, 640, 360);
  g.setColorAt(0.0, top);
  g.setColorAt(1.0, bottom);
  p.fillRect(image.rect(), g);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 230));
  if (heart) {
    QPainterPath h;
    h.moveTo(320, 150);
    h.cubicTo(320, 120, 270, 100, 262, 130);
    h.cubicTo(255, 160, 300, 180, 320, 205);
    h.cubicTo(340, 180, 385, 160, 378, 130);
    h.cubicTo(370, 100, 320, 120, 320, 150);
    p.drawPath(h);
  } else {
    DrawEmblem(p, QRectF(270, 96, 100, 84), QColor(255, 255, 255, 230), QColor(255, 210, 80));
  }
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor shadow(0, 0, 0, 90);
  DrawTextCentred(p, line1, 320, 40, 4, Qt::white, &shadow);
  DrawTextCentred(p, line2, 320, 236, 3, QColor(245, 245, 245), &shadow);
  DrawTextCentred(p, "VORA PLOMBIX", 320, 300, 2, QColor(255, 255, 255, 200));
  return image;
}

QImage Icon(int size) {
  QImage image = Canvas(size, size, true);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QLinearGradient g(0, 0, s, s);
  g.setColorAt(0.0, QColor(30, 80, 150));
  g.setColorAt(1.0, QColor(12, 140, 140));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(s * 0.03, s * 0.03, s * 0.94, s * 0.94), s * 0.2, s * 0.2);
  DrawEmblem(p, QRectF(s * 0.17, s * 0.22, s * 0.66, s * 0.56), Qt::white, QColor(255, 190, 40));
  return image;
}

bool Save(const QImage& image, const QString& path) {
  // Pictures without alpha are written as 24-bit RGB PNGs.
  const QImage out =
      image.hasAlphaChannel() ? image : image.convertToFormat(QImage::Format_RGB888);
  if (!out.save(path, "PNG", 9)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s %dx%d%s\n", qPrintable(path), out.width(), out.height(),
              out.hasAlphaChannel() ? " alpha" : "");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <resources folder>\n", argv[0]);
    return 2;
  }
  const QDir root(QString::fromLocal8Bit(argv[1]));
  if (!root.mkpath("bitmaps") || !root.mkpath("icons")) {
    std::fprintf(stderr, "cannot create folders under %s\n", argv[1]);
    return 1;
  }
  auto bitmap = [&](int id) { return root.filePath(QStringLiteral("bitmaps/%1.png").arg(id)); };
  bool ok = true;
  ok &= Save(Lamp(QColor(128, 128, 128)), bitmap(131));
  ok &= Save(Lamp(QColor(220, 30, 30)), bitmap(132));
  ok &= Save(Lamp(QColor(240, 160, 0)), bitmap(133));
  ok &= Save(Lamp(QColor(30, 190, 60)), bitmap(134));
  ok &= Save(StartupCard(), bitmap(140));
  ok &= Save(AboutPicture(), bitmap(144));
  ok &= Save(LinkTile(QColor(40, 150, 170), true), bitmap(145));
  ok &= Save(LinkTile(QColor(120, 60, 160), false), bitmap(147));
  ok &= Save(Placeholder(), bitmap(148));
  ok &= Save(SupportCard(QColor(30, 90, 160), QColor(20, 150, 140), "THANK YOU!",
                         "FOR KEEPING IT ON AIR", true),
             bitmap(190));
  ok &= Save(SupportCard(QColor(150, 50, 90), QColor(230, 120, 40), "SUPPORT THE WORK",
                         "EVERY BIT HELPS", false),
             bitmap(191));
  ok &= Save(LinkTile(QColor(220, 110, 30), true), bitmap(195));
  ok &= Save(LinkTile(QColor(30, 120, 70), false), bitmap(196));
  for (int size : {256, 128, 64, 48, 32, 16})
    ok &= Save(Icon(size), root.filePath(QStringLiteral("icons/plombix-%1.png").arg(size)));
  return ok ? 0 : 1;
}
