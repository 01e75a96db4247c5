// Who may drive the player: the access decision, the owner of a loopback client's
// socket, curl run as another user, and clients that try to hold every connection.
#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "access_check.h"
#include "control_test_support.h"
#include "peer_user.h"

using namespace control_test;
using namespace std::chrono_literals;
using plombix::testing::RawConnect, plombix::testing::RawSendAll;

namespace {

using ControlAccess = ControlServerTest;

TEST(AccessDecision, TokenOriginHostAndUser) {
  const uid_t me = 1000, other = 1001;
  const char* own = "127.0.0.1:5981";
  struct Row { std::string token; AccessRequest request; int status; bool loopback = true; };  // status 0: may go on
  const Row rows[] = {
      {"", {nullptr, nullptr, nullptr, me}, 0},  // curl, of the player's own user
      {"", {nullptr, nullptr, own, other}, 403},
      {"", {nullptr, nullptr, own, std::nullopt}, 403},  // a user that cannot be told
      {"", {nullptr, "http://127.0.0.1:5981", own, me}, 0},  // the web remote itself
      {"", {nullptr, "http://localhost:5981", "localhost:5981", me}, 0},
      {"", {nullptr, nullptr, "[::1]:5981", me}, 0},
      {"", {nullptr, "https://example.com", own, me}, 403},  // another site's page
      {"", {nullptr, "null", own, me}, 403},                 // a local file's page
      {"", {nullptr, nullptr, "attacker.example:5981", me}, 403},  // a name rebound to 127.0.0.1
      {"s3cret-t0ken", {"Bearer s3cret-t0ken", nullptr, own, other}, 0},
      {"s3cret-t0ken", {nullptr, nullptr, own, me}, 401},
      {"s3cret-t0ken", {"Bearer s3cret-t0kem", nullptr, own, me}, 401},
      {"s3cret-t0ken", {"Bearer s3cret-t0ken2", nullptr, own, me}, 401},
      {"s3cret-t0ken", {"Token s3cret-t0ken", nullptr, own, me}, 401},
      {"s3cret-t0ken", {"bearer s3cret-t0ken", nullptr, own, me}, 0},
      // base64("operator:s3cret-t0ken"), base64("operator:wrong")
      {"s3cret-t0ken", {"Basic b3BlcmF0b3I6czNjcmV0LXQwa2Vu", nullptr, own, me}, 0},
      {"s3cret-t0ken", {"Basic b3BlcmF0b3I6d3Jvbmc=", nullptr, own, me}, 401},
      {"s3cret-t0ken", {"Basic ***", nullptr, own, me}, 401},
      {"s3cret-t0ken", {"Bearer s3cret-t0ken", "https://example.com", own, me}, 403},
      {"s3cret-t0ken", {"Bearer s3cret-t0ken", nullptr, "studio-pc:5981", other}, 0, false},  // not on loopback
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    ControlSettings settings = LoopbackSettings(rows[i].token);
    settings.userId = me;
    settings.loopback = rows[i].loopback;
    const std::optional<ApiError> refused = CheckAccess(settings, rows[i].request);
    EXPECT_EQ(refused ? refused->status : 0, rows[i].status) << "row " << i;
  }
}

// (The other tests look every request up over IPv4, curl's test over IPv6.)
TEST(PeerUser, OwnerOfALoopbackClientWhileItsSocketIsOpen) {
  const auto any = [](auto& address) { return reinterpret_cast<sockaddr*>(&address); };
  int server = ::socket(AF_INET6, SOCK_STREAM, 0), client = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 at{AF_INET6, 0, 0, in6addr_any, 0};  // dual-stack: an IPv4 client is IPv4-mapped
  socklen_t size = sizeof at;
  ASSERT_EQ(::bind(server, any(at), size) | ::listen(server, 1) | ::getsockname(server, any(at), &size), 0);
  ASSERT_EQ(::inet_pton(AF_INET6, "::ffff:127.0.0.1", &at.sin6_addr), 1);
  ASSERT_EQ(::connect(client, any(at), size), 0);
  const int accepted = ::accept(server, nullptr, nullptr);
  EXPECT_EQ(ConnectedPeerUid(accepted), std::optional<uid_t>(::geteuid()));
  ::close(client);  // the kernel reports owner 0 once it lingers closed: not believed
  EXPECT_EQ(ConnectedPeerUid(accepted), std::nullopt);
  for (int fd : {accepted, server}) ::close(fd);
  // A datagram from a socket never bound (it sends from an any-address).
  sockaddr_in to{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}}, from{};
  server = ::socket(AF_INET, SOCK_DGRAM, 0);
  client = ::socket(AF_INET, SOCK_DGRAM, 0);
  size = sizeof to;
  char byte;
  ASSERT_EQ(::bind(server, any(to), size) | ::getsockname(server, any(to), &size), 0);
  ASSERT_EQ(::sendto(client, "x", 1, 0, any(to), size), 1);
  ASSERT_EQ(::recvfrom(server, &byte, 1, 0, any(from), &size), 1);
  EXPECT_EQ(LoopbackPeerUid(Transport::Udp, any(from), any(to)), std::optional<uid_t>(::geteuid()));
  for (int fd : {client, server}) ::close(fd);
}

