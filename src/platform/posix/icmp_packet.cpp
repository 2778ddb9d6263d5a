#include "platform/posix/icmp_packet.h"

#include <cerrno>
#include <cstring>

#include "common/bytes.h"
#include "platform/icmp.h"

namespace quorrel::posix {
namespace {

// Callers check that the bytes are there.
std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return ReadBe16(bytes.data() + at);
}

// An IPv4 address as it stands on the wire, for comparing with one in network order.
std::uint32_t ReadNetU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

// The length of a well-formed IPv4 header at the start of `packet`, else 0.
std::size_t IpHeaderLength(std::span<const std::uint8_t> packet) {
  if (packet.size() < kIpMinHeaderSize || (packet[0] >> 4) != 4) return 0;
  std::size_t length = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  if (length < kIpMinHeaderSize || length > packet.size()) return 0;
  return length;
}

constexpr std::uint8_t kIpProtoIcmp = 1;
constexpr std::size_t kIpProtocolOffset = 9;
constexpr std::size_t kIpSourceOffset = 12;
constexpr std::size_t kIpDestinationOffset = 16;

}  // namespace

std::uint32_t StatusOfIcmpError(std::uint8_t type, std::uint8_t code) {
  switch (type) {
    case kIcmpDestUnreachable:
      switch (code) {
        case 0:   // net
        case 6:   // net unknown
        case 9:   // net administratively prohibited
        case 11:  // net for type of service
          return kIpDestNetUnreachable;
        case 2:
          return kIpDestProtUnreachable;
        case 3:
          return kIpDestPortUnreachable;
        case 4:  // fragmentation needed and DF set
          return kIpPacketTooBig;
        case 5:
          return kIpBadRoute;
        default:  // host, host unknown, isolated, prohibited, filtered, precedence
          return kIpDestHostUnreachable;
      }
    case kIcmpTimeExceeded:
      return code == 1 ? kIpTtlExpiredReassem : kIpTtlExpiredTransit;
    case kIcmpParamProblem:
      return kIpParamProblem;
    case kIcmpSourceQuench:
      return kIpSourceQuench;
    default:
      return 0;
  }
}

std::uint32_t StatusOfSendError(int error) {
  switch (error) {
    case ENETUNREACH:
    case ENETDOWN:
      return kIpDestNetUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN:
    // A "prohibit" route or a local firewall reject: Windows has no status of
    // its own for these and reports them as an unreachable host.
    case EACCES:
    case EPERM:
      return kIpDestHostUnreachable;
    case EMSGSIZE:
      return kIpPacketTooBig;
    case ENOBUFS:
    case ENOMEM:
      return kIpNoResources;
    default:
      return kIpGeneralFailure;
  }
}

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) sum += ReadU16(bytes, i);
  if (i < bytes.size()) sum += static_cast<std::uint32_t>(bytes[i]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> packet(kIcmpHeaderSize + data.size(), 0);
  packet[0] = kIcmpEchoRequest;
  WriteBe16(packet.data() + 4, id);
  WriteBe16(packet.data() + 6, sequence);
  if (!data.empty()) std::memcpy(packet.data() + kIcmpHeaderSize, data.data(), data.size());
  WriteBe16(packet.data() + 2, InternetChecksum(packet));
  return packet;
}

bool IsOurEchoRequest(std::span<const std::uint8_t> icmp, const EchoMatch& match) {
  return icmp.size() >= kIcmpHeaderSize && icmp[0] == kIcmpEchoRequest && icmp[1] == 0 &&
         ReadU16(icmp, 4) == match.id && ReadU16(icmp, 6) == match.sequence;
}

ParsedPacket ParseDatagramMessage(std::span<const std::uint8_t> icmp, std::uint32_t from,
                                  const EchoMatch& match) {
  ParsedPacket parsed;
  // The kernel hands a datagram socket every echo reply that carries its id,
  // whoever sent it: a host on the path could otherwise answer for a dead one.
  if (from != match.destination) return parsed;
  // A damaged or forged message must not say the link is up. The kernel
  // checks what reaches a datagram socket, but nothing checks for a raw one.
  if (icmp.size() < kIcmpHeaderSize || InternetChecksum(icmp) != 0) return parsed;
  if (icmp[0] != kIcmpEchoReply || icmp[1] != 0) return parsed;
  if (ReadU16(icmp, 4) != match.id || ReadU16(icmp, 6) != match.sequence) return parsed;
  parsed.kind = PacketKind::kReply;
  parsed.from = from;
  parsed.data = icmp.subspan(kIcmpHeaderSize);
  return parsed;
}

ParsedPacket ParseRawPacket(std::span<const std::uint8_t> packet, const EchoMatch& match) {
  ParsedPacket parsed;
  std::size_t ipLength = IpHeaderLength(packet);
  if (ipLength == 0 || packet[kIpProtocolOffset] != kIpProtoIcmp) return parsed;
  // The total length field can only shorten what we look at, never lengthen it.
  std::size_t total = ReadU16(packet, 2);
  if (total < ipLength) return parsed;
  if (total < packet.size()) packet = packet.first(total);
  std::span<const std::uint8_t> icmp = packet.subspan(ipLength);
  if (icmp.size() < kIcmpHeaderSize) return parsed;

  std::uint32_t source = ReadNetU32(packet, kIpSourceOffset);
  std::uint8_t type = icmp[0];
  if (type == kIcmpEchoReply) {
    // A raw socket sees every echo reply on the host, others' pings' too.
    parsed = ParseDatagramMessage(icmp, source, match);
  } else {
    std::uint32_t status = StatusOfIcmpError(type, icmp[1]);
    if (status == 0 || InternetChecksum(icmp) != 0) return parsed;
    // The error quotes the IP header and the first 8 bytes of what we sent.
    std::span<const std::uint8_t> quoted = icmp.subspan(kIcmpHeaderSize);
    std::size_t quotedIpLength = IpHeaderLength(quoted);
    if (quotedIpLength == 0 || quoted[kIpProtocolOffset] != kIpProtoIcmp ||
        ReadNetU32(quoted, kIpDestinationOffset) != match.destination ||
        !IsOurEchoRequest(quoted.subspan(quotedIpLength), match)) {
      return parsed;
    }
    parsed.kind = PacketKind::kError;
    parsed.status = status;
  }
  if (parsed.kind == PacketKind::kIgnored) return parsed;
  parsed.from = source;
  parsed.tos = packet[1];
  parsed.ttl = packet[8];
  parsed.flags = (ReadU16(packet, 6) & 0x4000) != 0 ? kIpFlagDf : 0;
  return parsed;
}

}  // namespace quorrel::posix
