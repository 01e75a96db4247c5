#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "../dialogs/qt_test_app.h"
#include "vid_box.h"

namespace plombix {
namespace {

constexpr QRgb kGrey = qRgb(100, 100, 100);
constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kGreen = qRgb(0, 255, 0);
constexpr float k16x9 = 16.0f / 9.0f;
constexpr float k9x16 = 9.0f / 16.0f;
constexpr uint32_t kBGRA = 0x41524742;

// A frame of one colour in the pixel format: bytes blue, green, red, alpha.
struct SolidFrame {
  int width, height;
  std::vector<uint8_t> bytes;
  SolidFrame(int w, int h, QRgb colour, uint8_t alpha = 255)
      : width(w), height(h), bytes(size_t(w) * h * 4) {
    for (size_t i = 0; i < bytes.size(); i += 4) {
      bytes[i] = uint8_t(qBlue(colour));
      bytes[i + 1] = uint8_t(qGreen(colour));
      bytes[i + 2] = uint8_t(qRed(colour));
      bytes[i + 3] = alpha;
    }
  }
};

// A VidBox of the given client size in a window, set up.
struct BoxFixture {
  QWidget window;
  VidBox* box = new VidBox(&window);
  explicit BoxFixture(QSize size = {320, 180}) {
    box->setGeometry(QRect(QPoint(0, 0), size));
    window.resize(size);
    EXPECT_TRUE(box->Setup());
  }
  void show(const SolidFrame& f, float aspect) {
    box->LoadFrame(f.bytes.data(), f.width, f.height, f.width * 4, kBGRA, aspect);
    box->Present();
  }
  QImage paint() { return box->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

TEST(VidBoxSetup, BorderWidthFromTheClientHeight) {
  struct Row {
    int height, border;
  };
  // 180 / 64 = 2; 125 / 64 = 1 -> raised to 2; 640 / 64 = 10.
  for (const Row r : {Row{180, 2}, Row{125, 2}, Row{640, 10}}) {
    BoxFixture f(QSize(r.height * 16 / 9, r.height));
    EXPECT_EQ(f.box->borderWidth, r.border) << r.height;
    EXPECT_EQ(f.box->tallyState, TallyNone);
  }
  // Half the pen shows inside: 2 -> 1, 10 -> 5, odd widths round up.
  EXPECT_EQ(VidBox::BorderInset(2), 1);
  EXPECT_EQ(VidBox::BorderInset(10), 5);
  EXPECT_EQ(VidBox::BorderInset(3), 2);
  EXPECT_EQ(VidBox::BorderInset(0), 0);
  EXPECT_EQ(VidBox::BorderInset(-4), 0);
}

TEST(VidBoxPaint, PlacementsByAspectIn320x180) {
  struct Row {
    const char* name;
    int frameW, frameH;
    float aspect;
    QRect where;  // expected picture rectangle
  };
  // 16:9 fills; 9:16 is 320*81/256 = 101 wide at (320-101)/2 = 109;
  // 4:3 is 240 wide at 40; 2:1 is 320 x 160 at y 10.
  const Row rows[] = {
      {"16:9", 64, 36, k16x9, QRect(0, 0, 320, 180)},
      {"9:16", 36, 64, k9x16, QRect(109, 0, 101, 180)},
      {"4:3", 48, 36, 4.0f / 3.0f, QRect(40, 0, 240, 180)},
      {"2:1", 72, 36, 2.0f, QRect(0, 10, 320, 160)},
      {"16:9 halved", 1920, 1080, k16x9, QRect(0, 0, 320, 180)},
  };
  const QRgb colour = qRgb(20, 200, 60);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    BoxFixture f;
    f.show(SolidFrame(r.frameW, r.frameH, colour), r.aspect);
    const QImage image = f.paint();
    int wrong = 0;
    for (int y = 0; y < 180; ++y) {
      for (int x = 0; x < 320; ++x) {
        const QRgb want = r.where.contains(x, y) ? colour : kGrey;
        wrong += image.pixel(x, y) != want;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(VidBoxPaint, BarsArePaintedOnlyWhenThePlacementChanged) {
  BoxFixture f;
  const QRgb blue = qRgb(0, 0, 255);
  const QRgb green = qRgb(0, 160, 0);
  f.show(SolidFrame(64, 36, blue), k16x9);
  EXPECT_EQ(f.paint().pixel(0, 90), blue);

  // 4:3 after 16:9: the bars are cleared once, then the flag is down.
  f.show(SolidFrame(48, 36, green), 4.0f / 3.0f);
  EXPECT_EQ(f.box->frame().needsClear, 1);
  QImage image = f.paint();
  EXPECT_EQ(f.box->frame().needsClear, 0);
  EXPECT_EQ(image.pixel(0, 90), kGrey);
  EXPECT_EQ(image.pixel(39, 90), kGrey);
  EXPECT_EQ(image.pixel(40, 90), green);
  EXPECT_EQ(f.paint().pixel(0, 90), kGrey);  // a later paint keeps them

  // Without the flag the bars keep what was painted there before.
  f.show(SolidFrame(64, 36, blue), k16x9);
  EXPECT_EQ(f.paint().pixel(0, 90), blue);
  f.show(SolidFrame(48, 36, green), 4.0f / 3.0f);
  f.box->frame().needsClear = 0;
  image = f.paint();
  EXPECT_EQ(image.pixel(0, 90), blue);
  EXPECT_EQ(image.pixel(160, 90), green);
}

TEST(VidBoxPaint, TallyBorders) {
  struct Row {
    const char* name;
    int tally;
    bool border;
    QRgb colour;
  };
  // The window reports "program and preview" as program (1).
  const Row rows[] = {{"none", TallyNone, false, 0},
                      {"program", TallyProgram, true, kRed},
                      {"preview", TallyPreview, true, kGreen},
                      {"unknown value", 7, true, kRed}};
  const QRgb picture = qRgb(10, 20, 30);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    BoxFixture f;
    f.show(SolidFrame(64, 36, picture), k16x9);
    f.box->tallyState = r.tally;
    const QImage image = f.paint();
    // Border width 2: one pixel shows inside, on all four sides.
    for (const QPoint p : {QPoint(0, 0), QPoint(319, 0), QPoint(0, 179), QPoint(319, 179), QPoint(160, 0),
                           QPoint(160, 179), QPoint(0, 90), QPoint(319, 90)}) {
      EXPECT_EQ(image.pixel(p), r.border ? r.colour : picture) << p.x() << "," << p.y();
    }
    for (const QPoint p : {QPoint(1, 1), QPoint(318, 178), QPoint(160, 90)}) {
      EXPECT_EQ(image.pixel(p), picture) << p.x() << "," << p.y();
    }
  }
}

TEST(VidBoxPaint, WideBorderAndNoStaleBorderInTheBars) {
  // 360 / 64 = 5; a pen 5 wide centred on the edge shows 3 pixels inside.
  BoxFixture f(QSize(640, 360));
  ASSERT_EQ(f.box->borderWidth, 5);
  const QRgb picture = qRgb(200, 200, 0);
  f.show(SolidFrame(48, 36, picture), 4.0f / 3.0f);  // 480 wide at x 80
  f.box->tallyState = TallyProgram;
  QImage image = f.paint();
  EXPECT_EQ(image.pixel(2, 180), kRed);
  EXPECT_EQ(image.pixel(3, 180), kGrey);
  EXPECT_EQ(image.pixel(79, 180), kGrey);
  EXPECT_EQ(image.pixel(80, 180), picture);
  EXPECT_EQ(image.pixel(559, 180), picture);
  EXPECT_EQ(image.pixel(560, 180), kGrey);
  EXPECT_EQ(image.pixel(100, 2), kRed);
  EXPECT_EQ(image.pixel(100, 3), picture);
  EXPECT_EQ(image.pixel(637, 180), kRed);
  EXPECT_EQ(image.pixel(636, 180), kGrey);
  EXPECT_EQ(image.pixel(100, 357), kRed);
  EXPECT_EQ(image.pixel(100, 356), picture);
  // The tally ends: the bars show grey again, not the old red edge.
  f.box->tallyState = TallyNone;
  image = f.paint();
  EXPECT_EQ(image.pixel(0, 180), kGrey);
  EXPECT_EQ(image.pixel(100, 0), picture);
}

TEST(VidBoxPaint, BeforeTheFirstFrameOnlyTheBorder) {
  BoxFixture f;
  f.box->tallyState = TallyPreview;
  QImage image = f.paint();
  EXPECT_EQ(image.pixel(0, 0), kGreen);
  EXPECT_EQ(image.pixel(160, 90), kGrey);
  // A frame loaded but not presented is not drawn either.
  const SolidFrame frame(64, 36, qRgb(1, 2, 3));
  f.box->LoadFrame(frame.bytes.data(), frame.width, frame.height, frame.width * 4, kBGRA, k16x9);
  image = f.paint();
  EXPECT_EQ(image.pixel(160, 90), kGrey);
  EXPECT_FALSE(f.box->presented());
  f.box->Present();
  EXPECT_EQ(f.paint().pixel(160, 90), qRgb(1, 2, 3));
}

TEST(VidBoxPaint, FourthByteIsIgnored) {
  BoxFixture f;
  f.show(SolidFrame(64, 36, qRgb(250, 5, 40), /*alpha=*/0), k16x9);
  EXPECT_EQ(f.paint().pixel(160, 90), qRgb(250, 5, 40));
  // Also when no scaling is needed (frame as large as the box).
  f.show(SolidFrame(320, 180, qRgb(7, 99, 180), /*alpha=*/0), k16x9);
  QImage image = f.paint();
  EXPECT_EQ(image.pixel(0, 0), qRgb(7, 99, 180));
  EXPECT_EQ(image.pixel(319, 179), qRgb(7, 99, 180));
  // Through a window of its own, as the screen sees it.
  image = f.window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(image.pixel(160, 90), qRgb(7, 99, 180));
}

TEST(VidBoxPaint, NoBufferOrEmptyImageDrawsNoPicture) {
  QWidget window;
  auto* box = new VidBox(&window);  // never set up: no buffer
  box->setGeometry(0, 0, 320, 180);
  const SolidFrame frame(64, 36, qRgb(9, 9, 9));
  box->LoadFrame(frame.bytes.data(), 64, 36, 64 * 4, kBGRA, k16x9);
  box->Present();
  EXPECT_EQ(box->grab().toImage().pixel(160, 90), kGrey);

  // A frame of height 1 and width 800 halves to no rows: nothing drawn.
  BoxFixture f;
  f.show(SolidFrame(800, 1, qRgb(9, 9, 9)), k16x9);
  EXPECT_EQ(f.paint().pixel(160, 90), kGrey);
  // Aspect 0: a destination 0 wide; the bars only.
  f.show(SolidFrame(64, 36, qRgb(9, 9, 9)), 0.0f);
  EXPECT_EQ(f.paint().pixel(160, 90), kGrey);
}

TEST(VidBoxDrop, LocalPathsReachTheWindowUncut) {
  BoxFixture f;
  QSignalSpy spy(f.box, &VidBox::filesDropped);
  const QString longPath =
      QStringLiteral("/media/shows/") + QString(300, u'p') + QStringLiteral("/slide 001 & co.png");
  ASSERT_GT(longPath.size(), 259);

  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(longPath), QUrl(QStringLiteral("https://example.com/x.png")),
                QUrl::fromLocalFile(QStringLiteral("/tmp/second.png"))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(f.box, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(f.box, &drop);
  ASSERT_EQ(spy.count(), 1);
  const QStringList paths = spy.at(0).at(0).toStringList();
  ASSERT_EQ(paths.size(), 2);
  EXPECT_EQ(paths[0], longPath);
  EXPECT_EQ(paths[1], QStringLiteral("/tmp/second.png"));

  // Nothing local: refused, no signal.
  QMimeData remote;
  remote.setUrls({QUrl(QStringLiteral("https://example.com/x.png"))});
  QDragEnterEvent enterRemote(QPoint(5, 5), Qt::CopyAction, &remote, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(f.box, &enterRemote);
  EXPECT_FALSE(enterRemote.isAccepted());
  QMimeData text;
  text.setText(QStringLiteral("/tmp/not-a-url.png"));
  QDropEvent dropText(QPointF(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(f.box, &dropText);
  EXPECT_EQ(spy.count(), 1);
}

}  // namespace
}  // namespace plombix
