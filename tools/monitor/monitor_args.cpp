#include "monitor_args.h"

#include <cerrno>
#include <cstdlib>

namespace plombix::monitor {
namespace {

bool parseCount(const std::string& text, int low, int high, int* out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
    return false;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < low || v > high) return false;
  *out = int(v);
  return true;
}

}  // namespace

std::string MonitorUsage() {
  return "Usage:\n"
         "  plombix-monitor --list [--wait MS]\n"
         "      Print the video sources that can be received, one a line: name, a tab, URL.\n"
         "  plombix-monitor NAME --frames N --out DIR [--tally program|preview] [--timeout MS]\n"
         "      Receive N frames of source NAME and save them as DIR/frame-0001.png, ...;\n"
         "      print one line per frame (size, FourCC, frame rate, aspect ratio).\n"
         "      --tally tells the source it is on program or on preview meanwhile.\n"
         "      --timeout is how long to wait for the source and for each frame (default 5000);\n"
         "      a source that goes away (a player restarting) is waited for within it.\n"
         "  plombix-monitor --help\n"
         "\n"
         "Exit status: 0 done, 2 bad arguments, 3 no usable NDI runtime, 4 unknown source,\n"
         "5 connection lost or no frame in time, 6 cannot write the pictures.\n";
}

bool ParseMonitorArgs(const std::vector<std::string>& args, MonitorArgs* out, std::string* error) {
  MonitorArgs a;
  bool list = false, help = false, haveFrames = false, haveOut = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      *v = args[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--list") {
      list = true;
    } else if (arg == "--frames") {
      if (!value(&v)) return false;
      if (!parseCount(v, 1, 100000, &a.frames)) {
        *error = "--frames takes a number from 1 to 100000, not '" + v + "'";
        return false;
      }
      haveFrames = true;
    } else if (arg == "--out") {
      if (!value(&a.outDir)) return false;
      if (a.outDir.empty()) {
        *error = "--out needs a folder";
        return false;
      }
      haveOut = true;
    } else if (arg == "--tally") {
      if (!value(&v)) return false;
      if (v == "program") {
        a.tally = TallyRequest::Program;
      } else if (v == "preview") {
        a.tally = TallyRequest::Preview;
      } else {
        *error = "--tally takes 'program' or 'preview', not '" + v + "'";
        return false;
      }
    } else if (arg == "--timeout" || arg == "--wait") {
      if (!value(&v)) return false;
      int ms = 0;
      if (!parseCount(v, 0, 3600000, &ms)) {
        *error = arg + " takes milliseconds (0 to 3600000), not '" + v + "'";
        return false;
      }
      (arg == "--timeout" ? a.timeoutMs : a.waitMs) = ms;
    } else if (arg.rfind("--", 0) == 0) {
      *error = "unknown option " + arg;
      return false;
    } else if (a.source.empty()) {
      a.source = arg;
    } else {
      *error = "one source name only ('" + a.source + "' and '" + arg + "')";
      return false;
    }
  }
  if (help) {
    a.command = Command::Help;
  } else if (list) {
    if (!a.source.empty() || haveFrames || haveOut) {
      *error = "--list takes no source, --frames or --out";
      return false;
    }
    a.command = Command::List;
  } else if (!a.source.empty()) {
    if (!haveFrames || !haveOut) {
      *error = "receiving needs --frames N and --out DIR";
      return false;
    }
    a.command = Command::Receive;
  } else {
    *error = "nothing to do: give --list, a source name, or --help";
    return false;
  }
  *out = a;
  return true;
}

}  // namespace plombix::monitor
