#pragma once
// MIB_IFROW images for FakeIfTable, written field by field at the record's
// own offsets, independently of the parser under test.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "platform/iphlpapi.h"

namespace quorrel::fakes {

struct IfRow {
  std::u16string name;  // wszName, NUL-padded to 256 units
  std::uint32_t index = 0;
  std::uint32_t type = 6;
  std::uint32_t mtu = 1500;
  std::uint32_t speed = 0;
  std::vector<std::uint8_t> physAddr;        // up to 8 bytes
  std::optional<std::uint32_t> physAddrLen;  // default: physAddr.size()
  std::uint32_t adminStatus = 1;
  std::uint32_t operStatus = 5;
  std::uint32_t lastChange = 0;
  std::uint32_t inOctets = 0;
  std::uint32_t inUcastPkts = 0;
  std::uint32_t inNUcastPkts = 0;
  std::uint32_t inDiscards = 0;
  std::uint32_t inErrors = 0;
  std::uint32_t inUnknownProtos = 0;
  std::uint32_t outOctets = 0;
  std::uint32_t outUcastPkts = 0;
  std::uint32_t outNUcastPkts = 0;
  std::uint32_t outDiscards = 0;
  std::uint32_t outErrors = 0;
  std::uint32_t outQLen = 0;
  std::string descr;                      // bDescr bytes, NUL-padded to 256
  std::optional<std::uint32_t> descrLen;  // default: descr.size()

  std::vector<std::byte> Bytes() const {
    std::vector<std::byte> row(kIfRowSize);
    auto put = [&](std::size_t offset, std::uint32_t v) { WriteLe32(row.data() + offset, v); };
    for (std::size_t i = 0; i < name.size() && i < 256; ++i) WriteLe16(row.data() + 2 * i, name[i]);
    put(512, index);
    put(516, type);
    put(520, mtu);
    put(524, speed);
    put(528, physAddrLen.value_or(static_cast<std::uint32_t>(physAddr.size())));
    for (std::size_t i = 0; i < physAddr.size() && i < 8; ++i)
      row[532 + i] = static_cast<std::byte>(physAddr[i]);
    put(540, adminStatus);
    put(544, operStatus);
    put(548, lastChange);
    put(552, inOctets);
    put(556, inUcastPkts);
    put(560, inNUcastPkts);
    put(564, inDiscards);
    put(568, inErrors);
    put(572, inUnknownProtos);
    put(576, outOctets);
    put(580, outUcastPkts);
    put(584, outNUcastPkts);
    put(588, outDiscards);
    put(592, outErrors);
    put(596, outQLen);
    put(600, descrLen.value_or(static_cast<std::uint32_t>(descr.size())));
    std::memcpy(row.data() + 604, descr.data(), descr.size() < 256 ? descr.size() : 256);
    return row;
  }
};

// A row named and described `descr`, with the given index and octet counters.
inline IfRow Adapter(const std::string& descr, std::uint32_t index, std::uint32_t inOctets = 0,
                     std::uint32_t outOctets = 0) {
  IfRow row;
  row.name = std::u16string(descr.begin(), descr.end());
  row.descr = descr;
  row.index = index;
  row.inOctets = inOctets;
  row.outOctets = outOctets;
  return row;
}

// Rows as FakeIfTable holds them.
inline std::vector<std::vector<std::byte>> Images(const std::vector<IfRow>& rows) {
  std::vector<std::vector<std::byte>> images;
  for (const IfRow& row : rows) images.push_back(row.Bytes());
  return images;
}

}  // namespace quorrel::fakes
