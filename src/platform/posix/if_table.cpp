#include "platform/posix/if_table.h"

// glibc's <net/if.h> must come before the kernel's headers, which then leave
// out their own copies of struct ifreq and the IFF_ flags.
// clang-format off
#include <net/if.h>
// clang-format on

#include <linux/ethtool.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/bytes.h"
#include "platform/posix/netlink_request.h"

namespace quorrel::posix {
namespace {

constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::size_t kReceiveSize = 64 * 1024;  // above the kernel's 32 KiB dump chunks
constexpr int kDumpAttempts = 3;
constexpr unsigned long kSiocgiwname = 0x8B01;  // wireless extensions: "what protocol?"

}  // namespace

bool NetlinkIfTable::Open() {
  if (dump_.Get() >= 0) return true;
  UniqueFd dump(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  UniqueFd notify(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
  if (dump.Get() < 0 || notify.Get() < 0) return false;
  sockaddr_nl group{};
  group.nl_family = AF_NETLINK;
  group.nl_groups = RTMGRP_LINK;
  // Joined before the first dump, so that no change falls between the two.
  if (::bind(notify.Get(), reinterpret_cast<sockaddr*>(&group), sizeof group) != 0) return false;
  dump_ = std::move(dump);
  notify_ = std::move(notify);
  receive_.resize(kReceiveSize);
  overrun_ = true;  // nothing known yet: the first snapshot dumps the links
  return true;
}

void NetlinkIfTable::Close() {
  dump_.Reset();
  notify_.Reset();
  links_.clear();
  snapshot_.clear();
  unlisted_.clear();
  shared_ = false;
  batchSnapshot_ = false;
}

void NetlinkIfTable::BeginReadBatch() {
  if (batchDepth_++ == 0) batchSnapshot_ = false;  // counters from before it are old
}

void NetlinkIfTable::EndReadBatch() {
  if (batchDepth_ > 0 && --batchDepth_ == 0) batchSnapshot_ = false;
}

template <typename OnDatagram>
NetlinkStatus NetlinkIfTable::Request(std::span<const std::byte> request, OnDatagram&& onDatagram) {
  return NetlinkRequest(dump_.Get(), receive_, request, onDatagram);
}

bool NetlinkIfTable::ReadNotifications() {
  bool changed = false;
  for (;;) {
    const ssize_t received = ReceiveDatagram(notify_.Get(), receive_, MSG_DONTWAIT);
    if (received < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      // ENOBUFS: the kernel dropped notifications; any other failure leaves
      // us as unsure. Either way only a dump can tell what is there now.
      overrun_ = true;
      if (errno != ENOBUFS && errno != EMSGSIZE) break;
      continue;
    }
    if (overrun_) continue;  // superseded by the dump to come
    changes_.clear();
    ParseLinkMessages(
        std::span<const std::byte>(receive_.data(), static_cast<std::size_t>(received)), 0,
        changes_);
    for (LinkChange& change : changes_) {
      if (change.removed) {
        changed |= links_.erase(change.link.index) > 0;
      } else {
        changed |= Store(change.link);
      }
    }
  }
  return changed || overrun_;
}

bool NetlinkIfTable::Store(LinkRecord& record) {
  unlisted_.erase(record.index);
  auto [at, added] = links_.try_emplace(record.index);
  CachedLink& cached = at->second;
  if (!added && cached.record == record) return false;
  // A new or changed link: its speed (and whether it is wireless) may be
  // different now, so the device is asked again, once.
  cached.record = std::move(record);
  cached.row.resize(kIfRowSize);
  BuildStaticRow(cached.row.data(), cached.record, ProbeDevice(cached.record));
  return true;
}

bool NetlinkIfTable::DumpLinks() {
  // What is queued now is older than the dump, which supersedes it.
  while (ReceiveDatagram(notify_.Get(), receive_, MSG_DONTWAIT) >= 0 || errno == ENOBUFS ||
         errno == EMSGSIZE) {
  }
  overrun_ = false;

  struct {
    nlmsghdr header;
    ifinfomsg info;
    rtattr maskHeader;
    std::uint32_t mask;
  } request{};
  static_assert(sizeof request == NLMSG_LENGTH(sizeof(ifinfomsg)) + RTA_LENGTH(4));
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = RTM_GETLINK;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.info.ifi_family = AF_UNSPEC;
  request.maskHeader.rta_len = RTA_LENGTH(sizeof request.mask);
  request.maskHeader.rta_type = IFLA_EXT_MASK;
  request.mask = RTEXT_FILTER_SKIP_STATS;  // the counters come from the stats dump

  NetlinkStatus status = NetlinkStatus::kInterrupted;
  for (int attempt = 0; attempt < kDumpAttempts && status == NetlinkStatus::kInterrupted;
       ++attempt) {
    request.header.nlmsg_seq = ++sequence_;
    changes_.clear();
    status = Request(std::as_bytes(std::span(&request, 1)), [&](std::span<const std::byte> bytes) {
      return ParseLinkMessages(bytes, sequence_, changes_);
    });
  }
  if (status != NetlinkStatus::kDone) return false;
  ++linkDumps_;

  // Links that did not change keep their row and what their device said.
  std::unordered_map<std::int32_t, CachedLink> previous;
  previous.swap(links_);
  links_.reserve(changes_.size());
  unlisted_.clear();
  for (LinkChange& change : changes_) {
    if (change.removed) continue;
    auto old = previous.find(change.link.index);
    if (old != previous.end() && old->second.record == change.link) {
      links_.emplace(change.link.index, std::move(old->second));
    } else {
      Store(change.link);
    }
  }
  return true;
}

LinkProbe NetlinkIfTable::ProbeDevice(const LinkRecord& link) const {
  LinkProbe probe;
  ifreq request{};
  std::memcpy(request.ifr_name, link.name.data(),
              std::min(link.name.size(), sizeof request.ifr_name - 1));
  // Only hardware can be wireless; virtual devices name their kind.
  probe.wireless = link.arpType == ARPHRD_ETHER && link.kind.empty() &&
                   ::ioctl(dump_.Get(), kSiocgiwname, &request) == 0;
  if (link.arpType != ARPHRD_LOOPBACK) {
    ethtool_cmd settings{};
    settings.cmd = ETHTOOL_GSET;
    request.ifr_data = reinterpret_cast<char*>(&settings);
    if (::ioctl(dump_.Get(), SIOCETHTOOL, &request) == 0) {
      const std::uint32_t megabits = ethtool_cmd_speed(&settings);
      // The row holds 32 bits: links of 4.3 Gb/s and more show the largest value.
      if (megabits != 0 && megabits != static_cast<std::uint32_t>(SPEED_UNKNOWN))
        probe.speed =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(megabits * 1000000ull, UINT32_MAX));
    }
  }
  return probe;
}

bool NetlinkIfTable::TakeSnapshot() {
  shared_ = false;
  batchSnapshot_ = false;
  ReadNotifications();
  if (overrun_ && !DumpLinks()) return false;

  StatsRequest request = StatsDumpRequest();
  NetlinkStatus status = NetlinkStatus::kInterrupted;
  for (int attempt = 0; attempt < kDumpAttempts && status == NetlinkStatus::kInterrupted;
       ++attempt) {
    request.header.nlmsg_seq = ++sequence_;
    counters_.clear();
    status = Request(std::as_bytes(std::span(&request, 1)), [&](std::span<const std::byte> bytes) {
      return ParseStatsMessages(bytes, sequence_, counters_);
    });
  }
  if (status != NetlinkStatus::kDone) return false;
  ++statsDumps_;

  // Rows in the stats dump's order, which walks the links as the link dump does.
  auto resolve = [&] {
    snapshot_.clear();
    snapshot_.reserve(counters_.size());
    std::size_t unknown = 0;
    for (const LinkCounters& c : counters_) {
      auto link = links_.find(c.index);
      if (link != links_.end()) {
        snapshot_.push_back({&link->second, c});
      } else if (!unlisted_.contains(c.index)) {
        ++unknown;
      }
    }
    return unknown;
  };
  batchSnapshot_ = batchDepth_ > 0;
  if (resolve() == 0) return true;
  // A link made since the notifications were read: its message is queued by
  // now, since the kernel announces a link before any dump can list it.
  ReadNotifications();
  if (overrun_ && !DumpLinks()) return false;
  if (resolve() == 0) return true;
  if (!DumpLinks()) return false;
  resolve();
  // What is still unknown the link dump does not list (a link without a name):
  // left out of the table, as the dump leaves it out, without asking again.
  for (const LinkCounters& c : counters_)
    if (!links_.contains(c.index)) unlisted_.insert(c.index);
  return true;
}

std::uint32_t NetlinkIfTable::GetIfTable(std::byte* table, std::uint32_t& size, bool sort) {
  if (!Open()) return kErrorNotSupported;
  const bool fits = table != nullptr && size >= kIfTableHeaderSize;
  const auto now = std::chrono::steady_clock::now();
  // A fill right after its size query, and any read inside a batch, takes the
  // snapshot already made, unless a link changed since (the reading of the
  // notifications tells).
  const bool sharable =
      batchSnapshot_ || (fits && shared_ && now - sharedAt_ <= kSharedSnapshotAge);
  const bool reuse = sharable && !ReadNotifications();
  if (!reuse) {
    bool taken = false;
    for (int attempt = 0; attempt < kDumpAttempts && !taken; ++attempt) {
      taken = TakeSnapshot();
      if (!taken) {
        Close();
        if (!Open()) return kErrorNotSupported;
      }
    }
    if (!taken) return kErrorGenFailure;
    sharedAt_ = now;
  }

  const std::uint64_t needed = kIfTableHeaderSize + std::uint64_t{snapshot_.size()} * kIfRowSize;
  if (needed > UINT32_MAX) return kErrorNotEnoughMemory;
  if (!table || size < needed) {
    size = static_cast<std::uint32_t>(needed);  // a query, or the table grew since the query
    shared_ = true;
    return kErrorInsufficientBuffer;
  }
  shared_ = false;

  WriteLe32(table, static_cast<std::uint32_t>(snapshot_.size()));
  std::byte* row = table + kIfTableHeaderSize;
  auto put = [&row](const SnapshotRow& r) {
    std::memcpy(row, r.link->row.data(), kIfRowSize);
    PutRowCounters(row, r.counters);
    row += kIfRowSize;
  };
  if (!sort) {
    for (const SnapshotRow& r : snapshot_) put(r);
    return kNoError;
  }
  std::vector<const SnapshotRow*> order(snapshot_.size());
  for (std::size_t i = 0; i < snapshot_.size(); ++i) order[i] = &snapshot_[i];
  std::stable_sort(order.begin(), order.end(), [](const SnapshotRow* a, const SnapshotRow* b) {
    return a->link->record.index < b->link->record.index;
  });
  for (const SnapshotRow* r : order) put(*r);
  return kNoError;
}

}  // namespace quorrel::posix
