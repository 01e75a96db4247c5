// Who may use the remote-control API: one decision for every way in (HTTP
// requests today; any other entry point calls the same function).
//
// Without a token (which means a loopback address), only the operator's own
// programs may drive the player: a request must come from a socket owned by
// the user the player runs as. Another user of the same machine could
// otherwise make the player open and publish files only the operator may
// read. With a token, whoever presents it may (any user, any machine).
//
// A page on any web site can make the operator's browser send requests to
// 127.0.0.1 -- from the operator's own user. It cannot read the answers (no
// CORS headers are ever sent), but a simple POST would still reach the
// player. Two checks stop that without getting in the way of curl or control
// software:
//  - Origin: browsers name the page that sent a request; when that header
//    is present it must be this server's own origin (the web remote);
//  - Host: on a loopback address, the Host header must name a loopback
//    host (127.x, [::1], localhost), so a site whose name is made to resolve
//    to 127.0.0.1 (DNS rebinding) is refused too.
// Both answer 403. Requests without these headers (curl, scripts) pass.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "api_request.h"
#include "control_settings.h"

namespace plombix::control {

// What the decision reads about one request: its headers (null when
// absent) and the user owning the client's socket (peer_user.h; nothing when
// unknown or not on this machine).
struct AccessRequest {
  const char* authorization = nullptr;
  const char* origin = nullptr;
  const char* host = nullptr;
  std::optional<uid_t> peerUid;
};

// Nothing when the request may go on; else 403 or 401.
[[nodiscard]] std::optional<ApiError> CheckAccess(const ControlSettings& settings,
                                                  const AccessRequest& request);

// True when `authorization` is "Bearer TOKEN" or HTTP Basic with TOKEN as
// the password. The comparison takes the same time wherever the first
// difference is.
[[nodiscard]] bool AuthorizationMatches(std::string_view authorization, const std::string& token);

// Equal byte strings, in time that depends on the lengths only.
[[nodiscard]] bool ConstantTimeEquals(std::string_view a, std::string_view b);

}  // namespace plombix::control
