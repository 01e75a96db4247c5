// The command line: plombix [--user-settings] [/force_last] [FILE], --help,
// --version.
#include <gtest/gtest.h>

#include <tuple>

#include "command_line.h"

using plombix::CommandLine;
using plombix::ParseCommandLine;

TEST(CommandLine, ArgumentsTable) {
  using A = CommandLine::Action;
  const struct {
    std::vector<std::string> args;
    A action;
    std::string file;     // absolute
    std::string switches;  // the line the window compares with "/force_last"
    size_t messages;      // lines for stderr
    bool userSettings = false;
  } rows[] = {
      {{}, A::Run, "", "", 0},
      {{"/FORCE_LAST"}, A::Run, "", "/FORCE_LAST", 0},
      {{"/force_lastx"}, A::Run, "", "/force_lastx", 1},  // a near miss: an unknown option
      {{"/home/op/pics/a.png"}, A::Run, "/home/op/pics/a.png", "/home/op/pics/a.png", 0},
      {{"/force_last", "pics/a.png"}, A::Run, "/home/op/shows/pics/a.png", "/force_last pics/a.png", 0},
      {{"/force_last", ""}, A::Run, "", "/force_last ", 0},
      {{"a.jpg", "b.jpg"}, A::Run, "/home/op/shows/a.jpg", "a.jpg b.jpg", 1},
      {{"-x", "--fullscreen", "/s", "a.jpg"}, A::Run, "/home/op/shows/a.jpg", "-x --fullscreen /s a.jpg", 3},
      {{"//photo.jpg"}, A::Run, "//photo.jpg", "//photo.jpg", 0},  // a file in the root folder
      {{"--", "-odd.jpg"}, A::Run, "/home/op/shows/-odd.jpg", "-- -odd.jpg", 0},
      {{"-"}, A::Run, "/home/op/shows/-", "-", 0},
      {{"--user-settings", "/force_last"}, A::Run, "", "/force_last", 0, true},  // the menu's start
      {{"--", "--user-settings"}, A::Run, "/home/op/shows/--user-settings", "-- --user-settings", 0},
      {{"-h"}, A::PrintHelp, "", "-h", 0},
      {{"--version", "--help"}, A::PrintHelp, "", "--version --help", 0},  // help wins
      {{"--version"}, A::PrintVersion, "", "--version", 0},
  };
  for (const auto& row : rows) {
    const CommandLine c = ParseCommandLine(row.args, "/home/op/shows");
    EXPECT_EQ(std::tuple(c.action, c.file, c.switchLine, c.messages.size(), c.userSettings),
              std::tuple(row.action, row.file, row.switches, row.messages, row.userSettings));
  }
  EXPECT_EQ(ParseCommandLine({"-x"}, "/").messages[0], "plombix: unknown option ignored: -x");
  // The switch is the whole line, in any case (the window applies it).
  for (const auto& [line, forced] : {std::pair{"/force_last", true}, {"/Force_Last", true},
                                     {"/force_last now", false}, {"/force", false}, {"", false}})
    EXPECT_EQ(plombix::IsForceLast(line), forced) << line;
  EXPECT_EQ(plombix::VersionText("1.0.3.0"), "Vora Plombix 1.0.3.0\n");
  for (const char* part : {"Usage: plombix [--user-settings] [/force_last] [FILE]\n", "--help", "--version",
                           "PLOMBIX_CONTROL=0"})
    EXPECT_NE(plombix::HelpText().find(part), std::string::npos) << part;
}
