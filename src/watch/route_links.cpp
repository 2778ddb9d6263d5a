#include "watch/route_links.h"

#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/netlink_request.h"

namespace quorrel::watch {
namespace {

using posix::NetlinkStatus;

constexpr std::size_t kReceiveSize = 64 * 1024;  // above the kernel's 32 KiB dump chunks
constexpr int kDumpAttempts = 3;

template <typename T>
T ReadAt(std::span<const std::byte> bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

}  // namespace

NetlinkStatus ParseDefaultRoutes(std::span<const std::byte> datagram, std::uint32_t sequence,
                                 std::optional<int>& best, std::uint32_t& bestMetric) {
  std::size_t at = 0;
  while (datagram.size() - at >= sizeof(nlmsghdr)) {
    const auto header = ReadAt<nlmsghdr>(datagram, at);
    if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > datagram.size() - at)
      return NetlinkStatus::kFailed;
    const auto message = datagram.subspan(at, header.nlmsg_len);
    at += std::min<std::size_t>(NLMSG_ALIGN(header.nlmsg_len), datagram.size() - at);
    if (sequence != 0 && header.nlmsg_seq != sequence) continue;
    if (header.nlmsg_type == NLMSG_ERROR) return NetlinkStatus::kFailed;
    if (header.nlmsg_type == NLMSG_DONE)
      return (header.nlmsg_flags & NLM_F_DUMP_INTR) ? NetlinkStatus::kInterrupted
                                                    : NetlinkStatus::kDone;
    if (header.nlmsg_type != RTM_NEWROUTE) continue;
    const std::size_t body = NLMSG_HDRLEN;
    if (message.size() < body + sizeof(rtmsg)) continue;
    const auto route = ReadAt<rtmsg>(message, body);
    if (route.rtm_family != AF_INET || route.rtm_dst_len != 0 || route.rtm_type != RTN_UNICAST)
      continue;
    std::uint32_t table = route.rtm_table;
    std::uint32_t metric = 0;
    std::optional<int> link;
    std::size_t attr = body + NLMSG_ALIGN(sizeof(rtmsg));
    while (attr + sizeof(rtattr) <= message.size()) {
      const auto head = ReadAt<rtattr>(message, attr);
      if (head.rta_len < sizeof(rtattr) || head.rta_len > message.size() - attr) break;
      const std::size_t payload = head.rta_len - RTA_LENGTH(0);
      const std::size_t data = attr + RTA_LENGTH(0);
      if (payload >= sizeof(std::uint32_t)) {
        const auto value = ReadAt<std::uint32_t>(message, data);
        if (head.rta_type == RTA_OIF) link = static_cast<int>(value);
        if (head.rta_type == RTA_PRIORITY) metric = value;
        if (head.rta_type == RTA_TABLE) table = value;
      }
      attr += RTA_ALIGN(head.rta_len);
    }
    if (table != RT_TABLE_MAIN || !link) continue;
    if (!best || metric < bestMetric) {
      best = link;
      bestMetric = metric;
    }
  }
  return NetlinkStatus::kMore;
}

bool RouteSocket::Open() {
  if (fd_.Get() >= 0) return true;
  fd_.Reset(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  receive_.resize(kReceiveSize);
  return fd_.Get() >= 0;
}

template <typename Parse>
NetlinkStatus RouteSocket::Dump(std::span<const std::byte> request, Parse&& parse) {
  return posix::NetlinkRequest(fd_.Get(), receive_, request, parse);
}

std::optional<int> RouteSocket::DefaultRouteLink() {
  if (!Open()) return std::nullopt;
  struct {
    nlmsghdr header;
    rtmsg route;
  } request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.route.rtm_family = AF_INET;
  std::optional<int> best;
  NetlinkStatus status = NetlinkStatus::kInterrupted;
  for (int attempt = 0; attempt < kDumpAttempts && status == NetlinkStatus::kInterrupted;
       ++attempt) {
    request.header.nlmsg_seq = ++sequence_;
    best.reset();
    std::uint32_t metric = 0;
    status = Dump(std::as_bytes(std::span(&request, 1)), [&](std::span<const std::byte> bytes) {
      return ParseDefaultRoutes(bytes, sequence_, best, metric);
    });
  }
  if (status != NetlinkStatus::kDone) {
    fd_.Reset();
    return std::nullopt;
  }
  return best;
}

std::optional<posix::LinkCounters> RouteSocket::Counters(int linkIndex) {
  if (!Open()) return std::nullopt;
  posix::StatsRequest request = posix::StatsDumpRequest();
  request.header.nlmsg_seq = ++sequence_;
  counters_.clear();
  const NetlinkStatus status =
      Dump(std::as_bytes(std::span(&request, 1)), [&](std::span<const std::byte> bytes) {
        return posix::ParseStatsMessages(bytes, sequence_, counters_);
      });
  if (status != NetlinkStatus::kDone) {
    // Interrupted too: a link came or went, and the next tick asks again.
    if (status == NetlinkStatus::kFailed) fd_.Reset();
    return std::nullopt;
  }
  for (const posix::LinkCounters& counters : counters_)
    if (counters.index == linkIndex) return counters;
  return std::nullopt;
}

}  // namespace quorrel::watch
