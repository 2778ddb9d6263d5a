// PingHost over the real Linux services, by each method the service can use
// (datagram socket, raw socket, the ping program), against the kernel's own
// loopback round trip on a kept raw socket; and how exactly a timeout keeps to
// its 500 ms. Runs in a namespace of its own, whose loopback answers and whose
// ping_group_range lets the datagram socket in. Needs root; skips otherwise.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "netns.h"
#include "ping/mod_ping.h"
#include "platform/posix/icmp_packet.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_icmp.h"
#include "platform/posix/posix_winsock.h"

namespace quorrel::posix {
namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// The kernel's loopback round trip with nothing of ours around it: one raw
// socket kept open, a ready-made request, a blocking wait for its reply.
class BareEcho {
 public:
  BareEcho() : fd_(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)) {
    icmp_filter filter{~(1u << kIcmpEchoReply)};
    ::setsockopt(fd_, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    to_.sin_family = AF_INET;
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~BareEcho() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Ok() const { return fd_ >= 0; }
  bool Echo() {
    static const std::uint8_t kData[] = {'T', 'e', 's', 't'};
    std::vector<std::uint8_t> request = BuildEchoRequest(kId, ++sequence_, kData);
    if (::sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to_),
                 sizeof to_) < 0)
      return false;
    std::uint8_t packet[1500];
    for (;;) {
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, 500) <= 0) return false;
      ssize_t n = ::recv(fd_, packet, sizeof packet, 0);
      EchoMatch match{kId, sequence_, to_.sin_addr.s_addr};
      if (n > 0 &&
          ParseRawPacket({packet, static_cast<std::size_t>(n)}, match).kind == PacketKind::kReply)
        return true;
    }
  }

 private:
  static constexpr std::uint16_t kId = 0x5142;
  int fd_;
  sockaddr_in to_{};
  std::uint16_t sequence_ = 0;
};

struct RealPing {
  explicit RealPing(EchoMethod method = EchoMethod::kAuto) : icmp(method) {}
  PosixWinsock winsock;
  IcmpService icmp;
  fakes::FakeToolkit toolkit;
  Utf8CodePage codePage;
  ModPing ping{winsock, icmp, toolkit, codePage};
};

// The calling thread in a namespace of its own for the object's life: lo up,
// every group allowed the datagram socket.
class LoopbackNamespace {
 public:
  LoopbackNamespace() : original_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    ok_ = test::IsRoot() && original_ >= 0 && ::unshare(CLONE_NEWNET) == 0;
    ok_ = ok_ && test::Sh("ip link set lo up") == 0 &&
          test::Sh("sysctl -qw 'net.ipv4.ping_group_range=0 2147483647'") == 0;
  }
  ~LoopbackNamespace() {
    if (original_ >= 0 && ::setns(original_, CLONE_NEWNET) != 0) std::abort();
    if (original_ >= 0) ::close(original_);
  }
  bool Ok() const { return ok_; }

 private:
  int original_;
  bool ok_ = false;
};

// Each iteration times one bare echo and one PingHost back to back, so both
// medians come from the same moments of a machine that others share.
void BM_PingHostOverLoopback(benchmark::State& state) {
  LoopbackNamespace inside;
  BareEcho bare;
  if (!inside.Ok() || !bare.Ok()) {
    state.SkipWithError("needs root for raw sockets and a namespace");
    return;
  }
  static constexpr EchoMethod kMethods[] = {EchoMethod::kDatagram, EchoMethod::kRaw,
                                            EchoMethod::kPingProgram};
  state.SetLabel(state.range(0) == 0 ? "datagram" : state.range(0) == 1 ? "raw" : "ping program");
  RealPing real(kMethods[state.range(0)]);
  std::vector<double> bareTimes, pingTimes;
  int failed = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    bool bareOk = bare.Echo();
    auto t1 = Clock::now();
    bool pingOk = real.ping.PingHost("127.0.0.1");
    auto t2 = Clock::now();
    if (!bareOk || !pingOk) ++failed;
    bareTimes.push_back(Micros(t1 - t0));
    pingTimes.push_back(Micros(t2 - t1));
  }
  if (failed > 0) state.SkipWithError("an echo to 127.0.0.1 failed");
  double bareMedian = Percentile(bareTimes, 0.5);
  double pingMedian = Percentile(pingTimes, 0.5);
  state.counters["kept_socket_median_us"] = bareMedian;
  state.counters["ping_median_us"] = pingMedian;
  state.counters["ping_per_kept_socket"] = pingMedian / bareMedian;
  state.counters["overhead_us"] = pingMedian - bareMedian;
  state.counters["ping_p90_us"] = Percentile(pingTimes, 0.9);
}
BENCHMARK(BM_PingHostOverLoopback)->Arg(0)->Arg(1)->Iterations(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PingHostOverLoopback)->Arg(2)->Iterations(300)->Unit(benchmark::kMicrosecond);

