// CAboutDlg: the About box (template 100, "About NDI® Plombix"): the About
// picture, the product line with the player's and the NDI runtime's version,
// the maker's company line with the release date, and OK. Below the
// template's controls the box adds three lines of its own: which NDI runtime
// serves, named in full with its whole version text (the product line keeps
// only the version's last word), where receivers find the source (name and
// address), and the settings file in full (which file depends on how the
// player was started). Each wraps within the box's width, so nothing is cut.
//
// The window hands over `versionText`, `releaseDate`, the NDI runtime's
// version text (as NDIlib_version returned it; null or empty when the
// lookup failed), the runtime's description (NdiRuntimeDescription) and the
// source's name and address (NdiOutput::sourceName / sourceAddress; empty
// while no source is published) and the settings file's absolute path
// (empty for a copy without one) before DoModal().
#pragma once

#include <QDialog>
#include <QHash>
#include <QLabel>
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
// "NDI runtime: <description>, <version text>" (", <version text>" left out
// when the text is empty or null; "NDI runtime: unknown" without a
// description).
QString AboutRuntimeLine(const QString& runtimeDescription, const char* ndiVersionText);
// "Source: <name> — <address>", "Source: <name>" without an address,
// "Source: not published" without a name.
QString AboutSourceLine(const QString& sourceName, const QString& sourceAddress);
// "Settings: <path>", "Settings: none" without a path.
QString AboutSettingsLine(const QString& settingsPath);

// Ids of the lines the box adds below the template's controls.
inline constexpr int kAboutRuntimeLineId = 1024;
inline constexpr int kAboutSourceLineId = 1025;
inline constexpr int kAboutSettingsLineId = 1026;

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  QString versionText;
  QString releaseDate;
  QByteArray ndiVersionText;  // raw text from the runtime; empty when unknown
  QString runtimeDescription;  // which runtime serves, in full; empty when unknown
  QString sourceName;          // the published name; empty when none
  QString sourceAddress;       // where receivers find it; empty when none
  QString settingsPath;        // the settings file, absolute; empty when none

  // Fills texts 1022, 1023 and the added lines from the fields above.
  // DoModal() calls it.
  bool OnInitDialog();
  // OnInitDialog, then runs the box modally; returns the dialog result.
  int DoModal();

  const BuiltDialog& controls() const { return built_; }
  // The lines the box adds (kAbout...LineId), or null.
  QLabel* addedLine(int id) const;

 private:
  BuiltDialog built_;
  QHash<int, QLabel*> added_;
};

}  // namespace plombix
