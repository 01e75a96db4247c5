#include "prompter.h"

#include <QMessageBox>

#include "message_box.h"

namespace plombix {
namespace {

QString TitleOrName(const QString& title) {
  return title.isEmpty() ? QString::fromUtf8(kApplicationName) : title;
}

}  // namespace

void MessageBoxPrompter::message(const QString& text, const QString& title) {
  QMessageBox box(parent_);
  SetUpMessageBox(box, BoxButtons::Ok, TitleOrName(title), text);
  box.exec();
}

bool MessageBoxPrompter::confirm(const QString& text, const QString& title) {
  QMessageBox box(parent_);
  SetUpMessageBox(box, BoxButtons::OkCancel, TitleOrName(title), text);
  return box.exec() == QMessageBox::Ok;
}

}  // namespace plombix
