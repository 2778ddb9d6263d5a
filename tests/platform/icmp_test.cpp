// The ICMP echo service on real sockets, between network namespaces made here:
// a client namespace (where the echo is sent from, with the datagram socket
// allowed) joined by a veth pair to a server namespace (the test host).
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "fakes/fakes.h"
#include "netns.h"
#include "ping/mod_ping.h"
#include "platform/posix/icmp_channel.h"
#include "platform/posix/icmp_packet.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_icmp.h"
#include "platform/posix/posix_winsock.h"

namespace quorrel::posix {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::uint32_t Addr(const std::string& dotted) { return ::inet_addr(dotted.c_str()); }

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  return out;
}

// Runs `f` on a thread that has entered the namespace; sockets it opens, and
// programs it starts, live there.
template <class F>
auto InNamespace(const std::string& name, F f) -> decltype(f()) {
  decltype(f()) result{};
  std::thread worker([&] {
    int fd = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
      ADD_FAILURE() << "cannot enter namespace " << name;
    } else {
      result = f();
    }
    if (fd >= 0) ::close(fd);
  });
  worker.join();
  return result;
}

// A client namespace that takes over the host end of a NetNs's veth pair, so
// the test host is reached without touching the test's own namespace.
class EchoLab {
 public:
  explicit EchoLab(const std::string& subnet) : server(subnet), client(server.name + "c") {
    test::ShOrThrow("ip netns add " + client);
    test::ShOrThrow("ip link set " + server.hostIf + " netns " + client);
    ClientExec("ip link set lo up");
    ClientExec("ip addr add " + server.hostAddr + "/24 dev " + server.hostIf);
    ClientExec("ip link set " + server.hostIf + " up");
    // The datagram socket needs the process's group in this range.
    ClientExec("sysctl -qw 'net.ipv4.ping_group_range=0 2147483647'");
    // Every ICMP packet leaving the client is counted.
    ClientExec("nft add table ip qc");
    ClientExec("nft 'add chain ip qc out { type filter hook output priority 0 ; }'");
    ClientExec("nft add counter ip qc sent");
    ClientExec("nft add rule ip qc out ip protocol icmp counter name sent");
  }
  ~EchoLab() { test::Sh("ip netns del " + client); }
  EchoLab(const EchoLab&) = delete;
  EchoLab& operator=(const EchoLab&) = delete;

  void ClientExec(const std::string& command) {
    test::ShOrThrow("ip netns exec " + client + " " + command);
  }
  // Drops or rejects echo requests arriving at the server.
  void ServerRule(const std::string& verdict) {
    server.Exec("nft add table ip qs");
    server.Exec("nft 'add chain ip qs in { type filter hook input priority 0 ; }'");
    server.Exec("nft add rule ip qs in icmp type echo-request " + verdict);
  }
  int IcmpSent() {
    std::string out = Output("ip netns exec " + client + " nft list counter ip qc sent");
    std::size_t at = out.find("packets ");
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 8);
  }

  test::NetNs server;  // server.peerAddr answers; server.hostAddr is the client
  std::string client;
};

struct Outcome {
  std::uint32_t count = 0;
  std::uint32_t status = 0;
  milliseconds elapsed{0};
  std::array<std::uint8_t, 278> reply{};
  std::optional<std::uint32_t> micros;  // what RoundTripMicros told

  std::uint32_t U32(std::size_t at) const {
    std::uint32_t v;
    std::memcpy(&v, reply.data() + at, sizeof v);
    return v;
  }
  std::uint16_t U16(std::size_t at) const {
    std::uint16_t v;
    std::memcpy(&v, reply.data() + at, sizeof v);
    return v;
  }
};

// One echo with the program's own request: "Test", 278-byte reply, 500 ms.
Outcome EchoFrom(const std::string& ns, IcmpService& service, const std::string& to,
                 const std::string& data = "Test") {
  return InNamespace(ns, [&] {
    Outcome o;
    IcmpHandle handle = service.IcmpCreateFile();
    if (handle == nullptr) {
      ADD_FAILURE() << "no ICMP handle";
      return o;
    }
    auto start = Clock::now();
    o.count =
        service.IcmpSendEcho(handle, Addr(to), data.data(), static_cast<std::uint16_t>(data.size()),
                             nullptr, o.reply.data(), o.reply.size(), 500);
    o.elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    std::memcpy(&o.status, o.reply.data() + kEchoReplyStatusOffset, 4);
    if (std::uint32_t micros = 0; service.RoundTripMicros(handle, micros)) o.micros = micros;
    EXPECT_TRUE(service.IcmpCloseHandle(handle));
    return o;
  });
}

bool HavePing() { return OpenPingProgramChannel("") != nullptr; }

std::vector<std::uint8_t> EchoReply(std::uint16_t id, std::uint16_t seq,
                                    std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> reply = BuildEchoRequest(id, seq, data);
  reply[0] = kIcmpEchoReply;
  reply[2] = reply[3] = 0;
  std::uint16_t sum = InternetChecksum(reply);
  reply[2] = static_cast<std::uint8_t>(sum >> 8);
  reply[3] = static_cast<std::uint8_t>(sum);
  return reply;
}

// Answers echo requests in the server namespace from a raw socket, `delay`
// after each arrives; with `noise`, first sends replies that are not ours to
// take (wrong sequence, wrong id, cut short); with `corrupt`, answers with a
// wrong checksum, as a damaged or forged packet would.
class LateResponder {
 public:
  LateResponder(test::NetNs& ns, milliseconds delay, bool noise, bool corrupt = false)
      : corrupt_(corrupt) {
    ns.Exec("sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
    std::promise<bool> ready;
    auto started = ready.get_future();
    thread_ = std::thread([this, &ns, delay, noise, &ready] {
      int nsFd = ns.OpenFd();
      bool ok = nsFd >= 0 && ::setns(nsFd, CLONE_NEWNET) == 0;
      if (nsFd >= 0) ::close(nsFd);
      int fd = ok ? ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP) : -1;
      ready.set_value(fd >= 0);
      if (fd < 0) return;
      Serve(fd, delay, noise);
      ::close(fd);
    });
    if (!started.get()) ADD_FAILURE() << "responder could not start";
  }
  ~LateResponder() {
    stop_ = true;
    thread_.join();
  }
  LateResponder(const LateResponder&) = delete;
  LateResponder& operator=(const LateResponder&) = delete;

