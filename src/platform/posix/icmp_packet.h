#pragma once
// ICMP echo packets built and read apart from any socket, so that every check
// on what arrives can be run on bytes made up by hand.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quorrel::posix {

inline constexpr std::size_t kIcmpHeaderSize = 8;
inline constexpr std::size_t kIpMinHeaderSize = 20;

inline constexpr std::uint8_t kIcmpEchoReply = 0;
inline constexpr std::uint8_t kIcmpDestUnreachable = 3;
inline constexpr std::uint8_t kIcmpSourceQuench = 4;
inline constexpr std::uint8_t kIcmpEchoRequest = 8;
inline constexpr std::uint8_t kIcmpTimeExceeded = 11;
inline constexpr std::uint8_t kIcmpParamProblem = 12;

// IP_OPTION_INFORMATION's flag for "don't fragment".
inline constexpr std::uint8_t kIpFlagDf = 0x02;

// What identifies our own echo on the wire. `id` and `sequence` are host
// order; `destination` is network order.
struct EchoMatch {
  std::uint16_t id = 0;
  std::uint16_t sequence = 0;
  std::uint32_t destination = 0;
};

enum class PacketKind {
  kIgnored,  // someone else's, malformed, or a message that doesn't end an echo
  kReply,    // the echo reply to our request
  kError,    // an ICMP error about our request
};

struct ParsedPacket {
  PacketKind kind = PacketKind::kIgnored;
  std::uint32_t status = 0;  // the IP status for kError, 0 for kReply
  std::uint32_t from = 0;    // the replying host or reporting router, network order
  std::uint8_t ttl = 0;
  std::uint8_t tos = 0;
  std::uint8_t flags = 0;
  std::span<const std::uint8_t> data;  // the echoed data of a reply, inside the packet
};

// The IP status an ICMP error stands for, as Windows reports it; 0 for a type
// that is not an error about a sent packet (a redirect, say), which we let pass.
std::uint32_t StatusOfIcmpError(std::uint8_t type, std::uint8_t code);
// The IP status for an errno that sending (or the local stack) gave.
std::uint32_t StatusOfSendError(int error);

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// Type 8 with id, sequence, data and the checksum filled in.
std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data);

// True for the ICMP header (and data) of our own request, as an error quotes it
// or as the error queue of a datagram socket hands it back.
bool IsOurEchoRequest(std::span<const std::uint8_t> icmp, const EchoMatch& match);

// Both readers take a reply or an error only when its ICMP checksum is right,
// a reply only when it comes from our destination, and an error only when the
// request it quotes is ours by id, sequence and code (and, from a raw socket,
// was sent to our destination).

// A whole IPv4 packet as a raw socket receives it.
ParsedPacket ParseRawPacket(std::span<const std::uint8_t> packet, const EchoMatch& match);

// An ICMP message without its IP header, as a datagram socket receives it,
// from `from` (network order, the socket's peer address); the caller fills
// `ttl` and `tos` from the socket's control messages.
ParsedPacket ParseDatagramMessage(std::span<const std::uint8_t> icmp, std::uint32_t from,
                                  const EchoMatch& match);

}  // namespace quorrel::posix
