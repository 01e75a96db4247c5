#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

#include "../dialogs/qt_test_app.h"
#include "vid_box.h"

namespace plombix {
namespace {

constexpr QRgb kGrey = qRgb(100, 100, 100);
constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kGreen = qRgb(0, 255, 0);
constexpr float k16x9 = 16.0f / 9.0f;
constexpr float k4x3 = 4.0f / 3.0f;

// A VidBox with the window's thin border (as the layout table gives it)
// around a client area of the given size, in a window, set up. The widget
// is one pixel larger on every side than the client area.
struct BoxFixture {
  QWidget window;
  VidBox* box = new VidBox(&window);
  explicit BoxFixture(QSize client = {320, 180}) {
    box->setFrameStyle(QFrame::Box | QFrame::Plain);
    box->setGeometry(QRect(QPoint(0, 0), client + QSize(2, 2)));
    window.resize(client + QSize(2, 2));
    EXPECT_TRUE(box->Setup());
  }
  // Loads a frame of one colour (bytes blue, green, red, alpha) and, unless
  // told not to, presents it.
  void show(int w, int h, QRgb colour, float aspect, uint8_t alpha = 255, bool present = true) {
    std::vector<uint8_t> bytes(size_t(w) * size_t(h) * 4);
    for (size_t i = 0; i < bytes.size(); i += 4) {
      const uint8_t pixel[4] = {uint8_t(qBlue(colour)), uint8_t(qGreen(colour)), uint8_t(qRed(colour)),
                                alpha};
      std::copy(pixel, pixel + 4, bytes.begin() + long(i));
    }
    box->LoadFrame(bytes.data(), w, h, w * 4, 0x41524742 /* BGRA */, aspect);
    if (present) box->Present();
  }
  // The whole box as painted, frame included.
  QImage paintWhole() { return box->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // Its client area, where the fit arithmetic applies (figures in client
  // pixels).
  QImage paint() { return paintWhole().copy(box->clientRect()); }
};

// The frame colour of a plain box frame: the palette's text colour.
QRgb FrameColour(const VidBox& box) { return box.palette().color(QPalette::WindowText).rgb(); }

TEST(VidBoxSetup, BorderWidthFromTheClientHeightAndItsInset) {
  BoxFixture f(QSize(227, 128));  // 128 / 64 = 2
  EXPECT_EQ(f.box->clientRect(), QRect(1, 1, 227, 128));
  EXPECT_EQ(f.box->borderWidth, 2);
  EXPECT_EQ(f.box->tallyState, TallyNone);
  // The client height counts, not the widget's: a client 640 high gets 10,
  // a widget 640 high with its frame (client 638) 638 / 64 = 9.
  for (auto [client, width] : {std::pair{QSize(1138, 640), 10}, {QSize(1136, 638), 9}})
    EXPECT_EQ(BoxFixture(client).box->borderWidth, width) << client.height();
  // Half the pen shows inside: 2 -> 1, 10 -> 5, odd widths round up.
  for (auto [width, inset] : {std::pair{2, 1}, {10, 5}, {3, 2}, {0, 0}, {-4, 0}})
    EXPECT_EQ(VidBox::BorderInset(width), inset) << width;
}

TEST(VidBoxPaint, PlacementsByAspectIn320x180) {
  // 16:9 fills; 9:16 is 320*81/256 = 101 wide at (320-101)/2 = 109;
  // 2:1 is 320 x 160 at y 10; a frame wider than 640 is halved first.
  const struct {
    const char* name;
    int frameW, frameH;
    float aspect;
    QRect where;
  } rows[] = {
      {"16:9", 64, 36, k16x9, QRect(0, 0, 320, 180)},
      {"9:16", 36, 64, 9.0f / 16.0f, QRect(109, 0, 101, 180)},
      {"2:1", 72, 36, 2.0f, QRect(0, 10, 320, 160)},
      {"16:9 halved", 1920, 1080, k16x9, QRect(0, 0, 320, 180)},
  };
  const QRgb colour = qRgb(20, 200, 60);
  for (const auto& r : rows) {
    BoxFixture f;
    f.show(r.frameW, r.frameH, colour, r.aspect);
    const QImage image = f.paint();
    int wrong = 0;
    for (int y = 0; y < 180; ++y)
      for (int x = 0; x < 320; ++x) wrong += image.pixel(x, y) != (r.where.contains(x, y) ? colour : kGrey);
    EXPECT_EQ(wrong, 0) << r.name;
  }
}

TEST(VidBoxPaint, BarsArePaintedOnlyWhenThePlacementChanged) {
  BoxFixture f;
  const QRgb blue = qRgb(0, 0, 255), green = qRgb(0, 160, 0);
  f.show(64, 36, blue, k16x9);
  EXPECT_EQ(f.paint().pixel(0, 90), blue);
  // 4:3 after 16:9: the bars are cleared once, then the flag is down.
  f.show(48, 36, green, k4x3);
  EXPECT_EQ(f.box->frame().needsClear, 1);
  QImage image = f.paint();
  EXPECT_EQ(f.box->frame().needsClear, 0);
  EXPECT_EQ(image.pixel(39, 90), kGrey);
  EXPECT_EQ(image.pixel(40, 90), green);
  EXPECT_EQ(f.paint().pixel(0, 90), kGrey);  // a later paint keeps them
  // Without the flag the bars keep what was painted there before.
  f.show(64, 36, blue, k16x9);
  EXPECT_EQ(f.paint().pixel(0, 90), blue);
  f.show(48, 36, green, k4x3);
  f.box->frame().needsClear = 0;
  image = f.paint();
  EXPECT_EQ(image.pixel(0, 90), blue);
  EXPECT_EQ(image.pixel(160, 90), green);
}

TEST(VidBoxPaint, TallyBordersInsideTheThinFrame) {
  // The window reports "program and preview" as program (1); an unknown
  // value paints like program.
  const QRgb picture = qRgb(10, 20, 30);
  for (const auto& [tally, colour] : {std::pair{int(TallyNone), picture}, {TallyProgram, kRed},
                                      {TallyPreview, kGreen}, {7, kRed}}) {
    BoxFixture f;
    f.show(64, 36, picture, k16x9);
    f.box->tallyState = tally;
    // The frame: the outermost ring of the 322 x 182 widget, whatever the
    // tally; everything else is the client area.
    const QImage whole = f.paintWhole();
    for (const QPoint p : {QPoint(0, 0), QPoint(321, 0), QPoint(0, 181), QPoint(321, 181), QPoint(160, 0),
                           QPoint(160, 181), QPoint(0, 90), QPoint(321, 90)})
      EXPECT_EQ(whole.pixel(p), FrameColour(*f.box)) << tally << " at " << p.x() << "," << p.y();
    EXPECT_NE(FrameColour(*f.box), picture);
    const QImage image = f.paint();
    // Border width 2: one pixel shows inside, on all four sides.
    for (const QPoint p : {QPoint(0, 0), QPoint(319, 0), QPoint(0, 179), QPoint(319, 179), QPoint(160, 0),
                           QPoint(160, 179), QPoint(0, 90), QPoint(319, 90)})
      EXPECT_EQ(image.pixel(p), colour) << tally << " at " << p.x() << "," << p.y();
    for (const QPoint p : {QPoint(1, 1), QPoint(318, 178), QPoint(160, 90)})
      EXPECT_EQ(image.pixel(p), picture) << tally << " at " << p.x() << "," << p.y();
  }
}

TEST(VidBoxPaint, WideBorderAndNoStaleBorderInTheBars) {
  // 360 / 64 = 5; a pen 5 wide centred on the edge shows 3 pixels inside.
  BoxFixture f(QSize(640, 360));
  ASSERT_EQ(f.box->borderWidth, 5);
  const QRgb picture = qRgb(200, 200, 0);
  f.show(48, 36, picture, k4x3);  // 480 wide at x 80
  f.box->tallyState = TallyProgram;
  QImage image = f.paint();
  const struct {
    int x, y;
    QRgb want;
  } points[] = {{2, 180, kRed},       {3, 180, kGrey},     {79, 180, kGrey},     {80, 180, picture},
                {559, 180, picture},  {560, 180, kGrey},   {100, 2, kRed},       {100, 3, picture},
                {637, 180, kRed},     {636, 180, kGrey},   {100, 357, kRed},     {100, 356, picture}};
  for (const auto& p : points) EXPECT_EQ(image.pixel(p.x, p.y), p.want) << p.x << "," << p.y;
  // The tally ends: the bars show grey again, not the old red edge.
  f.box->tallyState = TallyNone;
  image = f.paint();
  EXPECT_EQ(image.pixel(0, 180), kGrey);
  EXPECT_EQ(image.pixel(100, 0), picture);
}

TEST(VidBoxPaint, NothingBeforePresentAndNoPictureWithoutPixels) {
  BoxFixture f;
  f.box->tallyState = TallyPreview;
  EXPECT_EQ(f.paint().pixel(0, 0), kGreen);  // before the first frame only the border
  EXPECT_EQ(f.paint().pixel(160, 90), kGrey);
  f.show(64, 36, qRgb(1, 2, 3), k16x9, 255, false);  // loaded, not presented: not drawn
  EXPECT_EQ(f.paint().pixel(160, 90), kGrey);
  EXPECT_FALSE(f.box->presented());
  f.box->Present();
  EXPECT_EQ(f.paint().pixel(160, 90), qRgb(1, 2, 3));
  // A frame of height 1 and width 800 halves to no rows; aspect 0 gives a
  // destination 0 wide: the bars only.
  for (auto [w, h, aspect] : {std::tuple{800, 1, k16x9}, {64, 36, 0.0f}}) {
    BoxFixture g;
    g.show(w, h, qRgb(9, 9, 9), aspect);
    EXPECT_EQ(g.paint().pixel(160, 90), kGrey) << w;
  }
  // Never set up: no buffer, no picture.
  QWidget window;
  auto* box = new VidBox(&window);
  box->setGeometry(0, 0, 320, 180);
  const std::vector<uint8_t> bytes(64 * 36 * 4, 9);
  box->LoadFrame(bytes.data(), 64, 36, 64 * 4, 0x41524742, k16x9);
  box->Present();
  EXPECT_EQ(box->grab().toImage().pixel(160, 90), kGrey);
}

TEST(VidBoxPaint, FourthByteIsIgnored) {
  BoxFixture f;
  f.show(64, 36, qRgb(250, 5, 40), k16x9, /*alpha=*/0);
  EXPECT_EQ(f.paint().pixel(160, 90), qRgb(250, 5, 40));
  // Also when no scaling is needed (frame as large as the box), and through
  // a window of its own, as the screen sees it.
  f.show(320, 180, qRgb(7, 99, 180), k16x9, /*alpha=*/0);
  QImage image = f.paint();
  EXPECT_EQ(image.pixel(0, 0), qRgb(7, 99, 180));
  EXPECT_EQ(image.pixel(319, 179), qRgb(7, 99, 180));
  image = f.window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(image.pixel(160, 90), qRgb(7, 99, 180));
}

TEST(VidBoxDrop, LocalPathsReachTheWindowUncut) {
  BoxFixture f;
  QSignalSpy spy(f.box, &VidBox::filesDropped);
  const QString longPath =
      QStringLiteral("/media/shows/") + QString(300, u'p') + QStringLiteral("/slide 001 & co.png");
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(longPath), QUrl(QStringLiteral("https://example.com/x.png")),
                QUrl::fromLocalFile(QStringLiteral("/tmp/second.png"))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(f.box, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(f.box, &drop);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toStringList(), (QStringList{longPath, QStringLiteral("/tmp/second.png")}));
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
