// Echo over an ICMP socket: the unprivileged datagram kind, or a raw one.
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
// clang-format off
#include <time.h>  // linux/errqueue.h needs struct timespec first
#include <linux/errqueue.h>
// clang-format on
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/icmp.h"
#include "platform/posix/icmp_channel.h"
#include "platform/posix/icmp_packet.h"
#include "platform/posix/unique_fd.h"

namespace quorrel::posix {
namespace {

// An IPv4 packet is at most 64 KiB, so nothing a socket hands us is cut short.
constexpr std::size_t kReceiveBufferSize = 65536;
// An ICMP error quotes at most 576 bytes of the original, less its own headers.
constexpr std::size_t kErrorPayloadSize = 576;
// A flood of strangers' ICMP refills a socket as fast as it is read. These
// keep each read-through short, so the deadline is looked at often: a default
// receive buffer holds a few hundred small packets, the drain makes room for
// them, and the wait reads a batch before it looks at the clock again.
constexpr int kMaxStalePackets = 512;
constexpr std::chrono::milliseconds kMaxDrainTime{2};
constexpr int kMaxPacketsPerWake = 64;

// Ids for raw sockets, which choose their own: distinct within the process and,
// through the pid, unlikely to meet another program's pings.
std::uint16_t NextRawId() {
  static std::atomic<std::uint32_t> counter{0};
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(::getpid()) ^
                                    (counter.fetch_add(1) * 0x9E37u));
}

void SetIntOption(int fd, int level, int name, int value) {
  ::setsockopt(fd, level, name, &value, sizeof value);
}

// One recvmsg: the data into the caller's buffer, the sender, and up to
// `kControlSize` bytes of control messages.
template <std::size_t kControlSize>
struct Message {
  Message(void* data, std::size_t size) : iov{data, size} {
    msg.msg_name = &peer;
    msg.msg_namelen = sizeof peer;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
  }
  Message(const Message&) = delete;  // msg points into the object itself
  Message& operator=(const Message&) = delete;
  ssize_t Receive(int fd, int flags) { return ::recvmsg(fd, &msg, flags); }

  alignas(cmsghdr) char control[kControlSize];
  sockaddr_in peer{};
  iovec iov;
  msghdr msg{};
};

class SocketChannel final : public EchoChannel {
 public:
  SocketChannel(UniqueFd fd, bool raw)
      : socket_(std::move(fd)),
        fd_(socket_.Get()),
        raw_(raw),
        id_(raw ? NextRawId() : 0),
        sequence_(NextRawId()),
        buffer_(kReceiveBufferSize) {
    // Windows sends without DF unless asked; Linux would set it by default.
    SetIntOption(fd_, IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DONT);
  }
  SocketChannel(const SocketChannel&) = delete;
  SocketChannel& operator=(const SocketChannel&) = delete;

  EchoResult Echo(std::uint32_t destination, std::span<const std::uint8_t> data,
                  const EchoOptions& options, Deadline deadline) override;

 private:
  void ApplyOptions(const EchoOptions& options);
  // Each returns true when what it read settles the echo into `result`.
  void DrainStale(Deadline deadline);
  bool ReadErrorQueue(const EchoMatch& match, EchoResult& result);
  bool ReadPackets(const EchoMatch& match, EchoResult& result, Deadline deadline);
  bool ReadOnePacket(const EchoMatch& match, EchoResult& result, bool& drained);
  // The round trip of an answer the kernel stamped at `arrived` (realtime),
  // else of one read now.
  std::uint32_t RoundTripMicros(const timespec* arrived) const;

  UniqueFd socket_;
  int fd_;
  bool raw_;
  bool bound_ = false;   // a datagram socket's port (its echo id) is fixed by its first send
  EchoOptions applied_;  // what the socket is set to: the system's defaults at first
  std::uint16_t id_;
  std::uint16_t sequence_;
  std::vector<std::uint8_t> buffer_;
  // Taken just before the request went out: the realtime clock is the one the
  // kernel stamps arrivals with, the steady one stands in without a stamp.
  timespec sentWall_{};
  std::chrono::steady_clock::time_point sentAt_;
};

std::uint32_t SocketChannel::RoundTripMicros(const timespec* arrived) const {
  const auto steady = std::chrono::steady_clock::now() - sentAt_;
  std::int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(steady).count();
  if (arrived != nullptr) {
    const std::int64_t stamped = (arrived->tv_sec - sentWall_.tv_sec) * 1000000 +
                                 (arrived->tv_nsec - sentWall_.tv_nsec) / 1000;
    // A step of the realtime clock between send and arrival shows as a stamp
    // outside the time we have been waiting; the steady figure is right then.
    if (stamped >= 0 && stamped <= micros) micros = stamped;
  }
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(micros, 0, UINT32_MAX));
}

