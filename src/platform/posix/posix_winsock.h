#pragma once
#include "platform/winsock.h"

namespace quorrel::posix {

// The socket layer needs no start-up on Linux; inet_addr keeps its contract.
class PosixWinsock : public WinsockApi {
 public:
  int WSAStartup(std::uint16_t) override { return 0; }
  int WSACleanup() override { return 0; }
  std::uint32_t inet_addr(const char* text) override;
};

}  // namespace quorrel::posix
