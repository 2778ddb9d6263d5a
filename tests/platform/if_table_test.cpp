// The netlink interface table against the kernel, and the sampler measuring
// real traffic. Each test runs in a network namespace of its own, so the
// interface list holds exactly what the test made.
#include "platform/posix/if_table.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "fakes/fakes.h"
#include "interfaces/c_ip_helper.h"
#include "netns.h"
#include "platform/posix/files.h"
#include "window/form1.h"

namespace quorrel {
namespace {

using test::NetNs;
using test::Sh;

struct Counters {
  std::uint64_t rxBytes = 0;
  std::uint64_t txBytes = 0;
  bool operator==(const Counters&) const = default;
};

// The kernel's own byte counters of `name` in the calling thread's namespace.
Counters KernelCounters(const std::string& name) {
  std::ifstream in("/proc/thread-self/net/dev");
  std::string line;
  while (std::getline(in, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string ifName = line.substr(0, colon);
    ifName.erase(0, ifName.find_first_not_of(' '));
    if (ifName != name) continue;
    std::istringstream fields(line.substr(colon + 1));
    Counters c;
    std::uint64_t skip;
    fields >> c.rxBytes;
    for (int i = 0; i < 7; ++i) fields >> skip;
    fields >> c.txBytes;
    return c;
  }
  throw std::runtime_error("no interface " + name);
}

// Waits until nothing moves on `name` for a while (IPv6 and link-up chatter).
void WaitForQuiet(const std::string& name) {
  Counters last = KernelCounters(name);
  for (int i = 0; i < 40; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    Counters now = KernelCounters(name);
    if (now == last) return;
    last = now;
  }
}

// A UDP socket living in the namespace `ns`, whichever thread uses it later.
int UdpSocketIn(const NetNs& ns) {
  int fd = -1;
  std::thread maker([&] {
    int nsFd = ns.OpenFd();
    if (nsFd >= 0 && ::setns(nsFd, CLONE_NEWNET) == 0) fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (nsFd >= 0) ::close(nsFd);
  });
  maker.join();
  return fd;
}

sockaddr_in Address(const std::string& addr, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, addr.c_str(), &sa.sin_addr);
  return sa;
}

bool Bind(int fd, const std::string& addr, int port) {
  sockaddr_in sa = Address(addr, port);
  timeval timeout{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

// Sends `count` datagrams of `payload` bytes and waits until `receiver` has them all.
void Exchange(int sender, int receiver, const std::string& to, int port, int count,
              std::size_t payload) {
  const std::string data(payload, 'q');
  sockaddr_in sa = Address(to, port);
  for (int i = 0; i < count; ++i)
    ASSERT_EQ(
        ::sendto(sender, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa),
        static_cast<ssize_t>(payload));
  char buffer[65536];
  for (int i = 0; i < count; ++i)
    ASSERT_EQ(::recv(receiver, buffer, sizeof buffer, 0), static_cast<ssize_t>(payload));
}

// A pair whose only traffic is what the test sends: no IPv6, fixed neighbours.
void Silence(NetNs& ns) {
  Sh("sysctl -w net.ipv6.conf." + ns.hostIf + ".disable_ipv6=1");
  ns.Exec("sysctl -w net.ipv6.conf." + ns.peerIf + ".disable_ipv6=1");
  // Addresses first: changing one flushes the neighbour entries of its link.
  Sh("ip link set dev " + ns.hostIf + " address 02:00:00:00:00:01");
  ns.Exec("ip link set dev " + ns.peerIf + " address 02:00:00:00:00:02");
  Sh("ip neigh replace " + ns.peerAddr + " lladdr 02:00:00:00:00:02 dev " + ns.hostIf +
     " nud permanent");
  ns.Exec("ip neigh replace " + ns.hostAddr + " lladdr 02:00:00:00:00:01 dev " + ns.peerIf +
          " nud permanent");
  WaitForQuiet(ns.hostIf);
}

std::vector<std::string> KernelNames() {
  std::vector<std::string> names;
  if (struct if_nameindex* list = ::if_nameindex()) {
    for (struct if_nameindex* i = list; i->if_index != 0; ++i) names.push_back(i->if_name);
    ::if_freenameindex(list);
  }
  return names;
}

class NetlinkIfTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to make network namespaces";
    isolated_ = std::make_unique<test::PrivateNetns>();
  }
  void TearDown() override {
    ns_.reset();
    isolated_.reset();
  }
  NetNs& Pair(const std::string& subnet) {
    ns_ = std::make_unique<NetNs>(subnet);
    return *ns_;
  }
  std::shared_ptr<CInterface> Find(const std::string& name) {
    for (const auto& e : *helper.Interfaces())
      if (e->InterfaceName() == name) return e;
    return nullptr;
  }

  std::unique_ptr<test::PrivateNetns> isolated_;  // made first, left last
  std::unique_ptr<NetNs> ns_;
  posix::NetlinkIfTable table;
  posix::Utf8CodePage codePage;
  CIpHelper helper{table, codePage};
};

TEST_F(NetlinkIfTableTest, SizeQueryAndFillListTheKernelsInterfacesInItsOrder) {
  NetNs& ns = Pair("10.213.41");
  std::uint32_t size = 0;
  ASSERT_EQ(table.GetIfTable(nullptr, size, false), kErrorInsufficientBuffer);
  EXPECT_EQ(size, kIfTableHeaderSize + 2 * kIfRowSize);  // lo and our end of the pair

  auto list = helper.Interfaces();
  std::vector<std::string> names;
  for (const auto& e : *list) names.push_back(e->InterfaceName());
  EXPECT_EQ(names, KernelNames());
  EXPECT_EQ(names, (std::vector<std::string>{"lo", ns.hostIf}));
  EXPECT_EQ(list->Item(2)->InterfaceIndex(),
            static_cast<std::int32_t>(::if_nametoindex(ns.hostIf.c_str())));
}

TEST_F(NetlinkIfTableTest, RowsCarryTypeMtuAddressStatusAndAlias) {
  NetNs& ns = Pair("10.213.42");
  Sh("ip link set dev " + ns.hostIf + " mtu 1400 address 02:0a:00:0b:c0:01");
  Sh("ip link set dev " + ns.hostIf + " alias 'Test adapter'");
  Sh("ip link set lo up");

  auto veth = Find(ns.hostIf);
  ASSERT_NE(veth, nullptr);
  EXPECT_EQ(veth->InterfaceDescription(), "Test adapter");
  EXPECT_EQ(veth->InterfaceType(), 6);
  EXPECT_EQ(veth->MaximumTransmissionUnit(), 1400);
  EXPECT_EQ(veth->AdapterAddress(), "2-A-00-B-C0-1");
  EXPECT_EQ(veth->AdminStatus(), 1);
  EXPECT_EQ(veth->OperationalStatus(), 5);
  // A veth reports 10 Gb/s, more than the row's 32 bits hold: the largest value.
  EXPECT_EQ(static_cast<std::uint32_t>(veth->Speed()), 0xFFFFFFFFu);

  auto lo = Find("lo");
  ASSERT_NE(lo, nullptr);
  EXPECT_EQ(lo->InterfaceDescription(), "lo");
  EXPECT_EQ(lo->InterfaceType(), 24);
  EXPECT_EQ(lo->MaximumTransmissionUnit(), 65536);
  EXPECT_EQ(lo->AdapterAddress(), "00-00-00-00-00-00");
  EXPECT_EQ(lo->OperationalStatus(), 5);
  EXPECT_EQ(lo->Speed(), 0);

  ns.Exec("ip link set " + ns.peerIf + " down");  // no carrier
  EXPECT_EQ(Find(ns.hostIf)->OperationalStatus(), 2);
  Sh("ip link set " + ns.hostIf + " down");
  veth = Find(ns.hostIf);
  EXPECT_EQ(veth->AdminStatus(), 2);
  EXPECT_EQ(veth->OperationalStatus(), 0);
}

TEST_F(NetlinkIfTableTest, ASmallBufferGetsTheNeededSizeAndNothingPastItsEnd) {
  Pair("10.213.43");
  std::uint32_t needed = 0;
  table.GetIfTable(nullptr, needed, false);
  std::vector<std::byte> buffer(needed + 64, std::byte{0xAA});
  for (std::uint32_t given : {0u, 3u, needed - 1}) {
    std::uint32_t size = given;
    EXPECT_EQ(table.GetIfTable(buffer.data(), size, false), kErrorInsufficientBuffer);
    EXPECT_EQ(size, needed);
    for (std::size_t i = given; i < buffer.size(); ++i)
      ASSERT_EQ(buffer[i], std::byte{0xAA}) << "written at " << i << " of " << given;
  }
  std::uint32_t size = needed;
  EXPECT_EQ(table.GetIfTable(buffer.data(), size, false), kNoError);
  EXPECT_EQ(buffer[needed], std::byte{0xAA});
}

TEST_F(NetlinkIfTableTest, ATableThatGrewSinceTheSizeQueryAsksForTheNewSize) {
  Pair("10.213.44");
  std::uint32_t size = 0;
  table.GetIfTable(nullptr, size, false);
  const std::uint32_t before = size;
  test::ShOrThrow("ip link add qgrowa type veth peer name qgrowb");
  std::vector<std::byte> buffer(before);
  EXPECT_EQ(table.GetIfTable(buffer.data(), size, false), kErrorInsufficientBuffer);
  EXPECT_EQ(size, before + 2 * kIfRowSize);
  buffer.resize(size);
  EXPECT_EQ(table.GetIfTable(buffer.data(), size, true), kNoError);
  std::uint32_t last = 0;
  for (std::size_t i = 0; i < 4; ++i) {  // sorted by index
    std::uint32_t index;
    std::memcpy(&index, buffer.data() + kIfTableHeaderSize + i * kIfRowSize + 512, 4);
    EXPECT_GT(index, last);
    last = index;
  }
  Sh("ip link del qgrowa");
}

// Form1 on fakes, but with the real interface table.
struct RealTableForm {
  fakes::FakeToolkit toolkit;
  fakes::FakeClock clock;
  fakes::FakeFileSystem files;
  posix::Utf8CodePage codePage;
  fakes::FakeProfile profile;
  fakes::FakeWinsock winsock;
  fakes::FakeIcmp icmp;
  posix::NetlinkIfTable ifTable;
  fakes::FakeShell shell;
  fakes::FakeProcess process;
  fakes::RecordingCanvas canvas;
  Form1 form{Services{toolkit, clock, files, codePage, profile, winsock, icmp, ifTable, shell,
                      process, canvas}};

