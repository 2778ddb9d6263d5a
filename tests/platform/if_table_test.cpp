// The netlink interface table against the kernel, and the sampler measuring
// real traffic. Each test runs in a network namespace of its own, so the
// interface list holds exactly what the test made.
#include "platform/posix/if_table.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

// After <net/if.h>, which gives it struct ifreq.
#include <linux/if_tun.h>

#include "common/bytes.h"
#include "fakes/fakes.h"
#include "if_table_reference.h"
#include "interfaces/c_ip_helper.h"
#include "netns.h"
#include "platform/posix/link_messages.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/unique_fd.h"
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

// --- the link cache against a fresh dump ---------------------------------------

using Row = std::vector<std::byte>;

// The rows of one table image, taken as the program takes it: size, then fill.
std::vector<Row> Rows(IpHelperApi& api) {
  std::uint32_t size = 0;
  EXPECT_EQ(api.GetIfTable(nullptr, size, false), kErrorInsufficientBuffer);
  std::vector<std::byte> image(size);
  EXPECT_EQ(api.GetIfTable(image.data(), size, false), kNoError);
  std::vector<Row> rows;
  const std::uint32_t count = ReadLe32(image.data());
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::byte* row = image.data() + kIfTableHeaderSize + i * kIfRowSize;
    rows.emplace_back(row, row + kIfRowSize);
  }
  return rows;
}

