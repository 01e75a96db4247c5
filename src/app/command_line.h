// The player's command line: plombix [--user-settings] [/force_last] [FILE],
// plus --help and --version. Window-free: main() reads it before there is any window.
//
// Rules:
//  - "/force_last" (any letter case) applies a loaded configuration even
//    when its "Use Last" flag is off. The window compares the whole command
//    line (switchLine: the arguments joined with single spaces) with it, as
//    it always was: with a FILE beside it the file is shown but the switch
//    does not apply.
//  - "--user-settings" keeps the settings files in the per-user settings
//    folder (config_folder.h) instead of the working folder: the desktop
//    menu entry starts the player so, and a launcher's working folder varies.
//    It is not part of the line the switch is compared with.
//  - FILE is the first argument that is not an option; it is shown after
//    start-up as if dropped then. A relative FILE is taken from
//    `currentFolder`. Later non-option arguments are reported and ignored.
//  - "--help" / "-h" and "--version" print to stdout and end the program
//    before any window opens; help wins when both are given.
//  - "--" ends the options: everything after it is a file name.
//  - Any other argument that starts with "-", or a "/" switch (a "/" and a
//    name without a further "/", such as "/force_lst"), is an unknown option:
//    reported on stderr and ignored. So a FILE right in the root folder is
//    written "//photo.jpg" or after "--"; every other absolute path has a
//    second "/" and is a file.
//
// Qt takes options of its own out of argv when QApplication is built
// ("-platform offscreen", "-style ..."). Call ParseCommandLine on the raw
// argv only to decide --help/--version before building QApplication, and on
// QApplication::arguments() for the rest (FILE, the switch line, messages).
#pragma once

#include <string>
#include <vector>

namespace plombix {

struct CommandLine {
  enum class Action { Run, PrintHelp, PrintVersion };
  Action action = Action::Run;
  bool userSettings = false;          // --user-settings
  std::string switchLine;             // the arguments joined with blanks, --user-settings left out
  std::string file;                   // absolute; empty when none was given
  std::vector<std::string> messages;  // one line each, for stderr
};

// Whether `switchLine` is the switch "/force_last" (any letter case) and
// nothing else.
bool IsForceLast(const std::string& switchLine);

// `arguments` without the program's name.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments, const std::string& currentFolder);

// The texts printed for --help and --version ("Vora Plombix 1.0.3.0").
std::string HelpText();
std::string VersionText(const std::string& version);

}  // namespace plombix