void SocketChannel::DrainStale(Deadline deadline) {
  // A kept raw socket has queued every other program's ICMP since the last
  // ping; make room before our answer comes, but never at the cost of the wait.
  const Deadline until = std::min(deadline, std::chrono::steady_clock::now() + kMaxDrainTime);
  for (int i = 0; i < kMaxStalePackets && std::chrono::steady_clock::now() < until; ++i) {
    if (::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT) < 0 && errno != EINTR) return;
  }
}

void SocketChannel::ApplyOptions(const EchoOptions& options) {
  // Set only what differs from the last echo: the socket is kept between pings.
  // A TTL of -1 puts the route's default back.
  if (options.ttl != applied_.ttl)
    SetIntOption(fd_, IPPROTO_IP, IP_TTL, options.ttl != 0 ? options.ttl : -1);
  if (options.tos != applied_.tos) SetIntOption(fd_, IPPROTO_IP, IP_TOS, options.tos);
  if (options.dontFragment != applied_.dontFragment)
    SetIntOption(fd_, IPPROTO_IP, IP_MTU_DISCOVER,
                 options.dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT);
  applied_ = options;
}

EchoResult SocketChannel::Echo(std::uint32_t destination, std::span<const std::uint8_t> data,
                               const EchoOptions& options, Deadline deadline) {
  EchoResult result;
  result.status = kIpReqTimedOut;
  ApplyOptions(options);

  if (raw_) DrainStale(deadline);
  EchoMatch match{id_, ++sequence_, destination};
  std::vector<std::uint8_t> packet = BuildEchoRequest(match.id, match.sequence, data);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = destination;
  ssize_t sent;
  do {
    ::clock_gettime(CLOCK_REALTIME, &sentWall_);
    sentAt_ = std::chrono::steady_clock::now();
    sent =
        ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    result.status = StatusOfSendError(errno);
    return result;
  }
  if (!raw_ && !bound_) {
    // A datagram socket puts its own port into the id field on the way out.
    sockaddr_in self{};
    socklen_t length = sizeof self;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &length) == 0) {
      id_ = ntohs(self.sin_port);
      bound_ = true;
    }
  }
  if (!raw_) match.id = id_;

  for (;;) {
    auto now = std::chrono::steady_clock::now();
    // Only the clock ends the wait, so a timeout is never reported early.
    if (now >= deadline) return result;
    timespec wait = TimeLeft(deadline);
    pollfd ready{fd_, POLLIN, 0};
    int n = ::ppoll(&ready, 1, &wait, nullptr);
    if (n < 0 && errno != EINTR) {
      result.status = kIpGeneralFailure;
      return result;
    }
    if (n <= 0) continue;
    if ((ready.revents & POLLERR) && ReadErrorQueue(match, result)) return result;
    if ((ready.revents & POLLIN) && ReadPackets(match, result, deadline)) return result;
    if (ready.revents & POLLNVAL) {
      result.status = kIpGeneralFailure;
      return result;
    }
  }
}

bool SocketChannel::ReadErrorQueue(const EchoMatch& match, EchoResult& result) {
  for (int i = 0; i < kMaxPacketsPerWake; ++i) {
    std::uint8_t payload[kErrorPayloadSize];
    Message<512> message(payload, sizeof payload);
    msghdr& msg = message.msg;
    ssize_t n = message.Receive(fd_, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      // An error with nothing queued still marks the socket; clear it so the
      // wait does not spin on it.
      int pending = 0;
      socklen_t length = sizeof pending;
      ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &length);
      return false;
    }
    std::span<const std::uint8_t> quoted(payload, std::min<std::size_t>(n, sizeof payload));
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR) continue;
      std::size_t length = c->cmsg_len - CMSG_LEN(0);
      if (length < sizeof(sock_extended_err)) continue;
      sock_extended_err error;
      std::memcpy(&error, CMSG_DATA(c), sizeof error);
      std::uint32_t status = 0;
      if (error.ee_origin == SO_EE_ORIGIN_ICMP)
        status = StatusOfIcmpError(error.ee_type, error.ee_code);
      else if (error.ee_origin == SO_EE_ORIGIN_LOCAL)
        status = StatusOfSendError(static_cast<int>(error.ee_errno));
      if (status == 0 || !IsOurEchoRequest(quoted, match)) continue;
      result.status = status;
      result.answered = error.ee_origin == SO_EE_ORIGIN_ICMP;
      if (result.answered) result.roundTripMicros = RoundTripMicros(nullptr);
      if (length >= sizeof error + sizeof(sockaddr_in)) {
        sockaddr_in offender;
        std::memcpy(&offender, CMSG_DATA(c) + sizeof error, sizeof offender);
        if (offender.sin_family == AF_INET) result.from = offender.sin_addr.s_addr;
      }
      return true;
    }
  }
  return false;
}

