// Who may use the remote-control API: the token rules, and the checks that
// keep web pages from other sites from driving a player on this machine.
//
// A page on any web site can make the operator's browser send requests to
// 127.0.0.1; it cannot read the answers (no CORS headers are ever sent), but
// a simple POST would still reach the player. Two checks stop that without
// getting in the way of curl or control software:
//  - Origin: browsers name the page that sent a request; when that header
//    is present it must be this server's own origin (the web remote);
//  - Host: on a loopback address, the Host header must name a loopback
//    host (127.x, [::1], localhost), so a site whose name is made to resolve
//    to 127.0.0.1 (DNS rebinding) is refused too.
// Both answer 403. Requests without these headers (curl, scripts) pass.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "api_request.h"
#include "control_settings.h"

namespace plombix::control {

// The headers the checks read; null for a header that is absent.
struct AccessHeaders {
  const char* authorization = nullptr;
  const char* origin = nullptr;
  const char* host = nullptr;
};

// Nothing when the request may go on; else 403 or 401.
[[nodiscard]] std::optional<ApiError> CheckAccess(const ControlSettings& settings,
                                                  const AccessHeaders& headers);

// True when `authorization` is "Bearer TOKEN" or HTTP Basic with TOKEN as
// the password. The comparison takes the same time wherever the first
// difference is.
[[nodiscard]] bool AuthorizationMatches(std::string_view authorization, const std::string& token);

// Equal byte strings, in time that depends on the lengths only.
[[nodiscard]] bool ConstantTimeEquals(std::string_view a, std::string_view b);

}  // namespace plombix::control
