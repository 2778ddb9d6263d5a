#pragma once
// What quorrel-watch asks the kernel's route socket beyond the window's
// interface table: which link the default route leaves by, and the 64-bit
// byte counters of one link (the table's rows carry only their low 32 bits).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/posix/link_messages.h"
#include "platform/posix/unique_fd.h"

namespace quorrel::watch {

class RouteSocket {
 public:
  // The index of the link the IPv4 default route leaves by; none without one
  // (or when the socket cannot be opened).
  std::optional<int> DefaultRouteLink();
  // The link's receive and transmit byte counters; none when it is gone.
  std::optional<posix::LinkCounters> Counters(int linkIndex);

 private:
  bool Open();
  template <typename Parse>
  posix::NetlinkStatus Dump(std::span<const std::byte> request, Parse&& parse);

  posix::UniqueFd fd_;
  std::uint32_t sequence_ = 0;
  std::vector<std::byte> receive_;
  std::vector<posix::LinkCounters> counters_;
};

}  // namespace quorrel::watch
