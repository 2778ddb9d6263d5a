// The interface table with 5, 257 and 1025 interfaces (lo and veth pairs in a
// namespace made here, removed at exit), each figure timed back to back with
// its anchors in the same iterations, so the ratios come from the same moments
// of a machine that others share:
//   snapshot   GetIfTable's size query and fill, as CIpHelper asks
//   interfaces one read of CIpHelper.Interfaces (the snapshot and the entries)
//   stats      a bare RTM_GETSTATS dump of the 64-bit link counters, unparsed
//   procnetdev reading and splitting /proc/net/dev
// and the model's start-up (Form1 on the real services, Form_Load) with 1025.
// Needs root for the namespaces; skips itself otherwise.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "interfaces/c_ip_helper.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_icmp.h"
#include "platform/posix/if_table.h"
#include "platform/posix/posix_process.h"
#include "platform/posix/posix_profile.h"
#include "platform/posix/unique_fd.h"
#include "platform/posix/posix_winsock.h"
#include "platform/qt/image_canvas.h"
#include "platform/qt/qt_main_window.h"
#include "window/form1.h"

namespace quorrel {
namespace {

using Clock = std::chrono::steady_clock;

int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A namespace holding lo and (interfaces - 1) / 2 veth pairs, all up, IPv6
// off so that nothing but the benchmark moves.
class Crowd {
 public:
  explicit Crowd(int interfaces)
      : name_("qrlbench" + std::to_string(::getpid()) + "n" + std::to_string(interfaces)) {
    if (::geteuid() != 0 || Run("ip netns add " + name_) != 0) return;
    const std::string batch = "/tmp/" + name_ + ".ip";
    if (FILE* f = std::fopen(batch.c_str(), "w")) {
      const int pairs = (interfaces - 1) / 2;
      std::fprintf(f, "link set lo up\n");
      for (int i = 0; i < pairs; ++i)
        std::fprintf(f, "link add qb%da type veth peer name qb%db\n", i, i);
      for (int i = 0; i < pairs; ++i)
        std::fprintf(f, "link set qb%da up\nlink set qb%db up\n", i, i);
      std::fclose(f);
      Run("ip netns exec " + name_ +
          " sysctl -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
      ready_ = Run("ip -n " + name_ + " -batch " + batch) == 0;
      std::remove(batch.c_str());
    }
  }
  ~Crowd() { Run("ip netns del " + name_); }
  Crowd(const Crowd&) = delete;
  Crowd& operator=(const Crowd&) = delete;
  bool Ready() const { return ready_; }
  std::string Path() const { return "/var/run/netns/" + name_; }

 private:
  std::string name_;
  bool ready_ = false;
};

Crowd* CrowdOf(int interfaces) {
  static std::map<int, std::unique_ptr<Crowd>> crowds;  // made on first use, removed at exit
  auto& crowd = crowds[interfaces];
  if (!crowd) crowd = std::make_unique<Crowd>(interfaces);
  return crowd->Ready() ? crowd.get() : nullptr;
}

// The calling thread inside `path`'s network namespace for the object's life.
class Entered {
 public:
  explicit Entered(const std::string& path)
      : original_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    const posix::UniqueFd target(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ok_ = original_.Get() >= 0 && target.Get() >= 0 && ::setns(target.Get(), CLONE_NEWNET) == 0;
  }
  ~Entered() {
    // Staying in the benchmark's namespace would skew every later figure.
    if (ok_ && ::setns(original_.Get(), CLONE_NEWNET) != 0) std::abort();
  }
  bool Ok() const { return ok_; }

 private:
  posix::UniqueFd original_;
  bool ok_ = false;
};

// The anchor: one RTM_GETSTATS dump of IFLA_STATS_LINK_64 on a kept socket,
// received whole and walked only to find its end.
class BareStatsDump {
 public:
  BareStatsDump()
      : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)), buffer_(65536) {}
  std::size_t Dump() {
    struct {
      nlmsghdr header;
      if_stats_msg stats;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETSTATS;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = ++sequence_;
    request.stats.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ::sendto(fd_.Get(), &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel);
    std::size_t links = 0;
    for (;;) {
      const ssize_t n = ::recv(fd_.Get(), buffer_.data(), buffer_.size(), 0);
      if (n <= 0) return links;
      for (std::size_t at = 0; at + sizeof(nlmsghdr) <= static_cast<std::size_t>(n);) {
        nlmsghdr header;
        std::memcpy(&header, buffer_.data() + at, sizeof header);
        if (header.nlmsg_type == NLMSG_DONE || header.nlmsg_type == NLMSG_ERROR) return links;
        if (header.nlmsg_len < sizeof header) return links;
        ++links;
        at += NLMSG_ALIGN(header.nlmsg_len);
      }
    }
  }

 private:
  posix::UniqueFd fd_;
  std::vector<std::byte> buffer_;
  std::uint32_t sequence_ = 0;
};

// The other anchor: /proc/net/dev of the calling thread's namespace, split
// into names and the two byte counters.
std::size_t ReadProcNetDev() {
  std::ifstream in("/proc/thread-self/net/dev");
  std::string text;
  std::size_t lines = 0;
  std::uint64_t sum = 0;
  while (std::getline(in, text)) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) continue;
    std::string name = text.substr(text.find_first_not_of(' '), colon);
    char* end = nullptr;
    const std::uint64_t rx = std::strtoull(text.c_str() + colon + 1, &end, 10);
    for (int i = 0; i < 8; ++i) std::strtoull(end, &end, 10);
    sum += rx + std::strtoull(end, &end, 10);
    benchmark::DoNotOptimize(name);
    ++lines;
  }
  benchmark::DoNotOptimize(sum);
  return lines;
}

