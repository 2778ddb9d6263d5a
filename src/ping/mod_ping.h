#pragma once
// One ICMP echo to the destination: did it answer within half a second?
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/app.h"
#include "platform/files.h"
#include "platform/icmp.h"
#include "platform/toolkit.h"
#include "platform/winsock.h"

namespace quorrel {

inline constexpr std::uint32_t kReplyBufferSize = 278;
inline constexpr std::uint32_t kEchoTimeoutMs = 500;
inline constexpr char kEchoData[] = "Test";
inline constexpr std::uint16_t kWinsockVersion = 0x0101;

inline constexpr char kMsgStartupFailed[] =
    "Windows Sockets for 32 bit Windows environments is not successfully responding.";
inline constexpr char kMsgCleanupFailed[] = "Windows Sockets error occurred in Cleanup.";

using ReplyBuffer = std::array<std::uint8_t, kReplyBufferSize>;

// A probe's result with the reply's round trip. The round trip is there only
// for a passed echo; `wholeMillis` says the service measured it in whole
// milliseconds (icmp.dll's RoundTripTime), so it is no finer than that.
struct PingOutcome {
  bool passed = false;
  std::optional<std::uint32_t> rttMicros;
  bool wholeMillis = false;
};

// True for four decimal parts of 0 to 255 joined by dots ("192.168.1.1"),
// the only form of destination the window takes; inet_addr also takes
// shorter and octal forms, which nobody types on purpose.
bool IsDottedIpv4(std::string_view text);

class ModPing {
 public:
  ModPing(WinsockApi& winsock, IcmpApi& icmp, Toolkit& toolkit, CodePage& codePage)
      : winsock_(winsock), icmp_(icmp), toolkit_(toolkit), codePage_(codePage) {}

  // True exactly when one echo came back with status 0.
  bool PingHost(const std::string& destination);
  // PingHost, telling the round trip of the reply as well.
  PingOutcome PingHostTimed(const std::string& destination);
  // The reply's Status field; -1 for a malformed address or no ICMP handle.
  std::int32_t SendEcho(const std::string& destination, const std::string& data,
                        ReplyBuffer& reply);
  bool SocketsStartup();
  void SocketsCleanup();

 private:
  // SendEcho that also asks the service, before the handle closes, for the
  // finer round trip; `micros` stays empty where the service has none.
  std::int32_t Echo(const std::string& destination, const std::string& data, ReplyBuffer& reply,
                    std::optional<std::uint32_t>* micros);

  WinsockApi& winsock_;
  IcmpApi& icmp_;
  Toolkit& toolkit_;
  CodePage& codePage_;
};

}  // namespace quorrel
