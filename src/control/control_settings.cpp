#include "control_settings.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace plombix::control {
namespace {

bool IsOffText(const char* text) {
  for (const char* off : {"0", "off", "false", "no"})
    if (::strcasecmp(text, off) == 0) return true;
  return false;
}

// A whole decimal number in [low, high], or -1.
long ParseNumber(const char* text, long low, long high) {
  if (!text || !*text) return -1;
  for (const char* p = text; *p; ++p)
    if (*p < '0' || *p > '9') return -1;
  if (std::strlen(text) > 6) return -1;
  const long v = std::strtol(text, nullptr, 10);
  return v >= low && v <= high ? v : -1;
}

ControlSettings Off(std::string reason) {
  ControlSettings s;
  s.enabled = false;
  s.reason = std::move(reason);
  return s;
}

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
  in_addr v4{};
  if (::inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (::inet_pton(AF_INET6, address.c_str(), &v6) != 1) return false;
  if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
  return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

bool SocketAddressFor(const std::string& address, int port, sockaddr_storage* storage, socklen_t* length) {
  *storage = {};
  auto* v4 = reinterpret_cast<sockaddr_in*>(storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(storage);
  if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(uint16_t(port));
    *length = sizeof *v4;
    return true;
  }
  if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(uint16_t(port));
    *length = sizeof *v6;
    return true;
  }
  return false;
}

int BoundPort(int fd) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return 0;
  return ntohs(storage.ss_family == AF_INET ? reinterpret_cast<const sockaddr_in*>(&storage)->sin_port
                                            : reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
}

std::string UrlFor(const std::string& bindAddress, int port) {
  std::string host = bindAddress;
  if (host == "0.0.0.0") host = "127.0.0.1";
  else if (host == "::") host = "[::1]";
  else if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return "http://" + host + ":" + std::to_string(port) + "/";
}

ControlSettings ControlSettingsFor(int copyNumber, const EnvironmentLookup& env) {
  auto get = [&env](const char* name) -> const char* {
    const char* v = env ? env(name) : nullptr;
    return v && *v ? v : nullptr;
  };
  if (const char* on = get("PLOMBIX_CONTROL"); on && IsOffText(on))
    return Off(std::string("turned off by PLOMBIX_CONTROL=") + on);
  if (copyNumber < 1 || copyNumber > kMaxCopies) return Off("this copy has no number");

  ControlSettings s;
  if (const char* bind = get("PLOMBIX_CONTROL_BIND")) {
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, bind, &v4) != 1 && ::inet_pton(AF_INET6, bind, &v6) != 1)
      return Off(std::string("PLOMBIX_CONTROL_BIND is not a numeric IP address: ") + bind);
    s.bindAddress = bind;
  }
  s.loopback = IsLoopbackAddress(s.bindAddress);

  int firstPort = kBasePort + 1;
  if (const char* portText = get("PLOMBIX_CONTROL_PORT")) {
    const long p = ParseNumber(portText, 1, 65535);
    if (p < 0) return Off(std::string("PLOMBIX_CONTROL_PORT is not a port number (1..65535): ") + portText);
    firstPort = int(p);
  }
  s.port = firstPort + copyNumber - 1;
  if (s.port > 65535)
    return Off("PLOMBIX_CONTROL_PORT " + std::to_string(firstPort) + " leaves no port for copy " +
               std::to_string(copyNumber));

  if (const char* token = get("PLOMBIX_CONTROL_TOKEN")) s.token = token;
  if (!s.loopback && s.token.empty())
    return Off("PLOMBIX_CONTROL_BIND=" + s.bindAddress +
               " is not a loopback address: set PLOMBIX_CONTROL_TOKEN to serve other machines");
  s.enabled = true;
  return s;
}

ControlSettings ControlSettingsFromEnvironment(int copyNumber) {
  return ControlSettingsFor(copyNumber, [](const char* name) { return std::getenv(name); });
}

}  // namespace plombix::control
