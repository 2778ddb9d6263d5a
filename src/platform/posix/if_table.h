#pragma once
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/iphlpapi.h"

namespace quorrel::posix {

// GetIfTable's contract, built from the kernel's interface list: one netlink
// RTM_GETLINK dump per call, rows in the kernel's order (by index when
// `sort`). The socket is opened on first use, in the network namespace of
// the thread that makes that call, and kept; after a failed dump it is
// dropped and the next call opens a new one.
class NetlinkIfTable : public IpHelperApi {
 public:
  NetlinkIfTable() = default;
  ~NetlinkIfTable() override;
  NetlinkIfTable(const NetlinkIfTable&) = delete;
  NetlinkIfTable& operator=(const NetlinkIfTable&) = delete;

  std::uint32_t GetIfTable(std::byte* table, std::uint32_t& size, bool sort) override;

 private:
  struct Link;
  // What the per-device ioctls found; asked again only when the carrier has
  // changed since, as a new link speed always comes with a carrier change.
  struct Probe {
    std::uint32_t carrierChanges = 0;
    std::uint32_t speed = 0;  // bit/s
    bool wireless = false;
  };
  bool Open();
  void Close();
  // Calls `onLink` for every interface of one dump; false when the kernel
  // could not be asked or answered with an error. Without `stats` the kernel
  // leaves the counters out, which is all a size query needs.
  template <typename OnLink>
  bool Dump(bool stats, OnLink&& onLink);
  void FillRow(std::byte* row, const Link& link);
  const Probe& ProbeDevice(const Link& link);

  int fd_ = -1;
  std::uint32_t sequence_ = 0;
  std::vector<unsigned char> receive_;
  std::unordered_map<int, Probe> probes_;   // by interface index, from the latest fill
  std::unordered_map<int, Probe> probing_;  // being built by the current fill
};

}  // namespace quorrel::posix
