// The interface snapshot, its collection and its records, over crafted
// MIB_IFTABLE images.
#include <gtest/gtest.h>

#include <cstring>

#include "fakes/fakes.h"
#include "fakes/if_rows.h"
#include "interfaces/c_ip_helper.h"
#include "window/bandwidth.h"
#include "window/layout.h"

namespace quorrel {
namespace {

using fakes::Adapter;
using fakes::FakeIfTable;
using fakes::IdentityCodePage;
using fakes::IfRow;
using fakes::Images;

// Windows-1252 for the bytes the tests use: each byte is one character.
class Latin1CodePage : public CodePage {
 public:
  std::string ToAnsi(const std::string& s) override { return s; }
  std::string FromAnsi(const std::string& ansi) override {
    std::string out;
    for (unsigned char c : ansi) {
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return out;
  }
};

// Hands out a fixed table image, whatever its entry count claims.
class RawIfTable : public IpHelperApi {
 public:
  std::vector<std::byte> image;
  std::uint32_t GetIfTable(std::byte* table, std::uint32_t& size, bool) override {
    if (!table || size < image.size()) {
      size = static_cast<std::uint32_t>(image.size());
      return kErrorInsufficientBuffer;
    }
    std::memcpy(table, image.data(), image.size());
    return kNoError;
  }
};

std::shared_ptr<CInterface> Entry(std::int32_t index) {
  auto entry = std::make_shared<CInterface>();
  entry->SetInterfaceIndex(index);
  return entry;
}

TEST(CInterfaceTest, NewEntryIsEmptyAndSettersStoreValuesUnchanged) {
  CInterface entry;
  EXPECT_EQ(entry.InterfaceName(), "");
  EXPECT_EQ(entry.InterfaceDescription(), "");
  EXPECT_EQ(entry.AdapterAddress(), "");
  EXPECT_EQ(entry.OctetsReceived(), 0);
  EXPECT_EQ(entry.OutputQueueLength(), 0);
  EXPECT_EQ(entry.LastChange(), 0.0);

  entry.SetOctetsSent(-5);
  entry.SetAdminStatus(7);  // no check: any value is kept
  entry.SetLastChange(45000.25);
  EXPECT_EQ(entry.OctetsSent(), -5);
  EXPECT_EQ(entry.AdminStatus(), 7);
  EXPECT_EQ(entry.LastChange(), 45000.25);
}

TEST(CInterfacesTest, AddAppendsReturnsTheEntryAndEmptiesTheCallersReference) {
  CInterfaces list;
  auto first = Entry(1);
  CInterface* raw = first.get();
  auto added = list.Add(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(added.get(), raw);
  auto second = Entry(2);
  list.Add(second);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Item(list.Count())->InterfaceIndex(), 2);
  EXPECT_EQ(list.Item(1).get(), raw);

  std::shared_ptr<CInterface> none;
  EXPECT_THROW(list.Add(none), std::invalid_argument);
  EXPECT_EQ(list.Count(), 2);
}

TEST(CInterfacesTest, PositionsOutsideOneToCountAndKeysAreIndexErrors) {
  CInterfaces list;
  EXPECT_THROW(list.Item(1), IndexError);
  for (int i = 1; i <= 3; ++i) {
    auto e = Entry(i);
    list.Add(e);
  }
  EXPECT_THROW(list.Item(0), IndexError);
  EXPECT_THROW(list.Item(4), IndexError);
  EXPECT_THROW(list.Item(-1), IndexError);
  EXPECT_THROW(list.Item("eth0"), IndexError);
  EXPECT_THROW(list.Remove(4), IndexError);
  EXPECT_THROW(list.Remove("eth0"), IndexError);
  EXPECT_EQ(list.Count(), 3);  // failed removals take nothing
  // The error reaches the caller as an out_of_range, too.
  EXPECT_THROW(list.Item(0), std::out_of_range);
}

TEST(CInterfacesTest, RemoveMovesLaterEntriesUpAndEnumerationFollowsPositions) {
  CInterfaces list;
  for (int i = 1; i <= 3; ++i) {
    auto e = Entry(i * 10);
    list.Add(e);
  }
  list.Remove(1);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Item(1)->InterfaceIndex(), 20);
  std::vector<std::int32_t> seen;
  for (const auto& entry : list) seen.push_back(entry->InterfaceIndex());
  EXPECT_EQ(seen, (std::vector<std::int32_t>{20, 30}));

