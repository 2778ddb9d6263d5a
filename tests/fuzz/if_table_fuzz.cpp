// CIpHelper's snapshot over a GetIfTable that answers with fuzzed bytes: only
// rows inside the buffer are read, every entry holds its own row's fields, the
// totals are the sums of the rows read, and a snapshot handed out earlier
// stays as it was.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "fuzz_check.h"
#include "interfaces/c_ip_helper.h"
#include "platform/iphlpapi.h"
#include "platform/posix/posix_files.h"

namespace {

using quorrel::fuzz::Check;
namespace ifrow = quorrel::ifrow;

std::uint32_t Le32(const std::byte* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(p[i]);
  return v;
}

// A platform whose table is the fuzzed bytes. The size query reports their
// length, or a length off by `sizeSkew` as a table that changes between the
// two calls would; the fill writes only inside the buffer it is given, as the
// real call does, and reports a short buffer when the table does not fit.
class FuzzedIfTable : public quorrel::IpHelperApi {
 public:
  std::vector<std::byte> table;
  std::uint32_t sizeAnswer = quorrel::kErrorInsufficientBuffer;
  std::uint32_t fillAnswer = quorrel::kNoError;
  int sizeSkew = 0;
  int calls = 0;
  std::uint32_t filledSize = 0;  // the buffer size of the latest successful fill

  std::uint32_t GetIfTable(std::byte* buffer, std::uint32_t& size, bool sort) override {
    Check(!sort, "the snapshot asked for a sorted table");
    ++calls;
    if (buffer == nullptr) {
      size =
          static_cast<std::uint32_t>(std::max<long>(0, static_cast<long>(table.size()) + sizeSkew));
      return sizeAnswer;
    }
    if (fillAnswer != quorrel::kNoError) return fillAnswer;
    if (size < table.size()) {
      size = static_cast<std::uint32_t>(table.size());
      return quorrel::kErrorInsufficientBuffer;
    }
    if (!table.empty()) std::memcpy(buffer, table.data(), table.size());
    std::memset(buffer + table.size(), 0, size - table.size());
    filledSize = size;
    return quorrel::kNoError;
  }
};

constexpr std::uint32_t kAnswers[] = {quorrel::kErrorInsufficientBuffer, quorrel::kNoError,
                                      quorrel::kErrorNotSupported, quorrel::kErrorInvalidParameter};

std::string AddressOf(const std::byte* p, std::uint32_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint32_t i = 0; i < std::min<std::uint32_t>(length, 8); ++i) {
    unsigned b = static_cast<std::uint8_t>(p[i]);
    if (!text.empty()) text += '-';
    text += b == 0   ? std::string("00")
            : b < 16 ? std::string(1, kHex[b])
                     : std::string{kHex[b >> 4], kHex[b & 15]};
  }
  return text;
}

// The name's units up to the first NUL, a lone surrogate mended to U+FFFD as
// every conversion to UTF-8 must.
std::u16string NameOf(const std::byte* p) {
  std::u16string units;
  for (std::size_t i = 0; i < ifrow::kNameUnits; ++i) {
    char16_t u = static_cast<char16_t>(static_cast<std::uint8_t>(p[2 * i]) |
                                       static_cast<std::uint8_t>(p[2 * i + 1]) << 8);
    if (u == 0) break;
    units += u;
  }
  for (std::size_t i = 0; i < units.size(); ++i) {
    bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
    bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      units[i] = 0xFFFD;
    }
  }
  return units;
}

// The converted 256 description bytes, cut to `length` UTF-16 units without
// splitting a surrogate pair.
std::u16string DescriptionOf(const std::byte* p, std::uint32_t length,
                             quorrel::CodePage& codePage) {
  std::u16string all = quorrel::Utf8ToUtf16(
      codePage.FromAnsi(std::string(reinterpret_cast<const char*>(p), ifrow::kDescrBytes)));
  std::size_t n = std::min<std::size_t>(length, all.size());
  if (n > 0 && n < all.size() && all[n - 1] >= 0xD800 && all[n - 1] <= 0xDBFF) --n;
  return all.substr(0, n);
}

