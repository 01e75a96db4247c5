// The listening socket of a stand-in source.
#pragma once

#include <string>
#include <vector>

namespace plombix::standin {

// Which port to take, in this order: `preferred` when it is in the range and
// free; else the first free port of the range that is not in `avoid`; else
// the first free port of `avoid` (in the range).
struct PortChoice {
  int firstPort = 0;
  int portCount = 0;
  int preferred = 0;        // 0: none
  std::vector<int> avoid;   // ports better left to others
};

// A TCP socket listening on `bindAddress` (numeric IPv4 or IPv6) at the port
// `choice` picks, with SO_REUSEADDR so that a port closed a moment ago can be
// taken again. Fills `*port` and `*url` ("http://host:port/"; an any-address
// bind is published as the loopback address). Returns the socket, or -1 with
// `*error` set.
[[nodiscard]] int OpenListenSocket(const std::string& bindAddress, const PortChoice& choice, int* port,
                                   std::string* url, std::string* error);

}  // namespace plombix::standin
