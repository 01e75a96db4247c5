// Who may drive the player: the access decision, the owner of a loopback
// client's socket, curl run as another user, and clients that try to hold
// every connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "access_check.h"
#include "control_test_support.h"
#include "peer_user.h"
#include "temp_dir.h"

using namespace control_test;
using namespace std::chrono_literals;
using plombix::testing::RawConnect;
using plombix::testing::RawSendAll;

namespace {

using ControlAccess = ControlServerTest;

constexpr uid_t kOther = 65534;

TEST(AccessDecision, TokenOriginHostAndUser) {
  const uid_t me = ::geteuid() == kOther ? 0 : ::geteuid();
  struct Row {
    const char* label;
    std::string token;
    AccessRequest request;
    int status;  // 0: may go on
  };
  const char* own = "127.0.0.1:5981";
  const Row rows[] = {
      {"own user, no headers (curl)", "", {nullptr, nullptr, nullptr, me}, 0},
      {"another user", "", {nullptr, nullptr, nullptr, kOther}, 403},
      {"a user that cannot be told", "", {nullptr, nullptr, own, std::nullopt}, 403},
      {"the web remote itself", "", {nullptr, "http://127.0.0.1:5981", own, me}, 0},
      {"localhost", "", {nullptr, "http://localhost:5981", "localhost:5981", me}, 0},
      {"IPv6 loopback", "", {nullptr, nullptr, "[::1]:5981", me}, 0},
      {"another site's page", "", {nullptr, "https://example.com", own, me}, 403},
      {"a local file's page", "", {nullptr, "null", own, me}, 403},
      {"a name rebound to 127.0.0.1", "", {nullptr, nullptr, "attacker.example:5981", me}, 403},
      {"token: another user has it", "s3cret-t0ken", {"Bearer s3cret-t0ken", nullptr, own, kOther}, 0},
      {"token: own user without it", "s3cret-t0ken", {nullptr, nullptr, own, me}, 401},
      {"token: wrong", "s3cret-t0ken", {"Bearer s3cret-t0kem", nullptr, own, me}, 401},
      {"token: cut short", "s3cret-t0ken", {"Bearer s3cret", nullptr, own, me}, 401},
      {"token: with more", "s3cret-t0ken", {"Bearer s3cret-t0ken2", nullptr, own, me}, 401},
      {"token: other scheme", "s3cret-t0ken", {"Token s3cret-t0ken", nullptr, own, me}, 401},
      {"token: scheme in another case", "s3cret-t0ken", {"bearer s3cret-t0ken", nullptr, own, me}, 0},
      // base64("operator:s3cret-t0ken"), base64("operator:wrong")
      {"token: Basic, right password", "s3cret-t0ken", {"Basic b3BlcmF0b3I6czNjcmV0LXQwa2Vu", nullptr, own, me}, 0},
      {"token: Basic, wrong password", "s3cret-t0ken", {"Basic b3BlcmF0b3I6d3Jvbmc=", nullptr, own, me}, 401},
      {"token: Basic not base64", "s3cret-t0ken", {"Basic ***", nullptr, own, me}, 401},
      {"token: other site's page", "s3cret-t0ken", {"Bearer s3cret-t0ken", "https://example.com", own, me}, 403},
  };
  for (const Row& row : rows) {
    ControlSettings settings = LoopbackSettings(row.token);
    settings.userId = me;
    const std::optional<ApiError> refused = CheckAccess(settings, row.request);
    EXPECT_EQ(refused ? refused->status : 0, row.status) << row.label;
  }
  // Beyond loopback any Host is fine; the token is what counts.
  ControlSettings lan = LoopbackSettings("t");
  lan.bindAddress = "0.0.0.0";
  lan.loopback = false;
  EXPECT_FALSE(CheckAccess(lan, {"Bearer t", nullptr, "studio-pc:5981", kOther}));
}

sockaddr_storage Address(int family, const char* text, uint16_t port = 0) {
  sockaddr_storage s{};
  if (family == AF_INET) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&s);
    *v4 = sockaddr_in{AF_INET, htons(port), {}, {}};
    EXPECT_EQ(::inet_pton(AF_INET, text, &v4->sin_addr), 1) << text;
  } else {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&s);
    *v6 = sockaddr_in6{AF_INET6, htons(port), 0, {}, 0};
    EXPECT_EQ(::inet_pton(AF_INET6, text, &v6->sin6_addr), 1) << text;
  }
  return s;
}