 private:
  void Serve(int fd, milliseconds delay, bool noise) {
    std::uint8_t packet[1500];
    while (!stop_) {
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, 20) <= 0) continue;
      sockaddr_in from{};
      socklen_t length = sizeof from;
      ssize_t n =
          ::recvfrom(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 28) continue;
      std::size_t ihl = (packet[0] & 0x0F) * 4u;
      if (n < static_cast<ssize_t>(ihl + 8) || packet[ihl] != kIcmpEchoRequest) continue;
      std::uint16_t id = static_cast<std::uint16_t>(packet[ihl + 4] << 8 | packet[ihl + 5]);
      std::uint16_t seq = static_cast<std::uint16_t>(packet[ihl + 6] << 8 | packet[ihl + 7]);
      std::span<const std::uint8_t> data(packet + ihl + 8, static_cast<std::size_t>(n) - ihl - 8);
      auto answerAt = Clock::now() + delay;
      if (noise) {
        // Other data than the request's, so taking one of these shows.
        const std::vector<std::uint8_t> other(data.size(), 'X');
        Send(fd, from, EchoReply(id, static_cast<std::uint16_t>(seq + 1), other));
        Send(fd, from, EchoReply(static_cast<std::uint16_t>(id + 1), seq, other));
        std::vector<std::uint8_t> stub = EchoReply(id, seq, other);
        stub.resize(6);
        Send(fd, from, stub);
      }
      std::this_thread::sleep_until(answerAt);
      std::vector<std::uint8_t> reply = EchoReply(id, seq, data);
      if (corrupt_) reply[3] ^= 0x01;
      Send(fd, from, reply);
    }
  }
  static void Send(int fd, const sockaddr_in& to, const std::vector<std::uint8_t>& bytes) {
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }

  const bool corrupt_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A thread in the server namespace with a raw ICMP socket, which `serve` reads
// and writes until `stop`; the kernel's own answers are off, so only it answers.
class RawServer {
 public:
  using Serve = std::function<void(int fd, const std::atomic<bool>& stop)>;
  RawServer(test::NetNs& ns, Serve serve) {
    ns.Exec("sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
    std::promise<bool> ready;
    auto started = ready.get_future();
    thread_ = std::thread([this, &ns, &ready, serve = std::move(serve)] {
      int nsFd = ns.OpenFd();
      bool ok = nsFd >= 0 && ::setns(nsFd, CLONE_NEWNET) == 0;
      if (nsFd >= 0) ::close(nsFd);
      int fd = ok ? ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP) : -1;
      ready.set_value(fd >= 0);
      if (fd < 0) return;
      serve(fd, stop_);
      ::close(fd);
    });
    if (!started.get()) ADD_FAILURE() << "server could not start";
  }
  ~RawServer() {
    stop_ = true;
    thread_.join();
  }
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct Request {
  sockaddr_in from{};
  std::uint16_t id = 0;
  std::uint16_t seq = 0;
  std::vector<std::uint8_t> data;
};

// The next echo request to reach `fd` within 20 ms, if one does; with
// SO_TIMESTAMPNS on, `arrived` is when the kernel took it in.
std::optional<Request> NextRequest(int fd, timespec* arrived = nullptr) {
  pollfd ready{fd, POLLIN, 0};
  if (::poll(&ready, 1, 20) <= 0) return std::nullopt;
  std::uint8_t packet[1500];
  Request r;
  iovec iov{packet, sizeof packet};
  alignas(cmsghdr) char control[64];
  msghdr msg{};
  msg.msg_name = &r.from;
  msg.msg_namelen = sizeof r.from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n = ::recvmsg(fd, &msg, 0);
  if (n < 28) return std::nullopt;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr && arrived != nullptr;
       c = CMSG_NXTHDR(&msg, c))
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
      std::memcpy(arrived, CMSG_DATA(c), sizeof *arrived);
  std::size_t ihl = (packet[0] & 0x0F) * 4u;
  if (n < static_cast<ssize_t>(ihl + 8) || packet[ihl] != kIcmpEchoRequest) return std::nullopt;
  r.id = static_cast<std::uint16_t>(packet[ihl + 4] << 8 | packet[ihl + 5]);
  r.seq = static_cast<std::uint16_t>(packet[ihl + 6] << 8 | packet[ihl + 7]);
  r.data.assign(packet + ihl + 8, packet + n);
  return r;
}

