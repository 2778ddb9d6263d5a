#pragma once
// The kernel's answers about network links, read apart from any socket: one
// datagram of an rtnetlink route socket in, plain records out. The interface
// table service feeds these from its sockets; tests and fuzz targets feed them
// bytes of their own. Every read is bounded by the datagram it was given.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorrel::posix {

// The static description of one link, as an RTM_NEWLINK message of family
// AF_UNSPEC gives it (a dump reply or an RTNLGRP_LINK notification).
struct LinkRecord {
  std::int32_t index = 0;             // ifi_index
  std::uint16_t arpType = 0;          // ifi_type: ARPHRD_ETHER, ARPHRD_LOOPBACK, ...
  std::uint32_t flags = 0;            // ifi_flags: IFF_UP, IFF_RUNNING, ...
  std::string name;                   // IFLA_IFNAME, never empty
  std::string alias;                  // IFLA_IFALIAS, empty when unset
  std::string kind;                   // IFLA_INFO_KIND: veth, bridge, ...; empty for hardware
  std::uint32_t mtu = 0;              // IFLA_MTU
  std::vector<std::uint8_t> address;  // IFLA_ADDRESS, at most 32 bytes
  std::uint8_t operState = 0;         // IFLA_OPERSTATE (IF_OPER_UNKNOWN when absent)
  std::uint32_t carrierChanges = 0;   // IFLA_CARRIER_CHANGES

  bool operator==(const LinkRecord&) const = default;
};

// One message about a link: a new or changed link (`removed` false, `link`
// filled) or a link that has gone (`removed` true, only `link.index` set).
struct LinkChange {
  bool removed = false;
  LinkRecord link;
};

// The 64-bit counters of one link, as RTM_NEWSTATS (IFLA_STATS_LINK_64) or
// IFLA_STATS64 give them; the fields the interface table uses.
struct LinkCounters {
  std::int32_t index = 0;
  std::uint64_t rxPackets = 0;
  std::uint64_t txPackets = 0;
  std::uint64_t rxBytes = 0;
  std::uint64_t txBytes = 0;
  std::uint64_t rxErrors = 0;
  std::uint64_t txErrors = 0;
  std::uint64_t rxDropped = 0;
  std::uint64_t txDropped = 0;
  std::uint64_t multicast = 0;
  std::uint64_t rxNoHandler = 0;

  bool operator==(const LinkCounters&) const = default;
};

// How a datagram left the request it belongs to.
enum class NetlinkStatus {
  kMore,         // no end of dump in it: read the next datagram
  kDone,         // NLMSG_DONE: the dump is complete
  kInterrupted,  // NLMSG_DONE flagged NLM_F_DUMP_INTR: the list changed during the dump
  kFailed,       // NLMSG_ERROR, or a message header that breaks the datagram's bounds
};

// Reads RTM_NEWLINK and RTM_DELLINK messages out of `datagram` and appends
// one LinkChange per message to `changes`, in order. With `sequence` non-zero
// only messages of that request count (the rest are left over from an earlier
// one); with 0, all do, as notifications carry the sequence of whichever
// request caused them. Skipped: messages of another family (a bridge's port
// messages also say RTM_NEWLINK/RTM_DELLINK), links without a name, and
// messages too short for their header.
NetlinkStatus ParseLinkMessages(std::span<const std::byte> datagram, std::uint32_t sequence,
                                std::vector<LinkChange>& changes);

// Reads RTM_NEWSTATS messages (the answer to an RTM_GETSTATS dump filtered to
// IFLA_STATS_LINK_64) and appends one LinkCounters per link, in order. A link
// whose message lacks IFLA_STATS_LINK_64 gets zero counters. `sequence` as
// above.
NetlinkStatus ParseStatsMessages(std::span<const std::byte> datagram, std::uint32_t sequence,
                                 std::vector<LinkCounters>& counters);

// Reads the RTM_NEWROUTE messages of one datagram of an IPv4 route dump and
// keeps, in `best`, the output link of the main table's default unicast
// route with the lowest metric seen so far (`bestMetric`). `sequence` as
// above.
NetlinkStatus ParseDefaultRoutes(std::span<const std::byte> datagram, std::uint32_t sequence,
                                 std::optional<int>& best, std::uint32_t& bestMetric);

// What the per-device ioctls add to a link record.
struct LinkProbe {
  std::uint32_t speed = 0;  // bit/s, capped to 32 bits
  bool wireless = false;
};

// The MIB_IFROW image (kIfRowSize bytes at `row`) of a link with every
// counter 0: name, index, type, MTU, speed, physical address, admin and
// operational status, description (the alias, else the name).
void BuildStaticRow(std::byte* row, const LinkRecord& link, const LinkProbe& probe);

// Writes the counter fields of a row built by BuildStaticRow (their low 32
// bits, as the platform's counters wrap).
void PutRowCounters(std::byte* row, const LinkCounters& counters);

}  // namespace quorrel::posix