uint16_t PortOf(int fd) {
  sockaddr_storage s{};
  socklen_t length = sizeof s;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&s), &length);
  return ntohs(reinterpret_cast<sockaddr_in*>(&s)->sin_port);  // same place in sockaddr_in6
}

TEST(PeerUser, LoopbackSocketsOfThisProcessAreThisUsers) {
  struct Row {
    const char* label;
    int family, type;
    const char *server, *client, *to;  // bound to, bound to, sent to
  };
  const Row rows[] = {
      {"TCP", AF_INET, SOCK_STREAM, "127.0.0.1", "127.0.0.1", "127.0.0.1"},
      {"TCP from another loopback address", AF_INET, SOCK_STREAM, "127.0.0.1", "127.0.0.7", "127.0.0.1"},
      {"TCP over IPv6", AF_INET6, SOCK_STREAM, "::1", "::1", "::1"},
      {"TCP, IPv4 on a dual-stack socket", AF_INET6, SOCK_STREAM, "::", "::ffff:127.0.0.1", "::ffff:127.0.0.1"},
      {"UDP from an unbound socket", AF_INET, SOCK_DGRAM, "127.0.0.1", "0.0.0.0", "127.0.0.1"},
      {"UDP over IPv6", AF_INET6, SOCK_DGRAM, "::1", "::1", "::1"},
  };
  const socklen_t size = sizeof(sockaddr_storage);
  for (const Row& row : rows) {
    const int server = ::socket(row.family, row.type, 0), client = ::socket(row.family, row.type, 0);
    sockaddr_storage at = Address(row.family, row.server), from = Address(row.family, row.client);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&at), size), 0) << row.label;
    ASSERT_EQ(::bind(client, reinterpret_cast<sockaddr*>(&from), size), 0) << row.label;
    at = Address(row.family, row.to, PortOf(server));
    std::optional<uid_t> owner;
    if (row.type == SOCK_STREAM) {
      ASSERT_EQ(::listen(server, 1), 0);
      ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&at), size), 0) << row.label;
      const int accepted = ::accept(server, nullptr, nullptr);
      owner = ConnectedPeerUid(accepted);
      ::close(client);  // closed: no longer believed
      EXPECT_EQ(ConnectedPeerUid(accepted), std::nullopt) << row.label;
      ::close(accepted);
    } else {
      ASSERT_EQ(::sendto(client, "x", 1, 0, reinterpret_cast<sockaddr*>(&at), size), 1) << row.label;
      char byte;
      sockaddr_storage sender{};
      socklen_t length = size;
      ASSERT_EQ(::recvfrom(server, &byte, 1, 0, reinterpret_cast<sockaddr*>(&sender), &length), 1);
      owner = LoopbackPeerUid(Transport::Udp, reinterpret_cast<sockaddr*>(&sender),
                              reinterpret_cast<sockaddr*>(&at));
      ::close(client);
    }
    ::close(server);
    EXPECT_EQ(owner, std::optional<uid_t>(::geteuid())) << row.label;
  }
  const sockaddr_storage far = Address(AF_INET, "192.0.2.1", 80), near = Address(AF_INET, "127.0.0.1", 80);
  EXPECT_EQ(LoopbackPeerUid(Transport::Tcp, reinterpret_cast<const sockaddr*>(&far),
                            reinterpret_cast<const sockaddr*>(&near)),
            std::nullopt);
}

