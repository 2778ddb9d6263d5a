#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/icmp.h"

namespace quorrel::posix {

class EchoChannel;

// How the echo leaves the machine. kAuto takes the first the system allows,
// in this order: an unprivileged ICMP datagram socket (the group is inside
// net.ipv4.ping_group_range), a raw socket (CAP_NET_RAW), the ping program.
enum class EchoMethod { kAuto, kDatagram, kRaw, kPingProgram };

// IcmpSendEcho's contract on Linux sockets. A handle owns its socket; several
// threads may use the service, and one handle, at once.
class IcmpService : public IcmpApi {
 public:
  // `pingProgram` names the program for kPingProgram (and kAuto's last resort);
  // empty looks `ping` up on PATH and in the usual folders.
  explicit IcmpService(EchoMethod method = EchoMethod::kAuto, std::string pingProgram = {});
  ~IcmpService() override;

  // Null when the chosen method is not open to this process.
  IcmpHandle IcmpCreateFile() override;
  std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* requestData,
                             std::uint16_t requestSize, const void* requestOptions, void* reply,
                             std::uint32_t replySize, std::uint32_t timeoutMs) override;
  bool IcmpCloseHandle(IcmpHandle handle) override;

  // The method an open handle uses; kAuto for a handle this service does not know.
  EchoMethod MethodOf(IcmpHandle handle) const;

 private:
  struct Channel;
  std::shared_ptr<Channel> Find(IcmpHandle handle) const;

  EchoMethod method_;
  std::string pingProgram_;
  mutable std::mutex mutex_;
  std::map<IcmpHandle, std::shared_ptr<Channel>> handles_;
};

}  // namespace quorrel::posix
