// One read of CIpHelper.Interfaces (netlink dump, table image, parse into
// entries) with this machine's interfaces and with 256 veth ends in a
// namespace, each next to reading and parsing /proc/net/dev, the kernel's
// text view of the same counters. The namespace needs root; it is removed
// when the program ends.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/c_ip_helper.h"
#include "platform/posix/files.h"
#include "platform/posix/if_table.h"

namespace quorrel {
namespace {

constexpr int kVethPairs = 128;

int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// A namespace holding kVethPairs veth pairs, all up: 256 interfaces besides lo.
class CrowdedNamespace {
 public:
  CrowdedNamespace() : name_("qrlbench" + std::to_string(::getpid())) {
    if (::geteuid() != 0 || Run("ip netns add " + name_) != 0) return;
    const std::string batch = "/tmp/" + name_ + ".ip";
    if (FILE* f = std::fopen(batch.c_str(), "w")) {
      for (int i = 0; i < kVethPairs; ++i)
        std::fprintf(f, "link add qb%da type veth peer name qb%db\n", i, i);
      for (int i = 0; i < kVethPairs; ++i)
        std::fprintf(f, "link set qb%da up\nlink set qb%db up\n", i, i);
      std::fclose(f);
      ready_ = Run("ip -n " + name_ + " -batch " + batch) == 0;
      std::remove(batch.c_str());
    }
  }
  ~CrowdedNamespace() { Run("ip netns del " + name_); }
  bool Ready() const { return ready_; }
  std::string Path() const { return "/var/run/netns/" + name_; }

 private:
  std::string name_;
  bool ready_ = false;
};

CrowdedNamespace* Crowd() {
  static CrowdedNamespace crowd;  // made on first use, removed at exit
  return crowd.Ready() ? &crowd : nullptr;
}

// The calling thread inside `path`'s network namespace for the object's life.
class Entered {
 public:
  explicit Entered(const std::string& path)
      : original_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    const int target = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ok_ = original_ >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) ::close(target);
  }
  ~Entered() {
    // Staying in the benchmark's namespace would skew every later figure.
    if (ok_ && ::setns(original_, CLONE_NEWNET) != 0) std::abort();
    if (original_ >= 0) ::close(original_);
  }
  bool Ok() const { return ok_; }

 private:
  int original_;
  bool ok_ = false;
};

struct DevLine {
  std::string name;
  std::uint64_t rxBytes = 0;
  std::uint64_t txBytes = 0;
};

// /proc/net/dev of the calling thread's namespace: names and byte counters.
std::vector<DevLine> ReadProcNetDev() {
  std::vector<DevLine> lines;
  std::ifstream in("/proc/thread-self/net/dev");
  std::string text;
  while (std::getline(in, text)) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) continue;
    DevLine line;
    line.name = text.substr(text.find_first_not_of(' '), colon);
    unsigned long long rx = 0, tx = 0, skip = 0;
    std::sscanf(text.c_str() + colon + 1, "%llu %llu %llu %llu %llu %llu %llu %llu %llu", &rx,
                &skip, &skip, &skip, &skip, &skip, &skip, &skip, &tx);
    line.rxBytes = rx;
    line.txBytes = tx;
    lines.push_back(std::move(line));
  }
  return lines;
}

void ReadInterfaces(benchmark::State& state) {
  posix::NetlinkIfTable table;
  posix::Utf8CodePage codePage;
  CIpHelper helper(table, codePage);
  std::int32_t count = 0;
  for (auto _ : state) {
    auto list = helper.Interfaces();
    count = list->Count();
    benchmark::DoNotOptimize(list);
  }
  state.counters["interfaces"] = count;
}

void ReadDev(benchmark::State& state) {
  std::size_t count = 0;
  for (auto _ : state) {
    auto lines = ReadProcNetDev();
    count = lines.size();
    benchmark::DoNotOptimize(lines);
  }
  state.counters["interfaces"] = static_cast<double>(count);
}

void BM_Interfaces_OwnMachine(benchmark::State& state) { ReadInterfaces(state); }
void BM_ProcNetDev_OwnMachine(benchmark::State& state) { ReadDev(state); }

template <void (*Body)(benchmark::State&)>
void InCrowd(benchmark::State& state) {
  CrowdedNamespace* crowd = Crowd();
  if (!crowd) {
    state.SkipWithError("needs root to make a namespace of 256 veth interfaces");
    return;
  }
  Entered inside(crowd->Path());
  if (!inside.Ok()) {
    state.SkipWithError("cannot enter the namespace");
    return;
  }
  Body(state);
}

void BM_Interfaces_256Veth(benchmark::State& state) { InCrowd<ReadInterfaces>(state); }
void BM_ProcNetDev_256Veth(benchmark::State& state) { InCrowd<ReadDev>(state); }

BENCHMARK(BM_Interfaces_OwnMachine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcNetDev_OwnMachine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Interfaces_256Veth)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcNetDev_256Veth)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorrel
