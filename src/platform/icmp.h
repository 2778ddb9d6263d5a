#pragma once
// The ICMP echo service (icmp.dll on Windows).
#include <cstdint>
#include <string>

namespace quorrel {

using IcmpHandle = void*;  // null means no handle could be opened

// IP status codes as the echo service reports them in the reply's Status field.
enum IpStatus : std::uint32_t {
  kIpSuccess = 0,
  kIpBufTooSmall = 11001,
  kIpDestNetUnreachable = 11002,
  kIpDestHostUnreachable = 11003,
  kIpDestProtUnreachable = 11004,
  kIpDestPortUnreachable = 11005,
  kIpNoResources = 11006,
  kIpBadOption = 11007,
  kIpHwError = 11008,
  kIpPacketTooBig = 11009,
  kIpReqTimedOut = 11010,
  kIpBadReq = 11011,
  kIpBadRoute = 11012,
  kIpTtlExpiredTransit = 11013,
  kIpTtlExpiredReassem = 11014,
  kIpParamProblem = 11015,
  kIpSourceQuench = 11016,
  kIpBadDestination = 11018,
  kIpGeneralFailure = 11050,
};

// The reply buffer starts with the 32-bit ICMP_ECHO_REPLY record:
// Address (network order) at 0, Status at 4, RoundTripTime at 8, then data
// size, reserved, data pointer and option information up to byte 28.
inline constexpr std::uint32_t kEchoReplyRecordSize = 28;
inline constexpr std::uint32_t kEchoReplyStatusOffset = 4;
inline constexpr std::uint32_t kEchoReplyRoundTripOffset = 8;

class IcmpApi {
 public:
  virtual ~IcmpApi() = default;
  virtual IcmpHandle IcmpCreateFile() = 0;
  // Sends one echo to `destination` (IPv4, network byte order) and waits at most
  // `timeoutMs`. Writes the reply record into `reply` and returns the number of
  // replies (0 when none arrived; Status then says why).
  virtual std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destination,
                                     const void* requestData, std::uint16_t requestSize,
                                     const void* requestOptions, void* reply,
                                     std::uint32_t replySize, std::uint32_t timeoutMs) = 0;
  virtual bool IcmpCloseHandle(IcmpHandle handle) = 0;
  // The round trip of the last echo on `handle` that was answered, in
  // microseconds, where the service can tell it finer than RoundTripTime's
  // whole milliseconds; false where it cannot (icmp.dll never can).
  virtual bool RoundTripMicros(IcmpHandle /*handle*/, std::uint32_t& /*micros*/) { return false; }
  // Empty while echoes may be sent. Otherwise one line for the user saying
  // that no ICMP method is permitted for this program and naming the remedy:
  // without it a missing permission looks exactly like a dead link.
  virtual std::string SendBlockedReason() { return {}; }
};

}  // namespace quorrel
