#pragma once
// The IP Helper interface table (iphlpapi on Windows).
#include <cstddef>
#include <cstdint>

namespace quorrel {

inline constexpr std::uint32_t kNoError = 0;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;

// MIB_IFTABLE: a 32-bit entry count, then that many 860-byte MIB_IFROW records.
inline constexpr std::size_t kIfTableHeaderSize = 4;
inline constexpr std::size_t kIfRowSize = 860;

// Byte offsets of the MIB_IFROW fields (all numbers little-endian).
namespace ifrow {
inline constexpr std::size_t kName = 0;
inline constexpr std::size_t kNameUnits = 256;
inline constexpr std::size_t kIndex = 512;
inline constexpr std::size_t kType = 516;
inline constexpr std::size_t kMtu = 520;
inline constexpr std::size_t kSpeed = 524;
inline constexpr std::size_t kPhysAddrLen = 528;
inline constexpr std::size_t kPhysAddr = 532;
inline constexpr std::size_t kPhysAddrBytes = 8;
inline constexpr std::size_t kAdminStatus = 540;
inline constexpr std::size_t kOperStatus = 544;
inline constexpr std::size_t kLastChange = 548;
inline constexpr std::size_t kInOctets = 552;
inline constexpr std::size_t kInUcastPkts = 556;
inline constexpr std::size_t kInNUcastPkts = 560;
inline constexpr std::size_t kInDiscards = 564;
inline constexpr std::size_t kInErrors = 568;
inline constexpr std::size_t kInUnknownProtos = 572;
inline constexpr std::size_t kOutOctets = 576;
inline constexpr std::size_t kOutUcastPkts = 580;
inline constexpr std::size_t kOutNUcastPkts = 584;
inline constexpr std::size_t kOutDiscards = 588;
inline constexpr std::size_t kOutErrors = 592;
inline constexpr std::size_t kOutQLen = 596;
inline constexpr std::size_t kDescrLen = 600;
inline constexpr std::size_t kDescr = 604;
inline constexpr std::size_t kDescrBytes = 256;
}  // namespace ifrow

class IpHelperApi {
 public:
  virtual ~IpHelperApi() = default;
  // Fills `table` with a MIB_IFTABLE image. With a null table (or one smaller
  // than needed) only `size` is set and ERROR_INSUFFICIENT_BUFFER returned.
  // Returns NO_ERROR, ERROR_NOT_SUPPORTED, ...
  virtual std::uint32_t GetIfTable(std::byte* table, std::uint32_t& size, bool sort) = 0;

  // Between these two calls the reads come back to back (the adapter list is
  // filled from one read per entry): a service may answer them from one
  // reading of the counters. Links that come, go or change are still seen at
  // every read. Calls nest.
  virtual void BeginReadBatch() {}
  virtual void EndReadBatch() {}
};

// Holds a read batch open for as long as it lives.
class IfTableReadBatch {
 public:
  explicit IfTableReadBatch(IpHelperApi& api) : api_(api) { api_.BeginReadBatch(); }
  ~IfTableReadBatch() { api_.EndReadBatch(); }
  IfTableReadBatch(const IfTableReadBatch&) = delete;
  IfTableReadBatch& operator=(const IfTableReadBatch&) = delete;

 private:
  IpHelperApi& api_;
};

}  // namespace quorrel