std::string NameOf(const Row& row) {
  std::string name;
  for (std::size_t i = 0; i < ifrow::kNameUnits; ++i) {
    const std::uint16_t unit = ReadLe16(row.data() + ifrow::kName + 2 * i);
    if (unit == 0) break;
    name += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  return name;
}

std::string FieldAt(std::size_t offset) {
  static const std::pair<std::size_t, const char*> kFields[] = {
      {ifrow::kName, "name"},
      {ifrow::kIndex, "index"},
      {ifrow::kType, "type"},
      {ifrow::kMtu, "mtu"},
      {ifrow::kSpeed, "speed"},
      {ifrow::kPhysAddrLen, "address length"},
      {ifrow::kPhysAddr, "address"},
      {ifrow::kAdminStatus, "admin status"},
      {ifrow::kOperStatus, "oper status"},
      {ifrow::kLastChange, "last change"},
      {ifrow::kInOctets, "counters"},
      {ifrow::kDescrLen, "description length"},
      {ifrow::kDescr, "description"}};
  const char* field = "?";
  for (const auto& [at, name] : kFields)
    if (offset >= at) field = name;
  return field;
}

std::vector<std::string> Names(const std::vector<Row>& rows) {
  std::vector<std::string> names;
  for (const Row& r : rows) names.push_back(NameOf(r));
  return names;
}

// Waits until two reads of the uncached table 100 ms apart agree: the kernel
// finishes a carrier change from a work queue, a moment after the command.
void Settle() {
  std::vector<Row> last;
  for (int i = 0; i < 30; ++i) {
    test::reference::OneDumpIfTable reference;
    std::vector<Row> now = Rows(reference);
    if (now == last) return;
    last = std::move(now);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// The cached table's snapshot equals a fresh one-dump read and a new
// service's first read, row for row and field for field.
void ExpectSameAsFreshDump(posix::NetlinkIfTable& cached, const std::string& step) {
  Settle();
  const std::vector<Row> got = Rows(cached);
  test::reference::OneDumpIfTable reference;
  const std::vector<Row> want = Rows(reference);
  ASSERT_EQ(Names(got), Names(want)) << "after " << step;
  for (std::size_t r = 0; r < got.size(); ++r) {
    const auto differs = std::mismatch(got[r].begin(), got[r].end(), want[r].begin());
    EXPECT_TRUE(differs.first == got[r].end())
        << "after " << step << ": row " << NameOf(want[r]) << " differs in its "
        << FieldAt(static_cast<std::size_t>(differs.first - got[r].begin()));
  }
  posix::NetlinkIfTable fresh;
  EXPECT_TRUE(Rows(fresh) == got) << "a new service reads otherwise after " << step;
}

class LinkCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to make network namespaces";
    isolated_ = std::make_unique<test::PrivateNetns>();
    // Without IPv6 an idle link sends nothing, so two reads agree on the counters too.
    test::ShOrThrow(
        "sysctl -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
    test::ShOrThrow("ip link set lo up");
  }
  // Runs `ip -batch` on the lines `line(i)` for i in [0, count).
  template <typename Line>
  void Batch(int count, Line line) {
    const std::string path = "/tmp/qrl-cache-" + std::to_string(::getpid()) + ".ip";
    {
      std::ofstream out(path);
      for (int i = 0; i < count; ++i) out << line(i) << "\n";
    }
    const int rc = Sh("ip -batch " + path);
    std::remove(path.c_str());
    ASSERT_EQ(rc, 0);
  }

  std::unique_ptr<test::PrivateNetns> isolated_;
  posix::NetlinkIfTable table;
};

TEST_F(LinkCacheTest, FollowsEveryChangeOfALinkBetweenSnapshots) {
  test::ShOrThrow("ip link add qc0a type veth peer name qc0b");
  ExpectSameAsFreshDump(table, "the first read");

  const std::pair<const char*, const char*> kSteps[] = {
      {"adding a pair", "ip link add qc1a type veth peer name qc1b"},
      {"bringing it up", "ip link set qc1a up && ip link set qc1b up"},
      {"a new MTU", "ip link set qc1a mtu 1280"},
      {"a new address", "ip link set qc1b address 02:0a:0b:0c:0d:0e"},
      {"an alias", "ip link set qc1a alias 'Cache test'"},
      {"taking one end down", "ip link set qc1b down"},
      {"a rename", "ip link set qc1a down && ip link set qc1a name qc1renamed"},
      {"bringing the renamed end up", "ip link set qc1renamed up && ip link set qc1b up"},
      {"deleting the first pair", "ip link del qc0a"},
      {"deleting the renamed pair", "ip link del qc1renamed"},
  };
  for (const auto& [step, command] : kSteps) {
    test::ShOrThrow(command);
    ExpectSameAsFreshDump(table, step);
  }
  const std::vector<std::string> left = Names(Rows(table));
  EXPECT_EQ(left, std::vector<std::string>{"lo"});
  // Every change came through the notifications: one link dump in all.
  EXPECT_EQ(table.LinkDumps(), 1u);
}

TEST_F(LinkCacheTest, AnOverrunOfTheNotificationsIsCaughtUpByADump) {
  constexpr int kPairs = 300;
  ExpectSameAsFreshDump(table, "the first read");
  Batch(kPairs, [](int i) {
    return "link add qo" + std::to_string(i) + "a type veth peer name qo" + std::to_string(i) + "b";
  });
  Batch(kPairs, [](int i) { return "link set qo" + std::to_string(i) + "a up"; });
  ExpectSameAsFreshDump(table, "adding " + std::to_string(kPairs) + " pairs at once");
  EXPECT_EQ(Rows(table).size(), 1u + 2 * kPairs);
  // So many messages at once cannot all wait in the socket.
  EXPECT_GE(table.LinkDumps(), 2u);

  Batch(kPairs, [](int i) { return "link set qo" + std::to_string(i) + "a mtu 1400"; });
  ExpectSameAsFreshDump(table, "changing the MTU of " + std::to_string(kPairs) + " links");
  Batch(kPairs, [](int i) { return "link del qo" + std::to_string(i) + "a"; });
  ExpectSameAsFreshDump(table, "deleting them all");
  EXPECT_EQ(Names(Rows(table)), std::vector<std::string>{"lo"});
}

TEST_F(LinkCacheTest, SizeQueryAndFillShareOneSnapshotUnlessALinkChanges) {
  test::ShOrThrow("ip link add qs0a type veth peer name qs0b");
  std::vector<Row> first = Rows(table);
  // A link made between the query and the fill is in the fill, which asks for more room.
  std::uint32_t size = 0;
  table.GetIfTable(nullptr, size, false);
  test::ShOrThrow("ip link add qs1a type veth peer name qs1b");
  std::vector<std::byte> image(size);
  EXPECT_EQ(table.GetIfTable(image.data(), size, false), kErrorInsufficientBuffer);
  EXPECT_EQ(size, kIfTableHeaderSize + (first.size() + 2) * kIfRowSize);
  image.resize(size);
  EXPECT_EQ(table.GetIfTable(image.data(), size, false), kNoError);
  EXPECT_EQ(ReadLe32(image.data()), first.size() + 2);
  EXPECT_EQ(table.LinkDumps(), 1u);
}

// The loopback's received bytes, as one read of `api` gives them.
std::uint32_t LoopbackBytes(IpHelperApi& api) {
  for (const Row& row : Rows(api))
    if (NameOf(row) == "lo") return ReadLe32(row.data() + ifrow::kInOctets);
  ADD_FAILURE() << "no lo row";
  return 0;
}

void SendOverLoopback() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  const sockaddr_in to = Address("127.0.0.1", 9);
  const char data[100] = {};
  EXPECT_EQ(::sendto(fd, data, sizeof data, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(sizeof data));
  ::close(fd);
}

TEST_F(LinkCacheTest, ReadsInABatchShareOneCountersDumpButSeeEveryLinkChange) {
  Rows(table);
  const std::uint64_t before = table.StatsDumps();
  std::uint32_t inBatch = 0;
  {
    const IfTableReadBatch batch(table);
    inBatch = LoopbackBytes(table);
    SendOverLoopback();
    for (int i = 0; i < 10; ++i) EXPECT_EQ(LoopbackBytes(table), inBatch);
    EXPECT_EQ(table.StatsDumps(), before + 1);

    test::ShOrThrow("ip link add qb0a type veth peer name qb0b");
    EXPECT_EQ(Rows(table).size(), 3u);  // a link that came is there at the next read
    EXPECT_EQ(Rows(table).size(), 3u);
    EXPECT_EQ(table.StatsDumps(), before + 2);
    {
      const IfTableReadBatch nested(table);
      Rows(table);
    }
    test::ShOrThrow("ip link set qb0a mtu 1300");
    for (const Row& row : Rows(table)) {
      if (NameOf(row) == "qb0a") {
        EXPECT_EQ(ReadLe32(row.data() + ifrow::kMtu), 1300u);
      }
    }
    EXPECT_EQ(table.StatsDumps(), before + 3);  // the nested batch ended nothing
  }
  // Past the batch every read counts afresh.
  EXPECT_GT(LoopbackBytes(table), inBatch);
  SendOverLoopback();
  const std::uint32_t after = LoopbackBytes(table);
  EXPECT_GT(LoopbackBytes(table), inBatch);
  SendOverLoopback();
  EXPECT_GT(LoopbackBytes(table), after);
  EXPECT_EQ(table.StatsDumps(), before + 7);
}

TEST_F(LinkCacheTest, LoadingTheAdapterListTakesOneCountersDump) {
  constexpr int kPairs = 20;
  Batch(kPairs, [](int i) {
    return "link add ql" + std::to_string(i) + "a type veth peer name ql" + std::to_string(i) + "b";
  });
  RealTableForm app;
  app.form.Form_Load();
  EXPECT_EQ(app.form.cboConnections.Items().size(), 1u + 2 * kPairs);
  EXPECT_EQ(app.ifTable.StatsDumps(), 1u);
  EXPECT_EQ(app.ifTable.LinkDumps(), 1u);
  app.form.tmrBandwidth_Timer();  // monitoring reads afresh
  EXPECT_EQ(app.ifTable.StatsDumps(), 2u);
}

TEST_F(LinkCacheTest, ALinkDeletedBetweenReadsIsGoneFromTheNextRead) {
  // Pairs left down: deleting one sends the two removals and nothing else,
  // so no other change could make a read look again.
  test::ShOrThrow("ip link add qd0a type veth peer name qd0b");
  test::ShOrThrow("ip link add qd1a type veth peer name qd1b");
  {
    const IfTableReadBatch batch(table);
    EXPECT_EQ(Rows(table).size(), 5u);
    test::ShOrThrow("ip link del qd0a");
    std::vector<std::string> left = Names(Rows(table));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"lo", "qd1a", "qd1b"}));
  }
  // Between a size query and its fill, too.
  std::uint32_t size = 0;
  ASSERT_EQ(table.GetIfTable(nullptr, size, false), kErrorInsufficientBuffer);
  test::ShOrThrow("ip link del qd1a");
  std::vector<std::byte> image(size);
  ASSERT_EQ(table.GetIfTable(image.data(), size, false), kNoError);
  EXPECT_EQ(ReadLe32(image.data()), 1u);
  EXPECT_EQ(table.LinkDumps(), 1u);
}

