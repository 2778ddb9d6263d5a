// The Win32 services against the real system calls (under Wine here). ICMP
// goes to the loopback only.
#include <gtest/gtest.h>
#include <windows.h>
// <windows.h> first: the IP Helper header builds on its types.
#include <iphlpapi.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "fakes/fakes.h"
#include "interfaces/c_ip_helper.h"
#include "ping/mod_ping.h"
#include "platform/win32/services/notify_icon.h"
#include "platform/win32/services/wide_text.h"
#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {
namespace {

constexpr std::uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network order

// --- Windows Sockets -------------------------------------------------------

TEST(Wsock32Test, StartsAndCleansUpVersionOneOne) {
  Wsock32 winsock;
  ASSERT_EQ(winsock.WSAStartup(0x0101), 0);
  EXPECT_EQ(winsock.WSACleanup(), 0);
  // A clean-up without a start-up is the error the probe reports.
  EXPECT_NE(winsock.WSACleanup(), 0);
}

TEST(Wsock32Test, ParsesDottedAddressesInNetworkOrder) {
  Wsock32 winsock;
  ASSERT_EQ(winsock.WSAStartup(0x0101), 0);
  EXPECT_EQ(winsock.inet_addr("127.0.0.1"), kLoopback);
  std::uint32_t address = winsock.inet_addr("192.168.25.7");
  unsigned char bytes[4];
  std::memcpy(bytes, &address, 4);
  EXPECT_EQ(bytes[0], 192);
  EXPECT_EQ(bytes[1], 168);
  EXPECT_EQ(bytes[2], 25);
  EXPECT_EQ(bytes[3], 7);
  EXPECT_EQ(winsock.inet_addr("abc"), kInaddrNone);
  EXPECT_EQ(winsock.inet_addr("router.local"), kInaddrNone);
  EXPECT_EQ(winsock.inet_addr("1.2.3.4.5"), kInaddrNone);
  // All ones is a valid text but the same value as the rejection.
  EXPECT_EQ(winsock.inet_addr("255.255.255.255"), kInaddrNone);
  EXPECT_EQ(winsock.inet_addr(nullptr), kInaddrNone);
  EXPECT_EQ(winsock.WSACleanup(), 0);
}

// --- ICMP -----------------------------------------------------------------

TEST(IcmpDllTest, EchoToLoopbackComesBack) {
  IcmpDll icmp;
  IcmpHandle handle = icmp.IcmpCreateFile();
  ASSERT_NE(handle, nullptr);
  ReplyBuffer reply{};
  std::uint32_t replies = icmp.IcmpSendEcho(handle, kLoopback, "Test", 4, nullptr, reply.data(),
                                            kReplyBufferSize, kEchoTimeoutMs);
  EXPECT_GE(replies, 1u);
  std::uint32_t address = 0;
  std::uint32_t status = 1;
  std::memcpy(&address, reply.data(), 4);
  std::memcpy(&status, reply.data() + kEchoReplyStatusOffset, 4);
  EXPECT_EQ(status, kIpSuccess);
  EXPECT_EQ(address, kLoopback);
  // The echoed data comes back where the platform's record points at it.
  const auto* record = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply.data());
  ASSERT_EQ(record->DataSize, 4);
  EXPECT_EQ(std::memcmp(record->Data, "Test", 4), 0);
  EXPECT_TRUE(icmp.IcmpCloseHandle(handle));
}

TEST(IcmpDllTest, NoReplyLeavesItsReasonInStatus) {
  IcmpDll icmp;
  IcmpHandle handle = icmp.IcmpCreateFile();
  ASSERT_NE(handle, nullptr);
  // Room for the status but not for a whole reply record.
  std::uint32_t tooSmall[3] = {};
  EXPECT_EQ(icmp.IcmpSendEcho(handle, kLoopback, "Test", 4, nullptr, tooSmall, sizeof tooSmall,
                              kEchoTimeoutMs),
            0u);
  EXPECT_NE(tooSmall[1], kIpSuccess);
  EXPECT_TRUE(icmp.IcmpCloseHandle(handle));
}

