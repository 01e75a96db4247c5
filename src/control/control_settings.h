// Where a copy's remote-control API listens, and whether it runs at all,
// from the environment.
//
//   copy N (1..8) listens on 127.0.0.1, port 5980 + N (5981 .. 5988);
//   PLOMBIX_CONTROL_BIND   a numeric IPv4 or IPv6 address to listen on instead;
//   PLOMBIX_CONTROL_PORT   the port of copy 1 (1..65535); copy N uses it + N - 1;
//   PLOMBIX_CONTROL=0      turns the API off ("off", "false", "no" as well);
//   PLOMBIX_CONTROL_TOKEN  a secret every request must then carry (below).
//
// An address that is not a loopback address reaches other machines, so it
// needs a token: without one the API stays off. A setting that cannot be
// used (a bad address or port) turns the API off too rather than falling
// back to a default the operator did not ask for. In every "off" case
// `reason` says why, in words the player prints.
//
// Without a token, only programs of the user the player runs as may use the
// API (access_check.h). With a token, every API request must carry "Authorization: Bearer TOKEN".
// Browsers cannot add that header to a page they open, so the same token is
// also accepted as the password of HTTP Basic authentication (any user
// name): the browser asks for it once and sends it with the page's own
// requests.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace plombix::control {

inline constexpr int kBasePort = 5980;  // copy N listens on kBasePort + N
inline constexpr int kMaxCopies = 8;

struct ControlSettings {
  bool enabled = false;
  std::string reason;   // why not enabled
  std::string bindAddress = "127.0.0.1";
  int port = 0;         // 0: any free port (tests)
  std::string token;    // empty: no authorization asked
  bool loopback = true; // bindAddress is a loopback address
  uid_t userId = ::geteuid();  // the operator: whose programs need no token
  std::string asRunFile;  // GET /api/v1/as-run reads it; empty: no as-run log
};

// Reads an environment variable; null when unset. Tests pass their own.
using EnvironmentLookup = std::function<const char*(const char*)>;

// The settings of copy `copyNumber` (1..8; any other number, such as that of
// a copy that got none, leaves the API off).
ControlSettings ControlSettingsFor(int copyNumber, const EnvironmentLookup& env);
ControlSettings ControlSettingsFromEnvironment(int copyNumber);

// True for 127.0.0.0/8, ::1 and IPv4-mapped 127.x; false for anything else,
// including the any-addresses 0.0.0.0 and ::.
bool IsLoopbackAddress(const std::string& numericAddress);

// numericAddress:port (port 0: any free one) as a socket address for bind;
// false when the address is not a numeric IPv4 or IPv6 address.
bool SocketAddressFor(const std::string& numericAddress, int port, sockaddr_storage* storage,
                      socklen_t* length);
// The port a bound socket got.
int BoundPort(int fd);

// "http://127.0.0.1:5981/" (IPv6 in brackets; an any-address as loopback).
std::string UrlFor(const std::string& bindAddress, int port);

}  // namespace plombix::control
