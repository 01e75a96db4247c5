// The port each source name had last time, remembered per user so that a
// source keeps its address ("Vora Plombix 1" at http://127.0.0.1:5961/)
// across restarts of the player and of other programs' sources.
//
// One file per name in the "ports" folder of the runtime folder,
// `<encoded name>.port`, lines "key=value":  name=<source name>  port=<port>
// A file that does not parse, names another source, or holds a port outside
// the range the stand-in serves from is ignored (and replaced at the next
// publication of that name).
#pragma once

#include <string>
#include <vector>

namespace plombix::standin {

// Ports a remembered port may have: from `firstPort`, `portCount` of them.
struct PortRange {
  int firstPort = 0;
  int portCount = 0;
  bool contains(int port) const { return port >= firstPort && port < firstPort + portCount; }
};

// The port remembered for `name`, or 0 when there is none that can be used.
int RememberedPort(const std::string& portsDir, const std::string& name, PortRange range);

// The ports remembered for every other name, in ascending order, so that a
// new name does not take a port another source will want back.
std::vector<int> PortsRememberedByOthers(const std::string& portsDir, const std::string& name,
                                         PortRange range);

// Remembers `port` for `name`; false when the file cannot be written.
bool RememberPort(const std::string& portsDir, const std::string& name, int port);

// Parses one file's text; false when it is not a complete entry for a port
// of `range`.
[[nodiscard]] bool ParsePortEntry(const std::string& text, PortRange range, std::string* name,
                                  int* port);

}  // namespace plombix::standin
