// AdDialog: the support window shown under the main window at start
// ("How you can support development of this NDI software...", template
// 122). It shows one of two built-in 640 x 360 pictures, offers links to the
// maker's web site, online store, social page and video channel, and hides
// itself after its two timers (9,000 ms, then 10,531 ms) or on "Cancel".
// Modeless; it never blocks the main window and keeps no state between runs.
//
// Timers: timer 1 shows bitmap 190 and starts timer 2; timer 2 hides the
// window. The real timers call onTimer(id); tests call it directly. A timer
// that fires after the window was hidden never shows it again.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>

#include "dialog_template.h"

namespace plombix {

class PictureLabel;

// Where the main and support windows go at the first showing (window frame
// rectangles, right/bottom exclusive: bottom = top + height). The main window
// moves 250 pixels up; the support window's left edge is
// main.left - (support width - main width) / 2 (C++ division, truncating
// toward zero), its top is the main window's former bottom - 240, which is
// 10 pixels below the main window's new bottom.
struct SupportPlacement {
  QPoint mainTopLeft;
  QPoint supportTopLeft;
};
SupportPlacement PlaceSupportWindow(const QRect& mainFrame, const QSize& supportFrameSize);

// The bitmap the picture shows first: 190 for pictureChoice 3, 4 or 8,
// otherwise 191.
int FirstSupportBitmap(int pictureChoice);

class AdDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kTimerSwap = 1;  // 9,000 ms
  static constexpr int kTimerHide = 2;  // 10,531 ms
  static constexpr int kSwapMs = 9000;
  static constexpr int kHideMs = 10531;

  explicit AdDialog(QWidget* parent = nullptr);

  int firstBitmapId = 190;
  int pictureChoice = 0;  // 0..9, drawn by the main window

  // Creates the picture at (10,10)-(640,360), shows the first bitmap and
  // starts timer 1. Called once, before the first show (ShowUnder does it).
  bool OnInitDialog();
  // Timer dispatch: 1 swaps the picture to 190 and starts timer 2; 2 hides
  // the window; others do nothing.
  void onTimer(int id);
  bool timerActive(int id) const;

  // The whole first showing: moves `mainWindow` 250 pixels up, runs
  // OnInitDialog, places this window under it and shows it.
  void ShowUnder(QWidget* mainWindow);

  // The bitmap id the picture shows now (0 before OnInitDialog).
  int shownBitmapId() const;
  PictureLabel* picture() const { return picture_; }
  const BuiltDialog& controls() const { return built_; }

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  void showBitmap(int id);

  BuiltDialog built_;
  PictureLabel* picture_ = nullptr;
  QBasicTimer swapTimer_;
  QBasicTimer hideTimer_;
};

}  // namespace plombix
