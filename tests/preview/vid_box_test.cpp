// The VidBox widget: placements, bars, tally border and drops, by pixels offscreen.
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>
#include <gtest/gtest.h>

#include <vector>

#include "../dialogs/qt_test_app.h"
#include "vid_box.h"

namespace plombix {
namespace {

constexpr QRgb kGrey = qRgb(100, 100, 100), kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0);
constexpr float k16x9 = 16.0f / 9.0f, k4x3 = 4.0f / 3.0f;

// A VidBox set up in a window, with the window's thin border (as the layout
// table gives it): one pixel larger on every side than its client area.
struct BoxFixture {
  QWidget window;
  VidBox* box = new VidBox(&window);
  explicit BoxFixture(QSize client = {320, 180}) {
    box->setFrameStyle(QFrame::Box | QFrame::Plain);
    box->setGeometry(QRect(QPoint(0, 0), client + QSize(2, 2)));
    window.resize(client + QSize(2, 2));
    EXPECT_TRUE(box->Setup());
  }
  // Loads a frame of one colour (bytes blue, green, red, alpha); presents it.
  void show(int w, int h, QRgb colour, float aspect, uint8_t alpha = 255, bool present = true) {
    std::vector<uint8_t> bytes(size_t(w) * size_t(h) * 4);
    const uint8_t pixel[4] = {uint8_t(qBlue(colour)), uint8_t(qGreen(colour)), uint8_t(qRed(colour)), alpha};
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = pixel[i % 4];
    box->LoadFrame(bytes.data(), w, h, w * 4, 0x41524742 /* BGRA */, aspect);
    if (present) box->Present();
  }
  // The whole box as painted, frame included; its client area, where the
  // fit arithmetic applies (figures in client pixels).
  QImage paintWhole() { return box->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  QImage paint() { return paintWhole().copy(box->clientRect()); }
};

TEST(VidBoxSetup, BorderWidthIsTheClientHeightOver64ButAtLeastTwo) {
  // The client height counts: a client 640 high gets 10, a widget 640 high (client 638) 9.
  for (auto [client, width] : {std::pair{QSize(227, 100), 2}, {QSize(1138, 640), 10}, {QSize(1136, 638), 9}}) {
    BoxFixture f(client);
    EXPECT_EQ(std::tuple(f.box->clientRect(), f.box->borderWidth, f.box->tallyState),
              std::tuple(QRect(QPoint(1, 1), client), width, int(TallyNone)));
  }
}

TEST(VidBoxPaint, ThePictureFillsItsDestinationAndTheBarsAreGrey) {
  // The rectangle is PreviewFrame's (tested there); a frame halved to no rows,
  // a ratio of 0, or a frame not presented shows bars only. The fourth byte
  // is ignored (alpha 0 shows as colour), also when no scaling is needed.
  const struct { int frameW, frameH; float aspect; uint8_t alpha = 255; bool present = true; } rows[] = {
      {64, 36, k16x9}, {36, 64, 9.0f / 16.0f}, {72, 36, 2.0f}, {1920, 1080, k16x9}, {800, 1, k16x9},
      {64, 36, 0.0f},  {320, 180, k16x9, 0},   {64, 36, k16x9, 255, false}};
  const QRgb colour = qRgb(20, 200, 60);
  for (const auto& r : rows) {
    BoxFixture f;
    f.show(r.frameW, r.frameH, colour, r.aspect, r.alpha, r.present);
    const PreviewRect d = r.frameH > 1 && r.present ? f.box->frame().DestinationRect(320, 180) : PreviewRect{};
    const QImage image = f.paint();
    int wrong = 0;
    for (int y = 0; y < 180; ++y)
      for (int x = 0; x < 320; ++x)
        wrong += image.pixel(x, y) != (QRect(d.x, d.y, d.width, d.height).contains(x, y) ? colour : kGrey);
    EXPECT_EQ(wrong, 0) << r.frameW << " x " << r.frameH << " at " << r.aspect;
    EXPECT_EQ(f.box->presented(), r.present);
  }
  BoxFixture f;  // through a window of its own, as the screen sees it
  f.show(64, 36, colour, k16x9, 0);
  EXPECT_EQ(f.window.grab().toImage().convertToFormat(QImage::Format_ARGB32).pixel(160, 90), colour);
}

TEST(VidBoxPaint, BarsArePaintedOnlyWhenThePlacementChanged) {
  // 4:3 after 16:9 raises the flag: the bars are cleared once and the flag
  // goes down; without it the bars keep what was painted there before.
  const QRgb blue = qRgb(0, 0, 255), green = qRgb(0, 160, 0);
  for (const bool flag : {true, false}) {
    BoxFixture f;
    f.show(64, 36, blue, k16x9);
    EXPECT_EQ(f.paint().pixel(0, 90), blue);
    f.show(48, 36, green, k4x3);
    f.box->frame().needsClear &= int(flag);
    const QImage image = f.paint();
    EXPECT_EQ(std::tuple(f.box->frame().needsClear, image.pixel(39, 90), image.pixel(40, 90), f.paint().pixel(0, 90)),
              std::tuple(0, flag ? kGrey : blue, green, flag ? kGrey : blue));  // a later paint keeps them
  }
}

TEST(VidBoxPaint, TallyBordersInsideTheThinFrame) {
  // Client 320 x 180 (border 2: one pixel inside) and 640 x 360 (border 5, the
  // pen centred on the edge: three inside). "Program and preview" comes as
  // program (1), an unknown value paints like it. The thin frame stays as it is.
  const QRgb picture = qRgb(200, 200, 0);
  for (auto [client, in] : {std::pair{QSize(320, 180), 1}, {QSize(640, 360), 3}})
    for (auto [tally, colour] :
         {std::pair{int(TallyNone), picture}, {TallyProgram, kRed}, {TallyPreview, kGreen}, {7, kRed}}) {
      BoxFixture f(client);
      f.show(64, 48, picture, k4x3);  // 4:3: the bars beside it are grey
      f.box->tallyState = tally;
      const QImage whole = f.paintWhole(), image = whole.copy(f.box->clientRect());
      const int w = client.width(), h = client.height();
      const int bar = f.box->frame().DestinationRect(w, h).x;  // the picture's left edge
      for (const QPoint p : {QPoint(0, 0), QPoint(w + 1, h + 1), QPoint(w / 2, 0), QPoint(0, h / 2)})
        EXPECT_EQ(whole.pixel(p), f.box->palette().color(QPalette::WindowText).rgb()) << tally;
      const QRgb edge = tally == TallyNone ? kGrey : colour;
      for (const QPoint p : {QPoint(in - 1, h / 2), QPoint(w - in, h / 2), QPoint(w / 2, in - 1), {w / 2, h - in}})
        EXPECT_EQ(image.pixel(p), p.y() == h / 2 ? edge : colour) << tally << " at " << p.x() << "," << p.y();
      EXPECT_EQ(std::tuple(image.pixel(in, h / 2), image.pixel(bar, h / 2), image.pixel(w / 2, in)),
                std::tuple(kGrey, picture, picture)) << tally;
      f.box->tallyState = TallyNone;  // the tally ends: no stale edge in the bars
      EXPECT_EQ(f.paint().pixel(0, h / 2), kGrey);
    }
}

TEST(VidBoxDrop, LocalPathsReachTheWindowUncut) {
  BoxFixture f;
  QSignalSpy spy(f.box, &VidBox::filesDropped);
  const QString longPath = "/media/shows/" + QString(300, u'p') + "/slide 001 & co.png";
  const QUrl remote(QStringLiteral("https://example.com/x.png"));
  QMimeData mime, remoteOnly, text;
  mime.setUrls({QUrl::fromLocalFile(longPath), remote, QUrl::fromLocalFile(QStringLiteral("/tmp/second.png"))});
  remoteOnly.setUrls({remote});
  text.setText(QStringLiteral("/tmp/not-a-url.png"));
  for (QMimeData* data : {&mime, &remoteOnly, &text}) {
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.box, &enter);
    EXPECT_EQ(enter.isAccepted(), data == &mime);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.box, &drop);
  }
  // Only the local paths of the first drop, in order; nothing for the others.
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toStringList(), (QStringList{longPath, QStringLiteral("/tmp/second.png")}));
}

}  // namespace
}  // namespace plombix