  CInterfaces empty;
  EXPECT_EQ(empty.Count(), 0);
  EXPECT_EQ(empty.begin(), empty.end());
}

TEST(CInterfacesTest, DeferredEntriesAreMadeOnceWhenFirstReached) {
  CInterfaces list;
  auto first = Entry(1);
  list.Add(first);
  std::vector<std::size_t> made;
  list.AddDeferred(3, [&made](std::size_t row) {
    made.push_back(row);
    return Entry(static_cast<std::int32_t>(100 + row));
  });
  ASSERT_EQ(list.Count(), 4);
  EXPECT_TRUE(made.empty());
  EXPECT_EQ(list.Item(3)->InterfaceIndex(), 101);
  EXPECT_EQ(list.Item(3), list.Item(3));  // the same entry every time
  EXPECT_EQ(made, std::vector<std::size_t>{1});
  // Positions move up on a removal; each entry keeps its own row.
  list.Remove(2);
  EXPECT_EQ(list.Item(2)->InterfaceIndex(), 101);
  EXPECT_EQ(list.Item(3)->InterfaceIndex(), 102);
  auto late = Entry(9);
  list.Add(late);
  std::vector<std::int32_t> seen;
  for (const auto& entry : list) seen.push_back(entry->InterfaceIndex());
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 101, 102, 9}));
  EXPECT_EQ(made, (std::vector<std::size_t>{1, 2}));  // row 0 was removed unmade
  EXPECT_THROW(list.AddDeferred(1, [](std::size_t) { return Entry(0); }), std::logic_error);
}

TEST(CInterfacesTest, AnEntryOutlivesItsCollection) {
  std::shared_ptr<CInterface> kept;
  {
    auto list = std::make_shared<CInterfaces>();
    auto e = Entry(7);
    list->Add(e);
    kept = list->Item(1);
  }
  EXPECT_EQ(kept->InterfaceIndex(), 7);
}

class CIpHelperTest : public ::testing::Test {
 protected:
  FakeIfTable table;
  IdentityCodePage codePage;
  CIpHelper helper{table, codePage};
};

TEST_F(CIpHelperTest, TotalsAreZeroBeforeTheFirstRead) {
  table.rows = Images({Adapter("eth0", 1, 100, 200)});
  EXPECT_EQ(helper.BytesReceived(), 0.0);
  EXPECT_EQ(helper.BytesSent(), 0.0);
  EXPECT_EQ(table.calls, 0);
}

TEST_F(CIpHelperTest, EveryFieldComesFromItsOffset) {
  IfRow row;
  row.name = u"\\DEVICE\\TCPIP_{1}";
  row.index = 11;
  row.type = 71;
  row.mtu = 1480;
  row.speed = 54000000;
  row.physAddr = {0x00, 0x0C, 0x29, 0xA5, 0x0B, 0x01};
  row.adminStatus = 1;
  row.operStatus = 4;
  row.lastChange = 8640000 + 4320000;  // a day and a half in hundredths of a second
  row.inOctets = 1001;
  row.inUcastPkts = 1002;
  row.inNUcastPkts = 1003;
  row.inDiscards = 1004;
  row.inErrors = 1005;
  row.inUnknownProtos = 1006;
  row.outOctets = 2001;
  row.outUcastPkts = 2002;
  row.outNUcastPkts = 2003;
  row.outDiscards = 2004;
  row.outErrors = 2005;
  row.outQLen = 2006;
  row.descr = "Wireless adapter";
  table.rows = Images({row});

  auto list = helper.Interfaces();
  ASSERT_EQ(list->Count(), 1);
  const CInterface& e = *list->Item(1);
  EXPECT_EQ(e.InterfaceName(), "\\DEVICE\\TCPIP_{1}");
  EXPECT_EQ(e.InterfaceIndex(), 11);
  EXPECT_EQ(e.InterfaceType(), 71);
  EXPECT_EQ(e.MaximumTransmissionUnit(), 1480);
  EXPECT_EQ(e.Speed(), 54000000);
  EXPECT_EQ(e.AdapterAddress(), "00-C-29-A5-B-1");
  EXPECT_EQ(e.AdminStatus(), 1);
  EXPECT_EQ(e.OperationalStatus(), 4);
  EXPECT_DOUBLE_EQ(e.LastChange(), 1.5);
  EXPECT_EQ(e.OctetsReceived(), 1001);
  EXPECT_EQ(e.UnicastPacketsReceived(), 1002);
  EXPECT_EQ(e.NonunicastPacketsReceived(), 1003);
  EXPECT_EQ(e.DiscardedIncomingPackets(), 1004);
  EXPECT_EQ(e.IncomingErrors(), 1005);
  EXPECT_EQ(e.UnknownProtocolPackets(), 1006);
  EXPECT_EQ(e.OctetsSent(), 2001);
  EXPECT_EQ(e.UnicastPacketsSent(), 2002);
  EXPECT_EQ(e.NonunicastPacketsSent(), 2003);
  EXPECT_EQ(e.DiscardedOutgoingPackets(), 2004);
  EXPECT_EQ(e.OutgoingErrors(), 2005);
  EXPECT_EQ(e.OutputQueueLength(), 2006);
  EXPECT_EQ(e.InterfaceDescription(), "Wireless adapter");
}