void SendTo(int fd, const sockaddr_in& to, const std::vector<std::uint8_t>& bytes) {
  ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// An on-path host answering for the server: each request is answered at once,
// with its id, sequence and data, from `stranger`; with `realAfter`, the server
// answers too, that much later.
RawServer::Serve Impostor(const std::string& stranger, std::optional<milliseconds> realAfter) {
  return [stranger, realAfter](int fd, const std::atomic<bool>& stop) {
    int strangerFd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = Addr(stranger);
    if (::bind(strangerFd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0)
      ADD_FAILURE() << "cannot send from " << stranger;
    while (!stop) {
      std::optional<Request> r = NextRequest(fd);
      if (!r) continue;
      SendTo(strangerFd, r->from, EchoReply(r->id, r->seq, r->data));
      if (!realAfter) continue;
      std::this_thread::sleep_for(*realAfter);
      SendTo(fd, r->from, EchoReply(r->id, r->seq, r->data));
    }
    ::close(strangerFd);
  };
}

// Answers each request `delay` after it arrives and notes in `heldMicros`
// how long it held the last one, from the kernel's arrival stamp to the
// answer's send: a sleeping thread oversleeps on a busy machine, and the
// round trip must show what it really took.
RawServer::Serve Holder(milliseconds delay, std::atomic<std::int64_t>& heldMicros) {
  return [delay, &heldMicros](int fd, const std::atomic<bool>& stop) {
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    while (!stop) {
      timespec arrived{};
      std::optional<Request> r = NextRequest(fd, &arrived);
      if (!r) continue;
      std::this_thread::sleep_for(delay);
      SendTo(fd, r->from, EchoReply(r->id, r->seq, r->data));
      timespec sent{};
      ::clock_gettime(CLOCK_REALTIME, &sent);
      heldMicros =
          (sent.tv_sec - arrived.tv_sec) * 1000000 + (sent.tv_nsec - arrived.tv_nsec) / 1000;
    }
  };
}

// Answers the first request, then floods its sender with copies of that
// answer: they carry the id of the socket that asked, so they reach it, and
// an old sequence, so none answers a later echo. Flat out, in batches, for at
// most kFloodFor or kFloodCount; `flooding` holds while it does.
constexpr std::chrono::seconds kFloodFor{3};
constexpr int kFloodCount = 300'000;

RawServer::Serve Flooder(std::atomic<bool>& flooding) {
  return [&flooding](int fd, const std::atomic<bool>& stop) {
    std::optional<Request> first;
    while (!stop && !first) first = NextRequest(fd);
    if (!first) return;
    SendTo(fd, first->from, EchoReply(first->id, first->seq, first->data));
    std::vector<std::uint8_t> reply = EchoReply(first->id, first->seq, first->data);
    constexpr int kBatch = 64;
    std::vector<iovec> iov(kBatch, iovec{reply.data(), reply.size()});
    std::vector<mmsghdr> batch(kBatch);
    for (int i = 0; i < kBatch; ++i) {
      batch[i].msg_hdr.msg_name = &first->from;
      batch[i].msg_hdr.msg_namelen = sizeof first->from;
      batch[i].msg_hdr.msg_iov = &iov[i];
      batch[i].msg_hdr.msg_iovlen = 1;
    }
    flooding = true;
    const auto until = Clock::now() + kFloodFor;
    for (int sent = 0; !stop && sent < kFloodCount && Clock::now() < until; sent += kBatch)
      ::sendmmsg(fd, batch.data(), kBatch, 0);
    flooding = false;
  };
}

// --- the packet reader, on bytes made by hand -------------------------------

std::vector<std::uint8_t> IpPacket(const std::string& from, const std::string& to,
                                   std::vector<std::uint8_t> icmp, std::size_t optionWords = 0) {
  std::size_t ihl = 20 + optionWords * 4;
  std::vector<std::uint8_t> p(ihl, 0);
  p[0] = static_cast<std::uint8_t>(0x40 | (ihl / 4));
  std::size_t total = ihl + icmp.size();
  p[2] = static_cast<std::uint8_t>(total >> 8);
  p[3] = static_cast<std::uint8_t>(total);
  p[6] = 0x40;  // DF
  p[8] = 61;
  p[9] = 1;
  std::uint32_t src = Addr(from), dst = Addr(to);
  std::memcpy(&p[12], &src, 4);
  std::memcpy(&p[16], &dst, 4);
  p.insert(p.end(), icmp.begin(), icmp.end());
  return p;
}

const std::vector<std::uint8_t> kTest = {'T', 'e', 's', 't'};

// Puts the right checksum into an ICMP message.
std::vector<std::uint8_t> Checksummed(std::vector<std::uint8_t> icmp) {
  icmp[2] = icmp[3] = 0;
  const std::uint16_t sum = InternetChecksum(icmp);
  icmp[2] = static_cast<std::uint8_t>(sum >> 8);
  icmp[3] = static_cast<std::uint8_t>(sum);
  return icmp;
}

std::vector<std::uint8_t> Reply(std::uint16_t id, std::uint16_t seq) {
  std::vector<std::uint8_t> r = BuildEchoRequest(id, seq, kTest);
  r[0] = kIcmpEchoReply;
  return Checksummed(r);
}

// Our request as an error quotes it; `quotedCode` other than 0 is not an echo
// request of ours, whatever its id and sequence.
std::vector<std::uint8_t> Quoted(std::uint16_t id, std::uint16_t seq, std::uint8_t quotedCode = 0) {
  std::vector<std::uint8_t> request = BuildEchoRequest(id, seq, kTest);
  request[1] = quotedCode;
  return Checksummed(request);
}

std::vector<std::uint8_t> ErrorAbout(std::uint8_t type, std::uint8_t code, const std::string& to,
                                     std::uint16_t id, std::uint16_t seq,
                                     std::uint8_t quotedCode = 0) {
  std::vector<std::uint8_t> e = {type, code, 0, 0, 0, 0, 0, 0};
  std::vector<std::uint8_t> original = IpPacket("10.0.0.2", to, Quoted(id, seq, quotedCode));
  original.resize(28);  // the IP header and 8 bytes, as routers quote
  e.insert(e.end(), original.begin(), original.end());
  return Checksummed(e);
}

TEST(IcmpPacket, RawReplyCountsOnlyWhenItIsOursAndWhole) {
  EchoMatch match{0x1234, 7, Addr("10.9.0.2")};
  // The parsed data points into the packet, which must outlive it.
  const std::vector<std::uint8_t> packet = IpPacket("10.9.0.2", "10.9.0.1", Reply(0x1234, 7));
  ParsedPacket ok = ParseRawPacket(packet, match);
  ASSERT_EQ(ok.kind, PacketKind::kReply);
  EXPECT_EQ(ok.from, Addr("10.9.0.2"));
  EXPECT_EQ(ok.ttl, 61);
  EXPECT_EQ(ok.flags, kIpFlagDf);
  EXPECT_EQ(std::vector<std::uint8_t>(ok.data.begin(), ok.data.end()), kTest);
  // IP options move the ICMP header along.
  EXPECT_EQ(ParseRawPacket(IpPacket("10.9.0.2", "10.9.0.1", Reply(0x1234, 7), 2), match).kind,
            PacketKind::kReply);

  auto ignored = [&](const std::vector<std::uint8_t>& p) {
    return ParseRawPacket(p, match).kind == PacketKind::kIgnored;
  };
  EXPECT_TRUE(ignored(IpPacket("10.9.0.3", "10.9.0.1", Reply(0x1234, 7))));  // other host
  EXPECT_TRUE(ignored(IpPacket("10.9.0.2", "10.9.0.1", Reply(0x1235, 7))));  // other id
  EXPECT_TRUE(ignored(IpPacket("10.9.0.2", "10.9.0.1", Reply(0x1234, 8))));  // other sequence
  EXPECT_TRUE(ignored(IpPacket("10.9.0.2", "10.9.0.1", BuildEchoRequest(0x1234, 7, kTest))));

  std::vector<std::uint8_t> good = IpPacket("10.9.0.2", "10.9.0.1", Reply(0x1234, 7));
  for (std::size_t cut : {0, 1, 19, 20, 27}) {
    EXPECT_TRUE(ignored({good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)})) << cut;
  }
  std::vector<std::uint8_t> bad = good;
  bad[0] = 0x44;  // header shorter than 20
  EXPECT_TRUE(ignored(bad));
  bad[0] = 0x4F;  // header longer than the packet
  EXPECT_TRUE(ignored(bad));
  bad = good;
  bad[0] = 0x65;  // not IPv4
  EXPECT_TRUE(ignored(bad));
  bad = good;
  bad[2] = 0;
  bad[3] = 24;  // total length cuts the ICMP header
  EXPECT_TRUE(ignored(bad));
}

TEST(IcmpPacket, ErrorsAboutOurEchoMapToWindowsStatus) {
  EchoMatch match{0x1234, 7, Addr("10.9.0.2")};
  auto parse = [&](const std::vector<std::uint8_t>& icmp) {
    return ParseRawPacket(IpPacket("10.9.0.254", "10.9.0.1", icmp), match);
  };
  ParsedPacket unreachable = parse(ErrorAbout(3, 1, "10.9.0.2", 0x1234, 7));
  ASSERT_EQ(unreachable.kind, PacketKind::kError);
  EXPECT_EQ(unreachable.status, kIpDestHostUnreachable);
  EXPECT_EQ(unreachable.from, Addr("10.9.0.254"));
  EXPECT_EQ(parse(ErrorAbout(3, 0, "10.9.0.2", 0x1234, 7)).status, kIpDestNetUnreachable);
  EXPECT_EQ(parse(ErrorAbout(11, 0, "10.9.0.2", 0x1234, 7)).status, kIpTtlExpiredTransit);
  EXPECT_EQ(parse(ErrorAbout(12, 0, "10.9.0.2", 0x1234, 7)).status, kIpParamProblem);

  EXPECT_EQ(parse(ErrorAbout(3, 1, "10.9.0.3", 0x1234, 7)).kind, PacketKind::kIgnored);
  EXPECT_EQ(parse(ErrorAbout(3, 1, "10.9.0.2", 0x1234, 6)).kind, PacketKind::kIgnored);
  EXPECT_EQ(parse(ErrorAbout(5, 1, "10.9.0.2", 0x1234, 7)).kind, PacketKind::kIgnored);  // redirect
  std::vector<std::uint8_t> cut = ErrorAbout(3, 1, "10.9.0.2", 0x1234, 7);
  cut.resize(8 + 20 + 4);  // quotes too little of our request
  EXPECT_EQ(parse(cut).kind, PacketKind::kIgnored);

  EXPECT_EQ(StatusOfIcmpError(3, 3), kIpDestPortUnreachable);
  EXPECT_EQ(StatusOfIcmpError(3, 4), kIpPacketTooBig);
  EXPECT_EQ(StatusOfIcmpError(3, 13), kIpDestHostUnreachable);
  EXPECT_EQ(StatusOfIcmpError(11, 1), kIpTtlExpiredReassem);
  EXPECT_EQ(StatusOfSendError(ENETUNREACH), kIpDestNetUnreachable);
  EXPECT_EQ(StatusOfSendError(EHOSTUNREACH), kIpDestHostUnreachable);
}

TEST(IcmpPacket, AWrongChecksumIsNeverAnAnswer) {
  EchoMatch match{0x1234, 7, Addr("10.9.0.2")};
  std::vector<std::uint8_t> reply = Reply(0x1234, 7);
  ASSERT_EQ(ParseDatagramMessage(reply, match.destination, match).kind, PacketKind::kReply);
  ASSERT_EQ(ParseRawPacket(IpPacket("10.9.0.2", "10.9.0.1", reply), match).kind,
            PacketKind::kReply);
  // Any single flipped bit anywhere in the message, checksum field included.
  for (std::size_t byte = 0; byte < reply.size(); ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      std::vector<std::uint8_t> damaged = reply;
      damaged[byte] ^= static_cast<std::uint8_t>(1u << bit);
      EXPECT_EQ(ParseDatagramMessage(damaged, match.destination, match).kind, PacketKind::kIgnored)
          << byte;
      EXPECT_EQ(ParseRawPacket(IpPacket("10.9.0.2", "10.9.0.1", damaged), match).kind,
                PacketKind::kIgnored)
          << byte;
    }
  }
  std::vector<std::uint8_t> error = ErrorAbout(3, 1, "10.9.0.2", 0x1234, 7);
  ASSERT_EQ(ParseRawPacket(IpPacket("10.9.0.254", "10.9.0.1", error), match).kind,
            PacketKind::kError);
  error[3] ^= 0x10;
  EXPECT_EQ(ParseRawPacket(IpPacket("10.9.0.254", "10.9.0.1", error), match).kind,
            PacketKind::kIgnored);
}

