#include "platform/posix/icmp.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <span>

#include "platform/posix/icmp_channel.h"
#include "platform/posix/icmp_packet.h"

namespace quorrel::posix {
namespace {

// The 32-bit ICMP_ECHO_REPLY record, field by field.
constexpr std::size_t kAddressOffset = 0;
constexpr std::size_t kRoundTripOffset = 8;
constexpr std::size_t kDataSizeOffset = 12;
constexpr std::size_t kTtlOffset = 20;
constexpr std::size_t kTosOffset = 21;
constexpr std::size_t kFlagsOffset = 22;

void Put32(std::uint8_t* at, std::uint32_t value) { std::memcpy(at, &value, sizeof value); }
void Put16(std::uint8_t* at, std::uint16_t value) { std::memcpy(at, &value, sizeof value); }

// Writes the status alone where even the record does not fit, as far as room allows.
void PutStatusOnly(void* reply, std::uint32_t replySize, std::uint32_t status) {
  if (reply != nullptr && replySize >= kEchoReplyStatusOffset + 4)
    Put32(static_cast<std::uint8_t*>(reply) + kEchoReplyStatusOffset, status);
}

std::unique_ptr<EchoChannel> Open(EchoMethod method, const std::string& pingProgram) {
  switch (method) {
    case EchoMethod::kDatagram:
      return OpenDatagramChannel();
    case EchoMethod::kRaw:
      return OpenRawChannel();
    case EchoMethod::kPingProgram:
      return OpenPingProgramChannel(pingProgram);
    case EchoMethod::kAuto:
      break;
  }
  return nullptr;
}

}  // namespace

struct IcmpService::Channel {
  EchoMethod method;
  std::unique_ptr<EchoChannel> echo;
  // One echo at a time per handle: replies are told apart by sequence, and a
  // second caller must not eat the first one's answer.
  std::mutex busy;
};

IcmpService::IcmpService(EchoMethod method, std::string pingProgram)
    : method_(method), pingProgram_(std::move(pingProgram)) {}

IcmpService::~IcmpService() = default;

IcmpHandle IcmpService::IcmpCreateFile() {
  auto channel = std::make_shared<Channel>();
  if (method_ == EchoMethod::kAuto) {
    for (EchoMethod m : {EchoMethod::kDatagram, EchoMethod::kRaw, EchoMethod::kPingProgram}) {
      channel->echo = Open(m, pingProgram_);
      channel->method = m;
      if (channel->echo) break;
    }
  } else {
    channel->echo = Open(method_, pingProgram_);
    channel->method = method_;
  }
  if (!channel->echo) return nullptr;
  IcmpHandle handle = channel.get();
  std::lock_guard lock(mutex_);
  handles_.emplace(handle, std::move(channel));
  return handle;
}

bool IcmpService::IcmpCloseHandle(IcmpHandle handle) {
  std::lock_guard lock(mutex_);
  // An echo still running on another thread keeps its channel until it returns.
  return handles_.erase(handle) == 1;
}

EchoMethod IcmpService::MethodOf(IcmpHandle handle) const {
  std::shared_ptr<Channel> channel = Find(handle);
  return channel ? channel->method : EchoMethod::kAuto;
}

std::shared_ptr<IcmpService::Channel> IcmpService::Find(IcmpHandle handle) const {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : it->second;
}

std::uint32_t IcmpService::IcmpSendEcho(IcmpHandle handle, std::uint32_t destination,
                                        const void* requestData, std::uint16_t requestSize,
                                        const void* requestOptions, void* reply,
                                        std::uint32_t replySize, std::uint32_t timeoutMs) {
  auto start = std::chrono::steady_clock::now();
  if (reply == nullptr || replySize < kEchoReplyRecordSize) {
    PutStatusOnly(reply, replySize, kIpBufTooSmall);
    return 0;
  }
  std::shared_ptr<Channel> channel = Find(handle);
  if (!channel) {
    PutStatusOnly(reply, replySize, kIpGeneralFailure);
    return 0;
  }
  if (requestData == nullptr && requestSize > 0) {
    PutStatusOnly(reply, replySize, kIpBadReq);
    return 0;
  }

  EchoOptions options;
  if (requestOptions != nullptr) {
    // IP_OPTION_INFORMATION: Ttl, Tos, Flags, OptionsSize, then a pointer.
    const auto* info = static_cast<const std::uint8_t*>(requestOptions);
    options.ttl = info[0];
    options.tos = info[1];
    options.dontFragment = (info[2] & kIpFlagDf) != 0;
  }
  std::span<const std::uint8_t> data(static_cast<const std::uint8_t*>(requestData),
                                     requestData != nullptr ? requestSize : 0);

  EchoResult result;
  {
    std::lock_guard lock(channel->busy);
    result = channel->echo->Echo(destination, data, options,
                                 start + std::chrono::milliseconds(timeoutMs));
  }
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);

  auto* record = static_cast<std::uint8_t*>(reply);
  std::memset(record, 0, kEchoReplyRecordSize);
  std::size_t copied = std::min<std::size_t>(result.data.size(), replySize - kEchoReplyRecordSize);
  Put32(record + kAddressOffset, result.from);
  Put32(record + kEchoReplyStatusOffset, result.status);
  Put32(record + kRoundTripOffset,
        result.answered ? static_cast<std::uint32_t>(elapsed.count()) : 0);
  // The size of what was copied, so a reader of DataSize never runs off the buffer.
  Put16(record + kDataSizeOffset, static_cast<std::uint16_t>(copied));
  record[kTtlOffset] = result.ttl;
  record[kTosOffset] = result.tos;
  record[kFlagsOffset] = result.flags;
  if (copied > 0) std::memcpy(record + kEchoReplyRecordSize, result.data.data(), copied);
  return result.answered ? 1 : 0;
}

}  // namespace quorrel::posix