// What `ping -c1` says of its own round trip to 127.0.0.1, in microseconds;
// its "time=0.045 ms" read without the C library's locale.
std::optional<double> PingSaysMicros() {
  std::string out;
  if (FILE* p = ::popen("LC_ALL=C ping -n -c1 -W1 127.0.0.1 2>/dev/null", "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    ::pclose(p);
  }
  const std::size_t at = out.find("time=");
  if (at == std::string::npos) return std::nullopt;
  double ms = 0;
  const char* begin = out.data() + at + 5;
  if (std::from_chars(begin, out.data() + out.size(), ms).ec != std::errc{}) return std::nullopt;
  return ms * 1000;
}

// The round trip PingHostTimed tells beside the one ping tells of its own
// echo, in the same iterations, by each socket method. Goal: the medians
// within 20 µs of each other.
void BM_RoundTripAgainstPing(benchmark::State& state) {
  LoopbackNamespace inside;
  if (!inside.Ok() || !PingSaysMicros()) {
    state.SkipWithError("needs root for a namespace, and the ping program");
    return;
  }
  static constexpr EchoMethod kMethods[] = {EchoMethod::kDatagram, EchoMethod::kRaw};
  state.SetLabel(state.range(0) == 0 ? "datagram" : "raw");
  RealPing real(kMethods[state.range(0)]);
  std::vector<double> probeTimes, pingTimes;
  int failed = 0;
  for (auto _ : state) {
    PingOutcome probe = real.ping.PingHostTimed("127.0.0.1");
    std::optional<double> ping = PingSaysMicros();
    if (!probe.passed || !probe.rttMicros || !ping) {
      ++failed;
      continue;
    }
    probeTimes.push_back(*probe.rttMicros);
    pingTimes.push_back(*ping);
  }
  if (failed > 0) state.SkipWithError("an echo to 127.0.0.1 failed or told no time");
  const double probeMedian = Percentile(probeTimes, 0.5);
  const double pingMedian = Percentile(pingTimes, 0.5);
  state.counters["probe_rtt_median_us"] = probeMedian;
  state.counters["ping_rtt_median_us"] = pingMedian;
  state.counters["difference_us"] = probeMedian - pingMedian;
}
BENCHMARK(BM_RoundTripAgainstPing)->Arg(0)->Arg(1)->Iterations(200)->Unit(benchmark::kMillisecond);

// The wall time of a ping to a host that drops every echo. Goal: 500 to 502 ms,
// never less than 500.
void BM_PingHostTimeout(benchmark::State& state) {
  if (!test::IsRoot()) {
    state.SkipWithError("needs root to make a network namespace");
    return;
  }
  std::unique_ptr<test::NetNs> host;
  try {
    host = std::make_unique<test::NetNs>("10.234.9");
    host->Exec("nft add table ip qb");
    host->Exec("nft 'add chain ip qb in { type filter hook input priority 0 ; }'");
    host->Exec("nft add rule ip qb in icmp type echo-request drop");
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  RealPing real;
  std::vector<double> times;
  int passed = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    if (real.ping.PingHost(host->peerAddr)) ++passed;
    times.push_back(Micros(Clock::now() - t0) / 1000.0);
  }
  if (passed > 0) state.SkipWithError("a dropped echo passed");
  state.counters["min_ms"] = Percentile(times, 0);
  state.counters["median_ms"] = Percentile(times, 0.5);
  state.counters["max_ms"] = Percentile(times, 1);
}
BENCHMARK(BM_PingHostTimeout)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorrel::posix
