#pragma once
#include "platform/icmp.h"

namespace quorrel::posix {

// IcmpSendEcho's contract on Linux sockets.
class IcmpService : public IcmpApi {
 public:
  IcmpHandle IcmpCreateFile() override;
  std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* requestData,
                             std::uint16_t requestSize, const void* requestOptions, void* reply,
                             std::uint32_t replySize, std::uint32_t timeoutMs) override;
  bool IcmpCloseHandle(IcmpHandle handle) override;
};

}  // namespace quorrel::posix
