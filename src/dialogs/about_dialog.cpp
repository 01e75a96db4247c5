#include "about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "links.h"

namespace plombix {

QString NdiVersionPart(const char* ndiVersionText) {
  if (ndiVersionText == nullptr) return {};
  QString text = QString::fromUtf8(ndiVersionText);
  // Trailing blanks would otherwise leave an empty last word.
  while (!text.isEmpty() && text.back() == u' ') text.chop(1);
  const qsizetype blank = text.lastIndexOf(u' ');
  return blank < 0 ? text : text.mid(blank + 1);
}

QString AboutProductLine(const QString& versionText, const char* ndiVersionText) {
  // One-pass substitution: a '%' in either text is shown as it is.
  return QStringLiteral("NDI\u00ae Plombix, v%1, NDI v%2, x%3")
      .arg(versionText, NdiVersionPart(ndiVersionText), QString::number(64));
}

QString AboutCompanyLine(const QString& releaseDate) {
  return QString::fromUtf8(links::kMakerCompanyLine) + QStringLiteral(", ") + releaseDate;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  built_ = BuildDialog(AboutTemplate(), this);
  setWindowTitle(QString::fromUtf8(AboutTemplate().caption));
  setFixedSize(built_.clientSize());
  if (auto* ok = built_.as<QPushButton>(1)) connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

bool CAboutDlg::OnInitDialog() {
  const char* ndi = ndiVersionText.isEmpty() ? nullptr : ndiVersionText.constData();
  if (auto* product = built_.as<QLabel>(1022)) product->setText(AboutProductLine(versionText, ndi));
  if (auto* company = built_.as<QLabel>(1023)) company->setText(AboutCompanyLine(releaseDate));
  return true;
}

int CAboutDlg::DoModal() {
  (void)OnInitDialog();
  return exec();
}

}  // namespace plombix
