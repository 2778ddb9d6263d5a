#include "watch/route_links.h"

#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include "platform/posix/netlink_request.h"

namespace quorrel::watch {
namespace {

using posix::NetlinkStatus;

constexpr std::size_t kReceiveSize = 64 * 1024;  // above the kernel's 32 KiB dump chunks
constexpr int kDumpAttempts = 3;

}  // namespace

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
      return posix::ParseDefaultRoutes(bytes, sequence_, best, metric);
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
