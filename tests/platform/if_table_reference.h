#pragma once
// The interface table as it was read before the link cache: one RTM_GETLINK
// dump with the counters per call, nothing kept but the socket and the speeds.
// Tests hold the cached table to it, row for row and field for field.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/iphlpapi.h"

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
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "common/utf8.h"

namespace quorrel::test::reference {

using namespace ::quorrel;

class OneDumpIfTable : public IpHelperApi {
 public:
  OneDumpIfTable() = default;
  ~OneDumpIfTable() override;
  OneDumpIfTable(const OneDumpIfTable&) = delete;
  OneDumpIfTable& operator=(const OneDumpIfTable&) = delete;

  std::uint32_t GetIfTable(std::byte* table, std::uint32_t& size, bool sort) override;

 private:
  struct Link;
  // What the per-device ioctls found; asked again only when the carrier has
  // changed since, as a new link speed always comes with a carrier change.
  struct Probe {
    std::uint32_t carrierChanges = 0;
    std::uint32_t speed = 0;  // bit/s
    bool wireless = false;
  };
  bool Open();
  void Close();
  // Calls `onLink` for every interface of one dump; false when the kernel
  // could not be asked or answered with an error. Without `stats` the kernel
  // leaves the counters out, which is all a size query needs.
  template <typename OnLink>
  bool Dump(bool stats, OnLink&& onLink);
  void FillRow(std::byte* row, const Link& link);
  const Probe& ProbeDevice(const Link& link);

  int fd_ = -1;
  std::uint32_t sequence_ = 0;
  std::vector<unsigned char> receive_;
  std::unordered_map<int, Probe> probes_;   // by interface index, from the latest fill
  std::unordered_map<int, Probe> probing_;  // being built by the current fill
};

namespace detail {

constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::size_t kReceiveSize = 64 * 1024;  // above the kernel's 32 KiB dump chunks
constexpr int kDumpAttempts = 3;
constexpr unsigned long kSiocgiwname = 0x8B01;  // wireless extensions: "what protocol?"

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

inline void Put32(std::byte* p, std::uint64_t value) {
  // The low 32 bits, as the platform's counters wrap.
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::byte>(value >> (8 * i));
}

inline std::uint32_t Get32(const std::byte* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// An attribute's payload, checked to lie inside the message it came in.
struct Attr {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  explicit operator bool() const { return data != nullptr; }
  std::string_view Text() const {
    std::string_view s(reinterpret_cast<const char*>(data), size);
    return s.substr(0, s.find('\0'));
  }
  template <typename T>
  T Value() const {  // short payloads are zero-extended, long ones cut
    T value{};
    if (data) std::memcpy(&value, data, std::min(size, sizeof(T)));
    return value;
  }
};

// Walks rtattrs in [data, data + size) and hands each (type, payload) to `onAttr`.
template <typename OnAttr>
inline void ForEachAttr(const unsigned char* data, std::size_t size, OnAttr&& onAttr) {
  while (size >= sizeof(rtattr)) {
    rtattr header;
    std::memcpy(&header, data, sizeof header);
    if (header.rta_len < sizeof(rtattr) || header.rta_len > size) return;
    onAttr(header.rta_type & NLA_TYPE_MASK,
           Attr{data + RTA_LENGTH(0), header.rta_len - RTA_LENGTH(0)});
    const std::size_t step = std::min<std::size_t>(RTA_ALIGN(header.rta_len), size);
    data += step;
    size -= step;
  }
}

inline std::uint32_t OperStatus(std::uint8_t operState, unsigned flags) {
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

// Number of UTF-16 code units of a UTF-8 text: what the row's length counts.
inline std::uint32_t CharacterCount(std::string_view utf8) {
  std::uint32_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++units;
    if (c >= 0xF0) ++units;  // beyond U+FFFF: a surrogate pair
  }
  return units;
}

// At most `limit` bytes, cut before a character rather than inside one.
inline std::string_view CutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace detail
using namespace detail;

struct OneDumpIfTable::Link {
  const ifinfomsg* info = nullptr;
  std::string_view name;
  std::string_view alias;
  std::string_view kind;  // veth, bridge, wireguard, ...; empty for hardware
  std::uint32_t mtu = 0;
  Attr address;
  std::uint8_t operState = IF_OPER_UNKNOWN;
  std::uint32_t carrierChanges = 0;
  rtnl_link_stats64 stats{};
};

inline OneDumpIfTable::~OneDumpIfTable() { Close(); }

inline bool OneDumpIfTable::Open() {
  if (fd_ >= 0) return true;
  fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd_ < 0) return false;
  receive_.resize(kReceiveSize);
  return true;
}

inline void OneDumpIfTable::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

template <typename OnLink>
inline bool OneDumpIfTable::Dump(bool stats, OnLink&& onLink) {
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
  request.header.nlmsg_seq = ++sequence_;
  request.info.ifi_family = AF_UNSPEC;
  request.maskHeader.rta_len = RTA_LENGTH(sizeof request.mask);
  request.maskHeader.rta_type = IFLA_EXT_MASK;
  request.mask = stats ? 0 : RTEXT_FILTER_SKIP_STATS;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd_, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) != static_cast<ssize_t>(sizeof request))
    return false;