// One snapshot as CIpHelper takes it: the size query, then the fill.
std::uint32_t Snapshot(posix::NetlinkIfTable& table, std::vector<std::byte>& buffer) {
  std::uint32_t size = 0;
  table.GetIfTable(nullptr, size, false);
  if (buffer.size() < size) buffer.resize(size);
  if (table.GetIfTable(buffer.data(), size, false) != kNoError) return 0;
  std::uint32_t count;
  std::memcpy(&count, buffer.data(), sizeof count);
  return count;
}

void BM_Snapshot(benchmark::State& state) {
  const int interfaces = static_cast<int>(state.range(0));
  Crowd* crowd = CrowdOf(interfaces);
  if (!crowd) return state.SkipWithError("needs root to make a namespace of veth interfaces");
  Entered inside(crowd->Path());
  if (!inside.Ok()) return state.SkipWithError("cannot enter the namespace");

  posix::NetlinkIfTable table;
  posix::Utf8CodePage codePage;
  CIpHelper helper(table, codePage);
  BareStatsDump bare;
  std::vector<std::byte> buffer;
  std::vector<double> snapshot, entries, stats, dev;
  std::uint32_t rows = 0;
  std::size_t dumped = 0, lines = 0;
  Snapshot(table, buffer);  // the link dump that fills the cache, once
  for (auto _ : state) {
    const auto t0 = Clock::now();
    rows = Snapshot(table, buffer);
    const auto t1 = Clock::now();
    dumped = bare.Dump();
    const auto t2 = Clock::now();
    lines = ReadProcNetDev();
    const auto t3 = Clock::now();
    auto list = helper.Interfaces();
    const auto t4 = Clock::now();
    benchmark::DoNotOptimize(list);
    snapshot.push_back(Micros(t1 - t0));
    stats.push_back(Micros(t2 - t1));
    dev.push_back(Micros(t3 - t2));
    entries.push_back(Micros(t4 - t3));
  }
  if (rows != static_cast<std::uint32_t>(interfaces) || dumped != rows || lines != rows)
    state.SkipWithError("the table, the dump and /proc/net/dev disagree on the interfaces");
  state.counters["interfaces"] = rows;
  state.counters["snapshot_us"] = Median(snapshot);
  state.counters["interfaces_read_us"] = Median(entries);
  state.counters["stats_dump_us"] = Median(stats);
  state.counters["proc_net_dev_us"] = Median(dev);
  // Goal: at most 2 times the bare dump.
  state.counters["snapshot_per_stats_dump"] = Median(snapshot) / Median(stats);
  state.counters["snapshot_per_proc_net_dev"] = Median(snapshot) / Median(dev);
  state.counters["interfaces_read_per_stats_dump"] = Median(entries) / Median(stats);
  state.counters["link_dumps"] = static_cast<double>(table.LinkDumps());
}
BENCHMARK(BM_Snapshot)->Arg(5)->Arg(257)->Arg(1025)->Unit(benchmark::kMicrosecond);

// Fonts and images need an application object; offscreen unless told otherwise.
void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "quorrel_bench";
  static char* argv[] = {name, nullptr};
  static QGuiApplication app(argc, argv);
}

// Form_Load on the real Linux services (a fake toolkit and tray: no window)
// with 1025 interfaces, against one snapshot of the same table.
void BM_FormLoad(benchmark::State& state) {
  const int interfaces = static_cast<int>(state.range(0));
  Crowd* crowd = CrowdOf(interfaces);
  if (!crowd) return state.SkipWithError("needs root to make a namespace of veth interfaces");
  Entered inside(crowd->Path());
  if (!inside.Ok()) return state.SkipWithError("cannot enter the namespace");
  EnsureApplication();

  std::vector<double> loads, snapshots;
  std::size_t listed = 0;
  std::vector<std::byte> buffer;
  for (auto _ : state) {
    fakes::FakeToolkit toolkit;
    fakes::FakeShell shell;
    qt::LinuxServices s;
    qt::ImageCanvas canvas(509, 61);
    Form1 form(Services{toolkit, s.clock, s.files, s.codePage, s.profile, s.winsock, s.icmp,
                        s.ifTable, shell, s.process, canvas});
    const auto t0 = Clock::now();
    form.Form_Load();
    const auto t1 = Clock::now();
    posix::NetlinkIfTable fresh;
    Snapshot(fresh, buffer);
    const auto t2 = Clock::now();
    listed = form.cboConnections.Items().size();
    loads.push_back(Micros(t1 - t0) / 1000.0);
    snapshots.push_back(Micros(t2 - t1) / 1000.0);
  }
  if (listed != static_cast<std::size_t>(interfaces))
    state.SkipWithError("the adapter list does not hold every interface");
  state.counters["interfaces"] = static_cast<double>(listed);
  state.counters["form_load_ms"] = Median(loads);
  state.counters["first_snapshot_ms"] = Median(snapshots);
  state.counters["form_load_per_first_snapshot"] = Median(loads) / Median(snapshots);
}
BENCHMARK(BM_FormLoad)->Arg(1025)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorrel
