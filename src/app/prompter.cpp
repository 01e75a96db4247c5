#include "prompter.h"

#include <QMessageBox>

namespace plombix {
namespace {

QString TitleOrName(const QString& title) {
  return title.isEmpty() ? QString::fromUtf8(kApplicationName) : title;
}

}  // namespace

void MessageBoxPrompter::message(const QString& text, const QString& title) {
  QMessageBox::information(parent_, TitleOrName(title), text, QMessageBox::Ok);
}

bool MessageBoxPrompter::confirm(const QString& text, const QString& title) {
  return QMessageBox::question(parent_, TitleOrName(title), text,
                               QMessageBox::Ok | QMessageBox::Cancel,
                               QMessageBox::Cancel) == QMessageBox::Ok;
}

}  // namespace plombix
