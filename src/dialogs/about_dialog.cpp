#include "about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <iterator>

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

QString AboutRuntimeLine(const QString& runtimeDescription, const char* ndiVersionText) {
  if (runtimeDescription.isEmpty()) return QStringLiteral("NDI runtime: unknown");
  const QString version = ndiVersionText ? QString::fromUtf8(ndiVersionText).trimmed() : QString();
  return QStringLiteral("NDI runtime: ") + runtimeDescription +
         (version.isEmpty() ? QString() : QStringLiteral(", ") + version);
}

QString AboutSourceLine(const QString& sourceName, const QString& sourceAddress) {
  if (sourceName.isEmpty()) return QStringLiteral("Source: not published");
  return QStringLiteral("Source: ") + sourceName +
         (sourceAddress.isEmpty() ? QString() : QStringLiteral(" \u2014 ") + sourceAddress);
}

QString AboutSettingsLine(const QString& settingsPath) {
  return QStringLiteral("Settings: ") + (settingsPath.isEmpty() ? QStringLiteral("none") : settingsPath);
}

namespace {

// The added lines: below the template's controls (its OK button ends at
// 39 DU), across the box's width less its 8 DU margins, each two text lines
// of 8 DU with 2 DU between them, so that the longest texts (the stand-in's
// description with its version text, about 110 characters; an IPv6 address;
// a settings file deep in a home folder, which breaks after a '/') wrap
// instead of being cut; the box grows by what they take.
constexpr int kAddedLineX = 8;
constexpr int kAddedLineWidth = 227 - 2 * 8;
constexpr int kAddedTop = 44;
constexpr int kAddedLineHeight = 16;
constexpr int kAddedStep = kAddedLineHeight + 2;
constexpr int kAddedIds[] = {kAboutRuntimeLineId, kAboutSourceLineId, kAboutSettingsLineId};
constexpr int kAddedBottom = kAddedTop + int(std::size(kAddedIds)) * kAddedStep + 4;

QLabel* addLine(QWidget* parent, DialogBaseUnits units, int yDu, int id) {
  auto* label = new QLabel(parent);
  label->setObjectName(QStringLiteral("aboutLine%1").arg(id));
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(DuToPixelsX(kAddedLineX, units), DuToPixelsY(yDu, units),
                     DuToPixelsX(kAddedLineWidth, units), DuToPixelsY(kAddedLineHeight, units));
  return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  built_ = BuildDialog(AboutTemplate(), this);
  setWindowTitle(QString::fromUtf8(AboutTemplate().caption));
  const DialogBaseUnits units = built_.baseUnits();
  int y = kAddedTop;
  for (const int id : kAddedIds) {
    added_.insert(id, addLine(this, units, y, id));
    y += kAddedStep;
  }
  setFixedSize(built_.clientSize().width(),
               std::max(built_.clientSize().height(), DuToPixelsY(kAddedBottom, units)));
  if (auto* ok = built_.as<QPushButton>(1)) connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QLabel* CAboutDlg::addedLine(int id) const { return added_.value(id, nullptr); }

bool CAboutDlg::OnInitDialog() {
  const char* ndi = ndiVersionText.isEmpty() ? nullptr : ndiVersionText.constData();
  if (auto* product = built_.as<QLabel>(1022)) product->setText(AboutProductLine(versionText, ndi));
  if (auto* company = built_.as<QLabel>(1023)) company->setText(AboutCompanyLine(releaseDate));
  added_[kAboutRuntimeLineId]->setText(AboutRuntimeLine(runtimeDescription, ndi));
  added_[kAboutSourceLineId]->setText(AboutSourceLine(sourceName, sourceAddress));
  added_[kAboutSettingsLineId]->setText(AboutSettingsLine(settingsPath));
  return true;
}

int CAboutDlg::DoModal() {
  (void)OnInitDialog();
  return exec();
}

}  // namespace plombix
