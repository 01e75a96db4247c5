#include "command_line.h"

#include <cctype>

namespace plombix {
namespace {

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "/name" with no further "/": a switch in the style of the original
// command line, not a path.
bool IsSlashSwitch(const std::string& a) {
  return a.size() > 1 && a[0] == '/' && a.find('/', 1) == std::string::npos;
}

std::string Absolute(const std::string& file, const std::string& currentFolder) {
  if (!file.empty() && file[0] == '/') return file;
  if (currentFolder.empty()) return file;
  return currentFolder.back() == '/' ? currentFolder + file : currentFolder + "/" + file;
}

}  // namespace

bool IsForceLast(const std::string& switchLine) { return Lower(switchLine) == "/force_last"; }

CommandLine ParseCommandLine(const std::vector<std::string>& arguments, const std::string& currentFolder) {
  CommandLine result;
  bool help = false;
  bool version = false;
  bool optionsEnded = false;
  int fileIndex = -1;
  std::vector<bool> placement(arguments.size());  // options left out of the switch's line
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (a.empty()) continue;  // an empty argument names nothing
    const bool isOption = !optionsEnded && ((a.size() > 1 && a[0] == '-') || IsSlashSwitch(a));
    if (!isOption) {
      if (fileIndex < 0) fileIndex = int(i);
      else result.messages.push_back("plombix: only one file can be shown; ignored: " + a);
      continue;
    }
    if (a == "--") optionsEnded = true;
    else if (a == "--help" || a == "-h") help = true;
    else if (a == "--version") version = true;
    else if (a == "--user-settings") result.userSettings = placement[i] = true;
    else if (Lower(a) != "/force_last") result.messages.push_back("plombix: unknown option ignored: " + a);
  }
  if (help) result.action = CommandLine::Action::PrintHelp;
  else if (version) result.action = CommandLine::Action::PrintVersion;

  // The whole command line, FILE included, compared as the switch has
  // always been: `plombix /force_last photo.jpg` shows the file but does not
  // force the settings.
  bool first = true;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (placement[i]) continue;
    result.switchLine += (first ? "" : " ") + arguments[i];
    first = false;
  }
  if (fileIndex >= 0) result.file = Absolute(arguments[size_t(fileIndex)], currentFolder);
  return result;
}

std::string HelpText() {
  return "Usage: plombix [--user-settings] [/force_last] [FILE]\n"
         "Vora Plombix: a still-image player for live video production.\n"
         "\n"
         "  FILE          a picture to show once the player has started\n"
         "  /force_last   apply the saved settings even when \"Use Last\" is off\n"
         "  --user-settings  keep the settings in ~/.config/vora-plombix instead of\n"
         "                the working folder (as the desktop menu starts it)\n"
         "  --help        print this text and exit\n"
         "  --version     print the version and exit\n"
         "\n"
         "Remote control: each copy serves http://127.0.0.1:5980+N/ (copy N);\n"
         "PLOMBIX_CONTROL=0 turns it off, PLOMBIX_CONTROL_BIND, PLOMBIX_CONTROL_PORT\n"
         "and PLOMBIX_CONTROL_TOKEN change it.\n";
}

std::string VersionText(const std::string& version) { return "Vora Plombix " + version + "\n"; }

}  // namespace plombix
