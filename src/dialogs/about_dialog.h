// CAboutDlg: the About box (template 100, "About NDI® Plombix"): the About
// picture, the product line with the player's and the NDI runtime's version,
// the maker's company line with the release date, and OK.
//
// The window hands over `versionText`, `releaseDate` and the NDI runtime's
// version text (as NDIlib_version returned it; null or empty when the
// lookup failed) before DoModal().
#pragma once

#include <QDialog>
#include <QString>

#include "dialog_template.h"

namespace plombix {

// The last blank-separated word of the NDI runtime's version text (trailing
// blanks ignored); the whole text when it has no blank; empty for null.
QString NdiVersionPart(const char* ndiVersionText);
// "NDI® Plombix, v<versionText>, NDI v<ndi version part>, x64".
QString AboutProductLine(const QString& versionText, const char* ndiVersionText);
// "<maker company line>, <releaseDate>".
QString AboutCompanyLine(const QString& releaseDate);

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  QString versionText;
  QString releaseDate;
  QByteArray ndiVersionText;  // raw text from the runtime; empty when unknown

  // Fills texts 1022 and 1023 from the fields above. DoModal() calls it.
  bool OnInitDialog();
  // OnInitDialog, then runs the box modally; returns the dialog result.
  int DoModal();

  const BuiltDialog& controls() const { return built_; }

 private:
  BuiltDialog built_;
};

}  // namespace plombix
