#include "platform/posix/if_table.h"

namespace quorrel::posix {

// TODO(iftable): the netlink dump.
std::uint32_t NetlinkIfTable::GetIfTable(std::byte*, std::uint32_t&, bool) {
  return kErrorNotSupported;
}

}  // namespace quorrel::posix