TEST_F(LinkCacheTest, AFillLongAfterItsSizeQueryCountsAfresh) {
  Rows(table);
  const std::uint64_t before = table.StatsDumps();
  std::uint32_t size = 0;
  ASSERT_EQ(table.GetIfTable(nullptr, size, false), kErrorInsufficientBuffer);
  SendOverLoopback();
  std::this_thread::sleep_for(3 * posix::NetlinkIfTable::kSharedSnapshotAge);
  std::vector<std::byte> image(size);
  ASSERT_EQ(table.GetIfTable(image.data(), size, false), kNoError);
  EXPECT_EQ(table.StatsDumps(), before + 2);
  // The loopback's bytes as the kernel has them now, datagram included.
  test::reference::OneDumpIfTable reference;
  ASSERT_EQ(ReadLe32(image.data()), 1u);
  EXPECT_EQ(ReadLe32(image.data() + kIfTableHeaderSize + ifrow::kInOctets),
            LoopbackBytes(reference));
}

// A tun or tap device held open by the test, which gives it its carrier; gone
// with the descriptor.
posix::UniqueFd OpenTunnel(const std::string& name, short kind) {
  posix::UniqueFd fd(::open("/dev/net/tun", O_RDWR | O_CLOEXEC));
  ifreq request{};
  std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  request.ifr_flags = static_cast<short>(kind | IFF_NO_PI);
  if (fd.Get() >= 0 && ::ioctl(fd.Get(), TUNSETIFF, &request) != 0) fd.Reset();
  return fd;
}