  for (;;) {
    iovec iov{receive_.data(), receive_.size()};
    msghdr message{};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    const ssize_t received = ::recvmsg(fd_, &message, 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0 || (message.msg_flags & MSG_TRUNC)) return false;
    const unsigned char* data = receive_.data();
    std::size_t left = static_cast<std::size_t>(received);
    while (left >= sizeof(nlmsghdr)) {
      nlmsghdr header;
      std::memcpy(&header, data, sizeof header);
      if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > left) return false;
      const unsigned char* payload = data + NLMSG_HDRLEN;
      const std::size_t payloadSize =
          header.nlmsg_len - std::min<std::size_t>(NLMSG_HDRLEN, header.nlmsg_len);
      const std::size_t step = std::min<std::size_t>(NLMSG_ALIGN(header.nlmsg_len), left);
      data += step;
      left -= step;
      if (header.nlmsg_seq != sequence_) continue;  // left over from an earlier request
      if (header.nlmsg_type == NLMSG_DONE) return !(header.nlmsg_flags & NLM_F_DUMP_INTR);
      if (header.nlmsg_type == NLMSG_ERROR) return false;
      if (header.nlmsg_type != RTM_NEWLINK || payloadSize < sizeof(ifinfomsg)) continue;
      onLink(payload, payloadSize);
    }
  }
}

inline void OneDumpIfTable::FillRow(std::byte* row, const Link& link) {
  std::memset(row, 0, kIfRowSize);
  const ifinfomsg& info = *link.info;
  Put32(row + ifrow::kIndex, static_cast<std::uint32_t>(info.ifi_index));

  const Probe& probe = ProbeDevice(link);
  std::uint32_t type = kIfTypeOther;
  switch (info.ifi_type) {
    case ARPHRD_ETHER:
      type = probe.wireless ? kIfTypeWireless : kIfTypeEthernet;
      break;
    case ARPHRD_LOOPBACK:
      type = kIfTypeLoopback;
      break;
    case ARPHRD_PPP:
      type = kIfTypePpp;
      break;
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_IP6GRE:
    case ARPHRD_NONE:  // tun devices, WireGuard
      type = kIfTypeTunnel;
      break;
  }
  Put32(row + ifrow::kType, type);
  Put32(row + ifrow::kMtu, link.mtu);

  Put32(row + ifrow::kSpeed, probe.speed);
  const std::size_t addressLength = std::min(link.address.size, ifrow::kPhysAddrBytes);
  Put32(row + ifrow::kPhysAddrLen, addressLength);
  if (addressLength) std::memcpy(row + ifrow::kPhysAddr, link.address.data, addressLength);
  Put32(row + ifrow::kAdminStatus, (info.ifi_flags & IFF_UP) ? 1 : 2);
  Put32(row + ifrow::kOperStatus, OperStatus(link.operState, info.ifi_flags));

  const rtnl_link_stats64& s = link.stats;
  Put32(row + ifrow::kInOctets, s.rx_bytes);
  Put32(row + ifrow::kInUcastPkts, s.rx_packets - std::min(s.multicast, s.rx_packets));
  Put32(row + ifrow::kInNUcastPkts, s.multicast);
  Put32(row + ifrow::kInDiscards, s.rx_dropped);
  Put32(row + ifrow::kInErrors, s.rx_errors);
  Put32(row + ifrow::kInUnknownProtos, s.rx_nohandler);
  Put32(row + ifrow::kOutOctets, s.tx_bytes);
  Put32(row + ifrow::kOutUcastPkts, s.tx_packets);
  Put32(row + ifrow::kOutDiscards, s.tx_dropped);
  Put32(row + ifrow::kOutErrors, s.tx_errors);

  const std::u16string wide = Utf8ToUtf16(link.name);
  const std::size_t units = std::min(wide.size(), ifrow::kNameUnits - 1);
  for (std::size_t i = 0; i < units; ++i) {
    row[ifrow::kName + 2 * i] = static_cast<std::byte>(wide[i] & 0xFF);
    row[ifrow::kName + 2 * i + 1] = static_cast<std::byte>(wide[i] >> 8);
  }

  // The row keeps a terminating NUL that its length does not count.
  const std::string_view descr =
      CutUtf8(link.alias.empty() ? link.name : link.alias, ifrow::kDescrBytes - 1);
  std::memcpy(row + ifrow::kDescr, descr.data(), descr.size());
  Put32(row + ifrow::kDescrLen, CharacterCount(descr));
}

