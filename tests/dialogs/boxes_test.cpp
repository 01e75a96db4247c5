// The window's boxes: the About box, the support window and the plain
// message boxes.
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "about_dialog.h"
#include "ad_dialog.h"
#include "links.h"
#include "message_box.h"
#include "picture_label.h"
#include "qt_test_app.h"

namespace plombix {
namespace {

TEST(AboutDialog, ProductLineAndAddedLinesShownWhole) {
  // The runtime's version: its text's last word, or all of a text without
  // blanks; "%" markers are shown, not substituted.
  const struct { const char *own, *ndi, *line; } rows[] = {
      {"1.0.3.0", "NDI SDK LINUX 18:00:58 Dec 21 2018 5.6.1", "NDI\u00ae Plombix, v1.0.3.0, NDI v5.6.1, x64"},
      {"", "NDI-6.0.0-beta", "NDI\u00ae Plombix, v, NDI vNDI-6.0.0-beta, x64"},
      {"%2", "NDI 5.6.1 ", "NDI\u00ae Plombix, v%2, NDI v5.6.1, x64"},
      {"", nullptr, "NDI\u00ae Plombix, v, NDI v, x64"},
  };
  for (const auto& r : rows) EXPECT_EQ(AboutProductLine(r.own, r.ndi), QString::fromUtf8(r.line)) << r.own;

  // The longest texts the added lines show wrap inside the box, below OK.
  CAboutDlg about;
  about.ndiVersionText = "Vora Plombix stand-in runtime 1.0.3.0";
  about.runtimeDescription = QStringLiteral("the built-in stand-in runtime (HTTP, not the NDI wire protocol)");
  about.sourceName = QStringLiteral("Vora Plombix 8");
  about.sourceAddress = QStringLiteral("http://[fd12:3456:789a:1::1234]:6160/");
  about.settingsPath = QStringLiteral("/home/an-operator-with-a-long-name/.config/vora-plombix/last8.plq");
  EXPECT_TRUE(about.OnInitDialog());
  about.show();
  EXPECT_EQ(about.addedLine(kAboutSettingsLineId)->text(), "Settings: " + about.settingsPath);
  for (const int id : {kAboutRuntimeLineId, kAboutSourceLineId, kAboutSettingsLineId}) {
    const QLabel* line = about.addedLine(id);
    EXPECT_GE(line->geometry().top(), about.controls().control(1)->geometry().bottom()) << id;
    EXPECT_TRUE(about.rect().contains(line->geometry())) << id;
    EXPECT_GE(line->height(), line->heightForWidth(line->width())) << id;
    EXPECT_LE(line->fontMetrics().boundingRect(line->rect(), Qt::TextWordWrap, line->text()).width(), line->width());
  }
  about.controls().as<QPushButton>(1)->click();
  EXPECT_TRUE(!about.isVisible() && about.result() == QDialog::Accepted);
}

TEST(SupportPlacement, HandWorked) {
  const struct { QRect main; QSize support; QPoint mainAt, supportAt; } rows[] = {
      // left = 100 - (672 - 500) / 2 = 14; top = bottom 800 - 240 = 560; the
      // main window rises 250 to 150 (bottom 550), 10 above the support window.
      {{100, 400, 500, 400}, {672, 440}, {100, 150}, {14, 560}},
      {{100, 400, 500, 400}, {673, 440}, {100, 150}, {14, 560}},  // 173 / 2 truncates to 86
      {{100, 400, 500, 400}, {401, 300}, {100, 150}, {149, 560}},  // -99 / 2 = -49, toward zero
      {{0, 10, 300, 200}, {300, 200}, {0, -240}, {0, -30}},        // above the screen's top
  };
  for (const auto& r : rows) {
    const SupportPlacement p = PlaceSupportWindow(r.main, r.support);
    EXPECT_EQ(p.mainTopLeft, r.mainAt) << r.support.width();
    EXPECT_EQ(p.supportTopLeft, r.supportAt) << r.support.width();
  }
}

TEST(SupportDialog, PictureSequenceTimersAndCancel) {
  for (int choice = 0; choice <= 9; ++choice) {
    SCOPED_TRACE(choice);
    const int first = choice == 3 || choice == 4 || choice == 8 ? 190 : 191;
    AdDialog dialog;
    dialog.pictureChoice = choice;
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    EXPECT_EQ(dialog.shownBitmapId(), first);
    // The picture at (10, 10) inside the window, the buttons below.
    EXPECT_EQ(dialog.picture()->pos(), QPoint(10, 10));
    EXPECT_TRUE(dialog.rect().contains(dialog.picture()->geometry()));
    EXPECT_GE(dialog.controls().control(2)->y(), 370);
    if (choice == 0) {  // Cancel hides it for good: a later timer shows nothing
      dialog.controls().as<QPushButton>(2)->click();
      dialog.onTimer(AdDialog::kTimerSwap);
      EXPECT_FALSE(dialog.isVisible());
      continue;
    }
    dialog.onTimer(77);  // not a timer of the window: nothing changes
    dialog.onTimer(AdDialog::kTimerSwap);
    EXPECT_EQ(dialog.shownBitmapId(), 190);
    EXPECT_TRUE(!dialog.timerActive(AdDialog::kTimerSwap) && dialog.timerActive(AdDialog::kTimerHide));
    dialog.onTimer(AdDialog::kTimerHide);
    EXPECT_FALSE(dialog.isVisible() || dialog.timerActive(AdDialog::kTimerHide));
  }
}

// The boxes the window shows, built as its prompter builds them: wide
// enough for their title (its 11-point bold face plus six title-bar buttons
// of 24 pixels, worked apart from message_box.cpp), also after a re-layout,
// with the buttons, default and icon asked for.
TEST(MessageBox, WideEnoughForItsTitleWithTheButtonsAsked) {
  QFont bold(QStringLiteral("DejaVu Sans"), 11);
  bold.setBold(true);
  for (const auto& [buttons, title] : {std::pair{BoxButtons::OkCancel, "Quit Plombix"},
                                       {BoxButtons::Ok, "Save File"}, {BoxButtons::Ok, "Vora Plombix"}}) {
    SCOPED_TRACE(title);
    QMessageBox box;
    SetUpMessageBox(box, buttons, QString::fromUtf8(title), QStringLiteral("OK?"));
    const bool confirm = buttons == BoxButtons::OkCancel;
    EXPECT_EQ(box.standardButtons(),
              confirm ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(static_cast<QAbstractButton*>(box.defaultButton()),
              box.button(confirm ? QMessageBox::Cancel : QMessageBox::Ok));
    EXPECT_EQ(box.icon(), confirm ? QMessageBox::Question : QMessageBox::Information);
    for (const int points : {8, 7}) {
      box.setFont(QFont(QStringLiteral("DejaVu Sans"), points));
      box.show();
      QApplication::processEvents();
      EXPECT_GE(box.width(), QFontMetrics(bold).horizontalAdvance(QString::fromUtf8(title)) + 6 * 24) << points;
    }
  }
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
  AdDialog dialog;
  dialog.show();
  for (const int id : {2100, 2101, 2105, 2106}) QTest::mouseClick(dialog.controls().control(id), Qt::LeftButton);
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  EXPECT_EQ(recorder.opened, (QList<QUrl>{QUrl(links::kMakerSiteUrl), QUrl(links::kOnlineStoreUrl),
                                          QUrl(links::kSocialPageUrl), QUrl(links::kVideoChannelUrl)}));
}

}  // namespace
}  // namespace plombix

#include "boxes_test.moc"
