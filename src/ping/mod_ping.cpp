#include "ping/mod_ping.h"

#include "common/bytes.h"

namespace quorrel {

bool ModPing::PingHost(const std::string& destination) {
  if (!SocketsStartup()) {
    toolkit_.MessageBox(kMsgStartupFailed, kAppTitle, kMbOk);
    return false;
  }
  ReplyBuffer reply{};
  bool passed = SendEcho(destination, kEchoData, reply) == 0;
  SocketsCleanup();
  return passed;
}

std::int32_t ModPing::SendEcho(const std::string& destination, const std::string& data,
                               ReplyBuffer& reply) {
  std::uint32_t address = winsock_.inet_addr(codePage_.ToAnsi(destination).c_str());
  if (address == kInaddrNone) return -1;
  IcmpHandle handle = icmp_.IcmpCreateFile();
  if (handle == nullptr) return -1;
  std::string request = codePage_.ToAnsi(data);
  std::uint32_t replies =
      icmp_.IcmpSendEcho(handle, address, request.data(), static_cast<std::uint16_t>(request.size()),
                         nullptr, reply.data(), kReplyBufferSize, kEchoTimeoutMs);
  std::uint32_t status = ReadLe32(reply.data() + kEchoReplyStatusOffset);
  // A service that answers no reply but leaves Status at 0 has not passed.
  if (replies == 0 && status == kIpSuccess) status = kIpReqTimedOut;
  icmp_.IcmpCloseHandle(handle);
  return static_cast<std::int32_t>(status);
}

bool ModPing::SocketsStartup() { return winsock_.WSAStartup(kWinsockVersion) == 0; }

void ModPing::SocketsCleanup() {
  if (winsock_.WSACleanup() != 0)
    toolkit_.MessageBox(kMsgCleanupFailed, kAppTitle, kMbOk | kMbIconExclamation);
}

}  // namespace quorrel