void CheckEntry(const quorrel::CInterface& e, const std::byte* row, quorrel::CodePage& codePage) {
  auto i32 = [&](std::size_t at) { return static_cast<std::int32_t>(Le32(row + at)); };
  Check(quorrel::Utf8ToUtf16(e.InterfaceName()) == NameOf(row + ifrow::kName), "InterfaceName");
  Check(e.InterfaceIndex() == i32(ifrow::kIndex), "InterfaceIndex");
  Check(e.InterfaceType() == i32(ifrow::kType), "InterfaceType");
  Check(e.MaximumTransmissionUnit() == i32(ifrow::kMtu), "MaximumTransmissionUnit");
  Check(e.Speed() == i32(ifrow::kSpeed), "Speed");
  Check(e.AdapterAddress() == AddressOf(row + ifrow::kPhysAddr, Le32(row + ifrow::kPhysAddrLen)),
        "AdapterAddress");
  Check(e.AdminStatus() == i32(ifrow::kAdminStatus), "AdminStatus");
  Check(e.OperationalStatus() == i32(ifrow::kOperStatus), "OperationalStatus");
  Check(e.OctetsReceived() == i32(ifrow::kInOctets), "OctetsReceived");
  Check(e.UnicastPacketsReceived() == i32(ifrow::kInUcastPkts), "UnicastPacketsReceived");
  Check(e.NonunicastPacketsReceived() == i32(ifrow::kInNUcastPkts), "NonunicastPacketsReceived");
  Check(e.DiscardedIncomingPackets() == i32(ifrow::kInDiscards), "DiscardedIncomingPackets");
  Check(e.IncomingErrors() == i32(ifrow::kInErrors), "IncomingErrors");
  Check(e.UnknownProtocolPackets() == i32(ifrow::kInUnknownProtos), "UnknownProtocolPackets");
  Check(e.OctetsSent() == i32(ifrow::kOutOctets), "OctetsSent");
  Check(e.UnicastPacketsSent() == i32(ifrow::kOutUcastPkts), "UnicastPacketsSent");
  Check(e.NonunicastPacketsSent() == i32(ifrow::kOutNUcastPkts), "NonunicastPacketsSent");
  Check(e.DiscardedOutgoingPackets() == i32(ifrow::kOutDiscards), "DiscardedOutgoingPackets");
  Check(e.OutgoingErrors() == i32(ifrow::kOutErrors), "OutgoingErrors");
  Check(e.OutputQueueLength() == i32(ifrow::kOutQLen), "OutputQueueLength");
  Check(quorrel::Utf8ToUtf16(e.InterfaceDescription()) ==
            DescriptionOf(row + ifrow::kDescr, Le32(row + ifrow::kDescrLen), codePage),
        "InterfaceDescription");
}

}  // namespace

// Input: one byte choosing the two answers and the size skew, then the table.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  FuzzedIfTable api;
  api.sizeAnswer = kAnswers[data[0] & 3];
  api.fillAnswer = (data[0] & 0x0C) == 0x0C ? quorrel::kErrorInvalidParameter : quorrel::kNoError;
  static constexpr int kSkews[] = {0, 0, 0, 0, -1, 1, -4, 860};
  api.sizeSkew = kSkews[(data[0] >> 4) & 7];
  const auto* bytes = reinterpret_cast<const std::byte*>(data + 1);
  api.table.assign(bytes, bytes + size - 1);

  quorrel::posix::Utf8CodePage codePage;
  quorrel::CIpHelper helper(api, codePage);
  Check(helper.BytesReceived() == 0 && helper.BytesSent() == 0, "totals before any snapshot");

  std::shared_ptr<quorrel::CInterfaces> first = helper.Interfaces();
  Check(first != nullptr, "no collection");
  const bool unsupported = api.sizeAnswer == quorrel::kErrorNotSupported;
  Check(api.calls == (unsupported ? 1 : 2), "a snapshot is one size query and one fill");

  std::size_t rows = 0;
  if (!unsupported && api.filledSize >= quorrel::kIfTableHeaderSize) {
    std::size_t fit = (api.filledSize - quorrel::kIfTableHeaderSize) / quorrel::kIfRowSize;
    // Rows past the fuzzed bytes are the zeros the fill left there.
    std::vector<std::byte> buffer(api.table);
    buffer.resize(api.filledSize);
    rows = std::min<std::size_t>(Le32(buffer.data()), fit);
    Check(static_cast<std::size_t>(first->Count()) == rows, "entry count");
    double received = 0, sent = 0;
    std::size_t i = 0;
    for (const auto& entry : *first) {
      const std::byte* row =
          buffer.data() + quorrel::kIfTableHeaderSize + i++ * quorrel::kIfRowSize;
      CheckEntry(*entry, row, codePage);
      received += Le32(row + ifrow::kInOctets);
      sent += Le32(row + ifrow::kOutOctets);
    }
    Check(helper.BytesReceived() == received && helper.BytesSent() == sent, "totals");
  } else {
    Check(first->Count() == 0, "entries from a failed table read");
    Check(helper.BytesReceived() == 0 && helper.BytesSent() == 0, "totals of a failed read");
  }

  // A second snapshot is new and equal; the first is untouched by it.
  std::vector<std::string> names;
  for (const auto& entry : *first) names.push_back(entry->InterfaceName());
  std::shared_ptr<quorrel::CInterfaces> second = helper.Interfaces();
  Check(second != first && second->Count() == first->Count(), "second snapshot");
  std::size_t i = 0;
  for (const auto& entry : *first)
    Check(entry->InterfaceName() == names[i++], "first snapshot changed");
  return 0;
}