// What `ip -o link` says of a link: its flags (UP, LOWER_UP, ...) and its state.
struct KernelLink {
  std::vector<std::string> flags;
  std::string state;
  bool Has(const std::string& flag) const {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
  }
};

std::map<std::string, KernelLink> KernelLinks() {
  std::map<std::string, KernelLink> links;
  FILE* out = ::popen("ip -o link show", "r");
  if (out == nullptr) return links;
  char line[4096];
  while (std::fgets(line, sizeof line, out) != nullptr) {
    // "3: qva@qvb: <NO-CARRIER,BROADCAST,UP> mtu 1500 ... state LOWERLAYERDOWN ..."
    const std::string text = line;
    const std::size_t nameAt = text.find(": ") + 2;
    const std::size_t open = text.find('<');
    const std::size_t close = text.find('>');
    const std::size_t stateAt = text.find(" state ");
    if (nameAt < 2 || open == std::string::npos || close < open || stateAt == std::string::npos)
      continue;
    std::string name = text.substr(nameAt, text.find(':', nameAt) - nameAt);
    name = name.substr(0, name.find('@'));
    KernelLink& link = links[name];
    std::istringstream flags(text.substr(open + 1, close - open - 1));
    for (std::string flag; std::getline(flags, flag, ',');) link.flags.push_back(flag);
    std::istringstream(text.substr(stateAt + 7)) >> link.state;
  }
  ::pclose(out);
  return links;
}

