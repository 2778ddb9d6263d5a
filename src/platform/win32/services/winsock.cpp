// Windows Sockets 1.1, as wsock32 exports it; <winsock2.h> would pull in the
// 2.x declarations, which clash with it.
#include <windows.h>
// <windows.h> first: the sockets header builds on its types.
#include <winsock.h>

#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {

static_assert(sizeof(::u_long) == sizeof(std::uint32_t), "inet_addr answers 32 bits");

int Wsock32::WSAStartup(std::uint16_t versionRequested) {
  WSADATA data{};
  return ::WSAStartup(versionRequested, &data);
}

int Wsock32::WSACleanup() { return ::WSACleanup(); }

std::uint32_t Wsock32::inet_addr(const char* text) {
  if (text == nullptr) return kInaddrNone;
  return ::inet_addr(text);
}

}  // namespace quorrel::win32
