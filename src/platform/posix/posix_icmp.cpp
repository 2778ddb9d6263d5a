#include "platform/posix/posix_icmp.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <span>

#include "common/bytes.h"
#include "platform/posix/icmp_channel.h"
#include "platform/posix/icmp_packet.h"

namespace quorrel::posix {
namespace {

// The 32-bit ICMP_ECHO_REPLY record, field by field.
constexpr std::size_t kAddressOffset = 0;
constexpr std::size_t kDataSizeOffset = 12;
constexpr std::size_t kTtlOffset = 20;
constexpr std::size_t kTosOffset = 21;
constexpr std::size_t kFlagsOffset = 22;

// Writes the status alone where even the record does not fit, as far as room allows.
void PutStatusOnly(void* reply, std::uint32_t replySize, std::uint32_t status) {
  if (reply != nullptr && replySize >= kEchoReplyStatusOffset + 4)
    WriteLe32(static_cast<std::uint8_t*>(reply) + kEchoReplyStatusOffset, status);
}

constexpr unsigned Bit(EchoMethod method) { return 1u << static_cast<unsigned>(method); }

// The order kAuto tries the methods in, best first.
constexpr EchoMethod kAutoOrder[] = {EchoMethod::kDatagram, EchoMethod::kRaw,
                                     EchoMethod::kPingProgram};

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
  // One echo at a time per channel: replies are told apart by sequence, and a
  // second caller must not eat the first one's answer.
  std::mutex busy;
};

IcmpService::IcmpService(EchoMethod method, std::string pingProgram)
    : method_(method), pingProgram_(std::move(pingProgram)) {}

IcmpService::~IcmpService() = default;

void IcmpService::Refuse(EchoMethod method) {
  // The clock runs from the first refusal, so that asking again while
  // blocked does not put the next full try off for ever.
  if ((refused_ & Bit(method)) == 0) refusedAt_ = std::chrono::steady_clock::now();
  refused_ |= Bit(method);
}

std::shared_ptr<IcmpService::Channel> IcmpService::OpenChannel() {
  const auto now = std::chrono::steady_clock::now();
  if (refused_ != 0 && now - refusedAt_ >= kRetryRefused) refused_ = 0;
  std::span<const EchoMethod> order(kAutoOrder);
  if (method_ != EchoMethod::kAuto) order = std::span<const EchoMethod>(&method_, 1);
  probed_ = true;
  for (EchoMethod m : order) {
    // Without any method at all every handle asks for a socket again (it
    // costs a system call), so a fix of the permission takes effect at the
    // next ping; a ping program that could not send waits for kRetryRefused.
    const bool retry = blocked_ && m != EchoMethod::kPingProgram;
    if ((refused_ & Bit(m)) != 0 && !retry) continue;
    auto channel = std::make_shared<Channel>();
    channel->method = m;
    channel->echo = Open(m, pingProgram_);
    if (channel->echo) {
      blocked_ = false;
      return channel;
    }
    Refuse(m);
  }
  blocked_ = true;
  return nullptr;
}

IcmpHandle IcmpService::IcmpCreateFile() {
  std::lock_guard lock(mutex_);
  std::shared_ptr<Channel> channel = std::move(idle_);
  // A better method refused a while ago may be granted now; the kept channel
  // stands aside for one try.
  if (channel && (refused_ & (Bit(channel->method) - 1)) != 0 &&
      std::chrono::steady_clock::now() - refusedAt_ >= kRetryRefused)
    channel.reset();
  if (!channel) channel = OpenChannel();
  if (!channel) return nullptr;
  IcmpHandle handle = reinterpret_cast<IcmpHandle>(++lastHandle_);
  handles_.emplace(handle, Lent{std::move(channel), std::nullopt});
  return handle;
}

bool IcmpService::IcmpCloseHandle(IcmpHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return false;
  std::shared_ptr<Channel> channel = std::move(it->second.channel);
  handles_.erase(it);
  // Kept for the next handle unless an echo still runs on it (it then goes
  // when that returns), the service keeps one already, or its method has
  // been refused since.
  if (!idle_ && channel.use_count() == 1 && (refused_ & Bit(channel->method)) == 0)
    idle_ = std::move(channel);
  return true;
}

std::string IcmpService::SendBlockedReason() {
  std::lock_guard lock(mutex_);
  if (!probed_ && !idle_ && handles_.empty()) {
    // Asked before any echo: find out, and keep what opened for the first ping.
    idle_ = OpenChannel();
  }
  if (!blocked_) return {};
  char group[16];
  auto [end, ec] = std::to_chars(group, group + sizeof group, ::getegid());
  const std::string gid(group, ec == std::errc{} ? end : group);
  const std::string sysctl =
      "the net.ipv4.ping_group_range sysctl (sysctl -w "
      "net.ipv4.ping_group_range=\"" +
      gid + " " + gid + "\")";
  switch (method_) {
    case EchoMethod::kDatagram:
      return "No ICMP method is permitted for this program: allow its group to open ICMP "
             "sockets with " +
             sysctl + ".";
    case EchoMethod::kRaw:
      return "No ICMP method is permitted for this program: raw sockets need the "
             "CAP_NET_RAW capability.";
    case EchoMethod::kPingProgram:
      return "No ICMP method is permitted for this program: install the system's ping "
             "(iputils-ping), with its capability to send.";
    case EchoMethod::kAuto:
      break;
  }
  return "No ICMP method is permitted for this program: allow its group to open ICMP sockets "
         "with " +
         sysctl + ", or install the system's ping (iputils-ping).";
}

EchoMethod IcmpService::MethodOf(IcmpHandle handle) const {
  std::shared_ptr<Channel> channel = Find(handle);
  return channel ? channel->method : EchoMethod::kAuto;
}

std::shared_ptr<IcmpService::Channel> IcmpService::Find(IcmpHandle handle) const {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : it->second.channel;
}

bool IcmpService::RoundTripMicros(IcmpHandle handle, std::uint32_t& micros) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end() || !it->second.roundTripMicros) return false;
  micros = *it->second.roundTripMicros;
  return true;
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
  if (result.refused) {
    // The ping program could open no socket either: this process may not send.
    std::lock_guard lock(mutex_);
    Refuse(channel->method);
    // kAuto comes to the ping program only once both sockets were refused.
    blocked_ = true;
    if (idle_ == channel) idle_.reset();
  }
  if (result.answered && !result.roundTripMicros) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    result.roundTripMicros =
        static_cast<std::uint32_t>(std::min<std::int64_t>(elapsed.count(), UINT32_MAX));
  }
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it != handles_.end())
      it->second.roundTripMicros = result.answered ? result.roundTripMicros : std::nullopt;
  }

  auto* record = static_cast<std::uint8_t*>(reply);
  std::memset(record, 0, kEchoReplyRecordSize);
  std::size_t copied = std::min<std::size_t>(result.data.size(), replySize - kEchoReplyRecordSize);
  // The address stays in network order: its bytes go in as they came.
  std::memcpy(record + kAddressOffset, &result.from, sizeof result.from);
  WriteLe32(record + kEchoReplyStatusOffset, result.status);
  // Whole milliseconds, cut short as icmp.dll does: a sub-millisecond answer is 0.
  WriteLe32(record + kEchoReplyRoundTripOffset,
            result.answered ? *result.roundTripMicros / 1000 : 0);
  // The size of what was copied, so a reader of DataSize never runs off the buffer.
  WriteLe16(record + kDataSizeOffset, static_cast<std::uint16_t>(copied));
  record[kTtlOffset] = result.ttl;
  record[kTosOffset] = result.tos;
  record[kFlagsOffset] = result.flags;
  if (copied > 0) std::memcpy(record + kEchoReplyRecordSize, result.data.data(), copied);
  return result.answered ? 1 : 0;
}

}  // namespace quorrel::posix
