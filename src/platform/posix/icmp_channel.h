#pragma once
// The ways Linux lets a process send an echo, behind one face: an ICMP
// datagram socket, a raw socket, or the system's ping program.
#include <time.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorrel::posix {

using Deadline = std::chrono::steady_clock::time_point;

// The time from now to `deadline` for ppoll; call only while it lies ahead.
inline timespec TimeLeft(Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline -
                                                                   std::chrono::steady_clock::now())
                  .count();
  if (left < 0) left = 0;
  return timespec{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
}

// From the caller's IP_OPTION_INFORMATION; ttl 0 keeps the system's default.
struct EchoOptions {
  std::uint8_t ttl = 0;
  std::uint8_t tos = 0;
  bool dontFragment = false;
};

struct EchoResult {
  std::uint32_t status = 0;
  bool answered = false;   // an echo reply or an ICMP error came back
  bool refused = false;    // the system refused the method itself, not this echo
  std::uint32_t from = 0;  // network order
  std::uint8_t ttl = 0;
  std::uint8_t tos = 0;
  std::uint8_t flags = 0;
  std::vector<std::uint8_t> data;
  // From the send to the answer, as finely as the method can tell; empty
  // where it cannot, and the service then times the whole call.
  std::optional<std::uint32_t> roundTripMicros;
};

class EchoChannel {
 public:
  virtual ~EchoChannel() = default;
  // One echo to `destination` (network order); returns by `deadline` at the
  // latest, whatever else arrives meanwhile.
  virtual EchoResult Echo(std::uint32_t destination, std::span<const std::uint8_t> data,
                          const EchoOptions& options, Deadline deadline) = 0;
};

// Null when the system refuses this kind of socket to the process (the group
// is outside net.ipv4.ping_group_range; no CAP_NET_RAW).
std::unique_ptr<EchoChannel> OpenDatagramChannel();
std::unique_ptr<EchoChannel> OpenRawChannel();
// `program` empty: `ping` looked up on PATH and in the usual folders. Null when
// there is none to run.
std::unique_ptr<EchoChannel> OpenPingProgramChannel(const std::string& program);
// The ping program's -W argument for `left` of waiting: seconds with a dot
// and three decimals ("0.499"), at least a millisecond, whatever the locale.
std::string WaitArgument(std::chrono::milliseconds left);

}  // namespace quorrel::posix