TEST_F(CIpHelperTest, RowBitsAreKeptSoHighCountersReadNegative) {
  IfRow row = Adapter("eth0", 0xFFFFFFFF, 0x80000000u, 0xFFFFFFFFu);
  row.speed = 0xFFFFFFFF;
  table.rows = Images({row});
  const CInterface& e = *helper.Interfaces()->Item(1);
  EXPECT_EQ(e.OctetsReceived(), INT32_MIN);
  EXPECT_EQ(e.OctetsSent(), -1);
  EXPECT_EQ(e.Speed(), -1);
  EXPECT_EQ(e.InterfaceIndex(), -1);
}

TEST_F(CIpHelperTest, AdapterAddressRendering) {
  auto addressOf = [&](std::vector<std::uint8_t> bytes, std::optional<std::uint32_t> length) {
    IfRow row = Adapter("x", 1);
    row.physAddr = std::move(bytes);
    row.physAddrLen = length;
    table.rows = Images({row});
    return helper.Interfaces()->Item(1)->AdapterAddress();
  };
  EXPECT_EQ(addressOf({0x00, 0x0C, 0x29, 0xA5, 0x0B, 0x01}, 6), "00-C-29-A5-B-1");
  EXPECT_EQ(addressOf({0x00, 0x0C, 0x29, 0xA5, 0x0B, 0x01}, 0), "");
  EXPECT_EQ(addressOf({0xFF, 0x10, 0x0F}, 3), "FF-10-F");
  EXPECT_EQ(addressOf({0x12, 0x34, 0x56, 0x78}, 2), "12-34");
  // A length past the 8-byte field reads only the field.
  EXPECT_EQ(addressOf({1, 2, 3, 4, 5, 6, 7, 8}, 4000), "1-2-3-4-5-6-7-8");
}

TEST_F(CIpHelperTest, DescriptionKeepsTheCountedCharactersOfAllConvertedBytes) {
  auto descriptionOf = [&](const std::string& bytes, std::uint32_t length) {
    IfRow row = Adapter("x", 1);
    row.descr = bytes;
    row.descrLen = length;
    table.rows = Images({row});
    return helper.Interfaces()->Item(1)->InterfaceDescription();
  };
  EXPECT_EQ(descriptionOf("Ethernet adapter", 4), "Ethe");
  EXPECT_EQ(descriptionOf("Ethernet adapter", 0), "");
  // 300 is past the field: the whole 256 bytes, padding NULs included.
  std::string all = descriptionOf("Ethernet adapter", 300);
  ASSERT_EQ(all.size(), 256u);
  EXPECT_EQ(all.substr(0, 16), "Ethernet adapter");
  EXPECT_EQ(all.find_first_not_of('\0', 16), std::string::npos);
  // A terminating NUL that the length counts stays in the text.
  EXPECT_EQ(descriptionOf("eth0", 5), std::string("eth0\0", 5));
  // A 256-byte description with no NUL at all.
  EXPECT_EQ(descriptionOf(std::string(256, 'a'), 256), std::string(256, 'a'));
}