TEST(IcmpDllTest, NullHandleIsRefusedWithoutACall) {
  IcmpDll icmp;
  ReplyBuffer reply{};
  EXPECT_EQ(icmp.IcmpSendEcho(nullptr, kLoopback, "Test", 4, nullptr, reply.data(),
                              kReplyBufferSize, kEchoTimeoutMs),
            0u);
  EXPECT_FALSE(icmp.IcmpCloseHandle(nullptr));
}

class ModPingOnWin32Test : public ::testing::Test {
 protected:
  Wsock32 winsock;
  IcmpDll icmp;
  AnsiCodePage codePage;
  fakes::FakeToolkit toolkit;
  ModPing ping{winsock, icmp, toolkit, codePage};
};

TEST_F(ModPingOnWin32Test, LoopbackPasses) {
  EXPECT_TRUE(ping.PingHost("127.0.0.1"));
  EXPECT_TRUE(ping.PingHost("127.0.0.1"));
  EXPECT_TRUE(toolkit.messageBoxes.empty());
}

TEST_F(ModPingOnWin32Test, MalformedAddressesFailWithoutAMessage) {
  EXPECT_FALSE(ping.PingHost("abc"));
  EXPECT_FALSE(ping.PingHost("255.255.255.255"));
  EXPECT_TRUE(toolkit.messageBoxes.empty());
  ASSERT_TRUE(ping.SocketsStartup());
  ReplyBuffer reply{};
  EXPECT_EQ(ping.SendEcho("abc", kEchoData, reply), -1);
  ping.SocketsCleanup();
  EXPECT_TRUE(toolkit.messageBoxes.empty());
}

// --- IP Helper -------------------------------------------------------------

// Serves one recorded table image, so the parser and the native records are
// compared on the very same bytes while the real counters move on.
class RecordedIfTable : public IpHelperApi {
 public:
  explicit RecordedIfTable(std::vector<std::byte> image) : image_(std::move(image)) {}
  std::uint32_t GetIfTable(std::byte* table, std::uint32_t& size, bool) override {
    auto needed = static_cast<std::uint32_t>(image_.size());
    if (table == nullptr || size < needed) {
      size = needed;
      return kErrorInsufficientBuffer;
    }
    std::memcpy(table, image_.data(), image_.size());
    return kNoError;
  }

 private:
  std::vector<std::byte> image_;
};

std::vector<std::byte> TakeIfTable(IpHelper& ipHelper) {
  std::uint32_t size = 0;
  EXPECT_EQ(ipHelper.GetIfTable(nullptr, size, false), kErrorInsufficientBuffer);
  EXPECT_GE(size, kIfTableHeaderSize + kIfRowSize);
  // Some rows may appear between the two calls; a little room keeps them out
  // of the way without hiding a wrong size answer.
  std::vector<std::byte> table(size + 4 * kIfRowSize);
  std::uint32_t filled = static_cast<std::uint32_t>(table.size());
  EXPECT_EQ(ipHelper.GetIfTable(table.data(), filled, false), kNoError);
  return table;
}

std::string ExpectedAddress(const MIB_IFROW& row) {
  std::string text;
  for (DWORD i = 0; i < row.dwPhysAddrLen && i < MAXLEN_PHYSADDR; ++i) {
    char piece[4];
    std::snprintf(piece, sizeof piece, row.bPhysAddr[i] == 0 ? "00" : "%X", row.bPhysAddr[i]);
    text += (i == 0 ? "" : "-") + std::string(piece);
  }
  return text;
}