// The kernel settles a link's state from a work queue a moment after its
// carrier changes; until then the two disagree.
bool Settled(const std::map<std::string, KernelLink>& links) {
  for (const auto& [name, link] : links) {
    const bool carrierState =
        link.state == "UP" || link.state == "UNKNOWN" || link.state == "DORMANT";
    if (link.Has("UP") && link.Has("LOWER_UP") != carrierState) return false;
  }
  return true;
}

TEST_F(LinkCacheTest, OperationalStatusIsWhatTheKernelSaysOfTheLink) {
  // Beside lo (state UNKNOWN, with carrier): a pair with both ends up; a pair
  // with one end up and its peer down, so neither has a carrier; a tap and a
  // tun held by the test, whose state stays UNKNOWN; a tap nobody holds, up
  // without a carrier.
  test::ShOrThrow("ip link add qk0a type veth peer name qk0b");
  test::ShOrThrow("ip link set qk0a up && ip link set qk0b up");
  test::ShOrThrow("ip link add qk1a type veth peer name qk1b");
  test::ShOrThrow("ip link set qk1a up");
  const posix::UniqueFd tap = OpenTunnel("qktap", IFF_TAP);
  const posix::UniqueFd tun = OpenTunnel("qktun", IFF_TUN);
  ASSERT_GE(tap.Get(), 0) << std::strerror(errno);
  ASSERT_GE(tun.Get(), 0) << std::strerror(errno);
  test::ShOrThrow("ip tuntap add dev qkidle mode tap");
  test::ShOrThrow("ip link set qktap up && ip link set qktun up && ip link set qkidle up");

  std::map<std::string, KernelLink> kernel = KernelLinks();
  for (int i = 0; i < 50 && !Settled(kernel); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kernel = KernelLinks();
  }
  ASSERT_EQ(kernel.size(), 8u);
  EXPECT_EQ(kernel["lo"].state, "UNKNOWN");
  EXPECT_EQ(kernel["qktap"].state, "UNKNOWN");
  EXPECT_EQ(kernel["qktun"].state, "UNKNOWN");

  const std::vector<Row> rows = Rows(table);
  ASSERT_EQ(rows.size(), kernel.size());
  for (const Row& row : rows) {
    const std::string name = NameOf(row);
    ASSERT_EQ(kernel.count(name), 1u) << name;
    const KernelLink& link = kernel[name];
    // Not up: non-operational; up without a carrier: disconnected.
    const std::uint32_t want = !link.Has("UP")           ? 0
                               : link.state == "DORMANT" ? 3
                               : link.Has("LOWER_UP")    ? 5
                                                         : 2;
    EXPECT_EQ(ReadLe32(row.data() + ifrow::kOperStatus), want)
        << name << " is " << link.state << (link.Has("LOWER_UP") ? " with" : " without")
        << " carrier";
  }
}

// --- the parsers, on messages made by hand ------------------------------------

class MessageWriter {
 public:
  // Starts a message of `type` with a fixed header of `header` bytes.
  template <typename Header>
  void Begin(std::uint16_t type, const Header& header, std::uint32_t sequence = 7) {
    start_ = bytes_.size();
    nlmsghdr h{};
    h.nlmsg_type = type;
    h.nlmsg_seq = sequence;
    Append(&h, sizeof h);
    Append(&header, sizeof header);
  }
  void Attr(std::uint16_t type, const void* data, std::size_t size) {
    rtattr a{};
    a.rta_type = type;
    a.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    Append(&a, sizeof a);
    Append(data, size);
  }
  void Text(std::uint16_t type, const std::string& text) {
    Attr(type, text.c_str(), text.size() + 1);
  }
  void End() {
    const auto length = static_cast<std::uint32_t>(bytes_.size() - start_);
    std::memcpy(bytes_.data() + start_, &length, sizeof length);
  }
  std::span<const std::byte> Bytes() const { return bytes_; }
  std::vector<std::byte>& Raw() { return bytes_; }

 private:
  void Append(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::byte*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
    bytes_.resize(NLMSG_ALIGN(bytes_.size()));
  }
  std::vector<std::byte> bytes_;
  std::size_t start_ = 0;
};