TEST(CIpHelperCodePageTest, DescriptionIsConvertedBeforeItsCharactersAreCounted) {
  FakeIfTable table;
  Latin1CodePage latin1;
  CIpHelper helper(table, latin1);
  IfRow row = Adapter("x", 1);
  row.descr = "Caf\xE9 r\xE9seau";
  row.descrLen = 4;
  table.rows = Images({row});
  EXPECT_EQ(helper.Interfaces()->Item(1)->InterfaceDescription(), "Caf\xC3\xA9");
}

TEST_F(CIpHelperTest, NameRunsToTheFirstNulOrAllOfItsUnits) {
  IfRow row = Adapter("x", 1);
  row.name = u"Ethernet\u00A0\u00E9";
  row.name += u'\0';
  row.name += u"hidden";
  IfRow full = Adapter("y", 2);
  full.name = std::u16string(256, u'n');
  table.rows = Images({row, full});
  auto list = helper.Interfaces();
  EXPECT_EQ(list->Item(1)->InterfaceName(), "Ethernet\xC2\xA0\xC3\xA9");
  EXPECT_EQ(list->Item(2)->InterfaceName(), std::string(256, 'n'));
}

TEST_F(CIpHelperTest, NoTableOrAFailingFillGivesAnEmptyCollectionAndZeroTotals) {
  table.rows = Images({Adapter("eth0", 1, 100, 200)});
  helper.Interfaces();
  ASSERT_EQ(helper.BytesReceived(), 100.0);

  table.sizeAnswer = kErrorNotSupported;
  EXPECT_EQ(helper.Interfaces()->Count(), 0);
  EXPECT_EQ(helper.BytesReceived(), 0.0);
  EXPECT_EQ(helper.BytesSent(), 0.0);

  table.sizeAnswer = kErrorInsufficientBuffer;
  table.fillAnswer = kErrorInvalidParameter;
  EXPECT_EQ(helper.Interfaces()->Count(), 0);
  EXPECT_EQ(helper.BytesReceived(), 0.0);

  table.fillAnswer = kNoError;
  table.rows.clear();
  EXPECT_EQ(helper.Interfaces()->Count(), 0);
  EXPECT_EQ(helper.BytesSent(), 0.0);
}

TEST_F(CIpHelperTest, OneEntryPerRowInTableOrder) {
  table.rows = Images({Adapter("a", 5), Adapter("b", 2), Adapter("c", 9)});
  auto list = helper.Interfaces();
  ASSERT_EQ(list->Count(), 3);
  EXPECT_EQ(list->Item(1)->InterfaceDescription(), "a");
  EXPECT_EQ(list->Item(2)->InterfaceIndex(), 2);
  EXPECT_EQ(list->Item(3)->InterfaceDescription(), "c");
  EXPECT_EQ(table.calls, 2);  // the size query, then the fill
}

// Counts the rows made into entries: each converts its description once.
class CountingCodePage : public IdentityCodePage {
 public:
  int conversions = 0;
  std::string FromAnsi(const std::string& s) override {
    ++conversions;
    return s;
  }
};

TEST(CIpHelperCostTest, ASnapshotReadForOneEntryMakesOneEntry) {
  FakeIfTable table;
  CountingCodePage codePage;
  CIpHelper helper{table, codePage};
  std::vector<IfRow> rows;
  for (int i = 1; i <= 200; ++i) rows.push_back(Adapter("veth" + std::to_string(i), i, i * 10));
  table.rows = Images(rows);
  auto snapshot = helper.Interfaces();
  EXPECT_EQ(snapshot->Count(), 200);
  EXPECT_EQ(codePage.conversions, 0);
  EXPECT_EQ(helper.BytesReceived(), 10.0 * 200 * 201 / 2);  // the totals cover every row at once
  EXPECT_EQ(snapshot->Item(150)->InterfaceDescription(), "veth150");
  EXPECT_EQ(snapshot->Item(150)->OctetsReceived(), 1500);
  EXPECT_EQ(codePage.conversions, 1);
  // The snapshot keeps its own rows: a later table does not reach it.
  table.rows = Images({Adapter("other", 1)});
  EXPECT_EQ(snapshot->Item(7)->InterfaceDescription(), "veth7");
  // The adapter list at load: n + 1 snapshots, n entries made in all.
  codePage.conversions = 0;
  table.rows = Images(rows);
  ComboBox list(LayoutOf("cboConnections"));
  int appends = 0;
  list.SetObserver([&appends](Control&, Property p) { appends += p == Property::kItemAdded; });
  fakes::FakeClock clock;
  BandwidthSampler sampler(clock, codePage);
  sampler.Setup(table, list);
  EXPECT_EQ(list.Items().size(), 200u);
  EXPECT_EQ(appends, 200);
  EXPECT_EQ(codePage.conversions, 200);
}