TEST(IcmpPacket, AnErrorCountsOnlyWhenItQuotesOurRequestByIdSequenceAndCode) {
  EchoMatch match{0x1234, 7, Addr("10.9.0.2")};
  auto parse = [&](const std::vector<std::uint8_t>& icmp) {
    return ParseRawPacket(IpPacket("10.9.0.254", "10.9.0.1", icmp), match).kind;
  };
  EXPECT_EQ(parse(ErrorAbout(3, 1, "10.9.0.2", 0x1234, 7)), PacketKind::kError);
  EXPECT_EQ(parse(ErrorAbout(3, 1, "10.9.0.2", 0x1235, 7)), PacketKind::kIgnored);
  EXPECT_EQ(parse(ErrorAbout(3, 1, "10.9.0.2", 0x1234, 8)), PacketKind::kIgnored);
  // An echo request has code 0: with any other code the quoted packet is not ours.
  for (std::uint8_t code : {1, 8, 255})
    EXPECT_EQ(parse(ErrorAbout(3, 1, "10.9.0.2", 0x1234, 7, code)), PacketKind::kIgnored) << +code;
  // The datagram socket's error queue hands back the quoted request alone.
  EXPECT_TRUE(IsOurEchoRequest(Quoted(0x1234, 7), match));
  EXPECT_FALSE(IsOurEchoRequest(Quoted(0x1234, 7, 1), match));
  EXPECT_FALSE(IsOurEchoRequest(Quoted(0x1234, 6), match));
  EXPECT_FALSE(IsOurEchoRequest(Quoted(0x4321, 7), match));
}

TEST(IcmpPacket, RequestChecksumsToZero) {
  for (std::size_t size : {0, 1, 4, 5, 100}) {
    std::vector<std::uint8_t> data(size, 0xA5);
    EXPECT_EQ(InternetChecksum(BuildEchoRequest(0xFFFF, 0x8000, data)), 0) << size;
  }
}

// --- the service's contract, apart from the network ---------------------------

