#include "ad_dialog.h"

#include <QPushButton>
#include <QTimerEvent>

#include "links.h"
#include "picture_label.h"

namespace plombix {

SupportPlacement PlaceSupportWindow(const QRect& mainFrame, const QSize& supportFrameSize) {
  constexpr int kMainRise = 250;
  constexpr int kBelowFormerBottom = 240;  // = 10 below the raised bottom
  const int formerBottom = mainFrame.y() + mainFrame.height();
  SupportPlacement placement;
  placement.mainTopLeft = QPoint(mainFrame.x(), mainFrame.y() - kMainRise);
  placement.supportTopLeft =
      QPoint(mainFrame.x() - (supportFrameSize.width() - mainFrame.width()) / 2,
             formerBottom - kBelowFormerBottom);
  return placement;
}

int FirstSupportBitmap(int pictureChoice) {
  return (pictureChoice == 3 || pictureChoice == 4 || pictureChoice == 8) ? 190 : 191;
}

AdDialog::AdDialog(QWidget* parent) : QDialog(parent) {
  built_ = BuildDialog(SupportTemplate(), this);
  setWindowTitle(QString::fromUtf8(SupportTemplate().caption));
  setFixedSize(built_.clientSize());
  setModal(false);
  if (auto* ok = built_.as<QPushButton>(1)) connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  if (auto* cancel = built_.as<QPushButton>(2)) {
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  }
  const auto link = [this](int id, const char* url) {
    QWidget* control = built_.control(id);
    if (auto* button = qobject_cast<QPushButton*>(control)) {
      connect(button, &QPushButton::clicked, this, [url] { links::OpenLink(url); });
    } else if (auto* picture = qobject_cast<PictureLabel*>(control)) {
      connect(picture, &PictureLabel::clicked, this, [url] { links::OpenLink(url); });
    }
  };
  link(2100, links::kMakerSiteUrl);
  link(2101, links::kOnlineStoreUrl);
  link(2105, links::kSocialPageUrl);
  link(2106, links::kVideoChannelUrl);
}

bool AdDialog::OnInitDialog() {
  if (picture_ != nullptr) return true;  // the picture is made once
  picture_ = new PictureLabel(this);
  // (10, 10) to (640, 360); a bitmap then gives the picture its own size.
  picture_->setGeometry(QRect(QPoint(10, 10), QPoint(639, 359)));
  picture_->show();
  const int first = FirstSupportBitmap(pictureChoice);
  showBitmap(first == 190 ? firstBitmapId : first);
  swapTimer_.start(kSwapMs, this);
  return true;
}

void AdDialog::onTimer(int id) {
  switch (id) {
    case kTimerSwap:
      showBitmap(firstBitmapId);
      hideTimer_.start(kHideMs, this);
      swapTimer_.stop();
      break;
    case kTimerHide:
      hide();
      hideTimer_.stop();
      break;
    default:
      break;
  }
}

bool AdDialog::timerActive(int id) const {
  if (id == kTimerSwap) return swapTimer_.isActive();
  if (id == kTimerHide) return hideTimer_.isActive();
  return false;
}

void AdDialog::timerEvent(QTimerEvent* event) {
  if (event->timerId() == swapTimer_.timerId()) {
    onTimer(kTimerSwap);
  } else if (event->timerId() == hideTimer_.timerId()) {
    onTimer(kTimerHide);
  } else {
    QDialog::timerEvent(event);
  }
}

int AdDialog::shownBitmapId() const { return picture_ != nullptr ? picture_->bitmapId() : 0; }

void AdDialog::showBitmap(int id) {
  if (picture_ != nullptr) picture_->setBitmapId(id);
}

void AdDialog::ShowUnder(QWidget* mainWindow) {
  (void)OnInitDialog();
  if (mainWindow == nullptr) {
    show();
    return;
  }
  const QRect mainFrame = mainWindow->frameGeometry();
  // Before its first showing this window has no frame yet; take the main
  // window's frame margins as its own.
  const QSize margins = mainFrame.size() - mainWindow->size();
  const SupportPlacement placement = PlaceSupportWindow(mainFrame, size() + margins);
  mainWindow->move(placement.mainTopLeft);
  move(placement.supportTopLeft);
  show();
}

}  // namespace plombix
