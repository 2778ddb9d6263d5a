#include "interfaces/c_ip_helper.h"

#include <algorithm>
#include <new>

#include "common/bytes.h"
#include "common/utf8.h"

namespace quorrel {
namespace {

constexpr double kHundredthsPerDay = 100.0 * 86400.0;

std::uint32_t U32(const std::byte* p) { return ReadLe32(p); }

std::int32_t I32(const std::byte* p) { return static_cast<std::int32_t>(ReadLe32(p)); }

std::string NameText(const std::byte* p) {
  std::u16string units;
  for (std::size_t i = 0; i < ifrow::kNameUnits; ++i) {
    const auto unit = static_cast<char16_t>(ReadLe16(p + 2 * i));
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
  std::size_t used = ifrow::kDescrBytes;
  while (used > 0 && bytes[used - 1] == '\0') --used;
  std::string text = codePage.FromAnsi(std::string(bytes, used));
  text.append(ifrow::kDescrBytes - used, '\0');
  return FirstCharacters(text, length);
}

}  // namespace

std::string AdapterAddressText(const std::byte* bytes, std::uint32_t length) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  const std::size_t n = length < ifrow::kPhysAddrBytes ? length : ifrow::kPhysAddrBytes;
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
  return utf8.substr(0, Utf8PrefixOfUnits(utf8, count));
}

std::shared_ptr<CInterface> InterfaceFromRow(const std::byte* row, CodePage& codePage) {
  auto entry = std::make_shared<CInterface>();
  entry->SetInterfaceName(NameText(row + ifrow::kName));
  entry->SetInterfaceIndex(I32(row + ifrow::kIndex));
  entry->SetInterfaceType(I32(row + ifrow::kType));
  entry->SetMaximumTransmissionUnit(I32(row + ifrow::kMtu));
  entry->SetSpeed(I32(row + ifrow::kSpeed));
  entry->SetAdapterAddress(
      AdapterAddressText(row + ifrow::kPhysAddr, U32(row + ifrow::kPhysAddrLen)));
  entry->SetAdminStatus(I32(row + ifrow::kAdminStatus));
  entry->SetOperationalStatus(I32(row + ifrow::kOperStatus));
  // The row counts hundredths of a second since system start; with no start
  // time at hand the entry holds that span as a date-time (days after the
  // zero date), which keeps the value exact and comparable between rows.
  entry->SetLastChange(U32(row + ifrow::kLastChange) / kHundredthsPerDay);
  entry->SetOctetsReceived(I32(row + ifrow::kInOctets));
  entry->SetUnicastPacketsReceived(I32(row + ifrow::kInUcastPkts));
  entry->SetNonunicastPacketsReceived(I32(row + ifrow::kInNUcastPkts));
  entry->SetDiscardedIncomingPackets(I32(row + ifrow::kInDiscards));
  entry->SetIncomingErrors(I32(row + ifrow::kInErrors));
  entry->SetUnknownProtocolPackets(I32(row + ifrow::kInUnknownProtos));
  entry->SetOctetsSent(I32(row + ifrow::kOutOctets));
  entry->SetUnicastPacketsSent(I32(row + ifrow::kOutUcastPkts));
  entry->SetNonunicastPacketsSent(I32(row + ifrow::kOutNUcastPkts));
  entry->SetDiscardedOutgoingPackets(I32(row + ifrow::kOutDiscards));
  entry->SetOutgoingErrors(I32(row + ifrow::kOutErrors));
  entry->SetOutputQueueLength(I32(row + ifrow::kOutQLen));
  entry->SetInterfaceDescription(
      DescriptionText(row + ifrow::kDescr, U32(row + ifrow::kDescrLen), codePage));
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
  std::shared_ptr<std::byte[]> table;
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
    bytesReceived_ += U32(row + ifrow::kInOctets);
    bytesSent_ += U32(row + ifrow::kOutOctets);
  }
  // The entries are made from this snapshot's own copy of the table, kept by
  // the collection for as long as it lives.
  CodePage& codePage = codePage_;
  interfaces_->AddDeferred(rows, [table, &codePage](std::size_t i) {
    return InterfaceFromRow(table.get() + kIfTableHeaderSize + i * kIfRowSize, codePage);
  });
}

}  // namespace quorrel