TEST(IcmpServiceContract, BadHandlesAndBuffersAreRefusedWithoutSending) {
  QUORREL_REQUIRE_ROOT();
  EchoLab lab("10.231.1");
  IcmpService service(EchoMethod::kRaw);
  std::uint32_t to = Addr(lab.server.peerAddr);
  InNamespace(lab.client, [&] {
    IcmpHandle handle = service.IcmpCreateFile();
    EXPECT_NE(handle, nullptr);
    std::array<std::uint8_t, 64> reply;
    auto status = [&] {
      std::uint32_t s;
      std::memcpy(&s, reply.data() + 4, 4);
      return s;
    };
    reply.fill(0xEE);
    EXPECT_EQ(service.IcmpSendEcho(handle, to, "Test", 4, nullptr, reply.data(), 27, 500), 0u);
    EXPECT_EQ(status(), kIpBufTooSmall);
    EXPECT_EQ(reply[8], 0xEE);  // nothing past the 27 bytes given... nor the record

    reply.fill(0);
    EXPECT_EQ(service.IcmpSendEcho(handle, to, nullptr, 4, nullptr, reply.data(), 64, 500), 0u);
    EXPECT_EQ(status(), kIpBadReq);

    int bogus;
    EXPECT_EQ(service.IcmpSendEcho(&bogus, to, "Test", 4, nullptr, reply.data(), 64, 500), 0u);
    EXPECT_EQ(status(), kIpGeneralFailure);
    EXPECT_FALSE(service.IcmpCloseHandle(&bogus));
    EXPECT_FALSE(service.IcmpCloseHandle(nullptr));
    EXPECT_TRUE(service.IcmpCloseHandle(handle));
    EXPECT_FALSE(service.IcmpCloseHandle(handle));
    EXPECT_EQ(service.IcmpSendEcho(handle, to, "Test", 4, nullptr, reply.data(), 64, 500), 0u);
    return 0;
  });
  EXPECT_EQ(lab.IcmpSent(), 0);
}

TEST(IcmpServiceContract, EchoedDataIsCutToTheBuffer) {
  QUORREL_REQUIRE_ROOT();
  EchoLab lab("10.231.2");
  IcmpService service(EchoMethod::kRaw);
  std::array<std::uint8_t, 40> reply;
  reply.fill(0xEE);
  std::uint32_t count = InNamespace(lab.client, [&] {
    IcmpHandle handle = service.IcmpCreateFile();
    std::uint32_t n = service.IcmpSendEcho(handle, Addr(lab.server.peerAddr), "Test", 4, nullptr,
                                           reply.data(), 30, 500);
    service.IcmpCloseHandle(handle);
    return n;
  });
  ASSERT_EQ(count, 1u);
  std::uint16_t dataSize;
  std::memcpy(&dataSize, reply.data() + 12, 2);
  EXPECT_EQ(dataSize, 2);
  EXPECT_EQ(reply[28], 'T');
  EXPECT_EQ(reply[29], 'e');
  EXPECT_EQ(reply[30], 0xEE);
  EXPECT_EQ(lab.IcmpSent(), 1);
}

EchoMethod MethodIn(const std::string& ns, IcmpService& service) {
  return InNamespace(ns, [&] {
    IcmpHandle handle = service.IcmpCreateFile();
    EchoMethod m = service.MethodOf(handle);
    service.IcmpCloseHandle(handle);
    return m;
  });
}

// The sockets this process holds open.
int OpenSockets() {
  int sockets = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(entry.path(), ec);
    if (!ec && target.string().starts_with("socket:")) ++sockets;
  }
  return sockets;
}

TEST(IcmpServiceContract, AutoTakesTheDatagramSocketWhereAllowedElseRaw) {
  QUORREL_REQUIRE_ROOT();
  EchoLab lab("10.231.3");
  IcmpService open;
  EXPECT_EQ(MethodIn(lab.client, open), EchoMethod::kDatagram);
  // Debian's default range "1 0" shuts even root out of the datagram socket.
  lab.ClientExec("sysctl -qw 'net.ipv4.ping_group_range=1 0'");
  IcmpService closed;
  EXPECT_EQ(MethodIn(lab.client, closed), EchoMethod::kRaw);
  EXPECT_EQ(IcmpService(EchoMethod::kPingProgram, "/nonexistent/ping").IcmpCreateFile(), nullptr);
  EXPECT_EQ(closed.SendBlockedReason(), "");

  // What worked is remembered: the first service keeps its datagram socket,
  // the second does not ask for one again at every ping once refused.
  EXPECT_EQ(MethodIn(lab.client, open), EchoMethod::kDatagram);
  lab.ClientExec("sysctl -qw 'net.ipv4.ping_group_range=0 2147483647'");
  EXPECT_EQ(MethodIn(lab.client, closed), EchoMethod::kRaw);
}

TEST(IcmpServiceContract, TheKeptSocketIsLentToOneHandleAtATime) {
  QUORREL_REQUIRE_ROOT();
  EchoLab lab("10.231.4");
  IcmpService service;
  const std::uint32_t to = Addr(lab.server.peerAddr);
  InNamespace(lab.client, [&] {
    std::array<std::uint8_t, 278> reply{};
    auto ping = [&](IcmpHandle h) {
      return service.IcmpSendEcho(h, to, "Test", 4, nullptr, reply.data(), reply.size(), 500);
    };
    IcmpHandle first = service.IcmpCreateFile();
    EXPECT_EQ(ping(first), 1u);
    service.IcmpCloseHandle(first);
    const int kept = OpenSockets();
    // Pings, each with a handle of its own, open nothing more.
    for (int i = 0; i < 5; ++i) {
      IcmpHandle h = service.IcmpCreateFile();
      EXPECT_NE(h, first);  // a closed handle never comes back
      EXPECT_EQ(ping(h), 1u);
      EXPECT_TRUE(service.IcmpCloseHandle(h));
    }
    EXPECT_EQ(OpenSockets(), kept);
    // Two handles at once have a socket each, and both are answered.
    IcmpHandle a = service.IcmpCreateFile();
    IcmpHandle b = service.IcmpCreateFile();
    EXPECT_EQ(OpenSockets(), kept + 1);
    EXPECT_EQ(ping(b), 1u);
    EXPECT_EQ(ping(a), 1u);
    service.IcmpCloseHandle(a);
    service.IcmpCloseHandle(b);
    EXPECT_EQ(OpenSockets(), kept);
    return 0;
  });
  EXPECT_EQ(lab.IcmpSent(), 8);
}

