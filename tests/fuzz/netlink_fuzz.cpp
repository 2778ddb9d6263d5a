// The netlink link and stats readers over datagrams from a fake route socket,
// and the MIB_IFROW images built from what they read, read back by the
// portable row reader: nothing outside a datagram is read, a link always has
// a name, and a row says what the link record said.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/text.h"
#include "fuzz_check.h"
#include "interfaces/c_ip_helper.h"
#include "platform/iphlpapi.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/link_messages.h"

namespace {

using quorrel::fuzz::Check;
namespace posix = quorrel::posix;

// A route socket that hands out the fuzzed bytes as datagrams: each one is a
// 16-bit little-endian length and that many bytes (cut at the input's end).
class FakeRouteSocket {
 public:
  explicit FakeRouteSocket(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  // The next datagram in a buffer of its own size, so that ASan sees any read
  // past it; false when none is left.
  bool Receive(std::vector<std::byte>& datagram) {
    if (bytes_.size() < 2) return false;
    std::size_t length = std::min<std::size_t>(bytes_[0] | bytes_[1] << 8, bytes_.size() - 2);
    const auto* start = reinterpret_cast<const std::byte*>(bytes_.data() + 2);
    datagram.assign(start, start + length);
    datagram.shrink_to_fit();
    bytes_ = bytes_.subspan(2 + length);
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// The messages a datagram holds, walked by their headers alone: how many
// could carry a link, and whether the walk meets a broken header.
struct Framing {
  std::size_t linkMessages = 0;
  std::size_t statsMessages = 0;
  bool broken = false;
  bool ended = false;  // NLMSG_DONE or NLMSG_ERROR of the request
};

Framing FramingOf(std::span<const std::byte> d, std::uint32_t sequence) {
  Framing f;
  std::size_t at = 0;
  while (d.size() - at >= sizeof(nlmsghdr)) {
    nlmsghdr h;
    std::memcpy(&h, d.data() + at, sizeof h);
    if (h.nlmsg_len < sizeof h || h.nlmsg_len > d.size() - at) {
      f.broken = true;
      return f;
    }
    bool ours = sequence == 0 || h.nlmsg_seq == sequence;
    if (ours && (h.nlmsg_type == NLMSG_DONE || h.nlmsg_type == NLMSG_ERROR)) {
      f.ended = true;
      return f;
    }
    if (ours && (h.nlmsg_type == RTM_NEWLINK || h.nlmsg_type == RTM_DELLINK)) ++f.linkMessages;
    if (ours && h.nlmsg_type == RTM_NEWSTATS) ++f.statsMessages;
    at += std::min<std::size_t>(NLMSG_ALIGN(h.nlmsg_len), d.size() - at);
  }
  return f;
}

std::string AddressText(const std::vector<std::uint8_t>& address) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < std::min<std::size_t>(address.size(), 8); ++i) {
    unsigned b = address[i];
    if (i > 0) text += '-';
    if (b == 0) {
      text += "00";
    } else {
      if (b >= 16) text += kHex[b >> 4];
      text += kHex[b & 15];
    }
  }
  return text;
}

bool ValidUtf8(const std::string& s) { return quorrel::Utf16ToUtf8(quorrel::Utf8ToUtf16(s)) == s; }

void CheckRow(const posix::LinkRecord& link, const posix::LinkCounters* counters,
              std::uint8_t probeByte) {
  posix::LinkProbe probe;
  probe.speed = probeByte * 1000000u;
  probe.wireless = probeByte & 1;
  std::vector<std::byte> row(quorrel::kIfRowSize, std::byte{0xA5});
  posix::BuildStaticRow(row.data(), link, probe);
  if (counters != nullptr) posix::PutRowCounters(row.data(), *counters);

  quorrel::posix::Utf8CodePage codePage;
  std::shared_ptr<quorrel::CInterface> e = quorrel::InterfaceFromRow(row.data(), codePage);
  Check(e->InterfaceIndex() == link.index, "the row's index");
  Check(e->MaximumTransmissionUnit() == static_cast<std::int32_t>(link.mtu), "the row's MTU");
  Check(e->Speed() == static_cast<std::int32_t>(probe.speed), "the row's speed");
  Check(e->AdapterAddress() == AddressText(link.address), "the row's physical address");
  Check(e->AdminStatus() == ((link.flags & IFF_UP) ? 1 : 2), "the row's admin status");
  const std::int32_t oper = e->OperationalStatus();
  Check(oper == 0 || oper == 2 || oper == 3 || oper == 5, "the row's operational status");
  Check((link.flags & IFF_UP) || oper == 0, "a link that is down reads as operational");

  const std::u16string name = quorrel::Utf8ToUtf16(link.name);
  if (name.size() < quorrel::ifrow::kNameUnits && ValidUtf8(link.name))
    Check(e->InterfaceName() == link.name, "the row's name is not the link's name");
  const std::string& text = link.alias.empty() ? link.name : link.alias;
  if (text.size() < quorrel::ifrow::kDescrBytes && ValidUtf8(text))
    Check(e->InterfaceDescription() == text, "the row's description is not the alias or name");
  Check(quorrel::Utf8ToUtf16(e->InterfaceDescription()).size() < quorrel::ifrow::kDescrBytes,
        "the description does not leave room for its NUL");

  if (counters != nullptr) {
    auto low = [](std::uint64_t v) { return static_cast<std::int32_t>(v & 0xFFFFFFFFu); };
    Check(
        e->OctetsReceived() == low(counters->rxBytes) && e->OctetsSent() == low(counters->txBytes),
        "the row's octet counters are not the low 32 bits of the link's");
    Check(e->IncomingErrors() == low(counters->rxErrors) &&
              e->OutgoingErrors() == low(counters->txErrors),
          "the row's error counters");
  } else {
    Check(e->OctetsReceived() == 0 && e->OctetsSent() == 0, "a static row with counters");
  }
}

}  // namespace

// Input: the request's sequence number (4 bytes, 0 for notifications), a
// probe byte, then the datagrams the fake socket delivers.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  std::uint32_t sequence;
  std::memcpy(&sequence, data, 4);
  const std::uint8_t probeByte = data[4];
  FakeRouteSocket socket(std::span(data + 5, size - 5));

