#include "platform/posix/link_messages.h"

// glibc's <net/if.h> must come before the kernel's headers, which then leave
// out their own copies of struct ifreq and the IFF_ flags.
// clang-format off
#include <net/if.h>
// clang-format on

#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/bytes.h"
#include "common/utf8.h"
#include "platform/iphlpapi.h"

namespace quorrel::posix {
namespace {

constexpr std::size_t kMaxAddressBytes = 32;  // the kernel's MAX_ADDR_LEN

// IF_TYPE numbers.
constexpr std::uint32_t kIfTypeOther = 1;
constexpr std::uint32_t kIfTypeEthernet = 6;
constexpr std::uint32_t kIfTypePpp = 23;
constexpr std::uint32_t kIfTypeLoopback = 24;
constexpr std::uint32_t kIfTypeWireless = 71;
constexpr std::uint32_t kIfTypeTunnel = 131;

// MIB_IF_OPER_STATUS numbers.
constexpr std::uint32_t kOperNonOperational = 0;
constexpr std::uint32_t kOperDisconnected = 2;
constexpr std::uint32_t kOperConnecting = 3;
constexpr std::uint32_t kOperOperational = 5;

// An attribute's payload, checked to lie inside the message it came in.
struct Attr {
  const std::byte* data = nullptr;
  std::size_t size = 0;
  std::string_view Text() const {
    std::string_view s(reinterpret_cast<const char*>(data), size);
    return s.substr(0, s.find('\0'));
  }
  template <typename T>
  T Value() const {  // short payloads are zero-extended, long ones cut
    T value{};
    if (size) std::memcpy(&value, data, std::min(size, sizeof(T)));
    return value;
  }
};

// Walks rtattrs in `bytes` and hands each (type, payload) to `onAttr`; stops
// at the first attribute whose length does not fit.
template <typename OnAttr>
void ForEachAttr(std::span<const std::byte> bytes, OnAttr&& onAttr) {
  while (bytes.size() >= sizeof(rtattr)) {
    rtattr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (header.rta_len < sizeof(rtattr) || header.rta_len > bytes.size()) return;
    onAttr(header.rta_type & NLA_TYPE_MASK,
           Attr{bytes.data() + RTA_LENGTH(0), header.rta_len - RTA_LENGTH(0)});
    bytes = bytes.subspan(std::min<std::size_t>(RTA_ALIGN(header.rta_len), bytes.size()));
  }
}

// Walks the netlink messages of one datagram, handing each of `sequence`
// (any, when 0) to `onMessage` as (type, payload).
template <typename OnMessage>
NetlinkStatus ForEachMessage(std::span<const std::byte> datagram, std::uint32_t sequence,
                             OnMessage&& onMessage) {
  while (datagram.size() >= sizeof(nlmsghdr)) {
    nlmsghdr header;
    std::memcpy(&header, datagram.data(), sizeof header);
    if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > datagram.size())
      return NetlinkStatus::kFailed;
    const std::span<const std::byte> payload = datagram.subspan(
        NLMSG_HDRLEN, header.nlmsg_len - std::min<std::size_t>(NLMSG_HDRLEN, header.nlmsg_len));
    datagram =
        datagram.subspan(std::min<std::size_t>(NLMSG_ALIGN(header.nlmsg_len), datagram.size()));
    if (sequence != 0 && header.nlmsg_seq != sequence) continue;
    if (header.nlmsg_type == NLMSG_DONE)
      return (header.nlmsg_flags & NLM_F_DUMP_INTR) ? NetlinkStatus::kInterrupted
                                                    : NetlinkStatus::kDone;
    if (header.nlmsg_type == NLMSG_ERROR) return NetlinkStatus::kFailed;
    onMessage(header.nlmsg_type, payload);
  }
  return NetlinkStatus::kMore;
}

std::uint32_t OperStatus(std::uint8_t operState, std::uint32_t flags) {
  if (!(flags & IFF_UP)) return kOperNonOperational;
  switch (operState) {
    case IF_OPER_UP:
      return kOperOperational;
    case IF_OPER_DORMANT:
      return kOperConnecting;
    case IF_OPER_DOWN:
    case IF_OPER_LOWERLAYERDOWN:
      return kOperDisconnected;
    case IF_OPER_UNKNOWN:
      // Loopback and many virtual devices never report a state; the carrier flag tells.
      return (flags & IFF_RUNNING) ? kOperOperational : kOperDisconnected;
    default:  // not present, testing
      return kOperNonOperational;
  }
}

std::uint32_t IfType(std::uint16_t arpType, bool wireless) {
  switch (arpType) {
    case ARPHRD_ETHER:
      return wireless ? kIfTypeWireless : kIfTypeEthernet;
    case ARPHRD_LOOPBACK:
      return kIfTypeLoopback;
    case ARPHRD_PPP:
      return kIfTypePpp;
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_IP6GRE:
    case ARPHRD_NONE:  // tun devices, WireGuard
      return kIfTypeTunnel;
    default:
      return kIfTypeOther;
  }
}

void Put32(std::byte* at, std::uint64_t value) {
  WriteLe32(at, static_cast<std::uint32_t>(value & 0xFFFFFFFFu));
}

}  // namespace

