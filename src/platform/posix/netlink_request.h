#pragma once
// One netlink request and its answer, datagram by datagram: what every dump
// of the routing socket (links, their counters, routes) has in common.
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <span>
#include <vector>

#include "platform/posix/link_messages.h"

namespace quorrel::posix {

// Receives one datagram (without waiting when `flags` says MSG_DONTWAIT); the
// size, or -1 with errno. A datagram cut by the buffer reads as EMSGSIZE
// rather than as a shorter answer.
inline ssize_t ReceiveDatagram(int fd, std::vector<std::byte>& buffer, int flags) {
  for (;;) {
    iovec iov{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    const ssize_t received = ::recvmsg(fd, &message, flags);
    if (received < 0 && errno == EINTR) continue;
    if (received >= 0 && (message.msg_flags & MSG_TRUNC)) {
      errno = EMSGSIZE;
      return -1;
    }
    return received;
  }
}

// Sends `request` to the kernel on `fd` and hands each datagram of the answer
// to `onDatagram`, which returns the parser's status, until it says anything
// but kMore.
template <typename OnDatagram>
NetlinkStatus NetlinkRequest(int fd, std::vector<std::byte>& buffer,
                             std::span<const std::byte> request, OnDatagram&& onDatagram) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t sent;
  do {
    sent = ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                    sizeof kernel);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(request.size())) return NetlinkStatus::kFailed;
  for (;;) {
    const ssize_t received = ReceiveDatagram(fd, buffer, 0);
    if (received <= 0) return NetlinkStatus::kFailed;
    const NetlinkStatus status =
        onDatagram(std::span<const std::byte>(buffer.data(), static_cast<std::size_t>(received)));
    if (status != NetlinkStatus::kMore) return status;
  }
}

// The dump of every link's 64-bit counters (RTM_GETSTATS); the caller sets
// the sequence number.
struct StatsRequest {
  nlmsghdr header;
  if_stats_msg stats;
};
inline StatsRequest StatsDumpRequest() {
  StatsRequest request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = RTM_GETSTATS;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.stats.family = AF_UNSPEC;
  request.stats.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
  return request;
}

}  // namespace quorrel::posix
