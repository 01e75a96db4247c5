// A plain-socket HTTP client for the tests of the player's servers, written
// apart from them so that it checks them rather than mirrors them: one request
// sent verbatim, the answer read to the connection's close and split up.
#pragma once

#include <map>
#include <string>

namespace plombix::testing {

struct RawResponse {
  bool complete = false;     // a status line and a whole head arrived
  bool closedEarly = false;  // the server closed without sending anything
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;

  std::string header(const std::string& lowerCaseName) const {
    return headers.contains(lowerCaseName) ? headers.at(lowerCaseName) : std::string();
  }
};

// A blocking TCP connection to 127.0.0.1:port (send and receive time-outs
// 10 s), from `fromAddress` (another loopback address) when given; -1 if
// refused.
int RawConnect(int port, const char* fromAddress = nullptr);
bool RawSendAll(int fd, const std::string& bytes);
// Everything the server sends until it closes (or the time-out).
std::string RawReadToClose(int fd);
// Splits the head and body of a whole exchange.
RawResponse ParseResponse(const std::string& bytes);
// Sends `request` verbatim on a new connection and reads the answer.
RawResponse RawExchange(int port, const std::string& request);

}  // namespace plombix::testing