  std::vector<posix::LinkChange> changes;
  std::vector<posix::LinkCounters> counters;
  std::vector<std::byte> datagram;
  // As the dump is read: datagram after datagram until the request ends.
  while (socket.Receive(datagram)) {
    const Framing framing = FramingOf(datagram, sequence);
    const std::size_t before = changes.size();
    posix::NetlinkStatus status = posix::ParseLinkMessages(datagram, sequence, changes);

    std::vector<posix::LinkChange> again;
    Check(posix::ParseLinkMessages(datagram, sequence, again) == status, "the status differs");
    Check(std::equal(again.begin(), again.end(), changes.begin() + before, changes.end(),
                     [](const posix::LinkChange& a, const posix::LinkChange& b) {
                       return a.removed == b.removed && a.link == b.link;
                     }) &&
              again.size() == changes.size() - before,
          "two reads of one datagram differ");

    Check(changes.size() - before <= framing.linkMessages, "more links than link messages");
    if (framing.broken && !framing.ended)
      Check(status == posix::NetlinkStatus::kFailed, "a broken message header was not a failure");
    if (!framing.broken && !framing.ended)
      Check(status == posix::NetlinkStatus::kMore, "a datagram without an end ended the dump");
    if (framing.ended)
      Check(status != posix::NetlinkStatus::kMore, "the end of the dump was missed");

    const std::size_t statsBefore = counters.size();
    posix::NetlinkStatus statsStatus = posix::ParseStatsMessages(datagram, sequence, counters);
    Check(statsStatus == status, "the two readers frame the datagram differently");
    Check(counters.size() - statsBefore <= framing.statsMessages, "more counters than messages");
    std::optional<int> route;
    std::uint32_t metric = 0;
    Check(posix::ParseDefaultRoutes(datagram, sequence, route, metric) == status,
          "the route reader frames the datagram differently");
    if (status != posix::NetlinkStatus::kMore) break;
  }

  for (std::size_t i = 0; i < changes.size() && i < 32; ++i) {
    const posix::LinkChange& c = changes[i];
    if (c.removed) {
      Check(c.link.name.empty() && c.link.mtu == 0 && c.link.address.empty(),
            "a removed link carries more than its index");
      continue;
    }
    Check(!c.link.name.empty(), "a link without a name was taken");
    Check(c.link.name.find('\0') == std::string::npos &&
              c.link.alias.find('\0') == std::string::npos &&
              c.link.kind.find('\0') == std::string::npos,
          "a text attribute kept its NUL");
    Check(c.link.address.size() <= 32, "a physical address longer than the kernel's");
    CheckRow(c.link, i < counters.size() ? &counters[i] : nullptr, probeByte);
  }
  return 0;
}