inline const OneDumpIfTable::Probe& OneDumpIfTable::ProbeDevice(const Link& link) {
  const int index = link.info->ifi_index;
  auto known = probes_.find(index);
  if (known != probes_.end() && known->second.carrierChanges == link.carrierChanges)
    return probing_[index] = known->second;

  Probe probe;
  probe.carrierChanges = link.carrierChanges;
  ifreq request{};
  std::memcpy(request.ifr_name, link.name.data(),
              std::min(link.name.size(), sizeof request.ifr_name - 1));
  // Only hardware can be wireless; virtual devices name their kind.
  probe.wireless = link.info->ifi_type == ARPHRD_ETHER && link.kind.empty() &&
                   ::ioctl(fd_, kSiocgiwname, &request) == 0;
  if (link.info->ifi_type != ARPHRD_LOOPBACK) {
    ethtool_cmd settings{};
    settings.cmd = ETHTOOL_GSET;
    request.ifr_data = reinterpret_cast<char*>(&settings);
    if (::ioctl(fd_, SIOCETHTOOL, &request) == 0) {
      const std::uint32_t megabits = ethtool_cmd_speed(&settings);
      // The row holds 32 bits: links of 4.3 Gb/s and more show the largest value.
      if (megabits != 0 && megabits != static_cast<std::uint32_t>(SPEED_UNKNOWN))
        probe.speed =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(megabits * 1000000ull, UINT32_MAX));
    }
  }
  return probing_[index] = probe;
}

inline std::uint32_t OneDumpIfTable::GetIfTable(std::byte* table, std::uint32_t& size, bool sort) {
  if (!Open()) return kErrorNotSupported;
  const std::size_t capacity =
      (table && size >= kIfTableHeaderSize) ? (size - kIfTableHeaderSize) / kIfRowSize : 0;
  std::size_t count = 0;
  auto onLink = [&](const unsigned char* payload, std::size_t payloadSize) {
    if (count < capacity) {
      Link link;
      link.info = reinterpret_cast<const ifinfomsg*>(payload);
      ForEachAttr(payload + NLMSG_ALIGN(sizeof(ifinfomsg)),
                  payloadSize - std::min<std::size_t>(NLMSG_ALIGN(sizeof(ifinfomsg)), payloadSize),
                  [&](unsigned type, Attr attr) {
                    switch (type) {
                      case IFLA_IFNAME:
                        link.name = attr.Text();
                        break;
                      case IFLA_IFALIAS:
                        link.alias = attr.Text();
                        break;
                      case IFLA_MTU:
                        link.mtu = attr.Value<std::uint32_t>();
                        break;
                      case IFLA_ADDRESS:
                        link.address = attr;
                        break;
                      case IFLA_OPERSTATE:
                        link.operState = attr.Value<std::uint8_t>();
                        break;
                      case IFLA_CARRIER_CHANGES:
                        link.carrierChanges = attr.Value<std::uint32_t>();
                        break;
                      case IFLA_STATS64:
                        link.stats = attr.Value<rtnl_link_stats64>();
                        break;
                      case IFLA_LINKINFO:
                        ForEachAttr(attr.data, attr.size, [&](unsigned inner, Attr info) {
                          if (inner == IFLA_INFO_KIND) link.kind = info.Text();
                        });
                        break;
                    }
                  });
      FillRow(table + kIfTableHeaderSize + count * kIfRowSize, link);
    }
    ++count;
  };
  bool dumped = false;
  for (int attempt = 0; attempt < kDumpAttempts && !dumped; ++attempt) {
    count = 0;
    probing_.clear();
    dumped = Dump(capacity > 0, onLink);
    if (!dumped) Close();
    if (!dumped && !Open()) return kErrorNotSupported;
  }
  if (!dumped) return kErrorGenFailure;
  if (capacity > 0) probes_.swap(probing_);

  const std::uint64_t needed = kIfTableHeaderSize + std::uint64_t{count} * kIfRowSize;
  if (needed > UINT32_MAX) return kErrorNotEnoughMemory;
  if (!table || size < needed) {
    size = static_cast<std::uint32_t>(needed);  // the table grew since the size query, or a query
    return kErrorInsufficientBuffer;
  }
  Put32(table, count);
  if (sort && count > 1) {
    std::byte* rows = table + kIfTableHeaderSize;
    std::vector<std::byte> copy(rows, rows + count * kIfRowSize);
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return Get32(&copy[a * kIfRowSize + ifrow::kIndex]) <
             Get32(&copy[b * kIfRowSize + ifrow::kIndex]);
    });
    for (std::size_t i = 0; i < count; ++i)
      std::memcpy(rows + i * kIfRowSize, &copy[order[i] * kIfRowSize], kIfRowSize);
  }
  return kNoError;
}

}  // namespace quorrel::test::reference
