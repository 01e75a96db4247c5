// The listening socket of a stand-in sender.
#pragma once

#include <string>

namespace plombix::standin {

// A TCP socket listening on `bindAddress` (numeric IPv4 or IPv6) at the
// first port of firstPort .. firstPort + portCount - 1 that is free, with
// SO_REUSEADDR so that a port closed a moment ago can be taken again. Fills
// `*port` and `*url` ("http://host:port/"; an any-address bind is published
// as the loopback address). Returns the socket, or -1 with `*error` set.
[[nodiscard]] int OpenListenSocket(const std::string& bindAddress, int firstPort, int portCount,
                                   int* port, std::string* url, std::string* error);

}  // namespace plombix::standin