// curl run as user nobody: refused without the token, whatever file it names.
TEST_F(ControlAccess, AnotherUsersCurlIsRefusedUnlessItHasTheToken) {
  if (::geteuid() != 0) GTEST_SKIP() << "running curl as another user needs root";
  if (::access("/usr/bin/curl", X_OK) != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "curl or setpriv is not installed";
  plombix::testing::TempDir dir;
  const std::string secret = dir.file("secret.png");
  std::ofstream(secret) << "the operator's own";
  struct Row {
    const char* label;
    const char* bind;
    std::string token, asUser, authorization;  // asUser: uid and gid
    int status;
  };
  const Row rows[] = {
      {"nobody", "127.0.0.1", "", "65534", "", 403},
      {"nobody over IPv6", "::1", "", "65534", "", 403},
      {"the player's own user", "127.0.0.1", "", "0", "", 200},
      {"the player's own user over IPv6", "::1", "", "0", "", 200},
      {"nobody with the token", "127.0.0.1", "t0k", "65534", "Bearer t0k", 200},
      {"nobody with a wrong token", "127.0.0.1", "t0k", "65534", "Bearer t0", 401},
  };
  for (const Row& row : rows) {
    ControlSettings settings = LoopbackSettings(row.token);
    settings.bindAddress = row.bind;
    restart(settings);
    host_.clearCalls();
    const std::string url = std::string("http://") + (row.bind[0] == ':' ? "[::1]" : row.bind) + ":" +
                            std::to_string(port()) + "/api/v1/show";
    const std::string command = "setpriv --reuid=" + row.asUser + " --regid=" + row.asUser +
                                " --clear-groups curl -sg -o /dev/null -w '%{http_code}' -H '" +
                                (row.authorization.empty() ? "X-None: 1" : "Authorization: " + row.authorization) +
                                "' -d '{\"path\":\"" + secret + "\"}' " + url + " 2>&1";
    FILE* curl = ::popen(command.c_str(), "r");
    ASSERT_NE(curl, nullptr);
    char out[64] = {};
    const size_t n = std::fread(out, 1, sizeof out - 1, curl);
    ::pclose(curl);
    EXPECT_EQ(std::string(out, n), std::to_string(row.status)) << row.label;
    EXPECT_EQ(host_.calls().size(), row.status == 200 ? 1u : 0u) << row.label;
  }
}

// Clients that open connections and send their heads a byte at a time (and
// reconnect at once when cut) from one or many loopback addresses: every
// request of a client that sends its request whole is answered meanwhile.
TEST_F(ControlAccess, TricklingClientsCannotLockTheApiOut) {
  struct Row {
    const char* label;
    const char* bind;
    std::string token;
    int addresses;  // 127.0.0.2 onwards; 0: 127.0.0.1
  };
  const Row rows[] = {
      {"from 127.0.0.1", "127.0.0.1", "", 0},
      {"from eight addresses", "127.0.0.1", "", 8},
      {"every interface, with a token", "0.0.0.0", "t0ken", 8},
  };
  ControlLimits limits;
  limits.headDeadline = 300ms;
  limits.requestDeadline = 400ms;
  for (const Row& row : rows) {
    ControlSettings settings = LoopbackSettings(row.token);
    settings.bindAddress = row.bind;
    settings.loopback = row.bind != std::string("0.0.0.0");
    restart(settings, limits);
    std::atomic<bool> stop{false};
    std::atomic<int> cut{0};
    std::thread attacker([&] {
      std::vector<int> fds(100, -1);
      while (!stop) {
        for (size_t i = 0; i < fds.size(); ++i) {
          char byte;
          if (fds[i] >= 0 && (!RawSendAll(fds[i], "a") || ::recv(fds[i], &byte, 1, MSG_DONTWAIT) == 0)) {
            ::close(fds[i]);
            fds[i] = -1;
            ++cut;
          }
          if (fds[i] >= 0) continue;
          const std::string from = "127.0.0." + std::to_string(row.addresses ? 2 + int(i) % row.addresses : 1);
          fds[i] = RawConnect(port(), from.c_str());
          if (fds[i] >= 0) RawSendAll(fds[i], "GET /api/v1/state HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
        }
        std::this_thread::sleep_for(20ms);
      }
      for (int fd : fds)
        if (fd >= 0) ::close(fd);
    });
    while (cut < 100) std::this_thread::sleep_for(10ms);  // every place taken, newcomers cutting the oldest
    const std::vector<std::string> auth = row.token.empty() ? std::vector<std::string>{}
                                                            : std::vector<std::string>{"Authorization: Bearer " + row.token};
    int answered = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
      answered += Http(port(), "GET", "/api/v1/state", "", auth).status == 200;
      std::this_thread::sleep_for(40ms);  // across several head deadlines of the attack
    }
    const auto took = std::chrono::steady_clock::now() - start;
    stop = true;
    attacker.join();
    EXPECT_EQ(answered, 20) << row.label;
    EXPECT_GE(cut, 100) << row.label;
    std::printf("%s: 20 requests in %lld ms, %d attacking connections cut\n", row.label,
                (long long)std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), cut.load());
  }
}

}  // namespace
