#include "interfaces/c_ip_helper.h"

#include <algorithm>
#include <new>

#include "common/text.h"

namespace quorrel {
namespace {

// MIB_IFROW field offsets.
constexpr std::size_t kName = 0;
constexpr std::size_t kNameUnits = 256;
constexpr std::size_t kIndex = 512;
constexpr std::size_t kType = 516;
constexpr std::size_t kMtu = 520;
constexpr std::size_t kSpeed = 524;
constexpr std::size_t kPhysAddrLen = 528;
constexpr std::size_t kPhysAddr = 532;
constexpr std::size_t kAdminStatus = 540;
constexpr std::size_t kOperStatus = 544;
constexpr std::size_t kLastChange = 548;
constexpr std::size_t kInOctets = 552;
constexpr std::size_t kInUcastPkts = 556;
constexpr std::size_t kInNUcastPkts = 560;
constexpr std::size_t kInDiscards = 564;
constexpr std::size_t kInErrors = 568;
constexpr std::size_t kInUnknownProtos = 572;
constexpr std::size_t kOutOctets = 576;
constexpr std::size_t kOutUcastPkts = 580;
constexpr std::size_t kOutNUcastPkts = 584;
constexpr std::size_t kOutDiscards = 588;
constexpr std::size_t kOutErrors = 592;
constexpr std::size_t kOutQLen = 596;
constexpr std::size_t kDescrLen = 600;
constexpr std::size_t kDescr = 604;
constexpr std::size_t kDescrBytes = 256;
constexpr std::size_t kPhysAddrBytes = 8;

constexpr double kHundredthsPerDay = 100.0 * 86400.0;

std::uint32_t U32(const std::byte* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int32_t I32(const std::byte* p) { return static_cast<std::int32_t>(U32(p)); }

std::string NameText(const std::byte* p) {
  std::u16string units;
  for (std::size_t i = 0; i < kNameUnits; ++i) {
    auto unit = static_cast<char16_t>(static_cast<unsigned>(p[2 * i]) |
                                      static_cast<unsigned>(p[2 * i + 1]) << 8);
    if (unit == 0) break;
    units += unit;
  }
  return Utf16ToUtf8(units);
}

// The converted bDescr, cut to `length` characters. A NUL byte stands alone
// in every ANSI code page and converts to a NUL character, so the padding is
// appended rather than run through the conversion.
std::string DescriptionText(const std::byte* descr, std::uint32_t length, CodePage& codePage) {
  const char* bytes = reinterpret_cast<const char*>(descr);
  std::size_t used = kDescrBytes;
  while (used > 0 && bytes[used - 1] == '\0') --used;
  std::string text = codePage.FromAnsi(std::string(bytes, used));
  text.append(kDescrBytes - used, '\0');
  return FirstCharacters(text, length);
}

}  // namespace

std::string AdapterAddressText(const std::byte* bytes, std::uint32_t length) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  const std::size_t n = length < kPhysAddrBytes ? length : kPhysAddrBytes;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0) text += '-';
    const auto b = static_cast<unsigned>(bytes[i]);
    if (b == 0) {
      text += "00";
    } else {
      if (b >= 16) text += kHex[b >> 4];
      text += kHex[b & 15];
    }
  }
  return text;
}

std::string FirstCharacters(const std::string& utf8, std::uint32_t count) {
  std::size_t pos = 0;
  std::uint32_t units = 0;
  while (pos < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[pos]);
    std::size_t length = 1;
    if (lead >= 0xF0)
      length = 4;
    else if (lead >= 0xE0)
      length = 3;
    else if (lead >= 0xC0)
      length = 2;
    const std::uint32_t needed = length == 4 ? 2 : 1;  // a surrogate pair beyond U+FFFF
    if (units + needed > count) break;
    units += needed;
    pos = std::min(pos + length, utf8.size());
  }
  return utf8.substr(0, pos);
}

std::shared_ptr<CInterface> InterfaceFromRow(const std::byte* row, CodePage& codePage) {
  auto entry = std::make_shared<CInterface>();
  entry->SetInterfaceName(NameText(row + kName));
  entry->SetInterfaceIndex(I32(row + kIndex));
  entry->SetInterfaceType(I32(row + kType));
  entry->SetMaximumTransmissionUnit(I32(row + kMtu));
  entry->SetSpeed(I32(row + kSpeed));
  entry->SetAdapterAddress(AdapterAddressText(row + kPhysAddr, U32(row + kPhysAddrLen)));
  entry->SetAdminStatus(I32(row + kAdminStatus));
  entry->SetOperationalStatus(I32(row + kOperStatus));
  // The row counts hundredths of a second since system start; with no start
  // time at hand the entry holds that span as a date-time (days after the
  // zero date), which keeps the value exact and comparable between rows.
  entry->SetLastChange(U32(row + kLastChange) / kHundredthsPerDay);
  entry->SetOctetsReceived(I32(row + kInOctets));
  entry->SetUnicastPacketsReceived(I32(row + kInUcastPkts));
  entry->SetNonunicastPacketsReceived(I32(row + kInNUcastPkts));
  entry->SetDiscardedIncomingPackets(I32(row + kInDiscards));
  entry->SetIncomingErrors(I32(row + kInErrors));
  entry->SetUnknownProtocolPackets(I32(row + kInUnknownProtos));
  entry->SetOctetsSent(I32(row + kOutOctets));
  entry->SetUnicastPacketsSent(I32(row + kOutUcastPkts));
  entry->SetNonunicastPacketsSent(I32(row + kOutNUcastPkts));
  entry->SetDiscardedOutgoingPackets(I32(row + kOutDiscards));
  entry->SetOutgoingErrors(I32(row + kOutErrors));
  entry->SetOutputQueueLength(I32(row + kOutQLen));
  entry->SetInterfaceDescription(DescriptionText(row + kDescr, U32(row + kDescrLen), codePage));
  return entry;
}

std::shared_ptr<CInterfaces> CIpHelper::Interfaces() {
  interfaces_ = std::make_shared<CInterfaces>();
  RefreshInterfaces();
  return interfaces_;
}

void CIpHelper::RefreshInterfaces() {
  bytesReceived_ = 0;
  bytesSent_ = 0;
  std::uint32_t size = 0;
  if (api_.GetIfTable(nullptr, size, false) == kErrorNotSupported) return;
  const std::size_t allocated = size;
  std::unique_ptr<std::byte[]> table;
  try {
    table = std::make_unique_for_overwrite<std::byte[]>(allocated);
  } catch (const std::bad_alloc&) {
    return;  // a size the platform cannot really mean; the snapshot stays empty
  }
  if (api_.GetIfTable(table.get(), size, false) != kNoError) return;
  if (allocated < kIfTableHeaderSize) return;
  // Only the rows that lie inside the buffer are read, whatever the count says.
  const std::size_t fit = (allocated - kIfTableHeaderSize) / kIfRowSize;
  const std::size_t rows = std::min<std::size_t>(U32(table.get()), fit);
  for (std::size_t i = 0; i < rows; ++i) {
    const std::byte* row = table.get() + kIfTableHeaderSize + i * kIfRowSize;
    std::shared_ptr<CInterface> entry = InterfaceFromRow(row, codePage_);
    bytesReceived_ += U32(row + kInOctets);
    bytesSent_ += U32(row + kOutOctets);
    interfaces_->Add(entry);
  }
}

}  // namespace quorrel
