// Prompter: the plain OK / OK-Cancel message boxes of the main window, in
// one place. The window never opens a QMessageBox itself, so tests can
// answer and record every message without a modal loop.
#pragma once

#include <QString>

class QWidget;

namespace plombix {

// The title of a message box shown without a title of its own.
inline constexpr char kApplicationName[] = "Vora Plombix";

class Prompter {
 public:
  virtual ~Prompter() = default;
  // An OK box. An empty title means the application's name.
  virtual void message(const QString& text, const QString& title) = 0;
  // An OK / Cancel box; true for OK.
  virtual bool confirm(const QString& text, const QString& title) = 0;
};

// Real message boxes, modal to `parent`, each at least as wide as a window
// manager needs to show its title whole (SetUpMessageBox). Each box's title
// and text also go to stderr as one line ("plombix: Load File: ...").
class MessageBoxPrompter final : public Prompter {
 public:
  explicit MessageBoxPrompter(QWidget* parent) : parent_(parent) {}
  void message(const QString& text, const QString& title) override;
  bool confirm(const QString& text, const QString& title) override;

 private:
  QWidget* parent_;
};

}  // namespace plombix