bool SocketChannel::ReadPackets(const EchoMatch& match, EchoResult& result, Deadline deadline) {
  bool drained = false;
  for (int i = 0; i < kMaxPacketsPerWake && !drained; ++i) {
    if (ReadOnePacket(match, result, drained)) return true;
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  return false;
}

bool SocketChannel::ReadOnePacket(const EchoMatch& match, EchoResult& result, bool& drained) {
  Message<160> message(buffer_.data(), buffer_.size());
  msghdr& msg = message.msg;
  ssize_t n = message.Receive(fd_, MSG_DONTWAIT);
  if (n < 0) {
    if (errno == EINTR) return false;
    drained = true;
    // A datagram socket reports an ICMP error here too; its details wait in
    // the error queue.
    return errno != EAGAIN && errno != EWOULDBLOCK && ReadErrorQueue(match, result);
  }
  std::span<const std::uint8_t> received(buffer_.data(), std::min<std::size_t>(n, buffer_.size()));
  ParsedPacket parsed = raw_ ? ParseRawPacket(received, match)
                             : ParseDatagramMessage(received, message.peer.sin_addr.s_addr, match);
  if (parsed.kind == PacketKind::kIgnored) return false;
  timespec stampStore;
  const timespec* stamp = nullptr;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
        c->cmsg_len >= CMSG_LEN(sizeof stampStore)) {
      std::memcpy(&stampStore, CMSG_DATA(c), sizeof stampStore);
      stamp = &stampStore;
    }
  }
  result.roundTripMicros = RoundTripMicros(stamp);
  if (!raw_) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_IP) continue;
      if (c->cmsg_type == IP_TTL && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
        int ttl;
        std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
        parsed.ttl = static_cast<std::uint8_t>(ttl);
      } else if (c->cmsg_type == IP_TOS && c->cmsg_len >= CMSG_LEN(1)) {
        parsed.tos = *CMSG_DATA(c);
      }
    }
  }
  result.status = parsed.status;
  result.answered = true;
  result.from = parsed.from;
  result.ttl = parsed.ttl;
  result.tos = parsed.tos;
  result.flags = parsed.flags;
  result.data.assign(parsed.data.begin(), parsed.data.end());
  return true;
}

}  // namespace

std::unique_ptr<EchoChannel> OpenDatagramChannel() {
  UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
  const int fd = socket.Get();
  if (fd < 0) return nullptr;
  // Without IP_RECVERR a router's "unreachable" never reaches a datagram socket.
  SetIntOption(fd, IPPROTO_IP, IP_RECVERR, 1);
  SetIntOption(fd, IPPROTO_IP, IP_RECVTTL, 1);
  SetIntOption(fd, IPPROTO_IP, IP_RECVTOS, 1);
  SetIntOption(fd, SOL_SOCKET, SO_TIMESTAMPNS, 1);
  return std::make_unique<SocketChannel>(std::move(socket), false);
}

std::unique_ptr<EchoChannel> OpenRawChannel() {
  UniqueFd socket(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  const int fd = socket.Get();
  if (fd < 0) return nullptr;
  // A raw socket is woken for every ICMP packet on the host; let through only
  // the types that can answer an echo.
  icmp_filter filter{};
  filter.data =
      ~((1u << kIcmpEchoReply) | (1u << kIcmpDestUnreachable) | (1u << kIcmpSourceQuench) |
        (1u << kIcmpTimeExceeded) | (1u << kIcmpParamProblem));
  ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  SetIntOption(fd, SOL_SOCKET, SO_TIMESTAMPNS, 1);
  return std::make_unique<SocketChannel>(std::move(socket), true);
}

}  // namespace quorrel::posix
