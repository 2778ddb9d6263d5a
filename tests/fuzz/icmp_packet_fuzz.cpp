// The ICMP readers over fuzzed packets: nothing outside the packet is read, a
// reply counts only when it is whole, ours and intact, an error only when it
// quotes our request, and a packet that is all of these is never ignored.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "platform/posix/icmp_packet.h"

namespace {

using quorrel::fuzz::Check;
namespace posix = quorrel::posix;

std::uint16_t Be16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

void PutBe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}

// The one's complement sum, spelled out: a message whose checksum field is
// right sums to 0xFFFF.
std::uint16_t OnesSum(std::span<const std::uint8_t> b) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < b.size(); i += 2)
    sum += static_cast<std::uint32_t>(b[i] << 8 | (i + 1 < b.size() ? b[i + 1] : 0));
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(sum);
}

bool Inside(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

bool SameAddress(std::span<const std::uint8_t> b, std::size_t at, std::uint32_t address) {
  const auto* a = reinterpret_cast<const std::uint8_t*>(&address);
  return std::equal(a, a + 4, b.begin() + static_cast<std::ptrdiff_t>(at));
}

void PutAddress(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t address) {
  const auto* a = reinterpret_cast<const std::uint8_t*>(&address);
  std::copy(a, a + 4, b.begin() + static_cast<std::ptrdiff_t>(at));
}

std::size_t HeaderLength(std::span<const std::uint8_t> p) {
  if (p.size() < 20 || (p[0] >> 4) != 4) return 0;
  std::size_t n = (p[0] & 0x0F) * 4u;
  return n >= 20 && n <= p.size() ? n : 0;
}

enum Fix : std::uint8_t {
  kFixIp = 1,         // outer header: IPv4, ICMP, total length = what arrived
  kFixSource = 2,     // sent by the host we asked
  kFixIds = 4,        // our id and sequence in the reply, or in the quoted request
  kFixQuoted = 8,     // a well-formed quoted IPv4 header of an ICMP packet to our host
  kFixChecksum = 16,  // the ICMP checksum right
  kSpoil = 32,        // then one bit of the checksum wrong
};

// Mends the parts of `p` the mode names, so that the fuzzer reaches packets a
// reader must accept without having to forge a checksum by chance.
void Mend(std::vector<std::uint8_t>& p, std::uint8_t mode, const posix::EchoMatch& match) {
  if ((mode & kFixIp) && p.size() >= 20) {
    std::size_t ihl =
        std::clamp<std::size_t>(p[0] & 0x0F, 5, std::min<std::size_t>(15, p.size() / 4));
    p[0] = static_cast<std::uint8_t>(0x40 | ihl);
    p[9] = 1;
    PutBe16(p, 2, static_cast<std::uint16_t>(std::min<std::size_t>(p.size(), 0xFFFF)));
  }
  std::size_t ihl = HeaderLength(p);
  if (ihl == 0) return;
  if (mode & kFixSource) PutAddress(p, 12, match.destination);
  std::size_t end = std::min<std::size_t>(p.size(), std::max<std::size_t>(Be16(p, 2), ihl));
  if (end < ihl + posix::kIcmpHeaderSize) return;
  std::size_t icmp = ihl;
  bool reply = p[icmp] == posix::kIcmpEchoReply;
  if ((mode & kFixQuoted) && !reply && end >= icmp + 8 + 20) {
    std::size_t q = icmp + 8;
    std::size_t qihl = std::clamp<std::size_t>(p[q] & 0x0F, 5, (end - q) / 4);
    p[q] = static_cast<std::uint8_t>(0x40 | qihl);
    p[q + 9] = 1;
    PutAddress(p, q + 16, match.destination);
  }
  if (mode & kFixIds) {
    std::size_t at = icmp;
    if (!reply) {
      std::vector<std::uint8_t> quoted(p.begin() + static_cast<std::ptrdiff_t>(icmp + 8),
                                       p.begin() + static_cast<std::ptrdiff_t>(end));
      std::size_t qihl = HeaderLength(quoted);
      at = qihl == 0 ? 0 : icmp + 8 + qihl;
      if (at != 0 && at + 8 <= end) {
        p[at] = posix::kIcmpEchoRequest;
        p[at + 1] = 0;
      }
    } else {
      p[icmp + 1] = 0;
    }
    if (at != 0 && at + 8 <= end) {
      PutBe16(p, at + 4, match.id);
      PutBe16(p, at + 6, match.sequence);
    }
  }
  if (mode & kFixChecksum) {
    PutBe16(p, icmp + 2, 0);
    std::span<const std::uint8_t> message(p.data() + icmp, end - icmp);
    PutBe16(p, icmp + 2, static_cast<std::uint16_t>(~OnesSum(message)));
    if (mode & kSpoil) p[icmp + 3] ^= 0x01;
  }
}

void CheckRaw(std::span<const std::uint8_t> p, std::uint8_t mode, const posix::EchoMatch& match) {
  posix::ParsedPacket parsed = posix::ParseRawPacket(p, match);
  std::size_t ihl = HeaderLength(p);
  if (parsed.kind != posix::PacketKind::kIgnored) {
    Check(ihl != 0 && p[9] == 1, "a packet that is not IPv4 ICMP was taken");
    Check(Be16(p, 2) >= ihl + posix::kIcmpHeaderSize,
          "a packet shorter than its headers was taken");
    Check(SameAddress(p, 12, parsed.from) && parsed.ttl == p[8] && parsed.tos == p[1],
          "from, ttl or tos not taken from the IP header");
  }
  std::size_t end = ihl == 0 ? 0 : std::min<std::size_t>(p.size(), Be16(p, 2));
  std::span<const std::uint8_t> icmp =
      ihl == 0 || end < ihl ? std::span<const std::uint8_t>() : p.subspan(ihl, end - ihl);

  if (parsed.kind == posix::PacketKind::kReply) {
    Check(SameAddress(p, 12, match.destination), "a reply from another host counted");
    Check(icmp[0] == posix::kIcmpEchoReply && icmp[1] == 0, "a reply that is not an echo reply");
    Check(Be16(icmp, 4) == match.id && Be16(icmp, 6) == match.sequence, "someone else's reply");
    Check(OnesSum(icmp) == 0xFFFF, "a reply with a wrong ICMP checksum counted");
    Check(Inside(parsed.data, icmp) && parsed.data.size() == icmp.size() - posix::kIcmpHeaderSize,
          "the echoed data is not the rest of the message");
  } else if (parsed.kind == posix::PacketKind::kError) {
    std::uint32_t status = posix::StatusOfIcmpError(icmp[0], icmp[1]);
    Check(status != 0 && parsed.status == status, "error status");
    std::span<const std::uint8_t> quoted = icmp.subspan(posix::kIcmpHeaderSize);
    std::size_t qihl = HeaderLength(quoted);
    Check(qihl != 0 && quoted[9] == 1 && SameAddress(quoted, 16, match.destination),
          "an error about a packet to another host counted");
    Check(posix::IsOurEchoRequest(quoted.subspan(qihl), match) && quoted[qihl + 1] == 0,
          "an error that does not quote our request counted");
  }

  // A packet mended in every part must be taken.
  const std::uint8_t whole = kFixIp | kFixSource | kFixIds | kFixQuoted | kFixChecksum;
  if ((mode & (whole | kSpoil)) != whole || icmp.size() < posix::kIcmpHeaderSize) return;
  if (icmp[0] == posix::kIcmpEchoReply) {
    Check(parsed.kind == posix::PacketKind::kReply, "our intact reply was ignored");
  } else if (posix::StatusOfIcmpError(icmp[0], icmp[1]) != 0) {
    std::span<const std::uint8_t> quoted = icmp.subspan(posix::kIcmpHeaderSize);
    std::size_t qihl = HeaderLength(quoted);
    if (qihl != 0 && quoted.size() >= qihl + posix::kIcmpHeaderSize)
      Check(parsed.kind == posix::PacketKind::kError, "an error about our request was ignored");
  }
}

// A datagram socket hands over the ICMP message alone, with its sender. Both
// socket kinds apply one rule: a reply counts only when it is ours, from the
// host asked, and its checksum is right.
void CheckDatagram(std::span<const std::uint8_t> icmp, std::uint32_t from,
                   const posix::EchoMatch& match, bool mended) {
  posix::ParsedPacket parsed = posix::ParseDatagramMessage(icmp, from, match);
  const bool ours = icmp.size() >= posix::kIcmpHeaderSize && icmp[0] == posix::kIcmpEchoReply &&
                    icmp[1] == 0 && Be16(icmp, 4) == match.id && Be16(icmp, 6) == match.sequence &&
                    from == match.destination;
  if (parsed.kind == posix::PacketKind::kReply) {
    Check(ours, "a datagram reply that is not ours counted");
    Check(parsed.from == from, "a datagram reply's sender not taken from the socket");
    Check(OnesSum(icmp) == 0xFFFF, "a datagram reply with a wrong checksum counted");
    Check(Inside(parsed.data, icmp) && parsed.data.size() == icmp.size() - posix::kIcmpHeaderSize,
          "the echoed data is not the rest of the datagram");
  }
  Check(parsed.kind != posix::PacketKind::kError || parsed.status != 0, "an error without status");
  if (mended && ours && OnesSum(icmp) == 0xFFFF)
    Check(parsed.kind == posix::PacketKind::kReply, "our intact datagram reply was ignored");
}

void CheckChecksumAndRequest(std::span<const std::uint8_t> bytes, const posix::EchoMatch& match) {
  std::uint16_t sum = posix::InternetChecksum(bytes);
  Check(sum == static_cast<std::uint16_t>(~OnesSum(bytes)), "InternetChecksum");
  std::span<const std::uint8_t> data = bytes.first(std::min<std::size_t>(bytes.size(), 64));
  std::vector<std::uint8_t> request = posix::BuildEchoRequest(match.id, match.sequence, data);
  Check(request.size() == posix::kIcmpHeaderSize + data.size() &&
            std::equal(data.begin(), data.end(), request.begin() + posix::kIcmpHeaderSize),
        "the request does not carry its data");
  Check(OnesSum(request) == 0xFFFF, "the request's checksum is wrong");
  Check(posix::IsOurEchoRequest(request, match), "our request is not recognised");
  posix::EchoMatch other = match;
  ++other.sequence;
  Check(!posix::IsOurEchoRequest(request, other), "a request of another sequence matched");

  // The request answered: the same message as a reply, from the host asked.
  std::vector<std::uint8_t> packet(20, 0);
  packet[0] = 0x45;
  packet[8] = 64;
  packet[9] = 1;
  PutAddress(packet, 12, match.destination);
  packet.insert(packet.end(), request.begin(), request.end());
  PutBe16(packet, 2, static_cast<std::uint16_t>(packet.size()));
  packet[20] = posix::kIcmpEchoReply;
  PutBe16(packet, 22, 0);
  PutBe16(packet, 22, static_cast<std::uint16_t>(~OnesSum(std::span(packet).subspan(20))));
  posix::ParsedPacket parsed = posix::ParseRawPacket(packet, match);
  Check(parsed.kind == posix::PacketKind::kReply && parsed.ttl == 64 &&
            std::equal(data.begin(), data.end(), parsed.data.begin(), parsed.data.end()),
        "the answer to our own request was not read back");
}

}  // namespace

