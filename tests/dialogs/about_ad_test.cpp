#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "about_dialog.h"
#include "ad_dialog.h"
#include "links.h"
#include "picture_label.h"
#include "qt_test_app.h"

namespace plombix {
namespace {

TEST(AboutText, NdiVersionIsTheLastBlankSeparatedWord) {
  for (const auto& [in, out] : {std::pair{"NDI SDK LINUX 18:00:58 Dec 21 2018 3.8.0", "3.8.0"},
                                {"5.6.1", "5.6.1"},
                                {"NDI-6.0.0-beta", "NDI-6.0.0-beta"},
                                {"", ""},
                                {"NDI 5.6.1 ", "5.6.1"},
                                {"   ", ""}}) {
    EXPECT_EQ(NdiVersionPart(in), QString::fromUtf8(out)) << in;
  }
  EXPECT_EQ(NdiVersionPart(nullptr), QString());
}

TEST(AboutText, ProductAndCompanyLines) {
  // The runtime version is the last word of its text; own version or
  // runtime version unknown leave their place empty.
  EXPECT_EQ(AboutProductLine(QString(), "5.6.1"), QStringLiteral("NDI\u00ae Plombix, v, NDI v5.6.1, x64"));
  EXPECT_EQ(AboutProductLine(QString(), nullptr), QStringLiteral("NDI\u00ae Plombix, v, NDI v, x64"));
  // Place markers inside the inputs are shown, not substituted.
  EXPECT_EQ(AboutProductLine(QStringLiteral("%2"), "%1"),
            QStringLiteral("NDI\u00ae Plombix, v%2, NDI v%1, x64"));
  EXPECT_EQ(AboutCompanyLine(QStringLiteral("Dec-2026")), QStringLiteral("Voracraft Ltd, Dec-2026"));
}

TEST(AboutText, RuntimeAndSourceLines) {
  const QString standIn = QStringLiteral("the built-in stand-in runtime (HTTP, not the NDI wire protocol)");
  EXPECT_EQ(AboutRuntimeLine(standIn, "Vora Plombix stand-in runtime 1.0.3.0"),
            QStringLiteral("NDI runtime: ") + standIn +
                QStringLiteral(", Vora Plombix stand-in runtime 1.0.3.0"));
  EXPECT_EQ(AboutRuntimeLine(QStringLiteral("the vendor's NDI runtime"), " "),
            QStringLiteral("NDI runtime: the vendor's NDI runtime"));
  EXPECT_EQ(AboutRuntimeLine(QString(), "5.6.1"), QStringLiteral("NDI runtime: unknown"));
  EXPECT_EQ(AboutSourceLine(QStringLiteral("Vora Plombix 1"), QStringLiteral("http://127.0.0.1:5961/")),
            QStringLiteral("Source: Vora Plombix 1 \u2014 http://127.0.0.1:5961/"));
  EXPECT_EQ(AboutSourceLine(QStringLiteral("HOST (Vora Plombix 1)"), QString()),
            QStringLiteral("Source: HOST (Vora Plombix 1)"));
  EXPECT_EQ(AboutSourceLine(QString(), QStringLiteral("http://x/")), QStringLiteral("Source: not published"));
}

TEST(AboutDialog, FillsItsTextsAndClosesOnOk) {
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About NDI\u00ae Plombix"));
  about.versionText = QStringLiteral("1.0.3.0");
  about.releaseDate = QStringLiteral("Dec-2026");
  about.ndiVersionText = "NDI SDK LINUX 18:00:58 Dec 21 2018 3.8.0";
  about.runtimeDescription = QStringLiteral("the vendor's NDI runtime");
  about.sourceName = QStringLiteral("Vora Plombix 1");
  EXPECT_TRUE(about.OnInitDialog());
  EXPECT_EQ(about.controls().as<QLabel>(1022)->text(),
            QStringLiteral("NDI\u00ae Plombix, v1.0.3.0, NDI v3.8.0, x64"));
  EXPECT_EQ(about.controls().as<QLabel>(1023)->text(), QStringLiteral("Voracraft Ltd, Dec-2026"));
  EXPECT_EQ(about.addedLine(kAboutRuntimeLineId)->text(),
            QStringLiteral("NDI runtime: the vendor's NDI runtime, "
                           "NDI SDK LINUX 18:00:58 Dec 21 2018 3.8.0"));
  EXPECT_EQ(about.addedLine(kAboutSourceLineId)->text(), QStringLiteral("Source: Vora Plombix 1"));
  EXPECT_EQ(about.addedLine(1022), nullptr);
  // The added lines are whole with the longest texts they show: below the
  // template's controls, inside the box, tall enough for the wrapped text.
  about.runtimeDescription =
      QStringLiteral("the built-in stand-in runtime (HTTP, not the NDI wire protocol)");
  about.ndiVersionText = "Vora Plombix stand-in runtime 1.0.3.0";
  about.sourceName = QStringLiteral("Vora Plombix 8");
  about.sourceAddress = QStringLiteral("http://[fd12:3456:789a:1::1234]:6160/");
  EXPECT_TRUE(about.OnInitDialog());
  about.show();
  const QRect okButton = about.controls().control(1)->geometry();
  for (const int id : {kAboutRuntimeLineId, kAboutSourceLineId}) {
    const QLabel* line = about.addedLine(id);
    EXPECT_GE(line->geometry().top(), okButton.bottom()) << id;
    EXPECT_TRUE(about.rect().contains(line->geometry())) << id;
    EXPECT_GE(line->height(), line->heightForWidth(line->width())) << id;
  }
  about.show();
  about.controls().as<QPushButton>(1)->click();
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(SupportPlacement, HandWorked) {
  // Main frame at (100, 400), 500 x 400 (bottom 800); support 672 x 440.
  // left = 100 - (672 - 500) / 2 = 14; top = 800 - 240 = 560; the main
  // window rises to 150 (bottom 550), 10 above the support window.
  SupportPlacement p = PlaceSupportWindow(QRect(100, 400, 500, 400), QSize(672, 440));
  EXPECT_EQ(p.mainTopLeft, QPoint(100, 150));
  EXPECT_EQ(p.supportTopLeft, QPoint(14, 560));
  // Odd difference: (673 - 500) / 2 = 86 (173 / 2 truncated).
  EXPECT_EQ(PlaceSupportWindow(QRect(100, 400, 500, 400), QSize(673, 440)).supportTopLeft.x(), 14);
  // Narrower support window: (401 - 500) / 2 = -99 / 2 = -49 (toward zero),
  // so left = 100 + 49 = 149.
  EXPECT_EQ(PlaceSupportWindow(QRect(100, 400, 500, 400), QSize(401, 300)).supportTopLeft.x(), 149);
  // Near the screen's top the main window may go above it, as specified.
  p = PlaceSupportWindow(QRect(0, 10, 300, 200), QSize(300, 200));
  EXPECT_EQ(p.mainTopLeft, QPoint(0, -240));
  EXPECT_EQ(p.supportTopLeft, QPoint(0, -30));
}

TEST(SupportDialog, PictureSequenceForEveryChoice) {
  for (int choice = 0; choice <= 9; ++choice) {
    SCOPED_TRACE(choice);
    const bool stays = choice == 3 || choice == 4 || choice == 8;
    EXPECT_EQ(FirstSupportBitmap(choice), stays ? 190 : 191);
    AdDialog dialog;
    dialog.pictureChoice = choice;
    EXPECT_EQ(dialog.shownBitmapId(), 0);
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    EXPECT_EQ(dialog.shownBitmapId(), stays ? 190 : 191);
    EXPECT_TRUE(dialog.timerActive(AdDialog::kTimerSwap));
    EXPECT_FALSE(dialog.timerActive(AdDialog::kTimerHide));

    dialog.onTimer(77);  // unknown timers do nothing
    EXPECT_EQ(dialog.shownBitmapId(), stays ? 190 : 191);
    dialog.onTimer(AdDialog::kTimerSwap);
    EXPECT_EQ(dialog.shownBitmapId(), 190);
    EXPECT_TRUE(!dialog.timerActive(AdDialog::kTimerSwap) && dialog.timerActive(AdDialog::kTimerHide));
    EXPECT_TRUE(dialog.isVisible());
    dialog.onTimer(AdDialog::kTimerHide);
    EXPECT_FALSE(dialog.isVisible() || dialog.timerActive(AdDialog::kTimerHide));
  }
}

TEST(SupportDialog, CancelHidesAndLaterTimersShowNothing) {
  AdDialog dialog;
  dialog.pictureChoice = 0;
  ASSERT_TRUE(dialog.OnInitDialog());
  dialog.show();
  dialog.controls().as<QPushButton>(2)->click();
  for (const int timer : {0, AdDialog::kTimerSwap, AdDialog::kTimerHide}) {
    if (timer) dialog.onTimer(timer);
    EXPECT_FALSE(dialog.isVisible()) << timer;
  }
  // A second initialisation makes no second picture.
  PictureLabel* picture = dialog.picture();
  ASSERT_TRUE(dialog.OnInitDialog());
  EXPECT_EQ(dialog.picture(), picture);
}

TEST(SupportDialog, LayoutTitleAndPicturePlace) {
  AdDialog dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("How you can support development of this NDI software..."));
  EXPECT_FALSE(dialog.isModal());
  ASSERT_TRUE(dialog.OnInitDialog());
  EXPECT_EQ(dialog.picture()->pos(), QPoint(10, 10));
  // 640 x 360 with the bitmap, (10,10)-(640,360) until one is there.
  const QSize size = dialog.picture()->size();
  EXPECT_TRUE(size == QSize(640, 360) || size == QSize(630, 350)) << size.width() << "x" << size.height();
  // The picture fits the window, and the buttons sit below it.
  EXPECT_LE(dialog.picture()->geometry().right(), dialog.width());
  for (const int id : {2, 2100, 2101, 2105, 2106}) {
    EXPECT_GE(dialog.controls().control(id)->y(), 370) << id;
    EXPECT_LE(dialog.controls().control(id)->geometry().bottom(), dialog.height()) << id;
  }
  EXPECT_EQ(dialog.controls().as<QPushButton>(2100)->text(), QString::fromUtf8(links::kMakerSiteInvitation));
  EXPECT_TRUE(dialog.controls().as<QLabel>(2103)->text().isEmpty());
}

// Records what the link controls ask the desktop to open.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened.append(url); }
};

TEST(SupportDialog, LinksOpenTheirAddresses) {
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
  {
    AdDialog dialog;
    dialog.show();
    dialog.controls().as<QPushButton>(2100)->click();
    dialog.controls().as<QPushButton>(2101)->click();
    QTest::mouseClick(dialog.controls().control(2105), Qt::LeftButton);
    QTest::mouseClick(dialog.controls().control(2106), Qt::LeftButton);
  }
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  const QList<QUrl> expected = {QUrl(QString::fromUtf8(links::kMakerSiteUrl)),
                                QUrl(QString::fromUtf8(links::kOnlineStoreUrl)),
                                QUrl(QString::fromUtf8(links::kSocialPageUrl)),
                                QUrl(QString::fromUtf8(links::kVideoChannelUrl))};
  EXPECT_EQ(recorder.opened, expected);
  for (const QUrl& url : recorder.opened)
    EXPECT_TRUE(url.host().endsWith(QStringLiteral("voracraft.example")));
  EXPECT_EQ(QUrl(QString::fromUtf8(links::kNdiSiteUrl)).host(), QStringLiteral("ndi.video"));
}

}  // namespace
}  // namespace plombix

#include "about_ad_test.moc"
