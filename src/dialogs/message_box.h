// Plain message boxes (OK, or OK and Cancel) whose title a window manager
// can show whole.
//
// A message box is as narrow as its text and buttons allow, and a window
// manager draws the title in its own, often larger and bold, font between
// the window icon and up to three title-bar buttons; "Quit Plombix" over
// "OK to exit?" then loses its end. SetUpMessageBox makes the box at least
// TitleBarWidth() wide:
//
//   title font = the platform's title font, bold, at least 11 points (the
//                largest size common window managers use by default)
//   button     = the title font's line height + 8 pixels (a title-bar
//                button with its padding)
//   width      = 2 * 3 * button + width of the title in the title font
//
// Room for three buttons is kept on both sides because several desktops
// centre the title.
#pragma once

#include <QFont>
#include <QString>

class QMessageBox;

namespace plombix {

enum class BoxButtons {
  Ok,        // one OK button
  OkCancel,  // OK and Cancel; Cancel is the default (Enter and Esc answer no)
};

// The font the width of a title is measured in (see the file comment).
QFont TitleBarFont();
// The narrowest a box titled `title` may be, in pixels.
int TitleBarWidth(const QString& title);

// Gives `box` its icon (a question for OK/Cancel, information for OK), title,
// text and buttons, and a minimum width of TitleBarWidth(title) that holds
// whenever the box lays itself out (a fixed-width spacer in its layout).
// Change nothing on the box afterwards: a new icon or informative text
// rebuilds the box's layout without that spacer.
void SetUpMessageBox(QMessageBox& box, BoxButtons buttons, const QString& title,
                     const QString& text);

}  // namespace plombix