TEST(IpHelperTest, TableReadsBackFieldForFieldThroughTheParser) {
  IpHelper ipHelper;
  AnsiCodePage codePage;
  std::vector<std::byte> image = TakeIfTable(ipHelper);
  const auto* native = reinterpret_cast<const MIB_IFTABLE*>(image.data());
  ASSERT_GT(native->dwNumEntries, 0u);
  ASSERT_LE(kIfTableHeaderSize + native->dwNumEntries * kIfRowSize, image.size());

  RecordedIfTable recorded(image);
  CIpHelper helper(recorded, codePage);
  std::shared_ptr<CInterfaces> entries = helper.Interfaces();
  ASSERT_EQ(entries->Count(), static_cast<std::int32_t>(native->dwNumEntries));

  bool loopbackSeen = false;
  double received = 0;
  double sent = 0;
  for (DWORD i = 0; i < native->dwNumEntries; ++i) {
    const MIB_IFROW& row = native->table[i];
    SCOPED_TRACE("row " + std::to_string(i + 1));
    std::shared_ptr<CInterface> entry = entries->Item(static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(entry->InterfaceName(), Utf8FromWide(row.wszName));
    EXPECT_EQ(entry->InterfaceIndex(), static_cast<std::int32_t>(row.dwIndex));
    EXPECT_EQ(entry->InterfaceType(), static_cast<std::int32_t>(row.dwType));
    EXPECT_EQ(entry->MaximumTransmissionUnit(), static_cast<std::int32_t>(row.dwMtu));
    EXPECT_EQ(entry->Speed(), static_cast<std::int32_t>(row.dwSpeed));
    EXPECT_EQ(entry->AdapterAddress(), ExpectedAddress(row));
    EXPECT_EQ(entry->AdminStatus(), static_cast<std::int32_t>(row.dwAdminStatus));
    EXPECT_EQ(entry->OperationalStatus(), static_cast<std::int32_t>(row.dwOperStatus));
    EXPECT_EQ(entry->OctetsReceived(), static_cast<std::int32_t>(row.dwInOctets));
    EXPECT_EQ(entry->UnicastPacketsReceived(), static_cast<std::int32_t>(row.dwInUcastPkts));
    EXPECT_EQ(entry->NonunicastPacketsReceived(), static_cast<std::int32_t>(row.dwInNUcastPkts));
    EXPECT_EQ(entry->DiscardedIncomingPackets(), static_cast<std::int32_t>(row.dwInDiscards));
    EXPECT_EQ(entry->IncomingErrors(), static_cast<std::int32_t>(row.dwInErrors));
    EXPECT_EQ(entry->UnknownProtocolPackets(), static_cast<std::int32_t>(row.dwInUnknownProtos));
    EXPECT_EQ(entry->OctetsSent(), static_cast<std::int32_t>(row.dwOutOctets));
    EXPECT_EQ(entry->UnicastPacketsSent(), static_cast<std::int32_t>(row.dwOutUcastPkts));
    EXPECT_EQ(entry->NonunicastPacketsSent(), static_cast<std::int32_t>(row.dwOutNUcastPkts));
    EXPECT_EQ(entry->DiscardedOutgoingPackets(), static_cast<std::int32_t>(row.dwOutDiscards));
    EXPECT_EQ(entry->OutgoingErrors(), static_cast<std::int32_t>(row.dwOutErrors));
    EXPECT_EQ(entry->OutputQueueLength(), static_cast<std::int32_t>(row.dwOutQLen));
    std::size_t descrLength = row.dwDescrLen < MAXLEN_IFDESCR ? row.dwDescrLen : MAXLEN_IFDESCR;
    std::string description(reinterpret_cast<const char*>(row.bDescr), descrLength);
    EXPECT_EQ(entry->InterfaceDescription(), codePage.FromAnsi(description));
    EXPECT_FALSE(entry->InterfaceDescription().empty());
    if (row.dwType == IF_TYPE_SOFTWARE_LOOPBACK) loopbackSeen = true;
    received += row.dwInOctets;
    sent += row.dwOutOctets;
  }
  EXPECT_TRUE(loopbackSeen);
  EXPECT_EQ(helper.BytesReceived(), received);
  EXPECT_EQ(helper.BytesSent(), sent);
}

TEST(IpHelperTest, LiveSnapshotsKeepTheirRowsAndCountersOnlyGrow) {
  IpHelper ipHelper;
  AnsiCodePage codePage;
  CIpHelper helper(ipHelper, codePage);
  std::shared_ptr<CInterfaces> first = helper.Interfaces();
  ASSERT_GT(first->Count(), 0);
  // Loopback traffic in between must show in the loopback's counters.
  Wsock32 winsock;
  IcmpDll icmp;
  fakes::FakeToolkit toolkit;
  ModPing ping(winsock, icmp, toolkit, codePage);
  ASSERT_TRUE(ping.PingHost("127.0.0.1"));
  std::shared_ptr<CInterfaces> second = helper.Interfaces();
  ASSERT_EQ(second->Count(), first->Count());
  for (std::int32_t i = 1; i <= first->Count(); ++i) {
    EXPECT_EQ(second->Item(i)->InterfaceIndex(), first->Item(i)->InterfaceIndex());
    EXPECT_EQ(second->Item(i)->InterfaceName(), first->Item(i)->InterfaceName());
    if (first->Item(i)->InterfaceType() == IF_TYPE_SOFTWARE_LOOPBACK) {
      auto before = static_cast<std::uint32_t>(first->Item(i)->OctetsReceived());
      auto after = static_cast<std::uint32_t>(second->Item(i)->OctetsReceived());
      EXPECT_GT(static_cast<std::uint32_t>(after - before), 0u);
    }
  }
}

TEST(IpHelperTest, TooSmallBufferOnlyReportsTheSize) {
  IpHelper ipHelper;
  std::vector<std::byte> table(kIfTableHeaderSize, std::byte{0x5A});
  std::uint32_t size = static_cast<std::uint32_t>(table.size());
  EXPECT_EQ(ipHelper.GetIfTable(table.data(), size, false), kErrorInsufficientBuffer);
  EXPECT_GE(size, kIfTableHeaderSize + kIfRowSize);
}

// --- Shell ----------------------------------------------------------------

TEST(ShellNotifyTest, RecordBecomesTheFirstFormOfThisWidth) {
  static_assert(sizeof(NotifyIconDataA) == 88);
#ifndef _WIN64
  static_assert(NOTIFYICONDATAA_V1_SIZE == 88);
#endif
  NotifyIconDataA data;
  data.cbSize = 88;
  data.hWnd = 0x000A01C2;
  data.uID = 1;
  data.uFlags = kNifMessage | kNifIcon | kNifTip;
  data.uCallbackMessage = 0x200;
  data.hIcon = 0x80050F3E;  // high bit set: widened by sign on x86_64
  std::strcpy(data.szTip, "Quorrel - ON");
  NOTIFYICONDATAA native = ToNotifyIconDataA(data);
  EXPECT_EQ(native.cbSize, NOTIFYICONDATAA_V1_SIZE);
  EXPECT_EQ(HandleToLong(native.hWnd), 0x000A01C2);
  EXPECT_EQ(static_cast<std::uint32_t>(HandleToLong(native.hIcon)), 0x80050F3Eu);
  EXPECT_EQ(native.hIcon, LongToHandle(static_cast<LONG>(0x80050F3Eu)));
  EXPECT_EQ(native.uID, 1u);
  EXPECT_EQ(native.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(native.uCallbackMessage, static_cast<UINT>(WM_MOUSEMOVE));
  EXPECT_STREQ(native.szTip, "Quorrel - ON");
}

TEST(ShellNotifyTest, TipFilledToTheLastByteStillEnds) {
  NotifyIconDataA data;
  std::memset(data.szTip, 'x', sizeof data.szTip);
  NOTIFYICONDATAA native = ToNotifyIconDataA(data);
  EXPECT_EQ(std::strlen(native.szTip), 63u);
}

TEST(ShellNotifyTest, RealWindowHandleSurvivesTheRoundTrip) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  NotifyIconDataA data;
  data.hWnd = static_cast<std::uint32_t>(HandleToUlong(window));
  EXPECT_EQ(ToNotifyIconDataA(data).hWnd, window);
  DestroyWindow(window);
}

// --- Code page and clock ---------------------------------------------------

TEST(AnsiCodePageTest, RoundTripsThroughTheSystemCodePage) {
  AnsiCodePage codePage;
  const std::string ascii = "Options Fix path C:\\fix.bat 192.168.25.0 !~";
  EXPECT_EQ(codePage.ToAnsi(ascii), ascii);
  EXPECT_EQ(codePage.FromAnsi(ascii), ascii);
  EXPECT_EQ(codePage.ToAnsi(""), "");
  EXPECT_EQ(codePage.FromAnsi(""), "");
  // Every character the code page holds comes back unchanged.
  const std::string accented =
      "Caf\xC3\xA9 \xC3\x9C"
      "ber";  // "Café Über"
  std::string ansi = codePage.ToAnsi(accented);
  if (GetACP() == 1252) {
    EXPECT_EQ(ansi,
              "Caf\xE9 \xDC"
              "ber");
  }
  EXPECT_EQ(codePage.FromAnsi(ansi), accented);
  // Embedded NULs are text like any other (bDescr counts them).
  EXPECT_EQ(codePage.FromAnsi(std::string("ab\0c", 4)), std::string("ab\0c", 4));
}

TEST(AnsiCodePageTest, MissingCharactersAndBrokenInputStaySafe) {
  AnsiCodePage codePage;
  if (GetACP() != CP_UTF8) {
    // A snowman is in no single-byte code page: the default character stands in.
    EXPECT_EQ(codePage.ToAnsi("a\xE2\x98\x83z"), "a?z");
  }
  // A UTF-8 sequence cut short reaches the system mended, not read past.
  std::string cut = codePage.ToAnsi("ab\xC3");
  EXPECT_EQ(cut.substr(0, 2), "ab");
}

TEST(Win32ClockTest, SeparatorsAreBareTexts) {
  Win32Clock clock;
  // The call counts the terminating NUL; none of it may reach the log line.
  for (const std::string& separator :
       {clock.DateSeparator(), clock.TimeSeparator(), clock.ThousandsSeparator()}) {
    EXPECT_EQ(separator.find('\0'), std::string::npos);
    EXPECT_EQ(separator.find_first_of("0123456789dMyHhmst"), std::string::npos) << separator;
    EXPECT_LE(separator.size(), 12u);
  }
  EXPECT_FALSE(clock.DateSeparator().empty());
  EXPECT_FALSE(clock.TimeSeparator().empty());
}

// The user's own setting of one locale value, put back when the test ends.
class LocaleValueOverride {
 public:
  LocaleValueOverride(LCTYPE type, const wchar_t* value) : type_(type) {
    wchar_t old[16] = {};
    saved_ = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, old, 16) > 0;
    old_ = old;
    set_ = SetLocaleInfoW(LOCALE_USER_DEFAULT, type, value) != 0;
  }
  ~LocaleValueOverride() {
    if (saved_) SetLocaleInfoW(LOCALE_USER_DEFAULT, type_, old_.c_str());
  }
  bool Set() const { return set_; }

 private:
  LCTYPE type_;
  std::wstring old_;
  bool saved_ = false;
  bool set_ = false;
};