// curl run as user nobody: refused without the token (the file to show is in a folder only the operator may read).
TEST_F(ControlAccess, AnotherUsersCurlIsRefusedUnlessItHasTheToken) {
  if (::geteuid() != 0 || ::access("/usr/bin/curl", X_OK) != 0) GTEST_SKIP() << "needs root and curl";
  struct Row { const char* bind; std::string token, user, header; int status; bool events = false; };
  const Row rows[] = {  // user: uid and gid; events: GET /api/v1/events, read for a second
      {"127.0.0.1", "", "65534", "X-None: 1", 403},  {"::1", "", "65534", "X-None: 1", 403},
      {"127.0.0.1", "", "0", "X-None: 1", 200},      {"::1", "", "0", "X-None: 1", 200},
      {"127.0.0.1", "t0k", "65534", "Authorization: Bearer t0k", 200},
      {"127.0.0.1", "t0k", "65534", "Authorization: Bearer t0", 401},
      {"127.0.0.1", "", "65534", "X-None: 1", 403, true}, {"127.0.0.1", "", "0", "X-None: 1", 200, true},
  };
  for (const auto& row : rows) {
    ControlSettings settings = LoopbackSettings(row.token);
    settings.bindAddress = row.bind;
    restart(settings);
    host_.clearCalls();
    const std::string command = "setpriv --reuid=" + row.user + " --regid=" + row.user +
        " --clear-groups curl -sg -o /dev/null -w '%{http_code}' -H '" + row.header + "' " +
        (row.events ? "-m 1 " + server_->url() + "api/v1/events" : "-d '" + show_ + "' " + server_->url() + "api/v1/show");
    FILE* curl = ::popen(command.c_str(), "r");
    char out[64] = {};
    const size_t n = curl ? std::fread(out, 1, sizeof out - 1, curl) : 0;
    if (curl) ::pclose(curl);
    EXPECT_EQ(std::string(out, n), std::to_string(row.status)) << command;
    EXPECT_EQ(host_.calls().size(), row.status == 200 && !row.events ? 1u : 0u) << command;
  }
}

// Clients sending a byte every 20 ms (reconnecting when cut), alone or 100 from one or eight loopback addresses, are
// cut (by a deadline, or to make room) while every request of four clients sending theirs whole is answered.
TEST_F(ControlAccess, SlowAndTricklingClientsCannotLockTheApiOut) {
  const std::string head = "GET /api/v1/state HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
  // addresses: 127.0.0.2 onwards, 0: 127.0.0.1; first: sent on connecting
  const struct { int clients, addresses; std::string first; const char* bind = "127.0.0.1"; } rows[] = {
      {1, 0, head}, {1, 0, "POST /api/v1/watch HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1000\r\n\r\n{"},
      {100, 0, head}, {100, 8, head}, {100, 8, head, "0.0.0.0"},  // the last with a token
  };
  const ControlLimits limits{.headDeadline = 300ms, .requestDeadline = 400ms};
  for (const auto& row : rows) {
    ControlSettings settings = LoopbackSettings(row.bind[0] == '0' ? "t0ken" : "");
    settings.bindAddress = row.bind;
    settings.loopback = IsLoopbackAddress(row.bind);
    restart(settings, limits);
    std::atomic<int> cut{0}, answered{0};
    std::atomic<bool> stop{false};
    std::thread attacker([&] {
      std::vector<int> fds(size_t(row.clients), -1);
      for (char byte; !stop; std::this_thread::sleep_for(20ms)) {
        for (size_t i = 0; i < fds.size(); ++i) {
          if (fds[i] >= 0 && (!RawSendAll(fds[i], "a") || ::recv(fds[i], &byte, 1, MSG_DONTWAIT) == 0))
            cut += ::close(std::exchange(fds[i], -1)) == 0;
          const std::string from = "127.0.0." + std::to_string(row.addresses ? 2 + int(i) % row.addresses : 1);
          if (fds[i] < 0 && (fds[i] = RawConnect(port(), from.c_str())) >= 0)
            RawSendAll(fds[i], row.first);
        }
      }
      for (int fd : fds) ::close(fd);
    });
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c)  // each across several deadlines
      clients.emplace_back([&] {
        for (int i = 0; i < 5; ++i, std::this_thread::sleep_for(100ms))
          answered += Http(port(), "GET", "/api/v1/state", "", {"Authorization: Bearer t0ken"}).status == 200;
      });
    for (std::thread& client : clients) client.join();
    stop = true;
    attacker.join();
    EXPECT_EQ(answered, 20) << row.clients << " " << row.first;
    EXPECT_GE(cut, row.clients) << row.clients << " " << row.first;
  }
}

}  // namespace
