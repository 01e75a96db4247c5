// Which local user is on the other end of a loopback connection or datagram:
// the owner (user id) of the client's own socket, as the kernel records it.
// The remote control lets the operator's own programs in without a token and
// turns every other user of the machine away; this is how it tells them
// apart.
//
// How: one exact lookup through the kernel's socket-diagnostics netlink
// interface (NETLINK_SOCK_DIAG, what `ss` uses), keyed by the two ends'
// addresses and ports. Any user may ask it, it answers from the kernel's
// socket hash table in constant time, and it reports the socket's owner
// (the user that created it), which a client cannot choose. Reading the
// whole socket table from /proc/net/tcp instead costs time in proportion to
// every socket on the machine -- closed connections linger there for a
// minute, so a client that opens and drops connections quickly could make
// each lookup slower and slower.
//
// Only loopback peers can be looked up (other machines' sockets are not in
// this kernel), and only while the peer's program still has its socket
// open: ask when a connection starts, or as a datagram arrives (a sender
// that closes its socket at once, as one-shot tools do, may be gone by
// then). Thread-safe; each call opens and closes its own netlink socket.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <optional>

namespace plombix::control {

enum class Transport { Tcp, Udp };

// The owner of the socket at `peer` that exchanges packets with ours at
// `local`: for TCP the two ends of the connection, for UDP the address a
// datagram came from and the address it was sent to (IP_PKTINFO tells it
// when the receiving socket is bound to an any-address). IPv4, IPv6 and
// IPv4-mapped IPv6 addresses. Nothing when no such socket exists (any
// more), the addresses are not loopback, or the kernel does not answer.
[[nodiscard]] std::optional<uid_t> LoopbackPeerUid(Transport transport, const sockaddr* peer,
                                                   const sockaddr* local);

// The owner of the peer of a connected TCP socket (an accepted connection).
[[nodiscard]] std::optional<uid_t> ConnectedPeerUid(int fd);

}  // namespace plombix::control
