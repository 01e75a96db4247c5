// The command line: plombix [/force_last] [FILE], --help, --version.
#include <gtest/gtest.h>

#include "command_line.h"

using plombix::CommandLine;
using plombix::ParseCommandLine;

namespace {

using Action = CommandLine::Action;

struct Row {
  const char* label;
  std::vector<std::string> args;
  Action action;
  bool forceLast;
  std::string file;
  size_t messages;  // lines for stderr
};

}  // namespace

TEST(CommandLine, ArgumentsTable) {
  const std::string cwd = "/home/op/shows";
  const Row rows[] = {
      {"nothing", {}, Action::Run, false, "", 0},
      {"the switch", {"/force_last"}, Action::Run, true, "", 0},
      {"the switch in capitals", {"/FORCE_LAST"}, Action::Run, true, "", 0},
      {"the switch mixed case", {"/Force_Last"}, Action::Run, true, "", 0},
      {"the switch twice is not the whole line", {"/force_last", "/force_last"}, Action::Run, false, "", 0},
      {"the switch then an empty argument", {"/force_last", ""}, Action::Run, false, "", 0},
      {"a near miss is an unknown option", {"/force_lastx"}, Action::Run, false, "", 1},
      {"a file", {"/home/op/pics/a.png"}, Action::Run, false, "/home/op/pics/a.png", 0},
      {"a relative file", {"pics/a.png"}, Action::Run, false, "/home/op/shows/pics/a.png", 0},
      {"switch and file: not the whole line", {"/force_last", "photo.jpg"}, Action::Run, false,
       "/home/op/shows/photo.jpg", 0},
      {"file and switch: not the whole line", {"/tmp/b.jpg", "/FORCE_LAST"}, Action::Run, false, "/tmp/b.jpg", 0},
      {"switch, file and more", {"/force_last", "a.jpg", "b.jpg"}, Action::Run, false, "/home/op/shows/a.jpg", 1},
      {"two files", {"a.jpg", "b.jpg"}, Action::Run, false, "/home/op/shows/a.jpg", 1},
      {"unknown dash option", {"-x", "a.jpg"}, Action::Run, false, "/home/op/shows/a.jpg", 1},
      {"unknown long option", {"--fullscreen"}, Action::Run, false, "", 1},
      {"unknown slash switch", {"/s"}, Action::Run, false, "", 1},
      {"file in the root folder", {"//photo.jpg"}, Action::Run, false, "//photo.jpg", 0},
      {"options end", {"--", "-odd.jpg"}, Action::Run, false, "/home/op/shows/-odd.jpg", 0},
      {"a lone dash is a file name", {"-"}, Action::Run, false, "/home/op/shows/-", 0},
      {"help", {"--help"}, Action::PrintHelp, false, "", 0},
      {"short help", {"-h"}, Action::PrintHelp, false, "", 0},
      {"version", {"--version"}, Action::PrintVersion, false, "", 0},
      {"help wins over version", {"--version", "--help"}, Action::PrintHelp, false, "", 0},
      {"help with a file", {"a.jpg", "--help"}, Action::PrintHelp, false, "/home/op/shows/a.jpg", 0},
  };
  for (const Row& row : rows) {
    const CommandLine c = ParseCommandLine(row.args, cwd);
    EXPECT_EQ(c.action, row.action) << row.label;
    EXPECT_EQ(c.forceLast, row.forceLast) << row.label;
    EXPECT_EQ(c.file, row.file) << row.label;
    EXPECT_EQ(c.messages.size(), row.messages) << row.label;
  }
  EXPECT_EQ(ParseCommandLine({"-x"}, cwd).messages[0], "plombix: unknown option ignored: -x");
}

TEST(CommandLine, HelpAndVersionTexts) {
  EXPECT_EQ(plombix::VersionText("1.0.3.0"), "Vora Plombix 1.0.3.0\n");
  const std::string help = plombix::HelpText();
  EXPECT_EQ(help.rfind("Usage: plombix [/force_last] [FILE]\n", 0), 0u);
  for (const char* part : {"--help", "--version", "/force_last", "PLOMBIX_CONTROL=0"})
    EXPECT_NE(help.find(part), std::string::npos) << part;
}