TEST_F(CIpHelperTest, TwoReadsGiveIndependentCollections) {
  table.rows = Images({Adapter("a", 1, 10), Adapter("b", 2, 20)});
  auto first = helper.Interfaces();
  table.rows = Images({Adapter("c", 3, 30)});
  auto second = helper.Interfaces();
  EXPECT_NE(first, second);
  ASSERT_EQ(first->Count(), 2);
  EXPECT_EQ(first->Item(2)->OctetsReceived(), 20);
  ASSERT_EQ(second->Count(), 1);
  EXPECT_EQ(second->Item(1)->InterfaceDescription(), "c");
  EXPECT_EQ(helper.BytesReceived(), 30.0);  // the totals follow the latest read

  auto mine = std::make_shared<CInterfaces>();
  helper.SetInterfaces(mine);
  EXPECT_NE(helper.Interfaces(), mine);  // the next read replaces what was set
}

TEST_F(CIpHelperTest, TotalsSumEveryRowDownAndLoopbackIncludedWithoutWrapping) {
  IfRow down = Adapter("down", 1, 0xFFFFFFFF, 7);
  down.adminStatus = 2;
  down.operStatus = 0;
  IfRow loopback = Adapter("lo", 2, 0xFFFFFFFF, 0x80000000u);
  loopback.type = 24;
  table.rows = Images({down, loopback, Adapter("eth0", 3, 2, 3)});
  helper.Interfaces();
  EXPECT_EQ(helper.BytesReceived(), 2.0 * 0xFFFFFFFF + 2);
  EXPECT_EQ(helper.BytesSent(), 7.0 + 0x80000000u + 3);
}

TEST(CIpHelperBoundsTest, ACountPastTheBufferReadsOnlyTheRowsThatFit) {
  RawIfTable table;
  IdentityCodePage codePage;
  CIpHelper helper(table, codePage);
  const auto row = Adapter("only", 4, 40, 50).Bytes();
  table.image.assign(kIfTableHeaderSize, std::byte{0});
  table.image[0] = std::byte{200};  // claims 200 rows
  table.image.insert(table.image.end(), row.begin(), row.end());
  table.image.resize(table.image.size() + kIfRowSize / 2, std::byte{0x5A});  // half a row more
  auto list = helper.Interfaces();
  ASSERT_EQ(list->Count(), 1);
  EXPECT_EQ(list->Item(1)->InterfaceDescription(), "only");
  EXPECT_EQ(helper.BytesReceived(), 40.0);

  table.image.assign(2, std::byte{0xFF});  // not even a whole count
  EXPECT_EQ(helper.Interfaces()->Count(), 0);
}

TEST(FirstCharactersTest, CountsUtf16UnitsAndNeverSplitsACharacter) {
  EXPECT_EQ(FirstCharacters("abc", 2), "ab");
  EXPECT_EQ(FirstCharacters("abc", 9), "abc");
  EXPECT_EQ(FirstCharacters("\xC3\xA9t\xC3\xA9", 2), "\xC3\xA9t");
  // U+1F600 takes two units: one unit is not enough for it.
  EXPECT_EQ(FirstCharacters("a\xF0\x9F\x98\x80", 2), "a");
  EXPECT_EQ(FirstCharacters("a\xF0\x9F\x98\x80", 3), "a\xF0\x9F\x98\x80");
  // A sequence cut short by the end of the text ends the text.
  EXPECT_EQ(FirstCharacters("a\xE2\x82", 5), "a\xE2\x82");
}

}  // namespace
}  // namespace quorrel