// A locale may put a word where the separator stands, as Japanese formats
// do with 年 and 時; the time stamp keeps "/" and ":" then, and a real
// separator of the user's choice otherwise.
TEST(Win32ClockTest, SeparatorsAreTheLocalesOnlyWhereTheyAreSeparators) {
  Win32Clock clock;
  struct Case {
    LCTYPE type;
    const wchar_t* value;
    const char* expected;
  };
  const Case cases[] = {
      {LOCALE_SDATE, L".", "."},  {LOCALE_SDATE, L"-", "-"},  {LOCALE_SDATE, L"年", "/"},
      {LOCALE_SDATE, L"d", "/"},  {LOCALE_SDATE, L"//", "/"}, {LOCALE_STIME, L".", "."},
      {LOCALE_STIME, L"時", ":"}, {LOCALE_STIME, L"h", ":"},  {LOCALE_STIME, L"7", ":"},
  };
  for (const Case& c : cases) {
    LocaleValueOverride override(c.type, c.value);
    if (!override.Set()) GTEST_SKIP() << "this system does not let the locale be changed";
    const std::string separator =
        c.type == LOCALE_SDATE ? clock.DateSeparator() : clock.TimeSeparator();
    EXPECT_EQ(separator, c.expected) << Utf8FromWide(c.value);
  }
}

TEST(Win32ClockTest, NowIsTodaysLocalTime) {
  Win32Clock clock;
  LocalTime now = clock.Now();
  std::time_t t = std::time(nullptr);
  std::tm local = *std::localtime(&t);
  // Read again if midnight passed between the two readings.
  if (now.day != local.tm_mday) {
    now = clock.Now();
    t = std::time(nullptr);
    local = *std::localtime(&t);
  }
  EXPECT_EQ(now.year, local.tm_year + 1900);
  EXPECT_EQ(now.month, local.tm_mon + 1);
  EXPECT_EQ(now.day, local.tm_mday);
  EXPECT_GE(now.hour, 0);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 59);
}

TEST(SystemErrorTextTest, IsOneLineWithItsCode) {
  std::string text = SystemErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_NE(text.find("(2)"), std::string::npos);
  EXPECT_GT(text.size(), 4u);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace quorrel::win32
