#pragma once
#include "platform/iphlpapi.h"

namespace quorrel::posix {

// GetIfTable's contract, built from the kernel's interface list (netlink).
class NetlinkIfTable : public IpHelperApi {
 public:
  std::uint32_t GetIfTable(std::byte* table, std::uint32_t& size, bool sort) override;
};

}  // namespace quorrel::posix
