#include "access_check.h"

#include <QByteArray>

#include <strings.h>

namespace plombix::control {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && ::strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

// The host name of a Host header: "[::1]:5981" -> "::1", "localhost:5981" ->
// "localhost", "127.0.0.1" -> "127.0.0.1".
std::string HostName(std::string_view host) {
  host = Trim(host);
  if (!host.empty() && host.front() == '[') {
    const size_t close = host.find(']');
    return close == std::string_view::npos ? std::string() : std::string(host.substr(1, close - 1));
  }
  const size_t colon = host.find(':');
  return std::string(host.substr(0, colon));
}

bool IsLoopbackHostName(const std::string& name) {
  if (IsLoopbackAddress(name)) return true;
  // "localhost" and names under it are loopback by definition (RFC 6761), and
  // browsers resolve them so without asking DNS.
  if (::strcasecmp(name.c_str(), "localhost") == 0) return true;
  constexpr std::string_view kSuffix = ".localhost";
  return name.size() > kSuffix.size() &&
         ::strcasecmp(name.c_str() + name.size() - kSuffix.size(), kSuffix.data()) == 0;
}

}  // namespace

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  unsigned diff = a.size() == b.size() ? 0u : 1u;
  for (size_t i = 0; i < b.size(); ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
    diff |= x ^ static_cast<unsigned char>(b[i]);
  }
  return diff == 0;
}

bool AuthorizationMatches(std::string_view authorization, const std::string& token) {
  authorization = Trim(authorization);
  if (StartsWithNoCase(authorization, "Bearer ")) return ConstantTimeEquals(Trim(authorization.substr(7)), token);
  if (StartsWithNoCase(authorization, "Basic ")) {
    const std::string_view encoded = Trim(authorization.substr(6));
    const auto decoded = QByteArray::fromBase64Encoding(QByteArray(encoded.data(), qsizetype(encoded.size())),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return false;
    const std::string_view pair(decoded.decoded.constData(), size_t(decoded.decoded.size()));
    const size_t colon = pair.find(':');
    return colon != std::string_view::npos && ConstantTimeEquals(pair.substr(colon + 1), token);
  }
  return false;
}

std::optional<ApiError> CheckAccess(const ControlSettings& settings, const AccessRequest& request) {
  if (settings.loopback && request.host && !IsLoopbackHostName(HostName(request.host)))
    return ApiError{403, "this API answers only requests addressed to this machine's loopback address", nullptr};
  if (request.origin) {
    const std::string own = "http://" + Lower(request.host ? Trim(request.host) : "");
    if (!request.host || Lower(Trim(request.origin)) != own)
      return ApiError{403, "requests from other web pages are refused", nullptr};
  }
  if (!settings.token.empty()) {
    if (!request.authorization || !AuthorizationMatches(request.authorization, settings.token))
      return ApiError{401, "missing or wrong token", nullptr};
    return std::nullopt;
  }
  if (!request.peerUid)
    return ApiError{403, "cannot tell which user sent this request; set PLOMBIX_CONTROL_TOKEN to use a token",
                    nullptr};
  if (*request.peerUid != settings.userId)
    return ApiError{403, "only the user running the player may control it without a token "
                         "(PLOMBIX_CONTROL_TOKEN)", nullptr};
  return std::nullopt;
}

}  // namespace plombix::control
