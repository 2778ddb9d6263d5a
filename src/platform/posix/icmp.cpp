#include "platform/posix/icmp.h"

namespace quorrel::posix {

// TODO(icmp): the socket service.
IcmpHandle IcmpService::IcmpCreateFile() { return nullptr; }
std::uint32_t IcmpService::IcmpSendEcho(IcmpHandle, std::uint32_t, const void*, std::uint16_t,
                                        const void*, void*, std::uint32_t, std::uint32_t) {
  return 0;
}
bool IcmpService::IcmpCloseHandle(IcmpHandle) { return false; }

}  // namespace quorrel::posix
