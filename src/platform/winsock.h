#pragma once
// Windows Sockets 1.1 (wsock32 on Windows): start-up, clean-up and address parsing.
#include <cstdint>

namespace quorrel {

inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

class WinsockApi {
 public:
  virtual ~WinsockApi() = default;
  // Returns 0 when the socket layer started.
  virtual int WSAStartup(std::uint16_t versionRequested) = 0;
  // Returns 0 on success.
  virtual int WSACleanup() = 0;
  // Parses a dotted IPv4 address (ANSI text) into network byte order;
  // kInaddrNone when the text is not an address.
  virtual std::uint32_t inet_addr(const char* text) = 0;
};

}  // namespace quorrel
