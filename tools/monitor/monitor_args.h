// Command line of plombix-monitor.
//
//   plombix-monitor --list [--wait MS]
//   plombix-monitor NAME --frames N --out DIR [--tally program|preview]
//                   [--timeout MS]
//   plombix-monitor --help
#pragma once

#include <string>
#include <vector>

namespace plombix::monitor {

enum class Command { Help, List, Receive };
enum class TallyRequest { None, Program, Preview };

struct MonitorArgs {
  Command command = Command::Help;
  std::string source;           // NAME
  int frames = 0;               // N, 1..100000
  std::string outDir;           // DIR
  TallyRequest tally = TallyRequest::None;
  int timeoutMs = 5000;         // per frame, and for finding the source
  int waitMs = 1000;            // --list: how long to look for sources
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNoRuntime = 3;
constexpr int kExitUnknownSource = 4;
constexpr int kExitLost = 5;
constexpr int kExitOutput = 6;

// Parses argv[1..]. On error returns false with `*error` set.
[[nodiscard]] bool ParseMonitorArgs(const std::vector<std::string>& args, MonitorArgs* out,
                                    std::string* error);

// The --help text.
std::string MonitorUsage();

}  // namespace plombix::monitor
