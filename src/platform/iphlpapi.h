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

class IpHelperApi {
 public:
  virtual ~IpHelperApi() = default;
  // Fills `table` with a MIB_IFTABLE image. With a null table (or one smaller
  // than needed) only `size` is set and ERROR_INSUFFICIENT_BUFFER returned.
  // Returns NO_ERROR, ERROR_NOT_SUPPORTED, ...
  virtual std::uint32_t GetIfTable(std::byte* table, std::uint32_t& size, bool sort) = 0;
};

}  // namespace quorrel
