#pragma once
// CIpHelper: every read of Interfaces is a complete, independent snapshot of
// the platform's interface table, with the octet totals over all its rows.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "interfaces/c_interfaces.h"
#include "platform/files.h"
#include "platform/iphlpapi.h"

namespace quorrel {

class CIpHelper {
 public:
  CIpHelper(IpHelperApi& api, CodePage& codePage) : api_(api), codePage_(codePage) {}

  void SetInterfaces(std::shared_ptr<CInterfaces> vData) { interfaces_ = std::move(vData); }
  // A new snapshot on every read; collections handed out earlier stay as they were.
  std::shared_ptr<CInterfaces> Interfaces();
  double BytesReceived() const { return static_cast<double>(bytesReceived_); }
  double BytesSent() const { return static_cast<double>(bytesSent_); }

 private:
  void RefreshInterfaces();

  IpHelperApi& api_;
  CodePage& codePage_;
  std::shared_ptr<CInterfaces> interfaces_;
  // 64-bit sums of the unsigned 32-bit row counters: a table would need more
  // than 2^32 rows to overflow them.
  std::uint64_t bytesReceived_ = 0;
  std::uint64_t bytesSent_ = 0;
};

// One 860-byte MIB_IFROW image made into an entry.
std::shared_ptr<CInterface> InterfaceFromRow(const std::byte* row, CodePage& codePage);

// The physical address as the adapter list shows it: "00" for a zero byte,
// otherwise upper-case hex without a leading zero, joined by "-"
// (00 0C 29 A5 0B 01 gives 00-C-29-A5-B-1). At most 8 bytes are read.
std::string AdapterAddressText(const std::byte* bytes, std::uint32_t length);

// The first `count` characters (UTF-16 code units, as the platform counts
// them) of a UTF-8 text; a character that would be split in half is left out.
std::string FirstCharacters(const std::string& utf8, std::uint32_t count);

}  // namespace quorrel