ifinfomsg Info(int index, unsigned char family = AF_UNSPEC) {
  ifinfomsg info{};
  info.ifi_family = family;
  info.ifi_index = index;
  info.ifi_type = 1;  // ARPHRD_ETHER
  info.ifi_flags = IFF_UP;
  return info;
}

TEST(LinkMessages, LinksWithoutANameOrOfAnotherFamilyAreSkipped) {
  MessageWriter w;
  w.Begin(RTM_NEWLINK, Info(3));
  w.Text(IFLA_IFNAME, "eth0");
  const std::uint32_t mtu = 9000;
  w.Attr(IFLA_MTU, &mtu, sizeof mtu);
  w.End();
  w.Begin(RTM_NEWLINK, Info(4));  // no name at all
  w.Attr(IFLA_MTU, &mtu, sizeof mtu);
  w.End();
  w.Begin(RTM_NEWLINK, Info(5));  // an empty one
  w.Text(IFLA_IFNAME, "");
  w.End();
  w.Begin(RTM_DELLINK, Info(6, AF_BRIDGE));  // a port leaving a bridge, not a link going
  w.End();
  w.Begin(RTM_DELLINK, Info(8));
  w.End();

  std::vector<posix::LinkChange> changes;
  EXPECT_EQ(posix::ParseLinkMessages(w.Bytes(), 0, changes), posix::NetlinkStatus::kMore);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_FALSE(changes[0].removed);
  EXPECT_EQ(changes[0].link.index, 3);
  EXPECT_EQ(changes[0].link.name, "eth0");
  EXPECT_EQ(changes[0].link.mtu, 9000u);
  EXPECT_TRUE(changes[1].removed);
  EXPECT_EQ(changes[1].link.index, 8);

  // Of a dump, only the messages of its own request count.
  changes.clear();
  posix::ParseLinkMessages(w.Bytes(), 8, changes);
  EXPECT_TRUE(changes.empty());
}

TEST(LinkMessages, ALinkOfUnknownStateIsOperationalOnlyWhileRunning) {
  // Kernels before 2.6.17 send no IFLA_OPERSTATE and tell the carrier by
  // IFF_RUNNING alone. Today's set IFF_RUNNING on every up link whose state is
  // unknown, so no live link shows one without it: the messages are made here.
  const struct {
    unsigned flags;
    bool stateAttribute;
    std::uint32_t status;
  } kCases[] = {
      {IFF_UP | IFF_RUNNING, false, 5}, {IFF_UP, false, 2},     {IFF_UP, true, 2},
      {IFF_UP | IFF_RUNNING, true, 5},  {IFF_RUNNING, true, 0},
  };
  for (const auto& c : kCases) {
    MessageWriter w;
    ifinfomsg info = Info(3);
    info.ifi_flags = c.flags;
    w.Begin(RTM_NEWLINK, info);
    w.Text(IFLA_IFNAME, "eth0");
    const std::uint8_t unknown = IF_OPER_UNKNOWN;
    if (c.stateAttribute) w.Attr(IFLA_OPERSTATE, &unknown, sizeof unknown);
    w.End();
    std::vector<posix::LinkChange> changes;
    posix::ParseLinkMessages(w.Bytes(), 0, changes);
    ASSERT_EQ(changes.size(), 1u);
    Row row(kIfRowSize);
    posix::BuildStaticRow(row.data(), changes[0].link, {});
    EXPECT_EQ(ReadLe32(row.data() + ifrow::kOperStatus), c.status)
        << "flags " << c.flags << (c.stateAttribute ? ", IF_OPER_UNKNOWN" : ", no state");
  }
}

