#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

#include "message_box.h"
#include "qt_test_app.h"

namespace plombix {
namespace {

// The boxes the window shows, built as its prompter builds them and shown
// without a modal loop.
TEST(MessageBox, WideEnoughForItsTitleWithTheButtonsAsked) {
  // Independent of the rule in message_box.cpp: the title in an 11-point
  // bold face of the test font plus six title-bar buttons of 24 pixels, a
  // common size (icon and close, minimise, maximise; room on both sides for
  // a centred title).
  QFont bold(QStringLiteral("DejaVu Sans"));
  bold.setPointSize(11);
  bold.setBold(true);
  const QFontMetrics fm(bold);
  const struct {
    BoxButtons buttons;
    const char* title;
    const char* text;
  } rows[] = {
      {BoxButtons::OkCancel, "Quit Plombix", "OK to exit?"},
      {BoxButtons::Ok, "Save File", "Config file saved OK"},
      {BoxButtons::Ok, "Load File", "Problem loading file"},
      {BoxButtons::Ok, "Vora Plombix", "Cannot run NDI."},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.title);
    const QString title = QString::fromUtf8(r.title);
    QMessageBox box;
    SetUpMessageBox(box, r.buttons, title, QString::fromUtf8(r.text));
    box.show();
    QApplication::processEvents();
    EXPECT_GE(box.width(), fm.horizontalAdvance(title) + 6 * 24);
    EXPECT_GE(box.width(), TitleBarWidth(title));
    EXPECT_EQ(box.windowTitle(), title);
    EXPECT_EQ(box.text(), QString::fromUtf8(r.text));
    const bool confirm = r.buttons == BoxButtons::OkCancel;
    EXPECT_EQ(box.standardButtons(),
              confirm ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(static_cast<QAbstractButton*>(box.defaultButton()),
              box.button(confirm ? QMessageBox::Cancel : QMessageBox::Ok));
    EXPECT_EQ(box.icon(), confirm ? QMessageBox::Question : QMessageBox::Information);
    // A later layout pass (a font change re-lays the box out) keeps it wide.
    box.setFont(QFont(QStringLiteral("DejaVu Sans"), 7));
    QApplication::processEvents();
    EXPECT_GE(box.width(), TitleBarWidth(title));
    box.hide();

    // The same box left to itself is narrower than its title needs.
    QMessageBox plain(confirm ? QMessageBox::Question : QMessageBox::Information, title,
                      QString::fromUtf8(r.text),
                      confirm ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
    plain.show();
    QApplication::processEvents();
    EXPECT_LT(plain.width(), fm.horizontalAdvance(title) + 6 * 24);
    plain.hide();
  }
}

}  // namespace
}  // namespace plombix