// Input: id (2 bytes), sequence (2), destination (4), a mode byte, the packet.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  posix::EchoMatch match;
  match.id = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
  match.sequence = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
  std::copy(data + 4, data + 8, reinterpret_cast<std::uint8_t*>(&match.destination));
  const std::uint8_t mode = data[8];
  std::span<const std::uint8_t> raw(data + 9, size - 9);

  // Each reader on an exact-size copy, so that ASan sees any read past it.
  std::vector<std::uint8_t> packet(raw.begin(), raw.end());
  Mend(packet, mode, match);
  CheckRaw(packet, mode, match);
  // The sender as the socket would name it: the packet's own source field when
  // there is one (the fuzzer can reach it, and kFixSource mends it).
  const std::uint32_t from = [&] {
    std::uint32_t address = match.destination ^ 1;
    if (HeaderLength(packet) != 0) std::memcpy(&address, packet.data() + 12, sizeof address);
    return address;
  }();
  CheckDatagram(raw, from, match, false);
  // The mended packet's ICMP message, as far as its total length reaches.
  std::size_t ihl = HeaderLength(packet);
  std::size_t end = ihl == 0 ? 0 : std::min<std::size_t>(packet.size(), Be16(packet, 2));
  if (ihl != 0 && end >= ihl) {
    std::vector<std::uint8_t> message(packet.begin() + static_cast<std::ptrdiff_t>(ihl),
                                      packet.begin() + static_cast<std::ptrdiff_t>(end));
    CheckDatagram(message, from, match, (mode & kSpoil) == 0);
  }
  CheckChecksumAndRequest(raw, match);

  if (raw.size() >= 2 && posix::StatusOfIcmpError(raw[0], raw[1]) != 0)
    Check(raw[0] == 3 || raw[0] == 4 || raw[0] == 11 || raw[0] == 12,
          "a status for a type that reports no error");
  return 0;
}
