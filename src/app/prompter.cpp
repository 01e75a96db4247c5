#include "prompter.h"

#include <QMessageBox>

#include <cstdio>

#include "message_box.h"

namespace plombix {
namespace {

QString TitleOrName(const QString& title) {
  return title.isEmpty() ? QString::fromUtf8(kApplicationName) : title;
}

// Every box is also a line on stderr: a player started from the desktop
// keeps it in the session's log, and a box nobody sees (a locked screen, a
// headless start) still leaves a trace.
void Log(const QString& title, const QString& text) {
  std::fprintf(stderr, "plombix: %s: %s\n", qUtf8Printable(title),
               qUtf8Printable(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
  std::fflush(stderr);
}

}  // namespace

void MessageBoxPrompter::message(const QString& text, const QString& title) {
  Log(TitleOrName(title), text);
  QMessageBox box(parent_);
  SetUpMessageBox(box, BoxButtons::Ok, TitleOrName(title), text);
  box.exec();
}

bool MessageBoxPrompter::confirm(const QString& text, const QString& title) {
  Log(TitleOrName(title), text);
  QMessageBox box(parent_);
  SetUpMessageBox(box, BoxButtons::OkCancel, TitleOrName(title), text);
  return box.exec() == QMessageBox::Ok;
}

}  // namespace plombix