  // Loads, picks the adapter named `name` and starts monitoring.
  void StartOn(const std::string& name) {
    form.Form_Load();
    const auto& items = form.cboConnections.Items();
    const auto found = std::find(items.begin(), items.end(), name + " ");
    ASSERT_NE(found, items.end());
    form.cboConnections.SetListIndex(static_cast<int>(found - items.begin()));
    form.cmdToggle_Click();
  }
};

TEST_F(NetlinkIfTableTest, TheSamplerCountsEveryByteTheKernelCounts) {
  NetNs& ns = Pair("10.213.45");
  Silence(ns);
  const int port = 41234;
  int hostSocket = ::socket(AF_INET, SOCK_DGRAM, 0);
  int peerSocket = UdpSocketIn(ns);
  ASSERT_GE(peerSocket, 0);
  ASSERT_TRUE(Bind(hostSocket, ns.hostAddr, port));
  ASSERT_TRUE(Bind(peerSocket, ns.peerAddr, port));

  RealTableForm app;
  app.StartOn(ns.hostIf);
  app.form.tmrBandwidth_Timer();  // the baseline
  const Counters before = KernelCounters(ns.hostIf);

  constexpr int kUp = 20, kDown = 7;
  constexpr std::size_t kUpPayload = 1000, kDownPayload = 1400;
  Exchange(hostSocket, peerSocket, ns.peerAddr, port, kUp, kUpPayload);
  Exchange(peerSocket, hostSocket, ns.hostAddr, port, kDown, kDownPayload);

  app.form.tmrBandwidth_Timer();
  const Counters after = KernelCounters(ns.hostIf);
  const BandwidthSampler& sampler = app.form.sampler;
  EXPECT_EQ(sampler.samples[1], static_cast<float>(after.txBytes - before.txBytes));
  EXPECT_EQ(sampler.samples[0], static_cast<float>(after.rxBytes - before.rxBytes));
  // Each frame: payload, 8 UDP, 20 IPv4 and 14 Ethernet header bytes.
  EXPECT_EQ(sampler.samples[1], kUp * (kUpPayload + 42.0f));
  EXPECT_EQ(sampler.samples[0], kDown * (kDownPayload + 42.0f));
  EXPECT_EQ(app.form.lblUS.Caption(), "Upstream: 20 KB");    // 20840 bytes
  EXPECT_EQ(app.form.lblDS.Caption(), "Downstream: 10 KB");  // 10094 bytes
  // The entry holds the kernel's 64-bit counters' low 32 bits.
  EXPECT_EQ(static_cast<std::uint32_t>(sampler.selectedInterface->OctetsSent()),
            static_cast<std::uint32_t>(after.txBytes));

  ::close(hostSocket);
  ::close(peerSocket);
}

TEST_F(NetlinkIfTableTest, AnAdapterDeletedWhileMonitoringRunsMeasuresZero) {
  NetNs& ns = Pair("10.213.46");
  RealTableForm app;
  app.StartOn(ns.hostIf);
  app.form.tmrBandwidth_Timer();
  test::ShOrThrow("ip link del " + ns.hostIf);
  app.form.tmrBandwidth_Timer();
  EXPECT_EQ(app.form.lblDS.Caption(), "Downstream: 0 KB");
  EXPECT_EQ(app.form.lblUS.Caption(), "Upstream: 0 KB");
  EXPECT_EQ(app.form.sampler.selectedInterface, nullptr);
  app.form.tmrBandwidth_Timer();
  EXPECT_EQ(app.form.cboConnections.Items().size(), 2u);  // the list stays as loaded
}

}  // namespace
}  // namespace quorrel