// Runs `body` in a child process that has entered the network namespace
// `ns`, become nobody (65534) and lost sight of every ping program (a bind
// mount of /dev/null over each, PATH elsewhere), and returns what `body` said.
std::string AsNobodyWithoutPing(const std::string& ns, const std::function<std::string()>& body) {
  int ends[2];
  if (::pipe(ends) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    std::string said = "could not drop privileges";
    const int nsFd = ::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = ::unshare(CLONE_NEWNS) == 0 &&
              ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    for (const char* folder :
         {"/usr/bin", "/bin", "/usr/sbin", "/sbin", "/usr/local/bin", "/usr/local/sbin"}) {
      const std::string ping = std::string(folder) + "/ping";
      if (ok && ::access(ping.c_str(), F_OK) == 0)
        ok = ::mount("/dev/null", ping.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ok = ok && ::setenv("PATH", "/nonexistent", 1) == 0 && nsFd >= 0 &&
         ::setns(nsFd, CLONE_NEWNET) == 0 && ::setgroups(0, nullptr) == 0 &&
         ::setresgid(65534, 65534, 65534) == 0 && ::setresuid(65534, 65534, 65534) == 0;
    if (ok) said = body();
    [[maybe_unused]] auto written = ::write(ends[1], said.data(), said.size());
    ::_exit(0);
  }
  ::close(ends[1]);
  std::string said;
  char chunk[512];
  ssize_t n;
  while ((n = ::read(ends[0], chunk, sizeof chunk)) > 0) said.append(chunk, n);
  ::close(ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return said;
}

constexpr const char* kBlockedForNobody =
    "No ICMP method is permitted for this program: allow its group to open ICMP sockets with "
    "the net.ipv4.ping_group_range sysctl (sysctl -w net.ipv4.ping_group_range=\"65534 "
    "65534\"), or install the system's ping (iputils-ping).";

TEST(IcmpServiceContract, WithNoMethodPermittedTheReasonSaysSoAndNamesTheRemedy) {
  QUORREL_REQUIRE_ROOT();
  EchoLab lab("10.231.5");
  lab.ClientExec("sysctl -qw 'net.ipv4.ping_group_range=1 0'");
  const std::uint32_t to = Addr(lab.server.peerAddr);
  const std::string blocked = AsNobodyWithoutPing(lab.client, [&] {
    IcmpService service;
    const std::string before = service.SendBlockedReason();
    const bool noHandle = service.IcmpCreateFile() == nullptr;
    return std::string(noHandle ? "no handle|" : "a handle|") + before + "|" +
           service.SendBlockedReason();
  });
  EXPECT_EQ(blocked, std::string("no handle|") + kBlockedForNobody + "|" + kBlockedForNobody);

  // Once nobody's group may open ICMP sockets, the same echo goes out.
  lab.ClientExec("sysctl -qw 'net.ipv4.ping_group_range=65534 65534'");
  const std::string allowed = AsNobodyWithoutPing(lab.client, [&] {
    IcmpService service;
    IcmpHandle handle = service.IcmpCreateFile();
    if (handle == nullptr) return std::string("no handle");
    std::array<std::uint8_t, 278> reply{};
    const auto count =
        service.IcmpSendEcho(handle, to, "Test", 4, nullptr, reply.data(), reply.size(), 500);
    service.IcmpCloseHandle(handle);
    return std::to_string(count) + "|" + service.SendBlockedReason();
  });
  EXPECT_EQ(allowed, "1|");
  EXPECT_EQ(lab.IcmpSent(), 1);
}

TEST(IcmpServiceContract, APingProgramThatMayNotSendIsAsBlockedAsNone) {
  QUORREL_REQUIRE_ROOT();
  const std::string installed = OpenPingProgramChannel("") ? Output("command -v ping") : "";
  if (installed.empty()) GTEST_SKIP() << "no ping program installed (iputils-ping)";
  // A copy loses the file capability that lets the installed one send.
  const std::string copy = "/tmp/qrl-ping-" + std::to_string(::getpid());
  ASSERT_EQ(test::Sh("cp " + installed.substr(0, installed.find('\n')) + " " + copy +
                     " && chmod 755 " + copy),
            0);
  EchoLab lab("10.231.6");
  lab.ClientExec("sysctl -qw 'net.ipv4.ping_group_range=1 0'");
  const std::uint32_t to = Addr(lab.server.peerAddr);
  const std::string said = AsNobodyWithoutPing(lab.client, [&] {
    IcmpService service(EchoMethod::kAuto, copy);
    IcmpHandle handle = service.IcmpCreateFile();
    if (handle == nullptr) return std::string("no handle");
    std::array<std::uint8_t, 278> reply{};
    service.IcmpSendEcho(handle, to, "Test", 4, nullptr, reply.data(), reply.size(), 500);
    service.IcmpCloseHandle(handle);
    std::uint32_t status;
    std::memcpy(&status, reply.data() + 4, 4);
    // Refused once, the program is not started again at the next ping.
    const bool again = service.IcmpCreateFile() != nullptr;
    return std::to_string(status) + (again ? "|again|" : "|none|") + service.SendBlockedReason();
  });
  std::remove(copy.c_str());
  EXPECT_EQ(said, std::to_string(kIpGeneralFailure) + "|none|" + kBlockedForNobody);
  EXPECT_EQ(lab.IcmpSent(), 0);
}

// Sets the process's locale to German for the object's life: its decimal
// separator is a comma. Made with localedef where it is not installed.
class GermanNumbers {
 public:
  GermanNumbers() {
    for (int attempt = 0; attempt < 2 && !active_; ++attempt) {
      if (attempt == 1) {
        const std::string folder = "/tmp/qrl-locale-" + std::to_string(::getpid());
        if (test::Sh("mkdir -p " + folder + " && localedef -i de_DE -f UTF-8 " + folder +
                     "/de_DE.UTF-8") > 1)  // 1: made, with warnings
          break;
        ::setenv("LOCPATH", folder.c_str(), 1);
        folder_ = folder;
      }
      active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    }
  }
  ~GermanNumbers() {
    std::setlocale(LC_ALL, "C");
    if (!folder_.empty()) {
      ::unsetenv("LOCPATH");
      test::Sh("rm -rf " + folder_);
    }
  }
  bool Active() const { return active_; }

 private:
  bool active_ = false;
  std::string folder_;
};

TEST(PingProgram, TheWaitIsWrittenWithADotWhateverTheLocale) {
  EXPECT_EQ(WaitArgument(milliseconds(499)), "0.499");
  EXPECT_EQ(WaitArgument(milliseconds(1500)), "1.500");
  EXPECT_EQ(WaitArgument(milliseconds(12)), "0.012");
  EXPECT_EQ(WaitArgument(milliseconds(0)), "0.001");
  EXPECT_EQ(WaitArgument(milliseconds(-5)), "0.001");

  // A stand-in for ping that notes its arguments and answers: nothing is sent.
  const std::string folder = "/tmp/qrl-fakeping-" + std::to_string(::getpid());
  const std::string script = folder + "/ping";
  ASSERT_EQ(test::Sh("mkdir -p " + folder), 0);
  {
    std::ofstream out(script);
    out << "#!/bin/sh\necho \"$@\" > " << folder << "/args\n"
        << "echo '64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=10.25 ms'\n";
  }
  ASSERT_EQ(::chmod(script.c_str(), 0755), 0);

  GermanNumbers german;
  if (german.Active()) {
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.1f", 0.5);
    EXPECT_STREQ(printed, "0,5");  // what the C library would have written
  }
  IcmpService service(EchoMethod::kPingProgram, script);
  IcmpHandle handle = service.IcmpCreateFile();
  ASSERT_NE(handle, nullptr);
  std::array<std::uint8_t, 278> reply{};
  EXPECT_EQ(service.IcmpSendEcho(handle, Addr("127.0.0.1"), "Test", 4, nullptr, reply.data(),
                                 reply.size(), 500),
            1u);
  std::uint32_t micros = 0;
  EXPECT_TRUE(service.RoundTripMicros(handle, micros));
  EXPECT_EQ(micros, 10250u);  // its time, read without the locale
  EXPECT_EQ(reply[8], 10);    // RoundTripTime in whole milliseconds
  service.IcmpCloseHandle(handle);
  std::ifstream in(folder + "/args");
  std::string args;
  std::getline(in, args);
  EXPECT_TRUE(std::regex_search(args, std::regex(" -W 0\\.[0-9]{3} "))) << args;
  EXPECT_EQ(reply[20], 64);  // the ttl, read without the locale too
  test::Sh("rm -rf " + folder);
  if (!german.Active()) GTEST_SKIP() << "no de_DE locale could be made; checked in the C locale";
}

// --- each way of sending, against hosts that answer, drop, reject or dawdle ---

class IcmpEcho : public ::testing::TestWithParam<EchoMethod> {
 protected:
  void SetUp() override {
    QUORREL_REQUIRE_ROOT();
    if (GetParam() == EchoMethod::kPingProgram && !HavePing())
      GTEST_SKIP() << "no ping program installed (iputils-ping)";
    static std::atomic<int> subnet{10};
    lab = std::make_unique<EchoLab>("10.231." + std::to_string(subnet++));
  }
  Outcome Echo(const std::string& to, const std::string& data = "Test") {
    return EchoFrom(lab->client, service, to, data);
  }

  std::unique_ptr<EchoLab> lab;
  IcmpService service{GetParam()};
};

TEST_P(IcmpEcho, AnsweringHostPasses) {
  Outcome o = Echo(lab->server.peerAddr);
  EXPECT_EQ(o.status, kIpSuccess);
  EXPECT_EQ(o.count, 1u);
  EXPECT_EQ(o.U32(0), Addr(lab->server.peerAddr));
  EXPECT_EQ(o.U16(12), 4);
  EXPECT_EQ(std::string(o.reply.begin() + 28, o.reply.begin() + 32), "Test");
  EXPECT_EQ(o.reply[20], 64);  // the server's default TTL, one hop
  EXPECT_EQ(lab->IcmpSent(), 1);
}

TEST_P(IcmpEcho, DroppedEchoTimesOutAfterTheWholeWait) {
  lab->ServerRule("drop");
  Outcome o = Echo(lab->server.peerAddr);
  EXPECT_EQ(o.status, kIpReqTimedOut);
  EXPECT_EQ(o.count, 0u);
  EXPECT_GE(o.elapsed, milliseconds(500));
  EXPECT_LT(o.elapsed, milliseconds(3000));  // sanity only
}

TEST_P(IcmpEcho, RejectedEchoReportsHostUnreachable) {
  lab->ServerRule("reject with icmp type host-unreachable");
  Outcome o = Echo(lab->server.peerAddr);
  EXPECT_EQ(o.status, kIpDestHostUnreachable);
  EXPECT_EQ(o.U32(0), Addr(lab->server.peerAddr));
  EXPECT_LT(o.elapsed, milliseconds(500));  // the answer, not the clock, ended the wait
}

TEST_P(IcmpEcho, LocalRoutesThatRefuseFailAtOnce) {
  lab->ClientExec("ip route add unreachable 10.232.0.1");
  Outcome host = Echo("10.232.0.1");
  EXPECT_EQ(host.status, kIpDestHostUnreachable);
  EXPECT_EQ(host.count, 0u);
  Outcome net = Echo("10.233.0.1");  // no route at all
  EXPECT_EQ(net.status, kIpDestNetUnreachable);
  EXPECT_LT(host.elapsed + net.elapsed, milliseconds(500));
}

TEST_P(IcmpEcho, AnswerAfter600MsFailsAnd100MsPasses) {
  {
    LateResponder late(lab->server, milliseconds(600), false);
    Outcome o = Echo(lab->server.peerAddr);
    EXPECT_EQ(o.status, kIpReqTimedOut);
    EXPECT_GE(o.elapsed, milliseconds(500));
  }
  // Let the late answer land before the next echo.
  std::this_thread::sleep_for(milliseconds(200));
  LateResponder prompt(lab->server, milliseconds(100), false);
  Outcome o = Echo(lab->server.peerAddr);
  EXPECT_EQ(o.status, kIpSuccess);
  EXPECT_EQ(std::string(o.reply.begin() + 28, o.reply.begin() + 32), "Test");
}

TEST_P(IcmpEcho, RepliesNotOursAreSkippedWithinTheWait) {
  if (GetParam() == EchoMethod::kPingProgram) GTEST_SKIP() << "ping reads its own replies";
  LateResponder noisy(lab->server, milliseconds(50), true);
  Outcome o = Echo(lab->server.peerAddr);
  EXPECT_EQ(o.status, kIpSuccess);
  EXPECT_EQ(o.count, 1u);
  EXPECT_EQ(o.U16(12), 4);
  EXPECT_EQ(std::string(o.reply.begin() + 28, o.reply.begin() + 32), "Test");
}

TEST_P(IcmpEcho, AReplyWithAWrongChecksumFailsAndARightOnePasses) {
  if (GetParam() == EchoMethod::kPingProgram) GTEST_SKIP() << "ping reads its own replies";
  {
    LateResponder forged(lab->server, milliseconds(20), false, true);
    Outcome o = Echo(lab->server.peerAddr);
    EXPECT_EQ(o.status, kIpReqTimedOut);
    EXPECT_EQ(o.count, 0u);
  }
  LateResponder right(lab->server, milliseconds(20), false, false);
  Outcome o = Echo(lab->server.peerAddr);
  EXPECT_EQ(o.status, kIpSuccess);
  EXPECT_EQ(o.count, 1u);
}

// The second address of the server's link, for a host that is not the server.
std::string Stranger(test::NetNs& server) {
  const std::string stranger = server.peerAddr.substr(0, server.peerAddr.rfind('.')) + ".3";
  server.Exec("ip addr add " + stranger + "/24 dev " + server.peerIf);
  return stranger;
}

TEST_P(IcmpEcho, OnlyTheDestinationsReplyCounts) {
  const std::string stranger = Stranger(lab->server);
  {
    RawServer impostor(lab->server, Impostor(stranger, std::nullopt));
    Outcome o = Echo(lab->server.peerAddr);
    EXPECT_EQ(o.status, kIpReqTimedOut);
    EXPECT_EQ(o.count, 0u);
    EXPECT_FALSE(o.micros);
  }
  // ping ends at the first reply to its id, whoever sent it.
  if (GetParam() == EchoMethod::kPingProgram) return;
  RawServer both(lab->server, Impostor(stranger, milliseconds(30)));
  Outcome o = Echo(lab->server.peerAddr);
  EXPECT_EQ(o.status, kIpSuccess);
  EXPECT_EQ(o.U32(0), Addr(lab->server.peerAddr));
}

TEST_P(IcmpEcho, AFloodOfStaleRepliesDoesNotStretchTheWait) {
  // Two flooders make about 100k replies a second on a busy two-core machine.
  std::atomic<bool> flooding{false}, flooding2{false};
  RawServer flood(lab->server, Flooder(flooding));
  RawServer flood2(lab->server, Flooder(flooding2));
  // The first echo is answered; the copies of its answer follow, and queue up
  // on the kept socket before the next echo goes out.
  ASSERT_EQ(Echo(lab->server.peerAddr).status, kIpSuccess);
  std::this_thread::sleep_for(milliseconds(50));
  ASSERT_TRUE(flooding || flooding2);
  Outcome o = Echo(lab->server.peerAddr);
  const bool stillFlooding = flooding || flooding2;
  EXPECT_EQ(o.status, kIpReqTimedOut);
  EXPECT_TRUE(stillFlooding) << "the wait lasted as long as the flood: " << o.elapsed.count();
  EXPECT_LT(o.elapsed, milliseconds(700));
}

TEST_P(IcmpEcho, TheRoundTripIsTheServersDelay) {
  PosixWinsock winsock;
  fakes::FakeToolkit toolkit;
  Utf8CodePage codePage;
  ModPing ping(winsock, service, toolkit, codePage);
  const std::string peer = lab->server.peerAddr;
  // netem holds the server's replies in its kernel; where the kernel has no
  // netem, a responder holds them, and says how long it really did.
  const bool netem = test::Sh("ip netns exec " + lab->server.name + " tc qdisc add dev " +
                              lab->server.peerIf + " root netem delay 50ms") == 0;
  for (int delayMs : {50, 200}) {
    std::atomic<std::int64_t> held{0};
    std::unique_ptr<RawServer> holder;
    if (!netem)
      holder = std::make_unique<RawServer>(lab->server, Holder(milliseconds(delayMs), held));
    else if (delayMs != 50)
      lab->server.Exec("tc qdisc change dev " + lab->server.peerIf + " root netem delay " +
                       std::to_string(delayMs) + "ms");
    const double expected = netem ? delayMs * 1000.0 : 0;
    PingOutcome got = InNamespace(lab->client, [&] { return ping.PingHostTimed(peer); });
    ASSERT_TRUE(got.passed) << delayMs;
    ASSERT_TRUE(got.rttMicros) << delayMs;
    EXPECT_FALSE(got.wholeMillis);
    EXPECT_GE(*got.rttMicros, delayMs * 1000u);
    // ping times only an echo with room for its time stamp (16 bytes): for
    // "Test" the service times the program's whole run, start-up and all.
    if (GetParam() == EchoMethod::kPingProgram)
      EXPECT_LT(*got.rttMicros, (netem ? expected : held.load()) + 100000.0) << delayMs;
    else
      EXPECT_NEAR(*got.rttMicros, netem ? expected : held.load(), 2000.0) << delayMs;
    // The record keeps icmp.dll's whole milliseconds of the same figure.
    Outcome o = Echo(peer, "a request long enough for ping's stamp");
    ASSERT_TRUE(o.micros);
    EXPECT_EQ(o.U32(kEchoReplyRoundTripOffset), *o.micros / 1000);
    EXPECT_NEAR(*o.micros, netem ? expected : held.load(), 2000.0) << delayMs;
  }
  if (!netem) std::printf("[   NOTE   ] no netem in this kernel: a responder held the replies\n");
}

INSTANTIATE_TEST_SUITE_P(Methods, IcmpEcho,
                         ::testing::Values(EchoMethod::kRaw, EchoMethod::kDatagram,
                                           EchoMethod::kPingProgram),
                         [](const auto& info) {
                           switch (info.param) {
                             case EchoMethod::kRaw:
                               return std::string("Raw");
                             case EchoMethod::kDatagram:
                               return std::string("Datagram");
                             default:
                               return std::string("PingProgram");
                           }
                         });

// --- modPing over the real services -------------------------------------------

TEST(PingHostOnLinux, PassesFailsAndSendsNothingForBadAddresses) {
  QUORREL_REQUIRE_ROOT();
  EchoLab lab("10.231.40");
  PosixWinsock winsock;
  IcmpService icmp;
  fakes::FakeToolkit toolkit;
  Utf8CodePage codePage;
  ModPing ping(winsock, icmp, toolkit, codePage);
  auto pingHost = [&](const std::string& to) {
    return InNamespace(lab.client, [&] { return ping.PingHost(to) ? 1 : 2; }) == 1;
  };

  for (const char* bad : {"abc", "router.example", "255.255.255.255", ""})
    EXPECT_FALSE(pingHost(bad)) << bad;
  EXPECT_EQ(lab.IcmpSent(), 0);

  EXPECT_TRUE(pingHost(lab.server.peerAddr));
  EXPECT_EQ(lab.IcmpSent(), 1);
  lab.ServerRule("drop");
  EXPECT_FALSE(pingHost(lab.server.peerAddr));
  EXPECT_EQ(lab.IcmpSent(), 2);
  EXPECT_TRUE(toolkit.messageBoxes.empty());
}

}  // namespace
}  // namespace quorrel::posix
