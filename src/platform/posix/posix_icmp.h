#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/icmp.h"

namespace quorrel::posix {

class EchoChannel;

// How the echo leaves the machine. kAuto takes the first the system allows,
// in this order: an unprivileged ICMP datagram socket (the group is inside
// net.ipv4.ping_group_range), a raw socket (CAP_NET_RAW), the ping program.
enum class EchoMethod { kAuto, kDatagram, kRaw, kPingProgram };

// IcmpSendEcho's contract on Linux sockets. The service finds out once which
// method this process may use and remembers it, and the ones refused, so a
// ping does not ask the system again what it refused before (a refused
// method is tried again after kRetryRefused, in case it was granted since; a
// service with no method at all tries at every handle). It keeps one
// channel of that method open and lends it to each handle in turn: the
// handle has it to itself from IcmpCreateFile to IcmpCloseHandle, and a second
// handle open at the same time gets a channel of its own. The kept socket
// lives in the network namespace of the thread that opened it. Several
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
  // From the sockets' kernel stamps (the steady clock where a reply has none),
  // or from what the ping program printed; to the microsecond, where
  // RoundTripTime keeps icmp.dll's whole milliseconds.
  bool RoundTripMicros(IcmpHandle handle, std::uint32_t& micros) override;
  // Empty while some method may send; otherwise the line that says none may
  // and how to permit one.
  std::string SendBlockedReason() override;

  // The method an open handle uses; kAuto for a handle this service does not know.
  EchoMethod MethodOf(IcmpHandle handle) const;

  static constexpr std::chrono::seconds kRetryRefused{60};

 private:
  struct Channel;
  // What a handle holds: its channel, and the round trip of its last echo if
  // that was answered.
  struct Lent {
    std::shared_ptr<Channel> channel;
    std::optional<std::uint32_t> roundTripMicros;
  };
  std::shared_ptr<Channel> Find(IcmpHandle handle) const;
  // A channel of the first method that opens, skipping those known to be
  // refused; null when none does. Call with mutex_ held.
  std::shared_ptr<Channel> OpenChannel();
  void Refuse(EchoMethod method);

  EchoMethod method_;
  std::string pingProgram_;
  mutable std::mutex mutex_;
  std::map<IcmpHandle, Lent> handles_;
  std::uintptr_t lastHandle_ = 0;
  std::shared_ptr<Channel> idle_;  // the kept channel while no handle has it
  // Bit per EchoMethod the system refused, and when that was last found.
  unsigned refused_ = 0;
  std::chrono::steady_clock::time_point refusedAt_;
  bool blocked_ = false;  // the latest attempt found no method at all
  bool probed_ = false;
};

}  // namespace quorrel::posix