TEST(LinkMessages, ABrokenLengthFailsTheDatagramAndNothingIsReadPastIt) {
  MessageWriter w;
  w.Begin(RTM_NEWLINK, Info(3));
  w.Text(IFLA_IFNAME, "eth0");
  w.End();
  std::vector<std::byte> bytes = w.Raw();
  std::vector<posix::LinkChange> changes;
  // Every cut inside the message: a header that promises more than is there.
  for (std::size_t cut = sizeof(nlmsghdr); cut < bytes.size(); ++cut) {
    changes.clear();
    EXPECT_EQ(posix::ParseLinkMessages(std::span(bytes).first(cut), 0, changes),
              posix::NetlinkStatus::kFailed)
        << cut;
    EXPECT_TRUE(changes.empty());
  }
  // An attribute longer than its message ends the attributes, not the link.
  MessageWriter a;
  a.Begin(RTM_NEWLINK, Info(3));
  a.Text(IFLA_IFNAME, "eth0");
  a.Text(IFLA_IFALIAS, "uplink");
  a.End();
  std::vector<std::byte>& raw = a.Raw();
  const std::size_t aliasAt = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(ifinfomsg)) + RTA_SPACE(5);
  const unsigned short tooLong = 200;
  std::memcpy(raw.data() + aliasAt, &tooLong, sizeof tooLong);
  changes.clear();
  posix::ParseLinkMessages(a.Bytes(), 0, changes);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].link.name, "eth0");
  EXPECT_EQ(changes[0].link.alias, "");

  MessageWriter done;
  nlmsgerr error{};
  done.Begin(NLMSG_DONE, error);
  done.End();
  EXPECT_EQ(posix::ParseLinkMessages(done.Bytes(), 7, changes), posix::NetlinkStatus::kDone);
  done.Raw()[6] = static_cast<std::byte>(NLM_F_DUMP_INTR);
  EXPECT_EQ(posix::ParseLinkMessages(done.Bytes(), 7, changes), posix::NetlinkStatus::kInterrupted);
}

TEST(LinkMessages, StatsCarryTheLink64CountersAndShortOnesAreZeroExtended) {
  MessageWriter w;
  if_stats_msg header{};
  header.ifindex = 12;
  w.Begin(RTM_NEWSTATS, header);
  rtnl_link_stats64 stats{};
  stats.rx_bytes = 0x1'0000'0005ull;
  stats.tx_bytes = 77;
  stats.rx_packets = 10;
  stats.multicast = 3;
  stats.rx_nohandler = 2;
  w.Attr(IFLA_STATS_LINK_64, &stats, sizeof stats);
  w.End();
  header.ifindex = 13;
  w.Begin(RTM_NEWSTATS, header);
  w.Attr(IFLA_STATS_LINK_64, &stats, 16);  // an older kernel's shorter struct, cut here
  w.End();

  std::vector<posix::LinkCounters> counters;
  EXPECT_EQ(posix::ParseStatsMessages(w.Bytes(), 7, counters), posix::NetlinkStatus::kMore);
  ASSERT_EQ(counters.size(), 2u);
  EXPECT_EQ(counters[0].index, 12);
  EXPECT_EQ(counters[0].rxBytes, 0x1'0000'0005ull);
  EXPECT_EQ(counters[0].txBytes, 77u);
  EXPECT_EQ(counters[0].rxNoHandler, 2u);
  EXPECT_EQ(counters[1].index, 13);
  EXPECT_EQ(counters[1].rxPackets, 10u);
  EXPECT_EQ(counters[1].rxBytes, 0u);

  // In the row: low 32 bits, and unicast = packets less multicast.
  Row row(kIfRowSize);
  posix::LinkRecord link;
  link.index = 12;
  link.name = "eth0";
  posix::BuildStaticRow(row.data(), link, {});
  posix::PutRowCounters(row.data(), counters[0]);
  EXPECT_EQ(ReadLe32(row.data() + ifrow::kInOctets), 5u);
  EXPECT_EQ(ReadLe32(row.data() + ifrow::kInUcastPkts), 7u);
  EXPECT_EQ(ReadLe32(row.data() + ifrow::kInNUcastPkts), 3u);
  EXPECT_EQ(ReadLe32(row.data() + ifrow::kInUnknownProtos), 2u);
  EXPECT_EQ(NameOf(row), "eth0");
  EXPECT_EQ(ReadLe32(row.data() + ifrow::kDescrLen), 4u);
}

}  // namespace
}  // namespace quorrel