NetlinkStatus ParseLinkMessages(std::span<const std::byte> datagram, std::uint32_t sequence,
                                std::vector<LinkChange>& changes) {
  return ForEachMessage(
      datagram, sequence, [&](std::uint16_t type, std::span<const std::byte> payload) {
        if ((type != RTM_NEWLINK && type != RTM_DELLINK) || payload.size() < sizeof(ifinfomsg))
          return;
        ifinfomsg info;
        std::memcpy(&info, payload.data(), sizeof info);
        if (info.ifi_family != AF_UNSPEC) return;
        LinkChange change;
        change.removed = type == RTM_DELLINK;
        LinkRecord& link = change.link;
        link.index = info.ifi_index;
        if (change.removed) {
          changes.push_back(std::move(change));
          return;
        }
        link.arpType = info.ifi_type;
        link.flags = info.ifi_flags;
        link.operState = IF_OPER_UNKNOWN;
        ForEachAttr(payload.subspan(std::min(NLMSG_ALIGN(sizeof(ifinfomsg)), payload.size())),
                    [&](unsigned attrType, Attr attr) {
                      switch (attrType) {
                        case IFLA_IFNAME:
                          link.name = attr.Text();
                          break;
                        case IFLA_IFALIAS:
                          link.alias = attr.Text();
                          break;
                        case IFLA_MTU:
                          link.mtu = attr.Value<std::uint32_t>();
                          break;
                        case IFLA_ADDRESS: {
                          const auto* bytes = reinterpret_cast<const std::uint8_t*>(attr.data);
                          link.address.assign(bytes, bytes + std::min(attr.size, kMaxAddressBytes));
                          break;
                        }
                        case IFLA_OPERSTATE:
                          link.operState = attr.Value<std::uint8_t>();
                          break;
                        case IFLA_CARRIER_CHANGES:
                          link.carrierChanges = attr.Value<std::uint32_t>();
                          break;
                        case IFLA_LINKINFO:
                          ForEachAttr({attr.data, attr.size}, [&](unsigned inner, Attr nested) {
                            if (inner == IFLA_INFO_KIND) link.kind = nested.Text();
                          });
                          break;
                      }
                    });
        // Nothing can be asked of, or shown for, a link without a name.
        if (link.name.empty()) return;
        changes.push_back(std::move(change));
      });
}

NetlinkStatus ParseStatsMessages(std::span<const std::byte> datagram, std::uint32_t sequence,
                                 std::vector<LinkCounters>& counters) {
  return ForEachMessage(
      datagram, sequence, [&](std::uint16_t type, std::span<const std::byte> payload) {
        if (type != RTM_NEWSTATS || payload.size() < sizeof(if_stats_msg)) return;
        if_stats_msg header;
        std::memcpy(&header, payload.data(), sizeof header);
        LinkCounters c;
        c.index = static_cast<std::int32_t>(header.ifindex);
        ForEachAttr(payload.subspan(std::min(NLMSG_ALIGN(sizeof(if_stats_msg)), payload.size())),
                    [&](unsigned attrType, Attr attr) {
                      if (attrType != IFLA_STATS_LINK_64) return;
                      const auto s = attr.Value<rtnl_link_stats64>();
                      c.rxPackets = s.rx_packets;
                      c.txPackets = s.tx_packets;
                      c.rxBytes = s.rx_bytes;
                      c.txBytes = s.tx_bytes;
                      c.rxErrors = s.rx_errors;
                      c.txErrors = s.tx_errors;
                      c.rxDropped = s.rx_dropped;
                      c.txDropped = s.tx_dropped;
                      c.multicast = s.multicast;
                      c.rxNoHandler = s.rx_nohandler;
                    });
        counters.push_back(c);
      });
}

