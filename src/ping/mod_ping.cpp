#include "ping/mod_ping.h"

#include <algorithm>
#include <cstdint>

#include "common/bytes.h"

namespace quorrel {

bool IsDottedIpv4(std::string_view text) {
  int parts = 0;
  std::size_t at = 0;
  while (parts < 4) {
    std::size_t digits = 0;
    int value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + (text[at++] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    if (++parts < 4) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
  }
  return at == text.size();
}

bool ModPing::PingHost(const std::string& destination) { return PingHostTimed(destination).passed; }

PingOutcome ModPing::PingHostTimed(const std::string& destination) {
  PingOutcome outcome;
  if (!SocketsStartup()) {
    toolkit_.MessageBox(kMsgStartupFailed, kAppTitle, kMbOk);
    return outcome;
  }
  ReplyBuffer reply{};
  std::optional<std::uint32_t> micros;
  outcome.passed = Echo(destination, kEchoData, reply, &micros) == 0;
  if (outcome.passed) {
    if (micros) {
      outcome.rttMicros = micros;
    } else {
      // Saturates rather than wraps: a service's odd millisecond count must
      // not read as a quick answer.
      const std::uint64_t ms = ReadLe32(reply.data() + kEchoReplyRoundTripOffset);
      outcome.rttMicros =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(ms * 1000, UINT32_MAX));
      outcome.wholeMillis = true;
    }
  }
  SocketsCleanup();
  return outcome;
}

std::int32_t ModPing::SendEcho(const std::string& destination, const std::string& data,
                               ReplyBuffer& reply) {
  return Echo(destination, data, reply, nullptr);
}

std::int32_t ModPing::Echo(const std::string& destination, const std::string& data,
                           ReplyBuffer& reply, std::optional<std::uint32_t>* micros) {
  std::uint32_t address = winsock_.inet_addr(codePage_.ToAnsi(destination).c_str());
  if (address == kInaddrNone) return -1;
  IcmpHandle handle = icmp_.IcmpCreateFile();
  if (handle == nullptr) return -1;
  std::string request = codePage_.ToAnsi(data);
  std::uint32_t replies = icmp_.IcmpSendEcho(handle, address, request.data(),
                                             static_cast<std::uint16_t>(request.size()), nullptr,
                                             reply.data(), kReplyBufferSize, kEchoTimeoutMs);
  std::uint32_t status = ReadLe32(reply.data() + kEchoReplyStatusOffset);
  // A service that answers no reply but leaves Status at 0 has not passed.
  if (replies == 0 && status == kIpSuccess) status = kIpReqTimedOut;
  std::uint32_t finer = 0;
  if (micros != nullptr && replies != 0 && icmp_.RoundTripMicros(handle, finer)) *micros = finer;
  icmp_.IcmpCloseHandle(handle);
  return static_cast<std::int32_t>(status);
}

bool ModPing::SocketsStartup() { return winsock_.WSAStartup(kWinsockVersion) == 0; }

void ModPing::SocketsCleanup() {
  if (winsock_.WSACleanup() != 0)
    toolkit_.MessageBox(kMsgCleanupFailed, kAppTitle, kMbOk | kMbIconExclamation);
}

}  // namespace quorrel
