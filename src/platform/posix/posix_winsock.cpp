#include "platform/posix/posix_winsock.h"

#include <arpa/inet.h>

namespace quorrel::posix {

std::uint32_t PosixWinsock::inet_addr(const char* text) {
  // inet_aton takes the same forms as Windows (a.b.c.d, a.b.c, a.b, a, with
  // octal and hex parts); 255.255.255.255 comes out as all ones, like a failure.
  in_addr addr{};
  if (text == nullptr || inet_aton(text, &addr) == 0) return kInaddrNone;
  return addr.s_addr;
}

}  // namespace quorrel::posix