NetlinkStatus ParseDefaultRoutes(std::span<const std::byte> datagram, std::uint32_t sequence,
                                 std::optional<int>& best, std::uint32_t& bestMetric) {
  return ForEachMessage(
      datagram, sequence, [&](std::uint16_t type, std::span<const std::byte> payload) {
        if (type != RTM_NEWROUTE || payload.size() < sizeof(rtmsg)) return;
        rtmsg route;
        std::memcpy(&route, payload.data(), sizeof route);
        if (route.rtm_family != AF_INET || route.rtm_dst_len != 0 || route.rtm_type != RTN_UNICAST)
          return;
        std::uint32_t table = route.rtm_table;
        std::uint32_t metric = 0;
        std::optional<int> link;
        ForEachAttr(payload.subspan(std::min(NLMSG_ALIGN(sizeof(rtmsg)), payload.size())),
                    [&](unsigned attrType, Attr attr) {
                      if (attr.size < sizeof(std::uint32_t)) return;
                      const auto value = attr.Value<std::uint32_t>();
                      if (attrType == RTA_OIF) link = static_cast<int>(value);
                      if (attrType == RTA_PRIORITY) metric = value;
                      if (attrType == RTA_TABLE) table = value;
                    });
        if (table != RT_TABLE_MAIN || !link) return;
        if (!best || metric < bestMetric) {
          best = link;
          bestMetric = metric;
        }
      });
}

void BuildStaticRow(std::byte* row, const LinkRecord& link, const LinkProbe& probe) {
  std::memset(row, 0, kIfRowSize);
  Put32(row + ifrow::kIndex, static_cast<std::uint32_t>(link.index));
  Put32(row + ifrow::kType, IfType(link.arpType, probe.wireless));
  Put32(row + ifrow::kMtu, link.mtu);
  Put32(row + ifrow::kSpeed, probe.speed);
  const std::size_t addressLength = std::min(link.address.size(), ifrow::kPhysAddrBytes);
  Put32(row + ifrow::kPhysAddrLen, addressLength);
  if (addressLength) std::memcpy(row + ifrow::kPhysAddr, link.address.data(), addressLength);
  Put32(row + ifrow::kAdminStatus, (link.flags & IFF_UP) ? 1 : 2);
  Put32(row + ifrow::kOperStatus, OperStatus(link.operState, link.flags));

  const std::u16string wide = Utf8ToUtf16(link.name);
  const std::size_t units = std::min(wide.size(), ifrow::kNameUnits - 1);
  for (std::size_t i = 0; i < units; ++i)
    WriteLe16(row + ifrow::kName + 2 * i, static_cast<std::uint16_t>(wide[i]));

  // The row keeps a terminating NUL that its length does not count; the
  // length counts characters as the row's readers do, in UTF-16 units.
  const std::string_view text = link.alias.empty() ? link.name : link.alias;
  const std::string_view descr = text.substr(0, WholeUtf8Prefix(text, ifrow::kDescrBytes - 1));
  if (!descr.empty()) std::memcpy(row + ifrow::kDescr, descr.data(), descr.size());
  Put32(row + ifrow::kDescrLen, Utf16Length(descr));
}

void PutRowCounters(std::byte* row, const LinkCounters& s) {
  Put32(row + ifrow::kInOctets, s.rxBytes);
  Put32(row + ifrow::kInUcastPkts, s.rxPackets - std::min(s.multicast, s.rxPackets));
  Put32(row + ifrow::kInNUcastPkts, s.multicast);
  Put32(row + ifrow::kInDiscards, s.rxDropped);
  Put32(row + ifrow::kInErrors, s.rxErrors);
  Put32(row + ifrow::kInUnknownProtos, s.rxNoHandler);
  Put32(row + ifrow::kOutOctets, s.txBytes);
  Put32(row + ifrow::kOutUcastPkts, s.txPackets);
  Put32(row + ifrow::kOutDiscards, s.txDropped);
  Put32(row + ifrow::kOutErrors, s.txErrors);
}

}  // namespace quorrel::posix
