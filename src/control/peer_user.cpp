#include "peer_user.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

#include "unique_fd.h"

namespace plombix::control {
namespace {

// One end of a conversation, an IPv4-mapped address taken as IPv4.
struct End {
  int family = AF_UNSPEC;
  uint8_t address[16] = {};  // network order; IPv4 in the first 4 bytes
  uint16_t port = 0;         // network order
};

std::optional<End> EndOf(const sockaddr* a) {
  End e;
  if (!a) return std::nullopt;
  if (a->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(a);
    e.family = AF_INET;
    std::memcpy(e.address, &v4->sin_addr, 4);
    e.port = v4->sin_port;
    return e;
  }
  if (a->sa_family != AF_INET6) return std::nullopt;
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(a);
  e.port = v6->sin6_port;
  if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
    e.family = AF_INET;
    std::memcpy(e.address, v6->sin6_addr.s6_addr + 12, 4);
  } else {
    e.family = AF_INET6;
    std::memcpy(e.address, v6->sin6_addr.s6_addr, 16);
  }
  return e;
}

bool IsLoopback(const End& e) {
  if (e.family == AF_INET) return e.address[0] == 127;
  in6_addr v6;
  std::memcpy(v6.s6_addr, e.address, 16);
  return IN6_IS_ADDR_LOOPBACK(&v6);
}

}  // namespace

std::optional<uid_t> LoopbackPeerUid(Transport transport, const sockaddr* peerAddress,
                                     const sockaddr* localAddress) {
  const std::optional<End> peer = EndOf(peerAddress), local = EndOf(localAddress);
  if (!peer || !local || peer->family != local->family || !IsLoopback(*peer)) return std::nullopt;

  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.header.nlmsg_seq = 1;
  inet_diag_req_v2& r = message.request;
  r.sdiag_family = uint8_t(peer->family);
  r.sdiag_protocol = transport == Transport::Tcp ? IPPROTO_TCP : IPPROTO_UDP;
  r.idiag_states = ~0u;
  r.id.idiag_cookie[0] = r.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  // The kernel looks a TCP socket up by its own end first (src), a UDP one
  // the way it routes a datagram: from src to the socket's end (dst).
  const End& first = transport == Transport::Tcp ? *peer : *local;
  const End& second = transport == Transport::Tcp ? *local : *peer;
  std::memcpy(r.id.idiag_src, first.address, sizeof r.id.idiag_src);
  std::memcpy(r.id.idiag_dst, second.address, sizeof r.id.idiag_dst);
  r.id.idiag_sport = first.port;
  r.id.idiag_dport = second.port;

  const UniqueFd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (fd.get() < 0) return std::nullopt;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd.get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
      ssize_t(sizeof message))
    return std::nullopt;
  // The kernel answers while handling the request; the wait is only a guard.
  pollfd p{fd.get(), POLLIN, 0};
  if (::poll(&p, 1, 200) != 1) return std::nullopt;
  alignas(nlmsghdr) char buffer[1024];
  sockaddr_nl from{};
  socklen_t fromLength = sizeof from;
  const ssize_t n =
      ::recvfrom(fd.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
  const auto* reply = reinterpret_cast<const nlmsghdr*>(buffer);
  // Only the kernel (port 0) is believed.
  if (n < ssize_t(NLMSG_LENGTH(sizeof(inet_diag_msg))) || from.nl_pid != 0 || !NLMSG_OK(reply, size_t(n)) ||
      reply->nlmsg_type != SOCK_DIAG_BY_FAMILY || reply->nlmsg_seq != 1 ||
      reply->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
    return std::nullopt;
  const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(reply));
  // The socket found must be the peer's own end: its address as the socket
  // holds it (an IPv6 socket talking IPv4 holds it IPv4-mapped), or, for a
  // datagram socket, an any-address.
  uint8_t expected[16] = {};
  if (found->idiag_family == AF_INET6 && peer->family == AF_INET) {
    expected[10] = expected[11] = 0xff;
    std::memcpy(expected + 12, peer->address, 4);
  } else {
    std::memcpy(expected, peer->address, 16);
  }
  static constexpr uint8_t kAny[16] = {};
  const size_t bytes = found->idiag_family == AF_INET ? 4 : 16;
  if (found->id.idiag_sport != peer->port ||
      (std::memcmp(found->id.idiag_src, expected, bytes) != 0 &&
       (transport == Transport::Tcp || std::memcmp(found->id.idiag_src, kAny, bytes) != 0)))
    return std::nullopt;
  // A socket its program has closed (inode 0) is not believed either: the
  // kernel reports owner 0 for connections in TIME-WAIT, which would pass a
  // closed connection of any user off as root's.
  if (found->idiag_inode == 0) return std::nullopt;
  return uid_t(found->idiag_uid);
}

std::optional<uid_t> ConnectedPeerUid(int fd) {
  sockaddr_storage peer{}, local{};
  socklen_t peerLength = sizeof peer, localLength = sizeof local;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0)
    return std::nullopt;
  return LoopbackPeerUid(Transport::Tcp, reinterpret_cast<sockaddr*>(&peer), reinterpret_cast<sockaddr*>(&local));
}

}  // namespace plombix::control
